// SPDX-License-Identifier: MIT
// Identifiers that belong to the framework rather than to the application:
// the dialogs' own commands and the framework's strings.
#pragma once

// Commands of the framework
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
#define ID_HELP 0xE146

// Strings of the framework: file errors, in the order of CFileException's causes
#define AFX_IDP_FILE_NONE 0xF0E0
#define AFX_IDP_FILE_GENERIC 0xF0E1
#define AFX_IDP_FILE_NOT_FOUND 0xF0E2
#define AFX_IDP_FILE_BAD_PATH 0xF0E3
#define AFX_IDP_FILE_TOO_MANY_OPEN 0xF0E4
#define AFX_IDP_FILE_ACCESS_DENIED 0xF0E5
#define AFX_IDP_FILE_INVALID_FILE 0xF0E6
#define AFX_IDP_FILE_REMOVE_CURRENT 0xF0E7
#define AFX_IDP_FILE_DIR_FULL 0xF0E8
#define AFX_IDP_FILE_BAD_SEEK 0xF0E9
#define AFX_IDP_FILE_HARD_IO 0xF0EA
#define AFX_IDP_FILE_SHARING 0xF0EB
#define AFX_IDP_FILE_LOCKING 0xF0EC
#define AFX_IDP_FILE_DISKFULL 0xF0ED
#define AFX_IDP_FILE_EOF 0xF0EE

// Strings of the framework: help
#define AFX_IDP_FAILED_TO_LAUNCH_HELP 61703
