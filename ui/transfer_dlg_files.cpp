// SPDX-License-Identifier: MIT
// The main window's local side: the directory lists, the path line and the
// file chosen for a Put.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include <QSignalBlocker>
#include <QWidget>

#include "platform/core/dirlist.h"
#include "res/resource.h"
#include "res/strings.h"
#include "transfer_dlg.h"

bool CTransferDlg::ChooseLocalFile(const std::string& path)
{
    // The file's directory becomes the current one, and the file is chosen.
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos)
        (void)!::chdir(path.substr(0, slash + 1).c_str());
    ListCurrentDirectory();
    return DlgDirSelectName(*this, IDC_FILE_LIST, path.substr(slash == std::string::npos ? 0 : slash + 1)) != FALSE;
}

void CTransferDlg::ShowReceivedFile()
{
    // Filled and chosen without the list's notice: a refresh is not a choice.
    const QSignalBlocker quiet(GetDlgItem(IDC_FILE_LIST));
    DlgDirList(*this, m_szPathSpec, IDC_FILE_LIST, 0, 0);
    std::string directory = AfxGetCurrentDirectory();
    if (!directory.ends_with('/'))
        directory += '/';
    const size_t slash = m_strReceivedPath.rfind('/');
    if (slash != std::string::npos && m_strReceivedPath.substr(0, slash + 1) == directory &&
        DlgDirSelectName(*this, IDC_FILE_LIST, m_strReceivedPath.substr(slash + 1))) {
        m_strLocalPath = m_strReceivedPath;
        m_bLocalFileSelected = TRUE;
        SetDlgItemText(IDC_CURRENT_DIR, m_strLocalPath);
    } else if (m_bLocalFileSelected) {
        (void)DlgDirSelectName(*this, IDC_FILE_LIST, m_strLocalPath.substr(m_strLocalPath.rfind('/') + 1));
    }
    UpdateButtons();
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
