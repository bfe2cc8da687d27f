// SPDX-License-Identifier: MIT
// The headless event loop: a socket closed by an earlier call of the same
// round is not called, and a stop signal is reported instead of ending the
// process. (tarnwick-serve's process test covers the rest.)
#include <gtest/gtest.h>

#include <signal.h>

#include "platform/core/event_loop.h"
#include "platform/core/socket.h"
#include "tests/support/fake_peer.h"

namespace {

// Closes its partner when called, as a transfer that ends another would,
// and itself.
class ClosingSocket : public CAsyncSocket {
public:
    void OnReceive(int /*nErrorCode*/) override
    {
        ++calls;
        pPartner->Close();
        Close();
    }
    int calls = 0;
    CAsyncSocket* pPartner = nullptr;
};

TEST(EventLoop, SkipsASocketClosedInTheRoundAndReportsTheStopSignal)
{
    sigset_t before;
    ::sigprocmask(SIG_SETMASK, nullptr, &before);
    {
        CEventLoop loop;
        ASSERT_TRUE(loop.Valid() && loop.CatchSignals({SIGTERM, SIGINT}));
        ClosingSocket first, second;
        ASSERT_TRUE(first.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1") &&
                    second.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
        first.pPartner = &second;
        second.pPartner = &first;
        FakePeer peer;
        peer.SendTo(LocalPort(first.m_hSocket), BytesOf("a"));
        peer.SendTo(LocalPort(second.m_hSocket), BytesOf("b"));
        EXPECT_EQ(loop.RunOnce(2000), 1);
        EXPECT_EQ(first.calls + second.calls, 1);
        EXPECT_EQ(loop.StopSignal(), 0);
        ::raise(SIGTERM);
        EXPECT_EQ(loop.RunOnce(2000), 0);
        EXPECT_EQ(loop.StopSignal(), SIGTERM);
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

} // namespace
