// SPDX-License-Identifier: MIT
// Replacing a file only when its new content is whole: the new content is
// written to a file of its own beside the target and renamed over it at the
// end, so that the target is never seen half-written.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

struct ReplacementFile {
    int fd = -1;            // the new file, open for writing
    std::string tempPath;   // its name, ".NAME.XXXXXX" beside the target
    std::string targetPath; // the file it replaces: a link's target, not the link
    int dirFd = AT_FDCWD;   // what relative names are relative to (the caller's descriptor)
    // The commit only creates: a file that has taken the target's name by
    // then is kept, and the commit fails with EEXIST.
    bool bKeepExisting = false;
};

// Whether strName (one name, no "/") has the shape of a new file's name
// beside its target: ".", the target's name (its first 200 bytes), ".", and
// six ASCII letters or digits with at least one of each. Letter case does
// not matter, so a name matched without regard to case is judged alike.
// The names made here always have this shape; most people's own hidden
// files (".profile.backup", ".config.2024") do not.
bool AfxIsReplacementName(std::string_view strName);

// Prepares the replacement of the file at the full path strPath. The target
// as it is decides: a directory, pipe or socket, a file this process may not
// write, or one that the rename at the end could not replace (another's file
// in a sticky directory) is refused. Otherwise the new file is created
// exclusively beside the target, with the target's owner and permission bits
// (without set-user and set-group bits), or the creation mode for a new
// file. Returns 0, or the errno of the refusal. A device cannot be replaced:
// then *pOpenInPlace is set, pReplacement->targetPath names it and no file
// is created.
int AfxBeginReplacement(const std::string& strPath, ReplacementFile* pReplacement, bool* pOpenInPlace);

// Puts the new file in the target's place (both names in pReplacement's dirFd): its data reaches the disk before
// its name does, so a crash leaves either the old file or the whole new one.
// Closes the descriptor. Returns 0, or the errno of the failure, and then the
// new file is left for the caller to remove. With bKeepExisting the name is
// taken only while free (renameat2 RENAME_NOREPLACE, or a hard link and the
// removal of the new name where the file system has no such rename).
int AfxCommitReplacement(ReplacementFile& replacement);

// The same for strName, one name in the directory dirFd (no "/"): nothing
// outside that directory is looked at or touched, and a symbolic link is
// refused (ELOOP) rather than followed. A new file is created with nNewMode
// less the umask. pReplacement->dirFd is dirFd, which the caller keeps open
// until the commit or the removal of the new file.
int AfxBeginReplacementAt(int dirFd, const std::string& strName, unsigned nNewMode, ReplacementFile* pReplacement);

// Removes the new files of replacements that were never committed (a
// crash, a power cut) beneath dirFd: regular files whose names pass
// AfxIsReplacementName and that were last modified more than nAgeSeconds
// before now. Symbolic links are never followed; the walk goes at most
// nMaxDepth folders down and looks at no more than nMaxEntries names in all.
// Returns how many were removed.
size_t AfxRemoveOldReplacements(int dirFd, std::time_t nAgeSeconds, int nMaxDepth, size_t nMaxEntries);

// For tests: commit without replacing as if the file system had no
// RENAME_NOREPLACE.
void AfxForceLinkCommit(bool bForce);
