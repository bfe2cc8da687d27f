// SPDX-License-Identifier: MIT
// Host name lookup that never holds up the caller's thread: the seam between
// the transfer, which waits in a state of its own, and whatever looks names
// up (a worker thread under the window, at once for drivers and tests).
#pragma once

#include <sys/socket.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "afxtypes.h"

struct HostLookupResult {
    int nError = 0; // 0, or getaddrinfo's EAI_ code
    // In getaddrinfo's order (the system's address selection), each with the port.
    std::vector<sockaddr_storage> addresses;
};

using HostLookupDone = std::function<void(const HostLookupResult&)>;

// A lookup under way. Destroying it ends it: done is not called afterwards,
// even when the lookup itself completes later.
class CHostLookup {
public:
    virtual ~CHostLookup() = default;
};

class IHostResolver {
public:
    virtual ~IHostResolver() = default;
    // Looks lpszHost up for datagram sockets of any family and calls done
    // once, on the calling thread. A resolver may call done before it
    // returns; then it returns nullptr.
    virtual std::unique_ptr<CHostLookup> Lookup(const std::string& host, UINT nPort, HostLookupDone done) = 0;
};

// The resolver installed, or, when none is, one that looks up at once on the
// caller's thread.
IHostResolver* AfxGetHostResolver();
// Installs a resolver for lookups from now on; returns the previous one.
IHostResolver* AfxSetHostResolver(IHostResolver* pResolver);

// getaddrinfo for datagram sockets of any family, waiting for the answer.
// With bNumeric only a numeric address is taken, and nothing is asked of the
// network: such a call never waits.
HostLookupResult AfxLookUpHost(const std::string& host, UINT nPort, bool bNumeric = false);
