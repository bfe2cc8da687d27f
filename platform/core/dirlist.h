// SPDX-License-Identifier: MIT
// Listing a directory the way the directory and file lists show it.
#pragma once

#include <string>
#include <vector>

#include "afxtypes.h"

inline constexpr UINT DDL_DIRECTORY = 0x0010;
inline constexpr UINT DDL_DRIVES = 0x4000;
inline constexpr UINT DDL_EXCLUSIVE = 0x8000;

struct DirListEntry {
    std::string text; // as the list shows it: "name", or "[name]" for a directory
    std::string name; // the entry's own name, byte for byte
};

// With DDL_DIRECTORY and DDL_EXCLUSIVE: the sub-directories of `directory` as
// "[name]", with "[..]" unless it is the root. Otherwise: its regular files.
// Links count as what they point to; hidden (dot) entries are left out.
// Sorted by the shown text, ignoring case. There are no drives to list.
std::vector<DirListEntry> AfxListDirectory(const std::string& directory, UINT nFileType);

// The process's current directory, however long; empty when it cannot be read.
std::string AfxGetCurrentDirectory();
