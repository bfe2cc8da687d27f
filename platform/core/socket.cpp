// SPDX-License-Identifier: MIT
#include "socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <unistd.h>

#include <sys/time.h>

#include <cstring>

#include "host_resolver.h"
#include "socket_watcher.h"

namespace {
int g_nLastError = 0;
CReceiveWait* g_pReceiveWait = nullptr;

// Sets the last error and answers SOCKET_ERROR when a system call failed.
int Checked(ssize_t result)
{
    if (result < 0) {
        g_nLastError = errno;
        return SOCKET_ERROR;
    }
    return static_cast<int>(result);
}

socklen_t SockAddrLength(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}
} // namespace

int CAsyncSocket::GetLastError()
{
    return g_nLastError;
}

void CAsyncSocket::SetLastError(int nError)
{
    g_nLastError = nError;
}

CReceiveWait::CReceiveWait() : m_pOuter(g_pReceiveWait)
{
    g_pReceiveWait = this;
}

CReceiveWait::~CReceiveWait()
{
    g_pReceiveWait = m_pOuter;
}

int CAsyncSocket::ReadFlags()
{
    // The socket's receive timeout bounds the wait.
    return g_pReceiveWait != nullptr ? 0 : MSG_DONTWAIT;
}

int CAsyncSocket::NoteRead(int nResult)
{
    if (nResult == SOCKET_ERROR && g_pReceiveWait != nullptr && (g_nLastError == EAGAIN || g_nLastError == EWOULDBLOCK))
        g_pReceiveWait->m_bTimedOut = true;
    return nResult;
}

CAsyncSocket::~CAsyncSocket()
{
    Close();
}

BOOL CAsyncSocket::Create(UINT nSocketPort, int nSocketType, long lEvent, const char* lpszSocketAddress,
                          int nAddressFamily)
{
    if (m_hSocket >= 0 || nSocketPort > 65535 || (nAddressFamily != AF_INET && nAddressFamily != AF_INET6)) {
        SetLastError(EINVAL);
        return FALSE;
    }
    sockaddr_storage local{};
    socklen_t localLength = 0;
    const auto port = htons(static_cast<uint16_t>(nSocketPort));
    bool parsed = true;
    if (nAddressFamily == AF_INET) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&local);
        v4->sin_family = AF_INET;
        v4->sin_port = port;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        parsed = lpszSocketAddress == nullptr || inet_pton(AF_INET, lpszSocketAddress, &v4->sin_addr) == 1;
        localLength = sizeof(sockaddr_in);
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&local);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = port;
        v6->sin6_addr = in6addr_any;
        parsed = lpszSocketAddress == nullptr || inet_pton(AF_INET6, lpszSocketAddress, &v6->sin6_addr) == 1;
        localLength = sizeof(sockaddr_in6);
    }
    if (!parsed) {
        SetLastError(EINVAL);
        return FALSE;
    }
    // A blocking socket whose calls never block unasked: every send and
    // every read outside a CReceiveWait says MSG_DONTWAIT, and the receive
    // timeout bounds a read inside one. A wait inside the read itself costs
    // the system less than a poll followed by a read.
    int fd = ::socket(nAddressFamily, nSocketType | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetLastError(errno);
        return FALSE;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), localLength) != 0) {
        SetLastError(errno);
        ::close(fd);
        return FALSE;
    }
    return Adopt(fd, lEvent);
}

BOOL CAsyncSocket::CreateAt(const sockaddr_storage& local, long lEvent)
{
    if (m_hSocket >= 0 || (local.ss_family != AF_INET && local.ss_family != AF_INET6)) {
        SetLastError(EINVAL);
        return FALSE;
    }
    const int fd = ::socket(local.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetLastError(errno);
        return FALSE;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), SockAddrLength(local)) != 0) {
        SetLastError(errno);
        ::close(fd);
        return FALSE;
    }
    return Adopt(fd, lEvent);
}

BOOL CAsyncSocket::Attach(int fd, long lEvent)
{
    if (m_hSocket >= 0 || fd < 0) {
        SetLastError(EINVAL);
        return FALSE;
    }
    return Adopt(fd, lEvent);
}

BOOL CAsyncSocket::Adopt(int fd, long lEvent)
{
    const timeval wait{0, CReceiveWait::kReceiveWaitMs * 1000};
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
        SetLastError(errno);
        ::close(fd);
        return FALSE;
    }
    m_hSocket = fd;
    if ((lEvent & FD_READ) != 0 && AfxGetSocketWatcher() != nullptr) {
        m_pWatcher = AfxGetSocketWatcher();
        m_pWatcher->Watch(this);
    }
    return TRUE;
}

int AfxBindDatagramSocket(const sockaddr_storage& address)
{
    if (address.ss_family != AF_INET && address.ss_family != AF_INET6) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    const int fd = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    if ((address.ss_family == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), SockAddrLength(address)) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

void CAsyncSocket::Close()
{
    if (m_hSocket < 0)
        return;
    if (m_pWatcher != nullptr)
        m_pWatcher->Unwatch(this);
    m_pWatcher = nullptr;
    ::close(m_hSocket);
    m_hSocket = -1;
}

BOOL CAsyncSocket::ResolveAddress(const char* lpszHostAddress, UINT nHostPort, sockaddr_in* pAddress)
{
    const HostLookupResult found =
        lpszHostAddress != nullptr ? AfxLookUpHost(lpszHostAddress, nHostPort) : HostLookupResult{EAI_NONAME, {}};
    for (const sockaddr_storage& address : found.addresses) {
        if (address.ss_family == AF_INET) {
            *pAddress = reinterpret_cast<const sockaddr_in&>(address);
            return TRUE;
        }
    }
    SetLastError(EINVAL);
    return FALSE;
}

int CAsyncSocket::SendTo(const void* lpBuf, int nBufLen, UINT nHostPort, const char* lpszHostAddress, int nFlags)
{
    sockaddr_in address{};
    if (!ResolveAddress(lpszHostAddress, nHostPort, &address))
        return SOCKET_ERROR;
    return SendTo(lpBuf, nBufLen, reinterpret_cast<const sockaddr*>(&address), sizeof address, nFlags);
}

int CAsyncSocket::SendTo(const void* lpBuf, int nBufLen, const sockaddr* lpSockAddr, int nSockAddrLen, int nFlags)
{
    if (nBufLen < 0) {
        SetLastError(EINVAL);
        return SOCKET_ERROR;
    }
    return Checked(::sendto(m_hSocket, lpBuf, static_cast<size_t>(nBufLen), nFlags | MSG_NOSIGNAL | MSG_DONTWAIT,
                            lpSockAddr, static_cast<socklen_t>(nSockAddrLen)));
}

int CAsyncSocket::ReceiveFrom(void* lpBuf, int nBufLen, sockaddr* lpSockAddr, int* lpSockAddrLen, int nFlags)
{
    if (nBufLen < 0 || lpSockAddrLen == nullptr) {
        SetLastError(EINVAL);
        return SOCKET_ERROR;
    }
    socklen_t addressLength = static_cast<socklen_t>(*lpSockAddrLen);
    // MSG_TRUNC makes the kernel report the datagram's real length.
    int result = NoteRead(Checked(::recvfrom(m_hSocket, lpBuf, static_cast<size_t>(nBufLen),
                                             nFlags | MSG_TRUNC | ReadFlags(), lpSockAddr, &addressLength)));
    if (result == SOCKET_ERROR)
        return SOCKET_ERROR;
    if (result > nBufLen) {
        SetLastError(EMSGSIZE);
        return SOCKET_ERROR;
    }
    *lpSockAddrLen = static_cast<int>(addressLength);
    return result;
}

BOOL CAsyncSocket::EnablePacketInfo()
{
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        SetLastError(errno);
        return FALSE;
    }
    const int on = 1;
    const int result = local.ss_family == AF_INET6
                           ? ::setsockopt(m_hSocket, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on)
                           : ::setsockopt(m_hSocket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    if (result != 0) {
        SetLastError(errno);
        return FALSE;
    }
    // A dual-stack IPv6 socket also hears IPv4; its replies need the IPv4 address.
    if (local.ss_family == AF_INET6)
        (void)::setsockopt(m_hSocket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    return TRUE;
}

int CAsyncSocket::ReceiveFromWithLocal(void* lpBuf, int nBufLen, sockaddr_storage* pFrom, sockaddr_storage* pLocal,
                                       int nFlags, DatagramArrival* pArrival)
{
    DatagramArrival arrival;
    if (nBufLen < 0) {
        SetLastError(EINVAL);
        return SOCKET_ERROR;
    }
    iovec io{lpBuf, static_cast<size_t>(nBufLen)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo)) + CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    *pFrom = sockaddr_storage{};
    *pLocal = sockaddr_storage{};
    message.msg_name = pFrom;
    message.msg_namelen = sizeof *pFrom;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const int result = NoteRead(Checked(::recvmsg(m_hSocket, &message, nFlags | MSG_TRUNC | ReadFlags())));
    if (result == SOCKET_ERROR)
        return SOCKET_ERROR;
    if (result > nBufLen || (message.msg_flags & MSG_TRUNC) != 0) {
        SetLastError(EMSGSIZE);
        return SOCKET_ERROR;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            auto* v4 = reinterpret_cast<sockaddr_in*>(pLocal);
            v4->sin_family = AF_INET;
            // The address the interface answers from: for a broadcast, its
            // own address rather than the broadcast address.
            v4->sin_addr = info.ipi_spec_dst.s_addr != 0 ? info.ipi_spec_dst : info.ipi_addr;
            arrival.destination = sockaddr_storage{};
            auto* destination = reinterpret_cast<sockaddr_in*>(&arrival.destination);
            destination->sin_family = AF_INET;
            destination->sin_addr = info.ipi_addr;
            arrival.nIfIndex = info.ipi_ifindex;
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            auto* v6 = reinterpret_cast<sockaddr_in6*>(pLocal);
            v6->sin6_family = AF_INET6;
            v6->sin6_addr = info.ipi6_addr;
            if (IN6_IS_ADDR_LINKLOCAL(&info.ipi6_addr) || IN6_IS_ADDR_MC_LINKLOCAL(&info.ipi6_addr))
                v6->sin6_scope_id = static_cast<uint32_t>(info.ipi6_ifindex);
            arrival.destination = *pLocal;
            arrival.nIfIndex = static_cast<int>(info.ipi6_ifindex);
        }
    }
    // An IPv4 request on a dual-stack IPv6 socket: the reply goes from the
    // mapped form of its IPv4 address.
    if (pFrom->ss_family == AF_INET6 && pLocal->ss_family == AF_INET) {
        const in_addr v4 = reinterpret_cast<sockaddr_in*>(pLocal)->sin_addr;
        auto* v6 = reinterpret_cast<sockaddr_in6*>(pLocal);
        *pLocal = sockaddr_storage{};
        v6->sin6_family = AF_INET6;
        v6->sin6_addr.s6_addr[10] = 0xFF;
        v6->sin6_addr.s6_addr[11] = 0xFF;
        std::memcpy(&v6->sin6_addr.s6_addr[12], &v4, 4);
    }
    if (pArrival != nullptr)
        *pArrival = arrival;
    return result;
}

int CAsyncSocket::SendToFrom(const void* lpBuf, int nBufLen, const sockaddr_storage& to, const sockaddr_storage& from,
                             int nFlags)
{
    if (nBufLen < 0) {
        SetLastError(EINVAL);
        return SOCKET_ERROR;
    }
    iovec io{const_cast<void*>(lpBuf), static_cast<size_t>(nBufLen)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_storage*>(&to);
    message.msg_namelen = SockAddrLength(to);
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    // One control message: the source address the reply leaves from.
    const auto attach = [&](int nLevel, int nType, const auto& info) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof info);
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = nLevel;
        c->cmsg_type = nType;
        c->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    };
    // The source of an IPv4 reply, also one from a dual-stack socket.
    const auto* from6 = reinterpret_cast<const sockaddr_in6*>(&from);
    const bool mapped = from.ss_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&from6->sin6_addr);
    if (from.ss_family == AF_INET || mapped) {
        in_pktinfo info{};
        if (mapped)
            std::memcpy(&info.ipi_spec_dst, &from6->sin6_addr.s6_addr[12], 4);
        else
            info.ipi_spec_dst = reinterpret_cast<const sockaddr_in*>(&from)->sin_addr;
        attach(IPPROTO_IP, IP_PKTINFO, info);
    } else if (from.ss_family == AF_INET6) {
        in6_pktinfo info{};
        info.ipi6_addr = from6->sin6_addr;
        info.ipi6_ifindex = from6->sin6_scope_id;
        attach(IPPROTO_IPV6, IPV6_PKTINFO, info);
    }
    return Checked(::sendmsg(m_hSocket, &message, nFlags | MSG_NOSIGNAL | MSG_DONTWAIT));
}

BOOL CAsyncSocket::Connect(const sockaddr* lpSockAddr, int nSockAddrLen)
{
    if (::connect(m_hSocket, lpSockAddr, static_cast<socklen_t>(nSockAddrLen)) != 0) {
        SetLastError(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL CAsyncSocket::SetReceiveBufferSize(int nBytes)
{
    if (::setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, &nBytes, sizeof nBytes) != 0) {
        SetLastError(errno);
        return FALSE;
    }
    return TRUE;
}

int CAsyncSocket::Send(const void* lpBuf, int nBufLen, int nFlags)
{
    if (nBufLen < 0) {
        SetLastError(EINVAL);
        return SOCKET_ERROR;
    }
    return Checked(::send(m_hSocket, lpBuf, static_cast<size_t>(nBufLen), nFlags | MSG_NOSIGNAL | MSG_DONTWAIT));
}

int CAsyncSocket::Receive(void* lpBuf, int nBufLen, int nFlags)
{
    if (nBufLen < 0) {
        SetLastError(EINVAL);
        return SOCKET_ERROR;
    }
    int result =
        NoteRead(Checked(::recv(m_hSocket, lpBuf, static_cast<size_t>(nBufLen), nFlags | MSG_TRUNC | ReadFlags())));
    if (result != SOCKET_ERROR && result > nBufLen) {
        SetLastError(EMSGSIZE);
        return SOCKET_ERROR;
    }
    return result;
}

void CAsyncSocket::OnReceive(int /*nErrorCode*/) {}
