// SPDX-License-Identifier: MIT
#include "qt_socket_watcher.h"

#include <chrono>
#include <utility>

#include <QEvent>
#include <QSocketNotifier>

#include "message_queue.h"
#include "platform/core/socket.h"

CQtSocketWatcher::CQtSocketWatcher(std::function<Clock::time_point()> now)
    : m_pPrevious(AfxSetSocketWatcher(this)), m_now(std::move(now))
{
}

CQtSocketWatcher::~CQtSocketWatcher()
{
    AfxSetSocketWatcher(m_pPrevious);
    for (const auto& [socket, notifier] : m_notifiers)
        socket->DetachWatcher();
    m_notifiers.clear();
    for (const QPointer<QSocketNotifier>& notifier : m_closing)
        delete notifier.data();
}

namespace {

using Clock = CQtSocketWatcher::Clock;

// Takes the readiness event itself: this runs once per block, and a signal
// and its slot would cost more than the rest of the block's work.
//
// A transfer is lock-step: each datagram is answered, and the next one comes
// back a round trip later. Going back to the event loop between the two
// costs more than the block's own work (under X, a flush of the display
// connection each time), so after the datagram that woke it the notifier
// reads the next one where it is, each read waiting a little for its
// datagram (CReceiveWait), for as long as the budget lasts. Each datagram is
// still one OnReceive call, followed by the delivery of what it posted.
class CSocketNotifier : public QSocketNotifier {
public:
    CSocketNotifier(CAsyncSocket* pSocket, const std::function<Clock::time_point()>& now)
        : QSocketNotifier(pSocket->m_hSocket, QSocketNotifier::Read), m_pSocket(pSocket), m_now(now)
    {
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::SockAct)
            return QSocketNotifier::event(event);
        // While this runs, a socket closed by what it calls (the session
        // deleted at the end of the transfer) only disables its notifier,
        // which is deleted later: so the notifier checks itself after each
        // datagram and goes no further once it is disabled.
        ++m_nDispatchDepth;
        const Clock::time_point deadline = m_now() + CQtSocketWatcher::kAnswerBudget;
        for (bool first = true;; first = false) {
            bool timedOut = false;
            {
                // What the socket posts is delivered when its call has returned.
                const CMessageQueue::CDispatch dispatch;
                if (first) {
                    m_pSocket->OnReceive(0);
                } else {
                    const CReceiveWait wait;
                    m_pSocket->OnReceive(0);
                    timedOut = wait.TimedOut();
                }
            }
            if (timedOut || !isEnabled() || m_now() >= deadline)
                break;
        }
        --m_nDispatchDepth;
        return true;
    }

public:
    // Nonzero while event() runs; a message box inside it may run it again.
    int m_nDispatchDepth = 0;

private:
    CAsyncSocket* m_pSocket;
    // The watcher's clock; the watcher outlives its notifiers.
    const std::function<Clock::time_point()>& m_now;
};

} // namespace

void CQtSocketWatcher::Watch(CAsyncSocket* pSocket)
{
    if (m_notifiers.count(pSocket) == 0)
        m_notifiers[pSocket] = std::make_unique<CSocketNotifier>(pSocket, m_now);
}

void CQtSocketWatcher::Unwatch(CAsyncSocket* pSocket)
{
    const auto it = m_notifiers.find(pSocket);
    if (it == m_notifiers.end())
        return;
    // A socket closing inside its own notification: its notifier goes when
    // control is back in the event loop, or with the watcher at the latest.
    std::unique_ptr<QSocketNotifier> owned = std::move(it->second);
    m_notifiers.erase(it);
    if (static_cast<CSocketNotifier*>(owned.get())->m_nDispatchDepth == 0)
        return;
    auto* notifier = owned.release();
    notifier->setEnabled(false);
    notifier->deleteLater();
    std::erase_if(m_closing, [](const QPointer<QSocketNotifier>& gone) { return gone.isNull(); });
    m_closing.emplace_back(notifier);
}
