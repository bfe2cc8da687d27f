// SPDX-License-Identifier: MIT
#include "server/proxy_dhcp.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr std::string_view kPxeClient = "PXEClient";
constexpr std::string_view kHttpClient = "HTTPClient";

// What Debian's ipxe package puts in /usr/lib/ipxe.
constexpr std::string_view kDebianIpxeFiles[] = {"undionly.kpxe", "undionly.kkpxe", "ipxe.pxe", "ipxe.efi",
                                                 "snponly.efi"};

std::string MacText(const DhcpPacket& request)
{
    std::string text;
    for (int i = 0; i < request.hlen; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : ":%02x", request.chaddr[i]);
        text += hex;
    }
    return text;
}

// http://ADDRESS:PORT/NAME, the name's bytes outside RFC 3986's unreserved
// set and "/" written as %XX.
std::string Url(in_addr address, UINT nPort, std::string_view name)
{
    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, host, sizeof host);
    std::string url = "http://" + std::string(host) + ':' + std::to_string(nPort) + '/';
    while (name.starts_with('/'))
        name.remove_prefix(1);
    for (const char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::string_view("-._~/").find(c) != std::string_view::npos) {
            url += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            url += escaped;
        }
    }
    return url;
}

const std::string* FileFor(const NetbootFiles& files, BootArch arch)
{
    switch (arch) {
    case BootArch::bios:
        return &files.biosFile;
    case BootArch::uefiIa32:
        return &files.uefiIa32File;
    case BootArch::uefiX64:
    case BootArch::httpX64:
        return &files.uefiX64File;
    case BootArch::uefiArm64:
    case BootArch::httpArm64:
        return &files.uefiArm64File;
    case BootArch::other:
        break;
    }
    return nullptr;
}

sockaddr_in Endpoint(const BYTE address[4], WORD wPort)
{
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, address, 4);
    to.sin_port = htons(wPort);
    return to;
}

bool IsZero(const BYTE address[4])
{
    return (address[0] | address[1] | address[2] | address[3]) == 0;
}

} // namespace

BootArch BootArchOf(WORD wArch)
{
    switch (wArch) {
    case 0:
        return BootArch::bios;
    case 6:
        return BootArch::uefiIa32;
    case 7: // RFC 4578 names 7 "EFI BC" and 9 "EFI x86-64"; its erratum
    case 9: // swapped them, and real x64 firmware sends either
        return BootArch::uefiX64;
    case 11:
        return BootArch::uefiArm64;
    case 16:
        return BootArch::httpX64;
    case 19:
        return BootArch::httpArm64;
    default:
        return BootArch::other;
    }
}

const char* BootArchName(BootArch arch)
{
    switch (arch) {
    case BootArch::bios:
        return "BIOS";
    case BootArch::uefiIa32:
        return "UEFI IA32";
    case BootArch::uefiX64:
        return "UEFI x64";
    case BootArch::uefiArm64:
        return "UEFI ARM64";
    case BootArch::httpX64:
        return "UEFI x64 HTTP boot";
    case BootArch::httpArm64:
        return "UEFI ARM64 HTTP boot";
    case BootArch::other:
        break;
    }
    return "other";
}

ProxyDhcpAnswer CProxyDhcp::Judge(const BYTE* pDatagram, int nLength, DhcpPort port, const sockaddr_in& from,
                                  ULONGLONG nNowMs)
{
    ProxyDhcpAnswer answer;
    DhcpPacket request;
    if (ParseDhcpPacket(pDatagram, nLength, &request) != DhcpParse::ok || request.op != BOOTREQUEST ||
        request.hlen == 0 || request.hlen > sizeof request.chaddr)
        return answer;

    const DhcpOptionValue& serverId = request.serverId;
    const bool bNamesUs = serverId.nLength == 4 && std::memcmp(serverId.bytes, &m_config.address, 4) == 0;
    ProxyDhcpReply reply;
    if (port == DhcpPort::dhcp && request.messageType == DHCPDISCOVER)
        reply.messageType = DHCPOFFER;
    else if (request.messageType == DHCPREQUEST && (bNamesUs || (port == DhcpPort::pxe && !serverId.bPresent)))
        reply.messageType = DHCPACK;
    else
        return answer;

    // The firmware is known by the number in option 93, never by option
    // 60's text, which only tells PXE from HTTP boot.
    const std::string_view vendorClass = request.vendorClass.Text();
    if (vendorClass.starts_with(kPxeClient))
        reply.vendorClass = kPxeClient;
    else if (vendorClass.starts_with(kHttpClient))
        reply.vendorClass = kHttpClient;
    const DhcpOptionValue& clientArch = request.clientArch;
    if (reply.vendorClass.empty() || clientArch.nLength < 2)
        return answer;
    const WORD wArch = static_cast<WORD>(clientArch.bytes[0] << 8 | clientArch.bytes[1]);
    answer.arch = BootArchOf(wArch);
    answer.bIpxe = request.userClass.Text() == "iPXE"; // its user class, sent bare
    answer.mac = MacText(request);

    const std::string machine = answer.arch == BootArch::other
                                    ? "A machine of architecture " + std::to_string(wArch) + " (" + answer.mac + ")"
                                    : std::string("A ") + BootArchName(answer.arch) + " machine (" + answer.mac + ")";
    const bool bHttpBoot = answer.arch == BootArch::httpX64 || answer.arch == BootArch::httpArm64;
    // iPXE given its first file again would load it again, for ever; its
    // script breaks the loop, whatever the machine.
    const std::string* pName = answer.bIpxe ? &m_config.files.ipxeScript : FileFor(m_config.files, answer.arch);
    std::string missing; // why the machine gets no answer
    if (pName == nullptr || pName->empty()) {
        missing = machine + " asked to boot: no boot file is set for that architecture";
    } else if (bHttpBoot && !answer.bIpxe && m_config.nHttpPort == 0) {
        missing = machine + " asked to boot over HTTP, which is off";
    } else if (!m_config.fileExists || !m_config.fileExists(*pName)) {
        missing = machine + (answer.bIpxe ? " running iPXE asked for its script: put " : " asked to boot: put ") +
                  *pName + " in " + m_config.folder;
        for (const std::string_view shipped : kDebianIpxeFiles)
            if (*pName == shipped)
                missing += " (Debian's ipxe package has it in /usr/lib/ipxe)";
    } else {
        const bool bUrl = m_config.nHttpPort != 0 && (answer.bIpxe || bHttpBoot);
        answer.file = bUrl ? Url(m_config.address, m_config.nHttpPort, *pName) : *pName;
        if (answer.file.size() > DHCP_MAX_BOOT_FILE)
            missing = machine + " asked to boot: " + answer.file + " is longer than a DHCP answer holds (" +
                      std::to_string(DHCP_MAX_BOOT_FILE) + " bytes)";
    }
    const MachineKey key = MakeMachineKey(request.chaddr, request.hlen);
    if (!missing.empty()) {
        answer.file.clear();
        if (m_limit.Tell(key, nNowMs))
            answer.line = missing;
        return answer;
    }
    if (!m_limit.Answer(key, nNowMs, &answer.bNewBoot))
        return answer;

    reply.file = answer.file;
    reply.bDiscoveryControl = answer.arch == BootArch::bios;
    reply.bBroadcast = port == DhcpPort::dhcp;
    answer.nReplyLength = BuildProxyDhcpReply(request, reply, m_config.address, answer.reply);
    answer.bAnswer = true;
    if (port == DhcpPort::pxe) {
        answer.to = from;
        if (from.sin_addr.s_addr == 0)
            answer.to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    } else if (!IsZero(request.giaddr)) {
        answer.to = Endpoint(request.giaddr, DHCP_SERVER_PORT);
    } else if (!IsZero(request.ciaddr)) {
        answer.to = Endpoint(request.ciaddr, DHCP_CLIENT_PORT);
    } else {
        static constexpr BYTE kBroadcast[4] = {255, 255, 255, 255};
        answer.to = Endpoint(kBroadcast, DHCP_CLIENT_PORT);
    }
    if (answer.bNewBoot)
        answer.line =
            machine + (answer.bIpxe ? " running iPXE was told to fetch " : " was told to boot ") + answer.file;
    return answer;
}
