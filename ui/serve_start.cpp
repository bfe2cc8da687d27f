// SPDX-License-Identifier: MIT
#include "serve_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/core/format.h"
#include "platform/core/host_resolver.h"
#include "res/resource.h"
#include "res/strings.h"

std::optional<ServeConfig> ServeConfigOf(const ServeSettings& settings)
{
    const auto port = static_cast<UINT>(settings.nPort);
    ServeConfig config;
    config.folder = settings.folder;
    config.nPort = port;
    if (!settings.listen.empty()) {
        const HostLookupResult address = AfxLookUpHost(settings.listen, port, true);
        if (address.nError != 0 || address.addresses.empty())
            return std::nullopt;
        config.listen = {address.addresses.front()};
    }
    config.bAllowUpload = settings.bAllowUpload;
    config.bAllowCreate = settings.bAllowCreate;
    config.bReplaceExisting = settings.bReplaceExisting;
    config.bLocalNetworksOnly = settings.bLocalNetworksOnly;
    config.nMaxTransfers = settings.nMaxTransfers;
    config.nMaxPerClient = settings.nMaxPerClient;
    config.nMaxBlockSize = settings.nMaxBlockSize;
    config.nMaxWindowSize = settings.nMaxWindowSize;
    config.bBackslashIsSlash = settings.bBackslashIsSlash;
    config.bIgnoreCase = settings.bIgnoreCase;
    return config;
}

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

std::string ServeStartFailureText(ServeStartError error, const ServeSettings& settings, const std::string& detail,
                                  const BindResult& refused)
{
    const auto port = static_cast<UINT>(settings.nPort);
    const std::string where = settings.listen.empty() ? AfxLoadString(IDS_SERVE_ALL_ADDRESSES) : settings.listen;
    switch (error) {
    case ServeStartError::folder:
        if (std::string problem = ServeFolderProblem(settings.folder); !problem.empty())
            return problem;
        return AfxFormatString(AfxFindString(IDS_SERVE_FOLDER_UNREADABLE), settings.folder.c_str(), detail.c_str());
    case ServeStartError::inUse:
        return AfxFormatString(AfxFindString(IDS_SERVE_PORT_IN_USE), port, where.c_str(), port);
    case ServeStartError::notPermitted:
        if (port != TFTP_SERVER_PORT)
            return AfxFormatString(AfxFindString(IDS_SERVE_LOW_PORT_DENIED), port, port, port);
        return AfxPort69DeniedText(
            refused, AfxFindBindHelper(), AfxRealUserName(),
            {AfxFindString(IDS_SERVE_PORT_69_NO_HELPER), AfxFindString(IDS_SERVE_PORT_69_NOT_IN_GROUP),
             AfxFindString(IDS_SERVE_PORT_69_NOT_RUNNABLE), AfxFindString(IDS_SERVE_PORT_69_DENIED)});
    default:
        return AfxFormatString(AfxFindString(IDS_SERVE_BIND_FAILED), port, where.c_str(), detail.c_str());
    }
}
