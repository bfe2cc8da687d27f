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
#include <optional>
#include <utility>
#include <vector>

#include "log_dlg.h"
#include "platform/core/format.h"
#include "platform/core/host_resolver.h"
#include "platform/core/local_networks.h"
#include "platform/core/msgbox.h"
#include "res/resource.h"
#include "res/strings.h"
#include "serve_child.h"
#include "serve_start.h"
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
ON_BN_CLICKED(IDC_SERVE_NETBOOT, OnNetboot)
ON_BN_CLICKED(IDC_SERVE_COPY_IPXE, OnCopyIpxe)
ON_BN_CLICKED(IDC_SERVE_WRITE_SCRIPT, OnWriteScript)
ON_WM_TIMER()
END_MESSAGE_MAP()

namespace {

constexpr ULONGLONG kFirewallHintMs = 30000;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

CServeDlg::CServeDlg(CWnd* pParent, bool bRemembers)
    : CDialog(IDD_SERVE, pParent),
      m_pChild(std::make_unique<CServeChild>(
          [this](std::string_view line) { OnChildLine(line); },
          [this](int nStatus, int nSignal, const std::string& error) { OnChildEnded(nStatus, nSignal, error); })),
      m_bRemembers(bRemembers)
{
}

CServeDlg::~CServeDlg()
{
    DestroyWindow();
    m_pChild.reset();
}

BOOL CServeDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    auto* listen = qobject_cast<QComboBox*>(GetDlgItem(IDC_SERVE_LISTEN));
    listen->addItem(Text(AfxLoadString(IDS_SERVE_ALL_ADDRESSES)));
    for (const LocalAddress& address : AfxGetLocalAddresses(true))
        listen->addItem(Text(address.text));
    SetUpView();
    SetUpNetboot();
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
    ListAddresses();
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

bool CServeDlg::HasRunningTransfers() const
{
    return std::any_of(m_rows.begin(), m_rows.end(),
                       [](const auto& shown) { return shown.second.row.state == ServeState::running; });
}

std::string CServeDlg::ServingSummary() const
{
    if (m_phase != Phase::serving)
        return {};
    return AfxFormatString(AfxFindString(IDS_SERVE_SERVING_SHORT), m_settings.folder.c_str(),
                           static_cast<unsigned>(m_settings.nPort));
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
    if (!settings.listen.empty() && AfxLookUpHost(settings.listen, 0, true).addresses.empty()) {
        AfxMessageBox(AfxFormatString(AfxFindString(IDS_SERVE_ADDRESS_NOT_LOCAL), settings.listen.c_str()), MB_OK);
        return;
    }
    m_settings = settings;
    if (m_bRemembers)
        AfxSaveServeSettings(settings);

    // Rows of an earlier run stay; this run's ids count from 1 again.
    ++m_nRun;
    m_lastLine.clear();
    m_phase = Phase::starting;
    const std::string program = m_program.empty() ? AfxFindServeProgram() : m_program;
    SetDlgItemText(IDC_SERVE_STATUS, AfxFormatString(AfxFindString(IDS_SERVE_STARTING), program.c_str()));
    if (m_nFolderFd >= 0)
        ::close(m_nFolderFd);
    m_nFolderFd = ::open(settings.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    UpdateControls();
    m_pChild->Start(program, StartArguments(settings));
}

bool CServeDlg::StopServing(bool bAsk)
{
    if (!IsServing())
        return true;
    if (bAsk && HasRunningTransfers() &&
        AfxMessageBox(IDS_SERVE_CONFIRM_CLOSE, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return false;
    m_phase = Phase::stopping;
    m_pChild->Stop();
    UpdateControls();
    if (m_onServingChanged)
        m_onServingChanged();
    return true;
}

void CServeDlg::OnCancel()
{
    // Serving goes on: the main window shows it, and Stop or Exit ends it.
    SaveView();
    ShowWindow(SW_HIDE);
}

void CServeDlg::OnOK()
{
    // Enter is the default button's (Start or Stop), never the window's end.
    OnStart();
}

void CServeDlg::OnDestroy()
{
    SaveView();
    KillTimer(kRowsTimer);
    // The child is told to stop and waited for when the window object goes.
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
    const ServeSettings settings = ReadControls();
    // The boxes stay live while serving: the server starts again with them,
    // which ends the transfers running (when the user agrees).
    if (m_phase == Phase::serving) {
        if (HasRunningTransfers() &&
            AfxMessageBox(IDS_SERVE_CONFIRM_RESTART, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
            CheckDlgButton(IDC_SERVE_UPLOAD, m_settings.bAllowUpload);
            CheckDlgButton(IDC_SERVE_CREATE, m_settings.bAllowCreate);
            CheckDlgButton(IDC_SERVE_REPLACE, m_settings.bReplaceExisting);
            CheckDlgButton(IDC_SERVE_LOCAL, m_settings.bLocalNetworksOnly);
            UpdateControls();
            return;
        }
        m_bRestart = true;
        (void)StopServing(false);
    }
    m_settings.bAllowUpload = settings.bAllowUpload;
    m_settings.bAllowCreate = settings.bAllowCreate;
    m_settings.bReplaceExisting = settings.bReplaceExisting;
    m_settings.bLocalNetworksOnly = settings.bLocalNetworksOnly;
    UpdateControls();
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
    // While the child starts or stops the boxes wait: they apply to the next.
    const BOOL settled = m_phase == Phase::idle || m_phase == Phase::serving;
    for (int id : {IDC_SERVE_UPLOAD, IDC_SERVE_LOCAL})
        EnableWindow(id, settled);
    for (int id : {IDC_SERVE_CREATE, IDC_SERVE_REPLACE})
        EnableWindow(id, settled && IsDlgButtonChecked(IDC_SERVE_UPLOAD) != 0);
    EnableWindow(IDC_SERVE_START, m_phase != Phase::stopping);
    SetDlgItemText(IDC_SERVE_START, idle ? "&Start" : "&Stop");
    UpdateNetboot();
}

void CServeDlg::UpdateStatus()
{
    if (m_phase != Phase::serving) {
        // What the last child said stays until the next start.
        if (m_phase == Phase::idle && GetDlgItemText(IDC_SERVE_STATUS).empty())
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
    // The addresses served: this computer's (but loopback) when listening on
    // every address, else the one chosen.
    const ServeSettings settings = IsServing() ? m_settings : ReadControls();
    auto* list = qobject_cast<QListWidget*>(GetDlgItem(IDC_SERVE_ADDRESSES));
    list->clear();
    std::vector<LocalAddress> addresses;
    for (LocalAddress& address : AfxGetLocalAddresses(!settings.listen.empty()))
        if (settings.listen.empty() || WithoutZone(address.text) == WithoutZone(settings.listen))
            addresses.push_back(std::move(address));
    if (addresses.empty() && !settings.listen.empty())
        addresses.push_back({settings.listen, settings.listen.find(':') != std::string::npos, {}});
    for (const LocalAddress& address : addresses) {
        const std::string hint = ServeHint(address.text, address.bIpv6, settings.nPort);
        const std::string where =
            address.interfaceName.empty() ? address.text : address.text + " (" + address.interfaceName + ")";
        auto* item = new QListWidgetItem(Text(where + "    " + hint), list);
        item->setData(Qt::UserRole, Text(WithoutZone(address.text)));
        item->setData(Qt::UserRole + 1, Text(hint));
    }
    ListNetbootHints(list);
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
    if (nIDEvent != kRowsTimer)
        return;
    // A row starts or ends with a line; bytes move between lines too, so the
    // running rows are drawn at every round.
    if (m_bRowsChanged || HasRunningTransfers())
        ShowRows();
    UpdateStatus();
}
