// SPDX-License-Identifier: MIT
// What the Serve window checks before it starts the server.
#pragma once

#include <string>

// Why folder cannot be served, for the user: none chosen, it does not exist,
// it is not a folder, or this user cannot read it (and why); empty when it
// can be served.
std::string ServeFolderProblem(const std::string& folder);
// The same for the system's error nErrno from opening it.
std::string ServeFolderProblemText(const std::string& folder, int nErrno);
