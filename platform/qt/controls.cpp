// SPDX-License-Identifier: MIT
#include "controls.h"

#include <unistd.h>

#include <QLabel>
#include <QListWidget>
#include <QSignalBlocker>

#include "dialog.h"
#include "res/strings.h"

int DlgDirList(CDialog& dialog, char* /*lpPathSpec*/, int nIDListBox, int nIDStaticPath, UINT nFileType)
{
    const std::string directory = AfxGetCurrentDirectory();
    if (auto* list = qobject_cast<QListWidget*>(dialog.GetDlgItem(nIDListBox))) {
        // Filling is not a choice of the user's: no selection notifications.
        const QSignalBlocker blocker(list);
        list->clear();
        for (const DirListEntry& entry : AfxListDirectory(directory, nFileType)) {
            auto* item = new QListWidgetItem(QString::fromUtf8(entry.text.c_str()), list);
            item->setData(Qt::UserRole, QByteArray::fromStdString(entry.name));
        }
    }
    if (nIDStaticPath != 0)
        dialog.SetDlgItemText(nIDStaticPath, directory);
    return TRUE;
}

BOOL DlgDirSelect(CDialog& dialog, std::string* pName, int nIDListBox)
{
    const auto* list = qobject_cast<QListWidget*>(dialog.GetDlgItem(nIDListBox));
    const auto selected = list != nullptr ? list->selectedItems() : QList<QListWidgetItem*>();
    if (selected.isEmpty())
        return FALSE;
    const QListWidgetItem* item = selected.front();
    *pName = item->data(Qt::UserRole).toByteArray().toStdString();
    return TRUE;
}

BOOL DlgDirSelectName(CDialog& dialog, int nIDListBox, const std::string& name)
{
    auto* list = qobject_cast<QListWidget*>(dialog.GetDlgItem(nIDListBox));
    const QByteArray wanted = QByteArray::fromStdString(name);
    for (int i = 0; list != nullptr && i < list->count(); ++i) {
        if (list->item(i)->data(Qt::UserRole).toByteArray() == wanted) {
            list->setCurrentRow(i);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CToolTipCtrl::Create(CWnd* /*pParentWnd*/, DWORD /*dwStyle*/)
{
    return TRUE;
}

void CToolTipCtrl::Activate(BOOL bActivate)
{
    m_bActive = bActivate != FALSE;
}

BOOL CToolTipCtrl::AddTool(QWidget* pWidget, UINT nIDText)
{
    return AddTool(pWidget, AfxLoadString(nIDText));
}

BOOL CToolTipCtrl::AddTool(QWidget* pWidget, const std::string& text)
{
    if (pWidget == nullptr)
        return FALSE;
    pWidget->setToolTip(m_bActive ? QString::fromStdString(text) : QString());
    return TRUE;
}
