// SPDX-License-Identifier: MIT
#include "qt_host_resolver.h"

#include <mutex>
#include <thread>

#include <QMetaObject>

namespace {

// What a lookup's thread and its asker share: whether the answer is still
// wanted, and where it goes.
struct Shared {
    std::mutex lock;
    bool bWanted = true;
    HostLookupDone done;
};

class CThreadLookup : public CHostLookup {
public:
    explicit CThreadLookup(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}
    ~CThreadLookup() override
    {
        const std::lock_guard guard(m_shared->lock);
        m_shared->bWanted = false;
        m_shared->done = nullptr;
    }

private:
    std::shared_ptr<Shared> m_shared;
};

} // namespace

CQtHostResolver::CQtHostResolver() : m_pPrevious(AfxSetHostResolver(this)), m_receiver(std::make_shared<Receiver>())
{
    m_receiver->pObject = this;
}

CQtHostResolver::~CQtHostResolver()
{
    AfxSetHostResolver(m_pPrevious);
    // A lookup that ends from now on posts nothing; the lock keeps a post
    // under way and this destruction apart (Qt drops the events posted to
    // an object that is destroyed).
    const std::lock_guard guard(m_receiver->lock);
    m_receiver->pObject = nullptr;
}

std::unique_ptr<CHostLookup> CQtHostResolver::Lookup(const std::string& host, UINT nPort, HostLookupDone done)
{
    auto shared = std::make_shared<Shared>();
    shared->done = std::move(done);
    std::thread([shared, host, nPort, receiver = m_receiver] {
        HostLookupResult result = AfxLookUpHost(host, nPort);
        const std::lock_guard guard(receiver->lock);
        if (receiver->pObject == nullptr)
            return;
        QMetaObject::invokeMethod(
            receiver->pObject,
            [shared, result = std::move(result)] {
                HostLookupDone answer;
                {
                    const std::lock_guard inner(shared->lock);
                    if (!shared->bWanted)
                        return;
                    shared->bWanted = false;
                    answer = std::move(shared->done);
                }
                // Called outside the lock: the asker may end its lookup from here.
                if (answer)
                    answer(result);
            },
            Qt::QueuedConnection);
    }).detach();
    return std::make_unique<CThreadLookup>(shared);
}
