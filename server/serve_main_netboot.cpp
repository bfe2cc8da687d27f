// SPDX-License-Identifier: MIT
#include "server/serve_main_netboot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/core/privileged_bind.h"
#include "protocol/host_address.h"
#include "server/serve_names.h"

namespace {

// Port 67 through the helper when this process may not bind it; 4011 plainly.
int HelperBinder(const sockaddr_in& address, int nIfIndex)
{
    const BindResult bound =
        AfxBindUdpPortOnInterface(reinterpret_cast<const sockaddr*>(&address), sizeof address, nIfIndex);
    if (bound.outcome == BindOutcome::Bound)
        return bound.fd;
    errno = bound.outcome == BindOutcome::InUse          ? EADDRINUSE
            : bound.outcome == BindOutcome::NotPermitted ? EACCES
                                                         : bound.nError;
    return -1;
}

std::string DhcpFailureLine(ProxyDhcpStartError error, const std::string& detail)
{
    switch (error) {
    case ProxyDhcpStartError::inUse:
        return "Cannot answer network boot: " + detail +
               ". Stop that DHCP server's boot service on this interface, or let it name the boot files itself. "
               "This command shows which program holds the port: sudo ss -ulpn 'sport = :67'";
    case ProxyDhcpStartError::notPermitted:
        return "Cannot answer network boot: " + detail +
               ". Port 67 needs the privilege port 69 needs: the helper tarnwick-bind binds both for the members "
               "of the group tarnwick (an administrator adds a user with: sudo adduser " +
               AfxRealUserName() + " tarnwick; then log in again)";
    default:
        return "Cannot answer network boot: " + detail;
    }
}

} // namespace

CServeNetboot::CServeNetboot(CWnd* pRowsChanged, ITransferLog* pLog, CServeOutput* pOutput)
    : m_http(pRowsChanged, pLog, AfxMonotonicMs),
      m_dhcp(pLog, AfxMonotonicMs, [pOutput](const ProxyDhcpAnswer& answer) { pOutput->Boot(answer); })
{
}

CServeNetboot::~CServeNetboot()
{
    Stop();
}

std::string CServeNetboot::Start(const ServeOptions& options, CEventLoop& loop)
{
    Stop();
    const ServeConfig& config = options.config;
    const sockaddr_storage& address = config.listen.front();
    std::string failed = m_http.Start(address, options.nHttpPort, config.folder, ServeHttpLimits::Of(config));
    if (!failed.empty())
        return "Cannot serve over HTTP on " + failed +
               (failed.find("in use") != std::string::npos ? ". Choose another port (--http-port 8070)" : "");
    m_nFolderFd = ::open(config.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    m_bIgnoreCase = config.bIgnoreCase;
    ProxyDhcpConfig dhcp;
    dhcp.files = options.bootFiles;
    dhcp.nHttpPort = m_http.Port();
    dhcp.folder = config.folder;
    // Looked up as a client's name is: beneath the folder, a regular file.
    dhcp.fileExists = [this](const std::string& name) {
        const ServeName normal = NormalizeServeName(name, true);
        if (normal.wErrorCode != 0 || m_nFolderFd < 0)
            return false;
        const ServeOpen opened = OpenServeFile(m_nFolderFd, normal.relative, O_RDONLY, 0, m_bIgnoreCase);
        if (opened.fd >= 0)
            ::close(opened.fd);
        return opened.fd >= 0;
    };
    std::string detail;
    const ProxyDhcpStartError error =
        m_dhcp.Start(options.netbootInterface, reinterpret_cast<const sockaddr_in&>(address).sin_addr, std::move(dhcp),
                     HelperBinder, &detail);
    if (error != ProxyDhcpStartError::none) {
        Stop();
        return DhcpFailureLine(error, detail);
    }
    m_pLoop = &loop;
    m_watched = m_http.Fds();
    for (const int fd : m_watched)
        loop.WatchFd(fd, [this] { m_http.OnReady(); });
    return {};
}

void CServeNetboot::Stop()
{
    if (m_pLoop != nullptr)
        for (const int fd : m_watched)
            m_pLoop->UnwatchFd(fd);
    m_watched.clear();
    m_pLoop = nullptr;
    m_dhcp.Stop();
    m_http.Stop();
    if (m_nFolderFd >= 0)
        ::close(m_nFolderFd);
    m_nFolderFd = -1;
}
