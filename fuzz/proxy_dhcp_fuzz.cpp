// SPDX-License-Identifier: MIT
// The proxy DHCP judging a datagram: never past it, and whatever it holds,
// an answer only to boot firmware, one that gives no address, fits its
// buffer and reads back as well-formed DHCP.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "server/proxy_dhcp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 4096)
        return 0;
    // The first byte chooses the port, the file the folder lacks and whether
    // HTTP is on; the rest is the datagram, copied exactly so that one byte
    // too far is reported.
    const uint8_t choice = data[0];
    static const char* const kMissing[] = {"", "undionly.kpxe", "ipxe.efi", "boot.ipxe"};
    ProxyDhcpConfig config;
    config.address.s_addr = htonl(0xC0000201);
    config.nHttpPort = (choice & 0x10) != 0 ? 0 : 8069;
    config.folder = "/srv/tftp";
    const char* missing = kMissing[(choice >> 1) & 3];
    config.fileExists = [missing](const std::string& name) { return name != missing; };
    const DhcpPort port = (choice & 1) != 0 ? DhcpPort::pxe : DhcpPort::dhcp;
    const std::vector<BYTE> datagram(data + 1, data + size);
    const int length = static_cast<int>(datagram.size());
    sockaddr_in from = {};
    from.sin_family = AF_INET;

    CProxyDhcp proxy(config);
    for (ULONGLONG nowMs = 0; nowMs < 7000; nowMs += 1000) {
        const ProxyDhcpAnswer answer = proxy.Judge(datagram.data(), length, port, from, nowMs);
        for (const char c : answer.line)
            if (static_cast<unsigned char>(c) < 0x20)
                std::abort();
        if (!answer.bAnswer)
            continue;
        if (nowMs >= CMachineLimit::kAnswers * 1000ULL) // one machine, at most five a minute
            std::abort();
        DhcpPacket request, reply;
        if (ParseDhcpPacket(datagram.data(), length, &request) != DhcpParse::ok || !request.clientArch.bPresent ||
            !(request.vendorClass.Text().starts_with("PXEClient") ||
              request.vendorClass.Text().starts_with("HTTPClient")))
            std::abort();
        if (answer.nReplyLength < DHCP_MIN_REPLY || answer.nReplyLength > DHCP_MAX_REPLY ||
            ParseDhcpPacket(answer.reply, answer.nReplyLength, &reply) != DhcpParse::ok)
            std::abort();
        const BYTE expected = request.messageType == DHCPDISCOVER ? DHCPOFFER : DHCPACK;
        static const BYTE kZero[4] = {};
        if (reply.op != BOOTREPLY || reply.messageType != expected || std::memcmp(answer.reply + 16, kZero, 4) != 0 ||
            reply.serverId.nLength != 4 || std::memcmp(reply.serverId.bytes, &config.address, 4) != 0)
            std::abort();
        const char* file = reinterpret_cast<const char*>(answer.reply + DHCP_FILE_OFFSET);
        if (answer.file.empty() || answer.file != std::string(file, strnlen(file, DHCP_FILE_SIZE)) ||
            answer.file == missing)
            std::abort();
    }
    return 0;
}
