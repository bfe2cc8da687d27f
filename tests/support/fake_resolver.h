// SPDX-License-Identifier: MIT
// A host resolver whose lookups wait until the test answers them: a slow
// name server without the waiting.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/core/host_resolver.h"

class CFakeResolver : public IHostResolver {
public:
    CFakeResolver() : m_pPrevious(AfxSetHostResolver(this)) {}
    ~CFakeResolver() override { AfxSetHostResolver(m_pPrevious); }
    CFakeResolver(const CFakeResolver&) = delete;
    CFakeResolver& operator=(const CFakeResolver&) = delete;

    std::unique_ptr<CHostLookup> Lookup(const std::string& host, UINT nPort, HostLookupDone done) override
    {
        auto pending = std::make_shared<Pending>(Pending{host, nPort, std::move(done), true});
        m_pending.push_back(pending);
        return std::make_unique<Handle>(pending);
    }

    // The names looked up, in order.
    std::vector<std::string> Hosts() const
    {
        std::vector<std::string> hosts;
        for (const auto& pending : m_pending)
            hosts.push_back(pending->host);
        return hosts;
    }
    UINT Port(size_t n) const { return m_pending.at(n)->nPort; }

    // Completes the n-th lookup; false when its asker has gone (nothing called).
    bool Answer(size_t n, const HostLookupResult& result)
    {
        Pending& pending = *m_pending.at(n);
        if (!pending.bWanted)
            return false;
        pending.bWanted = false;
        HostLookupDone done = std::move(pending.done);
        done(result);
        return true;
    }

private:
    struct Pending {
        std::string host;
        UINT nPort;
        HostLookupDone done;
        bool bWanted;
    };
    class Handle : public CHostLookup {
    public:
        explicit Handle(std::shared_ptr<Pending> pending) : m_pending(std::move(pending)) {}
        ~Handle() override { m_pending->bWanted = false; }

    private:
        std::shared_ptr<Pending> m_pending;
    };

    IHostResolver* m_pPrevious;
    std::vector<std::shared_ptr<Pending>> m_pending;
};
