#include "engine/host_address.h"

#include <gtest/gtest.h>

namespace {

TEST(SplitHostPort, HostWithAndWithoutPort)
{
    struct Row {
        const char* text;
        bool ok;
        std::string host;
        UINT port;
    };
    const Row rows[] = {
        {"router.example", true, "router.example", 69},
        {"10.0.0.1", true, "10.0.0.1", 69},
        {"10.0.0.1:6969", true, "10.0.0.1", 6969},
        {"host:1", true, "host", 1},
        {"host:65535", true, "host", 65535},
        {"host:00069", true, "host", 69},
        {"::1", true, "::1", 69}, // more than one colon: the whole text is the host
        {"", true, "", 69},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:123456", false, "", 0},
        {"host:", false, "", 0},
        {"host:+69", false, "", 0},
        {"host:69 ", false, "", 0},
        {"host:-1", false, "", 0},
    };
    for (const Row& row : rows) {
        std::string host = "unchanged";
        UINT port = 0;
        EXPECT_EQ(SplitHostPort(row.text, 69, &host, &port), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(host, row.host) << row.text;
            EXPECT_EQ(port, row.port) << row.text;
        } else {
            EXPECT_EQ(host, "unchanged") << row.text;
        }
    }
}

} // namespace
