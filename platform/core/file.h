// SPDX-License-Identifier: MIT
// Local files over POSIX descriptors, with the framework's flags and its
// exception for failures.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "afxtypes.h"
#include "file_exception.h"

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
        // With modeCreate: write a new file beside the target and put it in the
        // target's place only at Commit. Until then the target is untouched, and
        // closing without Commit removes the new file.
        modeReplaceOnCommit = 0x00100000,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    // Closes the file; an uncommitted replacement is removed.
    virtual ~CFile();

    // FALSE on failure, with the cause in *pError when given. Only files and
    // devices open: a directory, pipe or socket fails, and opening never waits.
    virtual BOOL Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);

    // Takes over fd, a regular file opened elsewhere (beneath a served
    // folder), for reading (modeRead) or writing (modeWrite); it reads and
    // writes as after Open. lpszName is what GetFilePath reports.
    BOOL Attach(int fd, UINT nOpenFlags, const char* lpszName);
    // Opens a replacement of lpszName, one name in the directory dirFd, as
    // modeCreate | modeReplaceOnCommit does for a path, without looking
    // outside that directory (AfxBeginReplacementAt): a symbolic link is
    // refused, and a new file gets nNewMode less the umask. The file keeps
    // a descriptor of the directory of its own until Commit or Close. With
    // bKeepExisting, Commit never replaces: a file that has taken the name
    // meanwhile stays, and Commit throws EEXIST.
    BOOL OpenReplacementAt(int dirFd, const char* lpszName, unsigned nNewMode, CFileException* pError = nullptr,
                           bool bKeepExisting = false);

    // Returns the bytes read; fewer than asked only at the end of the file.
    virtual UINT Read(void* lpBuf, UINT nCount);
    // Stores all nCount bytes or throws; a short write is "disk full". A
    // regular file opened for writing only is written through a buffer, so a
    // failure may be reported by a later Write, Flush, Commit or Close.
    virtual void Write(const void* lpBuf, UINT nCount);
    // Writes what the buffer holds.
    void Flush();
    virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    virtual ULONGLONG GetPosition() const;
    // The file's size on disk now; 0 for a device, or when it cannot be read.
    ULONGLONG GetLength() const;
    // Puts a replacement file in its target's place (keeping an existing
    // target's permission bits) and closes it. Otherwise it writes what the
    // buffer holds.
    virtual void Commit();
    virtual void Close();

    // The full path recorded by Open.
    std::string GetFilePath() const { return m_strFilePath; }

    int m_hFile = -1;

private:
    BOOL OpenInPlace(const char* lpszFileName, int nFlags, CFileException* pError);
    void SetUpBuffer(int nAccessMode);
    UINT RawRead(void* lpBuf, UINT nCount);
    void RawWrite(const void* lpBuf, size_t nCount);
    void Discard() noexcept;

    // A regular file opened for reading only, or for writing only, moves its
    // bytes through one buffer: one system call per 64 KiB, not per block.
    enum class Buffering { none, reading, writing };
    static constexpr std::size_t kBufferSize = 64 * 1024;
    Buffering m_buffering = Buffering::none;
    std::unique_ptr<BYTE[]> m_pBuffer;
    ULONGLONG m_nBufferStart = 0;    // the file offset of the buffer's first byte
    std::size_t m_nBufferLength = 0; // reading: the bytes it holds; writing: those waiting
    std::size_t m_nBufferPos = 0;    // reading: the next byte to deliver
    ULONGLONG m_nWrittenBack = 0;    // a replacement: the bytes handed to write-back so far

    std::string m_strFilePath;
    std::string m_strTempPath;    // the new file while a replacement is pending
    std::string m_strTargetPath;  // where Commit puts it
    int m_nDirFd = AT_FDCWD;      // what the two paths are relative to; owned when not AT_FDCWD
    bool m_bKeepExisting = false; // Commit only takes a free name
};
