// SPDX-License-Identifier: MIT
// The proxy DHCP on the network: UDP ports 67 and 4011 on the one interface
// the user chose, each datagram judged by CProxyDhcp and its answer sent
// from this server's address on that interface. Single-threaded, as the
// TFTP server is: readiness from the installed socket watcher, time from the
// owner's clock.
#pragma once

#include <netinet/in.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/core/socket.h"
#include "protocol/transfer_log.h"
#include "server/proxy_dhcp.h"
#include "server/serve_guard.h"

class CProxyDhcpServer;

// One of the two listening sockets.
class CProxyDhcpListener : public CAsyncSocket {
public:
    CProxyDhcpListener(CProxyDhcpServer& server, DhcpPort port) : m_server(server), m_port(port) {}
    void OnReceive(int nErrorCode) override;
    DhcpPort Port() const { return m_port; }

private:
    CProxyDhcpServer& m_server;
    DhcpPort m_port;
};

enum class ProxyDhcpStartError {
    none,
    interface,    // no such interface, or the address is not one of its IPv4 addresses
    inUse,        // another program holds port 67 (or 4011) on that interface or on all
    notPermitted, // port 67 without the privilege, and no helper that may bind it
    other,        // any other failure; the detail says what
};

class CProxyDhcpServer {
public:
    // Milliseconds of a monotonic clock.
    using Clock = std::function<ULONGLONG()>;
    // Makes a datagram socket bound to address (0.0.0.0 and a port) on the
    // interface nIfIndex, bound to that interface before its port (see
    // AfxBindUdpPortOnInterface). Returns its descriptor, or -1 with errno
    // set. The default binds plainly; the window passes one that can ask the
    // privileged helper for port 67.
    using Binder = std::function<int(const sockaddr_in& address, int nIfIndex)>;
    // A machine answered for the first time in a minute: a boot begins.
    // Called while a datagram is handled: it must not start or stop this
    // server (a window posts itself a message for that).
    using BootSeen = std::function<void(const ProxyDhcpAnswer& answer)>;

    // Lines logged at most this many a second in all, answers sent at most
    // this many: a flood of forged hardware addresses is held to that.
    static constexpr unsigned kLinesPerSecond = 5;
    static constexpr unsigned kAnswersPerSecond = 50;

    // pLog (may be null) gets a line per boot and per machine refused; it
    // must outlive the server.
    CProxyDhcpServer(ITransferLog* pLog, Clock clock, BootSeen onBoot = {})
        : m_pLog(pLog), m_clock(std::move(clock)), m_onBoot(std::move(onBoot))
    {
    }
    ~CProxyDhcpServer() { Stop(); }
    CProxyDhcpServer(const CProxyDhcpServer&) = delete;
    CProxyDhcpServer& operator=(const CProxyDhcpServer&) = delete;

    // Listens on UDP 67 and 4011 of interface, which must have address among
    // its IPv4 addresses; config.address becomes address. Running already,
    // it stops first; on a failure nothing stays open and pDetail (when
    // given) says why, naming the programs that hold port 67 when the
    // system lets them be found.
    ProxyDhcpStartError Start(const std::string& interface, in_addr address, ProxyDhcpConfig config,
                              const Binder& binder = {}, std::string* pDetail = nullptr);
    // Closes both sockets; the ports are free again at once.
    void Stop();
    bool IsRunning() const { return m_pDhcp != nullptr; }

    // The datagrams waiting on listener, judged and answered.
    void OnDatagrams(CProxyDhcpListener& listener);

private:
    void Log(const std::string& line, ULONGLONG nNowMs);

    ITransferLog* m_pLog;
    Clock m_clock;
    BootSeen m_onBoot;
    std::unique_ptr<CProxyDhcp> m_pDhcp;
    std::unique_ptr<CProxyDhcpListener> m_listeners[2]; // on 67 and on 4011
    sockaddr_storage m_local = {};                      // this server's address, port 0
    std::string m_interface;
    CTokenBucket m_lines{kLinesPerSecond};
    CTokenBucket m_answers{kAnswersPerSecond};
    ULONGLONG m_nLinesLeftOut = 0;
    BYTE m_abDatagram[2048] = {};
};
