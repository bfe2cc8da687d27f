// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <limits>

#include "ui/transfer_meter.h"

namespace {

TEST(TransferMeter, FiguresReadAsTheUserWritesThem)
{
    const NumberStyle english;
    const NumberStyle german{".", ","};
    EXPECT_EQ(FormatCount(0, english), "0");
    EXPECT_EQ(FormatCount(999, english), "999");
    EXPECT_EQ(FormatCount(1000, english), "1,000");
    EXPECT_EQ(FormatCount(4294967296ull, german), "4.294.967.296");
    EXPECT_EQ(FormatCount(1234567, NumberStyle{"", "."}), "1234567");

    const struct {
        ULONGLONG bps;
        const char* shown;
    } rates[] = {
        {0, "0 bps"},
        {999, "999 bps"},
        {1000, "1.00 kbps"},
        {4096, "4.10 kbps"},
        {12345, "12.3 kbps"},
        {99949, "99.9 kbps"},
        {99950, "100 kbps"},
        {999499, "999 kbps"},
        {999500, "1.00 Mbps"},
        {1250000, "1.25 Mbps"},
        {4294967296ull, "4.29 Gbps"}, // past 32 bits
        {5000000000ull, "5.00 Gbps"},
        {std::numeric_limits<ULONGLONG>::max(), "18.4 Ebps"},
    };
    for (const auto& row : rates)
        EXPECT_EQ(FormatRate(row.bps, english), row.shown) << row.bps;
    EXPECT_EQ(FormatRate(1250000, german), "1,25 Mbps");

    EXPECT_EQ(FormatDuration(7), "0:07");
    EXPECT_EQ(FormatDuration(754), "12:34");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

TEST(TransferMeter, TheBarRateAndTimeLeftHoldForAnySize)
{
    const struct {
        ULONGLONG size;
        int blockSize;
        int maximum; // the bar's range
    } ranges[] = {
        {0, 512, 1},
        {100, 512, 1},
        {1000, 512, 1},
        {32ull << 20, 512, 65536},   // no 16-bit wrap
        {5ull << 30, 512, 10485760}, // past 4 GiB
        {2ull << 40, 512, 1 << 30},  // 2^32 blocks, four to a step
        {5ull << 30, 65464, 82010},  // a granted block size
    };
    for (const auto& row : ranges) {
        CTransferMeter meter;
        meter.Start(0);
        meter.SetRange(row.size, row.blockSize);
        EXPECT_EQ(meter.BarMaximum(), row.maximum) << row.size;
        meter.Advance(std::numeric_limits<ULONGLONG>::max() / 2);
        EXPECT_EQ(meter.BarValue(), row.maximum) << "never past the end";
    }

    CTransferMeter meter;
    meter.Start(1000);
    EXPECT_EQ(meter.Rate(100, 1000), 800000u); // quicker than the clock: one millisecond
    EXPECT_EQ(meter.Rate(100, 3000), 400u);
    EXPECT_EQ(meter.Rate(625000000ull, 2000), 5000000000ull); // 5 Gbit/s, no 32-bit wrap
    EXPECT_EQ(meter.Percent(10), std::nullopt);               // size unknown
    EXPECT_EQ(meter.SecondsLeft(10, 60000), std::nullopt);

    meter.SetRange(6ull << 30, 512);
    EXPECT_EQ(meter.Percent(3ull << 30), 50);
    EXPECT_EQ(meter.Percent(7ull << 30), 100);
    EXPECT_EQ(meter.SecondsLeft(1ull << 30, 2999), std::nullopt); // not before two seconds
    EXPECT_EQ(meter.SecondsLeft(0, 9000), std::nullopt);
    EXPECT_EQ(meter.SecondsLeft(2ull << 30, 5000), 8u); // 2 GiB in 4 s, 4 GiB to go
    EXPECT_EQ(meter.SecondsLeft(6ull << 30, 5000), 0u);
}

} // namespace
