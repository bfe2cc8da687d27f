// SPDX-License-Identifier: MIT
#include "local_networks.h"

#include <netdb.h>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace {

int AddressLength(int nFamily)
{
    return nFamily == AF_INET ? 4 : 16;
}

// The family and bytes of an IPv4 or IPv6 address, an IPv4-mapped one as
// IPv4; 0 for any other family.
int AddressBytes(const sockaddr* pAddress, BYTE* pBytes)
{
    if (pAddress->sa_family == AF_INET) {
        std::memcpy(pBytes, &reinterpret_cast<const sockaddr_in*>(pAddress)->sin_addr, 4);
        return AF_INET;
    }
    if (pAddress->sa_family != AF_INET6)
        return 0;
    const in6_addr& address = reinterpret_cast<const sockaddr_in6*>(pAddress)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&address)) {
        std::memcpy(pBytes, address.s6_addr + 12, 4);
        return AF_INET;
    }
    std::memcpy(pBytes, address.s6_addr, 16);
    return AF_INET6;
}

} // namespace

std::vector<LocalSubnet> AfxGetLocalSubnets()
{
    std::vector<LocalSubnet> subnets;
    ifaddrs* pList = nullptr;
    if (::getifaddrs(&pList) != 0)
        return subnets;
    for (const ifaddrs* p = pList; p != nullptr; p = p->ifa_next) {
        if (p->ifa_addr == nullptr || p->ifa_netmask == nullptr || (p->ifa_flags & IFF_UP) == 0 ||
            (p->ifa_addr->sa_family != AF_INET && p->ifa_addr->sa_family != AF_INET6))
            continue;
        LocalSubnet subnet{p->ifa_addr->sa_family, {}, {}};
        const int length = AddressLength(subnet.nFamily);
        const void* mask =
            subnet.nFamily == AF_INET
                ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(p->ifa_netmask)->sin_addr)
                : &reinterpret_cast<const sockaddr_in6*>(p->ifa_netmask)->sin6_addr;
        std::memcpy(subnet.mask, mask, static_cast<size_t>(length));
        if (std::all_of(subnet.mask, subnet.mask + length, [](BYTE b) { return b == 0; }))
            continue;
        const BYTE* address =
            subnet.nFamily == AF_INET
                ? reinterpret_cast<const BYTE*>(&reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr)
                : reinterpret_cast<const sockaddr_in6*>(p->ifa_addr)->sin6_addr.s6_addr;
        for (int i = 0; i < length; ++i)
            subnet.address[i] = static_cast<BYTE>(address[i] & subnet.mask[i]);
        subnets.push_back(subnet);
    }
    ::freeifaddrs(pList);
    return subnets;
}

bool AfxIsInSubnets(const sockaddr_storage& address, const std::vector<LocalSubnet>& subnets)
{
    BYTE bytes[16] = {};
    const int family = AddressBytes(reinterpret_cast<const sockaddr*>(&address), bytes);
    return family != 0 && std::any_of(subnets.begin(), subnets.end(), [&](const LocalSubnet& subnet) {
               if (subnet.nFamily != family)
                   return false;
               for (int i = 0; i < AddressLength(family); ++i)
                   if ((bytes[i] & subnet.mask[i]) != subnet.address[i])
                       return false;
               return true;
           });
}

bool AfxIsOnLocalNetwork(const sockaddr_storage& address)
{
    return AfxIsInSubnets(address, AfxGetLocalSubnets());
}

std::vector<LocalAddress> AfxGetLocalAddresses(bool bLoopback)
{
    std::vector<LocalAddress> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0 ||
            (entry->ifa_addr->sa_family != AF_INET && entry->ifa_addr->sa_family != AF_INET6) ||
            (!bLoopback && (entry->ifa_flags & IFF_LOOPBACK) != 0))
            continue;
        char host[NI_MAXHOST];
        const socklen_t length = entry->ifa_addr->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        if (::getnameinfo(entry->ifa_addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) == 0)
            addresses.push_back({host, entry->ifa_addr->sa_family == AF_INET6});
    }
    ::freeifaddrs(list);
    return addresses;
}
