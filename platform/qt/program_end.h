// SPDX-License-Identifier: MIT
// The program's end, however it comes: Exit, the window manager's Close, a
// signal, or the main window destroyed from outside.
#pragma once

#include <memory>

// Ends the program as Exit does: open menus and boxes are closed, no new box
// is shown, and the main window ends its modal run, whose clean-up (the
// running transfer aborted, its temporary file removed) follows as usual.
// Runs on the window's thread only.
void AfxEndProgram();

// Whether AfxEndProgram has run.
bool AfxIsProgramEnding();

// For its lifetime, SIGTERM, SIGINT and SIGHUP, and the main window's
// destruction by another X client, call AfxEndProgram from the event loop.
// The signal handler only writes the signal's number to a pipe.
class CProgramEndWatcher {
public:
    CProgramEndWatcher();
    ~CProgramEndWatcher();
    CProgramEndWatcher(const CProgramEndWatcher&) = delete;
    CProgramEndWatcher& operator=(const CProgramEndWatcher&) = delete;

    // The signal that ended the program; 0 when none did.
    int EndSignal() const;

private:
    class CImpl;
    std::unique_ptr<CImpl> m_pImpl;
};
