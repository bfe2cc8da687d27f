// SPDX-License-Identifier: MIT
#include "dialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>

#include <algorithm>

#include "dialog_builder.h"
#include "dialog_controls.h"
#include "dialog_widget.h"
#include "message_queue.h"
#include "res/dialogs.h"
#include "res/resource.h"
#include "winapp.h"

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog()
{
    DestroyWindow();
}

const AFX_MSGMAP* CDialog::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP messageMap = {nullptr, &entries[0]};
    return &messageMap;
}

const AFX_MSGMAP* CDialog::GetMessageMap() const
{
    return GetThisMessageMap();
}

QDialog* CDialog::GetSafeHwnd() const
{
    return m_pWidget;
}

QRect CDialog::MapDialogRect(const QRect& rect) const
{
    return AfxMapDialogUnits(rect, m_baseUnits);
}

void CDialog::CreateWindow(const DialogTemplate& dialogTemplate)
{
    // A modal box without a parent stands over the main window.
    CWnd* owner = m_pParentWnd;
    if (owner == nullptr && m_bModal && AfxGetApp() != nullptr && AfxGetApp()->m_pMainWnd != this)
        owner = AfxGetApp()->m_pMainWnd;
    auto* parentDialog = dynamic_cast<CDialog*>(owner);
    QWidget* parent = parentDialog != nullptr ? parentDialog->GetSafeHwnd() : nullptr;
    m_pWidget = new CDialogWidget(*this, parent);
    m_bMinimizeBox = (dialogTemplate.style & WS_MINIMIZEBOX) != 0;
    if ((dialogTemplate.style & WS_SYSMENU) != 0) {
        m_pSystemMenu = std::make_unique<CMenu>();
        AfxFillSystemMenu(*m_pSystemMenu);
    }
    const auto notify = [this](int nID, UINT nCode) {
        SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(nID), nCode), 0);
    };
    m_baseUnits = AfxBuildDialogWindow(dialogTemplate, *m_pWidget, notify, &m_controls);
}

INT_PTR CDialog::DoModal()
{
    const DialogTemplate* dialogTemplate = AfxFindDialogTemplate(m_nIDTemplate);
    if (dialogTemplate == nullptr || m_pWidget != nullptr)
        return -1;
    m_bModal = true;
    CreateWindow(*dialogTemplate);
    m_pWidget->setModal(true);
    SendMessage(WM_INITDIALOG, 0, 0);
    const int result = m_pWidget->exec();
    DestroyWindow();
    m_bModal = false;
    return result;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    m_nIDTemplate = nIDTemplate;
    if (pParentWnd != nullptr)
        m_pParentWnd = pParentWnd;
    const DialogTemplate* dialogTemplate = AfxFindDialogTemplate(m_nIDTemplate);
    if (dialogTemplate == nullptr || m_pWidget != nullptr)
        return FALSE;
    CreateWindow(*dialogTemplate);
    SendMessage(WM_INITDIALOG, 0, 0);
    if ((dialogTemplate->style & WS_VISIBLE) != 0)
        m_pWidget->show();
    return TRUE;
}

BOOL CDialog::DestroyWindow()
{
    if (m_pWidget == nullptr)
        return FALSE;
    SendMessage(WM_DESTROY, 0, 0);
    CMessageQueue::Instance().Forget(this);
    for (const auto& [id, qtTimer] : m_timers)
        m_pWidget->killTimer(qtTimer);
    m_timers.clear();
    m_controls.clear();
    m_pSystemMenu.reset();
    delete m_pWidget;
    m_pWidget = nullptr;
    return TRUE;
}

void CDialog::EndDialog(int nResult)
{
    if (m_pWidget != nullptr)
        m_pWidget->done(nResult);
}

BOOL CDialog::OnInitDialog()
{
    // The first tab stop takes the focus.
    const DialogTemplate* dialogTemplate = AfxFindDialogTemplate(m_nIDTemplate);
    for (size_t i = 0; dialogTemplate != nullptr && i < dialogTemplate->nControls; ++i) {
        const DialogControl& control = dialogTemplate->controls[i];
        QWidget* widget = GetDlgItem(control.nID);
        if ((control.style & WS_TABSTOP) != 0 && widget != nullptr && widget->isEnabled()) {
            widget->setFocus();
            break;
        }
    }
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::PreTranslateKey(QKeyEvent& /*key*/)
{
    return FALSE;
}

BOOL CDialog::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pWidget == nullptr)
        return CWnd::PostMessage(message, wParam, lParam);
    CMessageQueue::Instance().Post(this, message, wParam, lParam);
    return TRUE;
}

LRESULT CDialog::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return WindowProc(message, wParam, lParam);
}

bool CDialog::HandlesCommand(UINT nCode, UINT nID) const
{
    return AfxFindMessageEntry(GetMessageMap(), WM_COMMAND, nCode, nID) != nullptr;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (const AFX_MSGMAP_ENTRY* entry = AfxFindMessageEntry(GetMessageMap(), message, HIWORD(wParam), LOWORD(wParam)))
        return entry->pfn(*this, wParam, lParam);
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    switch (message) {
    case WM_SYSCOMMAND:
        // What the platform does; moving and sizing belong to the window manager.
        if (m_pWidget == nullptr)
            return 0;
        switch (static_cast<UINT>(wParam) & 0xFFF0) {
        case SC_MINIMIZE:
            m_pWidget->showMinimized();
            break;
        case SC_MAXIMIZE:
            m_pWidget->showMaximized();
            break;
        case SC_RESTORE:
            m_pWidget->showNormal();
            break;
        case SC_CLOSE:
            SendMessage(WM_CLOSE, 0, 0);
            break;
        default:
            break;
        }
        return 0;
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_CLOSE:
        OnCancel();
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED)
            return 0;
        if (LOWORD(wParam) == IDOK)
            OnOK();
        else if (LOWORD(wParam) == IDCANCEL)
            OnCancel();
        else if (LOWORD(wParam) == ID_HELP && AfxGetApp() != nullptr)
            AfxGetApp()->WinHelp(0x20000 + m_nIDTemplate); // this window's topic, as F1 shows it
        return 0;
    default:
        return 0;
    }
}

QWidget* CDialog::GetDlgItem(int nID) const
{
    const auto it = m_controls.find(nID);
    return it != m_controls.end() ? it->second : nullptr;
}

void CDialog::SetDlgItemText(int nID, std::string_view text)
{
    QWidget* widget = GetDlgItem(nID);
    const char* property = AfxControlTextProperty(widget);
    if (property == nullptr)
        return;
    const QString value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    widget->setProperty(property, value);
    // A named text (a path, the figures of a panel) tells its value too.
    if (qobject_cast<QLabel*>(widget) != nullptr && !widget->accessibleName().isEmpty())
        widget->setAccessibleDescription(value);
}

std::string CDialog::GetDlgItemText(int nID) const
{
    QWidget* widget = GetDlgItem(nID);
    const char* property = AfxControlTextProperty(widget);
    return property != nullptr ? widget->property(property).toString().toStdString() : std::string();
}

UINT_PTR CDialog::SetTimer(UINT_PTR nIDEvent, UINT nElapse)
{
    if (m_pWidget == nullptr)
        return 0;
    KillTimer(nIDEvent);
    const int qtTimer = m_pWidget->startTimer(static_cast<int>(nElapse));
    if (qtTimer == 0)
        return 0;
    m_timers[nIDEvent] = qtTimer;
    return nIDEvent;
}

BOOL CDialog::KillTimer(UINT_PTR nIDEvent)
{
    const auto it = m_timers.find(nIDEvent);
    if (it == m_timers.end() || m_pWidget == nullptr)
        return FALSE;
    m_pWidget->killTimer(it->second);
    m_timers.erase(it);
    return TRUE;
}

void CDialog::OnTimerEvent(int nQtTimerId)
{
    for (const auto& [id, qtTimer] : m_timers) {
        if (qtTimer == nQtTimerId) {
            SendMessage(WM_TIMER, static_cast<WPARAM>(id), 0);
            return;
        }
    }
}

CMenu* CDialog::GetSystemMenu(BOOL /*bRevert*/)
{
    return m_pSystemMenu.get();
}

void CDialog::ShowSystemMenu(const QPoint& position)
{
    if (m_pSystemMenu == nullptr || m_pWidget == nullptr)
        return;
    AfxUpdateSystemMenu(*m_pSystemMenu, *m_pWidget, m_bMinimizeBox);
    QAction* chosen = m_pSystemMenu->GetQMenu()->exec(m_pWidget->mapToGlobal(position));
    if (chosen != nullptr)
        SendMessage(WM_SYSCOMMAND, chosen->data().toUInt(), 0);
}

void CDialog::MoveWindow(int x, int y, int nWidth, int nHeight)
{
    if (m_pWidget == nullptr)
        return;
    // The frame goes to (x, y) and measures nWidth x nHeight. A window not
    // shown yet has no frame to measure: its owner's frame is the same kind.
    const QWidget* measured = m_pWidget;
    if (m_pWidget->frameGeometry() == m_pWidget->geometry() && m_pWidget->parentWidget() != nullptr)
        measured = m_pWidget->parentWidget()->window();
    const int extraWidth = measured->frameGeometry().width() - measured->geometry().width();
    const int extraHeight = measured->frameGeometry().height() - measured->geometry().height();
    m_pWidget->setFixedSize(std::max(0, nWidth - extraWidth), std::max(0, nHeight - extraHeight));
    m_pWidget->move(x, y);
}

BOOL CDialog::ShowWindow(int nCmdShow)
{
    if (m_pWidget == nullptr)
        return FALSE;
    const BOOL wasVisible = m_pWidget->isVisible();
    if (nCmdShow == SW_HIDE)
        m_pWidget->hide();
    else
        m_pWidget->show();
    return wasVisible;
}
