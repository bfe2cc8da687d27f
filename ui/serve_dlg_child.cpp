// SPDX-License-Identifier: MIT
// The Serve window and its child: each line of tarnwick-serve becomes a row,
// a status or a line of the log, and the child's end is told.
#include <QDialog>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <utility>

#include "log_dlg.h"
#include "platform/core/format.h"
#include "platform/core/msgbox.h"
#include "res/resource.h"
#include "res/strings.h"
#include "serve_child.h"
#include "serve_dlg.h"
#include "serve_lines.h"

namespace {

// "killed by signal 9", "status 3".
std::string HowItEnded(int nStatus, int nSignal)
{
    if (nSignal != 0)
        return "killed by signal " + std::to_string(nSignal);
    return "status " + std::to_string(nStatus);
}

} // namespace

void CServeDlg::Say(const std::string& line)
{
    if (g_pLogDlg != nullptr)
        g_pLogDlg->LogLine(line);
    if (m_pEcho != nullptr)
        m_pEcho->LogLine(line);
}

void CServeDlg::OnChildLine(std::string_view text)
{
    const std::optional<ServeLine> line = ParseServeLine(text);
    if (!line)
        return;
    if (line->kind == ServeLine::Kind::boot) {
        OnBoot(*line); // its text has come as a line of the log already
        return;
    }
    if (line->kind != ServeLine::Kind::message) {
        OnRow(*line);
        return;
    }
    // The log keeps the child's own line; the end tells it in the window's words.
    m_lastLine = line->event == "error" ? ServeMessageText(*line) : line->text;
    Say(line->text);
    if (line->event == "serving" && m_phase == Phase::starting) {
        m_phase = Phase::serving;
        m_nStartMs = NowMs();
        m_bRequestSeen = false;
        SetTimer(kRowsTimer, kRowsMs);
        UpdateControls();
        UpdateStatus();
        ListAddresses();
        if (m_onServingChanged)
            m_onServingChanged();
    }
}

void CServeDlg::OnRow(const ServeLine& line)
{
    m_bRequestSeen = true;
    m_bRowsChanged = true;
    const ULONGLONG now = NowMs();
    const auto [found, added] = m_rows.try_emplace(RowKey(m_nRun, line.row.nId));
    ShownRow& shown = found->second;
    const ULONGLONG startMs = added ? now - std::min(now, line.row.nEndMs) : shown.row.nStartMs;
    shown.row = line.row;
    shown.client = line.client;
    shown.kind = line.bHttp ? ShownRow::Kind::http : ShownRow::Kind::tftp;
    shown.row.nStartMs = startMs;
    // The child tells a row's duration; the window's clock places it.
    shown.row.nEndMs = line.kind == ServeLine::Kind::end ? startMs + line.row.nEndMs : 0;
    if (line.kind == ServeLine::Kind::end)
        shown.row.nEndMs = std::max(shown.row.nEndMs, startMs + 1);
}

void CServeDlg::OnChildEnded(int nStatus, int nSignal, const std::string& error)
{
    const Phase phase = std::exchange(m_phase, Phase::idle);
    KillTimer(kRowsTimer);
    // What the child left running it can no longer end: they end here.
    const ULONGLONG now = NowMs();
    for (auto& [key, shown] : m_rows)
        if (shown.row.state == ServeState::running) {
            shown.row.state = ServeState::failed;
            shown.row.reason = AfxLoadString(IDS_SERVE_ROW_CUT);
            shown.row.reasonCode = ServeReason::stopped;
            shown.row.nEndMs = std::max(now, shown.row.nStartMs + 1);
        }
    ShowRows();
    std::string status;
    const std::string program = m_program.empty() ? AfxFindServeProgram() : m_program;
    if (!error.empty()) {
        status = AfxFormatString(AfxFindString(IDS_SERVE_NOT_RUN), program.c_str(), error.c_str());
    } else if (phase == Phase::stopping && nSignal == 0) {
        status = AfxFormatString(AfxFindString(IDS_SERVE_ENDED), nStatus);
    } else if (phase == Phase::starting && nSignal == 0 && nStatus != 0) {
        // It could not start: its line says why and what to do (status 1), or
        // its command line was refused (status 2, on standard error).
        status = !m_lastLine.empty() ? m_lastLine : m_pChild->LastErrorLine();
        if (status.empty())
            status = AfxFormatString(AfxFindString(IDS_SERVE_ENDED), nStatus);
        // The way out that needs no administrator: another port.
        EnableWindow(IDC_SERVE_USE_6969, m_settings.nPort != static_cast<int>(kFallbackPort));
    } else {
        status = AfxFormatString(AfxFindString(IDS_SERVE_DIED), HowItEnded(nStatus, nSignal).c_str(),
                                 (m_lastLine.empty() ? m_pChild->LastErrorLine() : m_lastLine).c_str());
    }
    if (m_nFolderFd >= 0)
        ::close(m_nFolderFd);
    m_nFolderFd = -1;
    const bool restart = std::exchange(m_bRestart, false) && phase == Phase::stopping && nSignal == 0;
    // The first paragraph; the message box has the rest, and the commands.
    SetDlgItemText(IDC_SERVE_STATUS, status.substr(0, status.find("\n\n")));
    if (phase != Phase::stopping && g_pLogDlg != nullptr && status != m_lastLine)
        g_pLogDlg->LogLine(ErrorLogLine(status));
    UpdateControls();
    if (m_onServingChanged)
        m_onServingChanged();
    if (restart) {
        // Once the child's end has been handled, not from within it.
        QTimer::singleShot(0, GetSafeHwnd(), [this] {
            if (!IsServing())
                OnStart();
        });
    } else if (phase == Phase::starting && !status.empty()) {
        AfxMessageBox(status, MB_OK);
    }
}
