// SPDX-License-Identifier: MIT
#include "message_queue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include "dialog.h"

namespace {

// Receives the event that wakes the loop for messages posted outside a dispatch.
class CWaker : public QObject {
public:
    static QEvent::Type Type()
    {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

protected:
    void customEvent(QEvent* event) override
    {
        if (event->type() == Type())
            CMessageQueue::Instance().Drain();
    }
};

} // namespace

CMessageQueue& CMessageQueue::Instance()
{
    static CMessageQueue queue;
    return queue;
}

void CMessageQueue::Post(CDialog* pTarget, UINT message, WPARAM wParam, LPARAM lParam)
{
    m_queue.Push(Entry{pTarget, message, wParam, lParam});
    if (m_nDispatchDepth == 0)
        Wake();
}

void CMessageQueue::Wake()
{
    if (m_bWakePending || QCoreApplication::instance() == nullptr)
        return;
    if (m_pWaker == nullptr) {
        m_pWaker = new CWaker;
        QObject::connect(QCoreApplication::instance(), &QObject::destroyed, [this]() {
            delete m_pWaker;
            m_pWaker = nullptr;
            m_bWakePending = false;
        });
    }
    m_bWakePending = true;
    QCoreApplication::postEvent(m_pWaker, new QEvent(CWaker::Type()));
}

void CMessageQueue::Drain()
{
    m_bWakePending = false;
    ++m_nDispatchDepth;
    // One at a time: a handler may run a nested loop that delivers the rest.
    while (!m_queue.Empty()) {
        const Entry entry = m_queue.Front();
        m_queue.Pop();
        if (entry.pTarget != nullptr)
            entry.pTarget->SendMessage(entry.message, entry.wParam, entry.lParam);
    }
    --m_nDispatchDepth;
}

void CMessageQueue::Forget(const CDialog* pTarget)
{
    for (std::size_t i = 0; i < m_queue.Size(); ++i) {
        Entry& entry = m_queue.At(i);
        if (entry.pTarget == pTarget)
            entry.pTarget = nullptr;
    }
}
