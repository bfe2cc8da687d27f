// SPDX-License-Identifier: MIT
#include "file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "dirlist.h"
#include "replace_file.h"

namespace {

std::string FullPath(const char* lpszFileName)
{
    if (lpszFileName[0] == '/')
        return lpszFileName;
    std::string path = AfxGetCurrentDirectory();
    if (path.empty())
        return lpszFileName;
    if (path.back() != '/')
        path += '/';
    return path + lpszFileName;
}

} // namespace

CFile::~CFile()
{
    Discard();
}

BOOL CFile::Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError)
{
    Discard();
    m_strFilePath = FullPath(lpszFileName);

    auto fail = [&](int error) {
        if (pError != nullptr)
            *pError = CFileException(CFileException::OsErrorToException(error), error, m_strFilePath);
        return FALSE;
    };

    int flags = O_CLOEXEC;
    switch (nOpenFlags & 3) {
    case modeRead:
        flags |= O_RDONLY;
        break;
    case modeWrite:
        flags |= O_WRONLY;
        break;
    default:
        flags |= O_RDWR;
        break;
    }
    if ((nOpenFlags & modeCreate) != 0)
        flags |= O_CREAT | ((nOpenFlags & modeNoTruncate) != 0 ? 0 : O_TRUNC);

    if ((nOpenFlags & modeCreate) == 0 || (nOpenFlags & modeReplaceOnCommit) == 0)
        return OpenInPlace(lpszFileName, flags, pError);

    ReplacementFile replacement;
    bool openInPlace = false;
    if (const int error = AfxBeginReplacement(m_strFilePath, &replacement, &openInPlace); error != 0)
        return fail(error);
    if (openInPlace)
        return OpenInPlace(replacement.targetPath.c_str(), flags, pError);
    m_hFile = replacement.fd;
    SetUpBuffer(O_WRONLY);
    m_strTempPath = std::move(replacement.tempPath);
    m_strTargetPath = std::move(replacement.targetPath);
    m_nDirFd = AT_FDCWD;
    return TRUE;
}

BOOL CFile::Attach(int fd, UINT nOpenFlags, const char* lpszName)
{
    Discard();
    if (fd < 0)
        return FALSE;
    m_strFilePath = lpszName;
    m_hFile = fd;
    SetUpBuffer((nOpenFlags & 3) == modeRead ? O_RDONLY : (nOpenFlags & 3) == modeWrite ? O_WRONLY : O_RDWR);
    return TRUE;
}

BOOL CFile::OpenReplacementAt(int dirFd, const char* lpszName, unsigned nNewMode, CFileException* pError,
                              bool bKeepExisting)
{
    Discard();
    m_strFilePath = lpszName;
    auto fail = [&](int error) {
        if (pError != nullptr)
            *pError = CFileException(CFileException::OsErrorToException(error), error, m_strFilePath);
        return FALSE;
    };
    dirFd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (dirFd < 0)
        return fail(errno);
    ReplacementFile replacement;
    if (const int error = AfxBeginReplacementAt(dirFd, lpszName, nNewMode, &replacement); error != 0) {
        ::close(dirFd);
        return fail(error);
    }
    m_hFile = replacement.fd;
    SetUpBuffer(O_WRONLY);
    m_strTempPath = std::move(replacement.tempPath);
    m_strTargetPath = std::move(replacement.targetPath);
    m_nDirFd = dirFd;
    m_bKeepExisting = bKeepExisting;
    return TRUE;
}

BOOL CFile::OpenInPlace(const char* lpszFileName, int nFlags, CFileException* pError)
{
    // Opening never waits (a pipe without a writer would hold the window), and
    // only files and devices are opened: directories, pipes and sockets are not.
    const int fd = ::open(lpszFileName, nFlags | O_NONBLOCK, 0666);
    int error = fd < 0 ? errno : 0;
    struct stat status {};
    // NOLINTBEGIN(bugprone-branch-clone): two calls that may fail, each leaving its errno
    if (fd >= 0 && ::fstat(fd, &status) != 0)
        error = errno;
    else if (fd >= 0 && S_ISDIR(status.st_mode))
        error = EISDIR;
    else if (fd >= 0 && !S_ISREG(status.st_mode) && !S_ISCHR(status.st_mode))
        error = EINVAL;
    else if (fd >= 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    // NOLINTEND(bugprone-branch-clone)
    if (error != 0) {
        if (fd >= 0)
            ::close(fd);
        if (pError != nullptr)
            *pError = CFileException(CFileException::OsErrorToException(error), error, m_strFilePath);
        return FALSE;
    }
    m_hFile = fd;
    SetUpBuffer(nFlags & O_ACCMODE);
    return TRUE;
}

void CFile::SetUpBuffer(int nAccessMode)
{
    m_buffering = Buffering::none;
    m_nBufferStart = 0;
    m_nBufferLength = 0;
    m_nBufferPos = 0;
    m_nWrittenBack = 0;
    struct stat status {};
    if (::fstat(m_hFile, &status) != 0 || !S_ISREG(status.st_mode) || nAccessMode == O_RDWR)
        return;
    m_buffering = nAccessMode == O_RDONLY ? Buffering::reading : Buffering::writing;
    if (m_pBuffer == nullptr)
        m_pBuffer = std::make_unique<BYTE[]>(kBufferSize);
}

UINT CFile::RawRead(void* lpBuf, UINT nCount)
{
    UINT total = 0;
    while (total < nCount) {
        const ssize_t n = ::read(m_hFile, static_cast<char*>(lpBuf) + total, nCount - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            CFileException::ThrowOsError(errno, m_strFilePath);
        if (n == 0)
            break;
        total += static_cast<UINT>(n);
    }
    return total;
}

void CFile::RawWrite(const void* lpBuf, size_t nCount)
{
    size_t total = 0;
    while (total < nCount) {
        const ssize_t n = ::write(m_hFile, static_cast<const char*>(lpBuf) + total, nCount - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            CFileException::ThrowOsError(errno, m_strFilePath);
        if (n == 0)
            CFileException::ThrowOsError(ENOSPC, m_strFilePath);
        total += static_cast<size_t>(n);
    }
}

UINT CFile::Read(void* lpBuf, UINT nCount)
{
    if (m_buffering != Buffering::reading)
        return RawRead(lpBuf, nCount);
    BYTE* out = static_cast<BYTE*>(lpBuf);
    UINT total = 0;
    while (total < nCount) {
        if (m_nBufferPos == m_nBufferLength) {
            m_nBufferStart += m_nBufferLength;
            m_nBufferPos = 0;
            m_nBufferLength = 0;
            if (nCount - total >= kBufferSize) {
                const UINT n = RawRead(out + total, nCount - total);
                m_nBufferStart += n;
                return total + n;
            }
            m_nBufferLength = RawRead(m_pBuffer.get(), kBufferSize);
            if (m_nBufferLength == 0)
                break;
        }
        const size_t n = std::min<size_t>(m_nBufferLength - m_nBufferPos, nCount - total);
        std::memcpy(out + total, m_pBuffer.get() + m_nBufferPos, n);
        m_nBufferPos += n;
        total += static_cast<UINT>(n);
    }
    return total;
}

void CFile::Write(const void* lpBuf, UINT nCount)
{
    if (m_buffering != Buffering::writing) {
        RawWrite(lpBuf, nCount);
        return;
    }
    if (m_nBufferLength + nCount > kBufferSize)
        Flush();
    if (nCount >= kBufferSize) {
        RawWrite(lpBuf, nCount);
        m_nBufferStart += nCount;
        return;
    }
    std::memcpy(m_pBuffer.get() + m_nBufferLength, lpBuf, nCount);
    m_nBufferLength += nCount;
}

void CFile::Flush()
{
    if (m_buffering != Buffering::writing || m_nBufferLength == 0)
        return;
    // What fails to go out is not tried again.
    const size_t pending = m_nBufferLength;
    m_nBufferLength = 0;
    m_nBufferStart += pending;
    RawWrite(m_pBuffer.get(), pending);
    // A replacement is made durable at Commit: writing each finished MiB
    // back now leaves less for that fsync to wait for.
    constexpr ULONGLONG kWriteBackChunk = 1024 * 1024;
    if (!m_strTempPath.empty() && m_nBufferStart - m_nWrittenBack >= kWriteBackChunk) {
        // Only a start: the fsync at Commit reports what fails.
        (void)::sync_file_range(m_hFile, static_cast<off_t>(m_nWrittenBack),
                                static_cast<off_t>(m_nBufferStart - m_nWrittenBack), SYNC_FILE_RANGE_WRITE);
        m_nWrittenBack = m_nBufferStart;
    }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom)
{
    Flush();
    if (m_buffering == Buffering::reading && nFrom != end) {
        const LONGLONG target = nFrom == begin ? lOff : static_cast<LONGLONG>(GetPosition()) + lOff;
        // Within what the buffer holds: no system call.
        if (target >= static_cast<LONGLONG>(m_nBufferStart) &&
            target <= static_cast<LONGLONG>(m_nBufferStart + m_nBufferLength)) {
            m_nBufferPos = static_cast<size_t>(target - static_cast<LONGLONG>(m_nBufferStart));
            return static_cast<ULONGLONG>(target);
        }
        lOff = target;
        nFrom = begin;
    }
    const int whence = nFrom == begin ? SEEK_SET : nFrom == current ? SEEK_CUR : SEEK_END;
    const off_t position = ::lseek(m_hFile, static_cast<off_t>(lOff), whence);
    if (position < 0)
        CFileException::ThrowOsError(errno, m_strFilePath);
    m_nBufferStart = static_cast<ULONGLONG>(position);
    m_nBufferLength = 0;
    m_nBufferPos = 0;
    return static_cast<ULONGLONG>(position);
}

ULONGLONG CFile::GetPosition() const
{
    if (m_buffering == Buffering::reading)
        return m_nBufferStart + m_nBufferPos;
    if (m_buffering == Buffering::writing)
        return m_nBufferStart + m_nBufferLength;
    const off_t position = ::lseek(m_hFile, 0, SEEK_CUR);
    if (position < 0)
        CFileException::ThrowOsError(errno, m_strFilePath);
    return static_cast<ULONGLONG>(position);
}

ULONGLONG CFile::GetLength() const
{
    struct stat status {};
    if (::fstat(m_hFile, &status) != 0)
        return 0;
    return S_ISREG(status.st_mode) ? static_cast<ULONGLONG>(status.st_size) : 0;
}

void CFile::Commit()
{
    Flush();
    if (m_strTempPath.empty())
        return;
    ReplacementFile replacement{m_hFile, m_strTempPath, m_strTargetPath, m_nDirFd, m_bKeepExisting};
    const int error = AfxCommitReplacement(replacement);
    m_hFile = -1;
    if (error != 0) {
        Discard();
        CFileException::ThrowOsError(error, m_strFilePath);
    }
    m_strTempPath.clear();
    Discard();
}

void CFile::Close()
{
    // A replacement that was not committed is dropped, not written.
    if (m_strTempPath.empty())
        Flush();
    Discard();
}

void CFile::Discard() noexcept
{
    if (m_hFile >= 0 && m_buffering == Buffering::writing && m_nBufferLength > 0 && m_strTempPath.empty()) {
        // Closing without Close: what can still be written is.
        try {
            Flush();
        } catch (const CFileException&) {
        }
    }
    if (m_hFile >= 0)
        ::close(m_hFile);
    m_hFile = -1;
    m_buffering = Buffering::none;
    m_nBufferLength = 0;
    m_nBufferPos = 0;
    if (!m_strTempPath.empty())
        ::unlinkat(m_nDirFd, m_strTempPath.c_str(), 0);
    m_strTempPath.clear();
    if (m_nDirFd != AT_FDCWD)
        ::close(m_nDirFd);
    m_nDirFd = AT_FDCWD;
    m_bKeepExisting = false;
}
