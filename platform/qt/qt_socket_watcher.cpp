#include "qt_socket_watcher.h"

#include <QEvent>
#include <QSocketNotifier>

#include "message_queue.h"
#include "platform/core/socket.h"

CQtSocketWatcher::CQtSocketWatcher() : m_pPrevious(AfxSetSocketWatcher(this)) {}

CQtSocketWatcher::~CQtSocketWatcher()
{
    AfxSetSocketWatcher(m_pPrevious);
    for (const auto& [socket, notifier] : m_notifiers) {
        socket->DetachWatcher();
        delete notifier;
    }
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
        m_pSocket->OnReceive(0);
        return true;
    }

private:
    CAsyncSocket* m_pSocket;
};

} // namespace

void CQtSocketWatcher::Watch(CAsyncSocket* pSocket)
{
    if (m_notifiers.count(pSocket) == 0)
        m_notifiers[pSocket] = new CSocketNotifier(pSocket);
}

void CQtSocketWatcher::Unwatch(CAsyncSocket* pSocket)
{
    const auto it = m_notifiers.find(pSocket);
    if (it == m_notifiers.end())
        return;
    // The socket may be closing inside its own notification: the notifier
    // goes when control is back in the event loop.
    it->second->setEnabled(false);
    it->second->deleteLater();
    m_notifiers.erase(it);
}
