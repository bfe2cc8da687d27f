// SPDX-License-Identifier: MIT
// What tarnwick-bind and the program that runs it agree on.
//
//   tarnwick-bind FD ADDRESS [PORT [IFINDEX]]
//
// FD is the decimal number of an inherited Unix socket; ADDRESS an IPv4 or
// IPv6 literal (0.0.0.0 and :: for all addresses; a link-local IPv6 address
// carries its interface's number: fe80::1%2). PORT is 69, TFTP's (the port
// when none is given), or 67, DHCP's, with an IPv4 ADDRESS only; no other.
// IFINDEX, an interface's number, binds the socket to that interface
// (SO_BINDTODEVICE) before the port, so that it shares the port with
// sockets bound to other interfaces (another DHCP server's on another
// network) and never with one on every interface. The helper binds a UDP
// socket to ADDRESS and PORT, gives up its capabilities and sends one message
// over FD: an int, 0 with the socket attached (SCM_RIGHTS), or the errno of
// the step that failed with nothing attached.
#pragma once

#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>

inline constexpr unsigned short kBindHelperPort = 69;
inline constexpr unsigned short kBindHelperDhcpPort = 67;

// The helper's exit status: 0 once the socket is sent, else one per failure.
// Before FD is known to be a Unix socket nothing is sent.
enum BindHelperStatus : int {
    kBindHelperSent = 0,
    kBindHelperUsage = 2,         // not two to four arguments
    kBindHelperBadChannel = 3,    // FD is not a number naming a Unix socket
    kBindHelperBadAddress = 4,    // ADDRESS is not a literal address
    kBindHelperNoSocket = 5,      // no UDP socket could be made
    kBindHelperInUse = 6,         // EADDRINUSE
    kBindHelperDenied = 7,        // EACCES: the helper lacks cap_net_bind_service
    kBindHelperBindFailed = 8,    // any other bind failure
    kBindHelperKeptPrivilege = 9, // the capabilities could not be dropped
    kBindHelperNotSent = 10,      // the message could not be sent
    kBindHelperBadPort = 11,      // PORT is not 69, nor 67 with an IPv4 ADDRESS
    kBindHelperBadInterface = 12, // IFINDEX is not a number, or names no interface
};

// Binds socket fd to the interface numbered nIfIndex, by its name: the
// system takes any number for SO_BINDTOIFINDEX, a name only of an interface
// that is there. 0, or the errno of the step that failed.
inline int BindToInterface(int fd, int nIfIndex)
{
    char name[IF_NAMESIZE] = {};
    if (nIfIndex <= 0 || ::if_indextoname(static_cast<unsigned>(nIfIndex), name) == nullptr)
        return ENODEV;
    return ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name, sizeof name) == 0 ? 0 : errno;
}
