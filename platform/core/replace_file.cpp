// SPDX-License-Identifier: MIT
#include "replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

// The longest part of the target's name a new file's name repeats, and the
// random letters after it.
constexpr size_t kTargetBytes = 200;
constexpr size_t kRandomLetters = 6;

bool g_bForceLinkCommit = false;

bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Creates ".NAME.XXXXXX" beside name, exclusively: in dirFd, with the
// directory prefix (empty, or ending in "/") before it. *pTemp gets prefix
// and name together.
int CreateTempAt(int dirFd, const std::string& directory, const std::string& name, unsigned mode, std::string* pTemp)
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[kRandomLetters] = {};
        if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
            const auto seed = static_cast<unsigned>(::getpid()) * 2654435761u + static_cast<unsigned>(attempt) * 40503u;
            for (size_t i = 0; i < sizeof random; ++i)
                random[i] = static_cast<unsigned char>(seed >> (i * 5));
        }
        std::string temp(1, '.');
        temp.append(name, 0, kTargetBytes);
        temp.push_back('.');
        for (unsigned char r : random)
            temp.push_back(kLetters[r % (sizeof kLetters - 1)]);
        // Letters only, or digits only, would not be known again as this
        // program's: drawn again.
        if (!AfxIsReplacementName(temp))
            continue;
        temp.insert(0, directory);
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

// Gives the new file the target's name; returns 0 or the errno.
int TakeTargetName(const ReplacementFile& replacement)
{
    const int dirFd = replacement.dirFd;
    const char* temp = replacement.tempPath.c_str();
    const char* target = replacement.targetPath.c_str();
    if (!replacement.bKeepExisting)
        return ::renameat(dirFd, temp, dirFd, target) == 0 ? 0 : errno;
    if (!g_bForceLinkCommit) {
        if (::renameat2(dirFd, temp, dirFd, target, RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
    }
    // The file system (or the kernel) has no such rename. A hard link is
    // never made over an existing name either; then the new file's own name
    // goes. Should that removal fail, the target is in place all the same,
    // and the name left behind is an old leftover one day.
    if (::linkat(dirFd, temp, dirFd, target, 0) != 0)
        return errno;
    (void)::unlinkat(dirFd, temp, 0);
    return 0;
}

// Removes old new files beneath fd, which it closes; *pBudget counts the
// names still to look at.
size_t RemoveOldBeneath(int fd, std::time_t nBefore, int nDepthLeft, size_t* pBudget)
{
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return 0;
    }
    size_t removed = 0;
    while (*pBudget > 0) {
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr)
            break;
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        --*pBudget;
        unsigned char type = entry->d_type;
        struct stat status {};
        if (type == DT_UNKNOWN) {
            if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISREG(status.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR && nDepthLeft > 0) {
            const int sub = ::openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
            if (sub >= 0)
                removed += RemoveOldBeneath(sub, nBefore, nDepthLeft - 1, pBudget);
        } else if (type == DT_REG && AfxIsReplacementName(name) &&
                   ::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
                   status.st_mtime < nBefore && ::unlinkat(fd, entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

} // namespace

bool AfxIsReplacementName(std::string_view strName)
{
    constexpr size_t kShortest = 1 + 1 + 1 + kRandomLetters;
    constexpr size_t kLongest = 1 + kTargetBytes + 1 + kRandomLetters;
    if (strName.size() < kShortest || strName.size() > kLongest || strName.front() != '.' ||
        strName[strName.size() - kRandomLetters - 1] != '.')
        return false;
    bool letter = false;
    bool digit = false;
    for (const char c : strName.substr(strName.size() - kRandomLetters)) {
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c))
            return false;
        letter = letter || IsAsciiLetter(c);
        digit = digit || IsAsciiDigit(c);
    }
    return letter && digit;
}

void AfxForceLinkCommit(bool bForce)
{
    g_bForceLinkCommit = bForce;
}

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

    std::string temp;
    const int fd = CreateTempAt(AT_FDCWD, directory, target.substr(slash + 1), 0600, &temp);
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
    const int fd = CreateTempAt(dirFd, {}, strName, exists ? 0600 : nNewMode, &temp);
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
    return error != 0 ? error : TakeTargetName(replacement);
}

size_t AfxRemoveOldReplacements(int dirFd, std::time_t nAgeSeconds, int nMaxDepth, size_t nMaxEntries)
{
    // A descriptor of its own: the walk's reading position is not the caller's.
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    return RemoveOldBeneath(fd, std::time(nullptr) - nAgeSeconds, nMaxDepth, &nMaxEntries);
}
