// SPDX-License-Identifier: MIT
// How the Serve window shows itself: the columns of its list, its size and
// the column widths kept in [Serve], the count above the list, and what a
// screen reader and the keyboard find.
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <algorithm>

#include "platform/core/format.h"
#include "platform/qt/progress_column.h"
#include "res/resource.h"
#include "res/strings.h"
#include "serve_dlg.h"

namespace {

// What each column is first made wide enough for, besides its header: a
// value of the usual kind. The file column takes what the others leave.
const char* const kSamples[kColumns] = {
    "192.168.100.200:65535",
    "",
    "get",
    "tsize 16777216, blksize 1468",
    "16,777,216 / 16,777,216",
    "100%  ",
    "888 Mbps",
    "0",
    "refused: Creating files is not allowed",
};

// Room for a cell's margins and the header's sort mark.
constexpr int kCellPadding = 16;
// The narrowest the file column becomes before the list scrolls sideways.
constexpr int kFileColumnLeast = 160;

QTreeWidget* TreeOf(const CServeDlg& dlg)
{
    return qobject_cast<QTreeWidget*>(dlg.GetDlgItem(IDC_SERVE_TRANSFERS));
}

// "120 80 64": one width in pixels per column but the file's.
QString WidthsText(const QHeaderView& header)
{
    QStringList widths;
    for (int column = 0; column < kColumns; ++column)
        if (column != kFile)
            widths.append(QString::number(header.sectionSize(column)));
    return widths.join(QLatin1Char(' '));
}

// The state column's text wraps at its width, so that a reason shows whole:
// its row grows taller instead.
class CWrappedColumn : public QStyledItemDelegate {
public:
    explicit CWrappedColumn(QTreeWidget* rows) : QStyledItemDelegate(rows), m_rows(rows)
    {
        // A row's height follows its column's width.
        connect(rows->header(), &QHeaderView::sectionResized, this, [this](int column) {
            if (column == kState)
                m_rows->doItemsLayout();
        });
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem wrapped = option;
        initStyleOption(&wrapped, index);
        const int width = std::max(1, m_rows->header()->sectionSize(index.column()) - kCellPadding / 2);
        const QRect text =
            wrapped.fontMetrics.boundingRect(QRect(0, 0, width, 0), Qt::AlignLeft | Qt::TextWordWrap, wrapped.text);
        // One line is as tall as any other cell; each further line adds its height.
        const int oneLine = QStyledItemDelegate::sizeHint(option, index).height();
        return {width, oneLine + std::max(0, text.height() - wrapped.fontMetrics.height())};
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->features |= QStyleOptionViewItem::WrapText;
    }

private:
    QTreeWidget* m_rows;
};

// A list whose chosen entry is drawn plainly (its palette's inactive colours)
// while the list lacks the focus, so that the focus is seen arriving: moving
// to it by Tab turns the entry to the highlight.
class CFocusShown : public QStyledItemDelegate {
public:
    explicit CFocusShown(QAbstractItemView* list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem shown = option;
        if (m_list->hasFocus())
            shown.state |= QStyle::State_Active | QStyle::State_HasFocus;
        else
            shown.state &= ~(QStyle::State_Active | QStyle::State_HasFocus);
        QStyledItemDelegate::paint(painter, shown, index);
    }

private:
    QAbstractItemView* m_list;
};

// The file column takes what the others leave of the list's width, but never
// less than kFileColumnLeast: then the list scrolls sideways.
class CFileColumnFit : public QObject {
public:
    explicit CFileColumnFit(QTreeWidget* rows) : QObject(rows), m_rows(rows)
    {
        rows->viewport()->installEventFilter(this);
        connect(rows->header(), &QHeaderView::sectionResized, this, [this](int column) {
            if (column != kFile)
                Fit();
        });
    }

    void Fit()
    {
        const QHeaderView* header = m_rows->header();
        int others = 0;
        for (int column = 0; column < kColumns; ++column)
            others += column != kFile ? header->sectionSize(column) : 0;
        m_rows->header()->resizeSection(kFile, std::max(kFileColumnLeast, m_rows->viewport()->width() - others));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            Fit();
        return QObject::eventFilter(watched, event);
    }

private:
    QTreeWidget* m_rows;
};

} // namespace

void CServeDlg::SetUpView()
{
    QTreeWidget* rows = TreeOf(*this);
    rows->setItemDelegateForColumn(kProgress, new CProgressColumn(rows));
    rows->setItemDelegateForColumn(kState, new CWrappedColumn(rows));
    rows->setUniformRowHeights(false);
    // A long name loses its middle, where names differ least; the tooltip
    // has it whole.
    rows->setTextElideMode(Qt::ElideMiddle);
    QHeaderView* header = rows->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    const QFontMetrics metrics(rows->font());
    for (int column = 0; column < kColumns; ++column) {
        const int text = std::max(metrics.horizontalAdvance(QString::fromLatin1(kSamples[column])),
                                  metrics.horizontalAdvance(rows->headerItem()->text(column)));
        header->resizeSection(column, column == kFile ? kFileColumnLeast : text + kCellPadding);
    }
    header->setSectionResizeMode(kFile, QHeaderView::Fixed);
    auto* fit = new CFileColumnFit(rows);

    // Names for screen readers where a control shows no words of its own;
    // the Listen box is typed in, so its field is named too, not by its value.
    const std::pair<int, const char*> names[] = {
        {IDC_SERVE_FOLDER, "Folder"},         {IDC_SERVE_LISTEN, "Listen on"},    {IDC_SERVE_PORT, "Port"},
        {IDC_SERVE_STATUS, "Serving status"}, {IDC_SERVE_ADDRESSES, "Addresses"}, {IDC_SERVE_TRANSFERS, "Transfers"},
        {IDC_SERVE_COUNT, "Transfers count"},
    };
    for (const auto& [id, name] : names)
        GetDlgItem(id)->setAccessibleName(QString::fromLatin1(name));
    if (QLineEdit* field = qobject_cast<QComboBox*>(GetDlgItem(IDC_SERVE_LISTEN))->lineEdit())
        field->setAccessibleName(QStringLiteral("Listen on"));

    auto* addresses = qobject_cast<QListWidget*>(GetDlgItem(IDC_SERVE_ADDRESSES));
    QPalette palette = addresses->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Midlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText, palette.color(QPalette::Active, QPalette::Text));
    addresses->setPalette(palette);
    addresses->setItemDelegate(new CFocusShown(addresses));

    // Wide enough at first for every column, as far as the screen allows.
    QWidget* window = GetSafeHwnd();
    int columns = 0;
    for (int column = 0; column < kColumns; ++column)
        columns += header->sectionSize(column);
    const int wanted = window->width() + columns + rows->verticalScrollBar()->sizeHint().width() + 4 - rows->width();
    if (const QScreen* screen = window->screen(); screen != nullptr)
        window->resize(std::max(window->width(), std::min(wanted, screen->availableGeometry().width() * 9 / 10)),
                       window->height());
    if (!m_bRemembers) {
        fit->Fit();
        return;
    }
    QSettings settings = AfxOpenSettings();
    settings.beginGroup(QStringLiteral("Serve"));
    // What the file says is taken only where it makes sense: the window
    // never smaller than its template, a column never narrower than Qt allows.
    const QSize size(settings.value(QStringLiteral("Width")).toInt(), settings.value(QStringLiteral("Height")).toInt());
    if (size.width() > 0 && size.height() > 0)
        GetSafeHwnd()->resize(size.expandedTo(GetSafeHwnd()->minimumSize()).boundedTo(QSize(16384, 16384)));
    const QStringList widths =
        settings.value(QStringLiteral("ColumnWidths")).toString().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (int column = 0, at = 0; column < kColumns && at < widths.size(); ++column) {
        if (column == kFile)
            continue;
        bool ok = false;
        const int width = widths[at++].toInt(&ok);
        if (ok && width >= header->minimumSectionSize() && width <= 4096)
            header->resizeSection(column, width);
    }
    fit->Fit();
}

void CServeDlg::SaveView() const
{
    if (!m_bRemembers || GetSafeHwnd() == nullptr)
        return;
    QSettings settings = AfxOpenSettings();
    settings.beginGroup(QStringLiteral("Serve"));
    const QSize size = GetSafeHwnd()->isMaximized() ? GetSafeHwnd()->normalGeometry().size() : GetSafeHwnd()->size();
    settings.setValue(QStringLiteral("Width"), size.width());
    settings.setValue(QStringLiteral("Height"), size.height());
    settings.setValue(QStringLiteral("ColumnWidths"), WidthsText(*TreeOf(*this)->header()));
}

void CServeDlg::ShowCount()
{
    QTreeWidget* rows = TreeOf(*this);
    unsigned counts[5] = {};
    for (int i = 0; i < rows->topLevelItemCount(); ++i) {
        const int state = rows->topLevelItem(i)->data(kState, Qt::UserRole + 1).toInt();
        if (state >= 0 && state < 5)
            ++counts[state];
    }
    const unsigned running = counts[static_cast<int>(ServeState::running)];
    // A size query (a boot ROM asking how large a file is) was answered.
    const unsigned done = counts[static_cast<int>(ServeState::done)] + counts[static_cast<int>(ServeState::sizeQuery)];
    const unsigned failed = counts[static_cast<int>(ServeState::failed)];
    const unsigned refused = counts[static_cast<int>(ServeState::refused)];
    const std::string noun = AfxLoadString(running == 1 ? IDS_SERVE_TRANSFER : IDS_SERVE_TRANSFERS);
    SetDlgItemText(IDC_SERVE_COUNT,
                   failed == 0 ? AfxFormatString(AfxFindString(IDS_SERVE_COUNT), running, noun.c_str(), done, refused)
                               : AfxFormatString(AfxFindString(IDS_SERVE_COUNT_FAILED), running, noun.c_str(), done,
                                                 failed, refused));
}
