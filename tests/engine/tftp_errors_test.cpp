// SPDX-License-Identifier: MIT
#include "engine/tftp_errors.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/fake_peer.h"

namespace {

TEST(SocketErrorText, MapsErrnoToTheFourCases)
{
    struct Row {
        int error;
        std::string text;
    };
    const std::string unavailable = AfxLoadString(IDS_DESTINATION_UNAVAILABLE);
    const Row rows[] = {
        {EINVAL, unavailable},
        {EADDRNOTAVAIL, unavailable},
        {ENETUNREACH, "The destination you requested in not currently reachable.  Select a new destination or try "
                      "again later."},
        {ECONNABORTED, "Your session has been aborted due to a timeout or general error."},
        {ECONNREFUSED, "This session has been aborted due to a general failure.\nError code: 111"},
        {0, "This session has been aborted due to a general failure.\nError code: 0"},
        {-5, "This session has been aborted due to a general failure.\nError code: -5"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(SocketErrorText(row.error), row.text) << row.error;
}

TEST(PeerErrorText, ChosenByCode)
{
    struct Row {
        Bytes datagram;
        std::string text;
    };
    const Row rows[] = {
        {ErrorPacket(0, "Only this text"), "Only this text"},
        {ErrorPacket(0, "%s%n%d"), "%s%n%d"}, // shown as it is, never formatted
        {ErrorPacket(0, "unterminated", false), "unterminated"},
        {ErrorPacket(0, "", false), ""},
        {ErrorPacket(0, ""), ""},
        {ErrorPacket(1, "ignored"), AfxLoadString(IDS_PEER_FILE_NOT_FOUND)},
        {ErrorPacket(2, "ignored"), AfxLoadString(IDS_PEER_ACCESS_VIOLATION)},
        {ErrorPacket(3, "ignored"), AfxLoadString(IDS_PEER_DISK_FULL)},
        {ErrorPacket(4, "ignored"), "An illegal operation occurred during transmission.\n Check transmission settings "
                                    "and try again."},
        {ErrorPacket(5, "ignored"), AfxLoadString(IDS_PEER_UNKNOWN_TID)},
        {ErrorPacket(6, "ignored"), AfxLoadString(IDS_PEER_FILE_EXISTS)},
        {ErrorPacket(7, "No such user"), AfxLoadString(IDS_UNSPECIFIED_ERROR)},
        {ErrorPacket(65535, ""), AfxLoadString(IDS_UNSPECIFIED_ERROR)},
    };
    for (const Row& row : rows) {
        Bytes exact(row.datagram);
        EXPECT_EQ(PeerErrorText(exact.data(), static_cast<int>(exact.size())), row.text);
    }
}

} // namespace
