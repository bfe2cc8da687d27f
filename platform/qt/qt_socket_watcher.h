// SPDX-License-Identifier: MIT
// Socket readiness from the Qt event loop.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <QPointer>
#include <QSocketNotifier>

#include "platform/core/socket_watcher.h"

// Installs itself for its lifetime. A notification calls OnReceive once per
// datagram, reading on while datagrams keep coming within kAnswerBudget (see
// the .cpp); a socket closed or deleted inside its own OnReceive is safe.
class CQtSocketWatcher : public ISocketWatcher {
public:
    using Clock = std::chrono::steady_clock;
    // How long one notification may keep answering datagrams in place before
    // the window gets its turn again (painting, input, timers): with the last
    // read's own wait, well under the 50 ms in which a click must be taken.
    static constexpr std::chrono::milliseconds kAnswerBudget{8};

    // The budget is measured on `now`; tests pass a clock of their own.
    explicit CQtSocketWatcher(std::function<Clock::time_point()> now = Clock::now);
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
    std::function<Clock::time_point()> m_now;
};
