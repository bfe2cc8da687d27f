// SPDX-License-Identifier: MIT
#include "platform/core/socket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/core/socket_watcher.h"
#include "tests/support/fake_peer.h"

namespace {

sockaddr_in Loopback(UINT port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

TEST(AsyncSocket, ReceivesWholeDatagramsAndRefusesLongerOnes)
{
    CAsyncSocket sock;
    ASSERT_TRUE(sock.Create());
    FakePeer peer;
    const UINT port = LocalPort(sock.m_hSocket);

    BYTE buffer[520];
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    peer.SendTo(port, Bytes(520, 7));
    ASSERT_TRUE(WaitReadable(sock.m_hSocket));
    EXPECT_EQ(sock.ReceiveFrom(buffer, sizeof buffer, reinterpret_cast<sockaddr*>(&sender), &senderLength), 520);
    EXPECT_EQ(ntohs(sender.sin_port), peer.Port());

    peer.SendTo(port, Bytes(521, 7));
    peer.SendTo(port, Bytes(3, 1));
    ASSERT_TRUE(WaitReadable(sock.m_hSocket));
    EXPECT_EQ(sock.ReceiveFrom(buffer, sizeof buffer, reinterpret_cast<sockaddr*>(&sender), &senderLength),
              SOCKET_ERROR);
    EXPECT_EQ(CAsyncSocket::GetLastError(), EMSGSIZE);
    // The long datagram is gone; the next one is read whole.
    EXPECT_EQ(sock.ReceiveFrom(buffer, sizeof buffer, reinterpret_cast<sockaddr*>(&sender), &senderLength), 3);

    const sockaddr_in peerAddress = Loopback(peer.Port());
    ASSERT_TRUE(sock.Connect(reinterpret_cast<const sockaddr*>(&peerAddress), sizeof peerAddress));
    peer.SendTo(port, Bytes(600, 7));
    ASSERT_TRUE(WaitReadable(sock.m_hSocket));
    EXPECT_EQ(sock.Receive(buffer, sizeof buffer), SOCKET_ERROR);
    EXPECT_EQ(CAsyncSocket::GetLastError(), EMSGSIZE);
    EXPECT_EQ(sock.Receive(buffer, sizeof buffer), SOCKET_ERROR);
    EXPECT_EQ(CAsyncSocket::GetLastError(), EAGAIN);
}

TEST(AsyncSocket, AReadWaitsOnlyInsideAReceiveWait)
{
    struct Row {
        bool queued;
        bool inWait;
        bool read;
        bool timedOut;
    };
    const Row rows[] = {
        {true, false, true, false},
        {false, false, false, false}, // at once, nothing to time
        {true, true, true, false},
        {false, true, false, true},
    };
    CAsyncSocket sock;
    ASSERT_TRUE(sock.Create());
    FakePeer peer;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.queued * 10 + row.inWait);
        if (row.queued)
            peer.SendTo(LocalPort(sock.m_hSocket), Bytes(4, 1));
        BYTE buffer[8];
        sockaddr_in sender{};
        int senderLength = sizeof sender;
        const auto read = [&] {
            return sock.ReceiveFrom(buffer, sizeof buffer, reinterpret_cast<sockaddr*>(&sender), &senderLength);
        };
        bool timedOut = false;
        int result;
        if (row.inWait) {
            const CReceiveWait wait;
            result = read();
            timedOut = wait.TimedOut();
        } else {
            result = read();
        }
        EXPECT_EQ(result, row.read ? 4 : SOCKET_ERROR);
        EXPECT_EQ(timedOut, row.timedOut);
        if (!row.read) {
            EXPECT_EQ(CAsyncSocket::GetLastError(), EAGAIN);
        }
    }
}

class CountingSocket : public CAsyncSocket {
public:
    void OnReceive(int) override
    {
        ++calls;
        if (closeOther != nullptr)
            closeOther->Close();
        BYTE buffer[16];
        Receive(buffer, sizeof buffer);
    }
    int calls = 0;
    CAsyncSocket* closeOther = nullptr;
};

TEST(PollSocketWatcher, OneCallPerWaitingDatagramAndNoneAfterClose)
{
    CPollSocketWatcher watcher;
    CountingSocket first;
    CountingSocket second;
    CountingSocket unwatched;
    ASSERT_TRUE(first.Create());
    ASSERT_TRUE(second.Create());
    ASSERT_TRUE(unwatched.Create(0, SOCK_DGRAM, 0));
    FakePeer peer;

    peer.SendTo(LocalPort(first.m_hSocket), Bytes{1});
    peer.SendTo(LocalPort(first.m_hSocket), Bytes{2});
    peer.SendTo(LocalPort(unwatched.m_hSocket), Bytes{3});
    EXPECT_EQ(watcher.RunOnce(2000), 1);
    EXPECT_EQ(watcher.RunOnce(2000), 1);
    EXPECT_EQ(watcher.RunOnce(0), 0);
    EXPECT_EQ(first.calls, 2);
    EXPECT_EQ(unwatched.calls, 0);

    // A socket closed during a round is not called in it.
    first.closeOther = &second;
    second.closeOther = &first;
    peer.SendTo(LocalPort(first.m_hSocket), Bytes{4});
    peer.SendTo(LocalPort(second.m_hSocket), Bytes{5});
    ASSERT_TRUE(WaitReadable(second.m_hSocket));
    EXPECT_EQ(watcher.RunOnce(2000), 1);
    EXPECT_EQ(first.calls + second.calls, 3);
    EXPECT_EQ(watcher.RunOnce(0), 0);
}

// A socket on every address learns where each datagram was sent, and
// answers from there.
TEST(AsyncSocket, ReceivesWithTheLocalAddressAndSendsFromIt)
{
    sockaddr_in any = Loopback(0);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    sockaddr_storage bindTo{};
    std::memcpy(&bindTo, &any, sizeof any);
    const int fd = AfxBindDatagramSocket(bindTo);
    ASSERT_GE(fd, 0);
    CAsyncSocket sock;
    ASSERT_TRUE(sock.Attach(fd, 0));
    ASSERT_TRUE(sock.EnablePacketInfo());
    const UINT port = LocalPort(fd);
    for (const char* to : {"127.0.0.1", "127.0.0.2", "127.0.0.3"}) {
        SCOPED_TRACE(to);
        FakePeer peer;
        peer.SendTo(port, Bytes(4, 1), to);
        ASSERT_TRUE(WaitReadable(fd));
        BYTE buffer[16];
        sockaddr_storage from{};
        sockaddr_storage local{};
        ASSERT_EQ(sock.ReceiveFromWithLocal(buffer, sizeof buffer, &from, &local), 4);
        char text[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(local).sin_addr, text, sizeof text);
        EXPECT_STREQ(text, to);
        ASSERT_EQ(sock.SendToFrom(buffer, 4, from, local), 4);
        ASSERT_TRUE(peer.Receive().has_value());
        EXPECT_EQ(peer.LastSenderAddress(), to);
        EXPECT_EQ(peer.LastSenderPort(), port);
    }
}

} // namespace
