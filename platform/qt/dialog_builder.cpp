// SPDX-License-Identifier: MIT
#include "dialog_builder.h"

#include <QApplication>
#include <QGroupBox>
#include <QScreen>
#include <QWidget>

#include <vector>

#include "dialog_controls.h"
#include "res/dialogs.h"
#include "res/resource.h"

namespace {

Qt::WindowFlags FrameFlags(const DialogTemplate& dialogTemplate)
{
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if ((dialogTemplate.style & WS_SYSMENU) != 0)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if ((dialogTemplate.style & WS_MINIMIZEBOX) != 0)
        flags |= Qt::WindowMinimizeButtonHint;
    if ((dialogTemplate.exStyle & WS_EX_CONTEXTHELP) != 0)
        flags |= Qt::WindowContextHelpButtonHint;
    return flags;
}

bool TakesFocus(ControlKind kind)
{
    return kind == ControlKind::PushButton || kind == ControlKind::RadioButton || kind == ControlKind::ListBox ||
           kind == ControlKind::Edit || kind == ControlKind::CheckBox || kind == ControlKind::ComboBox ||
           kind == ControlKind::ListView;
}

void CreateControls(const DialogTemplate& dialogTemplate, QWidget& window, DialogBaseUnits units,
                    const std::function<void(int nID, UINT nCode)>& notify, std::map<int, QWidget*>* pControls)
{
    std::vector<QWidget*> created; // in template order
    for (size_t i = 0; i < dialogTemplate.nControls; ++i) {
        const DialogControl& control = dialogTemplate.controls[i];
        const int id = control.nID;
        QWidget* widget = AfxCreateDialogControl(control, &window, [notify, id](UINT nCode) { notify(id, nCode); });
        widget->setGeometry(AfxMapDialogUnits(QRect(control.x, control.y, control.cx, control.cy), units));
        widget->installEventFilter(&window);
        widget->setEnabled((control.style & WS_DISABLED) == 0);
        widget->setFocusPolicy(!TakesFocus(control.kind)           ? Qt::NoFocus
                               : (control.style & WS_TABSTOP) != 0 ? Qt::StrongFocus
                                                                   : Qt::ClickFocus);
        if (id != IDC_STATIC)
            (*pControls)[id] = widget;
        created.push_back(widget);
    }
    AfxSetAccessKeys(dialogTemplate, created);
    // Group boxes are drawn behind the controls they surround.
    for (QGroupBox* group : window.findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
        group->lower();
}

} // namespace

DialogBaseUnits AfxBuildDialogWindow(const DialogTemplate& dialogTemplate, QWidget& window,
                                     const std::function<void(int nID, UINT nCode)>& notify,
                                     std::map<int, QWidget*>* pControls)
{
    window.setWindowFlags(FrameFlags(dialogTemplate));
    window.setWindowTitle(QString::fromUtf8(dialogTemplate.caption));

    const QFont font = AfxGetTemplateFont(QApplication::font(), dialogTemplate.nPointSize);
    window.setFont(font);
    const DialogBaseUnits units = AfxGetDialogBaseUnits(font);

    // The client area is exactly the template's size.
    window.setFixedSize(AfxMapDialogUnits(QRect(0, 0, dialogTemplate.cx, dialogTemplate.cy), units).size());
    if ((dialogTemplate.style & DS_CENTER) != 0 && window.parentWidget() == nullptr) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), window.size());
            frame.moveCenter(screen->availableGeometry().center());
            window.move(frame.topLeft());
        }
    }
    CreateControls(dialogTemplate, window, units, notify, pControls);
    return units;
}
