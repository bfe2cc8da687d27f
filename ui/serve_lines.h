// SPDX-License-Identifier: MIT
// Reading what tarnwick-serve --log-format json writes: one JSON object a
// line, either a message (serving, confinement, log, signal, error: its
// text), a row's event (start, progress, end: the row as it stands) or a
// machine answered by network boot (boot). The
// lines come from another process and carry clients' names and texts: every
// field is bounded by the line, a line that is not such an object is no
// line, and what it says is plain text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/server.h"

struct ServeLine {
    enum class Kind { message, start, progress, end, boot };
    Kind kind = Kind::message;
    std::string event; // "serving", "error", ... or "start", "progress", "end"
    std::string text;  // a message's words
    // An error's case and its particulars, when it tells them (port 69
    // refused: "port69-no-helper" and so on; see ServeFailureFields).
    std::string reasonCode, helper, user, group;
    // A row's event: the row (nStartMs 0, nEndMs its duration in ms), and
    // its client as "192.0.2.7:49152" or "[fe80::1%eth0]:49152".
    ServeRow row;
    std::string client;
    bool bHttp = false; // a row's event of the HTTP server
    // A boot (a machine answered by network boot): its MAC in client, its
    // file in row.file, and its architecture ("UEFI x64"), with iPXE.
    std::string arch;
    bool bIpxe = false;
};

// The longest line read; a longer one is dropped whole.
inline constexpr size_t kServeLineMost = 64 * 1024;

// One line without its newline; none when it is not an object of the
// output's form (an event name, and for a row an id of 1 or more).
std::optional<ServeLine> ParseServeLine(std::string_view line);

// What the window tells of a message line: for port 69 refused through the
// helper, the case in the window's own words, each command on a line of its
// own that begins with a tab (the message box gives it a Copy button), the
// helper and user as the child named them; for any other line, its text.
std::string ServeMessageText(const ServeLine& line);
