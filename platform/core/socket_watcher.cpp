// SPDX-License-Identifier: MIT
#include "socket_watcher.h"

#include <poll.h>

#include <algorithm>

#include "socket.h"

namespace {
ISocketWatcher* g_pWatcher = nullptr;
}

ISocketWatcher* AfxSetSocketWatcher(ISocketWatcher* pWatcher)
{
    ISocketWatcher* previous = g_pWatcher;
    g_pWatcher = pWatcher;
    return previous;
}

ISocketWatcher* AfxGetSocketWatcher()
{
    return g_pWatcher;
}

CPollSocketWatcher::CPollSocketWatcher() : m_pPrevious(AfxSetSocketWatcher(this)) {}

CPollSocketWatcher::~CPollSocketWatcher()
{
    AfxSetSocketWatcher(m_pPrevious);
    for (CAsyncSocket* socket : m_sockets)
        socket->DetachWatcher();
}

void CPollSocketWatcher::Watch(CAsyncSocket* pSocket)
{
    if (std::find(m_sockets.begin(), m_sockets.end(), pSocket) == m_sockets.end())
        m_sockets.push_back(pSocket);
}

void CPollSocketWatcher::Unwatch(CAsyncSocket* pSocket)
{
    std::erase(m_sockets, pSocket);
}

int CPollSocketWatcher::RunOnce(int nTimeoutMs)
{
    std::vector<pollfd> fds;
    fds.reserve(m_sockets.size());
    for (CAsyncSocket* socket : m_sockets)
        fds.push_back(pollfd{socket->m_hSocket, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), nTimeoutMs) <= 0)
        return 0;
    std::vector<CAsyncSocket*> ready;
    for (size_t i = 0; i < fds.size(); ++i) {
        // An error waiting on the socket is reported the same way: the read fails.
        if ((fds[i].revents & (POLLIN | POLLERR)) != 0)
            ready.push_back(m_sockets[i]);
    }
    int calls = 0;
    for (CAsyncSocket* socket : ready) {
        // Still watched: not closed by an earlier call of this round.
        if (std::find(m_sockets.begin(), m_sockets.end(), socket) == m_sockets.end())
            continue;
        socket->OnReceive(0);
        ++calls;
    }
    return calls;
}
