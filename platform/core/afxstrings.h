// SPDX-License-Identifier: MIT
// The framework's own texts: the file errors and the help's failure.
#pragma once

#include "afxtypes.h"

// The text of framework string nID (an AFX_IDP_* number), or nullptr.
const char* AfxFindFrameworkString(UINT nID);
