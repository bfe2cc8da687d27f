// SPDX-License-Identifier: MIT
// Menus by command ID, and the system menu of a window.
#pragma once

#include <memory>

#include "platform/core/afxtypes.h"

class QAction;
class QMenu;
class QWidget;

// The platform's own system commands.
inline constexpr UINT SC_SIZE = 0xF000;
inline constexpr UINT SC_MOVE = 0xF010;
inline constexpr UINT SC_MINIMIZE = 0xF020;
inline constexpr UINT SC_MAXIMIZE = 0xF030;
inline constexpr UINT SC_CLOSE = 0xF060;
inline constexpr UINT SC_RESTORE = 0xF120;

inline constexpr UINT MF_BYCOMMAND = 0x0000;
inline constexpr UINT MF_ENABLED = 0x0000;
inline constexpr UINT MF_GRAYED = 0x0001;
inline constexpr UINT MF_DISABLED = 0x0002;
inline constexpr UINT MF_UNCHECKED = 0x0000;
inline constexpr UINT MF_CHECKED = 0x0008;
inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_SEPARATOR = 0x0800;

class CMenu {
public:
    CMenu();
    ~CMenu();
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    // Each returns the item's previous state, or 0xFFFFFFFF when there is no
    // item with that ID.
    UINT EnableMenuItem(UINT nIDEnableItem, UINT nEnable);
    UINT CheckMenuItem(UINT nIDCheckItem, UINT nCheck);
    // A separator, or a text item ('&' marks the access key) with a command ID.
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, const char* lpszNewItem = nullptr);

    // The item of that command ID, or nullptr.
    QAction* FindItem(UINT nID) const;
    QMenu* GetQMenu() const { return m_pMenu.get(); }

private:
    std::unique_ptr<QMenu> m_pMenu;
};

// The standard system menu: Restore, Move, Size, Minimize, Maximize, Close.
void AfxFillSystemMenu(CMenu& menu);
// Brings Restore and Minimize in step with the window before the menu opens;
// what the program greyed stays grey.
void AfxUpdateSystemMenu(CMenu& menu, const QWidget& window, bool bMinimizeBox);
