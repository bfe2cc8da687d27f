// SPDX-License-Identifier: MIT
#include "transfer_dlg.h"

#include <unistd.h>

#include <cstdio>

#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "log_dlg.h"
#include "platform/core/dirlist.h"
#include "platform/core/format.h"
#include "platform/core/msgbox.h"
#include "platform/qt/completion.h"
#include "platform/qt/file_drop.h"
#include "platform/qt/winapp.h"
#include "res/resource.h"
#include "res/strings.h"
#include "serve_dlg.h"
#include "transfer_settings.h"

BEGIN_MESSAGE_MAP(CTransferDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_DESTROY()
ON_LBN_SELCHANGE(IDC_FILE_LIST, OnSelchangeFileList)
ON_BN_CLICKED(IDC_GET, OnGet)
ON_BN_CLICKED(IDC_PUT, OnPut)
ON_BN_CLICKED(IDC_MODE_ASCII, OnModeAscii)
ON_BN_CLICKED(IDC_MODE_BINARY, OnModeBinary)
ON_BN_CLICKED(IDC_ABORT, OnAbort)
ON_LBN_DBLCLK(IDC_DIR_LIST, OnDblclkDirList)
ON_EN_UPDATE(IDC_REMOTE_FILE, OnUpdateRemoteFile)
ON_MESSAGE(WM_TFTP_STARTED, OnTftpStarted)
ON_MESSAGE(WM_TFTP_FAILED, OnTftpFailed)
ON_MESSAGE(WM_TFTP_COMPLETE, OnTftpComplete)
ON_MESSAGE(WM_TFTP_TIMEOUT, OnTftpTimeout)
ON_MESSAGE(WM_TFTP_REQUEST_SENT, OnTftpRequestSent)
ON_MESSAGE(WM_TFTP_PROGRESS, OnTftpProgress)
ON_MESSAGE(WM_TFTP_OPTIONS, OnTftpOptions)
ON_MESSAGE(WM_TFTP_RESOLVING, OnTftpResolving)
ON_EN_UPDATE(IDC_REMOTE_HOST, OnUpdateRemoteHost)
ON_BN_CLICKED(IDC_MENU_BUTTON, OnMenuButton)
ON_WM_TIMER()
END_MESSAGE_MAP()

CTransferDlg::CTransferDlg(CWnd* pParent)
    : CDialog(IDD_MAIN, pParent), m_pNotifyWnd(this), m_bHostEntered(FALSE), m_bRemoteFileEntered(FALSE),
      m_bLocalFileSelected(FALSE), m_dwFileSize(0), m_dwRate(0), m_dwBytes(0), m_hIcon(AfxLoadIcon(IDI_TARNWICK)),
      m_nDirection(DIRECTION_PUT), m_nMode(MODE_BINARY), m_nProgressSteps(0), m_nTimerTicks(0),
      m_nTimerID(0), m_szPathSpec{}
{
}

CTransferDlg::~CTransferDlg()
{
    // While OnDestroy can still run: it ends a transfer and the log window.
    DestroyWindow();
}

BOOL CTransferDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetUpSystemMenu();
    GetSafeHwnd()->setWindowIcon(m_hIcon);
    ResetFigures();
    RestoreRememberedState();
    NameControls();
    // Sub-directories, then the files of the current directory.
    DlgDirList(*this, m_szPathSpec, IDC_DIR_LIST, IDC_CURRENT_DIR, DDL_EXCLUSIVE | DDL_DRIVES | DDL_DIRECTORY);
    DlgDirList(*this, m_szPathSpec, IDC_FILE_LIST, 0, 0);
    UpdateStatus();
    CreateLogWindow();
    AddToolTips();
    AcceptFileDrops();
    SetTabOrder();
    ApplyStartup();
    // The buttons keep the template's enabling until the first change.
    return TRUE;
}

void CTransferDlg::ResetFigures()
{
    m_strStatusFormat = AfxLoadString(IDS_STATUS_FORMAT);
    m_strStatus = AfxLoadString(IDS_IDLE);
    m_dwBytes = 0;
    m_dwFileSize = 0;
    m_dwRate = 0;
    g_bLogVisible = FALSE;
    m_bHostEntered = FALSE;
    m_bLocalFileSelected = FALSE;
    m_bRemoteFileEntered = FALSE;
    m_nTimerTicks = 0;
    m_nMode = MODE_BINARY;
    m_nDirection = DIRECTION_PUT;
    m_nProgressSteps = 0;
    CheckRadioButton(IDC_MODE_BINARY, IDC_MODE_ASCII, IDC_MODE_BINARY);
}

void CTransferDlg::RestoreRememberedState()
{
    // Where the last run left off: the directory, the window's place, and
    // the names used, offered as completions. The command line (ApplyStartup,
    // below) wins over them; a Get from the command line stores into the
    // shell's directory.
    m_remembered = AfxLoadRememberedState();
    if (!m_remembered.directory.empty() && !m_startup.bGet)
        (void)!::chdir(m_remembered.directory.c_str());
    if (m_remembered.position.has_value() && QGuiApplication::screenAt(*m_remembered.position) != nullptr)
        GetSafeHwnd()->move(*m_remembered.position);
    for (const auto& [id, names] :
         {std::pair{IDC_REMOTE_HOST, &m_remembered.hosts}, std::pair{IDC_REMOTE_FILE, &m_remembered.remoteFiles}}) {
        const int nID = id;
        AfxAddCompletion(qobject_cast<QLineEdit*>(GetDlgItem(id)), *names,
                         [this, nID](const std::string& name) { ForgetName(nID, name); });
    }
}

void CTransferDlg::NameControls()
{
    // Names for screen readers: the arrows and the bare lists say nothing
    // by themselves. Named before the lists are filled, so that the path and
    // the panel's figures are told with their names from the start.
    const std::pair<int, UINT> accessibleNames[] = {
        {IDC_PUT, IDS_ACC_PUT},
        {IDC_GET, IDS_ACC_GET},
        {IDC_DIR_LIST, IDS_ACC_DIR_LIST},
        {IDC_FILE_LIST, IDS_ACC_FILE_LIST},
        {IDC_PROGRESS, IDS_ACC_PROGRESS},
        {IDC_REMOTE_HOST, IDS_ACC_REMOTE_HOST},
        {IDC_REMOTE_FILE, IDS_ACC_REMOTE_FILE},
        {IDC_CURRENT_DIR, IDS_ACC_CURRENT_DIR},
        {IDC_STATUS_VALUES, IDS_ACC_STATUS},
        {IDC_MENU_BUTTON, IDS_ACC_MENU_BUTTON},
    };
    for (const auto& [id, text] : accessibleNames)
        if (QWidget* control = GetDlgItem(id))
            control->setAccessibleName(QString::fromStdString(AfxLoadString(text)));
}

void CTransferDlg::CreateLogWindow()
{
    // The log window exists from the start, hidden until the system menu
    // shows it, and keeps what happens from the start: the settings' warnings
    // first.
    g_pLogDlg = new CLogDlg;
    g_pLogDlg->Create(IDD_LOG, this);
    if (QWidget* log = g_pLogDlg->GetDlgItem(IDC_LOG_LIST))
        log->setAccessibleName(QString::fromStdString(AfxLoadString(IDS_ACC_LOG)));
    (void)AfxLoadTransferSettings(g_pLogDlg);
    AddMenuKeys();
}

void CTransferDlg::AddToolTips()
{
    m_ToolTip.Create(this, 0);
    m_ToolTip.Activate(TRUE);
    m_ToolTip.AddTool(GetDlgItem(IDC_GET), IDS_TIP_GET);
    m_ToolTip.AddTool(GetDlgItem(IDC_PUT), IDS_TIP_PUT);
    m_ToolTip.AddTool(GetDlgItem(IDC_REMOTE_FILE), IDS_TIP_REMOTE_FILE);
    // The host box's tip lists the forms it takes.
    m_ToolTip.AddTool(GetDlgItem(IDC_REMOTE_HOST),
                      AfxLoadString(IDS_TIP_REMOTE_HOST) + "\n" + AfxLoadString(IDS_TIP_HOST_FORMS));

    m_ToolTip.AddTool(GetDlgItem(IDC_MENU_BUTTON), IDS_TIP_MENU_BUTTON);
}

void CTransferDlg::AcceptFileDrops()
{
    // A file dropped on the window (or on its lists) is chosen for a Put.
    for (QWidget* target : {static_cast<QWidget*>(GetSafeHwnd()), GetDlgItem(IDC_DIR_LIST), GetDlgItem(IDC_FILE_LIST)})
        AfxAcceptFileDrops(
            target, [this] { return IsBusy(); }, [this](const std::string& path) { (void)ChooseLocalFile(path); });
}

void CTransferDlg::SetTabOrder()
{
    // Tab goes as the eye does: the remote boxes, the lists, the mode, the
    // buttons; the typing starts in Remote File.
    const int tabOrder[] = {IDC_REMOTE_FILE, IDC_REMOTE_HOST, IDC_DIR_LIST, IDC_FILE_LIST, IDC_MODE_ASCII,
                            IDC_MODE_BINARY, IDC_PUT,         IDC_GET,      IDC_ABORT,     IDOK,
                            ID_HELP,         IDC_MENU_BUTTON};
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        QWidget::setTabOrder(GetDlgItem(tabOrder[i]), GetDlgItem(tabOrder[i + 1]));
    if (QWidget* remoteFile = GetDlgItem(IDC_REMOTE_FILE))
        remoteFile->setFocus();
}

namespace {

// The server's lines on standard output, for a terminal or a script that
// started it with --serve.
class CStandardOutputLog : public ITransferLog {
public:
    void LogLine(std::string_view line) override
    {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
} g_standardOutputLog;

// Whether the window may end now: always when it is idle, and during a
// transfer only when the user says so (No is the default).
bool MayEnd(bool bBusy)
{
    // Transfers of a served folder count as much as the window's own.
    bBusy = bBusy || (g_pServeDlg != nullptr && g_pServeDlg->IsServing() && g_pServeDlg->HasRunningTransfers());
    return !bBusy || AfxMessageBox(IDS_CONFIRM_EXIT_BUSY, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

} // namespace

void CTransferDlg::OnOK()
{
    if (MayEnd(IsBusy()))
        CDialog::OnOK();
}

void CTransferDlg::OnCancel()
{
    if (MayEnd(IsBusy()))
        CDialog::OnCancel();
}

void CTransferDlg::ApplyStartup()
{
    if (!m_startup.putFile.empty())
        (void)ChooseLocalFile(m_startup.putFile);
    if (!m_startup.host.empty())
        SetDlgItemText(IDC_REMOTE_HOST, m_startup.host);
    if (!m_startup.remote.empty())
        SetDlgItemText(IDC_REMOTE_FILE, m_startup.remote);
    // Every run starts in Binary; the command line may ask for Ascii, which
    // the window shows and its confirmation names.
    if (m_startup.bAscii && m_startup.Starts()) {
        CheckRadioButton(IDC_MODE_BINARY, IDC_MODE_ASCII, IDC_MODE_ASCII);
        m_nMode = MODE_ASCII;
    }
    if (m_startup.Serves()) {
        // The command line asks, the window remembers: --serve takes nothing
        // from the Serve window's saved choices and saves nothing there.
        const ServeSettings serve = m_startup.ServeChoices();
        CServeDlg* serveDlg = ShowServeWindow(false);
        serveDlg->SetEcho(&g_standardOutputLog);
        // Once the main window is up: the Serve window stands above it.
        QTimer::singleShot(0, serveDlg->GetSafeHwnd(), [serveDlg, serve] {
            serveDlg->GetSafeHwnd()->raise();
            serveDlg->GetSafeHwnd()->activateWindow();
            serveDlg->Apply(serve, true);
        });
    }
    if (!m_startup.Starts())
        return;
    // Once the window is up, as if its button were pressed: a button the
    // window's state leaves disabled starts nothing.
    const int button = m_startup.bGet ? IDC_GET : IDC_PUT;
    QTimer::singleShot(0, GetSafeHwnd(), [this, button] {
        if (IsWindowEnabled(button))
            SendMessage(WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        else if (button == IDC_PUT)
            AfxMessageBox(IDS_OPEN_READ_FAILED, MB_OK);
    });
}

void CTransferDlg::RememberNames(const std::string& host, const std::string& remote)
{
    if (IsRememberable(host))
        RememberFirst(&m_remembered.hosts, host);
    if (IsRememberable(remote))
        RememberFirst(&m_remembered.remoteFiles, remote);
    AfxSetCompletions(qobject_cast<QLineEdit*>(GetDlgItem(IDC_REMOTE_HOST)), m_remembered.hosts);
    AfxSetCompletions(qobject_cast<QLineEdit*>(GetDlgItem(IDC_REMOTE_FILE)), m_remembered.remoteFiles);
    SaveRememberedState();
}

void CTransferDlg::ForgetName(int nID, const std::string& name)
{
    std::erase(nID == IDC_REMOTE_HOST ? m_remembered.hosts : m_remembered.remoteFiles, name);
    SaveRememberedState();
}

void CTransferDlg::SaveRememberedState()
{
    m_remembered.directory = AfxGetCurrentDirectory();
    if (QWidget* window = GetSafeHwnd(); window != nullptr && window->isVisible())
        m_remembered.position = window->pos();
    AfxSaveRememberedState(m_remembered);
}

void CTransferDlg::OnDestroy()
{
    // What was typed is kept however the window ends: Exit, Escape, its
    // close box or a signal.
    RememberNames(AfxBoundedText(GetDlgItemText(IDC_REMOTE_HOST), TFTP_MAX_NAME),
                  AfxBoundedText(GetDlgItemText(IDC_REMOTE_FILE), TFTP_MAX_NAME));
    m_pSession.reset();
    // A served folder ends with the program: its clients are told, its
    // partial uploads removed.
    delete g_pServeDlg;
    g_pServeDlg = nullptr;
    if (g_pLogDlg != nullptr) {
        delete g_pLogDlg;
        g_pLogDlg = nullptr;
    }
    if (AfxGetApp() != nullptr)
        AfxGetApp()->CloseHelp();
}

void CTransferDlg::Log(const std::string& line)
{
    if (g_pLogDlg != nullptr)
        g_pLogDlg->LogLine(line);
}

void CTransferDlg::OnUpdateRemoteFile()
{
    m_bRemoteFileEntered = !GetDlgItemText(IDC_REMOTE_FILE).empty();
    UpdateButtons();
}

void CTransferDlg::OnUpdateRemoteHost()
{
    m_bHostEntered = !GetDlgItemText(IDC_REMOTE_HOST).empty();
    UpdateButtons();
}

BOOL CTransferDlg::PreTranslateKey(QKeyEvent& key)
{
    if (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter)
        return FALSE;
    QWidget* focus = GetSafeHwnd() != nullptr ? GetSafeHwnd()->focusWidget() : nullptr;
    // A focused button takes Enter as a click; the directory list opens its
    // entry.
    if (qobject_cast<QPushButton*>(focus) != nullptr || focus == GetDlgItem(IDC_DIR_LIST))
        return FALSE;
    // The remote boxes name a file to fetch: Enter there is Get, when Get
    // may start. Nowhere does Enter reach the default button, "-->".
    if ((focus == GetDlgItem(IDC_REMOTE_FILE) || focus == GetDlgItem(IDC_REMOTE_HOST)) && IsWindowEnabled(IDC_GET))
        PostMessage(WM_COMMAND, MAKEWPARAM(IDC_GET, BN_CLICKED), 0);
    return TRUE;
}

void CTransferDlg::UpdateButtons()
{
    EnableWindow(IDC_GET, m_bRemoteFileEntered && m_bHostEntered && !IsBusy());
    EnableWindow(IDC_PUT, m_bLocalFileSelected && m_bHostEntered && !IsBusy());
    EnableWindow(IDC_ABORT, IsBusy());
    if (CMenu* pSysMenu = GetSystemMenu(FALSE))
        pSysMenu->EnableMenuItem(IDM_TRANSFER_OPTIONS, MF_BYCOMMAND | (IsBusy() ? MF_GRAYED : MF_ENABLED));
}
