// SPDX-License-Identifier: MIT
#include "server/proxy_dhcp.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/support/fake_peer.h"

namespace {

const Bytes kMac = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
const Bytes kGuid = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}; // option 97: type 0, 16 bytes
const Bytes kUs = {192, 0, 2, 1};
const Bytes kOther = {192, 0, 2, 254};
const Bytes kClient = {192, 0, 2, 77};

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Opt(BYTE code, const Bytes& value)
{
    return Bytes{code, static_cast<BYTE>(value.size())} + value;
}
Bytes Opt(BYTE code, const std::string& text)
{
    return Opt(code, BytesOf(text));
}

// What firmware of that option 93 value sends, with option 60 of the kind given.
Bytes Firmware(WORD arch, const std::string& kind = "PXEClient")
{
    const std::string vendor =
        kind + ":Arch:" + std::string(5 - std::to_string(arch).size(), '0') + std::to_string(arch) + ":UNDI:003001";
    return Opt(60, vendor) + Opt(93, Bytes{static_cast<BYTE>(arch >> 8), static_cast<BYTE>(arch)}) + Opt(97, kGuid);
}

Bytes Datagram(BYTE type, const Bytes& options, bool end = true, const Bytes& file = {}, const Bytes& giaddr = {},
               const Bytes& ciaddr = {})
{
    Bytes d(240);
    d[0] = 1; // BOOTREQUEST
    d[1] = 1;
    d[2] = 6;
    d[4] = 0xde, d[5] = 0xad, d[6] = 0xbe, d[7] = 0xef;
    std::copy(ciaddr.begin(), ciaddr.end(), d.begin() + 12);
    std::copy(giaddr.begin(), giaddr.end(), d.begin() + 24);
    std::copy(kMac.begin(), kMac.end(), d.begin() + 28);
    std::copy(file.begin(), file.end(), d.begin() + 108);
    d[236] = 99, d[237] = 130, d[238] = 83, d[239] = 99;
    return d + (type != 0 ? Opt(53, Bytes{type}) : Bytes{}) + options + (end ? Bytes{255} : Bytes{});
}

std::string Endpoint(const sockaddr_in& to)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &to.sin_addr, text, sizeof text);
    return std::string(text) + ':' + std::to_string(ntohs(to.sin_port));
}

CProxyDhcp Proxy(const char* missing = "")
{
    ProxyDhcpConfig config;
    std::copy(kUs.begin(), kUs.end(), reinterpret_cast<BYTE*>(&config.address));
    config.folder = "/srv/tftp";
    config.fileExists = [missing](const std::string& name) {
        static const std::set<std::string> folder = {"undionly.kpxe", "ipxe.efi", "ipxe-i386.efi", "ipxe-arm64.efi",
                                                     "boot.ipxe"};
        return name != missing && folder.contains(name);
    };
    return CProxyDhcp(config);
}

sockaddr_in From(const Bytes& address, WORD port)
{
    sockaddr_in from = {};
    from.sin_family = AF_INET;
    std::copy(address.begin(), address.end(), reinterpret_cast<BYTE*>(&from.sin_addr));
    from.sin_port = htons(port);
    return from;
}

TEST(ProxyDhcp, AnswersOnlyBootFirmwareWithItsFile)
{
    const DhcpPort dhcp = DhcpPort::dhcp, pxe = DhcpPort::pxe;
    const std::string http = "http://192.0.2.1:8069/";
    const Bytes overloaded = Firmware(7) + Bytes{255}; // carried in the file field
    const struct {
        const char* name;
        DhcpPort port;
        Bytes datagram;
        const char* missing = ""; // a file the folder lacks
        std::string file = {};    // empty: no answer
        BYTE type = 0;            // DHCPOFFER or DHCPACK
        std::string vendor = {};  // option 60 echoed
        bool bOption43 = false;   // PXE_DISCOVERY_CONTROL
        bool bOption97 = false;   // the machine id echoed
        const char* to = "";      // where the answer goes
        std::string line = {};    // what is logged; empty: nothing
    } rows[] = {
        {"BIOS", dhcp, Datagram(1, Firmware(0)), "", "undionly.kpxe", 2, "PXEClient", true, true, "255.255.255.255:68",
         "A BIOS machine (52:54:00:12:34:56) was told to boot undionly.kpxe"},
        {"UEFI x64, 7", dhcp, Datagram(1, Firmware(7)), "", "ipxe.efi", 2, "PXEClient", false, true,
         "255.255.255.255:68", "A UEFI x64 machine (52:54:00:12:34:56) was told to boot ipxe.efi"},
        {"UEFI x64, 9", dhcp, Datagram(1, Firmware(9)), "", "ipxe.efi", 2, "PXEClient", false, true,
         "255.255.255.255:68", "A UEFI x64 machine (52:54:00:12:34:56) was told to boot ipxe.efi"},
        {"UEFI IA32", dhcp, Datagram(1, Firmware(6)), "", "ipxe-i386.efi", 2, "PXEClient", false, true,
         "255.255.255.255:68", "A UEFI IA32 machine (52:54:00:12:34:56) was told to boot ipxe-i386.efi"},
        {"UEFI ARM64", dhcp, Datagram(1, Firmware(11)), "", "ipxe-arm64.efi", 2, "PXEClient", false, true,
         "255.255.255.255:68", "A UEFI ARM64 machine (52:54:00:12:34:56) was told to boot ipxe-arm64.efi"},
        {"HTTP boot x64", dhcp, Datagram(1, Firmware(16, "HTTPClient")), "", http + "ipxe.efi", 2, "HTTPClient", false,
         true, "255.255.255.255:68",
         "A UEFI x64 HTTP boot machine (52:54:00:12:34:56) was told to boot http://192.0.2.1:8069/ipxe.efi"},
        {"HTTP boot ARM64", dhcp, Datagram(1, Firmware(19, "HTTPClient")), "", http + "ipxe-arm64.efi", 2, "HTTPClient",
         false, true, "255.255.255.255:68",
         "A UEFI ARM64 HTTP boot machine (52:54:00:12:34:56) was told to boot http://192.0.2.1:8069/ipxe-arm64.efi"},
        {"iPXE", dhcp, Datagram(1, Firmware(7) + Opt(77, "iPXE")), "", http + "boot.ipxe", 2, "PXEClient", false, true,
         "255.255.255.255:68",
         "A UEFI x64 machine (52:54:00:12:34:56) running iPXE was told to fetch http://192.0.2.1:8069/boot.ipxe"},
        {"iPXE, RFC 3004 user class", dhcp,
         Datagram(1, Firmware(0) + Opt(77, "\x03"
                                           "abc\x04iPXE")),
         "", http + "boot.ipxe", 2, "PXEClient", true, true, "255.255.255.255:68",
         "A BIOS machine (52:54:00:12:34:56) running iPXE was told to fetch http://192.0.2.1:8069/boot.ipxe"},
        {"iPXE without its script", dhcp, Datagram(1, Firmware(7) + Opt(77, "iPXE")), "boot.ipxe", "", 0, "", false,
         false, "",
         "A UEFI x64 machine (52:54:00:12:34:56) running iPXE asked for its script: put boot.ipxe in /srv/tftp"},
        {"UEFI x64 without its file", dhcp, Datagram(1, Firmware(7)), "ipxe.efi", "", 0, "", false, false, "",
         "A UEFI x64 machine (52:54:00:12:34:56) asked to boot: put ipxe.efi in /srv/tftp (Debian's ipxe package has "
         "it in /usr/lib/ipxe)"},
        {"ARM32 UEFI", dhcp, Datagram(1, Firmware(10)), "", "", 0, "", false, false, "",
         "A machine of architecture 10 (52:54:00:12:34:56) asked to boot: no boot file is set for that architecture"},
        {"request on 4011", pxe, Datagram(3, Firmware(7), true, {}, {}, kClient), "", "ipxe.efi", 5, "PXEClient", false,
         true, "192.0.2.77:4011", "A UEFI x64 machine (52:54:00:12:34:56) was told to boot ipxe.efi"},
        {"request on 67 to us", dhcp, Datagram(3, Firmware(0) + Opt(54, kUs)), "", "undionly.kpxe", 5, "PXEClient",
         true, true, "255.255.255.255:68", "A BIOS machine (52:54:00:12:34:56) was told to boot undionly.kpxe"},
        {"through a relay", dhcp, Datagram(1, Firmware(0), true, {}, kOther), "", "undionly.kpxe", 2, "PXEClient", true,
         true, "192.0.2.254:67", "A BIOS machine (52:54:00:12:34:56) was told to boot undionly.kpxe"},
        {"machine id of 16 bytes", dhcp, Datagram(1, Firmware(7) + Opt(97, Bytes(16, 1))), "", "ipxe.efi", 2,
         "PXEClient", false, false, "255.255.255.255:68",
         "A UEFI x64 machine (52:54:00:12:34:56) was told to boot ipxe.efi"},
        {"options overloaded into file", dhcp, Datagram(1, Opt(52, Bytes{1}), true, overloaded), "", "ipxe.efi", 2,
         "PXEClient", false, true, "255.255.255.255:68",
         "A UEFI x64 machine (52:54:00:12:34:56) was told to boot ipxe.efi"},
        {"request on 67 to another", dhcp, Datagram(3, Firmware(0) + Opt(54, kOther))},
        {"request on 67 to nobody", dhcp, Datagram(3, Firmware(0))},
        {"request on 4011 to another", pxe, Datagram(3, Firmware(0) + Opt(54, kOther))},
        {"discover on 4011", pxe, Datagram(1, Firmware(0))},
        {"inform", dhcp, Datagram(8, Firmware(0))},
        {"not PXE", dhcp, Datagram(1, Opt(60, "MSFT 5.0") + Opt(93, Bytes{0, 0}))},
        {"PXEClient without 93", dhcp, Datagram(1, Opt(60, "PXEClient"))},
        {"93 without 60", dhcp, Datagram(1, Opt(93, Bytes{0, 7}))},
        {"BOOTP", dhcp, Datagram(0, Firmware(0))},
        {"a reply", dhcp,
         [] {
             Bytes d = Datagram(1, Firmware(0));
             d[0] = 2;
             return d;
         }()},
        {"length past the end", dhcp, Datagram(1, Firmware(0) + Bytes{12, 40, 'x'}, false)},
        {"length past the end of file", dhcp,
         Datagram(1, Opt(52, Bytes{1}), true, Firmware(7) + Bytes(126 - Firmware(7).size(), 0) + Bytes{12, 5})},
        {"missing end", dhcp, Datagram(1, Firmware(0), false)},
        {"missing end in file", dhcp, Datagram(1, Opt(52, Bytes{1}), true, Firmware(7))},
        {"overload 4", dhcp, Datagram(1, Opt(52, Bytes{4}) + Firmware(0))},
        {"header alone", dhcp, Bytes(240)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CProxyDhcp proxy = Proxy(row.missing);
        const ProxyDhcpAnswer answer = proxy.Judge(row.datagram.data(), static_cast<int>(row.datagram.size()), row.port,
                                                   From(kClient, 4011), 1000);
        EXPECT_EQ(answer.line, row.line);
        ASSERT_EQ(answer.bAnswer, !row.file.empty());
        if (!answer.bAnswer)
            continue;
        EXPECT_EQ(Endpoint(answer.to), row.to);
        EXPECT_TRUE(answer.bNewBoot);
        const Bytes reply(answer.reply, answer.reply + answer.nReplyLength);
        ASSERT_EQ(reply.size(), 300u);
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), (Bytes{2, 1, 6, 0}));
        EXPECT_EQ(Bytes(reply.begin() + 4, reply.begin() + 8), (Bytes{0xde, 0xad, 0xbe, 0xef}));
        EXPECT_EQ(reply[10], row.port == dhcp ? 0x80 : 0); // broadcast: the client has no address yet
        // ciaddr: the request's in an acknowledgement, none in an offer.
        EXPECT_EQ(Bytes(reply.begin() + 12, reply.begin() + 16),
                  row.type == 5 ? Bytes(row.datagram.begin() + 12, row.datagram.begin() + 16) : Bytes(4));
        EXPECT_EQ(Bytes(reply.begin() + 16, reply.begin() + 20), Bytes(4)); // yiaddr: never an address
        EXPECT_EQ(Bytes(reply.begin() + 20, reply.begin() + 24), kUs);      // siaddr
        EXPECT_EQ(Bytes(reply.begin() + 28, reply.begin() + 34), kMac);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply[108])), row.file);
        const Bytes options = Bytes{99, 130, 83, 99} + Opt(53, Bytes{row.type}) + Opt(54, kUs) + Opt(60, row.vendor) +
                              (row.bOption97 ? Opt(97, kGuid) : Bytes{}) +
                              (row.bOption43 ? Opt(43, Bytes{6, 1, 8, 255}) : Bytes{}) + Bytes{255};
        EXPECT_EQ(Bytes(reply.begin() + 236, reply.begin() + 236 + static_cast<long>(options.size())), options);
        EXPECT_EQ(std::count(reply.begin() + 236 + static_cast<long>(options.size()), reply.end(), 0),
                  300 - 236 - static_cast<long>(options.size()));
    }
}

TEST(ProxyDhcp, AnswersAMachineFiveTimesAMinuteAndTellsOnceAMinute)
{
    CProxyDhcp proxy = Proxy();
    const Bytes bios = Datagram(1, Firmware(0));
    Bytes other = bios;
    other[33] = 0x57; // another machine
    const auto judge = [&](const Bytes& datagram, ULONGLONG nowMs) {
        return proxy.Judge(datagram.data(), static_cast<int>(datagram.size()), DhcpPort::dhcp, From(kClient, 68),
                           nowMs);
    };
    const struct {
        const Bytes* datagram;
        ULONGLONG nowMs;
        bool bAnswer;
        bool bNewBoot;
    } steps[] = {
        {&bios, 0, true, true},       {&bios, 1000, true, false},   {&bios, 2000, true, false},
        {&bios, 3000, true, false},   {&bios, 4000, true, false},   {&bios, 5000, false, false},
        {&other, 5000, true, true},   {&bios, 59999, false, false}, {&bios, 60000, true, false},
        {&bios, 60001, false, false}, {&bios, 130000, true, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.nowMs);
        const ProxyDhcpAnswer answer = judge(*step.datagram, step.nowMs);
        EXPECT_EQ(answer.bAnswer, step.bAnswer);
        EXPECT_EQ(answer.bNewBoot, step.bNewBoot);
        EXPECT_EQ(answer.line.empty(), !step.bNewBoot);
    }

    // A machine whose file is missing is told of once a minute, however often it asks.
    CProxyDhcp lacking = Proxy("undionly.kpxe");
    int lines = 0;
    for (ULONGLONG nowMs = 0; nowMs < 120000; nowMs += 4000)
        lines += lacking.Judge(bios.data(), static_cast<int>(bios.size()), DhcpPort::dhcp, From(kClient, 68), nowMs)
                         .line.empty()
                     ? 0
                     : 1;
    EXPECT_EQ(lines, 2);
}

} // namespace
