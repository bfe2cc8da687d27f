// SPDX-License-Identifier: MIT
// Runs a transfer the way the program does, without a window: the poll()
// watcher delivers readiness to OnReceive and OnTick is called every tick
// period of the driver's own loop (OnClock every TFTP_CLOCK_MS once the
// transfer is clocked), until the session reports an end.
#pragma once

#include <chrono>
#include <vector>

#include "client/session.h"
#include "platform/core/wnd.h"
#include "timing.h"

struct TransferOutcome {
    UINT endMessage = 0;        // WM_TFTP_COMPLETE, _FAILED or _TIMEOUT; 0 when none came in time
    std::vector<UINT> messages; // every message, in order
    unsigned long long progressBytes = 0;
    unsigned progressMessages = 0;
};

// The messages posted to owner and not yet taken, in order; takes them.
std::vector<UINT> TakeMessages(CWnd& owner);

// Starts the session (already constructed on `owner`) and drives it to its
// end, or until `limit` has passed. The tick is the program's own by default.
TransferOutcome RunTransfer(CTFTPSession& session, CWnd& owner, const char* host, const char* localPath,
                            const char* remoteName, WORD direction, WORD mode,
                            std::chrono::milliseconds tick = Scaled(std::chrono::milliseconds(TFTP_TICK_MS)),
                            std::chrono::milliseconds limit = Scaled(std::chrono::seconds(300)));
