// SPDX-License-Identifier: MIT
// The subnets of this machine's network interfaces, and whether an address
// lies in one of them.
#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

#include "afxtypes.h"

struct LocalSubnet {
    int nFamily;      // AF_INET or AF_INET6
    BYTE address[16]; // the subnet's address, masked; IPv4 in the first 4 bytes
    BYTE mask[16];
    int nIfIndex = 0;       // the interface it is on; 0: any interface
    UINT nMtu = 0;          // that interface's MTU; 0: not known
    bool bLoopback = false; // that interface is a loopback one
};

// The subnets of the interfaces that are up, IPv4 and IPv6, loopback
// included, each with its interface. A mask of all zeros would hold every
// address and is left out. Empty when the interfaces cannot be read.
std::vector<LocalSubnet> AfxGetLocalSubnets();

// Whether address, to which a datagram was sent, is a broadcast or multicast
// address: 255.255.255.255, 224.0.0.0/4, ff00::/8, or the broadcast address
// of one of subnets (IPv4, a prefix of 30 bits or fewer). An IPv4-mapped
// IPv6 address counts as its IPv4 address.
bool AfxIsBroadcastOrMulticast(const sockaddr_storage& address, const std::vector<LocalSubnet>& subnets);

// Whether address (AF_INET or AF_INET6) lies in one of subnets. An
// IPv4-mapped IPv6 address (::ffff:a.b.c.d) counts as its IPv4 address; any
// other family lies in none. Reads nothing but its arguments.
bool AfxIsInSubnets(const sockaddr_storage& address, const std::vector<LocalSubnet>& subnets);
bool AfxIsInSubnet(const sockaddr_storage& address, const LocalSubnet& subnet);

// An address of this machine as text: numeric, with its zone where it needs
// one (fe80::1%eth0).
struct LocalAddress {
    std::string text;
    bool bIpv6;
    std::string interfaceName; // "enp3s0"
};

// The addresses of the interfaces that are up; loopback only with bLoopback.
std::vector<LocalAddress> AfxGetLocalAddresses(bool bLoopback);
