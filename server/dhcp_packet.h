// SPDX-License-Identifier: MIT
// Reading a DHCP datagram: the BOOTP fields and the magic cookie (RFC 2131),
// then the options (RFC 2132), with option overload and options named more
// than once (RFC 3396). A pure function of bytes, no I/O: the datagram is
// untrusted, and every length in it is checked against the bytes received.
// Only the options a proxy DHCP reads are kept.
#pragma once

#include <string_view>

#include "platform/core/afxtypes.h"

inline constexpr int DHCP_FIXED_SIZE = 236;    // op to the end of file
inline constexpr int DHCP_OPTIONS_START = 240; // after the magic cookie
inline constexpr int DHCP_SNAME_OFFSET = 44;
inline constexpr int DHCP_SNAME_SIZE = 64;
inline constexpr int DHCP_FILE_OFFSET = 108;
inline constexpr int DHCP_FILE_SIZE = 128;
inline constexpr BYTE DHCP_MAGIC_COOKIE[4] = {99, 130, 83, 99};

inline constexpr BYTE BOOTREQUEST = 1;
inline constexpr BYTE BOOTREPLY = 2;

enum DhcpMessageType : BYTE {
    DHCPDISCOVER = 1,
    DHCPOFFER = 2,
    DHCPREQUEST = 3,
    DHCPDECLINE = 4,
    DHCPACK = 5,
    DHCPNAK = 6,
    DHCPRELEASE = 7,
    DHCPINFORM = 8,
};

enum DhcpOptionCode : BYTE {
    DHCP_OPTION_PAD = 0,
    DHCP_OPTION_VENDOR_SPECIFIC = 43, // PXE's sub-options in a reply
    DHCP_OPTION_OVERLOAD = 52,
    DHCP_OPTION_MESSAGE_TYPE = 53,
    DHCP_OPTION_SERVER_ID = 54,
    DHCP_OPTION_VENDOR_CLASS = 60,
    DHCP_OPTION_USER_CLASS = 77,
    DHCP_OPTION_CLIENT_ARCH = 93, // RFC 4578
    DHCP_OPTION_MACHINE_ID = 97,  // RFC 4578: type 0, then a 16-byte GUID
    DHCP_OPTION_END = 255,
};

// One option's value. An option named more than once is its values joined
// in the order read, up to 255 bytes; the rest is left out, as no reply
// could echo more.
struct DhcpOptionValue {
    BYTE bytes[255] = {};
    int nLength = 0;
    bool bPresent = false;

    std::string_view Text() const { return {reinterpret_cast<const char*>(bytes), static_cast<size_t>(nLength)}; }
};

struct DhcpPacket {
    BYTE op = 0;
    BYTE htype = 0;
    BYTE hlen = 0;
    BYTE xid[4] = {};
    BYTE flags[2] = {};
    BYTE ciaddr[4] = {};
    BYTE giaddr[4] = {};
    BYTE chaddr[16] = {};
    BYTE messageType = 0; // option 53; 0 without one (BOOTP)
    DhcpOptionValue serverId;
    DhcpOptionValue vendorClass;
    DhcpOptionValue userClass;
    DhcpOptionValue clientArch;
    DhcpOptionValue machineId;
};

enum class DhcpParse {
    ok,
    tooShort,  // fewer than DHCP_OPTIONS_START bytes
    noCookie,  // BOOTP, or not DHCP at all
    malformed, // see ParseDhcpPacket
};

// Reads nLength bytes of pDatagram into *pPacket; never reads past them.
// The options field is read first, then the file field and then the sname
// field when option 52 gives them over to options (option 52 counts only in
// the options field). Malformed: an option whose length runs past its area,
// an area that ends without the end option, option 52 not one byte of 1 to
// 3, option 53 not one byte, either named twice with different values.
// Pad options are skipped.
DhcpParse ParseDhcpPacket(const BYTE* pDatagram, int nLength, DhcpPacket* pPacket);
