// SPDX-License-Identifier: MIT
#include "server/serve_read_policy.h"

#include <gtest/gtest.h>

namespace {

TEST(ServeReadPolicy, OnlyALoneLockStepTransferWaitsAndAWindowIsTakenAtOnce)
{
    const struct {
        const char* name;
        int window, served, clients;
        int reads;
        bool wait;
    } rows[] = {
        {"lock-step, alone", 1, 1, 0, 1, true},
        {"lock-step beside another served transfer", 1, 2, 0, 1, false},
        {"lock-step beside the program's own client", 1, 1, 1, 1, false},
        {"a window of 2, alone", 2, 1, 0, 16, false},
        {"a window of 16 beside others", 16, 3, 1, 16, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ServeReadPolicy policy = ServeReadPolicyFor(row.window, row.served, row.clients);
        EXPECT_EQ(policy.nReads, row.reads);
        EXPECT_EQ(policy.bMayWait, row.wait);
    }
}

} // namespace
