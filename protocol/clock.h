// SPDX-License-Identifier: MIT
// The resend timer of a negotiated transfer: the round trip measured as
// RFC 6298 does, and the period after which what is unanswered goes again.
// Samples and times come from the caller; nothing here reads a clock.
#pragma once

#include "platform/core/afxtypes.h"

inline constexpr ULONGLONG TFTP_RESEND_INITIAL_MS = 1000; // before the first sample
inline constexpr ULONGLONG TFTP_RESEND_FLOOR_MS = 20;
inline constexpr ULONGLONG TFTP_RESEND_CEILING_MS = 3000;
// A transfer without progress for this long has timed out, however many
// quick resends happened meanwhile.
inline constexpr ULONGLONG TFTP_SILENCE_LIMIT_MS = 9000;

class CResendTimer {
public:
    // Adaptive: 1 s until the first sample. With nFixedMs (a negotiated
    // timeout), every period is nFixedMs and samples change nothing.
    void Reset(ULONGLONG nFixedMs = 0);

    // A round trip of a request, block or window answered without a resend
    // (Karn's rule: the caller never passes the time of a resent one). Ends
    // any backoff.
    void OnSample(ULONGLONG nRoundTripMs);
    // New blocks were acknowledged (or arrived), whether or not their round
    // trip may be sampled: the backoff ends, the estimate stays. A link that
    // loses the tail of every window would otherwise never give a sample
    // and back off to the ceiling (QUIC's probe timeout resets alike).
    void OnProgress() { m_nBackoff = 0; }
    // The period ran out and what was unanswered went again: the next
    // period is twice as long, up to the ceiling.
    void OnResend();

    // The current period: the smoothed round trip plus four times its
    // variation, at least 20 ms or twice the smoothed round trip, at most 3 s.
    ULONGLONG PeriodMs() const;
    // How long the transfer may go without progress before it times out.
    ULONGLONG SilenceLimitMs() const { return m_nFixedMs != 0 ? 3 * m_nFixedMs : TFTP_SILENCE_LIMIT_MS; }

    bool HasSample() const { return m_bSampled; }
    // The smoothed round trip, in microseconds (0 before the first sample).
    ULONGLONG SmoothedUs() const { return m_nSmoothedUs; }

private:
    ULONGLONG m_nFixedMs = 0;
    bool m_bSampled = false;
    ULONGLONG m_nSmoothedUs = 0;
    ULONGLONG m_nVariationUs = 0;
    int m_nBackoff = 0; // doublings since the last sample
};

// The clock of one transfer, for either end: when what is unanswered goes
// again, when the transfer has gone silent too long, and which answers time
// a round trip. Times are milliseconds of the caller's clock.
class CTransferClock {
public:
    // A new transfer at nNowMs, adaptive or with a fixed period (see
    // CResendTimer::Reset); the silence limit counts from here.
    void Start(ULONGLONG nFixedMs, ULONGLONG nNowMs);

    // Something went out for the first time: the answer that brings progress
    // next times a round trip, unless a round trip is already being timed or
    // something went again since the last progress (Karn's rule).
    void OnSent(ULONGLONG nNowMs);
    // Part of what is being timed went again: its answer is no sample.
    void ForgetSample() { m_bSampling = false; }
    // An answer brought progress: the sample, if one was timed, the backoff
    // ends, the silence limit and the resend period count from now.
    void OnProgress(ULONGLONG nNowMs);

    // The transfer has had no progress for the silence limit.
    bool Silent(ULONGLONG nNowMs) const { return nNowMs - m_nProgressMs >= m_timer.SilenceLimitMs(); }
    // The resend period has run out.
    bool ResendDue(ULONGLONG nNowMs) const { return nNowMs >= m_nResendAtMs; }
    // The caller sends again what is unanswered: the next period is twice as long.
    void OnResend(ULONGLONG nNowMs);
    // The period starts again without a resend (a caller that stays quiet).
    void Rearm(ULONGLONG nNowMs) { m_nResendAtMs = nNowMs + m_timer.PeriodMs(); }
    // The earlier of the next resend and the silence limit.
    ULONGLONG NextDeadlineMs() const;

    ULONGLONG SilenceLimitMs() const { return m_timer.SilenceLimitMs(); }
    unsigned ResendsSinceProgress() const { return m_nResendsSinceProgress; }
    unsigned Resends() const { return m_nResends; }
    const CResendTimer& Timer() const { return m_timer; }

private:
    CResendTimer m_timer;
    ULONGLONG m_nResendAtMs = 0;
    ULONGLONG m_nProgressMs = 0;
    bool m_bSampling = false;
    ULONGLONG m_nSampleStartMs = 0;
    unsigned m_nResendsSinceProgress = 0;
    unsigned m_nResends = 0;
};
