// SPDX-License-Identifier: MIT
// The event loop's longest gap while one lives, as a 5 ms timer sees it.
#pragma once

#include <QTimer>

#include <algorithm>
#include <chrono>

class CEventLoopGap {
public:
    using Clock = std::chrono::steady_clock;

    CEventLoopGap()
    {
        m_ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, Clock::now() - m_last);
            m_last = Clock::now();
        });
        m_ticker.start(5);
    }

    Clock::duration Longest() const { return m_longest; }

private:
    QTimer m_ticker;
    Clock::time_point m_last = Clock::now();
    Clock::duration m_longest{};
};
