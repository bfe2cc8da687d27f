// SPDX-License-Identifier: MIT
#include "server/serve_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "protocol/options.h"

namespace {

std::atomic<bool> s_bForceWalk{false};
std::atomic<bool> s_bNoOpenat2{false}; // the kernel answered ENOSYS once

// No open waits on a FIFO or becomes a controlling terminal, and no
// descriptor passes to a program started later.
constexpr int kAlways = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool IsDotName(std::string_view name)
{
    return name == "." || name == "..";
}

ServeOpen Opened(int fd)
{
    ServeOpen result;
    result.fd = fd;
    return result;
}

ServeOpen Refused(int nErrno, const char* lpszText = nullptr)
{
    ServeOpen result;
    result.wErrorCode = ServeErrorForErrno(nErrno);
    result.lpszError = lpszText != nullptr                                ? lpszText
                       : result.wErrorCode == TFTP_ERROR_FILE_NOT_FOUND   ? "File not found"
                       : result.wErrorCode == TFTP_ERROR_ACCESS_VIOLATION ? "Access violation"
                                                                          : "Cannot open files now";
    result.nErrno = nErrno;
    return result;
}

// What every open adds to nFlags: an O_PATH descriptor takes no other flags.
int WithAlways(int nFlags)
{
    return nFlags | ((nFlags & O_PATH) != 0 ? O_CLOEXEC : kAlways);
}

int OpenAt2(int dirFd, const char* lpszName, int nFlags, mode_t mode)
{
    open_how how{};
    how.flags = static_cast<__u64>(nFlags);
    // openat2 refuses a mode without O_CREAT or O_TMPFILE.
    how.mode = (nFlags & O_CREAT) != 0 || (nFlags & O_TMPFILE) == O_TMPFILE ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    int fd = -1;
    // EAGAIN: a rename elsewhere raced a ".." in a link; the kernel asks to try again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        fd = static_cast<int>(::syscall(SYS_openat2, dirFd, lpszName, &how, sizeof how));
        if (fd >= 0 || errno != EAGAIN)
            break;
    }
    return fd;
}

// The components of a relative name; none when one is empty, "." or "..".
std::vector<std::string> Components(const std::string& relative)
{
    std::vector<std::string> names;
    for (size_t at = 0; at <= relative.size();) {
        const size_t end = std::min(relative.find('/', at), relative.size());
        names.push_back(relative.substr(at, end - at));
        if (names.back().empty() || IsDotName(names.back()))
            return {};
        at = end + 1;
    }
    return names;
}

// One component at a time, each opened beneath the last with O_NOFOLLOW: any
// symbolic link, or a directory swapped for one, is refused, and "." and ".."
// are never looked up.
ServeOpen Walk(int dirFd, const std::string& relative, int nFlags, mode_t mode)
{
    const std::vector<std::string> names = Components(relative);
    if (names.empty())
        return Refused(EXDEV);
    int current = dirFd; // owned once it is not dirFd
    for (size_t i = 0;; ++i) {
        const char* name = names[i].c_str();
        const bool last = i + 1 == names.size();
        const int fd = last ? ::openat(current, name, WithAlways(nFlags) | O_NOFOLLOW, mode)
                            : ::openat(current, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        struct stat status;
        // O_DIRECTORY meets a link as "not a directory"; it is a link refused.
        if (fd < 0 && error == ENOTDIR && ::fstatat(current, name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(status.st_mode))
            error = ELOOP;
        if (current != dirFd)
            ::close(current);
        if (fd < 0)
            return Refused(error);
        if (last)
            return Opened(fd);
        current = fd;
    }
}

// The entry of the directory open as fd called name, else the one entry equal
// to it but for case. Closes fd.
std::optional<std::string> MatchEntry(int fd, const std::string& name)
{
    struct stat status;
    if (::fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        ::close(fd);
        return name;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return std::nullopt;
    }
    std::optional<std::string> match;
    int matches = 0;
    while (const dirent* entry = ::readdir(dir))
        if (TftpSameText(entry->d_name, name) && ++matches == 1)
            match = entry->d_name;
    ::closedir(dir);
    return matches == 1 ? match : std::nullopt;
}

} // namespace

ServeName NormalizeServeName(std::string_view requested, bool bBackslashIsSlash)
{
    ServeName name;
    const auto refuse = [&name](const char* lpszText) {
        name.wErrorCode = TFTP_ERROR_ACCESS_VIOLATION;
        name.lpszError = lpszText;
        name.relative.clear();
        return name;
    };
    if (requested.size() > static_cast<size_t>(TFTP_MAX_NAME))
        return refuse("Name too long");
    std::string component;
    // Ends a component; false for "." and "..".
    const auto endComponent = [&] {
        if (IsDotName(component))
            return false;
        if (!component.empty())
            name.relative += (name.relative.empty() ? "" : "/") + component;
        component.clear();
        return true;
    };
    for (const char c : requested) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return refuse("Control character in name");
        if (c != '/' && (c != '\\' || !bBackslashIsSlash))
            component += c;
        else if (!endComponent())
            return refuse("Name with . or ..");
    }
    if (!endComponent())
        return refuse("Name with . or ..");
    if (name.relative.empty())
        return refuse("Empty name");
    return name;
}

ServeOpen OpenBeneath(int dirFd, const std::string& relative, int nFlags, mode_t mode)
{
    if (relative.empty() || relative.find('\0') != std::string::npos)
        return Refused(EINVAL);
    if (!s_bForceWalk && !s_bNoOpenat2) {
        const int fd = OpenAt2(dirFd, relative.c_str(), WithAlways(nFlags), mode);
        if (fd >= 0)
            return Opened(fd);
        if (errno != ENOSYS)
            return Refused(errno);
        s_bNoOpenat2 = true;
    }
    return Walk(dirFd, relative, nFlags, mode);
}

ServeOpen OpenServeFile(int dirFd, const std::string& relative, int nFlags, mode_t mode, bool bIgnoreCase)
{
    // First only looked at (O_PATH): a FIFO, a terminal or a device is never
    // opened, since opening one may wait or do something of its own.
    std::string name = relative;
    ServeOpen path = OpenBeneath(dirFd, name, O_PATH);
    if (path.fd < 0 && path.wErrorCode == TFTP_ERROR_FILE_NOT_FOUND && bIgnoreCase) {
        if (std::optional<std::string> match = FindCaseMatch(dirFd, relative)) {
            name = std::move(*match);
            path = OpenBeneath(dirFd, name, O_PATH);
        }
    }
    if (path.fd < 0)
        return path;
    struct stat looked {};
    const bool regular = ::fstat(path.fd, &looked) == 0 && S_ISREG(looked.st_mode);
    ::close(path.fd);
    if (!regular)
        return Refused(S_ISDIR(looked.st_mode) ? EISDIR : EACCES, "Not a regular file");
    ServeOpen result = OpenBeneath(dirFd, name, nFlags, mode);
    if (result.fd < 0)
        return result;
    // The name may have been given to another file in between.
    struct stat opened {};
    if (::fstat(result.fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_dev == looked.st_dev &&
        opened.st_ino == looked.st_ino)
        return result;
    ::close(result.fd);
    return Refused(EACCES, "Not a regular file");
}

bool SelectOpenMethod(int dirFd, int* pErrno)
{
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const int fd = static_cast<int>(::syscall(SYS_openat2, dirFd, ".", &how, sizeof how));
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    if (pErrno != nullptr)
        *pErrno = errno;
    if (errno != ENOSYS && errno != EPERM)
        return true;
    s_bNoOpenat2 = true;
    return false;
}

std::optional<std::string> FindCaseMatch(int dirFd, const std::string& relative)
{
    const std::vector<std::string> names = Components(relative);
    std::string found;
    for (const std::string& name : names) {
        const ServeOpen dir = found.empty() ? Opened(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
                                            : OpenBeneath(dirFd, found, O_RDONLY | O_DIRECTORY);
        const std::optional<std::string> entry = dir.fd < 0 ? std::nullopt : MatchEntry(dir.fd, name);
        if (!entry)
            return std::nullopt;
        found += (found.empty() ? "" : "/") + *entry;
    }
    return names.empty() ? std::nullopt : std::optional<std::string>(found);
}

WORD ServeErrorForErrno(int nErrno)
{
    switch (nErrno) {
    case ENOENT:
    case ENOTDIR:
        return TFTP_ERROR_FILE_NOT_FOUND;
    case EMFILE:
    case ENFILE:
    case ENOMEM:
        return TFTP_ERROR_NOT_DEFINED;
    default:
        return TFTP_ERROR_ACCESS_VIOLATION;
    }
}

void ForceComponentWalk(bool bForce)
{
    s_bForceWalk = bForce;
}
