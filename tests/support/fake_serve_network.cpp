// SPDX-License-Identifier: MIT
#include "tests/support/fake_serve_network.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "protocol/host_address.h"

namespace {

UINT PortOf(const sockaddr_storage& address)
{
    return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                                               : reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

sockaddr_storage WithPort(sockaddr_storage address, UINT port)
{
    if (address.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(static_cast<uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

sockaddr_storage AddressOf(const char* text, UINT port)
{
    sockaddr_storage address{};
    if (std::strchr(text, ':') != nullptr) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        ::inet_pton(AF_INET6, text, &v6.sin6_addr);
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        ::inet_pton(AF_INET, text, &v4.sin_addr);
    }
    return WithPort(address, port);
}

// Whether a datagram to `to` reaches an endpoint at `at`: the same
// endpoint, or `at` is every address of the family at the port.
bool Reaches(const sockaddr_storage& to, const sockaddr_storage& at)
{
    sockaddr_storage any{};
    any.ss_family = at.ss_family;
    const bool everyAddress = SameEndpoint(at, WithPort(any, PortOf(at)));
    return SameEndpoint(to, at) || (everyAddress && to.ss_family == at.ss_family && PortOf(to) == PortOf(at));
}

} // namespace

FakeServeNetwork::Endpoint::Endpoint(FakeServeNetwork& network) : m_network(network)
{
    m_network.m_endpoints.push_back(this);
}

FakeServeNetwork::Endpoint::~Endpoint()
{
    std::erase(m_network.m_endpoints, this);
}

int FakeServeNetwork::Endpoint::Take(void* lpBuf, int nBufLen, Datagram* pDatagram, int* pError)
{
    if (inbox.empty()) {
        *pError = EAGAIN;
        return SOCKET_ERROR;
    }
    *pDatagram = std::move(inbox.front());
    inbox.pop_front();
    const Bytes& bytes = pDatagram->bytes;
    if (bytes.size() > static_cast<size_t>(std::max(nBufLen, 0))) {
        *pError = EMSGSIZE;
        return SOCKET_ERROR;
    }
    std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(lpBuf));
    return static_cast<int>(bytes.size());
}

// A listening socket: each datagram comes with where it was sent and the
// interface it came in on, as packet info tells them.
class FakeServeNetwork::Listener : public CServeListener, public Endpoint {
public:
    Listener(FakeServeNetwork& network, CServeCore& core) : CServeListener(core), Endpoint(network) {}

    bool Wake() override
    {
        const size_t waiting = inbox.size();
        OnReceive(0);
        return inbox.size() < waiting;
    }
    int ReceiveFromWithLocal(void* lpBuf, int nBufLen, sockaddr_storage* pFrom, sockaddr_storage* pLocal, int,
                             DatagramArrival* pArrival) override
    {
        Datagram datagram;
        int error = 0;
        const int length = Take(lpBuf, nBufLen, &datagram, &error);
        *pFrom = datagram.from;
        *pLocal = sockaddr_storage{};
        if (length == SOCKET_ERROR) {
            SetLastError(error);
            return SOCKET_ERROR;
        }
        *pLocal = WithPort(datagram.to, 0);
        auto& v6 = reinterpret_cast<sockaddr_in6&>(*pLocal);
        if (pLocal->ss_family == AF_INET6 && IN6_IS_ADDR_LINKLOCAL(&v6.sin6_addr))
            v6.sin6_scope_id = static_cast<uint32_t>(datagram.nIfIndex);
        if (pArrival != nullptr)
            *pArrival = DatagramArrival{WithPort(datagram.to, 0), datagram.nIfIndex};
        return length;
    }
    int SendToFrom(const void* lpBuf, int nBufLen, const sockaddr_storage& to, const sockaddr_storage& from,
                   int) override
    {
        const sockaddr_storage source = from.ss_family == AF_UNSPEC ? address : WithPort(from, PortOf(address));
        const auto* bytes = static_cast<const BYTE*>(lpBuf);
        m_network.Send(source, to, Bytes(bytes, bytes + nBufLen));
        return nBufLen;
    }
};

// A transfer's socket, at the address the request came to and a port of its own.
class FakeServeNetwork::Transfer : public CServeTransfer, public Endpoint {
public:
    Transfer(FakeServeNetwork& network, IServeHost& host, unsigned nId) : CServeTransfer(host, nId), Endpoint(network)
    {
    }

    bool Wake() override
    {
        if (IsFinished()) {
            inbox.clear(); // its socket is closed
            return false;
        }
        const size_t waiting = inbox.size();
        OnReceive(0);
        return inbox.size() < waiting;
    }
    int SendTo(const void* lpBuf, int nBufLen, const sockaddr* lpSockAddr, int nSockAddrLen, int) override
    {
        sockaddr_storage to{};
        std::memcpy(&to, lpSockAddr, std::min(sizeof to, static_cast<size_t>(nSockAddrLen)));
        const auto* bytes = static_cast<const BYTE*>(lpBuf);
        m_network.Send(address, to, Bytes(bytes, bytes + nBufLen));
        return nBufLen;
    }
    int ReceiveFrom(void* lpBuf, int nBufLen, sockaddr* lpSockAddr, int* lpSockAddrLen, int) override
    {
        Datagram datagram;
        int error = 0;
        const int length = Take(lpBuf, nBufLen, &datagram, &error);
        // Like recvfrom, the sender is told also of a datagram too long.
        const size_t room = std::min(sizeof datagram.from, static_cast<size_t>(std::max(*lpSockAddrLen, 0)));
        std::memcpy(lpSockAddr, &datagram.from, room);
        *lpSockAddrLen = static_cast<int>(room);
        if (length == SOCKET_ERROR)
            SetLastError(error);
        return length;
    }

protected:
    bool OpenSocket(const sockaddr_storage& local) override
    {
        address = WithPort(local, m_network.NextPort());
        return true;
    }
};

std::unique_ptr<CServeListener> FakeServeNetwork::MakeListener(CServeCore& core, const sockaddr_storage& address,
                                                               const CTFTPServer::Binder& /*binder*/)
{
    auto listener = std::make_unique<Listener>(*this, core);
    listener->address = PortOf(address) != 0 ? address : WithPort(address, NextPort());
    return listener;
}

std::unique_ptr<CServeTransfer> FakeServeNetwork::MakeTransfer(IServeHost& host, unsigned nId)
{
    return std::make_unique<Transfer>(*this, host, nId);
}

void FakeServeNetwork::Send(const sockaddr_storage& from, const sockaddr_storage& to, const Bytes& bytes, int nIfIndex)
{
    const auto at = std::find_if(m_endpoints.begin(), m_endpoints.end(),
                                 [&](const Endpoint* endpoint) { return Reaches(to, endpoint->address); });
    if (at != m_endpoints.end())
        (*at)->inbox.push_back(Datagram{bytes, from, to, nIfIndex});
}

void FakeServeNetwork::Pump()
{
    for (bool read = true; read;) {
        read = false;
        // By index: a listener's read may add a transfer.
        for (size_t i = 0; i < m_endpoints.size(); ++i)
            if (!m_endpoints[i]->inbox.empty() && m_endpoints[i]->Wake())
                read = true;
    }
}

std::vector<sockaddr_storage> FakeServeNetwork::Listening() const
{
    std::vector<sockaddr_storage> addresses;
    for (const Endpoint* endpoint : m_endpoints)
        if (dynamic_cast<const Listener*>(endpoint) != nullptr)
            addresses.push_back(endpoint->address);
    return addresses;
}

FakeClient::FakeClient(FakeServeNetwork& network, const char* at) : Endpoint(network)
{
    address = AddressOf(at, network.NextPort());
}

void FakeClient::SendTo(UINT port, const Bytes& datagram, const char* to)
{
    sockaddr_storage destination = WithPort(address, port);
    if (to != nullptr)
        destination = AddressOf(to, port);
    m_network.Send(address, destination, datagram, nIfIndex);
}

void FakeClient::Reply(const Bytes& datagram)
{
    m_network.Send(address, m_lastSender, datagram, nIfIndex);
}

std::optional<Bytes> FakeClient::TryReceive()
{
    if (inbox.empty())
        return std::nullopt;
    FakeServeNetwork::Datagram datagram = std::move(inbox.front());
    inbox.pop_front();
    m_lastSender = datagram.from;
    return std::move(datagram.bytes);
}

UINT FakeClient::LastSenderPort() const
{
    return PortOf(m_lastSender);
}

std::string FakeClient::LastSenderAddress() const
{
    return AddressOnlyText(m_lastSender);
}
