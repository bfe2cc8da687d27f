// SPDX-License-Identifier: MIT
#include "server/serve_failure.h"

#include "platform/core/format.h"

std::string ServeFailureLine(ServeStartError error, const ServeConfig& config, const std::string& detail,
                             const BindResult& refused)
{
    const UINT port = config.nPort;
    const char* where = detail.c_str();
    switch (error) {
    case ServeStartError::none:
        return {};
    case ServeStartError::folder:
        return AfxFormatString("Cannot serve %s. Check that this user may open and read the folder: "
                               "ls -ld %s",
                               where, config.folder.c_str());
    case ServeStartError::inUse:
        return AfxFormatString("Cannot serve on %s: another program, such as tftpd-hpa, atftpd or dnsmasq, holds "
                               "the port. Stop it (for example: sudo systemctl stop tftpd-hpa) or serve on another "
                               "port (--port 6969). This command shows which program holds it: sudo ss -ulpn "
                               "'sport = :%u'",
                               where, port);
    case ServeStartError::notPermitted:
        if (port != TFTP_SERVER_PORT)
            return AfxFormatString("Cannot serve on %s: ports below 1024 need a privilege this user does not have, "
                                   "and the helper binds only port 69. Serve on port 69 or on a port from 1024 up "
                                   "(--port 6969).",
                                   where);
        return AfxPort69DeniedText(
            refused, AfxFindBindHelper(), AfxRealUserName(),
            {"Cannot serve on port 69: its helper %s is missing; installing Tarnwick again brings it back. Or serve "
             "on port 6969 (--port 6969), which needs no helper.",
             "Port 69 is for members of the group %s. Ask an administrator to run: sudo adduser %s %s (then log in "
             "again), or serve on port 6969 (--port 6969). Only that group may run the helper %s, and %s is not in "
             "%s in this session.",
             "Cannot serve on port 69: its helper %s may not be run by %s. Ask an administrator; this command shows "
             "who may run it: ls -l %s. Or serve on port 6969 (--port 6969).",
             "Cannot serve on port 69: its helper %s does not hold the privilege to bind it. An administrator can "
             "give it that privilege with: sudo setcap cap_net_bind_service=ep %s. Or serve on port 6969 "
             "(--port 6969)."});
    case ServeStartError::other:
        break;
    }
    return AfxFormatString("Cannot serve on %s.", where);
}

const char* Port69ReasonName(HelperRefusal refusal)
{
    switch (refusal) {
    case HelperRefusal::Missing:
        return "port69-no-helper";
    case HelperRefusal::NotInGroup:
        return "port69-not-in-group";
    case HelperRefusal::NotRunnable:
        return "port69-not-runnable";
    case HelperRefusal::None:
    case HelperRefusal::WithoutCapability:
        break;
    }
    return "port69-no-capability";
}

std::vector<std::pair<std::string, std::string>> ServeFailureFields(ServeStartError error, const ServeConfig& config,
                                                                    const BindResult& refused)
{
    if (error != ServeStartError::notPermitted || config.nPort != TFTP_SERVER_PORT)
        return {};
    std::vector<std::pair<std::string, std::string>> fields = {
        {"reason_code", Port69ReasonName(refused.refusal)},
        {"helper", AfxFindBindHelper()},
        {"user", AfxRealUserName()},
    };
    if (refused.refusal == HelperRefusal::NotInGroup)
        fields.emplace_back("group", refused.helperGroup);
    return fields;
}
