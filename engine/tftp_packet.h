// SPDX-License-Identifier: MIT
// Building and reading TFTP datagrams: pure functions of bytes, no I/O.
#pragma once

#include <string_view>

#include "tftp.h"

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

// What Receive does with one datagram, decided from the socket's state and
// the block number it awaits.
struct TftpVerdict {
    int nResult;     // TFTP_RESULT_NONE, _ACKED, _DATA + length, or _ERROR + reason
    bool bPeerError; // an ERROR datagram: the peer's text is to be shown
    bool bClose;     // the state becomes TFTP_STATE_CLOSED
    WORD wErrorCode; // ERROR code to send back; 0 when none is sent
};

// nMaxDatagram: the longest DATA accepted (a negotiated block size plus 4).
// A DATA result carries its length in twelve bits; a longer datagram's
// result is TFTP_RESULT_DATA alone, and the caller knows its length.
TftpVerdict ClassifyDatagram(TftpState wState, WORD wExpected, const BYTE* pDatagram, int nLength,
                             int nMaxDatagram = TFTP_MAX_DATAGRAM);

// The text an ERROR datagram carries: from offset 4 up to its zero byte, or to
// the end of the datagram when no zero byte comes first. Never reads past
// nLength; empty for a datagram shorter than 5 bytes.
std::string_view PeerErrorMessage(const BYTE* pDatagram, int nLength);
