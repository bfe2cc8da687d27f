// SPDX-License-Identifier: MIT
#include "socket_activation.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// The first descriptor passed (SD_LISTEN_FDS_START).
constexpr int kFirstFd = 3;
// More than a server could mean to be given.
constexpr long kMostFds = 64;

bool ReadNumber(const char* lpszText, long* pValue)
{
    if (lpszText == nullptr)
        return false;
    const std::string_view text(lpszText);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *pValue);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

Activation AfxTakeActivatedSockets()
{
    Activation activation;
    long pid = 0;
    long count = 0;
    const bool named = ReadNumber(std::getenv("LISTEN_PID"), &pid) && pid == static_cast<long>(::getpid()) &&
                       ReadNumber(std::getenv("LISTEN_FDS"), &count);
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (!named)
        return activation;
    activation.bActivated = true;
    if (count < 1 || count > kMostFds) {
        activation.error = "LISTEN_FDS is " + std::to_string(count) + ": no sockets were passed";
        return activation;
    }
    for (int fd = kFirstFd; fd < kFirstFd + count; ++fd) {
        ActivatedSocket socket{fd, {}};
        socklen_t length = sizeof socket.address;
        int type = 0;
        socklen_t typeLength = sizeof type;
        if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 || ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 ||
            type != SOCK_DGRAM || ::getsockname(fd, reinterpret_cast<sockaddr*>(&socket.address), &length) != 0 ||
            (socket.address.ss_family != AF_INET && socket.address.ss_family != AF_INET6)) {
            activation.error = "descriptor " + std::to_string(fd) + " is not an IPv4 or IPv6 datagram socket";
            activation.sockets.clear();
            return activation;
        }
        activation.sockets.push_back(socket);
    }
    return activation;
}
