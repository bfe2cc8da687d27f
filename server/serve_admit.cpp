// SPDX-License-Identifier: MIT
#include "server/serve_admit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>

#include "platform/core/replace_file.h"
#include "protocol/netascii.h"
#include "server/serve_names.h"

namespace {

ServeAdmission Refuse(ServeReason code, WORD wCode, const char* lpszText, std::string reason = {})
{
    ServeAdmission admission;
    admission.bRefused = true;
    admission.wErrorCode = wCode;
    admission.lpszError = lpszText;
    admission.reason = reason.empty() ? lpszText : std::move(reason);
    admission.reasonCode = code;
    return admission;
}

ServeAdmission RefuseOpen(const ServeOpen& open)
{
    return Refuse(open.wErrorCode == TFTP_ERROR_FILE_NOT_FOUND     ? ServeReason::notFound
                  : open.wErrorCode == TFTP_ERROR_ACCESS_VIOLATION ? ServeReason::accessDenied
                                                                   : ServeReason::other,
                  open.wErrorCode, open.lpszError,
                  std::string(open.lpszError) +
                      (open.nErrno != 0 ? ": " + std::string(std::strerror(open.nErrno)) : ""));
}

// Whether relative ends in the name of an upload's new file, which is
// never read or written by a client.
bool NamesUnfinishedUpload(const std::string& relative)
{
    const size_t slash = relative.rfind('/');
    return AfxIsReplacementName(slash == std::string::npos ? relative : relative.substr(slash + 1));
}

struct Descriptor {
    explicit Descriptor(int nFd) : fd(nFd) {}
    int fd;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { ::close(fd); }
};

// The size of the file's nSize bytes as netascii puts them on the wire; none
// for a file too large to count at admission, or one that cannot be read.
std::optional<ULONGLONG> NetasciiSizeOf(int fd, ULONGLONG nSize)
{
    if (nSize > kNetasciiSizedMax)
        return std::nullopt;
    constexpr size_t kChunk = 64 * 1024;
    const std::unique_ptr<BYTE[]> chunk(new (std::nothrow) BYTE[kChunk]);
    if (chunk == nullptr)
        return std::nullopt;
    ULONGLONG wire = 0;
    for (ULONGLONG at = 0; at < nSize;) {
        const ssize_t got = ::pread(fd, chunk.get(), static_cast<size_t>(std::min<ULONGLONG>(kChunk, nSize - at)),
                                    static_cast<off_t>(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        // A file cut short meanwhile is told when it is sent.
        if (got == 0)
            break;
        wire += NetasciiWireSize(chunk.get(), static_cast<size_t>(got));
        at += static_cast<ULONGLONG>(got);
    }
    return wire;
}

} // namespace

ServeAdmission AdmitRead(const ServeRequest& request, const ServeFolder& folder)
{
    const ServeName name = NormalizeServeName(request.szName, folder.bBackslashIsSlash);
    if (name.wErrorCode != 0)
        return Refuse(ServeReason::badName, name.wErrorCode, name.lpszError);
    if (NamesUnfinishedUpload(name.relative))
        return Refuse(ServeReason::notFound, TFTP_ERROR_FILE_NOT_FOUND, "File not found",
                      "File not found: an unfinished upload");
    const ServeOpen open = OpenServeFile(folder.dirFd, name.relative, O_RDONLY, 0, folder.bIgnoreCase);
    if (open.fd < 0)
        return RefuseOpen(open);
    struct stat status {};
    if (::fstat(open.fd, &status) != 0) {
        const int error = errno;
        ::close(open.fd);
        return Refuse(ServeReason::fileError, TFTP_ERROR_NOT_DEFINED, "Cannot read the file", std::strerror(error));
    }
    ServeAdmission admission;
    admission.nAdmittedSize = static_cast<ULONGLONG>(status.st_size);
    if (request.wMode == MODE_ASCII) {
        const std::optional<ULONGLONG> wire = NetasciiSizeOf(open.fd, admission.nAdmittedSize);
        admission.nSize = wire.value_or(0);
        admission.bSizeKnown = wire.has_value();
    } else {
        admission.nSize = admission.nAdmittedSize;
        admission.bSizeKnown = true;
    }
    admission.pFile = std::make_unique<CTFTPFile>();
    admission.pFile->Attach(open.fd, CFile::modeRead, name.relative.c_str());
    admission.pFile->m_nTransferMode = request.wMode == MODE_ASCII ? MODE_SERVE_NETASCII : MODE_BINARY;
    // 0 leaves tsize out: an empty file, or a netascii size not counted.
    admission.grant = NegotiateServeOptions(request, folder.limits, admission.nSize);
    return admission;
}

ServeAdmission AdmitWrite(const ServeRequest& request, const ServeFolder& folder, const ServePolicy& policy,
                          const std::function<bool(const ServeUploadKey&)>& isUploading)
{
    if (!policy.bAllowUpload)
        return Refuse(ServeReason::uploadsOff, TFTP_ERROR_ACCESS_VIOLATION, "Uploads are not allowed");
    const ServeName name = NormalizeServeName(request.szName, folder.bBackslashIsSlash);
    if (name.wErrorCode != 0)
        return Refuse(ServeReason::badName, name.wErrorCode, name.lpszError);
    if (NamesUnfinishedUpload(name.relative))
        return Refuse(ServeReason::badName, TFTP_ERROR_ACCESS_VIOLATION, "Access violation",
                      "The name of an unfinished upload");
    std::string relative = name.relative;
    if (folder.bIgnoreCase) {
        // An existing file of that name but for case is the one replaced;
        // else a folder of that name but for case holds the new file.
        if (std::optional<std::string> match = FindCaseMatch(folder.dirFd, relative)) {
            relative = std::move(*match);
        } else if (const size_t slash = relative.rfind('/'); slash != std::string::npos) {
            if (std::optional<std::string> parent = FindCaseMatch(folder.dirFd, relative.substr(0, slash)))
                relative = *parent + relative.substr(slash);
        }
    }
    const size_t slash = relative.rfind('/');
    const std::string leaf = slash == std::string::npos ? relative : relative.substr(slash + 1);
    const ServeOpen parent = slash == std::string::npos
                                 ? ServeOpen{::fcntl(folder.dirFd, F_DUPFD_CLOEXEC, 0), 0, "", 0}
                                 : OpenBeneath(folder.dirFd, relative.substr(0, slash), O_RDONLY | O_DIRECTORY);
    if (parent.fd < 0)
        return parent.wErrorCode == TFTP_ERROR_FILE_NOT_FOUND
                   ? Refuse(ServeReason::noFolder, TFTP_ERROR_ACCESS_VIOLATION, "No such folder",
                            "No such folder: folders are never made")
                   : RefuseOpen(parent);
    // The folder's descriptor closes with this function; the file keeps its own.
    const Descriptor folderOfFile(parent.fd);

    struct stat status {};
    const bool exists = ::fstatat(parent.fd, leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !S_ISREG(status.st_mode))
        return Refuse(ServeReason::accessDenied, TFTP_ERROR_ACCESS_VIOLATION, "Not a regular file");
    if (exists && !policy.bReplaceExisting)
        return Refuse(ServeReason::exists, TFTP_ERROR_FILE_EXISTS, "File already exists");
    if (!exists && !policy.bAllowCreate)
        return Refuse(ServeReason::createOff, TFTP_ERROR_ACCESS_VIOLATION, "Creating files is not allowed");
    struct stat folderStatus {};
    if (::fstat(parent.fd, &folderStatus) != 0)
        return Refuse(ServeReason::fileError, TFTP_ERROR_NOT_DEFINED, "Cannot write the file", std::strerror(errno));
    ServeUploadKey key{folderStatus.st_dev, folderStatus.st_ino, leaf};
    if (folder.bIgnoreCase)
        for (char& c : key.leaf)
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (isUploading && isUploading(key))
        return Refuse(ServeReason::uploadRunning, TFTP_ERROR_ACCESS_VIOLATION,
                      "Another upload of this file is running");

    struct statvfs space {};
    ServeAdmission admission;
    admission.nRoom = ::fstatvfs(parent.fd, &space) == 0
                          ? UploadRoom(static_cast<ULONGLONG>(space.f_bavail) * space.f_frsize,
                                       static_cast<ULONGLONG>(space.f_blocks) * space.f_frsize)
                          : ~0ULL;
    admission.grant = NegotiateServeOptions(request, folder.limits, admission.nRoom);
    if (admission.grant.wErrorCode != 0)
        return Refuse(ServeReason::diskFull, admission.grant.wErrorCode, "Disk full or allocation exceeded",
                      "The file is larger than the room on the disk");
    admission.nSize = admission.grant.granted.nFileSize;
    admission.bSizeKnown = admission.grant.granted.bFileSize;

    admission.pFile = std::make_unique<CTFTPFile>();
    CFileException error;
    // Without ReplaceExisting, a file that takes the name while the upload
    // runs is kept at the end.
    if (!admission.pFile->OpenReplacementAt(parent.fd, leaf.c_str(), 0644, &error, !policy.bReplaceExisting)) {
        const int code = static_cast<int>(error.m_lOsError);
        return Refuse(code == ENOSPC || code == EDQUOT ? ServeReason::diskFull : ServeReason::fileError,
                      code == ENOSPC || code == EDQUOT ? TFTP_ERROR_DISK_FULL : TFTP_ERROR_ACCESS_VIOLATION,
                      code == ENOSPC || code == EDQUOT ? "Disk full or allocation exceeded" : "Access violation",
                      std::string("Cannot write the file: ") + std::strerror(code));
    }
    admission.pFile->m_nTransferMode = request.wMode == MODE_ASCII ? MODE_SERVE_NETASCII : MODE_BINARY;
    admission.key = std::move(key);
    return admission;
}
