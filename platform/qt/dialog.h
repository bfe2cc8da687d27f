// SPDX-License-Identifier: MIT
// Dialogs built from the templates in res/, over QDialog.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "dialog_units.h"
#include "menu.h"
#include "msgmap.h"
#include "platform/core/wnd.h"

class QDialog;
class QKeyEvent;
class QPoint;
class QRect;
class QWidget;
class CDialogWidget;
struct DialogTemplate;

// ShowWindow's commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

// A window made from a dialog template: each control of the template, with its
// ID, text, style and rectangle. Controls send their notifications as
// WM_COMMAND, posted messages arrive as WindowProc calls from the event loop,
// and the message map names the handler of each.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    // Destroys the window if it still exists. By then the derived class is
    // gone, so its WM_DESTROY handler does not run: a class with one destroys
    // its window in its own destructor.
    ~CDialog() override;

    // Creates the window, runs it modally until EndDialog and destroys it.
    // Returns the value given to EndDialog (IDOK, IDCANCEL), or -1 when no
    // template has the dialog's ID or its window exists already.
    virtual INT_PTR DoModal();
    // Creates the window modelessly; it is shown when its template says so.
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    // Sends WM_DESTROY and deletes the window. Never call it from inside one
    // of the window's own handlers.
    BOOL DestroyWindow();
    // Ends a modal run with nResult; hides a modeless window.
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) override;
    // Handles the message now, through the message map.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Whether the message map names a handler for this control notification.
    bool HandlesCommand(UINT nCode, UINT nID) const;

    QWidget* GetDlgItem(int nID) const;
    void SetDlgItemText(int nID, std::string_view text);
    std::string GetDlgItemText(int nID) const;
    void CheckRadioButton(int nIDFirstButton, int nIDLastButton, int nIDCheckButton);
    // A check box: 1 checked, 0 not.
    void CheckDlgButton(int nIDButton, UINT nCheck);
    UINT IsDlgButtonChecked(int nIDButton) const;
    BOOL EnableWindow(int nID, BOOL bEnable);
    BOOL IsWindowEnabled(int nID) const;

    // Delivers OnTimer(nIDEvent) through WM_TIMER every nElapse ms; returns
    // nIDEvent, or 0 when no window exists.
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse);
    BOOL KillTimer(UINT_PTR nIDEvent);

    // The Qt window; null while none exists.
    QDialog* GetSafeHwnd() const;
    UINT GetTemplateID() const { return m_nIDTemplate; }
    CWnd* GetParent() const { return m_pParentWnd; }
    // Dialog units of this window's template font to pixels.
    QRect MapDialogRect(const QRect& rect) const;

    // The window's own menu (a right click on its background, Alt+Space, F10
    // or the Menu key); null for a window without one. Each choice arrives as
    // WM_SYSCOMMAND.
    CMenu* GetSystemMenu(BOOL bRevert);
    // Opens the system menu at a point of the window's client area.
    void ShowSystemMenu(const QPoint& position);

    // Places the window's frame and sets its size in pixels.
    void MoveWindow(int x, int y, int nWidth, int nHeight);
    BOOL ShowWindow(int nCmdShow);

    // A key pressed in the window (one of its controls has the focus, or
    // none does), before the window's own keyboard handling: Enter, Escape
    // and the keys of the system menu. TRUE when the key has been taken.
    virtual BOOL PreTranslateKey(QKeyEvent& key);

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // What happens to a message that the map does not name.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

private:
    friend class CDialogWidget;

    void CreateWindow(const DialogTemplate& dialogTemplate);
    void OnTimerEvent(int nQtTimerId);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    // The Qt window, while it exists. Not a unique_ptr: a window with an
    // owner is also its owner's child in Qt, and DestroyWindow decides when it goes.
    CDialogWidget* m_pWidget = nullptr;
    std::map<int, QWidget*> m_controls;
    std::map<UINT_PTR, int> m_timers; // our timer IDs to Qt's
    DialogBaseUnits m_baseUnits{};
    bool m_bModal = false;
    bool m_bMinimizeBox = false;
    std::unique_ptr<CMenu> m_pSystemMenu;
};
