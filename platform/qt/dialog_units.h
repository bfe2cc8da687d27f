// SPDX-License-Identifier: MIT
// Dialog units: a template's coordinates, in quarters of the dialog font's
// average character width and eighths of its height.
#pragma once

class QFont;
class QRect;

// The pixels per four horizontal and per eight vertical dialog units of a
// font, in sixteenths of a pixel: the average width of the 52 letters A-Z,
// a-z and the font's height. Kept finer than whole pixels, so that a text
// that fits its control at one font size fits it at every other.
struct DialogBaseUnits {
    int cx;
    int cy;
};
inline constexpr int kDialogUnitsPerPixel = 16;
DialogBaseUnits AfxGetDialogBaseUnits(const QFont& font);

// A rectangle in dialog units to pixels, rounding each edge to the nearest.
QRect AfxMapDialogUnits(const QRect& rect, DialogBaseUnits units);

// The font of a template that names nPointSize points: the desktop's general
// font, family and size, scaled as the template's size stands to a desktop of
// 8 points, so that the window and its dialog units grow with the desktop's
// font and keep their proportions.
QFont AfxGetTemplateFont(const QFont& desktopFont, int nPointSize);
