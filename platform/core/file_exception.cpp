// SPDX-License-Identifier: MIT
#include "file_exception.h"

#include <cerrno>
#include <utility>

#include "afxres.h"
#include "afxstrings.h"
#include "afxtypes.h"

CFileException::CFileException(int cause, long lOsError, std::string strFileName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(std::move(strFileName))
{
}

int CFileException::OsErrorToException(long lOsError)
{
    switch (lOsError) {
    case 0:
        return none;
    case ENOENT:
        return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return badPath;
    case EMFILE:
    case ENFILE:
        return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return accessDenied;
    case EBADF:
        return invalidFile;
    case EINVAL:
    case ESPIPE:
        return badSeek;
    case EIO:
        return hardIO;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return diskFull;
    default:
        return genericException;
    }
}

void CFileException::ThrowOsError(long lOsError, const std::string& strFileName)
{
    throw CFileException(OsErrorToException(lOsError), lOsError, strFileName);
}

std::string CFileException::GetErrorMessage() const
{
    // The path goes in by plain replacement: it is never read as a format.
    const char* format = AfxFindFrameworkString(AFX_IDP_FILE_NONE + static_cast<UINT>(m_cause));
    std::string text = format != nullptr ? format : AfxFindFrameworkString(AFX_IDP_FILE_GENERIC);
    const size_t placeholder = text.find("%1");
    if (placeholder != std::string::npos)
        text.replace(placeholder, 2, m_strFileName);
    return text;
}
