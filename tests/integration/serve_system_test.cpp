// SPDX-License-Identifier: MIT
// The server where the system takes part, in the namespaces of the tests'
// own (they run as root): replies from the address each request was sent
// to, a broadcast's from the interface's own address; port 69 free again at
// once after Stop; an upload that fills a small tmpfs. Elsewhere they skip,
// but for a listening port freed by Stop, which any port shows.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "own_network.h"
#include "platform/core/socket.h"
#include "protocol/packet.h"
#include "served_folder.h"
#include "server/serve_request.h"
#include "tests/support/fake_peer.h"

namespace {

sockaddr_storage Address(const std::string& text, UINT port)
{
    sockaddr_storage address{};
    if (text.find(':') != std::string::npos) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr);
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, text.c_str(), &v4.sin_addr);
    }
    return address;
}

std::string AddressOnly(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
    else
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    return text;
}

Bytes Request(WORD opcode, const std::string& name)
{
    std::string text{'\0', static_cast<char>(opcode)};
    text += name + '\0' + "octet" + '\0';
    return Bytes(text.begin(), text.end());
}

// A client socket of the test's own that may send to a broadcast address;
// with netFd, a socket of that network namespace.
class Client {
public:
    explicit Client(int family, int netFd = -1)
    {
        const int own = netFd >= 0 ? ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC) : -1;
        if (netFd >= 0) {
            EXPECT_EQ(::setns(netFd, CLONE_NEWNET), 0);
        }
        m_fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (own >= 0) {
            EXPECT_EQ(::setns(own, CLONE_NEWNET), 0);
            ::close(own);
        }
        const int on = 1;
        if (family == AF_INET)
            ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    ~Client() { ::close(m_fd); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void SendTo(const sockaddr_storage& to, const Bytes& datagram)
    {
        ::sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 to.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
    }
    // The datagram waiting now, and in from its sender.
    std::optional<Bytes> TryReceive(sockaddr_storage* pFrom)
    {
        BYTE buffer[1024];
        socklen_t length = sizeof *pFrom;
        const ssize_t n =
            ::recvfrom(m_fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(pFrom), &length);
        if (n < 0)
            return std::nullopt;
        return Bytes(buffer, buffer + n);
    }

private:
    int m_fd = -1;
};

// A served folder on port 69 of every address, in the tests' network
// namespace, with an Ethernet-sized link (one end of a veth pair, MTU 1500,
// subnet 10.77.0.0/24) to a peer in a namespace of its own at 10.77.0.2.
class OnPort69 : public ServedFolder {
protected:
    void SetUp() override
    {
        if (!InOwnNetwork())
            GTEST_SKIP() << "needs a network namespace of the tests' own (they run as root)";
        static const pid_t peer = PeerNetwork();
        static const bool made =
            peer > 0 &&
            std::system(
                ("ip link add tw0 mtu 1500 type veth peer name tw1 && "
                 "ip addr add 10.77.0.1/24 brd + dev tw0 && ip link set tw0 up && ip link set tw1 netns " +
                 std::to_string(peer) + " && nsenter -t " + std::to_string(peer) +
                 " -n sh -c 'ip addr add 10.77.0.2/24 brd + dev tw1 && ip link set tw1 up && ip link set lo up'")
                    .c_str()) == 0;
        static const int peerNet =
            made ? ::open(("/proc/" + std::to_string(peer) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC) : -1;
        ASSERT_TRUE(made);
        m_peer = peerNet;
        StartServing([](ServeConfig& config) {
            config.listen.clear();
            config.nPort = 69;
            config.nMaxBlockSize = TFTP_MAX_BLOCK_SIZE;
        });
        WriteFileBytes(served / "f", Bytes(100, 'f'));
    }

    // Sends a read request to `to` and returns the address the answer came from.
    std::string AnswerFrom(const std::string& to)
    {
        Client client(to.find(':') != std::string::npos ? AF_INET6 : AF_INET);
        client.SendTo(Address(to, 69), Request(1, "f"));
        sockaddr_storage from{};
        std::optional<Bytes> answer;
        Serve([&] { return (answer = client.TryReceive(&from)).has_value(); }, std::chrono::seconds(5));
        if (!answer || answer->size() < 4 || GetWord(answer->data()) != TFTP_OPCODE_DATA)
            return "no DATA";
        return AddressOnly(from);
    }

    int m_peer = -1;
};

TEST_F(OnPort69, RepliesLeaveFromTheAddressEachRequestWasSentTo)
{
    const struct {
        const char* to;
        const char* from;
    } rows[] = {
        {"127.0.0.1", "127.0.0.1"},     {"10.254.0.1", "10.254.0.1"}, {"10.77.0.1", "10.77.0.1"}, {"::1", "::1"},
        {"fd00:254::1", "fd00:254::1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.to);
        EXPECT_EQ(AnswerFrom(row.to), row.from);
    }
}

// From the peer across the link: a block of 65464 asked is granted as
// what fits the link's frame, and a request to the subnet's broadcast
// address draws nothing, which the log says.
TEST_F(OnPort69, TheLinkCapsTheBlockAndABroadcastGetsNoAnswer)
{
    Client client(AF_INET, m_peer);
    const auto answer = [&](const char* to, std::chrono::milliseconds limit) {
        Bytes request = Request(1, "f");
        const std::string blksize("blksize\0"
                                  "65464",
                                  13);
        request.insert(request.end(), blksize.begin(), blksize.end());
        request.push_back(0);
        client.SendTo(Address(to, 69), request);
        sockaddr_storage from{};
        std::optional<Bytes> heard;
        Serve([&] { return (heard = client.TryReceive(&from)).has_value(); }, limit);
        return heard ? std::string(heard->begin() + 2, heard->end()) : std::string("nothing");
    };
    EXPECT_EQ(answer("10.77.0.1", std::chrono::seconds(5)), std::string("blksize\0"
                                                                        "1468\0",
                                                                        13));
    EXPECT_EQ(answer("10.77.0.255", std::chrono::milliseconds(500)), "nothing");
    EXPECT_EQ(server.Running(), 1u);
    EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                            [](const std::string& line) {
                                return line.find("sent to 10.77.0.255: a broadcast") != std::string::npos;
                            }),
              1);
}

TEST_F(OnPort69, StopFreesThePortAtOnce)
{
    Client client(AF_INET);
    client.SendTo(Address("127.0.0.1", 69), Request(1, "f"));
    ASSERT_TRUE(Serve([&] { return server.Running() == 1; }, std::chrono::seconds(5)));
    server.Stop();
    for (const char* any : {"0.0.0.0", "::"}) {
        SCOPED_TRACE(any);
        const int fd = AfxBindDatagramSocket(Address(any, 69));
        EXPECT_GE(fd, 0);
        ::close(fd);
    }
    sockaddr_storage from{};
    std::optional<Bytes> stopped;
    // DATA 1 first, then the ERROR.
    for (int i = 0; i < 2; ++i)
        stopped = client.TryReceive(&from);
    ASSERT_TRUE(stopped.has_value());
    EXPECT_EQ(GetWord(stopped->data()), TFTP_OPCODE_ERROR);
}

// Stop closes the listening socket while a transfer runs: the address can be
// bound again at once, on whatever port the tests may use.
using Served = ServedFolder;

TEST_F(Served, StopFreesTheListeningAddressAtOnce)
{
    WriteFileBytes(served / "f", Bytes(100000, 'f'));
    FakePeer client;
    client.SendTo(port, Request(1, "f"));
    ASSERT_TRUE(Serve([&] { return server.Running() == 1; }, std::chrono::seconds(5)));
    const sockaddr_storage address = server.ListeningAddresses().at(0);
    server.Stop();
    const int fd = AfxBindDatagramSocket(address);
    EXPECT_GE(fd, 0);
    ::close(fd);
}

// A folder on a tmpfs of 1 MiB, in a mount namespace of the tests' own.
class FullDisk : public ServedFolder {
protected:
    void SetUp() override
    {
        if (!InOwnNetwork())
            GTEST_SKIP() << "needs root (the tests' own namespaces)";
        static const bool own =
            ::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        ASSERT_TRUE(own);
        ASSERT_EQ(::mount("tmpfs", served.Path().c_str(), "tmpfs", 0, "size=1m"), 0);
        m_bMounted = true;
        ServedFolder::SetUp();
    }
    void TearDown() override
    {
        ServedFolder::TearDown();
        server.Stop();
        if (m_bMounted)
            ::umount2(served.Path().c_str(), MNT_DETACH);
    }

    bool m_bMounted = false;
};

// Uploads that do not fit: refused before any data when the size is told
// (curl sends tsize), else ended with ERROR 3 when the disk is full; two at
// once that each fit alone fill it. Nothing partial is left.
TEST_F(FullDisk, AnUploadThatFillsTheDiskGetsError3AndLeavesNothing)
{
    WriteFileBytes(local / "big", Bytes(3 << 20, 'b'));
    if (Installed("curl")) {
        EXPECT_NE(Run({"curl", "-s", "-S", "-T", local / "big", "tftp://127.0.0.1:" + std::to_string(port) + "/big"}),
                  0);
        EXPECT_EQ(server.Rows().back().state, ServeState::refused);
    }
    if (Installed("tftp")) {
        Run({"tftp", "127.0.0.1", std::to_string(port), "-c", "put", local / "big", "big"});
        EXPECT_EQ(server.Rows().back().state, ServeState::failed);
    }

    // Two of 700 KiB in turns, block by block.
    FakePeer first;
    FakePeer second;
    FakePeer* const peers[] = {&first, &second};
    const char* const names[] = {"one", "two"};
    WORD block[2] = {0, 0};
    bool over[2] = {false, false};
    int full = 0;
    for (int i = 0; i < 2; ++i)
        peers[i]->SendTo(port, Request(2, names[i]));
    while (!over[0] || !over[1]) {
        for (int i = 0; i < 2; ++i) {
            if (over[i])
                continue;
            std::optional<Bytes> answer;
            ASSERT_TRUE(Serve([&] { return (answer = peers[i]->TryReceive()).has_value(); }, std::chrono::seconds(5)));
            if (GetWord(answer->data()) == TFTP_OPCODE_ERROR) {
                full += GetWord(answer->data() + 2) == TFTP_ERROR_DISK_FULL ? 1 : 0;
                over[i] = true;
            } else if (++block[i] > 1400) {
                over[i] = true; // the last ACK: 700 KiB arrived
            } else {
                peers[i]->Reply(DataPacket(block[i], block[i] == 1400 ? 0 : 512, 'x'));
            }
        }
    }
    EXPECT_GE(full, 1);
    Serve([] { return false; }, std::chrono::milliseconds(50));
    for (const std::string& name : served.Names())
        EXPECT_TRUE(name == "one" || name == "two") << name << ": a partial upload left behind";
}

} // namespace
