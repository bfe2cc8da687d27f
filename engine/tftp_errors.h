// SPDX-License-Identifier: MIT
// The texts shown for socket errors and for a server's ERROR packets.
#pragma once

#include <string>

#include "tftp.h"

// The text for a failed socket call's errno: text 118 for an unresolvable or
// invalid destination (EINVAL, EADDRNOTAVAIL), 119 for ENETUNREACH, 117 for
// ECONNABORTED, and 120 with the number in decimal for anything else.
std::string SocketErrorText(int nError);

// The text for a received ERROR datagram (at least 4 bytes): code 0 shows the
// datagram's own text, codes 1 to 6 their fixed texts, any other code the
// general transfer-error text.
std::string PeerErrorText(const BYTE* pDatagram, int nLength);
