// SPDX-License-Identifier: MIT
// The texts shown for socket errors, for a server's ERROR packets and for
// local file errors.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/file_exception.h"
#include "protocol/tftp.h"

// The text for a failed socket call's errno: text 118 for an unresolvable or
// invalid destination (EINVAL, EADDRNOTAVAIL), 119 for ENETUNREACH, 117 for
// ECONNABORTED, and 120 with the number in decimal for anything else.
std::string SocketErrorText(int nError);

// The text for a received ERROR datagram (at least 4 bytes): code 0 shows the
// datagram's own text (as ShownPeerText), codes 1 to 6 their fixed texts,
// any other code the general transfer-error text.
std::string PeerErrorText(const BYTE* pDatagram, int nLength);

// A server's text made fit to show: control characters become blanks,
// trailing blanks go, and a text longer than nLimit bytes is cut at a
// character boundary and ends in "...".
std::string ShownPeerText(std::string_view text, size_t nLimit = 200);

// The standard meaning of an error code 0 to 8 ("access violation"); empty
// for any other code.
std::string TftpErrorMeaning(WORD wCode);

// Whether an ERROR to a request with options may be about the options
// (codes 0, 4 and 8), so that the request is worth sending again without
// them. Any other code is about the file, and ends the transfer.
bool ErrorMayRefuseOptions(WORD wCode);

// The whole message for a server's ERROR: PeerErrorText, then a paragraph
// naming the operation, the remote name as requested, the host, the code
// with its meaning and the server's own text, and a hint where one is known.
// Names and the server's text go in as arguments only, bounded.
std::string PeerErrorReport(WORD wDirection, std::string_view remoteName, std::string_view hostText,
                            const BYTE* pDatagram, int nLength);

// The message for a local file that cannot be opened: string nID as it is
// when the cause is unknown or the file is in use; otherwise its first line,
// then the file's path and the system's reason.
std::string OpenFailedText(UINT nID, const CFileException& error);

// The message for a local file error during a transfer: the cause's text
// with the path, and the system's reason where it says more than the cause.
std::string FileErrorText(const CFileException& error);
