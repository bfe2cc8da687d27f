// SPDX-License-Identifier: MIT
// The log window: one line per transfer event, below the main window.
#pragma once

#include <string_view>

#include "engine/transfer_log.h"
#include "platform/qt/dialog.h"

class CLogDlg : public CDialog, public ITransferLog {
public:
    explicit CLogDlg(CWnd* pParent = nullptr);
    ~CLogDlg() override;

    // Removes every line.
    void ClearLog();
    // Adds a line, stamped with the time of day, while the window is shown;
    // the text is shown as it is, as plain text.
    void LogLine(std::string_view line) override;

    DECLARE_MESSAGE_MAP()
};

// The one log window, created hidden by the main window and deleted with it.
extern CLogDlg* g_pLogDlg;
// TRUE from the toggle that shows the log window until the one that hides it.
extern BOOL g_bLogVisible;
