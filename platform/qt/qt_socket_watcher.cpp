#include "qt_socket_watcher.h"

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

void CQtSocketWatcher::Watch(CAsyncSocket* pSocket)
{
    if (m_notifiers.count(pSocket) != 0)
        return;
    auto* notifier = new QSocketNotifier(pSocket->m_hSocket, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [pSocket]() {
        // What the socket posts is delivered when its call has returned.
        const CMessageQueue::CDispatch dispatch;
        pSocket->OnReceive(0);
    });
    m_notifiers[pSocket] = notifier;
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
