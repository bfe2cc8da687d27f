// SPDX-License-Identifier: MIT
#include "client/request.h"

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "platform/core/format.h"
#include "protocol/errors.h"
#include "res/resource.h"
#include "res/strings.h"

namespace {

TEST(CheckRequest, NamesTheFirstFaultOrWhatTheTransferUses)
{
    const auto noFile = [](const std::string& name) {
        return AfxFormatString(AfxFindString(IDS_GET_NO_FILE_NAME), name.c_str());
    };
    const auto badHost = [](const char* host) { return AfxFormatString(AfxFindString(IDS_BAD_HOST), host); };
    const std::string longest(TFTP_MAX_NAME, 'n');
    const std::string tooLong(TFTP_MAX_NAME + 1, 'n');
    const struct {
        const char* host;
        std::string remote;
        WORD direction;
        std::string message; // empty: the request may go
        std::string local;
        std::string parsedHost;
        UINT port;
    } rows[] = {
        {"192.0.2.7", "a.txt", DIRECTION_GET, "", "a.txt", "192.0.2.7", 69},
        {"[2001:db8::5]:6969", "pxelinux.cfg/default", DIRECTION_GET, "", "default", "2001:db8::5", 6969},
        {"tftp.example", "boot/", DIRECTION_PUT, "", "", "tftp.example", 69},
        {"tftp.example", longest, DIRECTION_GET, "", longest, "tftp.example", 69},
        {"tftp.example", "boot/", DIRECTION_GET, noFile("boot/"), "", "", 0},
        {"tftp.example", "a/..", DIRECTION_GET, noFile("a/.."), "", "", 0},
        {"tftp.example", "", DIRECTION_GET, noFile(""), "", "", 0},
        {"tftp.example", tooLong, DIRECTION_PUT, SocketErrorText(ENAMETOOLONG), "", "", 0},
        {"", "a.txt", DIRECTION_GET, badHost(""), "", "", 0},
        {"127.0.0.1:0", "a.txt", DIRECTION_PUT, badHost("127.0.0.1:0"), "", "", 0},
        // The name is judged before the host.
        {"[::1", ".", DIRECTION_GET, noFile("."), "", "", 0},
        {"[::1", tooLong, DIRECTION_PUT, SocketErrorText(ENAMETOOLONG), "", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.host) + " " + row.remote.substr(0, 20));
        const TftpRequestCheck check = CheckRequest(row.host, row.remote.c_str(), row.direction);
        EXPECT_EQ(check.strMessage, row.message);
        EXPECT_EQ(check.Ok(), row.message.empty());
        if (!check.Ok())
            continue;
        EXPECT_EQ(check.strRemoteName, row.remote);
        EXPECT_EQ(check.wDirection, row.direction);
        EXPECT_EQ(check.strLocalName, row.local);
        EXPECT_EQ(check.host.host, row.parsedHost);
        EXPECT_EQ(check.host.nPort, row.port);
    }
}

} // namespace
