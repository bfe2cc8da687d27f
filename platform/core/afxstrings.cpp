// SPDX-License-Identifier: MIT
#include "afxstrings.h"

#include <algorithm>
#include <iterator>

#include "afxres.h"

namespace {

struct FrameworkString {
    UINT nID;
    const char* text;
};

// Sorted by number.
constexpr FrameworkString kStrings[] = {
    {AFX_IDP_FILE_NONE, "No error occurred."},
    {AFX_IDP_FILE_GENERIC, "An unknown error occurred while accessing %1."},
    {AFX_IDP_FILE_NOT_FOUND, "%1 was not found."},
    {AFX_IDP_FILE_BAD_PATH, "%1 contains an invalid path."},
    {AFX_IDP_FILE_TOO_MANY_OPEN, "%1 could not be opened because there are too many open files."},
    {AFX_IDP_FILE_ACCESS_DENIED, "Access to %1 was denied."},
    {AFX_IDP_FILE_INVALID_FILE, "An invalid file handle was associated with %1."},
    {AFX_IDP_FILE_REMOVE_CURRENT, "%1 could not be removed because it is the current directory."},
    {AFX_IDP_FILE_DIR_FULL, "%1 could not be created because the directory is full."},
    {AFX_IDP_FILE_BAD_SEEK, "Seek failed on %1"},
    {AFX_IDP_FILE_HARD_IO, "A hardware I/O error was reported while accessing %1."},
    {AFX_IDP_FILE_SHARING, "A sharing violation occurred while accessing %1."},
    {AFX_IDP_FILE_LOCKING, "A locking violation occurred while accessing %1."},
    {AFX_IDP_FILE_DISKFULL, "Disk full while accessing %1."},
    {AFX_IDP_FILE_EOF, "An attempt was made to access %1 past its end."},
    {AFX_IDP_FAILED_TO_LAUNCH_HELP, "Failed to launch help."},
};

static_assert(std::is_sorted(std::begin(kStrings), std::end(kStrings),
                             [](const FrameworkString& a, const FrameworkString& b) { return a.nID < b.nID; }),
              "the framework's strings must stay sorted by number");

} // namespace

const char* AfxFindFrameworkString(UINT nID)
{
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), nID,
                               [](const FrameworkString& entry, UINT id) { return entry.nID < id; });
    return it != std::end(kStrings) && it->nID == nID ? it->text : nullptr;
}
