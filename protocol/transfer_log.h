// SPDX-License-Identifier: MIT
// Where a transfer tells what happens to it: one line per event (request,
// lock-in, resend, error, timeout), never one per block.
#pragma once

#include <string>
#include <string_view>

class ITransferLog {
public:
    virtual ~ITransferLog() = default;
    virtual void LogLine(std::string_view line) = 0;
};

// The log's line for an error shown to the user: its text on one line.
std::string ErrorLogLine(std::string_view text);

// Untrusted bytes (a requested name, a client's ERROR text) made fit for one
// line of the log: printable ASCII as it is (a backslash too), every other
// byte as \xNN, so that nothing in it acts on a terminal or a format. Longer
// than nLimit bytes of input: cut, and "..." follows.
std::string EscapedText(std::string_view text, size_t nLimit = 200);
