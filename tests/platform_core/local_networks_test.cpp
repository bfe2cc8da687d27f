// SPDX-License-Identifier: MIT
#include "platform/core/local_networks.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <string>

namespace {

sockaddr_storage Address(const std::string& text)
{
    sockaddr_storage address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1)
        v4->sin_family = AF_INET;
    else if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1)
        v6->sin6_family = AF_INET6;
    return address;
}

TEST(LocalNetworks, AnAddressIsLocalOnlyInsideASubnetOfItsFamily)
{
    const BYTE all = 0xFF;
    const std::vector<LocalSubnet> subnets = {
        {AF_INET, {127}, {all}},
        {AF_INET, {192, 168, 1}, {all, all, all}},
        {AF_INET, {10, 1, 2, 3}, {all, all, all, all}},
        {AF_INET6, {0xFE, 0x80}, {all, all, all, all, all, all, all, all}},
        {AF_INET6, {0x20, 0x01, 0x0D, 0xB8}, {all, all, all, all, all, all}},
    };
    const struct {
        const char* address;
        bool local;
    } rows[] = {
        {"127.5.6.7", true},
        {"192.168.1.255", true},
        {"192.168.2.1", false},
        {"10.1.2.3", true},
        {"10.1.2.4", false},
        {"::ffff:192.168.1.9", true}, // IPv4-mapped counts as IPv4
        {"::ffff:192.168.9.9", false},
        {"fe80::1234", true},
        {"2001:db8:0:ffff::1", true},
        {"2001:db9::1", false},
        {"::1", false},         // no IPv6 loopback subnet in this table
        {"c0a8:0100::", false}, // 192.168.1.0's bytes, but IPv6
        {"not an address", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        EXPECT_EQ(AfxIsInSubnets(Address(row.address), subnets), row.local);
    }
    EXPECT_FALSE(AfxIsInSubnets(Address("127.0.0.1"), {}));
}

TEST(LocalNetworks, LoopbackIsAmongThisMachinesSubnetsWithItsInterface)
{
    bool loopback = false;
    for (const LocalSubnet& subnet : AfxGetLocalSubnets())
        if (subnet.nFamily == AF_INET && subnet.address[0] == 127) {
            loopback = true;
            EXPECT_TRUE(subnet.bLoopback);
            EXPECT_GT(subnet.nIfIndex, 0);
            EXPECT_GT(subnet.nMtu, 0u);
        }
    EXPECT_TRUE(loopback);
}

TEST(LocalNetworks, BroadcastAndMulticastDestinations)
{
    const BYTE all = 0xFF;
    const std::vector<LocalSubnet> subnets = {
        {AF_INET, {192, 168, 1}, {all, all, all}},
        {AF_INET, {10, 9, 8, 6}, {all, all, all, 0xFE}}, // a /31: no broadcast address
        {AF_INET, {10, 1, 2, 3}, {all, all, all, all}},  // a /32
    };
    const struct {
        const char* address;
        bool broadcast;
    } rows[] = {
        {"255.255.255.255", true}, {"192.168.1.255", true},   {"::ffff:192.168.1.255", true},
        {"224.0.0.1", true},       {"239.255.255.250", true}, {"ff02::1", true},
        {"ff05::1:3", true},       {"192.168.1.254", false},  {"192.168.2.255", false},
        {"10.9.8.7", false},       {"10.1.2.3", false},       {"127.0.0.1", false},
        {"fe80::1", false},        {"2001:db8::ff", false},   {"not an address", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        EXPECT_EQ(AfxIsBroadcastOrMulticast(Address(row.address), subnets), row.broadcast);
    }
}

} // namespace
