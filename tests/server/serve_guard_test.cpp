// SPDX-License-Identifier: MIT
// The server's defences as tables: refusals of a flood from many addresses,
// and which sources count as local on the interface a request came in on.
// (One address's ten a second and its summary: the server's own tests.)
#include "server/serve_guard.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

sockaddr_storage Address(const std::string& text, UINT port = 4000)
{
    sockaddr_storage address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
    } else if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
    }
    return address;
}

// A flood from more addresses than the table holds: what the addresses
// pushed out had not told yet is told together.
TEST(RefusalLimit, CountsOfAddressesPushedOutAreToldTogether)
{
    CRefusalLimit limit;
    for (int source = 0; source < CRefusalLimit::kEntries + 1; ++source) {
        const std::string address = "10.1." + std::to_string(source / 256) + "." + std::to_string(source % 256);
        for (int i = 0; i < 12; ++i)
            (void)limit.Allow(Address(address), 100);
    }
    ULONGLONG total = 0;
    std::string others;
    limit.Summaries(100 + CRefusalLimit::kSummaryMs, [&](const sockaddr_storage& source, ULONGLONG count) {
        total += count;
        if (source.ss_family == AF_UNSPEC)
            others = std::to_string(count);
    });
    EXPECT_EQ(total, 2u * (CRefusalLimit::kEntries + 1));
    EXPECT_EQ(others, "2");
}

// A request is local when its source lies on a subnet of the interface it
// came in on; anything that came in on a loopback interface is this
// machine's own; an interface not known (0) takes every subnet.
TEST(ServeGuard, LocalMeansOnTheSubnetOfTheInterfaceTheRequestCameIn)
{
    struct Restore {
        ~Restore() { CServeGuard::SetSubnetSource({}); }
    } restore;
    CServeGuard::SetSubnetSource([] {
        LocalSubnet lan{AF_INET, {192, 168, 1}, {255, 255, 255}, 2, 1500, false};
        LocalSubnet lab{AF_INET, {10, 77}, {255, 255}, 3, 9000, false};
        LocalSubnet loopback{AF_INET, {127}, {255}, 1, 65536, true};
        return std::vector<LocalSubnet>{lan, lab, loopback};
    });
    CServeGuard guard;
    const struct {
        const char* from;
        int ifIndex;
        bool local;
    } rows[] = {
        {"192.168.1.7", 2, true}, {"192.168.1.7", 3, false}, {"10.77.0.2", 3, true}, {"10.77.0.2", 2, false},
        {"192.168.1.7", 1, true}, {"8.8.8.8", 1, true},      {"8.8.8.8", 2, false},  {"10.77.0.2", 0, true},
        {"8.8.8.8", 0, false},    {"10.77.0.2", 9, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.from) + " on " + std::to_string(row.ifIndex));
        EXPECT_EQ(guard.IsLocal(Address(row.from), row.ifIndex, 0), row.local);
    }
    EXPECT_EQ(guard.Mtu(3, 0), 9000u);
    EXPECT_EQ(guard.Mtu(9, 0), 0u);
    EXPECT_TRUE(guard.IsBroadcast(Address("10.77.255.255", 0), 0));
}

} // namespace
