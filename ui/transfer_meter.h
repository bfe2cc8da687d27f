// SPDX-License-Identifier: MIT
// The status panel's arithmetic: the progress bar's range and position, the
// rate, the percentage and the time left, and the texts of the figures. No Qt
// and no clock: times come in as milliseconds of the caller's clock.
#pragma once

#include <optional>
#include <string>

#include "platform/core/afxtypes.h"

// How the user's locale writes numbers: the separator between groups of
// three digits (empty for none) and the decimal point.
struct NumberStyle {
    std::string group = ",";
    std::string decimal = ".";
};

// 1234567 -> "1,234,567".
std::string FormatCount(ULONGLONG nValue, const NumberStyle& style);
// Bits per second with a unit that fits: "950 bps", "12.3 kbps", "1.25 Mbps",
// "5.00 Gbps"; three significant digits above 1,000.
std::string FormatRate(ULONGLONG nBitsPerSecond, const NumberStyle& style);
// "0:07", "12:34", "1:02:03".
std::string FormatDuration(ULONGLONG nSeconds);

// One transfer's progress. The bar counts blocks; blocks are shifted right
// so that the range of any file, however large, fits an int.
class CTransferMeter {
public:
    // A transfer starts: the bar is empty and its size unknown.
    void Start(ULONGLONG nNowMs);
    // The size the bar measures, in blocks of nBlockSize; 0 when not known.
    void SetRange(ULONGLONG nSize, int nBlockSize);
    // Blocks moved since the last advance.
    void Advance(ULONGLONG nSteps) { m_nPosition += nSteps; }
    void ClearBar() { m_nPosition = 0; }

    int BarMaximum() const;
    int BarValue() const;

    // Milliseconds since the start; a transfer quicker than the clock's step
    // counts as one.
    ULONGLONG ElapsedMs(ULONGLONG nNowMs) const;
    // Bits per second: nBytes over the time since the start, in 64 bits.
    ULONGLONG Rate(ULONGLONG nBytes, ULONGLONG nNowMs) const;
    // The share of the size moved, 0 to 100; none while the size is unknown.
    std::optional<int> Percent(ULONGLONG nBytes) const;
    // Seconds left at the rate so far; none before two seconds have passed,
    // while the size is unknown, or before anything has moved.
    std::optional<ULONGLONG> SecondsLeft(ULONGLONG nBytes, ULONGLONG nNowMs) const;

private:
    ULONGLONG m_nStartMs = 0;
    ULONGLONG m_nSize = 0;
    ULONGLONG m_nSteps = 0; // the bar's range in blocks
    ULONGLONG m_nPosition = 0;
    int m_nShift = 0;
};
