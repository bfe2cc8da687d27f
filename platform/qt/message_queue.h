// SPDX-License-Identifier: MIT
// The program's posted messages: one first-in, first-out queue for all
// windows, delivered by the event loop after the call that posted them.
#pragma once

#include "platform/core/afxtypes.h"
#include "platform/core/ring_queue.h"

class CDialog;
class QObject;

class CMessageQueue {
public:
    static CMessageQueue& Instance();

    // Queues the message. Inside a dispatch (a socket notification, a timer,
    // a delivery) it goes out when that dispatch ends; otherwise the event
    // loop is woken to deliver it. No allocation once the queue has grown to
    // its working size.
    void Post(CDialog* pTarget, UINT message, WPARAM wParam, LPARAM lParam);
    // Delivers every queued message, and those its handlers post, in order.
    void Drain();
    // Drops the messages queued for a window that is going away.
    void Forget(const CDialog* pTarget);

    // Marks a dispatch from the event loop; its end delivers what it posted.
    class CDispatch {
    public:
        CDispatch() { ++Instance().m_nDispatchDepth; }
        ~CDispatch()
        {
            --Instance().m_nDispatchDepth;
            Instance().Drain();
        }
        CDispatch(const CDispatch&) = delete;
        CDispatch& operator=(const CDispatch&) = delete;
    };

private:
    struct Entry {
        CDialog* pTarget;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    CMessageQueue() = default;
    void Wake();

    CRingQueue<Entry> m_queue{256};
    int m_nDispatchDepth = 0;
    bool m_bWakePending = false;
    QObject* m_pWaker = nullptr;
};
