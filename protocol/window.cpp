// SPDX-License-Identifier: MIT
#include "protocol/window.h"

#include <algorithm>

void CSendWindow::Reset(int nWindow, BYTE* pSlots, int nSlotSize, int nSlots)
{
    m_nWindow = std::clamp(nWindow, 1, TFTP_MAX_WINDOW_SIZE);
    m_nSlots = nSlots > 0 ? std::min(nSlots, SendWindowSlots(m_nWindow)) : m_nWindow;
    m_pSlots = pSlots;
    m_nSlotSize = nSlotSize;
    m_nHead = 0;
    m_nOutstanding = 0;
    m_wFirst = 1;
    m_bRewound = false;
    m_bProbeDue = false;
    m_nRepeats = 0;
    m_nRepeatsPast = 0;
}

BYTE* CSendWindow::SlotAt(int nIndex) const
{
    if (m_pSlots == nullptr)
        return nullptr;
    const int slot = (m_nHead + nIndex) % m_nSlots;
    return m_pSlots + static_cast<size_t>(slot) * static_cast<size_t>(m_nSlotSize);
}

void CSendWindow::MoveTo(BYTE* pSlots, int nSlots)
{
    int lengths[TFTP_MAX_WINDOW_SIZE];
    for (int i = 0; i < m_nOutstanding; ++i) {
        const BYTE* block = Pending(i, &lengths[i]);
        if (block != nullptr)
            std::copy(block, block + lengths[i], pSlots + static_cast<size_t>(i) * static_cast<size_t>(m_nSlotSize));
    }
    m_pSlots = pSlots;
    m_nSlots = std::clamp(nSlots, std::max(m_nOutstanding, 1), SendWindowSlots(m_nWindow));
    m_nHead = 0;
    std::copy(lengths, lengths + m_nOutstanding, m_anLength);
}

WORD CSendWindow::OnSent(int nLength)
{
    const WORD block = static_cast<WORD>(m_wFirst + m_nOutstanding);
    m_anLength[(m_nHead + m_nOutstanding) % m_nSlots] = nLength;
    ++m_nOutstanding;
    m_bProbeDue = false;
    return block;
}

int CSendWindow::Acknowledges(WORD wBlock) const
{
    // ACK n covers every block up to n; the distance is taken modulo 65536,
    // so a window may hold blocks 65535 and 0 side by side.
    const int covered = static_cast<WORD>(wBlock - m_wFirst + 1);
    if (covered == 0)
        return m_nOutstanding == 0 ? 0 : -1;
    return covered <= m_nOutstanding ? covered : -1;
}

void CSendWindow::Slide(int nBlocks)
{
    nBlocks = std::clamp(nBlocks, 0, m_nOutstanding);
    m_wFirst = static_cast<WORD>(m_wFirst + nBlocks);
    m_nHead = (m_nHead + nBlocks) % m_nSlots;
    m_nOutstanding -= nBlocks;
    if (nBlocks > 0)
        m_bProbeDue = false;
    m_nRepeats = 0;
    m_nRepeatsPast = 0;
}

bool CSendWindow::SlideAndRewind(int nBlocks)
{
    if (m_bRewound && static_cast<WORD>(m_wRewindEnd - m_wFirst) < static_cast<WORD>(nBlocks))
        m_bRewound = false;
    Slide(nBlocks);
    if (m_nOutstanding == 0 || m_bRewound)
        return false;
    m_bRewound = true;
    m_wRewindEnd = static_cast<WORD>(m_wFirst + m_nOutstanding - 1);
    m_nRepeats = m_nOutstanding;
    m_nRepeatsPast = 0;
    return true;
}

const BYTE* CSendWindow::Pending(int nIndex, int* pLength) const
{
    *pLength = m_anLength[(m_nHead + nIndex) % m_nSlots];
    return SlotAt(nIndex);
}

int CSendWindow::OnTimeout()
{
    m_bProbeDue = m_nWindow > 1 && m_nOutstanding >= m_nWindow && m_nOutstanding < SendWindowSlots(m_nWindow);
    m_nRepeats = m_nOutstanding;
    m_nRepeatsPast = std::max(m_nOutstanding - m_nWindow, 0);
    return m_nRepeats;
}

const BYTE* CSendWindow::Repeated(int nIndex, int* pLength) const
{
    // The blocks past the window first, then the window.
    return Pending(nIndex < m_nRepeatsPast ? m_nWindow + nIndex : nIndex - m_nRepeatsPast, pLength);
}

void CReceiveWindow::Reset(int nWindow)
{
    m_nWindow = std::clamp(nWindow, 1, TFTP_MAX_WINDOW_SIZE);
    m_nSinceAck = 0;
    m_bGapAnswered = false;
    m_bRepeatSeen = false;
}

TftpBlockKind CReceiveWindow::Judge(WORD wBlock, WORD wAwaited) const
{
    const int ahead = static_cast<WORD>(wBlock - wAwaited);
    if (ahead == 0)
        return TftpBlockKind::InOrder;
    // A block lost in a window makes every later block of that window a
    // gap; one ACK answers them all.
    if (ahead < m_nWindow && !m_bGapAnswered)
        return TftpBlockKind::Gap;
    return TftpBlockKind::Ignore;
}

bool CReceiveWindow::OnInOrder(bool bLast)
{
    m_bGapAnswered = false;
    m_bRepeatSeen = false;
    if (++m_nSinceAck < m_nWindow && !bLast)
        return false;
    m_nSinceAck = 0;
    return true;
}

void CReceiveWindow::OnGapAnswered()
{
    m_bGapAnswered = true;
    m_nSinceAck = 0;
}

bool CReceiveWindow::OnIgnored(WORD wBlock, WORD wAwaited)
{
    // The sender holds at most a window past the ACK before the last one,
    // which was at most the blocks taken since plus a window back.
    const int behind = static_cast<WORD>(wAwaited - wBlock);
    if (behind == 0 || behind > m_nWindow + m_nSinceAck)
        return false;
    const bool repeat = !m_bRepeatSeen || static_cast<WORD>(wBlock - m_wRepeatLast) == 0 ||
                        static_cast<WORD>(wBlock - m_wRepeatLast) > 0x8000;
    m_bRepeatSeen = true;
    m_wRepeatLast = wBlock;
    if (repeat)
        m_nSinceAck = 0; // the ACK it calls for starts the sender's next window
    return repeat;
}
