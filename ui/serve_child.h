// SPDX-License-Identifier: MIT
// tarnwick-serve run as a child of the window: its arguments for the Serve
// window's choices, where the program is found, and the process itself,
// whose standard output is read line by line.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transfer_settings.h"

class QProcess;

// tarnwick-serve beside this program, then where an installation puts it
// (its libexec, then its bindir); else the bare name, for the PATH.
std::string AfxFindServeProgram();

// The command line for settings: the folder, what is allowed and the limits,
// and --log-format json. The listen address goes as it is typed; the child
// says when it is not an address.
std::vector<std::string> ServeArguments(const ServeSettings& settings);

class CServeChild {
public:
    // A line of standard output, without its newline; at most kServeLineMost
    // bytes (a longer one is dropped).
    using LineHandler = std::function<void(std::string_view line)>;
    // The child has ended: its exit status, or the signal that killed it
    // (status -1); nSignal 0 for a normal exit. Also when it could not be
    // run at all: status -1, nSignal 0, and why in strError.
    using EndHandler = std::function<void(int nStatus, int nSignal, const std::string& strError)>;

    CServeChild(LineHandler onLine, EndHandler onEnd);
    // A child still running is sent SIGTERM and waited for a few seconds
    // (it tells its clients and removes partial uploads), then killed.
    ~CServeChild();
    CServeChild(const CServeChild&) = delete;
    CServeChild& operator=(const CServeChild&) = delete;

    // Runs program with arguments; its standard input is closed, and it
    // gets SIGTERM should this process end first.
    void Start(const std::string& program, const std::vector<std::string>& arguments);
    // SIGTERM: the child ends every transfer and exits with status 0.
    void Stop();
    bool Running() const;
    // The last line the child wrote on standard error (a mistake in its
    // command line), bounded.
    const std::string& LastErrorLine() const { return m_lastError; }

private:
    void ReadOutput();
    void ReadErrors();

    std::unique_ptr<QProcess> m_pProcess;
    LineHandler m_onLine;
    EndHandler m_onEnd;
    std::string m_pending;    // a line not yet ended by its newline
    bool m_bSkipping = false; // within a line too long to keep
    std::string m_lastError;
    bool m_bEnded = false;
};
