// SPDX-License-Identifier: MIT
#include "protocol/clock.h"

#include <algorithm>

void CResendTimer::Reset(ULONGLONG nFixedMs)
{
    *this = CResendTimer{};
    m_nFixedMs = nFixedMs;
}

void CResendTimer::OnSample(ULONGLONG nRoundTripMs)
{
    m_nBackoff = 0;
    const ULONGLONG sample = nRoundTripMs * 1000;
    if (!m_bSampled) {
        m_bSampled = true;
        m_nSmoothedUs = sample;
        m_nVariationUs = sample / 2;
        return;
    }
    // RTTVAR takes a quarter of the new deviation, SRTT an eighth of the sample.
    const ULONGLONG deviation = sample > m_nSmoothedUs ? sample - m_nSmoothedUs : m_nSmoothedUs - sample;
    m_nVariationUs = (3 * m_nVariationUs + deviation) / 4;
    m_nSmoothedUs = (7 * m_nSmoothedUs + sample) / 8;
}

void CResendTimer::OnResend()
{
    // Doubling past the ceiling changes nothing: stop counting there.
    if (m_nFixedMs == 0 && PeriodMs() < TFTP_RESEND_CEILING_MS)
        ++m_nBackoff;
}

ULONGLONG CResendTimer::PeriodMs() const
{
    if (m_nFixedMs != 0)
        return m_nFixedMs;
    ULONGLONG period = TFTP_RESEND_INITIAL_MS;
    if (m_bSampled) {
        const ULONGLONG floor = std::max(TFTP_RESEND_FLOOR_MS, 2 * m_nSmoothedUs / 1000);
        period = std::max(floor, (m_nSmoothedUs + 4 * m_nVariationUs + 999) / 1000);
    }
    return std::min(period << m_nBackoff, TFTP_RESEND_CEILING_MS);
}

void CTransferClock::Start(ULONGLONG nFixedMs, ULONGLONG nNowMs)
{
    *this = CTransferClock{};
    m_timer.Reset(nFixedMs);
    m_nProgressMs = nNowMs;
    Rearm(nNowMs);
}

void CTransferClock::OnSent(ULONGLONG nNowMs)
{
    if (m_bSampling || m_nResendsSinceProgress != 0)
        return;
    m_bSampling = true;
    m_nSampleStartMs = nNowMs;
}

void CTransferClock::OnProgress(ULONGLONG nNowMs)
{
    m_nProgressMs = nNowMs;
    m_nResendsSinceProgress = 0;
    m_timer.OnProgress();
    if (m_bSampling) {
        m_timer.OnSample(nNowMs - m_nSampleStartMs);
        m_bSampling = false;
    }
    Rearm(nNowMs);
}

void CTransferClock::OnResend(ULONGLONG nNowMs)
{
    m_bSampling = false;
    m_timer.OnResend();
    Rearm(nNowMs);
    ++m_nResendsSinceProgress;
    ++m_nResends;
}

ULONGLONG CTransferClock::NextDeadlineMs() const
{
    return std::min(m_nResendAtMs, m_nProgressMs + m_timer.SilenceLimitMs());
}
