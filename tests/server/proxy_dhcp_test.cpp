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

// A BOOTREQUEST from kMac: its fixed fields, the addresses from ciaddr on as
// far as given, the file field, the cookie, option 53 (0: none), options, end.
Bytes Datagram(BYTE type, const Bytes& options, bool end = true, const Bytes& file = {}, const Bytes& addresses = {})
{
    Bytes d = Bytes{1, 1, 6, 0, 0xde, 0xad, 0xbe, 0xef} + Bytes(4) + addresses + Bytes(16 - addresses.size());
    d = d + Bytes(kMac) + Bytes(10 + 64) + file + Bytes(128 - file.size()) + Bytes{99, 130, 83, 99};
    return d + (type != 0 ? Opt(53, Bytes{type}) : Bytes{}) + options + (end ? Bytes{255} : Bytes{});
}

Bytes WithByte(Bytes datagram, size_t at, BYTE value)
{
    datagram.at(at) = value;
    return datagram;
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

ProxyDhcpAnswer Judge(CProxyDhcp& proxy, const Bytes& datagram, DhcpPort port, ULONGLONG nowMs)
{
    sockaddr_in from = {AF_INET, htons(4011), {}, {}}; // a client with an address: 192.0.2.77
    std::copy(kClient.begin(), kClient.end(), reinterpret_cast<BYTE*>(&from.sin_addr));
    return proxy.Judge(datagram.data(), static_cast<int>(datagram.size()), port, from, nowMs);
}

TEST(ProxyDhcp, AnswersOnlyBootFirmwareWithItsFile)
{
    const DhcpPort dhcp = DhcpPort::dhcp, pxe = DhcpPort::pxe;
    const std::string http = "http://192.0.2.1:8069/", mac = " (52:54:00:12:34:56) ";
    const Bytes file = Firmware(7) + Bytes{255}; // options carried in the file field
    const struct {
        const char* name;
        DhcpPort port;
        Bytes datagram;
        const char* missing = ""; // a file the folder lacks
        std::string line = {};    // what is logged; empty: nothing
        std::string file = {};    // empty: no answer
        const char* to = "";      // where the answer goes
        BYTE type = 0;            // DHCPOFFER or DHCPACK
        bool bOption43 = false;   // PXE_DISCOVERY_CONTROL
        bool bOption97 = true;    // the machine id echoed
        std::string vendor = "PXEClient";
    } rows[] = {
        {"BIOS", dhcp, Datagram(1, Firmware(0)), "", "A BIOS machine" + mac + "was told to boot undionly.kpxe",
         "undionly.kpxe", "255.255.255.255:68", 2, true},
        {"UEFI x64, 7", dhcp, Datagram(1, Firmware(7)), "", "A UEFI x64 machine" + mac + "was told to boot ipxe.efi",
         "ipxe.efi", "255.255.255.255:68", 2},
        {"UEFI x64, 9", dhcp, Datagram(1, Firmware(9)), "", "A UEFI x64 machine" + mac + "was told to boot ipxe.efi",
         "ipxe.efi", "255.255.255.255:68", 2},
        {"UEFI IA32", dhcp, Datagram(1, Firmware(6)), "",
         "A UEFI IA32 machine" + mac + "was told to boot ipxe-i386.efi", "ipxe-i386.efi", "255.255.255.255:68", 2},
        {"UEFI ARM64", dhcp, Datagram(1, Firmware(11)), "",
         "A UEFI ARM64 machine" + mac + "was told to boot ipxe-arm64.efi", "ipxe-arm64.efi", "255.255.255.255:68", 2},
        {"HTTP boot x64", dhcp, Datagram(1, Firmware(16, "HTTPClient")), "",
         "A UEFI x64 HTTP boot machine" + mac + "was told to boot " + http + "ipxe.efi", http + "ipxe.efi",
         "255.255.255.255:68", 2, false, true, "HTTPClient"},
        {"HTTP boot ARM64", dhcp, Datagram(1, Firmware(19, "HTTPClient")), "",
         "A UEFI ARM64 HTTP boot machine" + mac + "was told to boot " + http + "ipxe-arm64.efi",
         http + "ipxe-arm64.efi", "255.255.255.255:68", 2, false, true, "HTTPClient"},
        {"iPXE", dhcp, Datagram(1, Firmware(0) + Opt(77, "iPXE")), "",
         "A BIOS machine" + mac + "running iPXE was told to fetch " + http + "boot.ipxe", http + "boot.ipxe",
         "255.255.255.255:68", 2, true},
        {"iPXE without its script", dhcp, Datagram(1, Firmware(7) + Opt(77, "iPXE")), "boot.ipxe",
         "A UEFI x64 machine" + mac + "running iPXE asked for its script: put boot.ipxe in /srv/tftp"},
        {"UEFI x64 without its file", dhcp, Datagram(1, Firmware(7)), "ipxe.efi",
         "A UEFI x64 machine" + mac +
             "asked to boot: put ipxe.efi in /srv/tftp (Debian's ipxe package has it in /usr/lib/ipxe)"},
        {"ARM32 UEFI", dhcp, Datagram(1, Firmware(10)), "",
         "A machine of architecture 10" + mac + "asked to boot: no boot file is set for that architecture"},
        {"request on 4011", pxe, Datagram(3, Firmware(7), true, {}, kClient), "",
         "A UEFI x64 machine" + mac + "was told to boot ipxe.efi", "ipxe.efi", "192.0.2.77:4011", 5},
        {"request on 67 to us", dhcp, Datagram(3, Firmware(0) + Opt(54, kUs)), "",
         "A BIOS machine" + mac + "was told to boot undionly.kpxe", "undionly.kpxe", "255.255.255.255:68", 5, true},
        {"through a relay", dhcp, Datagram(1, Firmware(0), true, {}, Bytes(12) + kOther), "",
         "A BIOS machine" + mac + "was told to boot undionly.kpxe", "undionly.kpxe", "192.0.2.254:67", 2, true},
        {"machine id of 16 bytes", dhcp, Datagram(1, Firmware(7) + Opt(97, Bytes(16, 1))), "",
         "A UEFI x64 machine" + mac + "was told to boot ipxe.efi", "ipxe.efi", "255.255.255.255:68", 2, false, false},
        {"options overloaded into file", dhcp, Datagram(1, Opt(52, Bytes{1}), true, file), "",
         "A UEFI x64 machine" + mac + "was told to boot ipxe.efi", "ipxe.efi", "255.255.255.255:68", 2},
        {"request on 67 to another", dhcp, Datagram(3, Firmware(0) + Opt(54, kOther))},
        {"request on 67 to nobody", dhcp, Datagram(3, Firmware(0))},
        {"request on 4011 to another", pxe, Datagram(3, Firmware(0) + Opt(54, kOther))},
        {"discover on 4011", pxe, Datagram(1, Firmware(0))},
        {"inform", dhcp, Datagram(8, Firmware(0))},
        {"not PXE", dhcp, Datagram(1, Opt(60, "MSFT 5.0") + Opt(93, Bytes{0, 0}))},
        {"PXEClient without 93", dhcp, Datagram(1, Opt(60, "PXEClient"))},
        {"93 without 60", dhcp, Datagram(1, Opt(93, Bytes{0, 7}))},
        {"BOOTP", dhcp, Datagram(0, Firmware(0))},
        {"a reply", dhcp, WithByte(Datagram(1, Firmware(0)), 0, 2)},
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
        const ProxyDhcpAnswer answer = Judge(proxy, row.datagram, row.port, 1000);
        EXPECT_EQ(answer.line, row.line);
        ASSERT_EQ(answer.bAnswer, !row.file.empty());
        if (!answer.bAnswer)
            continue;
        EXPECT_EQ(Endpoint(answer.to), row.to);
        EXPECT_TRUE(answer.bNewBoot);
        // op to chaddr: the broadcast flag on port 67 (the client has no
        // address yet), ciaddr only in an acknowledgement, never a yiaddr,
        // siaddr this server, the relay's giaddr.
        const Bytes ciaddr = row.type == 5 ? Bytes(row.datagram.begin() + 12, row.datagram.begin() + 16) : Bytes(4);
        const Bytes fields =
            Bytes{2, 1, 6, 0, 0xde, 0xad, 0xbe, 0xef, 0, 0, row.port == dhcp ? BYTE{0x80} : BYTE{0}, 0} + ciaddr +
            Bytes(4) + kUs + Bytes(row.datagram.begin() + 24, row.datagram.begin() + 28) + kMac + Bytes(10 + 64) +
            BytesOf(row.file) + Bytes(128 - row.file.size());
        const Bytes options = Bytes{99, 130, 83, 99} + Opt(53, Bytes{row.type}) + Opt(54, kUs) + Opt(60, row.vendor) +
                              (row.bOption97 ? Opt(97, kGuid) : Bytes{}) +
                              (row.bOption43 ? Opt(43, Bytes{6, 1, 8, 255}) : Bytes{}) + Bytes{255};
        EXPECT_EQ(Bytes(answer.reply, answer.reply + answer.nReplyLength),
                  fields + options + Bytes(300 - fields.size() - options.size()));
    }
}

TEST(ProxyDhcp, AnswersAMachineFiveTimesAMinuteAndTellsOnceAMinute)
{
    CProxyDhcp proxy = Proxy();
    const Bytes bios = Datagram(1, Firmware(0));
    const Bytes other = WithByte(bios, 33, 0x57); // another machine
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
        const ProxyDhcpAnswer answer = Judge(proxy, *step.datagram, DhcpPort::dhcp, step.nowMs);
        EXPECT_EQ(answer.bAnswer, step.bAnswer);
        EXPECT_EQ(answer.bNewBoot, step.bNewBoot);
        EXPECT_EQ(answer.line.empty(), !step.bNewBoot);
    }

    // A machine whose file is missing is told of once a minute, however often it asks.
    CProxyDhcp lacking = Proxy("undionly.kpxe");
    int lines = 0;
    for (ULONGLONG nowMs = 0; nowMs < 120000; nowMs += 4000)
        lines += Judge(lacking, bios, DhcpPort::dhcp, nowMs).line.empty() ? 0 : 1;
    EXPECT_EQ(lines, 2);
}

} // namespace
