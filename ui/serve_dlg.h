// SPDX-License-Identifier: MIT
// The Serve window: a folder served by TFTP, the addresses to give a device,
// and every transfer in sight. It lives beside the main window, which keeps
// working; closing it stops serving. It can be made larger than its
// template: the transfers' list takes the room.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/qt/dialog.h"
#include "server/server.h"
#include "transfer_settings.h"

// The columns of the transfers' list.
enum ServeColumn { kClient, kFile, kDirection, kOptions, kBytes, kProgress, kRate, kResends, kState, kColumns };

class CServeDlg : public CDialog {
public:
    // bRemembers: the window starts from the settings file's [Serve] group
    // and saves its choices there, and its size and column widths (keys
    // Width, Height, ColumnWidths) when it is hidden or closed (the window of
    // the menu). Otherwise (the
    // window of --serve) it starts from the built-in defaults and never
    // reads or writes [Serve].
    explicit CServeDlg(CWnd* pParent = nullptr, bool bRemembers = true);
    ~CServeDlg() override;

    // Shows the choices; with bStart, serving starts at once.
    void Apply(const ServeSettings& settings, bool bStart);
    // Where the server's lines go besides the log window (standard output,
    // when started from the command line); null for none. Each start writes
    // there first a line that names the folder, every address and port
    // listened on, and what is allowed.
    void SetEcho(ITransferLog* pEcho) { m_pEcho = pEcho; }
    bool IsServing() const { return m_pServer != nullptr && m_pServer->IsServing(); }
    bool HasRunningTransfers() const { return m_pServer != nullptr && m_pServer->Running() > 0; }
    // Stops serving; asks first when transfers run and bAsk. False when the
    // user said No.
    bool StopServing(bool bAsk);

protected:
    BOOL OnInitDialog() override;
    // Escape, Close and the close box: asks while transfers run, then stops
    // serving and hides the window.
    void OnCancel() override;
    void OnOK() override;
    // The time of the server's clock; a test sets its own.
    virtual ULONGLONG NowMs() const;

    void OnStart();
    void OnBrowse();
    void OnPolicy();
    void OnCopy();
    void OnCopyHint();
    void OnClear();
    void OnUse6969();
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnServeChanged(WPARAM wParam, LPARAM lParam);
    void OnDestroy();

    // Greys what cannot change while serving, and the kinds of upload
    // without uploads.
    void UpdateControls();
    void UpdateStatus();
    // The rows as the server has them, newest first: at most ten times a
    // second. (Virtual so that a test can count the redraws.)
    virtual void ShowRows();
    ServeSettings ReadControls() const;
    void ListAddresses();
    // What a refused or failed row says, with the advice that applies.
    std::string RowReason(const ServeRow& row);
    // What a read refused as not found or not allowed adds: that the name is
    // a folder, or the name that exists but for case. Empty: nothing.
    std::string NameHint(const ServeRow& row);

    // The list's columns and what [Serve] kept of the window's size and them.
    void SetUpView();
    void SaveView() const;
    // "3 transfers running, 41 done, 2 refused", as the list has them.
    void ShowCount();

    std::unique_ptr<CTFTPServer> m_pServer;
    ServeSettings m_settings; // as last started or applied
    const bool m_bRemembers;
    ITransferLog* m_pEcho = nullptr;
    std::unique_ptr<ITransferLog> m_pLog; // the log window, and m_pEcho
    ULONGLONG m_nStartMs = 0;
    bool m_bRowsChanged = false;
    bool m_bRequestSeen = false;
    int m_nFolderFd = -1; // the served folder, for the case hint
    // The hint of each name refused as not found or not allowed, looked for
    // once per name and reason and kept only while a row shows that name.
    std::map<std::pair<ServeReason, std::string>, std::string> m_hints;

    DECLARE_MESSAGE_MAP()
};

// The one Serve window, made by the main window when it is first asked for
// and deleted with it.
extern CServeDlg* g_pServeDlg;
