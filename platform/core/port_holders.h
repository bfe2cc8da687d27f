// SPDX-License-Identifier: MIT
// Which programs hold a UDP port, as `ss -ulpn` tells: for the message that
// says a port is taken, and by whom.
#pragma once

#include <string>
#include <vector>

#include "afxtypes.h"

// The programs that hold UDP port nPort on any IPv4 or IPv6 address of this
// network namespace, each as "NAME (process ID)", at most kMaxHolders of them.
// The sockets are found in /proc/net/udp and udp6, their owners by the
// descriptors in /proc/*/fd, so only the processes this one may look into
// are named: empty when there is none. A name is what the process calls
// itself; any byte in it but printable ASCII is shown as '?'.
inline constexpr size_t kMaxPortHolders = 4;
std::vector<std::string> AfxUdpPortHolders(UINT nPort);
