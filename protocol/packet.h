// SPDX-License-Identifier: MIT
// Building and reading TFTP datagrams: pure functions of bytes, no I/O.
#pragma once

#include <string_view>

#include "protocol/options.h"
#include "protocol/tftp.h"
#include "protocol/window.h"

inline void PutWord(BYTE* p, WORD value)
{
    p[0] = static_cast<BYTE>(value >> 8);
    p[1] = static_cast<BYTE>(value & 0xFF);
}

inline WORD GetWord(const BYTE* p)
{
    return static_cast<WORD>((p[0] << 8) | p[1]);
}

// The request's mode string: "octet" for MODE_BINARY, "netascii" for any other mode.
const char* TftpModeString(WORD wMode);

// Writes a read (DIRECTION_GET) or write (DIRECTION_PUT) request for lpszName
// into the buffer. Returns its length (name + 9 for octet, + 12 for netascii),
// or 0 when the name is longer than TFTP_MAX_NAME bytes or the request does
// not fit nCapacity; nothing is written then.
int BuildRequest(BYTE* pBuffer, int nCapacity, WORD wDirection, const char* lpszName, WORD wMode);

// Each writes a 4-byte header (ACK, DATA) or the client's 5-byte ERROR packet
// with an empty text; returns the bytes written.
int BuildAck(BYTE* pPacket, WORD wBlock);
int BuildDataHeader(BYTE* pPacket, WORD wBlock);
int BuildError(BYTE* pPacket, WORD wCode);
// The client's ERROR packet with a text: the 4-byte header, the text and its
// zero byte, the text cut to fit nCapacity (at least 5). Returns the bytes written.
int BuildError(BYTE* pPacket, int nCapacity, WORD wCode, std::string_view text);

// What one datagram is to the transfer. Each datagram is judged once, and
// Receive acts on the verdict.
enum class TftpEvent : BYTE {
    Ignore,         // nothing to do: nothing changes, nothing is sent
    Data,           // the DATA block awaited
    Ack,            // an ACK the send window takes; nSlid blocks newly acknowledged
    Gap,            // DATA ahead of the block awaited: acknowledge the last block in order
    Oack,           // an OACK whose grant can be taken (oack.granted)
    OackRefused,    // an OACK that cannot be taken (oack.szOption names the option at fault)
    OptionsRefused, // an ERROR to the request's options that may be about them: ask again without
    PeerError,      // any other ERROR datagram: the peer's text is to be shown
    Fail,           // the transfer cannot go on
};

struct TftpVerdict {
    TftpEvent eEvent;
    int nResult;     // TFTP_RESULT_NONE, _ACKED, _DATA + length, or _ERROR + reason
    bool bClose;     // the state becomes TFTP_STATE_CLOSED
    WORD wErrorCode; // ERROR code to send back; 0 when none is sent
    int nSlid = 0;   // Ack: the blocks it newly acknowledges (0: the newest again)
    OackVerdict oack{};
    WORD wPeerCode = 0; // OptionsRefused, PeerError: the code the peer sent
};

// What a transfer awaits, as the judge of a datagram needs to know it: the
// same for either end, whatever that end calls its states.
enum class TftpAwaits : BYTE {
    Nothing,    // no request is out yet: any DATA or ACK is out of place
    ReadReply,  // a read request is out: DATA 1, an OACK or an ERROR
    WriteReply, // a write request is out: ACK 0, an OACK or an ERROR
    Acks,       // DATA is out: ACKs slide the send window
    Data,       // DATA is awaited in order, within the receive window
    Ended,      // the transfer is over: nothing more is taken
};

// What the judge of a datagram knows of the transfer.
struct TftpExchange {
    TftpAwaits awaits;
    WORD wExpected;                // the block the next accepted reply must carry
    const CSendWindow& send;       // awaiting Acks: the ACKs it takes
    const CReceiveWindow& receive; // awaiting Data: the blocks that are gaps
    // The longest DATA accepted (a negotiated block size plus 4). A DATA
    // result carries its length in twelve bits; a longer datagram's result
    // is TFTP_RESULT_DATA alone, and the caller knows its length.
    int nMaxDatagram = TFTP_MAX_DATAGRAM;
    // The options the request carried, when an OACK may answer it.
    const TftpOptions* pAsked = nullptr;
    // Options were wanted: an OACK to the request that went without them is
    // refused, not taken for an unknown opcode.
    bool bOptionsWanted = false;
    // An OACK has been taken: another one ends a running transfer.
    bool bGranted = false;
};

TftpVerdict ClassifyDatagram(const TftpExchange& exchange, const BYTE* pDatagram, int nLength);

// The text an ERROR datagram carries: from offset 4 up to its zero byte, or to
// the end of the datagram when no zero byte comes first. Never reads past
// nLength; empty for a datagram shorter than 5 bytes.
std::string_view PeerErrorMessage(const BYTE* pDatagram, int nLength);
