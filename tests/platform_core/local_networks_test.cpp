// SPDX-License-Identifier: MIT
#include "platform/core/local_networks.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <cstring>
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

LocalSubnet Subnet(const std::string& text, int nPrefix)
{
    const sockaddr_storage address = Address(text);
    LocalSubnet subnet{address.ss_family, {}, {}};
    const void* bytes = subnet.nFamily == AF_INET
                            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&address)->sin_addr)
                            : &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr;
    std::memcpy(subnet.address, bytes, subnet.nFamily == AF_INET ? 4 : 16);
    for (int bit = 0; bit < nPrefix; ++bit)
        subnet.mask[bit / 8] |= static_cast<BYTE>(0x80 >> (bit % 8));
    return subnet;
}

TEST(LocalNetworks, AnAddressIsLocalOnlyInsideASubnetOfItsFamily)
{
    const std::vector<LocalSubnet> subnets = {Subnet("127.0.0.0", 8), Subnet("192.168.1.0", 24), Subnet("10.1.2.3", 32),
                                              Subnet("fe80::", 64), Subnet("2001:db8::", 48)};
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

TEST(LocalNetworks, LoopbackIsAmongThisMachinesSubnets)
{
    EXPECT_TRUE(AfxIsOnLocalNetwork(Address("127.0.0.1")));
    EXPECT_TRUE(AfxIsOnLocalNetwork(Address("::ffff:127.0.0.1")));
}

} // namespace
