// SPDX-License-Identifier: MIT
// CTFTPSocket's time: what goes again when an answer is late, and when the
// transfer has waited long enough. One clock for every transfer: adaptive
// for a negotiated one, read every TFTP_CLOCK_MS; a fixed period of three
// seconds (or the granted timeout) for the plain exchange, read every tick.
#include "client/client_socket.h"

#include <chrono>
#include <string>

#include "protocol/packet.h"

ULONGLONG CTFTPSocket::ClockNow() const
{
    return m_bClocked ? Now() : static_cast<ULONGLONG>(m_nTicks) * TFTP_TICK_MS;
}

void CTFTPSocket::StartClock()
{
    ULONGLONG fixed = 0;
    if (!m_bClocked)
        fixed = m_granted.nTimeout > 0 ? static_cast<ULONGLONG>(m_granted.nTimeout) * 1000
                                       : static_cast<ULONGLONG>(TFTP_TICKS_PER_RESEND) * TFTP_TICK_MS;
    m_clock.Start(fixed, ClockNow());
}

void CTFTPSocket::OnTick()
{
    const CCallScope scope(*this);
    ++m_nTicks;
    if (!m_bClocked)
        RunClock(ClockNow());
}

void CTFTPSocket::OnClock()
{
    const CCallScope scope(*this);
    if (m_bClocked)
        RunClock(Now());
}

void CTFTPSocket::RunClock(ULONGLONG nNowMs)
{
    const bool request = m_wState == TFTP_STATE_RRQ_SENT || m_wState == TFTP_STATE_WRQ_SENT;
    if (!request && m_wState != TFTP_STATE_WAIT_ACK && m_wState != TFTP_STATE_WAIT_DATA)
        return;
    // Two resends without an answer; the third period ends the transfer.
    if (m_clock.Silent(nNowMs)) {
        m_wState = TFTP_STATE_CLOSED;
        Log(m_bClocked ? "No answer for " + std::to_string(m_clock.SilenceLimitMs() / 1000) +
                             " seconds: the transfer timed out"
                       : std::string("No answer: the transfer timed out"));
        if (m_pOwner != nullptr)
            m_pOwner->PostMessage(WM_TFTP_TIMEOUT, 0, 0);
        return;
    }
    if (!m_clock.ResendDue(nNowMs))
        return;
    // A name's next address, while one is left, has a period of its own;
    // the transfer's timeout counts from the last address tried.
    if (request && NextAddressAfterSilence())
        return;
    m_clock.OnResend(nNowMs);
    // The adaptive clock's quick resends are counted in the link's line at
    // the end; the log tells of a resend once a second one without progress goes.
    const bool log = !m_bClocked || m_clock.ResendsSinceProgress() > 1;
    BOOL sent = TRUE;
    if (request) {
        Log("No answer: request sent again");
        sent = SendSucceeded(SendTo(m_pBuffer, m_nLastLength, reinterpret_cast<const sockaddr*>(&m_addrServer),
                                    AddressLength(m_addrServer), 0));
    } else if (m_wState == TFTP_STATE_WAIT_ACK) {
        sent = ResendAfterTimeout(log);
    } else {
        if (log)
            Log("No answer: ACK " + std::to_string(m_receiver.LastInOrder()) + " sent again");
        sent = m_receiver.Resend(*this) ? TRUE : FALSE;
    }
    if (!sent && m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_FAILED, 0, 0);
}

BOOL CTFTPSocket::ResendAfterTimeout(bool bLog)
{
    m_sender.OnTimeout();
    OnSendRoom(); // the block a timeout sends past a full window goes first
    return m_wState == TFTP_STATE_WAIT_ACK ? ResendWindow(bLog) : TRUE;
}

BOOL CTFTPSocket::ResendWindow(bool bLog)
{
    const int pending = m_sender.Window().Repeats();
    const WORD first = m_sender.Window().FirstUnacknowledged();
    if (pending > 0 && bLog)
        Log("No answer: DATA " + std::to_string(first) +
            (pending > 1 ? " to " + std::to_string(static_cast<WORD>(first + pending - 1)) : std::string()) +
            " sent again");
    return m_sender.Resend(*this) ? TRUE : FALSE;
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
