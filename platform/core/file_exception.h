// SPDX-License-Identifier: MIT
// The exception of a failed file operation, and the errno values behind it.
#pragma once

#include <string>

// A failed file operation: the cause, the errno behind it and the file's path.
class CFileException {
public:
    enum {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    explicit CFileException(int cause = none, long lOsError = -1, std::string strFileName = {});

    // The cause that an errno value stands for.
    static int OsErrorToException(long lOsError);
    [[noreturn]] static void ThrowOsError(long lOsError, const std::string& strFileName);

    // The framework's text for the cause, with the file's path in place of %1.
    std::string GetErrorMessage() const;

    int m_cause;
    long m_lOsError;
    std::string m_strFileName;
};
