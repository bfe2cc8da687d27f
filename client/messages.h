// SPDX-License-Identifier: MIT
// The messages a client's transfer posts to the window that owns it.
#pragma once

#include "platform/core/wnd.h"

// Posted to the main window (wParam 0).
inline constexpr UINT WM_TFTP_PROGRESS = WM_USER + 1; // lParam: payload bytes of one block
inline constexpr UINT WM_TFTP_COMPLETE = WM_USER + 2;
inline constexpr UINT WM_TFTP_STARTED = WM_USER + 3;
inline constexpr UINT WM_TFTP_FAILED = WM_USER + 4;
inline constexpr UINT WM_TFTP_TIMEOUT = WM_USER + 5;
inline constexpr UINT WM_TFTP_REQUEST_SENT = WM_USER + 6;
// The server granted options (an OACK): the transfer's Granted() values hold.
inline constexpr UINT WM_TFTP_OPTIONS = WM_USER + 7;
// The host name is being looked up; WM_TFTP_REQUEST_SENT follows, or WM_TFTP_FAILED.
inline constexpr UINT WM_TFTP_RESOLVING = WM_USER + 8;
