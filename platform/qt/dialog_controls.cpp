// SPDX-License-Identifier: MIT
#include "dialog_controls.h"

#include <algorithm>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTreeWidget>

#include <cstdlib>

#include "dialog.h"
#include "msgmap.h"
#include "res/dialogs.h"
#include "winapp.h"

namespace {

// Static texts show '&' as a mnemonic marker unless SS_NOPREFIX says otherwise;
// "&&" stands for one ampersand.
QString StaticText(const char* text, STYLE style)
{
    QString raw = QString::fromUtf8(text);
    if ((style & SS_NOPREFIX) != 0)
        return raw;
    QString shown;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == QLatin1Char('&') && i + 1 < raw.size())
            ++i;
        else if (raw[i] == QLatin1Char('&'))
            continue;
        shown += raw[i];
    }
    return shown;
}

// A one-line path: drawn whole when it fits, else with its middle elided
// (the whole path in the tooltip), and placed so that no descender is cut.
class CPathLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        drawFrame(&painter);
        const QRect area = contentsRect().adjusted(2, 0, -2, 0);
        const QFontMetrics metrics(font());
        const QString shown = metrics.elidedText(text(), Qt::ElideMiddle, area.width());
        setToolTip(shown == text() ? QString() : text());
        // Centred on the line; when the line is shorter than the font, the
        // descenders keep their room and the tops give way.
        int baseline = area.top() + (area.height() - metrics.height()) / 2 + metrics.ascent();
        baseline = std::min(baseline, area.bottom() + 1 - metrics.descent());
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        painter.drawText(area.left(), baseline, shown);
    }
};

} // namespace

QWidget* AfxCreateDialogControl(const DialogControl& control, QWidget* pParent,
                                const std::function<void(UINT nCode)>& notify)
{
    const int id = control.nID;
    switch (control.kind) {
    case ControlKind::PushButton: {
        auto* button = new QPushButton(QString::fromUtf8(control.text), pParent);
        button->setDefault((control.style & BS_DEFPUSHBUTTON) != 0);
        QObject::connect(button, &QPushButton::clicked, pParent, [notify] { notify(BN_CLICKED); });
        return button;
    }
    case ControlKind::CheckBox: {
        auto* check = new QCheckBox(QString::fromUtf8(control.text), pParent);
        QObject::connect(check, &QCheckBox::clicked, pParent, [notify] { notify(BN_CLICKED); });
        return check;
    }
    case ControlKind::RadioButton: {
        auto* radio = new QRadioButton(QString::fromUtf8(control.text), pParent);
        QObject::connect(radio, &QRadioButton::clicked, pParent, [notify] { notify(BN_CLICKED); });
        return radio;
    }
    case ControlKind::ListBox: {
        auto* list = new QListWidget(pParent);
        list->setProperty("controlId", id);
        list->setSelectionMode((control.style & LBS_NOSEL) != 0         ? QAbstractItemView::NoSelection
                               : (control.style & LBS_EXTENDEDSEL) != 0 ? QAbstractItemView::ExtendedSelection
                                                                        : QAbstractItemView::SingleSelection);
        list->setVerticalScrollBarPolicy((control.style & WS_VSCROLL) != 0 ? Qt::ScrollBarAsNeeded
                                                                           : Qt::ScrollBarAlwaysOff);
        list->setHorizontalScrollBarPolicy((control.style & WS_HSCROLL) != 0 ? Qt::ScrollBarAsNeeded
                                                                             : Qt::ScrollBarAlwaysOff);
        if ((control.style & LBS_NOTIFY) != 0) {
            // A change of the selection, not of the focus: tabbing into the
            // list makes an entry current without choosing it.
            QObject::connect(list, &QListWidget::itemSelectionChanged, pParent, [notify] { notify(LBN_SELCHANGE); });
            QObject::connect(list, &QListWidget::itemDoubleClicked, pParent, [notify] { notify(LBN_DBLCLK); });
        }
        return list;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(pParent);
        QObject::connect(edit, &QLineEdit::textChanged, pParent, [notify] { notify(EN_UPDATE); });
        return edit;
    }
    case ControlKind::Static: {
        auto* label = (control.style & SS_PATHELLIPSIS) != 0 ? new CPathLabel(pParent) : new QLabel(pParent);
        label->setText(StaticText(control.text, control.style));
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if ((control.style & SS_SUNKEN) != 0) {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setLineWidth(1);
        } else {
            label->setWordWrap(true);
        }
        return label;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(pParent);
        const QIcon icon = AfxLoadIcon(static_cast<UINT>(std::atoi(control.text)));
        label->setPixmap(icon.pixmap(32, 32));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case ControlKind::GroupBox: {
        auto* group = new QGroupBox(QString::fromUtf8(control.text), pParent);
        // Only a frame, with its title on the top line: clicks reach the
        // controls it surrounds.
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        group->setStyleSheet(
            QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
                           "QGroupBox::title { subcontrol-origin: margin; left: 0.6em; padding: 0 0.2em; }"));
        return group;
    }
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(pParent);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        QObject::connect(combo, &QComboBox::editTextChanged, pParent, [notify] { notify(CBN_EDITCHANGE); });
        return combo;
    }
    case ControlKind::ListView: {
        auto* view = new QTreeWidget(pParent);
        view->setRootIsDecorated(false);
        view->setUniformRowHeights(true);
        view->setAllColumnsShowFocus(true);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setHeaderLabels(QString::fromUtf8(control.text).split(QLatin1Char('\t')));
        view->header()->setStretchLastSection(true);
        return view;
    }
    case ControlKind::Progress: {
        auto* progress = new QProgressBar(pParent);
        progress->setRange(0, 100);
        progress->setValue(0);
        progress->setTextVisible(false);
        return progress;
    }
    }
    return nullptr;
}

void AfxSetAccessKeys(const DialogTemplate& dialogTemplate, const std::vector<QWidget*>& controls)
{
    static const QRegularExpression accessKey(QStringLiteral("(^|[^&])&[^&]"));
    for (size_t i = 0; i < dialogTemplate.nControls && i < controls.size(); ++i) {
        const DialogControl& control = dialogTemplate.controls[i];
        const QString text = QString::fromUtf8(control.text);
        auto* label = qobject_cast<QLabel*>(controls[i]);
        if (label == nullptr || control.kind != ControlKind::Static || (control.style & SS_NOPREFIX) != 0 ||
            !text.contains(accessKey))
            continue;
        for (size_t next = i + 1; next < controls.size(); ++next) {
            if (controls[next]->focusPolicy() != Qt::NoFocus) {
                label->setText(text);
                label->setBuddy(controls[next]);
                break;
            }
        }
    }
}

const char* AfxControlTextProperty(const QWidget* pControl)
{
    if (qobject_cast<const QGroupBox*>(pControl) != nullptr)
        return "title";
    if (qobject_cast<const QComboBox*>(pControl) != nullptr)
        return "currentText";
    if (qobject_cast<const QLabel*>(pControl) != nullptr || qobject_cast<const QLineEdit*>(pControl) != nullptr ||
        qobject_cast<const QAbstractButton*>(pControl) != nullptr)
        return "text";
    return nullptr;
}

// The state of a dialog's buttons and controls, by ID.

void CDialog::CheckRadioButton(int nIDFirstButton, int nIDLastButton, int nIDCheckButton)
{
    for (int id = nIDFirstButton; id <= nIDLastButton; ++id) {
        if (auto* radio = qobject_cast<QRadioButton*>(GetDlgItem(id))) {
            // An exclusive radio button cannot be unchecked directly.
            radio->setAutoExclusive(false);
            radio->setChecked(id == nIDCheckButton);
            radio->setAutoExclusive(true);
        }
    }
}

void CDialog::CheckDlgButton(int nIDButton, UINT nCheck)
{
    if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(nIDButton)))
        button->setChecked(nCheck != 0);
}

UINT CDialog::IsDlgButtonChecked(int nIDButton) const
{
    const auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(nIDButton));
    return button != nullptr && button->isChecked() ? 1u : 0u;
}

BOOL CDialog::EnableWindow(int nID, BOOL bEnable)
{
    QWidget* widget = GetDlgItem(nID);
    if (widget == nullptr)
        return FALSE;
    const BOOL wasDisabled = !widget->isEnabled();
    widget->setEnabled(bEnable != FALSE);
    return wasDisabled;
}

BOOL CDialog::IsWindowEnabled(int nID) const
{
    const QWidget* widget = GetDlgItem(nID);
    return widget != nullptr && widget->isEnabled();
}
