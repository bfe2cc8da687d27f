// SPDX-License-Identifier: MIT
// Where a Get stores the file it retrieves.
#pragma once

#include <string_view>

// The local file of a Get: the remote name's last component, the text after
// its last '/', always created in the directory the window shows, so that no
// remote name places a file anywhere else. Empty when that component is no
// file name: "", "." or "..".
std::string_view LocalNameOfRemote(std::string_view remoteName);
