// SPDX-License-Identifier: MIT
// Names a client asks for, and opening them confined to the served folder.
// The folder is a directory descriptor; every name is opened beneath it by
// the kernel (openat2, RESOLVE_BENEATH), never checked as a string and then
// opened. A name refused for its shape or for leading out gets ERROR 2; a
// name looked up and not there gets ERROR 1.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "server/serve_request.h"

struct ServeName {
    WORD wErrorCode = 0;        // 0: relative holds the name; else the ERROR to send
    const char* lpszError = ""; // a fixed text for the ERROR
    std::string relative;       // components joined by "/", none empty, "." or ".."
};

// The path beneath the folder for a requested name. Leading "/" are the
// folder itself and repeated ones count once; with bBackslashIsSlash, "\"
// is read as "/". "%" and every other byte stand for themselves. Refused with
// ERROR 2: an empty name (or one that is only the folder), a "." or ".."
// component, a control character, more than TFTP_MAX_NAME bytes.
ServeName NormalizeServeName(std::string_view requested, bool bBackslashIsSlash);

struct ServeOpen {
    int fd = -1; // the open file, the caller's to close; -1 when refused
    // When refused: 1 not found, 2 access violation (outside the folder, a
    // symbolic link the walk refuses, not a regular file, no permission), 0
    // for the server's own trouble (no descriptors or memory).
    WORD wErrorCode = 0;
    const char* lpszError = ""; // a fixed text for the ERROR
    int nErrno = 0;             // the system's reason, for the log
};

// Opens relative beneath dirFd with nFlags (O_NONBLOCK, O_NOCTTY and
// O_CLOEXEC are added; mode is for O_CREAT). openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_MAGICLINKS: a symbolic link that stays inside the folder is
// followed; one that leads out, "..", an absolute name and /proc magic links
// are refused. Where the kernel has no openat2 (ENOSYS), the name is walked
// one component at a time with O_NOFOLLOW, which refuses every symbolic
// link, those inside the folder too. Any kind of file opens: see OpenServeFile.
ServeOpen OpenBeneath(int dirFd, const std::string& relative, int nFlags, mode_t mode = 0);

// Only a regular file beneath dirFd, opened with nFlags: the name is first
// opened with O_PATH and looked at, so a directory, FIFO, device or socket
// is refused with ERROR 2 without ever being opened; then the file is
// opened and must be the one looked at. With bIgnoreCase, a name not found
// is looked for with FindCaseMatch.
ServeOpen OpenServeFile(int dirFd, const std::string& relative, int nFlags, mode_t mode, bool bIgnoreCase);

// Tries openat2 beneath dirFd once. Where the kernel lacks it (ENOSYS) or a
// filter forbids it (EPERM, as some container runtimes do), every later name
// is walked one component at a time, and false is returned with the errno
// in *pErrno.
bool SelectOpenMethod(int dirFd, int* pErrno = nullptr);

// The name beneath dirFd that matches relative but for ASCII case: each
// component as it is when that exists, else the one entry of its directory
// equal to it without regard to case. nullopt when there is none, or two.
// Only looks (the window can say "asked for \Boot\BCD; boot/bcd exists").
std::optional<std::string> FindCaseMatch(int dirFd, const std::string& relative);

// The TFTP error for an errno from opening a name: ENOENT and ENOTDIR 1,
// EMFILE, ENFILE and ENOMEM 0, any other 2.
WORD ServeErrorForErrno(int nErrno);

// For tests: walk components as if the kernel had no openat2.
void ForceComponentWalk(bool bForce);
