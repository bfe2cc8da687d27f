// SPDX-License-Identifier: MIT
#include "protocol/receive_half.h"

#include "protocol/packet.h"

void CReceiveHalf::Start(int nWindow)
{
    m_window.Reset(nWindow);
    m_wAwaited = 1;
}

bool CReceiveHalf::OnInOrder(bool bLast)
{
    ++m_wAwaited;
    return m_window.OnInOrder(bLast);
}

bool CReceiveHalf::SendAck(ITransferLink& link)
{
    BYTE ack[TFTP_HEADER_SIZE];
    return link.SendToPeer(ack, BuildAck(ack, LastInOrder()));
}

bool CReceiveHalf::Acknowledge(ITransferLink& link, CTransferClock& clock, ULONGLONG nNowMs)
{
    clock.OnSent(nNowMs);
    return SendAck(link);
}

bool CReceiveHalf::OnGap(ITransferLink& link, CTransferClock& clock, ULONGLONG nNowMs)
{
    m_window.OnGapAnswered();
    return Acknowledge(link, clock, nNowMs);
}

bool CReceiveHalf::OnIgnored(ITransferLink& link, WORD wBlock, CTransferClock& clock, ULONGLONG nNowMs)
{
    if (!m_window.OnIgnored(wBlock, m_wAwaited))
        return true;
    return Acknowledge(link, clock, nNowMs);
}

bool CReceiveHalf::Resend(ITransferLink& link)
{
    m_window.OnGapAnswered();
    return SendAck(link);
}
