// SPDX-License-Identifier: MIT
// What the window remembers between runs, in the settings file of the
// transfer options, group [State]: Hosts and RemoteFiles (the last ten used,
// most recent first), Directory and Position (the window's top-left corner on
// the desktop). The mode is not remembered: every run starts in Binary, so
// that a text mode left over from another day cannot damage a firmware image.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QPoint>

inline constexpr size_t kRememberedNames = 10;

struct RememberedState {
    std::vector<std::string> hosts;
    std::vector<std::string> remoteFiles;
    std::string directory;
    std::optional<QPoint> position;
};

// Puts text first in the list, once, and keeps at most kRememberedNames.
void RememberFirst(std::vector<std::string>* pList, const std::string& text);
// Whether a typed name may be remembered: not empty, at most TFTP_MAX_NAME bytes, no
// control characters.
bool IsRememberable(const std::string& text);

// Reads what was remembered; what is missing or unreadable is left out (an
// older file's Mode among it).
RememberedState AfxLoadRememberedState();
void AfxSaveRememberedState(const RememberedState& state);
