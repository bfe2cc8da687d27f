// SPDX-License-Identifier: MIT
#include "event_loop.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

#include "socket.h"

namespace {

// Readiness events taken per wait; more wait for the next round.
constexpr int kEventsPerWait = 64;

} // namespace

CEventLoop::CEventLoop() : m_epoll(::epoll_create1(EPOLL_CLOEXEC)), m_pPrevious(AfxSetSocketWatcher(this)) {}

CEventLoop::~CEventLoop()
{
    AfxSetSocketWatcher(m_pPrevious);
    for (const auto& [fd, socket] : m_sockets)
        socket->DetachWatcher();
    if (m_signals >= 0)
        ::close(m_signals);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

void CEventLoop::Watch(CAsyncSocket* pSocket)
{
    const int fd = pSocket->m_hSocket;
    if (fd < 0 || m_sockets.count(fd) != 0)
        return;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0)
        m_sockets[fd] = pSocket;
}

void CEventLoop::Unwatch(CAsyncSocket* pSocket)
{
    const auto found = m_sockets.find(pSocket->m_hSocket);
    if (found == m_sockets.end() || found->second != pSocket)
        return;
    // Still open: the socket leaves before its descriptor is closed.
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, found->first, nullptr);
    m_sockets.erase(found);
}

void CEventLoop::WatchFd(int fd, std::function<void()> onReady)
{
    if (fd < 0 || m_sockets.count(fd) != 0 || m_fds.count(fd) != 0)
        return;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0)
        m_fds[fd] = std::move(onReady);
}

void CEventLoop::UnwatchFd(int fd)
{
    if (m_fds.erase(fd) != 0)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
}

bool CEventLoop::CatchSignals(std::initializer_list<int> signals)
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : signals)
        sigaddset(&set, signal);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
        return false;
    m_signals = ::signalfd(m_signals, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_signals < 0)
        return false;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = m_signals;
    return ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_signals, &event) == 0 || errno == EEXIST;
}

int CEventLoop::RunOnce(int nTimeoutMs)
{
    epoll_event events[kEventsPerWait];
    const int count = ::epoll_wait(m_epoll, events, kEventsPerWait, nTimeoutMs);
    int calls = 0;
    for (int i = 0; i < count; ++i) {
        const int fd = events[i].data.fd;
        if (fd == m_signals) {
            signalfd_siginfo info{};
            while (::read(m_signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                if (m_nStopSignal == 0)
                    m_nStopSignal = static_cast<int>(info.ssi_signo);
            continue;
        }
        if (const auto other = m_fds.find(fd); other != m_fds.end()) {
            // A copy: the call may unwatch its own descriptor.
            const std::function<void()> onReady = other->second;
            onReady();
            ++calls;
            continue;
        }
        // Gone since the wait (closed by an earlier call of this round): skipped.
        const auto found = m_sockets.find(fd);
        if (found == m_sockets.end())
            continue;
        found->second->OnReceive(0);
        ++calls;
    }
    return calls;
}

int AfxTimeoutUntil(ULONGLONG nDeadlineMs, ULONGLONG nNowMs)
{
    if (nDeadlineMs == ~0ULL)
        return -1;
    if (nDeadlineMs <= nNowMs)
        return 0;
    return nDeadlineMs - nNowMs > static_cast<ULONGLONG>(INT_MAX) ? INT_MAX : static_cast<int>(nDeadlineMs - nNowMs);
}

ULONGLONG AfxMonotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000ULL + static_cast<ULONGLONG>(now.tv_nsec) / 1000000ULL;
}
