// SPDX-License-Identifier: MIT
// Socket readiness from the Qt event loop.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include <QPointer>
#include <QSocketNotifier>

#include "platform/core/socket_watcher.h"

// Installs itself for its lifetime. One OnReceive call per notification; a
// socket closed inside its own OnReceive is safe.
class CQtSocketWatcher : public ISocketWatcher {
public:
    CQtSocketWatcher();
    ~CQtSocketWatcher() override;
    CQtSocketWatcher(const CQtSocketWatcher&) = delete;
    CQtSocketWatcher& operator=(const CQtSocketWatcher&) = delete;

    void Watch(CAsyncSocket* pSocket) override;
    void Unwatch(CAsyncSocket* pSocket) override;

private:
    std::map<CAsyncSocket*, std::unique_ptr<QSocketNotifier>> m_notifiers;
    // Notifiers of sockets closed inside their own notification, not yet deleted.
    std::vector<QPointer<QSocketNotifier>> m_closing;
    ISocketWatcher* m_pPrevious;
};
