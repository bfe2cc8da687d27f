// SPDX-License-Identifier: MIT
// Whether the server takes a request, and the file it starts from: the name
// opened beneath the folder for a read; for an upload the policy (allowed at
// all, new files, replacing files), one upload per name, the room on the
// disk, and a replacement file beside the target.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "protocol/transfer_file.h"
#include "server/serve_request.h"
#include "server/server.h"

// The largest file whose netascii size a read's admission counts, in one
// pass over it; a larger one's tsize is left out.
inline constexpr ULONGLONG kNetasciiSizedMax = 16ULL << 20;

struct ServeFolder {
    int dirFd = -1; // the served folder, open as a directory
    bool bBackslashIsSlash = true;
    bool bIgnoreCase = false;
    ServeLimits limits;
};

// The file an upload stores: the folder that holds it as the system knows
// it (one folder reached through a symbolic link is still one folder) and
// the name in it as matched, in ASCII lower case when case is ignored. Two
// uploads with one key would store one file.
struct ServeUploadKey {
    dev_t device = 0;
    ino_t inode = 0;
    std::string leaf;
    bool operator==(const ServeUploadKey&) const = default;
};

struct ServeAdmission {
    WORD wErrorCode = 0;        // with bRefused: the ERROR to send
    const char* lpszError = ""; // its fixed text
    bool bRefused = false;
    std::string reason; // for the row and the log: why, in plain words
    ServeReason reasonCode = ServeReason::other;

    std::unique_ptr<CTFTPFile> pFile; // open for reading, or a replacement open for writing
    ServeGrant grant;
    ULONGLONG nSize = 0; // a read: its size on the wire; an upload: its tsize
    bool bSizeKnown = false;
    ULONGLONG nAdmittedSize = 0; // a read: the file's own size when it was admitted
    ULONGLONG nRoom = ~0ULL;     // an upload: the bytes it may fill
    ServeUploadKey key;          // an upload: the file it stores
};

// A read request: the name opened beneath the folder, only a regular file;
// options granted against its size on the wire (in netascii tsize only for
// a file of at most kNetasciiSizedMax bytes, whose translation is counted).
// The new file of an unfinished upload (AfxIsReplacementName) is not found.
ServeAdmission AdmitRead(const ServeRequest& request, const ServeFolder& folder);

// A write request under the policy. Refused: uploads off (ERROR 2); an
// existing file without ReplaceExisting (ERROR 6); a new file without
// AllowCreate, a missing folder (never created), a link or anything but a
// regular file as the target, the name of an unfinished upload's new file,
// a file that another upload running now stores (isUploading says so)
// (ERROR 2); a tsize above the room (ERROR 3). The new file, mode 0644 less
// the umask, is written beside the target and takes its place only when
// complete; without ReplaceExisting only if the name is still free then.
ServeAdmission AdmitWrite(const ServeRequest& request, const ServeFolder& folder, const ServePolicy& policy,
                          const std::function<bool(const ServeUploadKey&)>& isUploading);
