// SPDX-License-Identifier: MIT
// The string table: every text the program shows, by number. The
// framework's own strings (AFX_IDP_*) are found here too.
#pragma once

#include <string>

#include "platform/core/msgbox.h"

// The text of string nID, or nullptr when the table has no such string.
const char* AfxFindString(unsigned int nID);

// The text of string nID; empty when the table has no such string.
std::string AfxLoadString(unsigned int nID);

// Shows string nIDPrompt of the table in a message box (AfxMessageBox).
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));
