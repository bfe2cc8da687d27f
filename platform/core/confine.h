// SPDX-License-Identifier: MIT
// A process confines itself, for good: no new privileges, no capabilities,
// file access beneath one folder only (Landlock), and only the system calls
// of confine_calls.cpp (seccomp, EPERM for the rest). Knows nothing of TFTP.
#pragma once

#include <string>

struct ConfineRequest {
    int nFolderFd = -1;  // the folder, opened (O_PATH will do); the only place the process may reach
    bool bWrite = false; // files beneath it may be written, made, renamed and removed
    // A TCP port served (HTTP), its listening socket already open; 0: none.
    // With one, the calls of a TCP server are allowed (accept4, sendfile),
    // and Landlock (ABI 4 on) lets TCP bind that port only; never any TCP
    // connect.
    unsigned nTcpPort = 0;
};

struct ConfineResult {
    bool bNoNewPrivs = false;
    bool bCapabilities = false; // every capability dropped
    int nLandlockAbi = 0;       // the Landlock ABI applied; 0: none
    bool bSeccomp = false;
    // What could not be applied and why, in words; empty when all was.
    std::string missing;
    bool Complete() const { return bNoNewPrivs && bCapabilities && nLandlockAbi > 0 && bSeccomp; }
};

// Applies what the kernel offers, at the best Landlock ABI it has; what it
// lacks is told in missing, and the rest still applies. Cannot be undone.
// Descriptors already open stay usable.
ConfineResult AfxConfine(const ConfineRequest& request);

// The Landlock ABI the kernel offers; 0 when it has none (or has it off).
int AfxLandlockAbi();
