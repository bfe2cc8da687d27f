// SPDX-License-Identifier: MIT
// The program's one way to put a message in front of the user.
#pragma once

#include <string>
#include <string_view>

#include "afxtypes.h"

// Shows a message box and returns IDOK or IDCANCEL. The text is always shown
// as plain text: it may carry a server's or a user's words. A line that
// begins with a tab is a command for the user to run: the box shows it whole,
// on a line of its own, with a button that copies it.
class IMessageBoxHandler {
public:
    virtual ~IMessageBoxHandler() = default;
    virtual int Show(std::string_view text, UINT nType) = 0;
};

// Installs the process-wide handler and returns the previous one. With no
// handler installed the text goes to standard error and a box with a Cancel
// button answers IDCANCEL, so nothing starts without a confirmation.
IMessageBoxHandler* AfxSetMessageBoxHandler(IMessageBoxHandler* pHandler);

int AfxMessageBox(std::string_view text, UINT nType = MB_OK, UINT nIDHelp = 0);
