// SPDX-License-Identifier: MIT
// The message target the engine reports to.
#pragma once

#include "afxtypes.h"
#include "ring_queue.h"

struct MSG {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// A window as the engine sees it: something that accepts posted messages.
// Posting never runs a handler before it returns; the message is delivered
// later by the owner's message loop. This base keeps the messages in its own
// queue, which headless drivers and tests read with PeekMessage; the windows
// of the program override PostMessage to hand them to the event loop.
class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    virtual BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Takes (or, with bRemove FALSE, only looks at) the oldest queued message.
    // Returns FALSE when the queue is empty.
    BOOL PeekMessage(MSG* pMsg, BOOL bRemove = TRUE);

private:
    CRingQueue<MSG> m_queue;
};
