// SPDX-License-Identifier: MIT
// The proxy DHCP on pd0, one end of a veth pair in the tests' own network
// namespace (they run as root); the other end, pd1, in a peer's namespace, is
// the network a machine boots on.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "own_network.h"
#include "served_folder.h"
#include "server/proxy_dhcp_socket.h"
#include "tests/support/fake_peer.h"

namespace {

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A BOOTREQUEST from 52:54:00:00:00:XX, transaction XX, with these options.
Bytes Request(BYTE xid, const Bytes& options)
{
    const Bytes fixed = Bytes{1, 1, 6, 0, 0, 0, 0, xid} + Bytes(20) + Bytes{0x52, 0x54, 0, 0, 0, xid} + Bytes(202);
    return fixed + Bytes{99, 130, 83, 99} + options + Bytes{255};
}
const Bytes kBios = Bytes{60, 9} + BytesOf("PXEClient") + Bytes{93, 2, 0, 0};
const Bytes kUefi = Bytes{60, 9} + BytesOf("PXEClient") + Bytes{93, 2, 0, 7};

sockaddr_in Ipv4(const char* text, WORD port)
{
    sockaddr_in address{AF_INET, htons(port), {}, {}};
    ::inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

class ProxyDhcpOnLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!InOwnNetwork())
            GTEST_SKIP() << "needs a network namespace of the tests' own (they run as root)";
        static const pid_t peer = PeerNetwork();
        const std::string pid = std::to_string(peer);
        static const bool made =
            peer > 0 && std::system(("ip link add pd0 type veth peer name pd1 && ip addr add 10.78.0.1/24 dev pd0 "
                                     "&& ip link set pd0 up && ip link set pd1 netns " +
                                     pid + " && nsenter -t " + pid +
                                     " -n sh -c 'ip addr add 10.78.0.2/24 dev pd1 && ip link set pd1 up'")
                                        .c_str()) == 0;
        ASSERT_TRUE(made);
        m_peer = peer;
        WriteFileBytes(folder / "undionly.kpxe", Bytes(1));
        WriteFileBytes(folder / "ipxe.efi", Bytes(1));
    }
    ProxyDhcpStartError Start(std::string* pDetail)
    {
        ProxyDhcpConfig config;
        config.folder = folder.Path().string();
        config.fileExists = [this](const std::string& name) { return std::filesystem::exists(folder / name); };
        return server.Start("pd0", Ipv4("10.78.0.1", 0).sin_addr, config, {}, pDetail);
    }
    bool Serve(const std::function<bool()>& done, ULONGLONG nLimitMs)
    {
        for (const ULONGLONG end = SteadyMs() + nLimitMs; !done(); watcher.RunOnce(2))
            if (SteadyMs() > end)
                return false;
        return true;
    }

    TempDir folder;
    RecordingLog log;
    CPollSocketWatcher watcher;
    std::vector<std::string> boots;
    CProxyDhcpServer server{&log, SteadyMs, [this](const ProxyDhcpAnswer& answer) { boots.push_back(answer.mac); }};
    pid_t m_peer = -1;
};

// Sent in order from port 68 of the peer. Once the answers to 2 and 4 are
// in, 1 and 3 were judged before them, so none is waited for.
TEST_F(ProxyDhcpOnLink, AnswersBootFirmwareAloneAndGivesNoAddress)
{
    std::string detail;
    ASSERT_EQ(Start(&detail), ProxyDhcpStartError::none) << detail;
    const struct {
        BYTE xid;
        const char* to;
        WORD port;
        Bytes options;
        const char* file; // empty: no answer
        BYTE type;
        const char* answerTo;
    } rows[] = {
        {1, "255.255.255.255", 67, Bytes{53, 1, 1, 60, 5} + BytesOf("udhcp"), "", 0, ""}, // not firmware
        {2, "255.255.255.255", 67, Bytes{53, 1, 1} + kBios, "undionly.kpxe", 2, "255.255.255.255"},
        {3, "10.78.0.1", 4011, Bytes{53, 1, 3}, "", 0, ""},
        {4, "10.78.0.1", 4011, Bytes{53, 1, 3} + kUefi, "ipxe.efi", 5, "10.78.0.2"},
    };
    // A socket of the peer's network: made there.
    const int own = ::open("/proc/self/ns/net", O_RDONLY),
              peer = ::open(("/proc/" + std::to_string(m_peer) + "/ns/net").c_str(), O_RDONLY);
    ASSERT_EQ(::setns(peer, CLONE_NEWNET), 0);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), on = 1;
    ASSERT_EQ(::setns(own, CLONE_NEWNET), 0);
    ::close(own);
    ::close(peer);
    const sockaddr_in any = Ipv4("0.0.0.0", 68);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "pd1", 4);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
    for (const auto& row : rows) {
        const Bytes datagram = Request(row.xid, row.options);
        const sockaddr_in to = Ipv4(row.to, row.port);
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    std::map<BYTE, Bytes> answers;      // by transaction
    std::map<BYTE, std::string> sentTo; // the destination in its header
    ASSERT_TRUE(Serve(
        [&] {
            BYTE buffer[1500];
            iovec data{buffer, sizeof buffer};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
            msghdr message{nullptr, 0, &data, 1, control, sizeof control, 0};
            for (ssize_t n; (n = ::recvmsg(fd, &message, MSG_DONTWAIT)) >= 240;
                 message.msg_controllen = sizeof control) {
                answers[buffer[7]] = Bytes(buffer, buffer + n);
                sentTo[buffer[7]] =
                    inet_ntoa(reinterpret_cast<in_pktinfo*>(CMSG_DATA(CMSG_FIRSTHDR(&message)))->ipi_addr);
            }
            return answers.contains(2) && answers.contains(4);
        },
        5000));
    ::close(fd);
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.xid));
        ASSERT_EQ(answers.contains(row.xid), *row.file != '\0');
        if (*row.file == '\0')
            continue;
        const Bytes& a = answers[row.xid];
        EXPECT_EQ(sentTo[row.xid], row.answerTo);
        EXPECT_EQ(Bytes(a.begin() + 16, a.begin() + 24), (Bytes{0, 0, 0, 0, 10, 78, 0, 1})); // yiaddr 0, siaddr
        EXPECT_STREQ(reinterpret_cast<const char*>(&a[108]), row.file);
        EXPECT_EQ(Bytes(a.begin() + 240, a.begin() + 249), (Bytes{53, 1, row.type, 54, 4, 10, 78, 0, 1}));
    }
    EXPECT_EQ(boots, (std::vector<std::string>{"52:54:00:00:00:02", "52:54:00:00:00:04"}));
}

TEST_F(ProxyDhcpOnLink, UdhcpcGetsNoLease)
{
    if (!Installed("busybox"))
        GTEST_SKIP() << "busybox is not installed";
    std::string detail;
    ASSERT_EQ(Start(&detail), ProxyDhcpStartError::none) << detail;
    const std::string said = folder / "udhcpc.txt", command = "nsenter -t " + std::to_string(m_peer) +
                                                              " -n busybox udhcpc -f -n -q -t 2 -T 1 -i pd1 "
                                                              "-s /bin/true >" +
                                                              said + " 2>&1";
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = -1;
    ASSERT_TRUE(Serve([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 30000));
    std::stringstream text;
    text << std::ifstream(said).rdbuf();
    EXPECT_NE(text.str().find("discover"), std::string::npos) << text.str();
    EXPECT_EQ(status, 1 << 8) << text.str(); // no lease
    EXPECT_TRUE(boots.empty());
}

// Port 67 held on every interface is refused with its holder's name; held on
// another interface only, it is no hindrance.
TEST_F(ProxyDhcpOnLink, Port67HeldByAnotherProgramIsToldByName)
{
    for (const char* device : {"", "lo"}) {
        SCOPED_TRACE(device);
        const int held = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in any = Ipv4("0.0.0.0", 67);
        if (*device != '\0')
            ::setsockopt(held, SOL_SOCKET, SO_BINDTODEVICE, device, 3);
        ASSERT_EQ(::bind(held, reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
        std::string detail;
        const bool free = *device != '\0';
        EXPECT_EQ(Start(&detail), free ? ProxyDhcpStartError::none : ProxyDhcpStartError::inUse);
        EXPECT_EQ(detail, free ? ""
                               : "UDP port 67 on pd0 is held by another program: integration_tes (" +
                                     std::to_string(::getpid()) + ")");
        server.Stop();
        ::close(held);
    }
}

} // namespace
