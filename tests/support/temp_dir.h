// SPDX-License-Identifier: MIT
// A fresh directory for one test, made the current directory while it lives.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/core/afxtypes.h"

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }
    // The names in the directory, sorted, hidden ones included.
    std::vector<std::string> Names() const;

private:
    std::filesystem::path m_path;
    std::filesystem::path m_previous;
};

std::vector<BYTE> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<BYTE>& bytes);
