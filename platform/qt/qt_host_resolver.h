// SPDX-License-Identifier: MIT
// Host name lookups on worker threads, answered on the window's thread
// through its event loop: a slow name server never freezes the window.
#pragma once

#include <memory>
#include <mutex>

#include <QObject>

#include "platform/core/host_resolver.h"

// Installed for its lifetime. Each lookup runs getaddrinfo on a detached
// thread of its own (a lookup cannot be interrupted, and the program must
// not wait for one when it ends); the answer is posted to this object and
// handed to the asker unless its lookup has been destroyed meanwhile.
class CQtHostResolver : public QObject, public IHostResolver {
public:
    CQtHostResolver();
    ~CQtHostResolver() override;
    CQtHostResolver(const CQtHostResolver&) = delete;
    CQtHostResolver& operator=(const CQtHostResolver&) = delete;

    std::unique_ptr<CHostLookup> Lookup(const std::string& host, UINT nPort, HostLookupDone done) override;

    // This object, for the lookups' threads to post to while it lives.
    struct Receiver {
        std::mutex lock;
        QObject* pObject = nullptr;
    };

private:
    IHostResolver* m_pPrevious;
    std::shared_ptr<Receiver> m_receiver;
};
