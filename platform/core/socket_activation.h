// SPDX-License-Identifier: MIT
// Sockets passed by a service manager (systemd's socket activation,
// sd_listen_fds(3)): LISTEN_PID names this process, LISTEN_FDS counts the
// descriptors from 3 on.
#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

struct ActivatedSocket {
    int fd;
    sockaddr_storage address; // where it is bound
};

struct Activation {
    bool bActivated = false; // LISTEN_PID named this process and LISTEN_FDS was a count
    std::vector<ActivatedSocket> sockets;
    std::string error; // a descriptor that is not a bound IPv4 or IPv6 datagram socket; empty when none
};

// Reads and unsets LISTEN_PID, LISTEN_FDS and LISTEN_FDNAMES (so that no
// child takes them for its own) and checks each descriptor passed. The
// descriptors become close-on-exec.
Activation AfxTakeActivatedSockets();
