// SPDX-License-Identifier: MIT
#include "server/serve_read_policy.h"

#include <gtest/gtest.h>

namespace {

TEST(ServeReadPolicy, LockStepReadsOneAndAWindowIsTakenAtOnce)
{
    const struct {
        int window;
        int reads;
    } rows[] = {{1, 1}, {2, kServeReadsPerWake}, {16, kServeReadsPerWake}, {64, kServeReadsPerWake}};
    for (const auto& row : rows)
        EXPECT_EQ(ServeReadsPerWake(row.window), row.reads) << "a window of " << row.window;
}

} // namespace
