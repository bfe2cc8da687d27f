// SPDX-License-Identifier: MIT
#include "privileged_bind.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "format.h"
#include "platform/bind/bind_helper.h"

namespace {

// The helper's end of the channel is this descriptor in the helper.
constexpr int kHelperChannel = 3;

UINT PortOf(const sockaddr* pAddress)
{
    const in_port_t port = pAddress->sa_family == AF_INET ? reinterpret_cast<const sockaddr_in*>(pAddress)->sin_port
                                                          : reinterpret_cast<const sockaddr_in6*>(pAddress)->sin6_port;
    return ntohs(port);
}

// The address as the helper takes it: a literal, with an IPv6 zone as a number.
std::string AddressText(const sockaddr* pAddress)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (pAddress->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(pAddress)->sin_addr, text, sizeof text);
        return text;
    }
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(pAddress);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    std::string literal = text;
    if (v6->sin6_scope_id != 0)
        literal.append("%").append(std::to_string(v6->sin6_scope_id));
    return literal;
}

BindResult Refused(int nError, bool bByHelper)
{
    BindResult result;
    result.outcome = nError == EADDRINUSE                  ? BindOutcome::InUse
                     : nError == EACCES || nError == EPERM ? BindOutcome::NotPermitted
                                                           : BindOutcome::Failed;
    result.nError = nError;
    result.bByHelper = bByHelper;
    return result;
}

// Whether this process holds nGroup, as its own group or a supplementary one.
bool InGroup(gid_t nGroup)
{
    if (nGroup == ::getegid())
        return true;
    std::vector<gid_t> groups(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    return count > 0 && std::find(groups.begin(), groups.begin() + count, nGroup) != groups.begin() + count;
}

std::string GroupName(gid_t nGroup)
{
    group entry{}, *found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(nGroup, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->gr_name;
    return std::to_string(nGroup);
}

// Why the helper could not be run, from the error of its exec and its mode: a
// helper whose group alone may run it, as installed, names that group.
void ExplainNotRun(const std::string& strHelper, int nSpawnError, BindResult* pResult)
{
    struct stat status {};
    if (nSpawnError != EACCES || ::stat(strHelper.c_str(), &status) != 0) {
        // EACCES without a status: a folder on its path may not be searched.
        pResult->refusal = nSpawnError == EACCES ? HelperRefusal::NotRunnable : HelperRefusal::Missing;
        return;
    }
    const bool groupOnly = (status.st_mode & S_IXGRP) != 0 && (status.st_mode & S_IXOTH) == 0;
    if (S_ISREG(status.st_mode) && groupOnly && status.st_uid != ::geteuid() && !InGroup(status.st_gid)) {
        pResult->refusal = HelperRefusal::NotInGroup;
        pResult->helperGroup = GroupName(status.st_gid);
        return;
    }
    pResult->refusal = HelperRefusal::NotRunnable;
}

// Runs the helper with its end of a socket pair as descriptor 3 and nothing
// else inherited, in an empty environment, and reads its one message.
BindResult RunHelper(const sockaddr* pAddress, int nIfIndex, const std::string& strHelper)
{
    int channel[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, channel) != 0)
        return Refused(errno, true);
    if (channel[1] == kHelperChannel) {
        // dup2 onto itself would keep close-on-exec.
        const int moved = ::fcntl(channel[1], F_DUPFD_CLOEXEC, kHelperChannel + 1);
        ::close(channel[1]);
        channel[1] = moved;
    }
    std::string program = strHelper, channelText = std::to_string(kHelperChannel), address = AddressText(pAddress);
    std::string port = std::to_string(PortOf(pAddress)), ifIndex = std::to_string(nIfIndex);
    // Port 69 on every interface in the helper's first form, which takes no more.
    const bool plain = PortOf(pAddress) == kBindHelperPort && nIfIndex == 0;
    char* argv[] = {program.data(),
                    channelText.data(),
                    address.data(),
                    plain ? nullptr : port.data(),
                    nIfIndex > 0 ? ifIndex.data() : nullptr,
                    nullptr};
    char* envp[] = {nullptr};
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, channel[1], kHelperChannel);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, kHelperChannel + 1);
    pid_t pid = -1;
    const int spawnError =
        channel[1] < 0 ? EMFILE : ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp);
    ::posix_spawn_file_actions_destroy(&actions);
    if (channel[1] >= 0)
        ::close(channel[1]);
    if (spawnError != 0) {
        ::close(channel[0]);
        BindResult result = Refused(spawnError, true);
        // A helper that is missing, or that this user may not run, permits nothing.
        if (spawnError == ENOENT || spawnError == ENOTDIR || spawnError == EACCES) {
            result.outcome = BindOutcome::NotPermitted;
            ExplainNotRun(strHelper, spawnError, &result);
        }
        return result;
    }

    int error = EPROTO; // what a helper that sends nothing leaves
    iovec data{&error, sizeof error};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received;
    while ((received = ::recvmsg(channel[0], &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    int fd = -1;
    for (cmsghdr* header = received > 0 ? CMSG_FIRSTHDR(&message) : nullptr; header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS &&
            header->cmsg_len == CMSG_LEN(sizeof(int)))
            std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    }
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const bool sent = WIFEXITED(status) && WEXITSTATUS(status) == kBindHelperSent;
    if (received == static_cast<ssize_t>(sizeof error) && error == 0 && fd >= 0 && sent) {
        BindResult result;
        result.outcome = BindOutcome::Bound;
        result.fd = fd;
        result.bByHelper = true;
        return result;
    }
    if (fd >= 0)
        ::close(fd);
    BindResult result = Refused(received == static_cast<ssize_t>(sizeof error) && error != 0 ? error : EPROTO, true);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kBindHelperDenied)
        result.refusal = HelperRefusal::WithoutCapability;
    return result;
}

} // namespace

std::string AfxFindBindHelper()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const std::filesystem::path directory =
        std::filesystem::path(std::string(path, length > 0 ? static_cast<size_t>(length) : 0)).parent_path();
    const std::filesystem::path beside = directory / "tarnwick-bind";
    if (::access(beside.c_str(), F_OK) == 0)
        return beside.string();
    return (directory / TARNWICK_BIND_HELPER_FROM_BINDIR).lexically_normal().string();
}

BindResult AfxBindUdpPort(const sockaddr* pAddress, socklen_t nLength, const std::string& strHelper)
{
    return AfxBindUdpPortOnInterface(pAddress, nLength, 0, strHelper);
}

BindResult AfxBindUdpPortOnInterface(const sockaddr* pAddress, socklen_t nLength, int nIfIndex,
                                     const std::string& strHelper)
{
    const bool v4 = pAddress != nullptr && pAddress->sa_family == AF_INET && nLength >= sizeof(sockaddr_in);
    const bool v6 = pAddress != nullptr && pAddress->sa_family == AF_INET6 && nLength >= sizeof(sockaddr_in6);
    if (!v4 && !v6)
        return Refused(EINVAL, false);
    const int fd = ::socket(pAddress->sa_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Refused(errno, false);
    const int one = 1;
    int error = v6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0 ? errno : 0;
    if (error == 0 && nIfIndex > 0)
        error = BindToInterface(fd, nIfIndex);
    if (error == 0 && ::bind(fd, pAddress, nLength) != 0)
        error = errno;
    if (error == 0) {
        BindResult result;
        result.outcome = BindOutcome::Bound;
        result.fd = fd;
        return result;
    }
    ::close(fd);
    const UINT port = PortOf(pAddress);
    const bool helperPort = port == kBindHelperPort || (port == kBindHelperDhcpPort && v4);
    if (error != EACCES || !helperPort || strHelper.empty())
        return Refused(error, false);
    return RunHelper(pAddress, nIfIndex, strHelper);
}

std::string AfxRealUserName()
{
    passwd entry{}, *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return std::to_string(::getuid());
}

std::string AfxPort69DeniedText(const BindResult& result, const std::string& strHelper, const std::string& strUser,
                                const Port69DeniedTexts& texts)
{
    const char* helper = strHelper.c_str();
    const char* user = strUser.c_str();
    const char* group = result.helperGroup.c_str();
    switch (result.refusal) {
    case HelperRefusal::Missing:
        return AfxFormatString(texts.lpszMissing, helper);
    case HelperRefusal::NotInGroup:
        return AfxFormatString(texts.lpszNotInGroup, group, user, group, helper, user, group);
    case HelperRefusal::NotRunnable:
        return AfxFormatString(texts.lpszNotRunnable, helper, user, helper);
    case HelperRefusal::None:
    case HelperRefusal::WithoutCapability:
        break;
    }
    return AfxFormatString(texts.lpszWithoutCapability, helper, helper);
}
