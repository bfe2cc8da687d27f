// SPDX-License-Identifier: MIT
#include "replace_file.h"

#include <fcntl.h>
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

int AfxCommitReplacement(ReplacementFile& replacement)
{
    const int syncResult = ::fsync(replacement.fd);
    int error = syncResult != 0 ? errno : 0;
    if (::close(replacement.fd) != 0 && error == 0)
        error = errno;
    replacement.fd = -1;
    if (error == 0 && ::rename(replacement.tempPath.c_str(), replacement.targetPath.c_str()) != 0)
        error = errno;
    return error;
}
