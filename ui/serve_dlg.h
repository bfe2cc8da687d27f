// SPDX-License-Identifier: MIT
// The Serve window: a folder served by TFTP, the addresses to give a device,
// and every transfer in sight. The server is tarnwick-serve, run as a child
// whose lines (--log-format json) make the rows, the status and the log;
// this process opens no serving socket. The window lives beside the main
// window, which keeps working; closing it leaves the child serving. It can
// be made larger than its template: the transfers' list takes the room.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/qt/dialog.h"
#include "server/server.h"
#include "transfer_settings.h"

class CServeChild;
class QListWidget;
struct ServeLine;

// The columns of the transfers' list.
enum ServeColumn { kClient, kFile, kDirection, kOptions, kBytes, kProgress, kRate, kResends, kState, kColumns };

class CServeDlg : public CDialog {
public:
    // bRemembers: the window starts from the settings file's [Serve] group
    // and saves its choices there, and its size and column widths (keys
    // Width, Height, ColumnWidths) when it is hidden or closed (the window of
    // the menu). Otherwise (the window of --serve) it starts from the
    // built-in defaults and never reads or writes [Serve].
    explicit CServeDlg(CWnd* pParent = nullptr, bool bRemembers = true);
    // A child still serving is stopped, and waited for.
    ~CServeDlg() override;

    // Shows the choices; with bStart, serving starts at once.
    void Apply(const ServeSettings& settings, bool bStart);
    // Where the server's lines go besides the log window (standard output,
    // when started from the command line); null for none. The first line of
    // a start names the folder, every address and port listened on, and
    // what is allowed.
    void SetEcho(ITransferLog* pEcho) { m_pEcho = pEcho; }
    // The program run to serve; AfxFindServeProgram's unless set.
    void SetServeProgram(std::string program) { m_program = std::move(program); }
    // Called whenever serving starts or stops (the main window's line).
    void SetOnServingChanged(std::function<void()> changed) { m_onServingChanged = std::move(changed); }

    // From Start until the child has ended.
    bool IsServing() const { return m_phase != Phase::idle; }
    bool HasRunningTransfers() const;
    // "Serving /srv/tftp on port 69" while the child serves; empty otherwise.
    std::string ServingSummary() const;
    // Stops serving (SIGTERM to the child); asks first when transfers run
    // and bAsk. False when the user said No. The child's end comes later.
    bool StopServing(bool bAsk);

protected:
    BOOL OnInitDialog() override;
    // Escape, Close and the close box hide the window; serving goes on.
    void OnCancel() override;
    void OnOK() override;
    // The time the rows' rates are measured by; a test sets its own.
    virtual ULONGLONG NowMs() const;

    void OnStart();
    void OnBrowse();
    void OnPolicy();
    void OnCopy();
    void OnCopyHint();
    void OnClear();
    void OnUse6969();
    void OnNetboot();
    void OnCopyIpxe();
    void OnWriteScript();
    void OnTimer(UINT_PTR nIDEvent);
    void OnDestroy();

    // One line of the child's standard output, and its end.
    void OnChildLine(std::string_view text);
    void OnChildEnded(int nStatus, int nSignal, const std::string& error);
    void OnRow(const ServeLine& line);
    void Say(const std::string& line);

    // Greys what cannot change while serving, and the kinds of upload
    // without uploads.
    void UpdateControls();
    void UpdateStatus();
    // The rows as the child told them, newest first: at most ten times a
    // second. (Virtual so that a test can count the redraws.)
    virtual void ShowRows();
    ServeSettings ReadControls() const;
    void ListAddresses();
    // The Network boot box: it follows the Listen box, and is never kept.
    void SetUpNetboot();
    void UpdateNetboot();
    // The buttons that put iPXE's files and a starter script in the folder:
    // shown with Network boot ticked, while the folder lacks them.
    void UpdateBootFiles();
    // With Network boot ticked, the firewall's commands below the addresses.
    void ListNetbootHints(QListWidget* list);
    // The child's command line: settings', and network boot's when ticked.
    std::vector<std::string> StartArguments(const ServeSettings& settings) const;
    // What a refused or failed row says, with the advice that applies.
    std::string RowReason(const ServeRow& row, const std::string& client);
    // What a read refused as not found or not allowed adds: that the name is
    // a folder, or the name that exists but for case. Empty: nothing.
    std::string NameHint(const ServeRow& row);

    // The list's columns and what [Serve] kept of the window's size and them.
    void SetUpView();
    void SaveView() const;
    // "3 transfers running, 41 done, 2 refused", as the list has them.
    void ShowCount();

    static constexpr UINT_PTR kRowsTimer = 2; // the list, at most ten times a second
    static constexpr UINT kRowsMs = 100;
    static constexpr UINT kFallbackPort = 6969; // the port that needs no privilege

    enum class Phase { idle, starting, serving, stopping };
    // A row as the child told it, in the run (a start of a child) it
    // belongs to: each child counts its ids from 1.
    struct ShownRow {
        ServeRow row;
        std::string client; // "192.0.2.7:49152"; a boot's MAC
        enum class Kind { tftp, http, boot } kind = Kind::tftp;
    };
    // A boot's row: its file, and its architecture in place of the options.
    // Boots have no id of the child's: theirs count from kBootIds.
    void OnBoot(const ServeLine& line);
    static constexpr unsigned kBootIds = 0x80000000U;
    unsigned m_nBoots = 0;
    using RowKey = std::pair<unsigned, unsigned>; // run, id

    std::unique_ptr<CServeChild> m_pChild;
    Phase m_phase = Phase::idle;
    unsigned m_nRun = 0;
    bool m_bRestart = false; // started again once the child has ended (a box changed)
    std::string m_lastLine;  // the child's last message, for when it dies
    std::string m_program;
    std::map<RowKey, ShownRow> m_rows; // oldest first
    ServeSettings m_settings;          // as last started or applied
    const bool m_bRemembers;
    ITransferLog* m_pEcho = nullptr;
    std::function<void()> m_onServingChanged;
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
