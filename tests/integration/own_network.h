// SPDX-License-Identifier: MIT
// Whether the test process runs in a network namespace of its own, where a
// server may take port 69 without touching the machine's.
#pragma once

#include <sys/types.h>

bool InOwnNetwork();
// The network namespace of a peer: a child process that holds it until the
// test process ends. Its process ID, or -1.
pid_t PeerNetwork();
