// SPDX-License-Identifier: MIT
#include "dialog_widget.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimerEvent>

#include "dialog.h"
#include "message_queue.h"
#include "winapp.h"

namespace {

bool IsEnterKey(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// Alt+Space as on other desktops, and F10 and the Menu key, which no window
// manager takes for itself.
bool IsSystemMenuKey(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    return (event->key() == Qt::Key_Space && modifiers == Qt::AltModifier) ||
           (event->key() == Qt::Key_F10 && modifiers == Qt::NoModifier) ||
           (event->key() == Qt::Key_Menu && modifiers == Qt::NoModifier);
}

} // namespace

CDialogWidget::CDialogWidget(CDialog& owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}

void CDialogWidget::reject()
{
    m_owner.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

void CDialogWidget::timerEvent(QTimerEvent* event)
{
    const CMessageQueue::CDispatch dispatch;
    m_owner.OnTimerEvent(event->timerId());
}

// A right click on the window's background (or a text or frame on it)
// opens its system menu; one on a control does not.
void CDialogWidget::contextMenuEvent(QContextMenuEvent* event)
{
    QWidget* under = childAt(event->pos());
    if (under == nullptr || qobject_cast<QLabel*>(under) != nullptr)
        m_owner.ShowSystemMenu(event->pos());
}

void CDialogWidget::closeEvent(QCloseEvent* event)
{
    event->ignore();
    m_owner.SendMessage(WM_CLOSE, 0, 0);
}

// Enter presses the focused push button, else the default push button
// when it is enabled, else (no default button) sends IDOK; Escape sends
// IDCANCEL. F1 shows the window's help topic: 0x20000 + its template number.
void CDialogWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier && AfxGetApp() != nullptr) {
        AfxGetApp()->WinHelp(0x20000 + m_owner.GetTemplateID());
        return;
    }
    if (m_owner.PreTranslateKey(*event))
        return;
    if (IsEnterKey(event)) {
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused != nullptr && focused->isEnabled()) {
            focused->click();
            return;
        }
        for (QPushButton* button : findChildren<QPushButton*>()) {
            if (button->isDefault()) {
                if (button->isEnabled())
                    button->click();
                return;
            }
        }
        m_owner.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        reject();
        return;
    }
    if (IsSystemMenuKey(event)) {
        m_owner.ShowSystemMenu(QPoint(0, 0));
        return;
    }
    QDialog::keyPressEvent(event);
}

// On the controls: the window sees each key first (PreTranslateKey); the
// system menu's keys open it, even in an edit box;
// Enter in a list box whose double click the window handles counts as a
// double click on its current entry (elsewhere Enter goes to the dialog).
bool CDialogWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyPress && m_owner.PreTranslateKey(*key))
        return true;
    if (IsSystemMenuKey(key)) {
        if (event->type() == QEvent::KeyPress)
            m_owner.ShowSystemMenu(QPoint(0, 0));
        event->accept();
        return true;
    }
    auto* list = qobject_cast<QListWidget*>(watched);
    if (event->type() == QEvent::KeyPress && IsEnterKey(key) && list != nullptr && list->currentItem() != nullptr) {
        const UINT id = static_cast<UINT>(list->property("controlId").toInt());
        if (m_owner.HandlesCommand(LBN_DBLCLK, id)) {
            list->currentItem()->setSelected(true);
            m_owner.SendMessage(WM_COMMAND, MAKEWPARAM(id, LBN_DBLCLK), 0);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
