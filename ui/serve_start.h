// SPDX-License-Identifier: MIT
// What the Serve window starts the server with, and what it says when the
// server cannot start.
#pragma once

#include <optional>
#include <string>

#include "platform/core/privileged_bind.h"
#include "server/server.h"
#include "transfer_settings.h"

// The server's configuration for the window's choices; none when the Listen
// address is not one of this computer's.
std::optional<ServeConfig> ServeConfigOf(const ServeSettings& settings);

// Why folder cannot be served, for the user: none chosen, it does not exist,
// it is not a folder, or this user cannot read it (and why); empty when it
// can be served.
std::string ServeFolderProblem(const std::string& folder);
// The same for the system's error nErrno from opening it.
std::string ServeFolderProblemText(const std::string& folder, int nErrno);

// The message for a server that could not start: which port and address,
// and the way out (another port, the helper's group, the command to run).
// refused is what the port 69 helper answered, when it was run.
std::string ServeStartFailureText(ServeStartError error, const ServeSettings& settings, const std::string& detail,
                                  const BindResult& refused);
