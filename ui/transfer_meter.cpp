// SPDX-License-Identifier: MIT
#include "transfer_meter.h"

#include <algorithm>
#include <iterator>
#include <limits>

std::string FormatCount(ULONGLONG nValue, const NumberStyle& style)
{
    const std::string digits = std::to_string(nValue);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += style.group;
        text += digits[i];
    }
    return text;
}

std::string FormatRate(ULONGLONG nBitsPerSecond, const NumberStyle& style)
{
    if (nBitsPerSecond < 1000)
        return std::to_string(nBitsPerSecond) + " bps";
    static const char* const units[] = {"kbps", "Mbps", "Gbps", "Tbps", "Pbps", "Ebps"};
    unsigned __int128 divisor = 1000;
    size_t unit = 0;
    while (unit + 1 < std::size(units) && nBitsPerSecond / divisor >= 1000) {
        divisor *= 1000;
        ++unit;
    }
    // Three significant digits (1.25, 12.3, 123), rounded once; a rounding
    // that gains a digit shows one decimal less, or the next unit.
    const unsigned __int128 value = nBitsPerSecond;
    for (int decimals = value / divisor < 10 ? 2 : value / divisor < 100 ? 1 : 0;; --decimals) {
        const unsigned scale = decimals == 2 ? 100 : decimals == 1 ? 10 : 1;
        const unsigned __int128 scaled = (value * scale + divisor / 2) / divisor;
        if (scaled >= 1000 && decimals > 0)
            continue;
        std::string text;
        if (scaled >= 1000 && unit + 1 < std::size(units)) {
            text.append("1").append(style.decimal).append("00 ").append(units[unit + 1]);
            return text;
        }
        text = std::to_string(static_cast<ULONGLONG>(scaled / scale));
        if (decimals > 0) {
            const std::string fraction = std::to_string(static_cast<unsigned>(scaled % scale) + scale);
            text.append(style.decimal).append(fraction, 1);
        }
        text.append(" ").append(units[unit]);
        return text;
    }
}

std::string FormatDuration(ULONGLONG nSeconds)
{
    const auto two = [](ULONGLONG n) {
        std::string digits = std::to_string(n);
        if (digits.size() < 2)
            digits.insert(digits.begin(), '0');
        return digits;
    };
    if (nSeconds < 3600)
        return std::to_string(nSeconds / 60) + ":" + two(nSeconds % 60);
    return std::to_string(nSeconds / 3600) + ":" + two(nSeconds / 60 % 60) + ":" + two(nSeconds % 60);
}

void CTransferMeter::Start(ULONGLONG nNowMs)
{
    m_nStartMs = nNowMs;
    SetRange(0, 1);
}

void CTransferMeter::SetRange(ULONGLONG nSize, int nBlockSize)
{
    m_nSize = nSize;
    m_nSteps = nSize / static_cast<ULONGLONG>(std::max(nBlockSize, 1));
    m_nShift = 0;
    while ((m_nSteps >> m_nShift) > static_cast<ULONGLONG>(std::numeric_limits<int>::max()))
        ++m_nShift;
    m_nPosition = 0;
}

int CTransferMeter::BarMaximum() const
{
    return std::max(1, static_cast<int>(m_nSteps >> m_nShift));
}

int CTransferMeter::BarValue() const
{
    return static_cast<int>(std::min<ULONGLONG>(m_nPosition >> m_nShift, static_cast<ULONGLONG>(BarMaximum())));
}

ULONGLONG CTransferMeter::ElapsedMs(ULONGLONG nNowMs) const
{
    return std::max<ULONGLONG>(nNowMs - m_nStartMs, 1);
}

ULONGLONG CTransferMeter::Rate(ULONGLONG nBytes, ULONGLONG nNowMs) const
{
    const unsigned __int128 bits = static_cast<unsigned __int128>(nBytes) * 8 * 1000;
    const unsigned __int128 rate = bits / ElapsedMs(nNowMs);
    return rate > std::numeric_limits<ULONGLONG>::max() ? std::numeric_limits<ULONGLONG>::max()
                                                        : static_cast<ULONGLONG>(rate);
}

std::optional<int> CTransferMeter::Percent(ULONGLONG nBytes) const
{
    if (m_nSize == 0)
        return std::nullopt;
    return static_cast<int>(std::min<unsigned __int128>(static_cast<unsigned __int128>(nBytes) * 100 / m_nSize, 100));
}

std::optional<ULONGLONG> CTransferMeter::SecondsLeft(ULONGLONG nBytes, ULONGLONG nNowMs) const
{
    const ULONGLONG elapsed = ElapsedMs(nNowMs);
    if (m_nSize == 0 || nBytes == 0 || elapsed < 2000)
        return std::nullopt;
    if (nBytes >= m_nSize)
        return 0;
    // Rounded up: "0:00 left" only at the end.
    const unsigned __int128 left = static_cast<unsigned __int128>(m_nSize - nBytes) * elapsed;
    return static_cast<ULONGLONG>((left + static_cast<unsigned __int128>(nBytes) * 1000 - 1) /
                                  (static_cast<unsigned __int128>(nBytes) * 1000));
}
