// SPDX-License-Identifier: MIT
// CTFTPSocket's time: what goes again when an answer is late, by the tick
// of the plain exchange or by the clock of a negotiated transfer, and when
// the transfer has waited long enough.
#include "client/client_socket.h"

#include <chrono>
#include <string>

#include "protocol/packet.h"

void CTFTPSocket::OnTick()
{
    const CCallScope scope(*this);
    if (m_bClocked || m_wState == TFTP_STATE_IDLE || m_wState == TFTP_STATE_CLOSED || m_wState == TFTP_STATE_RESOLVING)
        return;
    // A negotiated timeout of T seconds resends after T; three periods
    // without an answer end the transfer, as the plain timing does.
    const int ticksPerResend =
        m_granted.nTimeout > 0 ? m_granted.nTimeout * 1000 / static_cast<int>(TFTP_TICK_MS) : TFTP_TICKS_PER_RESEND;
    if (++m_nTicks < ticksPerResend)
        return;
    // The transfer's timeout counts from the last address tried.
    if (NextAddressAfterSilence())
        return;
    if (++m_nRetries > TFTP_RESENDS) {
        m_wState = TFTP_STATE_CLOSED;
        Log("No answer: the transfer timed out");
        if (m_pOwner != nullptr)
            m_pOwner->PostMessage(WM_TFTP_TIMEOUT, 0, 0);
        return;
    }
    int result = 0;
    switch (m_wState) {
    case TFTP_STATE_RRQ_SENT:
    case TFTP_STATE_WRQ_SENT:
        Log("No answer: request sent again");
        result = SendTo(m_pBuffer, m_nLastLength, reinterpret_cast<const sockaddr*>(&m_addrServer),
                        AddressLength(m_addrServer), 0);
        break;
    case TFTP_STATE_WAIT_ACK:
        result = ResendAfterTimeout(true);
        break;
    default:
        Log("No answer: ACK " + std::to_string(GetWord(m_pBuffer + 2)) + " sent again");
        result = Send(m_pBuffer, m_nLastLength, 0);
        break;
    }
    m_nTicks = 0;
    if (!SendSucceeded(result) && m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_FAILED, 0, 0);
}

int CTFTPSocket::ResendAfterTimeout(bool bLog)
{
    m_send.OnTimeout();
    OnSendRoom(); // the block a timeout sends past a full window goes first
    return m_wState == TFTP_STATE_WAIT_ACK ? ResendWindow(bLog) : 0;
}

int CTFTPSocket::ResendWindow(bool bLog)
{
    const int pending = m_send.Repeats();
    const WORD first = m_send.FirstUnacknowledged();
    if (pending > 0 && bLog)
        Log("No answer: DATA " + std::to_string(first) +
            (pending > 1 ? " to " + std::to_string(static_cast<WORD>(first + pending - 1)) : std::string()) +
            " sent again");
    int result = 0;
    for (int i = 0; i < pending && result != SOCKET_ERROR; ++i) {
        int blockLength = 0;
        const BYTE* block = m_send.Repeated(i, &blockLength);
        result = Send(block, blockLength, 0);
    }
    return result;
}

void CTFTPSocket::OnClock()
{
    const CCallScope scope(*this);
    const bool request = m_wState == TFTP_STATE_RRQ_SENT || m_wState == TFTP_STATE_WRQ_SENT;
    if (!m_bClocked || (!request && m_wState != TFTP_STATE_WAIT_ACK && m_wState != TFTP_STATE_WAIT_DATA))
        return;
    const ULONGLONG now = Now();
    if (m_clock.Silent(now)) {
        m_wState = TFTP_STATE_CLOSED;
        Log("No answer for " + std::to_string(m_clock.SilenceLimitMs() / 1000) + " seconds: the transfer timed out");
        if (m_pOwner != nullptr)
            m_pOwner->PostMessage(WM_TFTP_TIMEOUT, 0, 0);
        return;
    }
    if (!m_clock.ResendDue(now))
        return;
    // Quick resends are counted in the link's line at the end; the log
    // tells of a resend once a second one without progress goes.
    // A name's next address, while one is left, has a period of its own.
    if (request && NextAddressAfterSilence())
        return;
    m_clock.OnResend(now);
    int result = 0;
    if (request) {
        Log("No answer: request sent again");
        result = SendTo(m_pBuffer, m_nLastLength, reinterpret_cast<const sockaddr*>(&m_addrServer),
                        AddressLength(m_addrServer), 0);
    } else if (m_wState == TFTP_STATE_WAIT_ACK) {
        result = ResendAfterTimeout(m_clock.ResendsSinceProgress() > 1);
    } else {
        // The ACK of the last block in order: the rest of a window whose
        // last block was lost, or the ACK itself, comes again. Blocks of the
        // old window still on the way draw no ACK of their own.
        if (m_clock.ResendsSinceProgress() > 1)
            Log("No answer: ACK " + std::to_string(m_wBlock) + " sent again");
        m_receive.OnGapAnswered();
        result = SendAck(m_pBuffer, TFTP_HEADER_SIZE, 0);
    }
    if (!SendSucceeded(result) && m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_FAILED, 0, 0);
}

ULONGLONG CTFTPSocket::Now() const
{
    if (m_fnNow)
        return m_fnNow();
    return static_cast<ULONGLONG>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void CTFTPSocket::LogLink()
{
    const CResendTimer& timer = m_clock.Timer();
    std::string line = "Link: round trip ";
    if (timer.HasSample()) {
        const ULONGLONG us = timer.SmoothedUs();
        line.append(std::to_string(us / 1000)).append(".").append(std::to_string(us / 100 % 10)).append(" ms");
    } else {
        line.append("not measured");
    }
    line.append(", ").append(std::to_string(m_clock.Resends())).append(m_clock.Resends() == 1 ? " resend" : " resends");
    line.append(", ").append(std::to_string(m_nKnownLost)).append(" blocks known lost");
    Log(line);
}
