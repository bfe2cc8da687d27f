// SPDX-License-Identifier: MIT
#include "transfer_app.h"

#include "platform/core/msgbox.h"
#include "res/resource.h"
#include "res/strings.h"
#include "transfer_dlg.h"

BOOL CTransferApp::InitInstance()
{
    if (!AfxSocketInit()) {
        AfxMessageBox(IDS_SOCKETS_INIT_FAILED, MB_OK);
        return FALSE;
    }

    CTransferDlg dlg;
    dlg.SetStartup(m_commandLine);
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
