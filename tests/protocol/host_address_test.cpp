// SPDX-License-Identifier: MIT
#include "protocol/host_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

namespace {

TEST(ParseHostText, EveryFormAndTheTextsThatAreNone)
{
    struct Row {
        const char* text;
        bool ok;
        std::string host;
        UINT port;
        HostForm form;
    };
    const HostForm name = HostForm::name;
    const HostForm v4 = HostForm::ipv4;
    const HostForm v6 = HostForm::ipv6;
    const Row rows[] = {
        {"router.example", true, "router.example", 69, name},
        {"10.0.0.1", true, "10.0.0.1", 69, v4},
        {"10.0.0.1:6969", true, "10.0.0.1", 6969, v4},
        {"host:1", true, "host", 1, name},
        {"host:65535", true, "host", 65535, name},
        {"host:00069", true, "host", 69, name},
        {"::1", true, "::1", 69, v6},
        {"2001:db8::5", true, "2001:db8::5", 69, v6},
        {"[2001:db8::5]", true, "2001:db8::5", 69, v6},
        {"[2001:db8::5]:6969", true, "2001:db8::5", 6969, v6},
        {"fe80::1%eth0", true, "fe80::1%eth0", 69, v6},
        {"[fe80::1%eth0]:69", true, "fe80::1%eth0", 69, v6},
        {"fe80::1%2", true, "fe80::1%2", 69, v6},
        {"::ffff:192.0.2.7", true, "::ffff:192.0.2.7", 69, v6},
        // None of the forms.
        {"", false, "", 0, name},
        {"host:", false, "", 0, name},
        {"host:0", false, "", 0, name},
        {"host:65536", false, "", 0, name},
        {"host:123456", false, "", 0, name},
        {"host:+69", false, "", 0, name},
        {"host:69 ", false, "", 0, name},
        {":69", false, "", 0, name},
        {"[::1]:", false, "", 0, name},
        {"[::1]:0", false, "", 0, name},
        {"[::1]:65536", false, "", 0, name},
        {"[::1", false, "", 0, name},
        {"[::1]69", false, "", 0, name},
        {"::1]", false, "", 0, name},
        {"[]", false, "", 0, name},
        {"[192.0.2.7]:69", false, "", 0, name},
        {"%eth0", false, "", 0, name},
        {"[%eth0]:69", false, "", 0, name},
        {"fe80::1%", false, "", 0, name},
        {"fe80::1%eth 0", false, "", 0, name},
        {"192.0.2.7:69:69", false, "", 0, name},
        {"192.0.2.7::69", false, "", 0, name},
        {"2001:db8::5:6969:1:2:3:4", false, "", 0, name},
        {"host name", false, "", 0, name},
    };
    for (const Row& row : rows) {
        HostText parsed;
        parsed.host = "unchanged";
        EXPECT_EQ(ParseHostText(row.text, 69, &parsed), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(parsed.host, row.host) << row.text;
            EXPECT_EQ(parsed.nPort, row.port) << row.text;
            EXPECT_EQ(parsed.form, row.form) << row.text;
        } else {
            EXPECT_EQ(parsed.host, "unchanged") << row.text;
        }
    }
}

sockaddr_storage Endpoint(const char* address, UINT port, uint32_t scope = 0)
{
    sockaddr_storage storage{};
    if (auto* v4 = reinterpret_cast<sockaddr_in*>(&storage); ::inet_pton(AF_INET, address, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        EXPECT_EQ(::inet_pton(AF_INET6, address, &v6->sin6_addr), 1) << address;
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        v6->sin6_scope_id = scope;
    }
    return storage;
}

TEST(SameEndpoint, AddressPortScopeAndMappedAddresses)
{
    struct Row {
        sockaddr_storage a;
        sockaddr_storage b;
        bool same;
    };
    const Row rows[] = {
        {Endpoint("192.0.2.7", 69), Endpoint("192.0.2.7", 69), true},
        {Endpoint("192.0.2.7", 69), Endpoint("192.0.2.7", 70), false},
        {Endpoint("192.0.2.7", 69), Endpoint("192.0.2.8", 69), false},
        {Endpoint("2001:db8::5", 69), Endpoint("2001:db8::5", 69), true},
        {Endpoint("2001:db8::5", 69), Endpoint("2001:db8::6", 69), false},
        {Endpoint("fe80::1", 69, 2), Endpoint("fe80::1", 69, 2), true},
        {Endpoint("fe80::1", 69, 2), Endpoint("fe80::1", 69, 3), false},
        {Endpoint("::ffff:192.0.2.7", 69), Endpoint("192.0.2.7", 69), true},
        {Endpoint("192.0.2.7", 69), Endpoint("::ffff:192.0.2.7", 70), false},
        {Endpoint("::1", 69), Endpoint("127.0.0.1", 69), false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SameEndpoint(row.a, row.b), row.same) << AddressText(row.a) << " / " << AddressText(row.b);
        EXPECT_EQ(SameEndpoint(row.b, row.a), row.same) << AddressText(row.b) << " / " << AddressText(row.a);
    }
}

} // namespace
