// SPDX-License-Identifier: MIT
// The controls of a dialog template made as Qt widgets.
#pragma once

#include <functional>
#include <vector>

#include "platform/core/afxtypes.h"

class QWidget;
struct DialogControl;
struct DialogTemplate;

// Makes the widget of one template control as a child of pParent, with its
// text and style. Its notifications (BN_CLICKED, LBN_SELCHANGE, LBN_DBLCLK,
// EN_UPDATE) are passed to notify. Placing it is the caller's.
QWidget* AfxCreateDialogControl(const DialogControl& control, QWidget* pParent,
                                const std::function<void(UINT nCode)>& notify);

// A static text's access key ('&' before a letter, unless SS_NOPREFIX) moves
// the focus to the next control that takes it, as in the desktop the
// templates come from. controls are the template's widgets, in its order.
void AfxSetAccessKeys(const DialogTemplate& dialogTemplate, const std::vector<QWidget*>& controls);

// The Qt property that holds the text a control shows ("text", a group box's
// "title"); null for a control without one.
const char* AfxControlTextProperty(const QWidget* pControl);
