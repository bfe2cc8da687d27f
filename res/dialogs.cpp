// SPDX-License-Identifier: MIT
#include "dialogs.h"

#include <iterator>

#include "resource.h"

namespace {

constexpr STYLE kListBox = LBS_SORT | LBS_NOTIFY | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | WS_BORDER | WS_TABSTOP;
constexpr STYLE kEdit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;

constexpr DialogControl kMainControls[] = {
    {ControlKind::ListBox, IDC_DIR_LIST, "", kListBox, 0, 17, 65, 140, 41},
    {ControlKind::ListBox, IDC_FILE_LIST, "", kListBox, 0, 17, 109, 140, 79},
    {ControlKind::Edit, IDC_REMOTE_FILE, "", kEdit, 0, 17, 18, 140, 12},
    {ControlKind::Edit, IDC_REMOTE_HOST, "", kEdit, 0, 187, 18, 117, 12},
    {ControlKind::RadioButton, IDC_MODE_ASCII, "Ascii", WS_TABSTOP, 0, 207, 130, 35, 10},
    {ControlKind::RadioButton, IDC_MODE_BINARY, "Binary", WS_TABSTOP, 0, 253, 130, 36, 10},
    {ControlKind::PushButton, IDC_PUT, "-->", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP | WS_DISABLED, 0, 197, 157, 50,
     14},
    {ControlKind::PushButton, IDC_GET, "<--", WS_GROUP | WS_TABSTOP | WS_DISABLED, 0, 249, 157, 50, 14},
    {ControlKind::PushButton, IDC_ABORT, "Abort", WS_TABSTOP | WS_DISABLED, 0, 197, 173, 101, 16},
    // Apart by the usual gap between buttons, the pair centred as before.
    {ControlKind::PushButton, IDOK, "Exit", WS_TABSTOP, 0, 112, 201, 50, 14},
    {ControlKind::PushButton, ID_HELP, "&Help", WS_TABSTOP, 0, 166, 201, 50, 14},
    {ControlKind::Static, IDC_CURRENT_DIR, "", SS_SUNKEN | SS_PATHELLIPSIS, 0, 17, 53, 140, 9},
    {ControlKind::GroupBox, IDC_STATIC, "Local Directory", 0, 0, 7, 42, 160, 153},
    {ControlKind::GroupBox, IDC_STATIC, "Remote Host", 0, 0, 173, 7, 146, 29},
    {ControlKind::GroupBox, IDC_STATIC, "Transmission Control", 0, 0, 173, 42, 146, 153},
    {ControlKind::GroupBox, IDC_STATIC, "Mode", 0, 0, 197, 117, 99, 32},
    {ControlKind::Progress, IDC_PROGRESS, "", 0, 0, 187, 64, 117, 9},
    {ControlKind::Static, IDC_STATUS_LABELS, "Status:\nFile Size:\nSent (bytes):\nTransmission Rate:", 0, 0, 187, 75,
     64, 33},
    {ControlKind::Static, IDC_STATUS_VALUES, "", 0, 0, 251, 75, 52, 33},
    {ControlKind::GroupBox, IDC_STATIC, "Status", 0, 0, 177, 54, 136, 58},
    {ControlKind::GroupBox, IDC_STATIC, "Remote File", 0, 0, 7, 7, 159, 29},
    // The window's own menu, for those who look for it on the window.
    {ControlKind::PushButton, IDC_MENU_BUTTON, "\u2630", WS_TABSTOP, 0, 299, 201, 20, 14},
};

constexpr DialogControl kAboutControls[] = {
    {ControlKind::Icon, IDC_STATIC, "132", 0, 0, 7, 13, 20, 20},
    {ControlKind::Static, IDC_STATIC, "Tarnwick V" TARNWICK_VERSION_SHORT, SS_NOPREFIX | WS_GROUP, 0, 42, 14, 85, 21},
    {ControlKind::PushButton, IDOK, "OK", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0, 178, 7, 32, 14},
    {ControlKind::GroupBox, IDC_STATIC, "System Information", 0, 0, 7, 43, 203, 41},
    {ControlKind::Static, IDC_DISK_SPACE, "", 0, 0, 115, 70, 76, 8},
    {ControlKind::Static, IDC_STATIC, "Available System Memory:", WS_GROUP, 0, 15, 55, 87, 10},
    {ControlKind::Static, IDC_STATIC, "Disk Space:", WS_GROUP, 0, 15, 68, 81, 8},
    {ControlKind::Static, IDC_MEMORY, "", 0, 0, 115, 57, 76, 8},
};

constexpr DialogControl kLogControls[] = {
    {ControlKind::ListBox, IDC_LOG_LIST, "",
     WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_EXTENDEDSEL | LBS_NOINTEGRALHEIGHT | WS_TABSTOP,
     WS_EX_CLIENTEDGE, 7, 7, 311, 62},
    {ControlKind::PushButton, IDC_LOG_SAVE, "&Save...", WS_TABSTOP, 0, 268, 73, 50, 14},
};

constexpr DialogControl kOptionsControls[] = {
    {ControlKind::CheckBox, IDC_OPT_NEGOTIATE, "&Negotiate options (RFC 2347)", WS_TABSTOP, 0, 7, 7, 186, 10},
    {ControlKind::Static, IDC_STATIC, "&Block size (8-65464 bytes):", 0, 0, 17, 24, 110, 8},
    {ControlKind::Edit, IDC_OPT_BLOCK_SIZE, "", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 133, 22, 60, 12},
    {ControlKind::Static, IDC_STATIC, "&Window size (1-64 blocks):", 0, 0, 17, 40, 110, 8},
    {ControlKind::Edit, IDC_OPT_WINDOW_SIZE, "", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 133, 38, 60, 12},
    {ControlKind::Static, IDC_STATIC, "T&imeout (1-255 s, 0: none):", 0, 0, 17, 56, 110, 8},
    {ControlKind::Edit, IDC_OPT_TIMEOUT, "", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 133, 54, 60, 12},
    {ControlKind::CheckBox, IDC_OPT_FILE_SIZE, "Ask for the file &size (tsize)", WS_TABSTOP, 0, 17, 72, 176, 10},
    {ControlKind::PushButton, IDOK, "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 87, 90, 50, 14},
    {ControlKind::PushButton, IDCANCEL, "Cancel", WS_TABSTOP, 0, 143, 90, 50, 14},
};

constexpr STYLE kServeEdit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;

// In tab order: top to bottom, left to right. The transfers' list takes what
// the window grows by; what stands right of or below it follows the edges.
constexpr DialogControl kServeControls[] = {
    {ControlKind::Static, IDC_STATIC, "&Folder:", 0, 0, 7, 9, 44, 8},
    {ControlKind::Edit, IDC_SERVE_FOLDER, "", kServeEdit, 0, 54, 7, 276, 12, kGrowRight},
    {ControlKind::PushButton, IDC_SERVE_BROWSE, "&Browse...", WS_TABSTOP, 0, 336, 6, 57, 14, kMoveRight},
    {ControlKind::Static, IDC_STATIC, "&Listen on:", 0, 0, 7, 26, 44, 8},
    {ControlKind::ComboBox, IDC_SERVE_LISTEN, "", WS_TABSTOP, 0, 54, 24, 150, 13},
    {ControlKind::Static, IDC_STATIC, "&Port:", 0, 0, 212, 26, 22, 8},
    {ControlKind::Edit, IDC_SERVE_PORT, "", kServeEdit, 0, 236, 24, 36, 12},
    {ControlKind::CheckBox, IDC_SERVE_UPLOAD, "Allow &uploads:", WS_TABSTOP, 0, 7, 42, 72, 10},
    {ControlKind::CheckBox, IDC_SERVE_CREATE, "Allow &new files", WS_TABSTOP, 0, 82, 42, 80, 10},
    {ControlKind::CheckBox, IDC_SERVE_REPLACE, "&Replace existing files", WS_TABSTOP, 0, 165, 42, 110, 10},
    {ControlKind::CheckBox, IDC_SERVE_LOCAL, "Answer only l&ocal networks", WS_TABSTOP, 0, 7, 57, 150, 10},
    {ControlKind::CheckBox, IDC_SERVE_NETBOOT, "Net&work boot", WS_TABSTOP | WS_DISABLED, 0, 160, 57, 110, 10},
    {ControlKind::PushButton, IDC_SERVE_USE_6969, "Use port &6969", WS_TABSTOP | WS_DISABLED, 0, 273, 55, 60, 14,
     kMoveRight},
    {ControlKind::PushButton, IDC_SERVE_START, "&Start", BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 336, 55, 57, 14, kMoveRight},
    {ControlKind::Static, IDC_SERVE_STATUS, "", SS_NOPREFIX, 0, 7, 73, 386, 34, kGrowRight},
    {ControlKind::Static, IDC_STATIC, "This computer's &addresses:", 0, 0, 7, 110, 120, 8},
    {ControlKind::ListBox, IDC_SERVE_ADDRESSES, "", WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOINTEGRALHEIGHT, 0, 7,
     120, 325, 34, kGrowRight},
    {ControlKind::PushButton, IDC_SERVE_COPY, "&Copy", WS_TABSTOP, 0, 336, 120, 57, 14, kMoveRight},
    {ControlKind::PushButton, IDC_SERVE_COPY_HINT, "Copy h&int", WS_TABSTOP, 0, 336, 137, 57, 14, kMoveRight},
    {ControlKind::Static, IDC_STATIC, "&Transfers:", 0, 0, 7, 160, 44, 8},
    {ControlKind::Static, IDC_SERVE_COUNT, "", SS_NOPREFIX, 0, 54, 160, 339, 8, kGrowRight},
    {ControlKind::ListView, IDC_SERVE_TRANSFERS,
     "Client\tFile\tDirection\tOptions\tBytes\tProgress\tRate\tResends\tState", WS_BORDER | WS_TABSTOP, 0, 7, 170, 386,
     118, kGrow},
    {ControlKind::PushButton, IDC_SERVE_CLEAR, "Cl&ear finished", WS_TABSTOP, 0, 7, 293, 70, 14, kMoveDown},
    {ControlKind::PushButton, IDC_SERVE_COPY_IPXE, "Cop&y iPXE boot files into the folder", WS_TABSTOP, 0, 80, 293, 135,
     14, kMoveDown},
    {ControlKind::PushButton, IDC_SERVE_WRITE_SCRIPT, "Write boot.ip&xe", WS_TABSTOP, 0, 218, 293, 64, 14, kMoveDown},
    {ControlKind::PushButton, ID_HELP, "&Help", WS_TABSTOP, 0, 286, 293, 50, 14, kMoveRight | kMoveDown},
    {ControlKind::PushButton, IDCANCEL, "Close", WS_TABSTOP, 0, 343, 293, 50, 14, kMoveRight | kMoveDown},
};

constexpr DialogTemplate kTemplates[] = {
    {IDD_ABOUT, "About tarnwick", "MS Sans Serif", 8, 217, 90, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0,
     kAboutControls, std::size(kAboutControls)},
    {IDD_MAIN, "Tarnwick", "MS Sans Serif", 8, 327, 222,
     WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_3DLOOK | DS_CENTER,
     WS_EX_APPWINDOW | WS_EX_CLIENTEDGE | WS_EX_CONTEXTHELP, kMainControls, std::size(kMainControls)},
    {IDD_LOG, "Tarnwick Log Window", "MS Sans Serif", 8, 325, 93, WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_3DLOOK,
     WS_EX_CLIENTEDGE, kLogControls, std::size(kLogControls)},
    {IDD_OPTIONS, "Transfer Options", "MS Sans Serif", 8, 200, 111,
     WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_CENTER, 0, kOptionsControls,
     std::size(kOptionsControls)},
    {IDD_SERVE, "Serve Folder", "MS Sans Serif", 8, 400, 314,
     WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME | DS_3DLOOK | DS_CENTER, WS_EX_APPWINDOW,
     kServeControls, std::size(kServeControls)},
};

} // namespace

const DialogTemplate* AfxFindDialogTemplate(unsigned nID)
{
    for (const DialogTemplate& dialogTemplate : kTemplates) {
        if (dialogTemplate.nID == nID)
            return &dialogTemplate;
    }
    return nullptr;
}

std::span<const DialogTemplate> AfxDialogTemplates()
{
    return kTemplates;
}
