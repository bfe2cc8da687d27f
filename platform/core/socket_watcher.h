// SPDX-License-Identifier: MIT
// Delivery of socket readiness to OnReceive on the one user-interface thread.
#pragma once

#include <vector>

class CAsyncSocket;

// The process-wide watcher that a socket registers with when it is created
// and leaves when it is closed. A watcher that goes first detaches its sockets. The program installs one over its event
// loop; engine tests and headless drivers use CPollSocketWatcher.
class ISocketWatcher {
public:
    virtual ~ISocketWatcher() = default;
    virtual void Watch(CAsyncSocket* pSocket) = 0;
    virtual void Unwatch(CAsyncSocket* pSocket) = 0;
};

// Installs the watcher for sockets created from now on; returns the previous.
ISocketWatcher* AfxSetSocketWatcher(ISocketWatcher* pWatcher);
ISocketWatcher* AfxGetSocketWatcher();

// A poll() loop: each call of RunOnce waits up to nTimeoutMs for readiness and
// calls OnReceive once on each socket that has a datagram waiting. A socket
// closed by an earlier call in the same round is not called; rounds may nest
// (a message box's loop inside OnReceive).
class CPollSocketWatcher : public ISocketWatcher {
public:
    CPollSocketWatcher();
    ~CPollSocketWatcher() override;
    CPollSocketWatcher(const CPollSocketWatcher&) = delete;
    CPollSocketWatcher& operator=(const CPollSocketWatcher&) = delete;

    void Watch(CAsyncSocket* pSocket) override;
    void Unwatch(CAsyncSocket* pSocket) override;

    // Returns the number of OnReceive calls made (0 on timeout).
    int RunOnce(int nTimeoutMs);

private:
    std::vector<CAsyncSocket*> m_sockets;
    ISocketWatcher* m_pPrevious;
};
