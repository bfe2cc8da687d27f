// SPDX-License-Identifier: MIT
#include "dialog_builder.h"

#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <algorithm>
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
    if ((dialogTemplate.style & WS_THICKFRAME) != 0)
        flags |= Qt::WindowMaximizeButtonHint;
    return flags;
}

// Keeps the anchored controls of a resizable window where their anchors say,
// as the window grows past its smallest size (the template's).
class CAnchors : public QObject {
public:
    CAnchors(QWidget& window, QSize smallest) : QObject(&window), m_smallest(smallest)
    {
        window.installEventFilter(this);
    }

    void Add(QWidget* control, const QRect& placed, unsigned anchor)
    {
        if (anchor != kStayPut)
            m_controls.push_back({control, placed, anchor});
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize) {
            const QSize size = static_cast<QWidget*>(watched)->size();
            const int dx = std::max(0, size.width() - m_smallest.width());
            const int dy = std::max(0, size.height() - m_smallest.height());
            for (const Anchored& control : m_controls) {
                if (control.widget == nullptr)
                    continue;
                QRect rect = control.placed;
                rect.translate((control.anchor & kMoveRight) != 0 ? dx : 0, (control.anchor & kMoveDown) != 0 ? dy : 0);
                rect.setWidth(rect.width() + ((control.anchor & kGrowRight) != 0 ? dx : 0));
                rect.setHeight(rect.height() + ((control.anchor & kGrowDown) != 0 ? dy : 0));
                control.widget->setGeometry(rect);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    struct Anchored {
        QPointer<QWidget> widget;
        QRect placed; // at the smallest size
        unsigned anchor;
    };
    QSize m_smallest;
    std::vector<Anchored> m_controls;
};

bool TakesFocus(ControlKind kind)
{
    return kind == ControlKind::PushButton || kind == ControlKind::RadioButton || kind == ControlKind::ListBox ||
           kind == ControlKind::Edit || kind == ControlKind::CheckBox || kind == ControlKind::ComboBox ||
           kind == ControlKind::ListView;
}

void CreateControls(const DialogTemplate& dialogTemplate, QWidget& window, DialogBaseUnits units,
                    const std::function<void(int nID, UINT nCode)>& notify, std::map<int, QWidget*>* pControls,
                    CAnchors* pAnchors)
{
    std::vector<QWidget*> created; // in template order
    for (size_t i = 0; i < dialogTemplate.nControls; ++i) {
        const DialogControl& control = dialogTemplate.controls[i];
        const int id = control.nID;
        QWidget* widget = AfxCreateDialogControl(control, &window, [notify, id](UINT nCode) { notify(id, nCode); });
        const QRect placed = AfxMapDialogUnits(QRect(control.x, control.y, control.cx, control.cy), units);
        widget->setGeometry(placed);
        if (pAnchors != nullptr)
            pAnchors->Add(widget, placed, control.anchor);
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

    // The client area is exactly the template's size; a resizable window's
    // smallest.
    const QSize size = AfxMapDialogUnits(QRect(0, 0, dialogTemplate.cx, dialogTemplate.cy), units).size();
    CAnchors* anchors = nullptr;
    if ((dialogTemplate.style & WS_THICKFRAME) != 0) {
        window.setMinimumSize(size);
        window.resize(size);
        anchors = new CAnchors(window, size);
    } else {
        window.setFixedSize(size);
    }
    if ((dialogTemplate.style & DS_CENTER) != 0 && window.parentWidget() == nullptr) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), window.size());
            frame.moveCenter(screen->availableGeometry().center());
            window.move(frame.topLeft());
        }
    }
    CreateControls(dialogTemplate, window, units, notify, pControls, anchors);
    return units;
}
