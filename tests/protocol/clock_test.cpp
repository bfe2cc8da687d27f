// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <vector>

#include "protocol/clock.h"

namespace {

// Each row: what happens to the timer, in order, and the period after it.
struct Step {
    enum { sample, resend, progress } what;
    ULONGLONG ms; // the sample's round trip
    ULONGLONG period;
};

TEST(ResendTimer, FollowsTheRoundTripWithinItsFloorAndCeiling)
{
    struct Row {
        const char* name;
        ULONGLONG fixed;
        std::vector<Step> steps;
    };
    const Row rows[] = {
        {"starts at one second, doubles to the ceiling",
         0,
         {{Step::resend, 0, 2000}, {Step::resend, 0, 3000}, {Step::resend, 0, 3000}}},
        // First sample 100: SRTT 100, RTTVAR 50: 100 + 200.
        {"a first sample", 0, {{Step::sample, 100, 300}}},
        // A steady 2 ms link: the variation shrinks, the floor holds.
        {"the floor", 0, {{Step::sample, 2, 20}, {Step::sample, 2, 20}, {Step::sample, 2, 20}, {Step::resend, 0, 40}}},
        // SRTT 50 after steady samples: twice it is the floor.
        {"twice the round trip",
         0,
         {{Step::sample, 50, 150},
          {Step::sample, 50, 125},
          {Step::sample, 50, 107},
          {Step::sample, 50, 100},
          {Step::sample, 50, 100}}},
        // SRTT 100, RTTVAR 50 -> sample 300: RTTVAR 87.5, SRTT 125 -> 475.
        {"a late answer widens it", 0, {{Step::sample, 100, 300}, {Step::sample, 300, 475}}},
        {"a sample ends the backoff",
         0,
         {{Step::sample, 100, 300}, {Step::resend, 0, 600}, {Step::resend, 0, 1200}, {Step::sample, 100, 250}}},
        // Progress without a sample (Karn) ends the backoff too; the estimate stays.
        {"progress ends the backoff",
         0,
         {{Step::sample, 100, 300}, {Step::resend, 0, 600}, {Step::resend, 0, 1200}, {Step::progress, 0, 300}}},
        {"the ceiling bounds a slow link", 0, {{Step::sample, 2500, 3000}}},
        {"a negotiated timeout stays itself",
         5000,
         {{Step::resend, 0, 5000}, {Step::sample, 2, 5000}, {Step::resend, 0, 5000}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CResendTimer timer;
        timer.Reset(row.fixed);
        EXPECT_EQ(timer.PeriodMs(), row.fixed != 0 ? row.fixed : 1000u);
        for (const Step& step : row.steps) {
            if (step.what == Step::sample)
                timer.OnSample(step.ms);
            else if (step.what == Step::resend)
                timer.OnResend();
            else
                timer.OnProgress();
            EXPECT_EQ(timer.PeriodMs(), step.period);
        }
    }
}

TEST(ResendTimer, TheEndIsAboutTimeNotResends)
{
    CResendTimer adaptive;
    adaptive.Reset();
    for (int i = 0; i < 100; ++i)
        adaptive.OnResend();
    EXPECT_EQ(adaptive.PeriodMs(), 3000u); // however many, no overflow
    EXPECT_EQ(adaptive.SilenceLimitMs(), 9000u);
    CResendTimer negotiated;
    negotiated.Reset(4000);
    EXPECT_EQ(negotiated.SilenceLimitMs(), 12000u); // three periods of the server's timeout
}

} // namespace
