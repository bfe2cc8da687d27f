// SPDX-License-Identifier: MIT
// tarnwick-bind: the one step of Tarnwick that holds a privilege. Installed
// with cap_net_bind_service, it binds a UDP socket to port 69 (or DHCP's 67)
// of the address it is given, on one interface when asked, drops every
// capability and hands the socket to the program that ran it over an
// inherited Unix socket (bind_helper.h has the interface).
// Anyone may run it, so it trusts nothing in its arguments, reads no
// environment and opens no file.
#include <arpa/inet.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bind_helper.h"

namespace {

// Says why on one line of standard error, and answers the exit status.
int Fail(int nStatus, const char* lpszWhat, int nError = 0)
{
    if (nError != 0)
        std::fprintf(stderr, "tarnwick-bind: %s: %s\n", lpszWhat, std::strerror(nError));
    else
        std::fprintf(stderr, "tarnwick-bind: %s\n", lpszWhat);
    return nStatus;
}

// The value of 1 to nMaxDigits decimal digits, or -1 for anything else.
long long ParseDecimal(const char* lpszText, size_t nMaxDigits)
{
    const size_t length = ::strnlen(lpszText, nMaxDigits + 1);
    if (length == 0 || length > nMaxDigits)
        return -1;
    long long value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (lpszText[i] < '0' || lpszText[i] > '9')
            return -1;
        value = value * 10 + (lpszText[i] - '0');
    }
    return value;
}

// An IPv4 or IPv6 literal, port 0; an IPv6 zone must be an interface's
// number. False for anything else, names included: nothing is looked up.
bool ParseAddress(const char* lpszText, sockaddr_storage* pAddress, socklen_t* pLength)
{
    char literal[INET6_ADDRSTRLEN + 11]; // an IPv6 address, '%' and ten digits
    const size_t length = ::strnlen(lpszText, sizeof literal);
    if (length == sizeof literal)
        return false;
    std::memcpy(literal, lpszText, length + 1);
    *pAddress = {};
    if (std::strchr(literal, ':') == nullptr) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(pAddress);
        v4->sin_family = AF_INET;
        *pLength = sizeof *v4;
        return ::inet_pton(AF_INET, literal, &v4->sin_addr) == 1;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(pAddress);
    v6->sin6_family = AF_INET6;
    *pLength = sizeof *v6;
    if (char* zone = std::strchr(literal, '%')) {
        *zone = '\0';
        const long long index = ParseDecimal(zone + 1, 10);
        if (index <= 0 || index > UINT32_MAX)
            return false;
        v6->sin6_scope_id = static_cast<uint32_t>(index);
    }
    return ::inet_pton(AF_INET6, literal, &v6->sin6_addr) == 1;
}

bool IsUnixSocket(int fd)
{
    struct stat status {};
    int domain = 0;
    socklen_t length = sizeof domain;
    return ::fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode) &&
           ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_UNIX;
}

// Empties the permitted, effective and inheritable sets; the kernel empties
// the ambient set with them.
bool DropCapabilities()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    return ::syscall(SYS_capset, &header, data) == 0;
}

// The one message: nError (0 for success) and, when fdBound is one, the socket.
bool Send(int fdChannel, int nError, int fdBound)
{
    iovec data{&nError, sizeof nError};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    if (fdBound >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fdBound, sizeof fdBound);
    }
    return ::sendmsg(fdChannel, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof nError);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 5)
        return Fail(kBindHelperUsage, "usage: tarnwick-bind FD ADDRESS [PORT [IFINDEX]] (PORT 69 or 67)");
    const long long channel = ParseDecimal(argv[1], 9);
    if (channel < 0 || !IsUnixSocket(static_cast<int>(channel)))
        return Fail(kBindHelperBadChannel, "FD is not an inherited Unix socket");
    const int fdChannel = static_cast<int>(channel);

    sockaddr_storage address{};
    socklen_t length = 0;
    if (!ParseAddress(argv[2], &address, &length)) {
        Send(fdChannel, EINVAL, -1);
        return Fail(kBindHelperBadAddress, "ADDRESS is not an IPv4 or IPv6 address (a zone is a number)");
    }
    // TFTP's port, or DHCP's, which is IPv4's alone; nothing else.
    const long long port = argc > 3 ? ParseDecimal(argv[3], 2) : kBindHelperPort;
    if (port != kBindHelperPort && (port != kBindHelperDhcpPort || address.ss_family != AF_INET)) {
        Send(fdChannel, EINVAL, -1);
        return Fail(kBindHelperBadPort, "PORT is 69, or 67 with an IPv4 ADDRESS");
    }
    // sin_port and sin6_port lie at the same place.
    reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(static_cast<uint16_t>(port));
    const long long ifIndex = argc > 4 ? ParseDecimal(argv[4], 10) : 0;
    if (ifIndex < 0 || ifIndex > INT32_MAX || (argc > 4 && ifIndex == 0)) {
        Send(fdChannel, EINVAL, -1);
        return Fail(kBindHelperBadInterface, "IFINDEX is not an interface's number");
    }
    const int fd = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // IPv4 and IPv6 are separate sockets: "::" takes IPv6 only.
    const int one = 1;
    if (fd < 0 ||
        (address.ss_family == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0)) {
        const int error = errno;
        Send(fdChannel, error, -1);
        return Fail(kBindHelperNoSocket, "socket", error);
    }
    // Bound to the interface before the port: a socket on every interface
    // would hold the port against other interfaces' servers. The first such
    // binding of a socket needs no capability (Linux 5.7 and later).
    if (const int error = ifIndex > 0 ? BindToInterface(fd, static_cast<int>(ifIndex)) : 0; error != 0) {
        Send(fdChannel, error, -1);
        return Fail(kBindHelperBadInterface, "SO_BINDTODEVICE", error);
    }
    const int bindError = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 ? 0 : errno;
    // The privilege ends here, whatever the bind did.
    if (!DropCapabilities()) {
        const int error = errno;
        Send(fdChannel, error, -1);
        return Fail(kBindHelperKeptPrivilege, "capset", error);
    }
    if (bindError != 0) {
        Send(fdChannel, bindError, -1);
        const int status = bindError == EADDRINUSE ? kBindHelperInUse
                           : bindError == EACCES   ? kBindHelperDenied
                                                   : kBindHelperBindFailed;
        char what[sizeof "bind to  port 69" + INET6_ADDRSTRLEN + 11];
        std::snprintf(what, sizeof what, "bind to %s port %d", argv[2], static_cast<int>(port));
        return Fail(status, what, bindError);
    }
    if (!Send(fdChannel, 0, fd))
        return Fail(kBindHelperNotSent, "sendmsg", errno);
    return kBindHelperSent;
}
