// SPDX-License-Identifier: MIT
// What the system tells of a datagram beyond its sender (IP_PKTINFO,
// IPV6_PKTINFO), for a server listening on several addresses: where it was
// sent and where it came in. The CAsyncSocket calls that read and use it,
// EnablePacketInfo, ReceiveFromWithLocal and SendToFrom, are declared in
// socket.h and defined in socket_packet_info.cpp.
#pragma once

#include <sys/socket.h>

// Where a datagram was sent and the interface it came in on.
struct DatagramArrival {
    sockaddr_storage destination = {}; // the address in its header, port 0; AF_UNSPEC when not known
    int nIfIndex = 0;                  // 0 when not known
};
