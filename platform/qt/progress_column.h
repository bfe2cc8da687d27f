// SPDX-License-Identifier: MIT
// A column of a list view drawn as progress bars.
#pragma once

#include <QStyledItemDelegate>

// Draws the bar of the share an item holds in Qt::UserRole (0 to 100), with
// the percentage on it; an item that holds -1 is drawn as text.
class CProgressColumn : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
