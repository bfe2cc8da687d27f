// SPDX-License-Identifier: MIT
#include "protocol/errors.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/core/file_exception.h"
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

TEST(PeerErrorReport, NamesTheTransferTheCodeAndTheServersText)
{
    struct Row {
        WORD code;
        WORD direction;
        std::string serverText;
        std::string text;
    };
    const std::string x199(199, 'x');
    const Row rows[] = {
        {2, DIRECTION_PUT, "Permission denied",
         AfxLoadString(IDS_PEER_ACCESS_VIOLATION) +
             "\n\nPut of \"n\" to h: the server answered TFTP error 2, access "
             "violation (\"Permission denied\").\n" +
             AfxLoadString(IDS_HINT_SERVER_CREATES)},
        {1, DIRECTION_GET, "",
         AfxLoadString(IDS_PEER_FILE_NOT_FOUND) +
             "\n\nGet of \"n\" from h: the server answered TFTP error 1, file not "
             "found.\n" +
             AfxLoadString(IDS_HINT_GET_NOT_FOUND)},
        {9, DIRECTION_GET, "odd",
         AfxLoadString(IDS_UNSPECIFIED_ERROR) + "\n\nGet of \"n\" from h: the server answered TFTP error 9 (\"odd\")."},
        // Code 0: the server's text is the first paragraph, and only there.
        {0, DIRECTION_GET, "a\r\nb%n\x1b\t",
         "a  b%n\n\nGet of \"n\" from h: the server answered TFTP error 0, not defined."},
        {0, DIRECTION_PUT, "", "Put of \"n\" to h: the server answered TFTP error 0, not defined."},
        // A long text is cut, never inside a character.
        {5, DIRECTION_PUT, x199 + "\xc3\xa9z",
         AfxLoadString(IDS_PEER_UNKNOWN_TID) +
             "\n\nPut of \"n\" to h: the server answered TFTP error 5, unknown "
             "transfer ID (\"" +
             x199 + "...\")."},
    };
    for (const Row& row : rows) {
        const Bytes datagram = ErrorPacket(row.code, row.serverText);
        EXPECT_EQ(PeerErrorReport(row.direction, "n", "h", datagram.data(), static_cast<int>(datagram.size())),
                  row.text);
    }
}

TEST(FileErrorTexts, NameThePathAndTheSystemsReason)
{
    struct Row {
        UINT nID; // the open's string; 0: an error during the transfer
        long error;
        std::string text;
    };
    const Row rows[] = {
        {IDS_OPEN_WRITE_FAILED, EACCES, "Unable to open the selected file for writing.\n/ro/b: Permission denied"},
        {IDS_OPEN_READ_FAILED, ENOENT,
         "Unable to open the selected file for reading.\n/ro/b: No such file or directory"},
        // The string's guess at a file in use stands where it is right, or nothing is known.
        {IDS_OPEN_WRITE_FAILED, ETXTBSY, AfxLoadString(IDS_OPEN_WRITE_FAILED)},
        {IDS_OPEN_READ_FAILED, -1, AfxLoadString(IDS_OPEN_READ_FAILED)},
        // During the transfer: the cause's text, and the reason where it adds to it.
        {0, ENOSPC, "Disk full while accessing /ro/b."},
        {0, EROFS, "Access to /ro/b was denied.\nThe system reports: Read-only file system."},
    };
    for (const Row& row : rows) {
        const CFileException error(CFileException::OsErrorToException(row.error), row.error, "/ro/b");
        EXPECT_EQ(row.nID == 0 ? FileErrorText(error) : OpenFailedText(row.nID, error), row.text);
    }
}

} // namespace
