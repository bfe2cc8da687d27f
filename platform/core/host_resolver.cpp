// SPDX-License-Identifier: MIT
#include "host_resolver.h"

#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

namespace {

class CImmediateResolver : public IHostResolver {
public:
    std::unique_ptr<CHostLookup> Lookup(const std::string& host, UINT nPort, HostLookupDone done) override
    {
        done(AfxLookUpHost(host, nPort));
        return nullptr;
    }
};

CImmediateResolver g_immediateResolver;
IHostResolver* g_pResolver = nullptr;

} // namespace

IHostResolver* AfxGetHostResolver()
{
    return g_pResolver != nullptr ? g_pResolver : &g_immediateResolver;
}

IHostResolver* AfxSetHostResolver(IHostResolver* pResolver)
{
    IHostResolver* previous = g_pResolver;
    g_pResolver = pResolver;
    return previous;
}

HostLookupResult AfxLookUpHost(const std::string& host, UINT nPort, bool bNumeric)
{
    HostLookupResult result;
    if (host.empty() || nPort > 65535) {
        result.nError = EAI_NONAME;
        return result;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = bNumeric ? AI_NUMERICHOST : 0;
    addrinfo* list = nullptr;
    result.nError = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (result.nError != 0)
        return result;
    const auto port = htons(static_cast<uint16_t>(nPort));
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
            entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage address{};
        std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
        if (address.ss_family == AF_INET)
            reinterpret_cast<sockaddr_in*>(&address)->sin_port = port;
        else
            reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = port;
        result.addresses.push_back(address);
    }
    ::freeaddrinfo(list);
    if (result.addresses.empty())
        result.nError = EAI_NONAME;
    return result;
}
