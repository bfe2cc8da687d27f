// SPDX-License-Identifier: MIT
// The packet-info calls of CAsyncSocket: a datagram's local address on the
// way in, and the source address of a reply on the way out.
#include "socket_packet_info.h"

#include <netinet/in.h>

#include <cerrno>
#include <cstring>

#include "socket.h"

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
    message.msg_namelen = to.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
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
