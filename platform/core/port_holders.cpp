// SPDX-License-Identifier: MIT
#include "port_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>

namespace {

// The inodes of the sockets bound to nPort in one of /proc/net/udp's tables,
// whose lines read "sl local_address rem_address st tx:rx tr:when retrnsmt
// uid timeout inode ...", the local address as HEX:PORT in hexadecimal.
void SocketsOnPort(const char* lpszTable, UINT nPort, std::set<unsigned long>* pInodes)
{
    std::ifstream table(lpszTable);
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        char local[64] = {};
        unsigned long inode = 0;
        if (std::sscanf(line.c_str(), " %*s %63s %*s %*s %*s %*s %*s %*s %*s %lu", local, &inode) != 2)
            continue;
        const char* colon = std::strrchr(local, ':');
        if (colon != nullptr && std::strtoul(colon + 1, nullptr, 16) == nPort && inode != 0)
            pInodes->insert(inode);
    }
}

std::string ProcessName(const std::string& pid)
{
    std::ifstream file("/proc/" + pid + "/comm");
    std::string name;
    std::getline(file, name);
    name.resize(std::min<size_t>(name.size(), 64));
    for (char& c : name)
        if (c < 0x20 || c > 0x7e)
            c = '?';
    return name.empty() ? "?" : name;
}

bool IsNumber(const char* lpszText)
{
    return *lpszText != '\0' &&
           std::all_of(lpszText, lpszText + std::strlen(lpszText), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether the process pid has one of inodes open; a process that may not be
// looked into has none.
bool HoldsOne(const std::string& pid, const std::set<unsigned long>& inodes)
{
    const std::string folder = "/proc/" + pid + "/fd";
    const std::unique_ptr<DIR, int (*)(DIR*)> fds(::opendir(folder.c_str()), ::closedir);
    if (!fds)
        return false;
    while (const dirent* entry = ::readdir(fds.get())) {
        char target[64];
        const ssize_t length = ::readlinkat(::dirfd(fds.get()), entry->d_name, target, sizeof target - 1);
        unsigned long inode = 0;
        if (length <= 0)
            continue;
        target[length] = '\0';
        if (std::sscanf(target, "socket:[%lu]", &inode) == 1 && inodes.contains(inode))
            return true;
    }
    return false;
}

} // namespace

std::vector<std::string> AfxUdpPortHolders(UINT nPort)
{
    std::set<unsigned long> inodes;
    SocketsOnPort("/proc/net/udp", nPort, &inodes);
    SocketsOnPort("/proc/net/udp6", nPort, &inodes);
    std::vector<std::string> holders;
    if (inodes.empty())
        return holders;
    const std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    while (proc && holders.size() < kMaxPortHolders) {
        const dirent* entry = ::readdir(proc.get());
        if (entry == nullptr)
            break;
        if (IsNumber(entry->d_name) && HoldsOne(entry->d_name, inodes))
            holders.push_back(ProcessName(entry->d_name) + " (" + entry->d_name + ")");
    }
    return holders;
}
