// SPDX-License-Identifier: MIT
// The main window's transfers: the Get and Put commands, the confirmation,
// the engine's messages, the timer and the status panel.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log_dlg.h"
#include "platform/core/dirlist.h"
#include "platform/core/format.h"
#include "platform/core/msgbox.h"
#include "protocol/host_address.h"
#include "protocol/netascii.h"
#include "res/resource.h"
#include "res/strings.h"
#include "transfer_dlg.h"
#include "transfer_settings.h"

namespace {

constexpr UINT_PTR kTransferTimer = 1;
// The finer clock of a transfer whose resends follow its round trip.
constexpr UINT_PTR kClockTimer = 2;

// Whether the start of the file at path looks binary (see LooksBinary).
bool FileLooksBinary(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    std::vector<BYTE> head(64 * 1024);
    const ssize_t length = ::read(fd, head.data(), head.size());
    ::close(fd);
    return length > 0 && LooksBinary(head.data(), static_cast<size_t>(length));
}

} // namespace

NumberStyle CTransferDlg::LocaleNumbers() const
{
    const QLocale locale;
    NumberStyle style;
    style.group = (locale.numberOptions() & QLocale::OmitGroupSeparator) != 0 ? std::string()
                                                                              : locale.groupSeparator().toStdString();
    style.decimal = locale.decimalPoint().toStdString();
    return style;
}

void CTransferDlg::UpdateStatus()
{
    // The table's format names four values; each now comes as a text of its
    // own: grouped as the user's locale groups numbers, the rate with its
    // unit.
    std::string format = m_strStatusFormat;
    for (const char* number : {"%lu bps", "%lu"})
        for (size_t at = format.find(number); at != std::string::npos; at = format.find(number, at))
            format.replace(at, std::strlen(number), "%s");
    const NumberStyle numbers = LocaleNumbers();
    const std::string size = m_bFileSizeKnown ? FormatCount(m_dwFileSize, numbers) : std::string();
    const std::string bytes = FormatCount(m_dwBytes, numbers);
    const std::string rate = FormatRate(m_dwRate, numbers);
    SetDlgItemText(IDC_STATUS_VALUES,
                   AfxFormatString(format.c_str(), m_strStatus.c_str(), size.c_str(), bytes.c_str(), rate.c_str()));

    // A screen reader hears each caption with its value.
    if (QWidget* values = GetDlgItem(IDC_STATUS_VALUES)) {
        const QStringList captions = QString::fromStdString(GetDlgItemText(IDC_STATUS_LABELS)).split(QLatin1Char('\n'));
        const QStringList shown = QString::fromStdString(GetDlgItemText(IDC_STATUS_VALUES)).split(QLatin1Char('\n'));
        QStringList spoken;
        for (qsizetype i = 0; i < std::min(captions.size(), shown.size()); ++i)
            spoken << captions[i] + QLatin1Char(' ') + shown[i];
        values->setAccessibleDescription(spoken.join(QStringLiteral(", ")));
    }
}

ULONGLONG CTransferDlg::GetTickCount64() const
{
    return static_cast<ULONGLONG>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

CTFTPSession* CTransferDlg::CreateSession()
{
    return new CTFTPSession(m_pNotifyWnd);
}

void CTransferDlg::OnGet()
{
    m_nDirection = DIRECTION_GET;
    StartTransfer(DIRECTION_GET);
    UpdateButtons();
}

void CTransferDlg::OnPut()
{
    m_nDirection = DIRECTION_PUT;
    StartTransfer(DIRECTION_PUT);
    UpdateButtons();
}

void CTransferDlg::OnModeAscii()
{
    m_nMode = MODE_ASCII;
}

void CTransferDlg::OnModeBinary()
{
    m_nMode = MODE_BINARY;
}

void CTransferDlg::StartTransfer(WORD wDirection)
{
    m_nTimerID = 0;

    // The typed texts, at most TFTP_MAX_NAME bytes each. A Put without a remote name
    // keeps the local file's name.
    const std::string host = AfxBoundedText(GetDlgItemText(IDC_REMOTE_HOST), TFTP_MAX_NAME);
    std::string remote = AfxBoundedText(GetDlgItemText(IDC_REMOTE_FILE), TFTP_MAX_NAME);
    if (remote.empty())
        remote = AfxBoundedText(m_strLocalPath.substr(m_strLocalPath.rfind('/') + 1), TFTP_MAX_NAME);

    // A Get stores the remote name's last component in the directory shown.
    // A name without one, or a host in none of the forms, is refused before
    // anything is asked or sent.
    const TftpRequestCheck request = CheckRequest(host.c_str(), remote.c_str(), wDirection);
    if (!request.Ok()) {
        AfxMessageBox(request.strMessage, MB_OK);
        return;
    }

    // The directory keeps its case: on this file system another case is
    // another directory. User and server text only ever go in as arguments.
    const std::string directory = AfxGetCurrentDirectory();
    const char* mode = m_nMode == MODE_ASCII ? "ASCII" : "Binary";
    std::string confirmation =
        wDirection == DIRECTION_GET
            ? AfxFormatString(AfxFindString(IDS_CONFIRM_GET), remote.c_str(), host.c_str(), directory.c_str(), mode)
            : AfxFormatString(AfxFindString(IDS_CONFIRM_PUT), m_strLocalPath.c_str(), host.c_str(), remote.c_str(),
                              mode);
    // Ascii mode keeps only text: a binary file would arrive changed.
    if (wDirection == DIRECTION_PUT && m_nMode == MODE_ASCII && FileLooksBinary(m_strLocalPath))
        confirmation += "\n\n" + AfxLoadString(IDS_LOOKS_BINARY);
    if (AfxMessageBox(confirmation, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    if (wDirection == DIRECTION_GET && ::access(request.strLocalName.c_str(), F_OK) == 0 &&
        AfxMessageBox(IDS_OVERWRITE, MB_OKCANCEL) != IDOK)
        return;

    RememberNames(host, AfxBoundedText(GetDlgItemText(IDC_REMOTE_FILE), TFTP_MAX_NAME));
    m_transferHost = request.host;
    m_strReceivedPath = wDirection == DIRECTION_GET
                            ? directory + (directory.ends_with('/') ? "" : "/") + request.strLocalName
                            : std::string();

    SetDlgItemText(IDC_STATUS_LABELS, AfxLoadString(wDirection == DIRECTION_GET ? IDS_GET_CAPTIONS : IDS_PUT_CAPTIONS));
    m_dwRate = 0;
    m_dwBytes = 0;
    m_nProgressSteps = 0;
    // A Get's size is the server's, unknown until it tells.
    if (wDirection == DIRECTION_GET) {
        m_dwFileSize = 0;
        m_bFileSizeKnown = FALSE;
    }
    m_bGetProgress = FALSE;
    m_meter.Start(GetTickCount64());
    ShowProgress();

    // The button that started the transfer is disabled while it runs: the
    // focus waits in Remote File, never on Exit, and comes back at the end.
    QWidget* focus = GetSafeHwnd()->focusWidget();
    m_nStartedFrom = wDirection == DIRECTION_GET ? IDC_GET : IDC_PUT;
    if (focus == GetDlgItem(IDC_GET) || focus == GetDlgItem(IDC_PUT))
        GetDlgItem(IDC_REMOTE_FILE)->setFocus();

    m_pSession.reset(CreateSession());
    m_pSession->SetLog(g_pLogDlg);
    m_pSession->SetClock([this] { return GetTickCount64(); });
    // Plain RFC 1350 unless the user has turned options on.
    const TftpOptions options = AfxLoadTransferSettings(g_pLogDlg).RequestOptions();
    m_pSession->SetOptions(options);
    // A transfer with options may be timed by its round trip (Clocked).
    if (options.Any())
        (void)SetTimer(kClockTimer, TFTP_CLOCK_MS);
    m_nTimerID = SetTimer(kTransferTimer, TFTP_TICK_MS);

    // The session has told the user why when it cannot start.
    if (!m_pSession->Start(request, m_strLocalPath.c_str(), m_nMode))
        EndTransfer(IDS_FAILED);
}

void CTransferDlg::OnAbort()
{
    EndTransfer(IDS_ABORTED);
}

void CTransferDlg::EndTransfer(UINT nIDHow)
{
    const bool wasBusy = IsBusy();
    if (m_nTimerID != 0)
        KillTimer(m_nTimerID);
    KillTimer(kClockTimer);
    m_pSession.reset();
    // A second end of one transfer (a late message) changes nothing.
    if (wasBusy) {
        m_strStatus = AfxLoadString(nIDHow);
        // One line for every end, with the figures the panel keeps.
        const ULONGLONG ms = m_meter.ElapsedMs(GetTickCount64());
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%llu.%03llu", static_cast<unsigned long long>(ms / 1000),
                      static_cast<unsigned long long>(ms % 1000));
        const char* how = nIDHow == IDS_COMPLETE ? "complete" : nIDHow == IDS_ABORTED ? "aborted" : "failed";
        Log(std::string("Transfer ") + how + ": " + std::to_string(m_dwBytes) + " bytes in " + seconds + " s, " +
            std::to_string(m_dwRate) + " bps");
        // A finished Get is as large as what arrived.
        if (nIDHow == IDS_COMPLETE && m_nDirection == DIRECTION_GET) {
            m_dwFileSize = m_dwBytes;
            m_bFileSizeKnown = TRUE;
        }
        if (nIDHow == IDS_COMPLETE)
            m_meter.Advance(m_nProgressSteps);
        m_nProgressSteps = 0;
    }
    ShowProgress();
    UpdateStatus();
    UpdateButtons();
    if (!wasBusy)
        return;

    // The focus goes back to the button that started the transfer when it
    // waited in Remote File or fell on a button, never to Exit.
    QWidget* focus = GetSafeHwnd()->focusWidget();
    if (focus == nullptr || focus == GetDlgItem(IDC_REMOTE_FILE) || qobject_cast<QPushButton*>(focus) != nullptr) {
        QWidget* back = IsWindowEnabled(m_nStartedFrom) ? GetDlgItem(m_nStartedFrom) : GetDlgItem(IDC_REMOTE_FILE);
        if (back != nullptr)
            back->setFocus();
    }
    // Someone working in another window learns that it is over.
    if (!GetSafeHwnd()->isActiveWindow())
        QApplication::alert(GetSafeHwnd());
}

void CTransferDlg::ShowProgress()
{
    auto* bar = qobject_cast<QProgressBar*>(GetDlgItem(IDC_PROGRESS));
    if (bar == nullptr)
        return;
    const bool measured = IsBusy() ? m_nDirection == DIRECTION_PUT || m_bGetProgress : m_meter.BarValue() > 0;
    bar->setRange(0, m_meter.BarMaximum());
    bar->setValue(measured ? m_meter.BarValue() : 0);
    const std::optional<int> percent = measured ? m_meter.Percent(m_dwBytes) : std::nullopt;
    const std::optional<ULONGLONG> left =
        percent.has_value() && IsBusy() ? m_meter.SecondsLeft(m_dwBytes, GetTickCount64()) : std::nullopt;
    bar->setTextVisible(percent.has_value());
    bar->setFormat(left.has_value() ? QString::fromStdString(AfxFormatString(AfxFindString(IDS_PROGRESS_LEFT), *percent,
                                                                             FormatDuration(*left).c_str()))
                                    : QStringLiteral("%1%").arg(percent.value_or(0)));
}

void CTransferDlg::OnTimer(UINT_PTR nIDEvent)
{
    // A tick queued before the transfer ended.
    if (!IsBusy()) {
        KillTimer(nIDEvent);
        return;
    }
    if (nIDEvent == kClockTimer) {
        // A transfer that moved data without the clock (the server ignored
        // the options, or refused them) never takes it up again.
        if (!m_pSession->Clocked() && m_dwBytes > 0)
            KillTimer(kClockTimer);
        else
            m_pSession->OnClock();
        return;
    }
    if (++m_nTimerTicks > 1) {
        m_dwRate = m_meter.Rate(m_dwBytes, GetTickCount64());
        if (m_nDirection == DIRECTION_PUT || m_bGetProgress) {
            m_meter.Advance(m_nProgressSteps);
            m_nProgressSteps = 0;
        }
        ShowProgress();
        UpdateStatus();
        m_nTimerTicks = 0;
    }
    m_pSession->OnTick();
}

LRESULT CTransferDlg::OnTftpProgress(WPARAM, LPARAM lParam)
{
    if (!IsBusy())
        return 1;
    m_dwBytes += static_cast<ULONGLONG>(lParam);
    ++m_nProgressSteps;
    return 1;
}

LRESULT CTransferDlg::OnTftpComplete(WPARAM, LPARAM)
{
    if (IsBusy())
        m_dwRate = m_meter.Rate(m_dwBytes, GetTickCount64());
    const bool got = IsBusy() && m_nDirection == DIRECTION_GET;
    EndTransfer(IDS_COMPLETE);
    if (got)
        ShowReceivedFile();
    return 1;
}

LRESULT CTransferDlg::OnTftpOptions(WPARAM, LPARAM)
{
    if (!IsBusy())
        return 1;
    // The blocks are of the granted size. A Get learns the file's size from
    // the server: advisory, for the panel and the bar only.
    const TftpGranted& granted = m_pSession->Granted();
    if (m_nDirection == DIRECTION_GET && granted.bFileSize) {
        m_dwFileSize = granted.nFileSize;
        m_bFileSizeKnown = TRUE;
        m_bGetProgress = TRUE;
    }
    if (m_nDirection == DIRECTION_PUT || m_bGetProgress)
        m_meter.SetRange(m_dwFileSize, granted.nBlockSize);
    ShowProgress();
    UpdateStatus();
    return 1;
}

LRESULT CTransferDlg::OnTftpStarted(WPARAM, LPARAM)
{
    // Queued by a transfer that has ended since: its end stands.
    if (!IsBusy())
        return 1;
    m_strStatus = AfxLoadString(m_nDirection == DIRECTION_PUT ? IDS_TRANSMITTING : IDS_RECEIVING);
    m_meter.Start(GetTickCount64());
    if (m_nDirection == DIRECTION_PUT)
        m_meter.SetRange(m_dwFileSize, TFTP_BLOCK_SIZE);
    ShowProgress();
    UpdateStatus();
    return 1;
}

LRESULT CTransferDlg::OnTftpFailed(WPARAM, LPARAM)
{
    EndTransfer(IDS_FAILED);
    return 1;
}

LRESULT CTransferDlg::OnTftpTimeout(WPARAM, LPARAM)
{
    // Where no answer came from, and what to look at.
    std::string text = AfxLoadString(IDS_SESSION_TIMEOUT);
    const HostText& where = m_transferHost;
    if (IsBusy())
        text +=
            "\n\n" + AfxFormatString(AfxFindString(IDS_TIMEOUT_WHERE), where.host.c_str(), where.nPort, where.nPort);
    if (IsBusy())
        Log(ErrorLogLine(text));
    EndTransfer(IDS_FAILED);
    AfxMessageBox(text, MB_OK);
    return 1;
}

LRESULT CTransferDlg::OnTftpResolving(WPARAM, LPARAM)
{
    // Queued by a transfer that has ended since: its end stands.
    if (!IsBusy())
        return 1;
    m_strStatus = AfxLoadString(IDS_RESOLVING);
    UpdateStatus();
    return 1;
}

LRESULT CTransferDlg::OnTftpRequestSent(WPARAM, LPARAM)
{
    // Queued by a transfer that has ended since: its end stands.
    if (!IsBusy())
        return 1;
    m_strStatus = AfxLoadString(IDS_STARTING);
    UpdateStatus();
    return 1;
}
