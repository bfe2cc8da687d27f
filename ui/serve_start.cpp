// SPDX-License-Identifier: MIT
#include "serve_start.h"

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

std::string ServeStartFailureText(ServeStartError error, const ServeSettings& settings, const std::string& detail,
                                  const BindResult& refused)
{
    const auto port = static_cast<UINT>(settings.nPort);
    const std::string where = settings.listen.empty() ? AfxLoadString(IDS_SERVE_ALL_ADDRESSES) : settings.listen;
    switch (error) {
    case ServeStartError::folder:
        return AfxFormatString(AfxFindString(IDS_SERVE_NO_FOLDER), settings.folder.c_str());
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
