// SPDX-License-Identifier: MIT
#include "dialog_units.h"

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QString>

namespace {

int MulDiv(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

} // namespace

DialogBaseUnits AfxGetDialogBaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogBaseUnits{MulDiv(width, kDialogUnitsPerPixel, 52), metrics.height() * kDialogUnitsPerPixel};
}

QRect AfxMapDialogUnits(const QRect& rect, DialogBaseUnits units)
{
    const int left = MulDiv(rect.x(), units.cx, 4 * kDialogUnitsPerPixel);
    const int top = MulDiv(rect.y(), units.cy, 8 * kDialogUnitsPerPixel);
    const int right = MulDiv(rect.x() + rect.width(), units.cx, 4 * kDialogUnitsPerPixel);
    const int bottom = MulDiv(rect.y() + rect.height(), units.cy, 8 * kDialogUnitsPerPixel);
    return QRect(left, top, right - left, bottom - top);
}

QFont AfxGetTemplateFont(const QFont& desktopFont, int nPointSize)
{
    constexpr double kTemplateDesktopPoints = 8.0;
    QFont font = desktopFont;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * nPointSize / kTemplateDesktopPoints);
    else if (font.pixelSize() > 0)
        font.setPixelSize(qRound(font.pixelSize() * nPointSize / kTemplateDesktopPoints));
    return font;
}
