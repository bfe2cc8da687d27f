// SPDX-License-Identifier: MIT
#include "menu.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

CMenu::CMenu() : m_pMenu(std::make_unique<QMenu>()) {}

CMenu::~CMenu() = default;

QAction* CMenu::FindItem(UINT nID) const
{
    for (QAction* action : m_pMenu->actions()) {
        if (!action->isSeparator() && action->data().toUInt() == nID)
            return action;
    }
    return nullptr;
}

UINT CMenu::EnableMenuItem(UINT nIDEnableItem, UINT nEnable)
{
    QAction* action = FindItem(nIDEnableItem);
    if (action == nullptr)
        return 0xFFFFFFFF;
    const UINT previous = action->property("greyed").toBool() ? MF_GRAYED : MF_ENABLED;
    const bool greyed = (nEnable & (MF_GRAYED | MF_DISABLED)) != 0;
    action->setProperty("greyed", greyed);
    action->setEnabled(!greyed);
    return previous;
}

UINT CMenu::CheckMenuItem(UINT nIDCheckItem, UINT nCheck)
{
    QAction* action = FindItem(nIDCheckItem);
    if (action == nullptr)
        return 0xFFFFFFFF;
    const UINT previous = action->isChecked() ? MF_CHECKED : MF_UNCHECKED;
    action->setCheckable(true);
    action->setChecked((nCheck & MF_CHECKED) != 0);
    return previous;
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const char* lpszNewItem)
{
    if ((nFlags & MF_SEPARATOR) != 0) {
        m_pMenu->addSeparator();
        return TRUE;
    }
    // The item's text is the program's own: '&' marks its access key.
    QAction* action = m_pMenu->addAction(QString::fromUtf8(lpszNewItem != nullptr ? lpszNewItem : ""));
    action->setData(static_cast<UINT>(nIDNewItem));
    if ((nFlags & MF_GRAYED) != 0)
        EnableMenuItem(static_cast<UINT>(nIDNewItem), MF_GRAYED);
    return TRUE;
}

void AfxFillSystemMenu(CMenu& menu)
{
    menu.AppendMenu(MF_STRING, SC_RESTORE, "&Restore");
    menu.AppendMenu(MF_STRING, SC_MOVE, "&Move");
    menu.AppendMenu(MF_STRING, SC_SIZE, "&Size");
    menu.AppendMenu(MF_STRING, SC_MINIMIZE, "Mi&nimize");
    menu.AppendMenu(MF_STRING, SC_MAXIMIZE, "Ma&ximize");
    menu.AppendMenu(MF_SEPARATOR);
    menu.AppendMenu(MF_STRING, SC_CLOSE, "&Close\tAlt+F4");
}

void AfxUpdateSystemMenu(CMenu& menu, const QWidget& window, bool bMinimizeBox)
{
    const auto set = [&](UINT id, bool enabled) {
        if (QAction* action = menu.FindItem(id))
            action->setEnabled(enabled && !action->property("greyed").toBool());
    };
    set(SC_RESTORE, window.isMinimized() || window.isMaximized());
    set(SC_MINIMIZE, bMinimizeBox && !window.isMinimized());
}
