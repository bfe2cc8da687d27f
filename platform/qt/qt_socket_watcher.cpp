#include "qt_socket_watcher.h"

#include <QEvent>
#include <QSocketNotifier>

#include "message_queue.h"
#include "platform/core/socket.h"

CQtSocketWatcher::CQtSocketWatcher() : m_pPrevious(AfxSetSocketWatcher(this)) {}

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

// Takes the readiness event itself: this runs once per block, and a signal
// and its slot would cost more than the rest of the block's work.
class CSocketNotifier : public QSocketNotifier {
public:
    explicit CSocketNotifier(CAsyncSocket* pSocket)
        : QSocketNotifier(pSocket->m_hSocket, QSocketNotifier::Read), m_pSocket(pSocket)
    {
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::SockAct)
            return QSocketNotifier::event(event);
        // What the socket posts is delivered when its call has returned.
        const CMessageQueue::CDispatch dispatch;
        m_bDispatching = true;
        m_pSocket->OnReceive(0);
        m_bDispatching = false;
        return true;
    }

public:
    bool m_bDispatching = false;

private:
    CAsyncSocket* m_pSocket;
};

} // namespace

void CQtSocketWatcher::Watch(CAsyncSocket* pSocket)
{
    if (m_notifiers.count(pSocket) == 0)
        m_notifiers[pSocket] = std::make_unique<CSocketNotifier>(pSocket);
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
    if (!static_cast<CSocketNotifier*>(owned.get())->m_bDispatching)
        return;
    auto* notifier = owned.release();
    notifier->setEnabled(false);
    notifier->deleteLater();
    std::erase_if(m_closing, [](const QPointer<QSocketNotifier>& gone) { return gone.isNull(); });
    m_closing.emplace_back(notifier);
}
