// SPDX-License-Identifier: MIT
#include "tftp_errors.h"

#include <cerrno>
#include <cstdio>

#include "res/resource.h"
#include "res/strings.h"
#include "tftp_packet.h"

std::string SocketErrorText(int nError)
{
    switch (nError) {
    case EINVAL:
    case EADDRNOTAVAIL:
        return AfxLoadString(IDS_DESTINATION_UNAVAILABLE);
    case ENETUNREACH:
        return AfxLoadString(IDS_DESTINATION_UNREACHABLE);
    case ECONNABORTED:
        return AfxLoadString(IDS_SESSION_ABORTED);
    default: {
        // The format is the program's own string; only a number goes into it.
        char text[256];
        std::snprintf(text, sizeof text, AfxFindString(IDS_GENERAL_FAILURE), nError);
        return text;
    }
    }
}

std::string PeerErrorText(const BYTE* pDatagram, int nLength)
{
    const WORD code = nLength >= TFTP_HEADER_SIZE ? GetWord(pDatagram + 2) : WORD{0xFFFF};
    if (code == 0)
        return std::string(PeerErrorMessage(pDatagram, nLength));
    if (code <= 6)
        return AfxLoadString(IDS_PEER_FILE_NOT_FOUND + code - 1);
    return AfxLoadString(IDS_UNSPECIFIED_ERROR);
}
