// SPDX-License-Identifier: MIT
#include "socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <unistd.h>

#include <sys/time.h>

#include "socket_watcher.h"

namespace {
int g_nLastError = 0;
CReceiveWait* g_pReceiveWait = nullptr;

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

int CAsyncSocket::Checked(ssize_t nResult)
{
    if (nResult < 0) {
        g_nLastError = errno;
        return SOCKET_ERROR;
    }
    return static_cast<int>(nResult);
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
