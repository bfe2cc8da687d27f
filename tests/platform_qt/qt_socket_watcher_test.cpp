// SPDX-License-Identifier: MIT
// The Qt socket watcher: how long one notification reads on, and sockets that
// close or go inside their own OnReceive.
#include "platform/qt/qt_socket_watcher.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <optional>

#include "platform/core/socket.h"
#include "tests/support/fake_peer.h"
#include "tests/support/timing.h"

namespace {

using namespace std::chrono_literals;
using Clock = CQtSocketWatcher::Clock;

struct Counts {
    int reads = 0;
    int datagrams = 0;
};

// Reads one datagram a call, as a transfer does, then runs `afterRead` and
// goes on, closes itself or deletes itself.
class CReadingSocket : public CAsyncSocket {
public:
    enum class Then { readOn, close, remove };

    CReadingSocket(Counts& counts, Then then, std::function<void()> afterRead = {})
        : m_counts(counts), m_then(then), m_afterRead(std::move(afterRead))
    {
    }

    void OnReceive(int /*nErrorCode*/) override
    {
        BYTE buffer[16];
        if (Receive(buffer, sizeof buffer) != SOCKET_ERROR)
            ++m_counts.datagrams;
        ++m_counts.reads;
        if (m_afterRead)
            m_afterRead();
        if (m_then == Then::close)
            Close();
        else if (m_then == Then::remove)
            delete this;
    }

private:
    Counts& m_counts;
    Then m_then;
    std::function<void()> m_afterRead;
};

class QtSocketWatcher : public ::testing::Test {
protected:
    // On loopback the datagrams are queued when this returns.
    void Queue(const CAsyncSocket& socket, int count)
    {
        for (int i = 0; i < count; ++i)
            peer.SendTo(LocalPort(socket.m_hSocket), Bytes(4, 'd'));
    }

    // Runs the event loop one pass at a time until `done` (bounded).
    static bool RunUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + Scaled(2s);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents();
        return done();
    }

    Clock::time_point now{};
    FakePeer peer;
};

TEST_F(QtSocketWatcher, ANotificationReadsOnWhileTheBudgetLastsAndDatagramsKeepComing)
{
    const struct {
        const char* name;
        Clock::duration costOfARead; // on the watcher's clock
        int queued;
        int reads; // in the first notification
    } rows[] = {
        {"the budget runs out on the third read", 3ms, 10, 3},
        {"the first read takes it all", CQtSocketWatcher::kAnswerBudget, 10, 1},
        {"until a read finds nothing", 0ms, 4, 5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const CQtSocketWatcher watcher([this] { return now; });
        Counts counts;
        CReadingSocket socket(counts, CReadingSocket::Then::readOn, [&] { now += row.costOfARead; });
        ASSERT_TRUE(socket.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
        Queue(socket, row.queued);
        ASSERT_TRUE(RunUntil([&] { return counts.reads > 0; }));
        EXPECT_EQ(counts.reads, row.reads);
        // The rest come with later notifications.
        EXPECT_TRUE(RunUntil([&] { return counts.datagrams == row.queued; }));
    }
}

TEST_F(QtSocketWatcher, ASocketClosedOrDeletedInItsOwnCallIsCalledNoMore)
{
    using Then = CReadingSocket::Then;
    const struct {
        const char* name;
        Then then;
        bool watcherGoesFirst; // before the event loop runs again
    } rows[] = {
        {"closed", Then::close, false},
        {"closed, the watcher going first", Then::close, true},
        {"deleted", Then::remove, false},
        {"deleted, the watcher going first", Then::remove, true},
        {"left open, the watcher going first", Then::readOn, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<CQtSocketWatcher> watcher(std::in_place, [this] { return now; });
        Counts counts;
        auto* socket = new CReadingSocket(counts, row.then, [this] { now += 1ms; });
        ASSERT_TRUE(socket->Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
        Queue(*socket, 3);
        ASSERT_TRUE(RunUntil([&] { return counts.reads > 0; }));
        EXPECT_EQ(counts.reads, row.then == Then::readOn ? 4 : 1);
        // The closed socket's notifier is deleted by the event loop, or by
        // the watcher when it goes first; a socket left open is let go.
        if (row.watcherGoesFirst)
            watcher.reset();
        QCoreApplication::processEvents();
        if (row.then != Then::remove)
            delete socket;
        watcher.reset();
        QCoreApplication::processEvents();
        EXPECT_EQ(counts.reads, row.then == Then::readOn ? 4 : 1);
    }
}

} // namespace
