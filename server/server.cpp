// SPDX-License-Identifier: MIT
// The server's face: CTFTPServer hands every call to its CServeCore.
#include "server/server.h"

#include <sys/socket.h>

#include "server/serve_core.h"

CTFTPServer::CTFTPServer(CWnd* pOwner, ITransferLog* pLog, Clock clock, CServeSockets* pSockets)
    : m_pCore(std::make_unique<CServeCore>(pOwner, pLog, std::move(clock), pSockets))
{
}

CTFTPServer::~CTFTPServer() = default;

ServeStartError CTFTPServer::Start(const ServeConfig& config, const Binder& binder, std::string* pDetail)
{
    return m_pCore->Start(config, binder, pDetail);
}

void CTFTPServer::Stop()
{
    m_pCore->Stop();
}

bool CTFTPServer::IsServing() const
{
    return !m_pCore->m_listeners.empty();
}

std::vector<sockaddr_storage> CTFTPServer::ListeningAddresses() const
{
    std::vector<sockaddr_storage> addresses;
    for (const auto& listener : m_pCore->m_listeners) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(listener->m_hSocket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            addresses.push_back(address);
    }
    return addresses;
}

void CTFTPServer::SetPolicy(const ServePolicy& policy)
{
    m_pCore->m_policy = policy;
}

ServePolicy CTFTPServer::Policy() const
{
    return m_pCore->m_policy;
}

void CTFTPServer::OnTick(ULONGLONG nNowMs)
{
    m_pCore->OnTick(nNowMs);
}

ULONGLONG CTFTPServer::NextDeadlineMs() const
{
    return m_pCore->NextDeadlineMs();
}

const std::vector<ServeRow>& CTFTPServer::Rows() const
{
    return m_pCore->Rows();
}

void CTFTPServer::ClearFinished()
{
    m_pCore->ClearFinished();
}

size_t CTFTPServer::Running() const
{
    return m_pCore->Running();
}
