// SPDX-License-Identifier: MIT
#include "serving_line.h"

#include <QDialog>
#include <QFontMetrics>
#include <QPushButton>

#include <algorithm>

#include "platform/qt/dialog.h"
#include "res/resource.h"

void AfxShowServingLine(CDialog& main, const std::string& text, std::function<void()> open)
{
    QWidget* mainWindow = main.GetSafeHwnd();
    if (mainWindow == nullptr)
        return;
    auto* line = mainWindow->findChild<QPushButton*>(QLatin1String(kServingLineName));
    if (text.empty()) {
        if (line != nullptr)
            line->hide();
        return;
    }
    // Beside the buttons at the foot of the window: from the left edge, kept
    // as far from it as the menu button is from the right one, up to Exit.
    const QWidget* exit = main.GetDlgItem(IDOK);
    const QWidget* menu = main.GetDlgItem(IDC_MENU_BUTTON);
    if (line == nullptr) {
        line = new QPushButton(mainWindow);
        line->setObjectName(QLatin1String(kServingLineName));
        line->setFlat(true);
        line->setCursor(Qt::PointingHandCursor);
        line->setStyleSheet(QStringLiteral("text-align: left; padding: 0 2px;"));
    }
    QObject::disconnect(line, &QPushButton::clicked, nullptr, nullptr);
    QObject::connect(line, &QPushButton::clicked, line, [open = std::move(open)] {
        if (open)
            open();
    });
    if (exit != nullptr && menu != nullptr) {
        const int margin = std::max(4, mainWindow->width() - menu->geometry().right() - 1);
        line->setGeometry(margin, exit->y(), std::max(40, exit->x() - margin - margin / 2), exit->height());
    }
    const QString whole = QString::fromStdString(text);
    // A long folder loses its middle; the tooltip and a screen reader have it whole.
    line->setText(line->fontMetrics().elidedText(whole, Qt::ElideMiddle, line->width() - 6));
    line->setToolTip(whole);
    line->setAccessibleName(whole);
    line->setAccessibleDescription(QStringLiteral("Opens the Serve window"));
    line->show();
}
