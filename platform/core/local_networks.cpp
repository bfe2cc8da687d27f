// SPDX-License-Identifier: MIT
#include "local_networks.h"

#include <netdb.h>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <unistd.h>

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

// The MTU of the interface named lpszName, by a socket of fd's; 0 when not known.
UINT InterfaceMtu(int fd, const char* lpszName)
{
    ifreq request{};
    if (fd < 0 || std::strlen(lpszName) >= sizeof request.ifr_name)
        return 0;
    std::strncpy(request.ifr_name, lpszName, sizeof request.ifr_name - 1);
    return ::ioctl(fd, SIOCGIFMTU, &request) == 0 && request.ifr_mtu > 0 ? static_cast<UINT>(request.ifr_mtu) : 0;
}

} // namespace

std::vector<LocalSubnet> AfxGetLocalSubnets()
{
    std::vector<LocalSubnet> subnets;
    ifaddrs* pList = nullptr;
    if (::getifaddrs(&pList) != 0)
        return subnets;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
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
        subnet.nIfIndex = static_cast<int>(::if_nametoindex(p->ifa_name));
        subnet.nMtu = InterfaceMtu(fd, p->ifa_name);
        subnet.bLoopback = (p->ifa_flags & IFF_LOOPBACK) != 0;
        subnets.push_back(subnet);
    }
    if (fd >= 0)
        ::close(fd);
    ::freeifaddrs(pList);
    return subnets;
}

bool AfxIsBroadcastOrMulticast(const sockaddr_storage& address, const std::vector<LocalSubnet>& subnets)
{
    BYTE bytes[16] = {};
    const int family = AddressBytes(reinterpret_cast<const sockaddr*>(&address), bytes);
    if (family == AF_INET6)
        return bytes[0] == 0xFF;
    if (family != AF_INET)
        return false;
    if ((bytes[0] & 0xF0) == 0xE0 || std::all_of(bytes, bytes + 4, [](BYTE b) { return b == 0xFF; }))
        return true;
    return std::any_of(subnets.begin(), subnets.end(), [&](const LocalSubnet& subnet) {
        if (subnet.nFamily != AF_INET)
            return false;
        // A /31 or /32 has no broadcast address: its host parts are addresses.
        int hostBits = 0;
        for (int i = 0; i < 4; ++i)
            hostBits += 8 - __builtin_popcount(subnet.mask[i]);
        if (hostBits < 2)
            return false;
        for (int i = 0; i < 4; ++i)
            if (bytes[i] != static_cast<BYTE>(subnet.address[i] | static_cast<BYTE>(~subnet.mask[i])))
                return false;
        return true;
    });
}

bool AfxIsInSubnet(const sockaddr_storage& address, const LocalSubnet& subnet)
{
    BYTE bytes[16] = {};
    const int family = AddressBytes(reinterpret_cast<const sockaddr*>(&address), bytes);
    if (family == 0 || subnet.nFamily != family)
        return false;
    for (int i = 0; i < AddressLength(family); ++i)
        if ((bytes[i] & subnet.mask[i]) != subnet.address[i])
            return false;
    return true;
}

bool AfxIsInSubnets(const sockaddr_storage& address, const std::vector<LocalSubnet>& subnets)
{
    return std::any_of(subnets.begin(), subnets.end(),
                       [&](const LocalSubnet& subnet) { return AfxIsInSubnet(address, subnet); });
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
            addresses.push_back({host, entry->ifa_addr->sa_family == AF_INET6, entry->ifa_name});
    }
    ::freeifaddrs(list);
    return addresses;
}
