// SPDX-License-Identifier: MIT
// The main window's local side: the directory lists, the path line and the
// file chosen for a Put.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

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
