// SPDX-License-Identifier: MIT
// The log window: one line per transfer event, below the main window.
#pragma once

#include <string>
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
    // All and Clear. The window can be resized: the list takes the room, Save
    // stays at the bottom right.
    BOOL OnInitDialog() override;
    // Removes every line.
    void ClearLog();
    // Keeps the line, stamped with the time of day, whether the window is
    // shown or not; the text is shown as it is, as plain text.
    void LogLine(std::string_view line) override;
    // Puts the chosen lines on the clipboard as plain text, one a line.
    void CopySelection();
    // Writes every line as the list shows it, its time first, to the file at
    // path: UTF-8 text, one line of the file for each line of the list (a
    // control character in it is written as a space), each ended by a line
    // feed. An existing file is replaced only by the whole log. Returns 0, or
    // the errno of the failure, and then the file is as it was.
    int SaveLog(const std::string& path) const;
    // Shows the window with its top edge on the bottom edge of frame (the
    // main window's), as wide as it and 180 pixels high the first time, and
    // afterwards at the size it was last given.
    void ShowBelow(const QRect& frame);

    DECLARE_MESSAGE_MAP()

protected:
    // The Save... button: asks for a file and writes the log there; a failure
    // is told in a message box, with the system's reason.
    void OnSave();
    // The file the user names for the log, or empty when the user cancels.
    virtual std::string AskSaveName();

private:
    QListWidget* List() const;
    // Any size from a small minimum up: the template's size is only where it starts.
    void MakeResizable();
    bool m_bPlaced = false;
};

// The one log window, created hidden by the main window and deleted with it.
extern CLogDlg* g_pLogDlg;
// TRUE from the toggle that shows the log window until the one that hides it.
extern BOOL g_bLogVisible;
