// SPDX-License-Identifier: MIT
#include "wnd.h"

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    m_queue.Push(MSG{message, wParam, lParam});
    return TRUE;
}

BOOL CWnd::PeekMessage(MSG* pMsg, BOOL bRemove)
{
    if (m_queue.Empty())
        return FALSE;
    if (pMsg != nullptr)
        *pMsg = m_queue.Front();
    if (bRemove)
        m_queue.Pop();
    return TRUE;
}
