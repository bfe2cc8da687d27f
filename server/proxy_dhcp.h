// SPDX-License-Identifier: MIT
// The proxy DHCP beside the TFTP server: it answers only PXE and UEFI HTTP
// firmware, never gives an address, and names the boot file by the
// firmware's architecture (RFC 4578 option 93). Another DHCP server on the
// network gives the addresses. Pure: a datagram and the time in, the answer
// and a line for the log out; sockets and the folder are the caller's.
#pragma once

#include <netinet/in.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "server/dhcp_packet.h"
#include "server/proxy_dhcp_limit.h"

inline constexpr WORD DHCP_SERVER_PORT = 67;
inline constexpr WORD DHCP_CLIENT_PORT = 68;
inline constexpr WORD PXE_SERVER_PORT = 4011;
// Every reply is at least BOOTP's 300 bytes (some relays and firmware
// insist) and fits the 576 bytes every host accepts.
inline constexpr int DHCP_MIN_REPLY = 300;
inline constexpr int DHCP_MAX_REPLY = 576;
// The file field holds the boot file's name or URL and its zero byte.
inline constexpr int DHCP_MAX_BOOT_FILE = DHCP_FILE_SIZE - 1;

// The boot files, group [Netboot]: names beneath the served folder.
struct NetbootFiles {
    std::string biosFile = "undionly.kpxe";       // BiosFile: option 93 value 0
    std::string uefiX64File = "ipxe.efi";         // UefiX64File: 7 and 9, and over HTTP 16
    std::string uefiIa32File = "ipxe-i386.efi";   // UefiIa32File: 6
    std::string uefiArm64File = "ipxe-arm64.efi"; // UefiArm64File: 11, and over HTTP 19
    std::string ipxeScript = "boot.ipxe";         // IpxeScript: for iPXE itself
};

struct ProxyDhcpConfig {
    NetbootFiles files;
    in_addr address = {}; // this server on the chosen interface: option 54, siaddr, the URLs
    // The HTTP server beside TFTP. 0: none; iPXE then fetches its script
    // over TFTP, and HTTP boot firmware is not answered.
    UINT nHttpPort = 8069;
    std::string folder; // the served folder, as the log names it
    // Whether the folder holds a regular file of that name. Asked of every
    // machine before it is answered: a file may come or go while serving.
    std::function<bool(const std::string&)> fileExists;
};

// Firmware by its option 93 value, one name for the values that boot alike.
enum class BootArch : BYTE { bios, uefiIa32, uefiX64, uefiArm64, httpX64, httpArm64, other };
BootArch BootArchOf(WORD wArch);
// "BIOS", "UEFI x64", "UEFI ARM64 HTTP boot": for the log and the rows.
const char* BootArchName(BootArch arch);

// Which socket a datagram came in on.
enum class DhcpPort { dhcp /* 67 */, pxe /* 4011 */ };

struct ProxyDhcpAnswer {
    bool bAnswer = false; // send reply to `to`
    BYTE reply[DHCP_MAX_REPLY] = {};
    int nReplyLength = 0;
    sockaddr_in to = {};
    // The first answer to this machine in a minute: a boot begins, worth a
    // row (mac, arch, file).
    bool bNewBoot = false;
    std::string line; // empty: nothing to log; of the request's bytes, only the MAC and option 93 as numbers
    std::string mac;  // "52:54:00:12:34:56"
    BootArch arch = BootArch::other;
    bool bIpxe = false;
    std::string file; // the name or URL in the reply's file field
};

class CProxyDhcp {
public:
    explicit CProxyDhcp(ProxyDhcpConfig config) : m_config(std::move(config)) {}

    // Judges one datagram that reached port 67 or 4011 from `from`.
    // Answered (a DHCPOFFER for a DHCPDISCOVER, a DHCPACK for a DHCPREQUEST,
    // nothing else, never an address and never a DHCPNAK):
    //  - on port 67, DHCPDISCOVER; DHCPREQUEST only when option 54 names
    //    this server; the answer goes to the relay (giaddr) on port 67, to
    //    ciaddr when the client has an address, else broadcast, on port 68;
    //  - on port 4011, DHCPREQUEST unless option 54 names another server;
    //    the answer goes back to where it came from;
    //  - only with option 60 beginning "PXEClient" or "HTTPClient" and
    //    option 93, a BOOTREQUEST of a hardware address of 1 to 16 bytes;
    //  - the boot file by option 93's number; iPXE (option 77 "iPXE") gets
    //    the script, as a URL when HTTP is on; HTTP boot gets a URL;
    //  - only when the machine's boot file is in the folder; when it is not,
    //    no answer (another boot server may have it) and a line saying what
    //    to put where, once a minute per machine;
    //  - each machine at most CMachineLimit::kAnswers times a minute.
    ProxyDhcpAnswer Judge(const BYTE* pDatagram, int nLength, DhcpPort port, const sockaddr_in& from, ULONGLONG nNowMs);

private:
    ProxyDhcpConfig m_config;
    CMachineLimit m_limit;
};

// What the reply says, as Judge chose it.
struct ProxyDhcpReply {
    BYTE messageType = DHCPOFFER;   // DHCPOFFER or DHCPACK
    std::string_view vendorClass;   // "PXEClient" or "HTTPClient", echoed
    bool bDiscoveryControl = false; // BIOS PXE: option 43, load the file at once
    bool bBroadcast = false;        // ask a relay to broadcast it: the client has no address
    std::string_view file;          // at most DHCP_MAX_BOOT_FILE bytes
};

// Writes the reply to request into buffer: op 2, the request's xid, flags
// (with the broadcast bit when asked), giaddr and chaddr, ciaddr for a
// DHCPACK, yiaddr 0, siaddr this server, the file; options 53, 54, 60, 97
// when the request carried a well-formed one, 43 (sub-option 6,
// PXE_DISCOVERY_CONTROL, 8) when asked; the end option, then zeros to
// DHCP_MIN_REPLY. Returns its length.
int BuildProxyDhcpReply(const DhcpPacket& request, const ProxyDhcpReply& reply, in_addr server,
                        BYTE (&buffer)[DHCP_MAX_REPLY]);
