// SPDX-License-Identifier: MIT
// Services of the window's controls: directory lists and tooltips.
#pragma once

#include <string>

#include "platform/core/afxtypes.h"
#include "platform/core/dirlist.h"

class CDialog;
class CWnd;
class QWidget;

// Fills list box nIDListBox with the current directory's entries of the given
// type (see AfxListDirectory) and, when nIDStaticPath is not 0, shows the
// current directory in that static text. lpPathSpec names what to list; only
// the current directory ("" or "*.*") is listed. Each entry keeps its own
// name for DlgDirSelect.
int DlgDirList(CDialog& dialog, char* lpPathSpec, int nIDListBox, int nIDStaticPath, UINT nFileType);

// The name (not the shown text) of the selected entry of a list that
// DlgDirList filled; FALSE when none is selected.
BOOL DlgDirSelect(CDialog& dialog, std::string* pName, int nIDListBox);
// Selects the entry of a list that DlgDirList filled whose own name is name,
// as a click would; FALSE when the list has none.
BOOL DlgDirSelectName(CDialog& dialog, int nIDListBox, const std::string& name);

// Tooltips on a window's controls.
class CToolTipCtrl {
public:
    BOOL Create(CWnd* pParentWnd, DWORD dwStyle = 0);
    void Activate(BOOL bActivate);
    // The whole control is the hot area; the text is string nIDText.
    BOOL AddTool(QWidget* pWidget, UINT nIDText);
    // The same, with a text of the program's own making.
    BOOL AddTool(QWidget* pWidget, const std::string& text);

private:
    bool m_bActive = false;
};
