// SPDX-License-Identifier: MIT
#include "progress_column.h"

#include <QApplication>
#include <QStyle>

void CProgressColumn::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int percent = index.data(Qt::UserRole).toInt();
    if (percent < 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 2, -1, -2);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = percent;
    bar.text = QStringLiteral("%1%").arg(percent);
    bar.textVisible = true;
    bar.state = option.state | QStyle::State_Horizontal;
    QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
}
