// SPDX-License-Identifier: MIT
// The main window's own menu: its items, their keys, and the commands.
#include <QDialog>
#include <QShortcut>

#include "about_box.h"
#include "log_dlg.h"
#include "options_dlg.h"
#include "res/resource.h"
#include "res/strings.h"
#include "serve_dlg.h"
#include "serving_line.h"
#include "transfer_dlg.h"

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
    {IDM_SERVE, IDS_SERVE_FOLDER_MENU, "Ctrl+S"},
};

} // namespace

void CTransferDlg::SetUpSystemMenu()
{
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
}

void CTransferDlg::AddMenuKeys()
{
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
    case IDM_SERVE:
        ShowServeWindow();
        break;
    default:
        DefWindowProc(WM_SYSCOMMAND, nID, lParam);
        break;
    }
}

CServeDlg* CTransferDlg::ShowServeWindow(bool bRemembers)
{
    // Made when first asked for, beside the main window, which keeps working.
    if (g_pServeDlg == nullptr) {
        g_pServeDlg = new CServeDlg(nullptr, bRemembers);
        g_pServeDlg->Create(IDD_SERVE, this);
        // The server writes to the log: its key shows the log from here too,
        // and the typing goes on in the Serve window.
        QWidget* serve = g_pServeDlg->GetSafeHwnd();
        auto* logKey = new QShortcut(QKeySequence(QStringLiteral("Ctrl+L")), serve);
        QObject::connect(logKey, &QShortcut::activated, serve, [this, serve] { ToggleLogWindow(serve); });
        // Serving outlives the Serve window: this window says so, and opens it again.
        g_pServeDlg->SetOnServingChanged([this] {
            if (g_pServeDlg != nullptr)
                AfxShowServingLine(*this, g_pServeDlg->ServingSummary(), [this] { (void)ShowServeWindow(); });
        });
    }
    g_pServeDlg->ShowWindow(SW_SHOW);
    g_pServeDlg->GetSafeHwnd()->raise();
    g_pServeDlg->GetSafeHwnd()->activateWindow();
    return g_pServeDlg;
}

void CTransferDlg::ToggleLogWindow(QWidget* pTyping)
{
    CMenu* pSysMenu = GetSystemMenu(FALSE);
    if (g_pLogDlg == nullptr)
        return;
    if (!g_bLogVisible) {
        if (pSysMenu != nullptr)
            pSysMenu->CheckMenuItem(IDM_LOG_WINDOW, MF_BYCOMMAND | MF_CHECKED);
        g_pLogDlg->ShowBelow(GetSafeHwnd()->frameGeometry());
        g_bLogVisible = TRUE;
        // Typing goes on where it was.
        if (pTyping != nullptr) {
            pTyping->activateWindow();
        } else {
            GetSafeHwnd()->activateWindow();
            GetSafeHwnd()->setFocus();
        }
    } else {
        if (pSysMenu != nullptr)
            pSysMenu->CheckMenuItem(IDM_LOG_WINDOW, MF_BYCOMMAND | MF_UNCHECKED);
        g_pLogDlg->ShowWindow(SW_HIDE);
        g_bLogVisible = FALSE;
    }
}

void CTransferDlg::OnMenuButton()
{
    if (QWidget* button = GetDlgItem(IDC_MENU_BUTTON))
        ShowSystemMenu(button->geometry().bottomLeft());
}
