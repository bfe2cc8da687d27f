// SPDX-License-Identifier: MIT
// The main window: local directory browsing, the remote host and file, and
// the transfer controls with their status panel.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include <QIcon>

#include "client/session.h"
#include "command_line.h"
#include "platform/qt/controls.h"
#include "platform/qt/dialog.h"
#include "remembered_state.h"
#include "transfer_meter.h"

class CTransferDlg : public CDialog {
public:
    explicit CTransferDlg(CWnd* pParent = nullptr);
    ~CTransferDlg() override;

    // What the command line asks: the boxes' texts, a file chosen for a Put,
    // and a transfer to start once the window is up. Before Create or DoModal.
    void SetStartup(const CommandLine& line) { m_startup = line; }

    // Enables Get, Put and Abort from the window's state.
    void UpdateButtons();
    // Shows the status word, file size, bytes moved and rate in the panel.
    // (Virtual so that a test can watch the status words go by.)
    virtual void UpdateStatus();
    // Enter starts no Put unless "-->" itself has the focus: in the remote
    // boxes it starts the Get they imply, elsewhere it does nothing.
    BOOL PreTranslateKey(QKeyEvent& key) override;

protected:
    BOOL OnInitDialog() override;
    // Exit, Escape and closing the window: during a transfer only after a Yes.
    void OnOK() override;
    void OnCancel() override;

    // A monotonic clock in milliseconds; a test sets its own.
    virtual ULONGLONG GetTickCount64() const;
    // The transfer object of a Get or Put.
    virtual CTFTPSession* CreateSession();

    void OnGet();
    void OnPut();
    void OnModeAscii();
    void OnModeBinary();
    // Asks, then starts a transfer; see the confirmation and overwrite prompts.
    void StartTransfer(WORD wDirection);
    // The Abort button: the transfer ends at once, the server is not told.
    void OnAbort();
    // The end of every transfer: Abort, completion, failure, timeout and a
    // failed start. The status word says how it ended (string nIDHow) and the
    // panel keeps the figures of the last transfer until the next one starts
    // or a file is chosen.
    void EndTransfer(UINT nIDHow);
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnTftpProgress(WPARAM wParam, LPARAM lParam);
    LRESULT OnTftpComplete(WPARAM wParam, LPARAM lParam);
    LRESULT OnTftpStarted(WPARAM wParam, LPARAM lParam);
    LRESULT OnTftpFailed(WPARAM wParam, LPARAM lParam);
    LRESULT OnTftpTimeout(WPARAM wParam, LPARAM lParam);
    LRESULT OnTftpRequestSent(WPARAM wParam, LPARAM lParam);
    LRESULT OnTftpResolving(WPARAM wParam, LPARAM lParam);
    // The server granted options: the block size, and for a Get the file's size.
    LRESULT OnTftpOptions(WPARAM wParam, LPARAM lParam);

    void OnDestroy();
    void ApplyStartup();
    // Both lists and the path line show the current directory.
    void ListCurrentDirectory();
    // Makes the directory of path the current one and chooses the file for a
    // Put; false when the file is not in the list.
    bool ChooseLocalFile(const std::string& path);
    // After a Get: the file list shows the new file, chosen, when the
    // directory shown is the one it went to; else the file chosen before
    // stays chosen. Neither is a choice of the user's: the panel keeps the
    // Get's end and figures.
    void ShowReceivedFile();
    // A transfer's host and remote name go first in the remembered lists.
    void RememberNames(const std::string& host, const std::string& remote);
    // Forgets a name removed from a completion list.
    void ForgetName(int nID, const std::string& name);
    void SaveRememberedState();
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnSelchangeFileList();
    void OnDblclkDirList();
    void OnUpdateRemoteFile();
    void OnUpdateRemoteHost();
    void OnMenuButton();

    CWnd* m_pNotifyWnd;
    CToolTipCtrl m_ToolTip;
    // The running transfer, if any: the window is busy exactly while it
    // exists. Reset ends it (deletion waits for a call of its own to return).
    std::unique_ptr<CTFTPSession, CTFTPSocketDeleter> m_pSession;
    BOOL m_bHostEntered;
    BOOL m_bRemoteFileEntered;
    BOOL m_bLocalFileSelected;
    // Sizes, counts and rates are 64-bit: files past 4 GiB show true figures.
    // During a Get the size is the server's, shown only once it is known.
    ULONGLONG m_dwFileSize;
    BOOL m_bFileSizeKnown = TRUE;
    ULONGLONG m_dwRate;
    ULONGLONG m_dwBytes;
    std::string m_strLocalPath;
    std::string m_strStatus;
    QIcon m_hIcon;
    WORD m_nDirection;
    WORD m_nMode;
    ULONGLONG m_nProgressSteps;
    int m_nTimerTicks;
    CommandLine m_startup;
    RememberedState m_remembered;
    UINT_PTR m_nTimerID;
    std::string m_strStatusFormat;

    // The directory lists' path pattern; the list calls may rewrite it.
    char m_szPathSpec[1024];
    // The bar, the rate and the time left of the running or last transfer.
    CTransferMeter m_meter;
    // A Get whose size the server told: its bar moves as a Put's does.
    BOOL m_bGetProgress = FALSE;
    // The host of the running transfer, for the timeout's message.
    HostText m_transferHost;
    // The full path a Get stores to; empty for a Put.
    std::string m_strReceivedPath;
    // The control that started the transfer gets the focus back at its end.
    int m_nStartedFrom = 0;

    bool IsBusy() const { return m_pSession != nullptr; }

    // The bar from the meter: its range, position and text.
    void ShowProgress();

private:
    // The steps of OnInitDialog, in its order.
    // The panel's figures and the choices as a new window has them.
    void ResetFigures();
    // The directory, place and names of the last run (the command line wins
    // over them later).
    void RestoreRememberedState();
    // Names for screen readers, before any control shows a value.
    void NameControls();
    // The hidden log window, which takes the settings' warnings first.
    void CreateLogWindow();
    void AddToolTips();
    // A file dropped on the window or its lists is chosen for a Put.
    void AcceptFileDrops();
    // Tab goes as the eye does; the typing starts in Remote File.
    void SetTabOrder();
    // The window's own menu: its items, and their keys in the main and the
    // log window.
    void SetUpSystemMenu();
    // The Serve window, made on first use, shown and brought to the front.
    // Made for --serve (bRemembers false), it never reads or writes the
    // settings file's [Serve] group.
    class CServeDlg* ShowServeWindow(bool bRemembers = true);
    void AddMenuKeys();
    // Shows or hides the log window; the typing stays in pTyping (the main
    // window when null).
    void ToggleLogWindow(QWidget* pTyping = nullptr);
    void Log(const std::string& line);
    NumberStyle LocaleNumbers() const;

    DECLARE_MESSAGE_MAP()
};
