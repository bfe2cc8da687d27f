// SPDX-License-Identifier: MIT
// What the window remembers between runs, in the settings file of the
// transfer options, group [State]: Hosts and RemoteFiles (the last ten used,
// most recent first), Mode (binary or netascii), Directory and Position (the
// window's top-left corner on the desktop).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QPoint>

#include "platform/core/afxtypes.h"

inline constexpr size_t kRememberedNames = 10;

struct RememberedState {
    std::vector<std::string> hosts;
    std::vector<std::string> remoteFiles;
    std::optional<WORD> mode; // MODE_BINARY or MODE_ASCII
    std::string directory;
    std::optional<QPoint> position;
};

// Puts text first in the list, once, and keeps at most kRememberedNames.
void RememberFirst(std::vector<std::string>* pList, const std::string& text);

// Reads what was remembered; what is missing or unreadable is left out.
RememberedState AfxLoadRememberedState();
void AfxSaveRememberedState(const RememberedState& state);
