// SPDX-License-Identifier: MIT
// What tarnwick-bind and the program that runs it agree on.
//
//   tarnwick-bind FD ADDRESS
//
// FD is the decimal number of an inherited Unix socket; ADDRESS an IPv4 or
// IPv6 literal (0.0.0.0 and :: for all addresses; a link-local IPv6 address
// carries its interface's number: fe80::1%2). The helper binds a UDP socket
// to ADDRESS, port 69 and no other, gives up its capabilities and sends one
// message over FD: an int, 0 with the socket attached (SCM_RIGHTS), or the
// errno of the step that failed with nothing attached.
#pragma once

inline constexpr unsigned short kBindHelperPort = 69;

// The helper's exit status: 0 once the socket is sent, else one per failure.
// Before FD is known to be a Unix socket nothing is sent.
enum BindHelperStatus : int {
    kBindHelperSent = 0,
    kBindHelperUsage = 2,         // not exactly the two arguments
    kBindHelperBadChannel = 3,    // FD is not a number naming a Unix socket
    kBindHelperBadAddress = 4,    // ADDRESS is not a literal address
    kBindHelperNoSocket = 5,      // no UDP socket could be made
    kBindHelperInUse = 6,         // EADDRINUSE
    kBindHelperDenied = 7,        // EACCES: the helper lacks cap_net_bind_service
    kBindHelperBindFailed = 8,    // any other bind failure
    kBindHelperKeptPrivilege = 9, // the capabilities could not be dropped
    kBindHelperNotSent = 10,      // the message could not be sent
};
