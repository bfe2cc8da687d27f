// SPDX-License-Identifier: MIT
// A UDP socket on a port below 1024 without running the program privileged.
// The socket is bound directly whenever the system allows it: a port at or
// above net.ipv4.ip_unprivileged_port_start, or cap_net_bind_service held.
// Otherwise port 69, TFTP's, and 67, DHCP's (IPv4), and no other, are bound
// by the helper tarnwick-bind, which holds that capability, binds, gives it up
// and passes the socket back (platform/bind/bind_helper.h). Installed, the helper is root:tarnwick 0750:
// only the members of that group may run it.
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

// Why the helper gave no port 69 (or 67); the user's way out differs for each.
enum class HelperRefusal {
    None,              // it bound, was not run, or failed for a reason of another kind
    Missing,           // nothing to run at its path
    NotInGroup,        // only its group may run it, and this process is not in that group
    NotRunnable,       // this user may not run it otherwise: no execute permission
    WithoutCapability, // it ran, and the system refused it the port: it lacks cap_net_bind_service
};

struct BindResult {
    BindOutcome outcome = BindOutcome::Failed;
    int fd = -1;            // when Bound: the socket, which the caller owns
    int nError = 0;         // otherwise the reason as an errno value
    bool bByHelper = false; // the helper was run for it
    HelperRefusal refusal = HelperRefusal::None;
    std::string helperGroup; // with NotInGroup: the name of the group that may run the helper
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
// The same, the socket bound to the interface nIfIndex (SO_BINDTODEVICE;
// 0: none) before its port: it then shares the port with sockets bound to
// other interfaces, and with none bound to every interface. The system
// refusing port 67 or 69, the helper binds it; an empty strHelper runs none.
BindResult AfxBindUdpPortOnInterface(const sockaddr* pAddress, socklen_t nLength, int nIfIndex,
                                     const std::string& strHelper = AfxFindBindHelper());

// The login name of the real user, or its number when the user database has none.
std::string AfxRealUserName();

// The message's printf format for each refusal, from the program's string table.
struct Port69DeniedTexts {
    const char* lpszMissing;           // %s: the helper
    const char* lpszNotInGroup;        // %s: group, user, group, helper, user, group
    const char* lpszNotRunnable;       // %s: helper, user, helper
    const char* lpszWithoutCapability; // %s: helper, helper
};

// What a user is told when port 69 was refused through the helper at
// strHelper: the case, and each command on a line of its own that begins with
// a tab, so that the message box gives it a Copy button. A refusal of no known case is told as a missing capability.
std::string AfxPort69DeniedText(const BindResult& result, const std::string& strHelper, const std::string& strUser,
                                const Port69DeniedTexts& texts);
