// SPDX-License-Identifier: MIT
// A UDP socket on a port below 1024 without running the program privileged.
// The socket is bound directly whenever the system allows it: a port at or
// above net.ipv4.ip_unprivileged_port_start, or cap_net_bind_service held.
// Otherwise port 69, and only port 69, is bound by the helper tarnwick-bind,
// which holds that capability, binds, gives it up and passes the socket back
// (platform/bind/bind_helper.h).
#pragma once

#include <sys/socket.h>

#include <string>

#include "afxtypes.h"

enum class BindOutcome {
    Bound,        // fd is the bound socket
    InUse,        // another program holds the port (EADDRINUSE)
    NotPermitted, // a privileged port, and no helper that may bind it for this user
    Failed,       // any other reason, in nError
};

struct BindResult {
    BindOutcome outcome = BindOutcome::Failed;
    int fd = -1;            // when Bound: the socket, which the caller owns
    int nError = 0;         // otherwise the reason as an errno value
    bool bByHelper = false; // the helper was run for it
};

// The helper beside the program (a build tree), or where an installation puts
// it relative to the program (../libexec/tarnwick/ from bin/); when neither
// exists, the installed place, which messages can name.
std::string AfxFindBindHelper();

// Binds a blocking, close-on-exec UDP socket to pAddress (AF_INET or AF_INET6,
// its port included); an IPv6 socket takes IPv6 only, so "::" and "0.0.0.0"
// are two sockets. When the system refuses port 69 it runs strHelper, and
// waits for it: it ends as soon as it has bound.
BindResult AfxBindUdpPort(const sockaddr* pAddress, socklen_t nLength,
                          const std::string& strHelper = AfxFindBindHelper());

// Whether this process may bind nPort itself, without the helper.
bool AfxMayBindDirectly(UINT nPort);
