// SPDX-License-Identifier: MIT
// The client's request: what the user asked for, checked once; the packet;
// and how far the server's answers have settled the options it asks for.
#pragma once

#include <sys/socket.h>

#include <string>

#include "protocol/host_address.h"
#include "protocol/options.h"
#include "protocol/tftp.h"

// A transfer as the user asked for it, checked before anything is opened,
// looked up or sent.
struct TftpRequestCheck {
    HostText host;
    // What the request names, exactly as given.
    std::string strRemoteName;
    WORD wDirection = DIRECTION_GET;
    // A Get's local file (LocalNameOfRemote); empty for a Put.
    std::string strLocalName;
    // Empty when the request may go; otherwise why not, to show as it is.
    std::string strMessage;

    bool Ok() const { return strMessage.empty(); }
};

// Checks a request, in this order: a Get's remote name must end in a file
// name (IDS_GET_NO_FILE_NAME), the name must fit a request (at most
// TFTP_MAX_NAME bytes), and the host must be in one of the host box's forms
// (IDS_BAD_HOST; port 69 without one). The typed texts go into the message
// only as arguments.
TftpRequestCheck CheckRequest(const char* lpszHost, const char* lpszRemoteName, WORD wDirection);

// How far the answers have settled the options of a request.
enum class TftpNegotiation {
    None,         // none are wanted: the plain RFC 1350 exchange
    LeftOut,      // wanted, but the name leaves no room for them in the request
    Asked,        // the request carries them and no answer has settled them yet
    Granted,      // an OACK granted them
    Ignored,      // the server answered with DATA or ACK: a plain transfer
    RetriedPlain, // the server refused them with an ERROR: the request went again without them
    Refused,      // the server's OACK could not be taken: the transfer ends
};

// One transfer's request: built once for each socket it goes from.
class CTftpRequest {
public:
    // The request to send, in wMode; nBlockSize is the block size wanted
    // (the options' own, before FitOptions changes it).
    void Set(const TftpRequestCheck& check, WORD wMode, int nBlockSize);

    const TftpRequestCheck& Check() const { return m_check; }
    const std::string& Name() const { return m_check.strRemoteName; }

    // The block size to ask the server at address for: the default block
    // size fits the frame of the address's family, so an IPv6 server (not
    // an IPv4-mapped address) is asked for at most
    // TFTP_DEFAULT_BLOCK_SIZE_IPV6.
    void FitOptions(const sockaddr_storage& address, TftpOptions* pOptions) const;

    // Writes the request into pBuffer (nCapacity bytes): the name and mode,
    // then the options when some are wanted, no ERROR has refused them, and
    // they fit within TFTP_MAX_REQUEST bytes. Returns its length, or 0 when
    // the name does not fit. Sets the negotiation to Asked, LeftOut or None,
    // but keeps RetriedPlain.
    int Build(BYTE* pBuffer, int nCapacity, const TftpOptions& options);

    TftpNegotiation Negotiation() const { return m_eNegotiation; }
    bool Negotiating() const { return m_eNegotiation == TftpNegotiation::Asked; }
    void SetNegotiation(TftpNegotiation eNegotiation) { m_eNegotiation = eNegotiation; }

    // The log's line for the request sent to where: `Read request for
    // "a.txt" (octet) sent to 192.0.2.7 port 69`.
    std::string SentText(const std::string& where) const;
    // The server as the user named it, with the address and port the
    // request went to where they say more, for messages.
    std::string HostShown(const sockaddr_storage& address) const;

private:
    TftpRequestCheck m_check;
    WORD m_wMode = MODE_BINARY;
    int m_nBlockSize = 0;
    TftpNegotiation m_eNegotiation = TftpNegotiation::None;
};

// What was asked and what is granted, as the log shows them: "blksize 1468,
// timeout 5, tsize 0, windowsize 16".
std::string OptionsText(const TftpOptions& options);
std::string GrantedText(const TftpGranted& granted);
