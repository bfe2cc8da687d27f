// SPDX-License-Identifier: MIT
#include "session_driver.h"

#include "platform/core/socket_watcher.h"

TransferOutcome RunTransfer(CTFTPSession& session, CWnd& owner, const char* host, const char* localPath,
                            const char* remoteName, WORD direction, WORD mode, std::chrono::milliseconds tick,
                            std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    TransferOutcome outcome;
    CPollSocketWatcher watcher;
    if (!session.Start(host, localPath, remoteName, direction, mode))
        return outcome;

    const auto deadline = Clock::now() + limit;
    auto nextTick = Clock::now() + tick;
    // A transfer timed by its round trip reads the steady clock itself and
    // is only woken every TFTP_CLOCK_MS, as the window does.
    const auto clockPeriod = std::chrono::milliseconds(TFTP_CLOCK_MS);
    auto nextClock = Clock::now() + clockPeriod;
    while (outcome.endMessage == 0 && Clock::now() < deadline) {
        const auto wake = session.Clocked() ? std::min(nextTick, nextClock) : nextTick;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now());
        const int calls = watcher.RunOnce(static_cast<int>(std::max<long long>(wait.count(), 0)));
        const auto now = Clock::now();
        // A tick counts only once what has arrived is read (unless datagrams
        // keep coming for a whole period), and the next period starts from
        // it: a stall of this process costs one tick, never a burst of ticks
        // that the peer had no chance to answer.
        if (now >= nextTick && (calls == 0 || now >= nextTick + tick)) {
            session.OnTick();
            nextTick = now + tick;
        }
        if (session.Clocked() && now >= nextClock) {
            session.OnClock();
            nextClock = now + clockPeriod;
        }
        MSG msg;
        while (owner.PeekMessage(&msg)) {
            outcome.messages.push_back(msg.message);
            if (msg.message == WM_TFTP_PROGRESS) {
                outcome.progressBytes += static_cast<unsigned long long>(msg.lParam);
                ++outcome.progressMessages;
            }
            if (msg.message == WM_TFTP_COMPLETE || msg.message == WM_TFTP_FAILED || msg.message == WM_TFTP_TIMEOUT)
                outcome.endMessage = msg.message;
        }
    }
    return outcome;
}

std::vector<UINT> TakeMessages(CWnd& owner)
{
    std::vector<UINT> messages;
    MSG msg;
    while (owner.PeekMessage(&msg))
        messages.push_back(msg.message);
    return messages;
}
