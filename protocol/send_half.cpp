// SPDX-License-Identifier: MIT
#include "protocol/send_half.h"

#include <cstring>

#include "protocol/packet.h"

void CSendHalf::Start(int nWindow, int nBlockSize, BYTE* pSlots, int nSlots)
{
    m_nBlockSize = nBlockSize;
    m_bLastSent = false;
    m_window.Reset(nWindow, pSlots, nBlockSize + TFTP_HEADER_SIZE, nSlots);
}

bool CSendHalf::Send(ITransferLink& link, BYTE* pPacket, int nPayload, bool bLast, CTransferClock& clock,
                     ULONGLONG nNowMs)
{
    BYTE* slot = m_window.NextSlot();
    if (nPayload < 0 || nPayload > m_nBlockSize || slot == nullptr || !m_window.CanSend())
        return false;
    const int length = nPayload + TFTP_HEADER_SIZE;
    BuildDataHeader(pPacket, static_cast<WORD>(NewestBlock() + 1));
    if (pPacket != slot)
        std::memcpy(slot, pPacket, static_cast<size_t>(length));
    (void)m_window.OnSent(length);
    m_bLastSent = bLast;
    clock.OnSent(nNowMs);
    if (!link.SendToPeer(pPacket, length))
        return false;
    link.OnBlockSent(nPayload);
    return true;
}

SendFill CSendHalf::Fill(ITransferLink& link, CTFTPFile& file, ULONGLONG nAdmittedSize, CTransferClock& clock,
                         ULONGLONG nNowMs)
{
    while (!m_bLastSent) {
        if ((m_window.NextSlot() == nullptr || m_window.NeedsRoom()) && !link.MakeRoom(m_window))
            return SendFill::failed;
        if (!m_window.CanSend())
            break;
        BYTE* staging = link.StagingPacket();
        BYTE* packet = staging != nullptr ? staging : m_window.NextSlot();
        const int count = file.ReadData(packet + TFTP_HEADER_SIZE, m_nBlockSize);
        const SentFileRead read = JudgeSentRead(file.GetPosition(), count < m_nBlockSize, nAdmittedSize);
        if (read == SentFileRead::changed)
            return SendFill::changed;
        if (!Send(link, packet, count, read == SentFileRead::last, clock, nNowMs))
            return SendFill::failed;
    }
    return SendFill::full;
}

AckTaken CSendHalf::OnAck(ITransferLink& link, int nSlid, CTransferClock& clock, ULONGLONG nNowMs)
{
    AckTaken taken;
    // A duplicate, or the newest again: never a resend (the Sorcerer's Apprentice).
    if (nSlid <= 0)
        return taken;
    taken.nSlid = nSlid;
    for (int i = 0; i < nSlid; ++i) {
        int length = 0;
        (void)m_window.Pending(i, &length);
        taken.nBytes += static_cast<ULONGLONG>(length - TFTP_HEADER_SIZE);
    }
    clock.OnProgress(nNowMs);
    taken.bRewound = m_window.SlideAndRewind(nSlid);
    if (taken.bRewound)
        taken.bSendFailed = !Resend(link);
    return taken;
}

bool CSendHalf::Resend(ITransferLink& link)
{
    const int repeats = m_window.Repeats();
    for (int i = 0; i < repeats; ++i) {
        int length = 0;
        const BYTE* block = m_window.Repeated(i, &length);
        if (!link.SendToPeer(block, length))
            return false;
    }
    return true;
}
