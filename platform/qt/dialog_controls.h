// SPDX-License-Identifier: MIT
// The controls of a dialog template made as Qt widgets.
#pragma once

#include <functional>

#include "platform/core/afxtypes.h"

class QWidget;
struct DialogControl;

// Makes the widget of one template control as a child of pParent, with its
// text and style. Its notifications (BN_CLICKED, LBN_SELCHANGE, LBN_DBLCLK,
// EN_UPDATE) are passed to notify. Placing it is the caller's.
QWidget* AfxCreateDialogControl(const DialogControl& control, QWidget* pParent,
                                const std::function<void(UINT nCode)>& notify);
