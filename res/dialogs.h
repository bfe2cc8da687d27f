// SPDX-License-Identifier: MIT
// The dialog templates as data: the window's caption, size and styles, and
// every control in template order (which is also the tab order), with
// rectangles in dialog units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

using STYLE = std::uint32_t;

// Window and dialog styles
inline constexpr STYLE WS_POPUP = 0x80000000;
inline constexpr STYLE WS_VISIBLE = 0x10000000;
inline constexpr STYLE WS_DISABLED = 0x08000000;
inline constexpr STYLE WS_CAPTION = 0x00C00000;
inline constexpr STYLE WS_BORDER = 0x00800000;
inline constexpr STYLE WS_VSCROLL = 0x00200000;
inline constexpr STYLE WS_HSCROLL = 0x00100000;
inline constexpr STYLE WS_SYSMENU = 0x00080000;
// A frame the user can resize; the template's size is the smallest.
inline constexpr STYLE WS_THICKFRAME = 0x00040000;
inline constexpr STYLE WS_GROUP = 0x00020000;
inline constexpr STYLE WS_TABSTOP = 0x00010000;
inline constexpr STYLE WS_MINIMIZEBOX = 0x00020000;
inline constexpr STYLE DS_MODALFRAME = 0x0080;
inline constexpr STYLE DS_3DLOOK = 0x0004;
inline constexpr STYLE DS_CENTER = 0x0800;
inline constexpr STYLE WS_EX_CLIENTEDGE = 0x00000200;
inline constexpr STYLE WS_EX_APPWINDOW = 0x00040000;
inline constexpr STYLE WS_EX_CONTEXTHELP = 0x00000400;

// Control styles
inline constexpr STYLE BS_DEFPUSHBUTTON = 0x0001;
inline constexpr STYLE LBS_NOTIFY = 0x0001;
inline constexpr STYLE LBS_SORT = 0x0002;
inline constexpr STYLE LBS_NOINTEGRALHEIGHT = 0x0100;
// Lines are chosen as in a file manager: Shift and Ctrl widen the choice.
inline constexpr STYLE LBS_EXTENDEDSEL = 0x0800;
inline constexpr STYLE LBS_NOSEL = 0x4000;
inline constexpr STYLE ES_AUTOHSCROLL = 0x0080;
inline constexpr STYLE SS_NOPREFIX = 0x0080;
inline constexpr STYLE SS_SUNKEN = 0x1000;
// A path too long for the control loses its middle to an ellipsis.
inline constexpr STYLE SS_PATHELLIPSIS = 0x8000;

enum class ControlKind {
    PushButton,
    RadioButton, // automatic
    ListBox,
    Edit,   // single line
    Static, // text
    Icon,   // static icon
    GroupBox,
    Progress,
    CheckBox, // automatic
    ComboBox, // a box to type in, with a list of choices
    ListView, // rows in columns; the text names the columns, separated by '\t'
};

// How a control follows a window with WS_THICKFRAME that grows past its
// template's size: the edges that keep their distance to the window's right
// or bottom edge. None: it keeps its place and size.
enum Anchor : unsigned char {
    kStayPut = 0,
    kGrowRight = 1, // the right edge follows: wider
    kGrowDown = 2,  // the bottom edge follows: taller
    kMoveRight = 4, // both side edges follow: moves right
    kMoveDown = 8,  // both top and bottom follow: moves down
    kGrow = kGrowRight | kGrowDown,
};

struct DialogControl {
    ControlKind kind;
    int nID;          // IDC_STATIC for none
    const char* text; // for an icon, the icon's resource number in decimal
    STYLE style;
    STYLE exStyle;
    short x, y, cx, cy;
    unsigned anchor = kStayPut; // Anchor flags
};

struct DialogTemplate {
    unsigned nID;
    const char* caption;
    const char* fontFace;
    int nPointSize;
    short cx, cy;
    STYLE style;
    STYLE exStyle;
    const DialogControl* controls;
    std::size_t nControls;
};

// The template of that number, or nullptr.
const DialogTemplate* AfxFindDialogTemplate(unsigned nID);
// Every template of the program.
std::span<const DialogTemplate> AfxDialogTemplates();
