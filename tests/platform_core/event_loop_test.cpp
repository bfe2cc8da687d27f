// SPDX-License-Identifier: MIT
// The headless event loop: readiness reaches OnReceive, a socket closed in
// the round is not called, and a stop signal is reported instead of ending
// the process.
#include <gtest/gtest.h>

#include <signal.h>

#include <memory>

#include "platform/core/event_loop.h"
#include "platform/core/socket.h"
#include "tests/support/fake_peer.h"

namespace {

// Counts its calls; closes its partner on the first, as a transfer that ends
// another would.
class CountingSocket : public CAsyncSocket {
public:
    void OnReceive(int /*nErrorCode*/) override
    {
        ++calls;
        BYTE buffer[64];
        sockaddr_storage from{};
        int length = sizeof from;
        (void)ReceiveFrom(buffer, sizeof buffer, reinterpret_cast<sockaddr*>(&from), &length);
        if (pPartner != nullptr)
            pPartner->Close();
    }
    int calls = 0;
    CAsyncSocket* pPartner = nullptr;
};

TEST(EventLoop, CallsEachReadySocketOnceAndSkipsOneClosedInTheRound)
{
    CEventLoop loop;
    ASSERT_TRUE(loop.Valid());
    CountingSocket first, second;
    ASSERT_TRUE(first.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
    ASSERT_TRUE(second.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
    first.pPartner = &second;
    second.pPartner = &first;
    FakePeer peer;
    peer.SendTo(LocalPort(first.m_hSocket), BytesOf("a"));
    peer.SendTo(LocalPort(second.m_hSocket), BytesOf("b"));
    EXPECT_EQ(loop.RunOnce(2000), 1);
    EXPECT_EQ(first.calls + second.calls, 1);
    EXPECT_EQ(loop.RunOnce(0), 0) << "nothing is watched any more";
}

TEST(EventLoop, ACaughtSignalIsReportedAndTheProcessGoesOn)
{
    sigset_t before;
    ::sigprocmask(SIG_SETMASK, nullptr, &before);
    {
        CEventLoop loop;
        ASSERT_TRUE(loop.CatchSignals({SIGTERM, SIGINT}));
        EXPECT_EQ(loop.RunOnce(0), 0);
        EXPECT_EQ(loop.StopSignal(), 0);
        ::raise(SIGINT);
        ::raise(SIGTERM);
        loop.RunOnce(2000);
        EXPECT_EQ(loop.StopSignal(), SIGINT) << "the first one counts";
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

TEST(EventLoop, TheTimeoutComesFromTheDeadline)
{
    const struct {
        ULONGLONG deadline, now;
        int timeout;
    } rows[] = {{~0ULL, 5, -1}, {100, 40, 60}, {40, 40, 0}, {10, 40, 0}, {1ULL << 40, 0, 2147483647}};
    for (const auto& row : rows)
        EXPECT_EQ(AfxTimeoutUntil(row.deadline, row.now), row.timeout) << row.deadline << " at " << row.now;
}

} // namespace
