#include "wnd.h"

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    m_queue.push_back(MSG{message, wParam, lParam});
    return TRUE;
}

BOOL CWnd::PeekMessage(MSG* pMsg, BOOL bRemove)
{
    if (m_queue.empty())
        return FALSE;
    if (pMsg != nullptr)
        *pMsg = m_queue.front();
    if (bRemove)
        m_queue.pop_front();
    return TRUE;
}
