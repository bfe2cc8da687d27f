// SPDX-License-Identifier: MIT
#include "server/proxy_dhcp_socket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cerrno>
#include <cstring>

#include "platform/core/port_holders.h"
#include "platform/core/privileged_bind.h"

namespace {

// Datagrams read per readiness report: a flood is taken in bites, and the
// window's event loop runs in between.
constexpr int kDatagramsPerWake = 32;

// Whether address is one of interface's IPv4 addresses.
bool HasAddress(const std::string& interface, in_addr address)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next)
        found = entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET && interface == entry->ifa_name &&
                reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == address.s_addr;
    ::freeifaddrs(list);
    return found;
}

int PlainBind(const sockaddr_in& address, int nIfIndex)
{
    const BindResult result =
        AfxBindUdpPortOnInterface(reinterpret_cast<const sockaddr*>(&address), sizeof address, nIfIndex, {});
    errno = result.nError;
    return result.outcome == BindOutcome::Bound ? result.fd : -1;
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

} // namespace

void CProxyDhcpListener::OnReceive(int /*nErrorCode*/)
{
    m_server.OnDatagrams(*this);
}

ProxyDhcpStartError CProxyDhcpServer::Start(const std::string& interface, in_addr address, ProxyDhcpConfig config,
                                            const Binder& binder, std::string* pDetail)
{
    Stop();
    const auto fail = [&](ProxyDhcpStartError error, std::string detail) {
        for (auto& listener : m_listeners)
            listener.reset();
        if (pDetail != nullptr)
            *pDetail = std::move(detail);
        return error;
    };
    char host[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, host, sizeof host);
    // The name goes to the system only when it is one that can be an interface's.
    const int ifIndex =
        interface.empty() || interface.size() >= IFNAMSIZ ? 0 : static_cast<int>(::if_nametoindex(interface.c_str()));
    if (ifIndex == 0)
        return fail(ProxyDhcpStartError::interface, "There is no network interface " + interface);
    if (!HasAddress(interface, address))
        return fail(ProxyDhcpStartError::interface, std::string(host) + " is not an address of " + interface);

    const WORD ports[2] = {DHCP_SERVER_PORT, PXE_SERVER_PORT};
    for (int i = 0; i < 2; ++i) {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(ports[i]);
        // Every address of the interface: a DHCPDISCOVER is sent to 255.255.255.255.
        const int fd = binder ? binder(any, ifIndex) : PlainBind(any, ifIndex);
        const int error = errno;
        const std::string where = "UDP port " + std::to_string(ports[i]) + " on " + interface;
        if (fd < 0 && error == EADDRINUSE) {
            const std::vector<std::string> holders = AfxUdpPortHolders(ports[i]);
            return fail(ProxyDhcpStartError::inUse,
                        where + " is held by another program" +
                            (holders.empty() ? std::string(" (another DHCP server?)") : ": " + Joined(holders)));
        }
        if (fd < 0)
            return fail(error == EACCES || error == EPERM ? ProxyDhcpStartError::notPermitted
                                                          : ProxyDhcpStartError::other,
                        where + ": " + std::strerror(error));
        auto& listener = m_listeners[i];
        listener = std::make_unique<CProxyDhcpListener>(*this, i == 0 ? DhcpPort::dhcp : DhcpPort::pxe);
        // Attach owns fd from here, whether it succeeds or not.
        if (!listener->Attach(fd, FD_READ) || !listener->EnablePacketInfo())
            return fail(ProxyDhcpStartError::other, where + ": " + std::strerror(CAsyncSocket::GetLastError()));
        const int on = 1;
        if (::setsockopt(listener->m_hSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
            return fail(ProxyDhcpStartError::other, where + ": " + std::strerror(errno));
    }
    config.address = address;
    m_pDhcp = std::make_unique<CProxyDhcp>(std::move(config));
    m_interface = interface;
    m_local = {};
    auto& local = reinterpret_cast<sockaddr_in&>(m_local);
    local.sin_family = AF_INET;
    local.sin_addr = address;
    Log("Proxy DHCP on " + interface + " (" + host + "): answering network boot firmware on UDP ports 67 and 4011",
        m_clock());
    return ProxyDhcpStartError::none;
}

void CProxyDhcpServer::Stop()
{
    for (auto& listener : m_listeners)
        listener.reset();
    if (!m_pDhcp)
        return;
    m_pDhcp.reset();
    if (m_nLinesLeftOut > 0 && m_pLog != nullptr)
        m_pLog->LogLine("Left out " + std::to_string(m_nLinesLeftOut) + " lines about network boot: too many at once");
    m_nLinesLeftOut = 0;
    if (m_pLog != nullptr)
        m_pLog->LogLine("Proxy DHCP on " + m_interface + " stopped");
}

void CProxyDhcpServer::OnDatagrams(CProxyDhcpListener& listener)
{
    for (int i = 0; i < kDatagramsPerWake && m_pDhcp; ++i) {
        sockaddr_storage from{};
        sockaddr_storage local{};
        const int length =
            listener.ReceiveFromWithLocal(m_abDatagram, sizeof m_abDatagram, &from, &local, MSG_DONTWAIT);
        if (length == SOCKET_ERROR && CAsyncSocket::GetLastError() == EMSGSIZE)
            continue; // longer than any boot firmware sends
        if (length == SOCKET_ERROR)
            return;
        if (from.ss_family != AF_INET)
            continue;
        const ULONGLONG now = m_clock();
        const ProxyDhcpAnswer answer =
            m_pDhcp->Judge(m_abDatagram, length, listener.Port(), reinterpret_cast<const sockaddr_in&>(from), now);
        // An answer held back by the overall limit is not told as sent.
        const bool send = answer.bAnswer && m_answers.Take(now);
        if (!answer.line.empty() && (send || !answer.bAnswer))
            Log(answer.line, now);
        if (!send)
            continue;
        sockaddr_storage to{};
        std::memcpy(&to, &answer.to, sizeof answer.to);
        // From this server's address, which the answer names as option 54.
        (void)listener.SendToFrom(answer.reply, answer.nReplyLength, to, m_local);
        if (answer.bNewBoot && m_onBoot)
            m_onBoot(answer);
    }
}

void CProxyDhcpServer::Log(const std::string& line, ULONGLONG nNowMs)
{
    if (m_pLog == nullptr)
        return;
    if (!m_lines.Take(nNowMs)) {
        ++m_nLinesLeftOut;
        return;
    }
    if (m_nLinesLeftOut > 0)
        m_pLog->LogLine("Left out " + std::to_string(m_nLinesLeftOut) + " lines about network boot: too many at once");
    m_nLinesLeftOut = 0;
    m_pLog->LogLine(line);
}
