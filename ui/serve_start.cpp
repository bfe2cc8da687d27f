// SPDX-License-Identifier: MIT
#include "serve_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/core/format.h"
#include "protocol/tftp.h"
#include "res/resource.h"
#include "res/strings.h"

std::string ServeFolderProblemText(const std::string& folder, int nErrno)
{
    if (folder.empty())
        return AfxLoadString(IDS_SERVE_NO_FOLDER_CHOSEN);
    switch (nErrno) {
    case 0:
        return {};
    case ENOENT:
        return AfxFormatString(AfxFindString(IDS_SERVE_FOLDER_MISSING), folder.c_str());
    case ENOTDIR:
        return AfxFormatString(AfxFindString(IDS_SERVE_NO_FOLDER), folder.c_str());
    default: {
        // The system's words, as part of a sentence.
        std::string reason = std::strerror(nErrno);
        if (!reason.empty())
            reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
        return AfxFormatString(AfxFindString(IDS_SERVE_FOLDER_UNREADABLE), folder.c_str(), reason.c_str());
    }
    }
}

std::string ServeFolderProblem(const std::string& folder)
{
    if (folder.empty())
        return ServeFolderProblemText(folder, 0);
    // The server opens the folder to read it, and its files beneath it:
    // both reading and searching it are needed.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (::faccessat(fd, ".", R_OK | X_OK, AT_EACCESS) != 0)
            error = errno;
        ::close(fd);
    }
    return ServeFolderProblemText(folder, error);
}

std::string WithoutZone(const std::string& address)
{
    return address.substr(0, address.find('%'));
}

std::string ServeHint(const std::string& address, bool bIpv6, int nPort)
{
    std::string hint = (bIpv6 ? "setenv serverip6 " : "setenv serverip ") + WithoutZone(address);
    if (nPort != static_cast<int>(TFTP_SERVER_PORT))
        hint += "; setenv tftpdstp " + std::to_string(nPort);
    return hint;
}
