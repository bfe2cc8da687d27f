// SPDX-License-Identifier: MIT
#include "transfer_dlg.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "about_box.h"
#include "engine/host_address.h"
#include "engine/local_name.h"
#include "engine/netascii.h"
#include "log_dlg.h"
#include "options_dlg.h"
#include "platform/core/dirlist.h"
#include "platform/core/format.h"
#include "platform/core/msgbox.h"
#include "platform/qt/completion.h"
#include "platform/qt/file_drop.h"
#include "platform/qt/winapp.h"
#include "res/resource.h"
#include "res/strings.h"

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

namespace {

constexpr UINT_PTR kTransferTimer = 1;
constexpr size_t kMaxTextBytes = 255;

// At most nMax bytes of text, cut only between characters.
std::string Bounded(std::string text, size_t nMax)
{
    if (text.size() <= nMax)
        return text;
    size_t end = nMax;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

} // namespace

namespace {

struct MenuKey {
    UINT nCommand;
    UINT nText;
    const char* szKey;
};

const MenuKey kMenuKeys[] = {
    {IDM_ABOUT, IDS_ABOUTBOX, "Ctrl+I"},
    {IDM_LOG_WINDOW, IDS_LOG_WINDOW, "Ctrl+L"},
    {IDM_TRANSFER_OPTIONS, IDS_TRANSFER_OPTIONS, "Ctrl+T"},
};

} // namespace

namespace {

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

    // Moving is the window manager's and the size is fixed: Maximize and Size
    // are greyed. The About box and the log window hang below.
    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        pSysMenu->EnableMenuItem(SC_MAXIMIZE, MF_BYCOMMAND | MF_GRAYED);
        pSysMenu->EnableMenuItem(SC_SIZE, MF_BYCOMMAND | MF_GRAYED);
        if (!AfxLoadString(IDS_ABOUTBOX).empty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            for (const MenuKey& item : kMenuKeys) {
                // The item's own text, and its key beside it.
                const std::string text = std::string(AfxFindString(item.nText)) + "\t" + item.szKey;
                pSysMenu->AppendMenu(MF_STRING, item.nCommand, text.c_str());
            }
        }
    }
    // The menu's items have keys of their own, as the menu shows: the
    // window's menu is not the only way to them (desktops take Alt+Space).
    GetSafeHwnd()->setWindowIcon(m_hIcon);

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

    // Sub-directories, then the files of the current directory.
    DlgDirList(*this, m_szPathSpec, IDC_DIR_LIST, IDC_CURRENT_DIR, DDL_EXCLUSIVE | DDL_DRIVES | DDL_DIRECTORY);
    DlgDirList(*this, m_szPathSpec, IDC_FILE_LIST, 0, 0);
    UpdateStatus();

    // The log window exists from the start, hidden until the system menu
    // shows it, and keeps what happens from the start: the settings' warnings
    // first.
    g_pLogDlg = new CLogDlg;
    g_pLogDlg->Create(IDD_LOG, this);
    if (QWidget* log = g_pLogDlg->GetDlgItem(IDC_LOG_LIST))
        log->setAccessibleName(QString::fromStdString(AfxLoadString(IDS_ACC_LOG)));
    (void)AfxLoadTransferSettings(g_pLogDlg);

    // The menu's items have keys of their own, as the menu shows, in the
    // main window and the log window alike: the window's menu is not the only
    // way to them (desktops take Alt+Space).
    for (QWidget* window : {static_cast<QWidget*>(GetSafeHwnd()), static_cast<QWidget*>(g_pLogDlg->GetSafeHwnd())}) {
        for (const MenuKey& item : kMenuKeys) {
            auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(item.szKey)), window);
            const UINT command = item.nCommand;
            QObject::connect(shortcut, &QShortcut::activated,
                             [this, command] { SendMessage(WM_SYSCOMMAND, command, 0); });
        }
    }

    m_ToolTip.Create(this, 0);
    m_ToolTip.Activate(TRUE);
    m_ToolTip.AddTool(GetDlgItem(IDC_GET), IDS_TIP_GET);
    m_ToolTip.AddTool(GetDlgItem(IDC_PUT), IDS_TIP_PUT);
    m_ToolTip.AddTool(GetDlgItem(IDC_REMOTE_FILE), IDS_TIP_REMOTE_FILE);
    // The host box's tip lists the forms it takes.
    m_ToolTip.AddTool(GetDlgItem(IDC_REMOTE_HOST),
                      AfxLoadString(IDS_TIP_REMOTE_HOST) + "\n" + AfxLoadString(IDS_TIP_HOST_FORMS));

    m_ToolTip.AddTool(GetDlgItem(IDC_MENU_BUTTON), IDS_TIP_MENU_BUTTON);

    // A file dropped on the window (or on its lists) is chosen for a Put.
    for (QWidget* target : {static_cast<QWidget*>(GetSafeHwnd()), GetDlgItem(IDC_DIR_LIST), GetDlgItem(IDC_FILE_LIST)})
        AfxAcceptFileDrops(
            target, [this] { return IsBusy(); }, [this](const std::string& path) { (void)ChooseLocalFile(path); });

    // Tab goes as the eye does: the remote boxes, the lists, the mode, the
    // buttons; the typing starts in Remote File.
    const int tabOrder[] = {IDC_REMOTE_FILE, IDC_REMOTE_HOST, IDC_DIR_LIST, IDC_FILE_LIST, IDC_MODE_ASCII,
                            IDC_MODE_BINARY, IDC_PUT,         IDC_GET,      IDC_ABORT,     IDOK,
                            ID_HELP,         IDC_MENU_BUTTON};
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        QWidget::setTabOrder(GetDlgItem(tabOrder[i]), GetDlgItem(tabOrder[i + 1]));
    if (QWidget* remoteFile = GetDlgItem(IDC_REMOTE_FILE))
        remoteFile->setFocus();

    ApplyStartup();
    // The buttons keep the template's enabling until the first change.
    return TRUE;
}

namespace {

// Whether the window may end now: always when it is idle, and during a
// transfer only when the user says so (No is the default).
bool MayEnd(bool bBusy)
{
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

bool CTransferDlg::ChooseLocalFile(const std::string& path)
{
    // The file's directory becomes the current one, and the file is chosen.
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos)
        (void)!::chdir(path.substr(0, slash + 1).c_str());
    ListCurrentDirectory();
    return DlgDirSelectName(*this, IDC_FILE_LIST, path.substr(slash == std::string::npos ? 0 : slash + 1)) != FALSE;
}

void CTransferDlg::ApplyStartup()
{
    if (!m_startup.putFile.empty())
        (void)ChooseLocalFile(m_startup.putFile);
    if (!m_startup.host.empty())
        SetDlgItemText(IDC_REMOTE_HOST, m_startup.host);
    if (!m_startup.remote.empty())
        SetDlgItemText(IDC_REMOTE_FILE, m_startup.remote);
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
    RememberNames(Bounded(GetDlgItemText(IDC_REMOTE_HOST), kMaxTextBytes),
                  Bounded(GetDlgItemText(IDC_REMOTE_FILE), kMaxTextBytes));
    m_pSession.reset();
    if (g_pLogDlg != nullptr) {
        delete g_pLogDlg;
        g_pLogDlg = nullptr;
    }
    if (AfxGetApp() != nullptr)
        AfxGetApp()->CloseHelp();
}

void CTransferDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    switch (nID & 0xFFF0) {
    case IDM_ABOUT: {
        CAboutBox about;
        about.DoModal();
        break;
    }
    case IDM_LOG_WINDOW:
        ToggleLogWindow();
        break;
    case IDM_TRANSFER_OPTIONS:
        // Not while a transfer runs: it was asked with the options it has.
        if (!IsBusy()) {
            COptionsDlg options(this);
            options.DoModal();
        }
        break;
    default:
        DefWindowProc(WM_SYSCOMMAND, nID, lParam);
        break;
    }
}

void CTransferDlg::ToggleLogWindow()
{
    CMenu* pSysMenu = GetSystemMenu(FALSE);
    if (g_pLogDlg == nullptr)
        return;
    if (!g_bLogVisible) {
        if (pSysMenu != nullptr)
            pSysMenu->CheckMenuItem(IDM_LOG_WINDOW, MF_BYCOMMAND | MF_CHECKED);
        // Directly below the main window, as wide as it, 180 pixels high.
        const QRect frame = GetSafeHwnd()->frameGeometry();
        g_pLogDlg->MoveWindow(frame.left(), frame.bottom() + 1, frame.width(), 180);
        g_pLogDlg->GetSafeHwnd()->setAttribute(Qt::WA_ShowWithoutActivating);
        g_pLogDlg->ShowWindow(SW_SHOW);
        g_bLogVisible = TRUE;
        // Typing goes on in the main window.
        GetSafeHwnd()->activateWindow();
        GetSafeHwnd()->setFocus();
    } else {
        if (pSysMenu != nullptr)
            pSysMenu->CheckMenuItem(IDM_LOG_WINDOW, MF_BYCOMMAND | MF_UNCHECKED);
        g_pLogDlg->ShowWindow(SW_HIDE);
        g_bLogVisible = FALSE;
    }
}

void CTransferDlg::Log(const std::string& line)
{
    if (g_pLogDlg != nullptr)
        g_pLogDlg->LogLine(line);
}

void CTransferDlg::ListCurrentDirectory()
{
    std::strcpy(m_szPathSpec, "*.*");
    DlgDirList(*this, m_szPathSpec, IDC_FILE_LIST, IDC_CURRENT_DIR, 0);
    DlgDirList(*this, m_szPathSpec, IDC_DIR_LIST, IDC_CURRENT_DIR, DDL_EXCLUSIVE | DDL_DRIVES | DDL_DIRECTORY);
}

void CTransferDlg::OnDblclkDirList()
{
    std::string name;
    if (!DlgDirSelect(*this, &name, IDC_DIR_LIST))
        return;
    // A refused change leaves the current directory; the lists show it again.
    (void)!::chdir(name.c_str());
    ListCurrentDirectory();

    m_dwFileSize = 0;
    m_bFileSizeKnown = TRUE;
    EnableWindow(IDC_PUT, FALSE);
    UpdateStatus();
    m_bLocalFileSelected = FALSE;
    UpdateButtons();
}

void CTransferDlg::OnSelchangeFileList()
{
    std::string name;
    if (!DlgDirSelect(*this, &name, IDC_FILE_LIST))
        return;
    // The path keeps its case: on this file system another case is another file.
    std::string path = AfxGetCurrentDirectory();
    if (path.empty())
        return;
    if (path.back() != '/')
        path += '/';
    path += name;

    SetDlgItemText(IDC_CURRENT_DIR, path);
    m_strLocalPath = path;
    struct stat status {};
    m_dwFileSize = ::stat(path.c_str(), &status) == 0 ? static_cast<ULONGLONG>(status.st_size) : 0;
    m_bFileSizeKnown = TRUE;
    // A new choice: the last transfer's end and figures give way to it.
    if (!IsBusy()) {
        m_strStatus = AfxLoadString(IDS_IDLE);
        m_dwBytes = 0;
        m_dwRate = 0;
        m_meter.ClearBar();
        ShowProgress();
    }

    UpdateStatus();
    m_bLocalFileSelected = TRUE;
    UpdateButtons();
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

void CTransferDlg::OnMenuButton()
{
    if (QWidget* button = GetDlgItem(IDC_MENU_BUTTON))
        ShowSystemMenu(button->geometry().bottomLeft());
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

    // The typed texts, at most 255 bytes each. A Put without a remote name
    // keeps the local file's name.
    const std::string host = Bounded(GetDlgItemText(IDC_REMOTE_HOST), kMaxTextBytes);
    std::string remote = Bounded(GetDlgItemText(IDC_REMOTE_FILE), kMaxTextBytes);
    if (remote.empty())
        remote = Bounded(m_strLocalPath.substr(m_strLocalPath.rfind('/') + 1), kMaxTextBytes);

    // A Get stores the remote name's last component in the directory shown;
    // a name without one is refused before anything is asked or sent.
    const std::string localName(LocalNameOfRemote(remote));
    if (wDirection == DIRECTION_GET && localName.empty()) {
        AfxMessageBox(AfxFormatString(AfxFindString(IDS_GET_NO_FILE_NAME), remote.c_str()), MB_OK);
        return;
    }

    // A host in none of the forms is refused before anything is asked.
    HostText parsedHost;
    if (!ParseHostText(host, TFTP_SERVER_PORT, &parsedHost)) {
        AfxMessageBox(AfxFormatString(AfxFindString(IDS_BAD_HOST), host.c_str()), MB_OK);
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
    if (wDirection == DIRECTION_GET && ::access(localName.c_str(), F_OK) == 0 &&
        AfxMessageBox(IDS_OVERWRITE, MB_OKCANCEL) != IDOK)
        return;

    RememberNames(host, Bounded(GetDlgItemText(IDC_REMOTE_FILE), kMaxTextBytes));
    m_strTransferHost = host;

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
    // Plain RFC 1350 unless the user has turned options on.
    m_pSession->SetOptions(AfxLoadTransferSettings(g_pLogDlg).RequestOptions());
    m_nTimerID = SetTimer(kTransferTimer, TFTP_TICK_MS);

    // The session has told the user why when it cannot start.
    if (!m_pSession->Start(host.c_str(), m_strLocalPath.c_str(), remote.c_str(), wDirection, m_nMode))
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

void CTransferDlg::OnTimer(UINT_PTR /*nIDEvent*/)
{
    // A tick queued before the transfer ended.
    if (!IsBusy()) {
        KillTimer(m_nTimerID);
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
    // The new file shows in the list at once; a file chosen for a Put stays chosen.
    if (got) {
        DlgDirList(*this, m_szPathSpec, IDC_FILE_LIST, 0, 0);
        if (m_bLocalFileSelected)
            (void)DlgDirSelectName(*this, IDC_FILE_LIST, m_strLocalPath.substr(m_strLocalPath.rfind('/') + 1));
    }
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
    HostText where;
    if (IsBusy() && ParseHostText(m_strTransferHost, TFTP_SERVER_PORT, &where))
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
