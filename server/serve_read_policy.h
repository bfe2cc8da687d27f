// SPDX-License-Identifier: MIT
// How many datagrams a transfer of the server reads from its socket each
// time the event loop reports one.
#pragma once

// Datagrams read per readiness report in a window: enough to take a window
// at once, few enough that other sockets are not kept waiting.
inline constexpr int kServeReadsPerWake = 16;

// The reads of a transfer whose window holds nWindowSize blocks. In
// lock-step (a window of 1) the client's next datagram answers the one just
// sent, a round trip away: a second read would only find the socket empty,
// so one is read and the event loop reports the next. No read waits: the
// server's loop sleeps in epoll, never in a read.
int ServeReadsPerWake(int nWindowSize);
