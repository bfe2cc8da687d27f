// SPDX-License-Identifier: MIT
// The event loop of a program without a window: socket readiness from epoll,
// the stop signals from a signalfd, and a timeout that the caller computes
// from its next deadline. Single-threaded; no Qt.
#pragma once

#include <functional>
#include <initializer_list>
#include <unordered_map>

#include "afxtypes.h"
#include "socket_watcher.h"

class CEventLoop : public ISocketWatcher {
public:
    // Installs itself as the socket watcher; the previous one comes back when
    // it goes. Valid() is false when the system would not give an epoll.
    CEventLoop();
    ~CEventLoop() override;
    CEventLoop(const CEventLoop&) = delete;
    CEventLoop& operator=(const CEventLoop&) = delete;

    bool Valid() const { return m_epoll >= 0; }

    void Watch(CAsyncSocket* pSocket) override;
    void Unwatch(CAsyncSocket* pSocket) override;

    // Calls onReady from RunOnce whenever fd, a descriptor that is not a
    // CAsyncSocket's (a library's own epoll set), is readable. fd stays the
    // caller's; it is unwatched before it is closed.
    void WatchFd(int fd, std::function<void()> onReady);
    void UnwatchFd(int fd);

    // Takes the signals (SIGTERM, SIGINT) from their default action: they are
    // blocked, and RunOnce reports them through StopSignal instead. False,
    // with errno set, when they could not be taken.
    bool CatchSignals(std::initializer_list<int> signals);

    // Waits up to nTimeoutMs (-1: until something happens) and calls
    // OnReceive once on each socket with a datagram or an error waiting; a
    // socket unwatched by an earlier call of the same round is skipped.
    // Returns the number of OnReceive calls made.
    int RunOnce(int nTimeoutMs);

    // The first caught signal that has arrived; 0 while none has.
    int StopSignal() const { return m_nStopSignal; }

private:
    int m_epoll = -1;
    int m_signals = -1;
    int m_nStopSignal = 0;
    // The sockets watched, by descriptor: an event for a descriptor no longer
    // here is stale and dropped.
    std::unordered_map<int, CAsyncSocket*> m_sockets;
    std::unordered_map<int, std::function<void()>> m_fds; // by WatchFd
    ISocketWatcher* m_pPrevious = nullptr;
};

// The epoll timeout for a deadline nDeadlineMs (~0ULL: none) seen at nNowMs.
int AfxTimeoutUntil(ULONGLONG nDeadlineMs, ULONGLONG nNowMs);

// CLOCK_MONOTONIC in milliseconds.
ULONGLONG AfxMonotonicMs();
