#include "transfer_dlg.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <QDialog>

#include "platform/core/format.h"
#include "platform/qt/winapp.h"
#include "res/resource.h"
#include "res/strings.h"

BEGIN_MESSAGE_MAP(CTransferDlg, CDialog)
ON_WM_DESTROY()
ON_LBN_SELCHANGE(IDC_FILE_LIST, OnSelchangeFileList)
ON_LBN_DBLCLK(IDC_DIR_LIST, OnDblclkDirList)
ON_EN_UPDATE(IDC_REMOTE_FILE, OnUpdateRemoteFile)
ON_EN_UPDATE(IDC_REMOTE_HOST, OnUpdateRemoteHost)
END_MESSAGE_MAP()

CTransferDlg::CTransferDlg(CWnd* pParent)
    : CDialog(IDD_MAIN, pParent), m_pNotifyWnd(this), m_pSession(nullptr), m_bBusy(FALSE), m_bHostEntered(FALSE),
      m_bRemoteFileEntered(FALSE), m_bLocalFileSelected(FALSE), m_dwFileSize(0), m_dwRate(0), m_dwBytes(0),
      m_hIcon(AfxLoadIcon(IDI_TARNWICK)), m_nDirection(DIRECTION_PUT), m_nMode(MODE_BINARY), m_nProgressSteps(0),
      m_nTimerTicks(0), m_tStart(0), m_nTimerID(0), m_bSessionActive(FALSE), m_szPathSpec{}
{
}

CTransferDlg::~CTransferDlg() = default;

BOOL CTransferDlg::OnInitDialog()
{
    // 1. The dialog's own initialisation.
    CDialog::OnInitDialog();

    // 2. The system menu: Maximize and Size greyed, the About item appended.

    // 3. The window's icons.
    GetSafeHwnd()->setWindowIcon(m_hIcon);

    // 4.
    m_strStatusFormat = AfxLoadString(IDS_STATUS_FORMAT);
    m_strStatus = AfxLoadString(IDS_IDLE);

    // 5.
    m_dwBytes = 0;
    m_dwFileSize = 0;
    m_dwRate = 0;
    m_bHostEntered = FALSE;
    m_bLocalFileSelected = FALSE;
    m_bRemoteFileEntered = FALSE;
    m_bBusy = FALSE;
    m_bSessionActive = FALSE;
    m_nTimerTicks = 0;
    m_nMode = MODE_BINARY;
    m_nDirection = DIRECTION_PUT;
    m_nProgressSteps = 0;

    // 6.
    CheckRadioButton(IDC_MODE_BINARY, IDC_MODE_ASCII, IDC_MODE_BINARY);

    // 7, 8. Sub-directories, then the files of the current directory.
    DlgDirList(*this, m_szPathSpec, IDC_DIR_LIST, IDC_CURRENT_DIR, DDL_EXCLUSIVE | DDL_DRIVES | DDL_DIRECTORY);
    DlgDirList(*this, m_szPathSpec, IDC_FILE_LIST, 0, 0);

    // 9.
    UpdateStatus();

    // 10. The log window is created here, hidden.

    // 11.
    m_ToolTip.Create(this, 0);
    m_ToolTip.Activate(TRUE);
    m_ToolTip.AddTool(GetDlgItem(IDC_GET), IDS_TIP_GET);
    m_ToolTip.AddTool(GetDlgItem(IDC_PUT), IDS_TIP_PUT);
    m_ToolTip.AddTool(GetDlgItem(IDC_REMOTE_FILE), IDS_TIP_REMOTE_FILE);
    m_ToolTip.AddTool(GetDlgItem(IDC_REMOTE_HOST), IDS_TIP_REMOTE_HOST);

    // 12. The buttons keep the template's enabling until the first change.
    return TRUE;
}

void CTransferDlg::OnDestroy()
{
    if (m_bSessionActive && m_pSession != nullptr) {
        delete m_pSession;
        m_pSession = nullptr;
        m_bSessionActive = FALSE;
    }
    if (AfxGetApp() != nullptr)
        AfxGetApp()->CloseHelp();
}

void CTransferDlg::OnDblclkDirList()
{
    std::string name;
    if (!DlgDirSelect(*this, &name, IDC_DIR_LIST))
        return;
    // A refused change leaves the current directory; the lists show it again.
    if (::chdir(name.c_str()) != 0) {
    }

    std::strcpy(m_szPathSpec, "*.*");
    DlgDirList(*this, m_szPathSpec, IDC_FILE_LIST, IDC_CURRENT_DIR, 0);
    DlgDirList(*this, m_szPathSpec, IDC_DIR_LIST, IDC_CURRENT_DIR, DDL_EXCLUSIVE | DDL_DRIVES | DDL_DIRECTORY);

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
    char directory[1024];
    if (::getcwd(directory, sizeof directory) == nullptr)
        return;
    // The path keeps its case: on this file system another case is another file.
    std::string path = directory;
    if (path.empty() || path.back() != '/')
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
    EnableWindow(IDC_GET, m_bRemoteFileEntered && m_bHostEntered && !m_bBusy);
    EnableWindow(IDC_PUT, m_bLocalFileSelected && m_bHostEntered && !m_bBusy);
    EnableWindow(IDC_ABORT, m_bBusy);
}

void CTransferDlg::UpdateStatus()
{
    SetDlgItemText(IDC_STATUS_VALUES,
                   AfxFormatString(m_strStatusFormat.c_str(), m_strStatus.c_str(),
                                   static_cast<unsigned long>(m_dwFileSize), static_cast<unsigned long>(m_dwBytes),
                                   static_cast<unsigned long>(m_dwRate)));
}
