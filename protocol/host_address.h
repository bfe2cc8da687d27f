// SPDX-License-Identifier: MIT
// The host box's text, and the addresses a transfer talks to.
#pragma once

#include <sys/socket.h>

#include <string>
#include <string_view>

#include "platform/core/afxtypes.h"

enum class HostForm { name, ipv4, ipv6 };

struct HostText {
    // What to look up: a name, a dotted IPv4 address, or an IPv6 literal
    // with its zone ("fe80::1%eth0").
    std::string host;
    UINT nPort = 0;
    HostForm form = HostForm::name;
};

// Reads the host box's forms:
//   name or dotted IPv4 address, optionally ":port"   router.example:6969
//   IPv6 literal, bare                                 2001:db8::5   ::1
//   IPv6 literal in brackets, optionally ":port"      [2001:db8::5]:6969
//   either IPv6 form with a zone (interface name or index)
//                                                      fe80::1%eth0  [fe80::1%2]:69
// A port is 1 to 65535 in decimal; without one, nDefaultPort. Returns false,
// leaving *pHost alone, for anything else (an empty port, an unclosed
// bracket, a zone without an address, more than one colon outside an IPv6
// literal, an empty host).
bool ParseHostText(std::string_view text, UINT nDefaultPort, HostText* pHost);

// The same endpoint: family, address, port and, for IPv6, the scope. An
// IPv4-mapped IPv6 address (::ffff:a.b.c.d) is the IPv4 address it maps.
bool SameEndpoint(const sockaddr_storage& a, const sockaddr_storage& b);

// The length of the address structure for the address's family.
int AddressLength(const sockaddr_storage& address);

// "192.0.2.7 port 69", "2001:db8::5 port 69", "fe80::1%eth0 port 69".
std::string AddressText(const sockaddr_storage& address);
// The same without the port: "192.0.2.7", "fe80::1%eth0".
std::string AddressOnlyText(const sockaddr_storage& address);
