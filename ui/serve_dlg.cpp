// SPDX-License-Identifier: MIT
#include "serve_dlg.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QListWidget>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

#include "command_line.h"
#include "log_dlg.h"
#include "platform/core/format.h"
#include "platform/core/local_networks.h"
#include "platform/core/msgbox.h"
#include "platform/core/privileged_bind.h"
#include "protocol/host_address.h"
#include "res/resource.h"
#include "res/strings.h"
#include "serve_start.h"
#include "server/serve_names.h"
#include "transfer_meter.h"

CServeDlg* g_pServeDlg = nullptr;

BEGIN_MESSAGE_MAP(CServeDlg, CDialog)
ON_WM_DESTROY()
ON_BN_CLICKED(IDC_SERVE_START, OnStart)
ON_BN_CLICKED(IDC_SERVE_BROWSE, OnBrowse)
ON_BN_CLICKED(IDC_SERVE_UPLOAD, OnPolicy)
ON_BN_CLICKED(IDC_SERVE_CREATE, OnPolicy)
ON_BN_CLICKED(IDC_SERVE_REPLACE, OnPolicy)
ON_BN_CLICKED(IDC_SERVE_LOCAL, OnPolicy)
ON_BN_CLICKED(IDC_SERVE_COPY, OnCopy)
ON_BN_CLICKED(IDC_SERVE_COPY_HINT, OnCopyHint)
ON_BN_CLICKED(IDC_SERVE_CLEAR, OnClear)
ON_BN_CLICKED(IDC_SERVE_USE_6969, OnUse6969)
ON_MESSAGE(WM_SERVE_CHANGED, OnServeChanged)
ON_WM_TIMER()
END_MESSAGE_MAP()

namespace {

constexpr UINT_PTR kTickTimer = 1; // the server's resends and timeouts
constexpr UINT kTickMs = 10;
constexpr UINT_PTR kRowsTimer = 2; // the list, at most ten times a second
constexpr UINT kRowsMs = 100;
constexpr ULONGLONG kFirewallHintMs = 30000;
constexpr UINT kFallbackPort = 6969;

// The server's lines go to the log window and, from the command line, to
// standard output too.
class CServeLog : public ITransferLog {
public:
    explicit CServeLog(ITransferLog** ppEcho) : m_ppEcho(ppEcho) {}
    void LogLine(std::string_view line) override
    {
        if (g_pLogDlg != nullptr)
            g_pLogDlg->LogLine(line);
        if (*m_ppEcho != nullptr)
            (*m_ppEcho)->LogLine(line);
    }

private:
    ITransferLog** m_ppEcho;
};

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

CServeDlg::CServeDlg(CWnd* pParent, bool bRemembers)
    : CDialog(IDD_SERVE, pParent), m_bRemembers(bRemembers), m_pLog(std::make_unique<CServeLog>(&m_pEcho))
{
}

CServeDlg::~CServeDlg()
{
    DestroyWindow();
}

BOOL CServeDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    auto* listen = qobject_cast<QComboBox*>(GetDlgItem(IDC_SERVE_LISTEN));
    listen->addItem(Text(AfxLoadString(IDS_SERVE_ALL_ADDRESSES)));
    for (const LocalAddress& address : AfxGetLocalAddresses(true))
        listen->addItem(Text(address.text));
    SetUpView();
    ListAddresses();
    ShowCount();
    Apply(m_bRemembers ? AfxLoadServeSettings(g_pLogDlg) : ServeSettings{}, false);
    return TRUE;
}

void CServeDlg::Apply(const ServeSettings& settings, bool bStart)
{
    m_settings = settings;
    SetDlgItemText(IDC_SERVE_FOLDER, settings.folder);
    SetDlgItemText(IDC_SERVE_LISTEN,
                   settings.listen.empty() ? AfxLoadString(IDS_SERVE_ALL_ADDRESSES) : settings.listen);
    SetDlgItemText(IDC_SERVE_PORT, std::to_string(settings.nPort));
    CheckDlgButton(IDC_SERVE_UPLOAD, settings.bAllowUpload);
    CheckDlgButton(IDC_SERVE_CREATE, settings.bAllowCreate);
    CheckDlgButton(IDC_SERVE_REPLACE, settings.bReplaceExisting);
    CheckDlgButton(IDC_SERVE_LOCAL, settings.bLocalNetworksOnly);
    UpdateControls();
    UpdateStatus();
    if (bStart && !IsServing())
        OnStart();
}

ServeSettings CServeDlg::ReadControls() const
{
    ServeSettings settings = m_settings; // the limits: the file's, or the built-in ones
    settings.folder = GetDlgItemText(IDC_SERVE_FOLDER);
    const std::string listen = GetDlgItemText(IDC_SERVE_LISTEN);
    settings.listen = listen == AfxLoadString(IDS_SERVE_ALL_ADDRESSES) ? std::string() : listen;
    bool ok = false;
    const int port = QString::fromStdString(GetDlgItemText(IDC_SERVE_PORT)).trimmed().toInt(&ok);
    settings.nPort = ok ? port : 0;
    settings.bAllowUpload = IsDlgButtonChecked(IDC_SERVE_UPLOAD) != 0;
    settings.bAllowCreate = IsDlgButtonChecked(IDC_SERVE_CREATE) != 0;
    settings.bReplaceExisting = IsDlgButtonChecked(IDC_SERVE_REPLACE) != 0;
    settings.bLocalNetworksOnly = IsDlgButtonChecked(IDC_SERVE_LOCAL) != 0;
    return settings;
}

void CServeDlg::OnStart()
{
    if (IsServing()) {
        (void)StopServing(true);
        return;
    }
    EnableWindow(IDC_SERVE_USE_6969, FALSE);
    const ServeSettings settings = ReadControls();
    if (const std::string problem = ServeFolderProblem(settings.folder); !problem.empty()) {
        AfxMessageBox(problem, MB_OK);
        return;
    }
    if (settings.nPort < 1 || settings.nPort > 65535) {
        AfxMessageBox(IDS_SERVE_BAD_PORT, MB_OK);
        return;
    }
    const std::optional<ServeConfig> config = ServeConfigOf(settings);
    if (!config) {
        AfxMessageBox(AfxFormatString(AfxFindString(IDS_SERVE_ADDRESS_NOT_LOCAL), settings.listen.c_str()), MB_OK);
        return;
    }
    m_settings = settings;
    if (m_bRemembers)
        AfxSaveServeSettings(settings);

    // Port 69 by the privileged helper when this program may not bind it; a
    // refusal through the helper is kept for the message, which says why.
    BindResult refused;
    const CTFTPServer::Binder binder = [&refused](const sockaddr_storage& address) {
        BindResult bound =
            AfxBindUdpPort(reinterpret_cast<const sockaddr*>(&address), static_cast<socklen_t>(AddressLength(address)));
        if (bound.outcome == BindOutcome::Bound)
            return bound.fd;
        const int error = bound.outcome == BindOutcome::InUse          ? EADDRINUSE
                          : bound.outcome == BindOutcome::NotPermitted ? EACCES
                                                                       : bound.nError;
        if (bound.bByHelper)
            refused = std::move(bound);
        errno = error;
        return -1;
    };
    m_pServer = std::make_unique<CTFTPServer>(this, m_pLog.get(), [this] { return NowMs(); });
    std::string detail;
    // The echo's first line says what is served. The lines the server writes
    // while it starts come after it, but for its own "Serving FOLDER", which
    // the first line says in full.
    class CHeldLines : public ITransferLog {
    public:
        void LogLine(std::string_view line) override { lines.emplace_back(line); }
        std::vector<std::string> lines;
    } held;
    ITransferLog* const pEcho = std::exchange(m_pEcho, m_pEcho != nullptr ? &held : nullptr);
    const ServeStartError error = m_pServer->Start(*config, binder, &detail);
    m_pEcho = pEcho;
    if (pEcho != nullptr) {
        if (error == ServeStartError::none)
            pEcho->LogLine(ServingLine(settings.folder, m_pServer->ListeningAddresses(), settings));
        for (const std::string& line : held.lines)
            if (line != "Serving " + settings.folder)
                pEcho->LogLine(line);
    }
    if (error != ServeStartError::none) {
        m_pServer.reset();
        const std::string text = ServeStartFailureText(error, settings, detail, refused);
        // The way out that needs no administrator: another port.
        EnableWindow(IDC_SERVE_USE_6969, error == ServeStartError::notPermitted || error == ServeStartError::inUse);
        // The first paragraph; the box has the rest, and the commands.
        SetDlgItemText(IDC_SERVE_STATUS, text.substr(0, text.find("\n\n")));
        if (g_pLogDlg != nullptr)
            g_pLogDlg->LogLine(ErrorLogLine(text));
        AfxMessageBox(text, MB_OK);
        UpdateControls();
        return;
    }
    if (m_nFolderFd >= 0)
        ::close(m_nFolderFd);
    m_nFolderFd = ::open(settings.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    m_nStartMs = NowMs();
    m_bRequestSeen = false;
    SetTimer(kTickTimer, kTickMs);
    SetTimer(kRowsTimer, kRowsMs);
    UpdateControls();
    UpdateStatus();
}

bool CServeDlg::StopServing(bool bAsk)
{
    if (m_pServer == nullptr)
        return true;
    if (bAsk && m_pServer->Running() > 0 &&
        AfxMessageBox(IDS_SERVE_CONFIRM_CLOSE, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return false;
    m_pServer->Stop();
    KillTimer(kTickTimer);
    ShowRows();
    KillTimer(kRowsTimer);
    m_pServer.reset();
    if (m_nFolderFd >= 0)
        ::close(m_nFolderFd);
    m_nFolderFd = -1;
    UpdateControls();
    UpdateStatus();
    return true;
}

void CServeDlg::OnCancel()
{
    if (StopServing(true)) {
        SaveView();
        ShowWindow(SW_HIDE);
    }
}

void CServeDlg::OnOK()
{
    // Enter is the default button's (Start or Stop), never the window's end.
    OnStart();
}

void CServeDlg::OnDestroy()
{
    SaveView();
    if (m_pServer != nullptr)
        m_pServer->Stop();
    m_pServer.reset();
    if (m_nFolderFd >= 0)
        ::close(m_nFolderFd);
    m_nFolderFd = -1;
}

ULONGLONG CServeDlg::NowMs() const
{
    return static_cast<ULONGLONG>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void CServeDlg::OnBrowse()
{
    const QString folder =
        QFileDialog::getExistingDirectory(GetSafeHwnd(), QString(), Text(GetDlgItemText(IDC_SERVE_FOLDER)));
    if (!folder.isEmpty())
        SetDlgItemText(IDC_SERVE_FOLDER, folder.toStdString());
}

void CServeDlg::OnPolicy()
{
    UpdateControls();
    const ServeSettings settings = ReadControls();
    m_settings.bAllowUpload = settings.bAllowUpload;
    m_settings.bAllowCreate = settings.bAllowCreate;
    m_settings.bReplaceExisting = settings.bReplaceExisting;
    m_settings.bLocalNetworksOnly = settings.bLocalNetworksOnly;
    // The boxes stay live while serving: they apply to the next request.
    if (m_pServer != nullptr) {
        m_pServer->SetPolicy(
            {settings.bAllowUpload, settings.bAllowCreate, settings.bReplaceExisting, settings.bLocalNetworksOnly});
        if (m_bRemembers)
            AfxSaveServeSettings(m_settings);
    }
    UpdateStatus();
}

void CServeDlg::OnUse6969()
{
    SetDlgItemText(IDC_SERVE_PORT, std::to_string(kFallbackPort));
    EnableWindow(IDC_SERVE_USE_6969, FALSE);
    OnStart();
}

void CServeDlg::UpdateControls()
{
    const BOOL idle = !IsServing();
    for (int id : {IDC_SERVE_FOLDER, IDC_SERVE_BROWSE, IDC_SERVE_LISTEN, IDC_SERVE_PORT})
        EnableWindow(id, idle);
    for (int id : {IDC_SERVE_CREATE, IDC_SERVE_REPLACE})
        EnableWindow(id, IsDlgButtonChecked(IDC_SERVE_UPLOAD) != 0);
    SetDlgItemText(IDC_SERVE_START, idle ? "&Start" : "&Stop");
}

void CServeDlg::UpdateStatus()
{
    if (!IsServing()) {
        if (GetDlgItemText(IDC_SERVE_STATUS).empty() || m_pServer == nullptr)
            SetDlgItemText(IDC_SERVE_STATUS, AfxLoadString(IDS_SERVE_STOPPED));
        return;
    }
    // Exactly what a client may do: the kinds of upload count only with uploads on.
    const UINT uploads = !m_settings.bAllowUpload                                 ? IDS_SERVE_READ_ONLY
                         : m_settings.bAllowCreate && m_settings.bReplaceExisting ? IDS_SERVE_UPLOADS
                         : m_settings.bAllowCreate                                ? IDS_SERVE_UPLOADS_NEW
                         : m_settings.bReplaceExisting                            ? IDS_SERVE_UPLOADS_REPLACE
                                                                                  : IDS_SERVE_UPLOADS_NONE;
    const std::string where = m_settings.listen.empty() ? AfxLoadString(IDS_SERVE_ALL_ADDRESSES) : m_settings.listen;
    std::string text = AfxFormatString(AfxFindString(IDS_SERVE_SERVING), m_settings.folder.c_str(), where.c_str(),
                                       static_cast<unsigned>(m_settings.nPort), AfxFindString(uploads));
    // Nothing asked after half a minute: most often a firewall.
    if (!m_bRequestSeen && NowMs() - m_nStartMs >= kFirewallHintMs)
        text.append("\n").append(
            m_settings.nPort == TFTP_SERVER_PORT
                ? AfxFormatString(AfxFindString(IDS_SERVE_FIREWALL), static_cast<unsigned>(m_settings.nPort))
                : AfxFormatString(AfxFindString(IDS_SERVE_FIREWALL_PORT), static_cast<unsigned>(m_settings.nPort),
                                  static_cast<unsigned>(m_settings.nPort)));
    SetDlgItemText(IDC_SERVE_STATUS, text);
}

void CServeDlg::ListAddresses()
{
    auto* list = qobject_cast<QListWidget*>(GetDlgItem(IDC_SERVE_ADDRESSES));
    list->clear();
    for (const LocalAddress& address : AfxGetLocalAddresses(false)) {
        const std::string hint = (address.bIpv6 ? "setenv serverip6 " : "setenv serverip ") + address.text;
        auto* item = new QListWidgetItem(Text(address.text + "    " + hint), list);
        item->setData(Qt::UserRole, Text(address.text));
        item->setData(Qt::UserRole + 1, Text(hint));
    }
    if (list->count() > 0)
        list->setCurrentRow(0);
}

void CServeDlg::OnCopy()
{
    auto* list = qobject_cast<QListWidget*>(GetDlgItem(IDC_SERVE_ADDRESSES));
    if (list->currentItem() != nullptr)
        QGuiApplication::clipboard()->setText(list->currentItem()->data(Qt::UserRole).toString());
}

void CServeDlg::OnCopyHint()
{
    auto* list = qobject_cast<QListWidget*>(GetDlgItem(IDC_SERVE_ADDRESSES));
    if (list->currentItem() != nullptr)
        QGuiApplication::clipboard()->setText(list->currentItem()->data(Qt::UserRole + 1).toString());
}

void CServeDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (m_pServer == nullptr)
        return;
    if (nIDEvent == kTickTimer) {
        m_pServer->OnTick(NowMs());
        return;
    }
    // A row starts or ends with a message; bytes move without one, so the
    // running rows are drawn at every round.
    if (m_bRowsChanged || m_pServer->Running() > 0)
        ShowRows();
    UpdateStatus();
}

LRESULT CServeDlg::OnServeChanged(WPARAM, LPARAM)
{
    // Drawn by the next round of the list's timer: however many transfers
    // run, the list changes at most ten times a second.
    m_bRowsChanged = true;
    return 1;
}
