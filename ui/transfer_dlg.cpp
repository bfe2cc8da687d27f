// SPDX-License-Identifier: MIT
#include "transfer_dlg.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QCompleter>
#include <QDialog>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QShortcut>
#include <QStringListModel>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>
#include <optional>

#include "about_box.h"
#include "engine/host_address.h"
#include "engine/local_name.h"
#include "log_dlg.h"
#include "options_dlg.h"
#include "platform/core/dirlist.h"
#include "platform/core/format.h"
#include "platform/core/msgbox.h"
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

// Opens a line edit's completions on Down, as a combo box opens its list.
class CDownShowsCompletions : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (edit == nullptr || event->type() != QEvent::KeyPress ||
            static_cast<QKeyEvent*>(event)->key() != Qt::Key_Down || edit->completer() == nullptr ||
            edit->completer()->popup()->isVisible())
            return false;
        edit->completer()->setCompletionPrefix(edit->text());
        edit->completer()->complete();
        return true;
    }
};

// Takes a file dropped from a file manager: one local regular file, which
// the window then chooses for a Put. Anything else is not taken.
class CFileDrop : public QObject {
public:
    CFileDrop(QObject* parent, std::function<bool()> busy, std::function<void(const std::string&)> choose)
        : QObject(parent), m_busy(std::move(busy)), m_choose(std::move(choose))
    {
    }

    static std::optional<std::string> DroppedFile(const QMimeData* data)
    {
        if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 || !data->urls().front().isLocalFile())
            return std::nullopt;
        const QByteArray path = QFile::encodeName(data->urls().front().toLocalFile());
        struct stat status {};
        if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode))
            return std::nullopt;
        return path.toStdString();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (!m_busy() && DroppedFile(drag->mimeData()).has_value())
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const std::optional<std::string> path = DroppedFile(drop->mimeData());
            if (m_busy() || !path.has_value())
                return true;
            drop->acceptProposedAction();
            m_choose(*path);
            return true;
        }
        return false;
    }

private:
    std::function<bool()> m_busy;
    std::function<void(const std::string&)> m_choose;
};

} // namespace

CTransferDlg::CTransferDlg(CWnd* pParent)
    : CDialog(IDD_MAIN, pParent), m_pNotifyWnd(this), m_bHostEntered(FALSE), m_bRemoteFileEntered(FALSE),
      m_bLocalFileSelected(FALSE), m_dwFileSize(0), m_dwRate(0), m_dwBytes(0), m_hIcon(AfxLoadIcon(IDI_TARNWICK)),
      m_nDirection(DIRECTION_PUT), m_nMode(MODE_BINARY), m_nProgressSteps(0), m_nTimerTicks(0), m_nStartMs(0),
      m_nTimerID(0), m_szPathSpec{}, m_nProgressShift(0), m_nProgressPosition(0)
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
    for (const MenuKey& item : kMenuKeys) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(item.szKey)), GetSafeHwnd());
        const UINT command = item.nCommand;
        QObject::connect(shortcut, &QShortcut::activated, [this, command] { SendMessage(WM_SYSCOMMAND, command, 0); });
    }
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

    // Where the last run left off: the mode, the directory, the window's
    // place, and the names used, offered as completions. The command line
    // (ApplyStartup, below) wins over them.
    m_remembered = AfxLoadRememberedState();
    if (m_remembered.mode.has_value())
        m_nMode = *m_remembered.mode;
    CheckRadioButton(IDC_MODE_BINARY, IDC_MODE_ASCII, m_nMode == MODE_ASCII ? IDC_MODE_ASCII : IDC_MODE_BINARY);
    if (!m_remembered.directory.empty())
        (void)!::chdir(m_remembered.directory.c_str());
    if (m_remembered.position.has_value() && QGuiApplication::screenAt(*m_remembered.position) != nullptr)
        GetSafeHwnd()->move(*m_remembered.position);
    AddCompletion(IDC_REMOTE_HOST, m_remembered.hosts);
    AddCompletion(IDC_REMOTE_FILE, m_remembered.remoteFiles);

    // Sub-directories, then the files of the current directory.
    DlgDirList(*this, m_szPathSpec, IDC_DIR_LIST, IDC_CURRENT_DIR, DDL_EXCLUSIVE | DDL_DRIVES | DDL_DIRECTORY);
    DlgDirList(*this, m_szPathSpec, IDC_FILE_LIST, 0, 0);
    UpdateStatus();

    // The log window exists from the start, hidden until the system menu shows it.
    g_pLogDlg = new CLogDlg;
    g_pLogDlg->Create(IDD_LOG, this);
    if (QWidget* log = g_pLogDlg->GetDlgItem(IDC_LOG_LIST))
        log->setAccessibleName(QString::fromStdString(AfxLoadString(IDS_ACC_LOG)));

    m_ToolTip.Create(this, 0);
    m_ToolTip.Activate(TRUE);
    m_ToolTip.AddTool(GetDlgItem(IDC_GET), IDS_TIP_GET);
    m_ToolTip.AddTool(GetDlgItem(IDC_PUT), IDS_TIP_PUT);
    m_ToolTip.AddTool(GetDlgItem(IDC_REMOTE_FILE), IDS_TIP_REMOTE_FILE);
    // The host box's tip lists the forms it takes.
    m_ToolTip.AddTool(GetDlgItem(IDC_REMOTE_HOST),
                      AfxLoadString(IDS_TIP_REMOTE_HOST) + "\n" + AfxLoadString(IDS_TIP_HOST_FORMS));

    // Names for screen readers: the arrows and the bare lists say nothing
    // by themselves.
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
    };
    for (const auto& [id, text] : accessibleNames)
        if (QWidget* control = GetDlgItem(id))
            control->setAccessibleName(QString::fromStdString(AfxLoadString(text)));

    // A file dropped on the window (or on its lists) is chosen for a Put.
    auto* drop = new CFileDrop(
        GetSafeHwnd(), [this] { return IsBusy(); }, [this](const std::string& path) { (void)ChooseLocalFile(path); });
    for (QWidget* target :
         {static_cast<QWidget*>(GetSafeHwnd()), GetDlgItem(IDC_DIR_LIST), GetDlgItem(IDC_FILE_LIST)}) {
        if (auto* list = qobject_cast<QListWidget*>(target))
            target = list->viewport();
        if (target != nullptr) {
            target->setAcceptDrops(true);
            target->installEventFilter(drop);
        }
    }

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
    const QByteArray name = QByteArray::fromStdString(path.substr(slash == std::string::npos ? 0 : slash + 1));
    auto* files = qobject_cast<QListWidget*>(GetDlgItem(IDC_FILE_LIST));
    for (int i = 0; files != nullptr && i < files->count(); ++i) {
        if (files->item(i)->data(Qt::UserRole).toByteArray() == name) {
            files->setCurrentRow(i);
            return true;
        }
    }
    return false;
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

void CTransferDlg::AddCompletion(int nID, const std::vector<std::string>& names)
{
    auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(nID));
    if (edit == nullptr)
        return;
    QStringList list;
    for (const std::string& name : names)
        list << QString::fromStdString(name);
    auto* completer = new QCompleter(list, edit);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setModelSorting(QCompleter::UnsortedModel); // most recent first
    edit->setCompleter(completer);
    // Down shows the names that fit what is typed, all of them in an empty box.
    edit->installEventFilter(new CDownShowsCompletions(edit));
}

void CTransferDlg::RememberNames(const std::string& host, const std::string& remote)
{
    RememberFirst(&m_remembered.hosts, host);
    if (!remote.empty())
        RememberFirst(&m_remembered.remoteFiles, remote);
    for (const auto& [id, names] :
         {std::pair{IDC_REMOTE_HOST, &m_remembered.hosts}, std::pair{IDC_REMOTE_FILE, &m_remembered.remoteFiles}}) {
        auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id));
        if (auto* model = edit != nullptr && edit->completer() != nullptr
                              ? qobject_cast<QStringListModel*>(edit->completer()->model())
                              : nullptr) {
            QStringList list;
            for (const std::string& name : *names)
                list << QString::fromStdString(name);
            model->setStringList(list);
        }
    }
    SaveRememberedState();
}

void CTransferDlg::SaveRememberedState()
{
    m_remembered.mode = static_cast<WORD>(m_nMode);
    m_remembered.directory = AfxGetCurrentDirectory();
    if (QWidget* window = GetSafeHwnd(); window != nullptr && window->isVisible())
        m_remembered.position = window->pos();
    AfxSaveRememberedState(m_remembered);
}

void CTransferDlg::OnDestroy()
{
    SaveRememberedState();
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

void CTransferDlg::UpdateButtons()
{
    EnableWindow(IDC_GET, m_bRemoteFileEntered && m_bHostEntered && !IsBusy());
    EnableWindow(IDC_PUT, m_bLocalFileSelected && m_bHostEntered && !IsBusy());
    EnableWindow(IDC_ABORT, IsBusy());
    if (CMenu* pSysMenu = GetSystemMenu(FALSE))
        pSysMenu->EnableMenuItem(IDM_TRANSFER_OPTIONS, MF_BYCOMMAND | (IsBusy() ? MF_GRAYED : MF_ENABLED));
}

void CTransferDlg::UpdateStatus()
{
    SetDlgItemText(IDC_STATUS_VALUES, AfxFormatString(AfxWidenFormat(m_strStatusFormat).c_str(), m_strStatus.c_str(),
                                                      static_cast<unsigned long long>(m_dwFileSize),
                                                      static_cast<unsigned long long>(m_dwBytes),
                                                      static_cast<unsigned long long>(m_dwRate)));
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
    const std::string confirmation =
        wDirection == DIRECTION_GET
            ? AfxFormatString(AfxFindString(IDS_CONFIRM_GET), remote.c_str(), host.c_str(), directory.c_str(), mode)
            : AfxFormatString(AfxFindString(IDS_CONFIRM_PUT), m_strLocalPath.c_str(), host.c_str(), remote.c_str(),
                              mode);
    if (AfxMessageBox(confirmation, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    if (wDirection == DIRECTION_GET && ::access(localName.c_str(), F_OK) == 0 &&
        AfxMessageBox(IDS_OVERWRITE, MB_OKCANCEL) != IDOK)
        return;

    RememberNames(host, Bounded(GetDlgItemText(IDC_REMOTE_FILE), kMaxTextBytes));

    SetDlgItemText(IDC_STATUS_LABELS, AfxLoadString(wDirection == DIRECTION_GET ? IDS_GET_CAPTIONS : IDS_PUT_CAPTIONS));
    m_dwRate = 0;
    m_dwBytes = 0;
    m_nProgressSteps = 0;

    m_pSession.reset(CreateSession());
    m_pSession->SetLog(g_pLogDlg);
    // Plain RFC 1350 unless the user has turned options on.
    m_pSession->SetOptions(AfxLoadTransferSettings(g_pLogDlg).RequestOptions());
    m_nTimerID = SetTimer(kTransferTimer, TFTP_TICK_MS);

    // The session has told the user why when it cannot start.
    if (!m_pSession->Start(host.c_str(), m_strLocalPath.c_str(), remote.c_str(), wDirection, m_nMode))
        OnAbort();
}

void CTransferDlg::OnAbort()
{
    if (m_nTimerID != 0)
        KillTimer(m_nTimerID);
    m_pSession.reset();
    m_strStatus = AfxLoadString(IDS_IDLE);
    SetProgress(0);
    UpdateStatus();
    UpdateButtons();
}

ULONGLONG CTransferDlg::MillisecondsSinceStart() const
{
    // A transfer quicker than the clock's step counts as one millisecond.
    return std::max<ULONGLONG>(GetTickCount64() - m_nStartMs, 1);
}

ULONGLONG CTransferDlg::RateSinceStart() const
{
    return m_dwBytes * 8 * 1000 / MillisecondsSinceStart();
}

void CTransferDlg::SetProgress(ULONGLONG nSteps)
{
    m_nProgressPosition = nSteps;
    if (auto* bar = qobject_cast<QProgressBar*>(GetDlgItem(IDC_PROGRESS)))
        bar->setValue(static_cast<int>(std::min<ULONGLONG>(nSteps >> m_nProgressShift, bar->maximum())));
}

void CTransferDlg::OnTimer(UINT_PTR /*nIDEvent*/)
{
    // A tick queued before the transfer ended.
    if (!IsBusy()) {
        KillTimer(m_nTimerID);
        return;
    }
    if (++m_nTimerTicks > 1) {
        m_dwRate = RateSinceStart();
        if (m_nDirection == DIRECTION_PUT || m_bGetProgress) {
            SetProgress(m_nProgressPosition + m_nProgressSteps);
            m_nProgressSteps = 0;
        }
        UpdateStatus();
        m_nTimerTicks = 0;
    }
    m_pSession->OnTick();
}

LRESULT CTransferDlg::OnTftpProgress(WPARAM, LPARAM lParam)
{
    m_dwBytes += static_cast<ULONGLONG>(lParam);
    ++m_nProgressSteps;
    return 1;
}

LRESULT CTransferDlg::OnTftpComplete(WPARAM, LPARAM)
{
    m_dwRate = RateSinceStart();
    if (IsBusy()) {
        const ULONGLONG ms = MillisecondsSinceStart();
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%llu.%03llu", static_cast<unsigned long long>(ms / 1000),
                      static_cast<unsigned long long>(ms % 1000));
        Log("Transfer complete: " + std::to_string(m_dwBytes) + " bytes in " + seconds + " s, " +
            std::to_string(m_dwRate) + " bps");
    }
    const bool got = IsBusy() && m_nDirection == DIRECTION_GET;
    OnAbort();
    // The new file shows in the list at once; a file chosen for a Put stays chosen.
    if (got) {
        DlgDirList(*this, m_szPathSpec, IDC_FILE_LIST, 0, 0);
        const QByteArray chosen = QByteArray::fromStdString(m_strLocalPath.substr(m_strLocalPath.rfind('/') + 1));
        auto* files = qobject_cast<QListWidget*>(GetDlgItem(IDC_FILE_LIST));
        for (int i = 0; m_bLocalFileSelected && files != nullptr && i < files->count(); ++i)
            if (files->item(i)->data(Qt::UserRole).toByteArray() == chosen)
                files->setCurrentRow(i);
    }
    return 1;
}

void CTransferDlg::SetProgressRange(ULONGLONG nFileSize, int nBlockSize)
{
    // One step per block; the whole file fits the bar, however large.
    const ULONGLONG steps = nFileSize / static_cast<ULONGLONG>(nBlockSize);
    m_nProgressShift = 0;
    while ((steps >> m_nProgressShift) > static_cast<ULONGLONG>(std::numeric_limits<int>::max()))
        ++m_nProgressShift;
    if (auto* bar = qobject_cast<QProgressBar*>(GetDlgItem(IDC_PROGRESS)))
        bar->setRange(0, std::max(1, static_cast<int>(steps >> m_nProgressShift)));
    SetProgress(0);
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
        m_bGetProgress = TRUE;
    }
    if (m_nDirection == DIRECTION_PUT || m_bGetProgress)
        SetProgressRange(m_dwFileSize, granted.nBlockSize);
    UpdateStatus();
    return 1;
}

LRESULT CTransferDlg::OnTftpStarted(WPARAM, LPARAM)
{
    m_bGetProgress = FALSE;
    if (m_nDirection == DIRECTION_PUT) {
        m_strStatus = AfxLoadString(IDS_TRANSMITTING);
        SetProgressRange(m_dwFileSize, TFTP_BLOCK_SIZE);
    } else {
        m_strStatus = AfxLoadString(IDS_RECEIVING);
    }
    m_nStartMs = GetTickCount64();
    UpdateStatus();
    return 1;
}

LRESULT CTransferDlg::OnTftpFailed(WPARAM, LPARAM)
{
    OnAbort();
    return 1;
}

LRESULT CTransferDlg::OnTftpTimeout(WPARAM, LPARAM)
{
    OnAbort();
    Log(ErrorLogLine(AfxLoadString(IDS_SESSION_TIMEOUT)));
    AfxMessageBox(IDS_SESSION_TIMEOUT, MB_OK);
    return 1;
}

LRESULT CTransferDlg::OnTftpResolving(WPARAM, LPARAM)
{
    m_strStatus = AfxLoadString(IDS_RESOLVING);
    UpdateStatus();
    return 1;
}

LRESULT CTransferDlg::OnTftpRequestSent(WPARAM, LPARAM)
{
    m_strStatus = AfxLoadString(IDS_STARTING);
    UpdateStatus();
    return 1;
}
