// SPDX-License-Identifier: MIT
#include "replace_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

unsigned DefaultCreationMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

bool NoOwnersOrModesHere(int error)
{
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP;
}

// Creates ".NAME.XXXXXX" (six random letters) in dirFd, exclusively.
int CreateTempAt(int dirFd, const std::string& name, unsigned mode, std::string* pTemp)
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6] = {};
        if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
            const auto seed = static_cast<unsigned>(::getpid()) * 2654435761u + static_cast<unsigned>(attempt) * 40503u;
            for (size_t i = 0; i < sizeof random; ++i)
                random[i] = static_cast<unsigned char>(seed >> (i * 5));
        }
        std::string temp(1, '.');
        temp.append(name, 0, 200);
        temp.push_back('.');
        for (unsigned char r : random)
            temp.push_back(kLetters[r % (sizeof kLetters - 1)]);
        const int fd = ::openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0) {
            *pTemp = std::move(temp);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

int AfxBeginReplacement(const std::string& strPath, ReplacementFile* pReplacement, bool* pOpenInPlace)
{
    *pOpenInPlace = false;
    std::string target = strPath;
    struct stat status {};
    unsigned mode = DefaultCreationMode();
    bool exists = false;
    if (::lstat(target.c_str(), &status) == 0) {
        if (S_ISLNK(status.st_mode)) {
            if (char* resolved = ::realpath(target.c_str(), nullptr)) {
                target = resolved;
                std::free(resolved);
            }
        }
        exists = ::stat(target.c_str(), &status) == 0;
        if (exists && S_ISCHR(status.st_mode)) {
            pReplacement->targetPath = std::move(target);
            *pOpenInPlace = true;
            return 0;
        }
        if (exists && S_ISDIR(status.st_mode))
            return EISDIR;
        if (exists && !S_ISREG(status.st_mode))
            return EINVAL; // a pipe or socket is no file to store into
        if (exists && ::access(target.c_str(), W_OK) != 0)
            return errno;
        if (exists)
            mode = status.st_mode & 0777;
    } else if (errno != ENOENT) {
        return errno;
    }

    const size_t slash = target.rfind('/');
    const std::string directory = target.substr(0, slash + 1);
    // In a sticky directory only the owner of the file or of the directory
    // may replace another's file: the rename at the end must be allowed now,
    // or nothing may start.
    struct stat directoryStatus {};
    if (exists && ::stat(directory.c_str(), &directoryStatus) == 0 && (directoryStatus.st_mode & S_ISVTX) != 0 &&
        ::geteuid() != 0 && status.st_uid != ::geteuid() && directoryStatus.st_uid != ::geteuid())
        return EACCES;

    std::string temp = directory + "." + target.substr(slash + 1, 200) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Only root can give the file away, and some file systems (FAT) keep no
    // owner or mode: the new file is then as the system made it.
    int error = 0;
    if (exists && ::fchown(fd, status.st_uid, status.st_gid) != 0 && !NoOwnersOrModesHere(errno))
        error = errno;
    if (error == 0 && ::fchmod(fd, mode) != 0 && !NoOwnersOrModesHere(errno))
        error = errno;
    if (error != 0) {
        ::close(fd);
        ::unlink(temp.c_str());
        return error;
    }
    pReplacement->fd = fd;
    pReplacement->tempPath = std::move(temp);
    pReplacement->targetPath = std::move(target);
    return 0;
}

int AfxBeginReplacementAt(int dirFd, const std::string& strName, unsigned nNewMode, ReplacementFile* pReplacement)
{
    if (strName.empty() || strName.find('/') != std::string::npos || strName == "." || strName == "..")
        return EINVAL;
    struct stat status {};
    const bool exists = ::fstatat(dirFd, strName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return errno;
    if (exists && S_ISLNK(status.st_mode))
        return ELOOP;
    if (exists && S_ISDIR(status.st_mode))
        return EISDIR;
    if (exists && !S_ISREG(status.st_mode))
        return EINVAL;
    if (exists && ::faccessat(dirFd, strName.c_str(), W_OK, AT_EACCESS) != 0)
        return errno;
    struct stat directoryStatus {};
    if (exists && ::fstat(dirFd, &directoryStatus) == 0 && (directoryStatus.st_mode & S_ISVTX) != 0 &&
        ::geteuid() != 0 && status.st_uid != ::geteuid() && directoryStatus.st_uid != ::geteuid())
        return EACCES;

    std::string temp;
    // An existing file's bits are set below; a new one gets nNewMode less the umask.
    const int fd = CreateTempAt(dirFd, strName, exists ? 0600 : nNewMode, &temp);
    if (fd < 0)
        return errno;
    int error = 0;
    if (exists && ::fchown(fd, status.st_uid, status.st_gid) != 0 && !NoOwnersOrModesHere(errno))
        error = errno;
    if (error == 0 && exists && ::fchmod(fd, status.st_mode & 0777) != 0 && !NoOwnersOrModesHere(errno))
        error = errno;
    if (error != 0) {
        ::close(fd);
        ::unlinkat(dirFd, temp.c_str(), 0);
        return error;
    }
    pReplacement->fd = fd;
    pReplacement->dirFd = dirFd;
    pReplacement->tempPath = std::move(temp);
    pReplacement->targetPath = strName;
    return 0;
}

int AfxCommitReplacement(ReplacementFile& replacement)
{
    const int syncResult = ::fsync(replacement.fd);
    int error = syncResult != 0 ? errno : 0;
    if (::close(replacement.fd) != 0 && error == 0)
        error = errno;
    replacement.fd = -1;
    if (error == 0 && ::renameat(replacement.dirFd, replacement.tempPath.c_str(), replacement.dirFd,
                                 replacement.targetPath.c_str()) != 0)
        error = errno;
    return error;
}
