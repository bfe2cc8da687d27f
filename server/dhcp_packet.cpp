// SPDX-License-Identifier: MIT
#include "server/dhcp_packet.h"

#include <algorithm>
#include <cstring>

namespace {

DhcpOptionValue* Kept(DhcpPacket& packet, BYTE code)
{
    switch (code) {
    case DHCP_OPTION_SERVER_ID:
        return &packet.serverId;
    case DHCP_OPTION_VENDOR_CLASS:
        return &packet.vendorClass;
    case DHCP_OPTION_USER_CLASS:
        return &packet.userClass;
    case DHCP_OPTION_CLIENT_ARCH:
        return &packet.clientArch;
    case DHCP_OPTION_MACHINE_ID:
        return &packet.machineId;
    default:
        return nullptr;
    }
}

// A one-byte option that may be named again only with the same value.
bool SetOnce(BYTE* pSetting, const BYTE* pValue, int nLength)
{
    if (nLength != 1 || (*pSetting != 0 && *pSetting != pValue[0]))
        return false;
    *pSetting = pValue[0];
    return true;
}

// Reads one area of options. pOverload is given only for the options field,
// the one place option 52 counts. False when the area is malformed.
bool ReadArea(const BYTE* pArea, int nSize, DhcpPacket& packet, BYTE* pOverload)
{
    int i = 0;
    while (i < nSize) {
        const BYTE code = pArea[i];
        if (code == DHCP_OPTION_END)
            return true;
        if (code == DHCP_OPTION_PAD) {
            ++i;
            continue;
        }
        if (nSize - i < 2 || nSize - i - 2 < pArea[i + 1])
            return false;
        const int nLength = pArea[i + 1];
        const BYTE* pValue = pArea + i + 2;
        i += 2 + nLength;
        if (code == DHCP_OPTION_MESSAGE_TYPE) {
            if (!SetOnce(&packet.messageType, pValue, nLength) || packet.messageType == 0)
                return false;
        } else if (code == DHCP_OPTION_OVERLOAD) {
            if (pOverload != nullptr && (!SetOnce(pOverload, pValue, nLength) || *pOverload < 1 || *pOverload > 3))
                return false;
        } else if (DhcpOptionValue* pKept = Kept(packet, code)) {
            const int nCopied = std::min(nLength, static_cast<int>(sizeof pKept->bytes) - pKept->nLength);
            if (nCopied > 0)
                std::memcpy(pKept->bytes + pKept->nLength, pValue, static_cast<size_t>(nCopied));
            pKept->nLength += nCopied;
            pKept->bPresent = true;
        }
    }
    return false; // no end option
}

} // namespace

DhcpParse ParseDhcpPacket(const BYTE* pDatagram, int nLength, DhcpPacket* pPacket)
{
    DhcpPacket& packet = *pPacket;
    packet = DhcpPacket{};
    if (nLength < DHCP_OPTIONS_START)
        return DhcpParse::tooShort;
    if (std::memcmp(pDatagram + DHCP_FIXED_SIZE, DHCP_MAGIC_COOKIE, sizeof DHCP_MAGIC_COOKIE) != 0)
        return DhcpParse::noCookie;
    packet.op = pDatagram[0];
    packet.htype = pDatagram[1];
    packet.hlen = pDatagram[2];
    std::memcpy(packet.xid, pDatagram + 4, 4);
    std::memcpy(packet.flags, pDatagram + 10, 2);
    std::memcpy(packet.ciaddr, pDatagram + 12, 4);
    std::memcpy(packet.giaddr, pDatagram + 24, 4);
    std::memcpy(packet.chaddr, pDatagram + 28, 16);

    BYTE overload = 0;
    if (!ReadArea(pDatagram + DHCP_OPTIONS_START, nLength - DHCP_OPTIONS_START, packet, &overload))
        return DhcpParse::malformed;
    if ((overload & 1) != 0 && !ReadArea(pDatagram + DHCP_FILE_OFFSET, DHCP_FILE_SIZE, packet, nullptr))
        return DhcpParse::malformed;
    if ((overload & 2) != 0 && !ReadArea(pDatagram + DHCP_SNAME_OFFSET, DHCP_SNAME_SIZE, packet, nullptr))
        return DhcpParse::malformed;
    return DhcpParse::ok;
}
