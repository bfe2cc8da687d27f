// SPDX-License-Identifier: MIT
#include "dirlist.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

std::vector<DirListEntry> AfxListDirectory(const std::string& directory, UINT nFileType)
{
    const bool directories = (nFileType & DDL_DIRECTORY) != 0 && (nFileType & DDL_EXCLUSIVE) != 0;
    std::vector<DirListEntry> entries;
    if (directories && directory != "/")
        entries.push_back(DirListEntry{"[..]", ".."});

    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr)
        return entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue;
        struct stat status {};
        const std::string path = directory + (directory.back() == '/' ? "" : "/") + name;
        if (::stat(path.c_str(), &status) != 0)
            continue;
        if (directories && S_ISDIR(status.st_mode))
            entries.push_back(DirListEntry{"[" + name + "]", name});
        else if (!directories && S_ISREG(status.st_mode))
            entries.push_back(DirListEntry{name, name});
    }
    ::closedir(dir);

    std::stable_sort(entries.begin(), entries.end(), [](const DirListEntry& a, const DirListEntry& b) {
        const int folded = ::strcasecmp(a.text.c_str(), b.text.c_str());
        return folded != 0 ? folded < 0 : a.text < b.text;
    });
    return entries;
}

std::string AfxGetCurrentDirectory()
{
    // getcwd allocates what the path needs: no fixed buffer cuts a long path.
    const std::unique_ptr<char, decltype(&std::free)> path(::getcwd(nullptr, 0), &std::free);
    return path != nullptr ? std::string(path.get()) : std::string();
}
