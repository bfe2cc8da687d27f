// SPDX-License-Identifier: MIT
// How a transfer of the server reads its socket when the watcher reports a
// datagram: how many it takes at once, and whether a read may wait.
#pragma once

// Datagrams read per readiness report in a window: enough to take a window
// at once, few enough that other sockets and the window are not kept waiting.
inline constexpr int kServeReadsPerWake = 16;

struct ServeReadPolicy {
    int nReads = 1;        // datagrams read at most before the watcher reports again
    bool bMayWait = false; // a read may wait as the watcher allows (CReceiveWait) rather than fail at once
};

// The policy of a transfer whose window holds nWindowSize blocks, while
// nServed transfers of the server and nClients of the program's own client
// run (this one counted in nServed).
//
// In lock-step (a window of 1) the client's next datagram answers the one
// just sent, a round trip away: a second read would only find the socket
// empty, so one is read and the watcher reports the next. When this is the
// only transfer, that read may wait a few milliseconds, as a client's does:
// the answer is taken where it arrives rather than after a pass of the
// event loop. With others running no read waits, so that no client holds up
// another, nor the program's own client.
ServeReadPolicy ServeReadPolicyFor(int nWindowSize, int nServed, int nClients);
