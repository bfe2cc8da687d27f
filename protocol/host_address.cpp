// SPDX-License-Identifier: MIT
#include "protocol/host_address.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace {

// 1 to 65535 in at most five decimal digits.
bool ParsePort(std::string_view digits, UINT* pPort)
{
    if (digits.empty() || digits.size() > 5)
        return false;
    UINT port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        port = port * 10 + static_cast<UINT>(c - '0');
    }
    if (port < 1 || port > 65535)
        return false;
    *pPort = port;
    return true;
}

// An IPv6 address, optionally followed by "%zone" (an interface's name or index).
bool IsIpv6Literal(std::string_view text)
{
    const size_t percent = text.find('%');
    const std::string address(text.substr(0, percent));
    in6_addr parsed{};
    if (address.empty() || ::inet_pton(AF_INET6, address.c_str(), &parsed) != 1)
        return false;
    if (percent == std::string_view::npos)
        return true;
    const std::string_view zone = text.substr(percent + 1);
    return !zone.empty() && zone.size() < IF_NAMESIZE && std::all_of(zone.begin(), zone.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.';
    });
}

// A name or dotted address: not empty, and none of the characters that
// belong to the other forms or to no host at all.
bool IsNameOrIpv4(std::string_view text)
{
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
        return c == ':' || c == '%' || c == '[' || c == ']' || c == '/' || static_cast<unsigned char>(c) <= ' ';
    });
}

HostForm NameForm(const std::string& host)
{
    in_addr parsed{};
    return ::inet_pton(AF_INET, host.c_str(), &parsed) == 1 ? HostForm::ipv4 : HostForm::name;
}

// The IPv4 address an IPv4-mapped IPv6 address stands for; others as they are.
sockaddr_storage Unmapped(const sockaddr_storage& address)
{
    if (address.ss_family != AF_INET6)
        return address;
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    if (!IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr))
        return address;
    sockaddr_storage mapped{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(mapped);
    v4.sin_family = AF_INET;
    v4.sin_port = v6.sin6_port;
    std::memcpy(&v4.sin_addr, v6.sin6_addr.s6_addr + 12, 4);
    return mapped;
}

} // namespace

bool ParseHostText(std::string_view text, UINT nDefaultPort, HostText* pHost)
{
    HostText parsed;
    parsed.nPort = nDefaultPort;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos || !IsIpv6Literal(text.substr(1, close - 1)))
            return false;
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !ParsePort(rest.substr(1), &parsed.nPort)))
            return false;
        parsed.host = std::string(text.substr(1, close - 1));
        parsed.form = HostForm::ipv6;
    } else if (std::count(text.begin(), text.end(), ':') > 1) {
        if (!IsIpv6Literal(text))
            return false;
        parsed.host = std::string(text);
        parsed.form = HostForm::ipv6;
    } else {
        const size_t colon = text.find(':');
        const std::string_view host = text.substr(0, colon);
        if (!IsNameOrIpv4(host) ||
            (colon != std::string_view::npos && !ParsePort(text.substr(colon + 1), &parsed.nPort)))
            return false;
        parsed.host = std::string(host);
        parsed.form = NameForm(parsed.host);
    }
    *pHost = std::move(parsed);
    return true;
}

bool SameEndpoint(const sockaddr_storage& a, const sockaddr_storage& b)
{
    // Each datagram is compared: the common case, two IPv4 addresses, costs
    // no copy.
    if (a.ss_family == AF_INET && b.ss_family == AF_INET) {
        const auto& p = reinterpret_cast<const sockaddr_in&>(a);
        const auto& q = reinterpret_cast<const sockaddr_in&>(b);
        return p.sin_addr.s_addr == q.sin_addr.s_addr && p.sin_port == q.sin_port;
    }
    const sockaddr_storage x = Unmapped(a);
    const sockaddr_storage y = Unmapped(b);
    if (x.ss_family != y.ss_family)
        return false;
    if (x.ss_family == AF_INET) {
        const auto& p = reinterpret_cast<const sockaddr_in&>(x);
        const auto& q = reinterpret_cast<const sockaddr_in&>(y);
        return p.sin_addr.s_addr == q.sin_addr.s_addr && p.sin_port == q.sin_port;
    }
    if (x.ss_family == AF_INET6) {
        const auto& p = reinterpret_cast<const sockaddr_in6&>(x);
        const auto& q = reinterpret_cast<const sockaddr_in6&>(y);
        return std::memcmp(&p.sin6_addr, &q.sin6_addr, sizeof p.sin6_addr) == 0 && p.sin6_port == q.sin6_port &&
               p.sin6_scope_id == q.sin6_scope_id;
    }
    return false;
}

int AddressLength(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 ? static_cast<int>(sizeof(sockaddr_in6))
                                         : static_cast<int>(sizeof(sockaddr_in));
}

std::string AddressOnlyText(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        std::string result(text);
        if (v6.sin6_scope_id != 0) {
            char name[IF_NAMESIZE] = {};
            result.push_back('%');
            result.append(::if_indextoname(v6.sin6_scope_id, name) != nullptr ? std::string(name)
                                                                              : std::to_string(v6.sin6_scope_id));
        }
        return result;
    }
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    return text;
}

std::string AddressText(const sockaddr_storage& address)
{
    const in_port_t port = address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                                                         : reinterpret_cast<const sockaddr_in&>(address).sin_port;
    return AddressOnlyText(address) + " port " + std::to_string(ntohs(port));
}
