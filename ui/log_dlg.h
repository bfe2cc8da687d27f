// SPDX-License-Identifier: MIT
// The log window: one line per transfer event, below the main window.
#pragma once

#include <string_view>

#include "platform/qt/dialog.h"
#include "protocol/transfer_log.h"

class QListWidget;

class CLogDlg : public CDialog, public ITransferLog {
public:
    // The most lines kept; the oldest go first.
    static constexpr int kMaxLines = 2000;

    explicit CLogDlg(CWnd* pParent = nullptr);
    ~CLogDlg() override;

    // Lines are chosen as in a file manager; Ctrl+C copies the chosen lines,
    // Ctrl+A chooses all, and the list's context menu offers Copy, Select
    // All and Clear.
    BOOL OnInitDialog() override;
    // Removes every line.
    void ClearLog();
    // Keeps the line, stamped with the time of day, whether the window is
    // shown or not; the text is shown as it is, as plain text.
    void LogLine(std::string_view line) override;
    // Puts the chosen lines on the clipboard as plain text, one a line.
    void CopySelection();

    DECLARE_MESSAGE_MAP()

private:
    QListWidget* List() const;
};

// The one log window, created hidden by the main window and deleted with it.
extern CLogDlg* g_pLogDlg;
// TRUE from the toggle that shows the log window until the one that hides it.
extern BOOL g_bLogVisible;
