// SPDX-License-Identifier: MIT
// A dialog template made into a Qt window: its frame, caption, font and size,
// and a widget for each of its controls.
#pragma once

#include <functional>
#include <map>

#include "dialog_units.h"
#include "platform/core/afxtypes.h"

class QWidget;
struct DialogTemplate;

// Gives window the frame buttons, caption and font the template names and a
// client area of exactly its size (with WS_THICKFRAME, its smallest size: the
// controls then follow the window's edges as their anchors say); a DS_CENTER window without a parent
// stands in the middle of the primary screen. Then makes the controls as
// its children, in template order: placed, enabled and focusable as their
// styles say, with their access keys, group boxes behind the rest, window
// filtering their events. Each control's notification goes to
// notify(nID, nCode); each control other than IDC_STATIC lands in
// *pControls by its ID. Returns the base units of the template's font, which
// map its dialog units to pixels.
DialogBaseUnits AfxBuildDialogWindow(const DialogTemplate& dialogTemplate, QWidget& window,
                                     const std::function<void(int nID, UINT nCode)>& notify,
                                     std::map<int, QWidget*>* pControls);
