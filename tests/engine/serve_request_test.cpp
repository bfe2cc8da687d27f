// SPDX-License-Identifier: MIT
#include "engine/serve_request.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_peer.h"

namespace {

const std::string z(1, '\0');

Bytes Request(WORD opcode, const std::string& rest)
{
    return BytesOf(std::string{'\0', static_cast<char>(opcode)} + rest);
}

TEST(ServeRequest, JudgesWhatReachesTheListeningPort)
{
    struct Row {
        const char* name;
        Bytes datagram;
        ServeAnswer answer;
        WORD code;
    };
    const Row rows[] = {
        {"empty", {}, ServeAnswer::ignore, 0},
        {"one byte", {0}, ServeAnswer::ignore, 0},
        {"three bytes", Request(1, "a"), ServeAnswer::ignore, 0},
        {"DATA", DataPacket(1, 4), ServeAnswer::ignore, 0},
        {"ACK", AckPacket(0), ServeAnswer::ignore, 0},
        {"ERROR", ErrorPacket(4, "x"), ServeAnswer::ignore, 0},
        {"OACK", Request(6, "blksize" + z + "512" + z), ServeAnswer::ignore, 0},
        {"opcode 0", Request(0, "f" + z + "octet" + z), ServeAnswer::refuse, 4},
        {"opcode 9", Request(9, "f" + z + "octet" + z), ServeAnswer::refuse, 4},
        {"name without zero", Request(1, "file"), ServeAnswer::refuse, 4},
        {"mode without zero", Request(1, "file" + z + "octet"), ServeAnswer::refuse, 4},
        {"mode mail", Request(2, "file" + z + "mail" + z), ServeAnswer::refuse, 4},
        {"mode empty", Request(1, "file" + z + z), ServeAnswer::refuse, 4},
        {"name of 256 bytes", Request(1, std::string(256, 'n') + z + "octet" + z), ServeAnswer::refuse, 2},
        {"64 KiB without zero", Request(1, std::string(65534, 'n')), ServeAnswer::refuse, 4},
        {"netascii in capitals", Request(1, "f" + z + "NetASCII" + z), ServeAnswer::accept, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ServeRequestVerdict verdict =
            ParseServeRequest(row.datagram.data(), static_cast<int>(row.datagram.size()));
        EXPECT_EQ(verdict.answer, row.answer);
        EXPECT_EQ(verdict.wErrorCode, row.code);
    }
}

TEST(ServeRequest, ReadsNameModeAndOptionsWithinTheDatagram)
{
    // 64 KiB: a request, the first blksize, a second one, then junk pairs.
    std::string rest = "boot/pxelinux.0" + z + "OCTET" + z + "BlkSize" + z + "1024" + z + "blksize" + z + "512" + z;
    while (rest.size() < 65520)
        rest += "x" + z + "y" + z;
    rest += "tsize" + z + "0"; // cut short: ends the list
    const Bytes datagram = Request(2, rest);
    const ServeRequestVerdict verdict = ParseServeRequest(datagram.data(), static_cast<int>(datagram.size()));
    ASSERT_EQ(verdict.answer, ServeAnswer::accept);
    const ServeRequest& request = verdict.request;
    EXPECT_EQ(request.wOpcode, TFTP_OPCODE_WRQ);
    EXPECT_EQ(request.szName, "boot/pxelinux.0");
    EXPECT_EQ(request.wMode, MODE_BINARY);
    EXPECT_EQ(request.nOrder, 1);
    EXPECT_EQ(request.options[SERVE_OPTION_BLKSIZE].nValue, 1024u);
    EXPECT_FALSE(request.options[SERVE_OPTION_TSIZE].bAsked);
    EXPECT_GT(request.nUnknown, 10000);
}

TEST(ServeRequest, GrantsOnlyWhatWasAskedWithinTheCaps)
{
    struct Row {
        const char* name;
        WORD opcode;
        const char* mode;
        std::string options;
        std::string oack; // the OACK's pairs; empty: none sent
        WORD code = 0;
    };
    const Row rows[] = {
        {"blksize 0", 1, "octet", "blksize" + z + "0" + z, ""},
        {"blksize 7", 1, "octet", "blksize" + z + "7" + z, ""},
        {"blksize 8", 1, "octet", "blksize" + z + "8" + z, "blksize" + z + "8" + z},
        {"blksize 65465", 1, "octet", "blksize" + z + "65465" + z, ""},
        {"blksize 65464 capped", 1, "octet", "blksize" + z + "65464" + z, "blksize" + z + "1468" + z},
        {"blksize abc", 1, "octet", "blksize" + z + "abc" + z, ""},
        {"blksize 1e30", 1, "octet", "blksize" + z + "1e30" + z, ""},
        {"windowsize 0", 1, "octet", "windowsize" + z + "0" + z, ""},
        {"windowsize 65536", 1, "octet", "windowsize" + z + "65536" + z, ""},
        {"windowsize capped", 1, "octet", "windowsize" + z + "65535" + z, "windowsize" + z + "16" + z},
        {"timeout 0", 1, "octet", "timeout" + z + "0" + z, ""},
        {"timeout 256", 1, "octet", "timeout" + z + "256" + z, ""},
        {"timeout 255", 1, "octet", "TIMEOUT" + z + "255" + z, "timeout" + z + "255" + z},
        {"named twice: the first counts", 1, "octet", "blksize" + z + "abc" + z + "blksize" + z + "512" + z, ""},
        {"tsize in a read: the real size", 1, "octet", "tsize" + z + "77" + z, "tsize" + z + "1000" + z},
        {"tsize in netascii: none", 1, "netascii", "tsize" + z + "0" + z, ""},
        {"tsize in a write: echoed", 2, "octet", "tsize" + z + "1000" + z, "tsize" + z + "1000" + z},
        {"tsize above the room", 2, "octet", "tsize" + z + "1001" + z + "blksize" + z + "512" + z, "", 3},
        {"unknown left out", 1, "octet", "rollover" + z + "0" + z + "blksize" + z + "512" + z,
         "blksize" + z + "512" + z},
        {"UEFI", 1, "octet", "tsize" + z + "0" + z + "blksize" + z + "1468" + z + "windowsize" + z + "4" + z,
         "tsize" + z + "1000" + z + "blksize" + z + "1468" + z + "windowsize" + z + "4" + z},
        {"blksize 8 with every other", 1, "octet",
         "windowsize" + z + "64" + z + "blksize" + z + "8" + z + "timeout" + z + "1" + z + "tsize" + z + "0" + z,
         "windowsize" + z + "16" + z + "blksize" + z + "8" + z + "timeout" + z + "1" + z + "tsize" + z + "1000" + z},
    };
    const ServeLimits limits{1468, 16};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes datagram = Request(row.opcode, "f" + z + row.mode + z + row.options);
        const ServeRequestVerdict verdict = ParseServeRequest(datagram.data(), static_cast<int>(datagram.size()));
        ASSERT_EQ(verdict.answer, ServeAnswer::accept);
        const ServeGrant grant = NegotiateServeOptions(verdict.request, limits, 1000);
        EXPECT_EQ(grant.wErrorCode, row.code);
        BYTE oack[TFTP_MAX_OACK];
        const int length = BuildOack(oack, sizeof oack, grant);
        EXPECT_EQ(Bytes(oack, oack + length), row.oack.empty() ? Bytes{} : Request(6, row.oack));
        if (length == 0)
            continue;
        // Our own client accepts every OACK the server sends.
        TftpOptions asked;
        const auto& options = verdict.request.options;
        asked.nBlockSize = static_cast<int>(options[SERVE_OPTION_BLKSIZE].nValue);
        asked.nWindowSize = static_cast<int>(options[SERVE_OPTION_WINDOWSIZE].nValue);
        asked.nTimeout = static_cast<int>(options[SERVE_OPTION_TIMEOUT].nValue);
        asked.bFileSize = options[SERVE_OPTION_TSIZE].bAsked;
        const OackVerdict client = ParseOack(oack, length, asked);
        EXPECT_TRUE(client.bAccepted);
        EXPECT_EQ(client.granted.nBlockSize, grant.granted.nBlockSize);
        EXPECT_EQ(client.granted.nWindowSize, grant.granted.nWindowSize);
    }
}

TEST(ServeRequest, OackFitsItsOwnBufferWhateverTheBlockSize)
{
    ServeGrant grant;
    grant.granted = TftpGranted{TFTP_MAX_BLOCK_SIZE, 65535, 255, true, ~0ULL};
    grant.order[0] = SERVE_OPTION_TSIZE, grant.order[1] = SERVE_OPTION_BLKSIZE;
    grant.order[2] = SERVE_OPTION_WINDOWSIZE, grant.order[3] = SERVE_OPTION_TIMEOUT;
    grant.nOrder = 4;
    BYTE oack[TFTP_MAX_OACK];
    EXPECT_EQ(BuildOack(oack, sizeof oack, grant), TFTP_MAX_OACK); // the longest there is
    // With blksize 8 the OACK is still longer than a block: never sized by it.
    grant.granted.nBlockSize = 8;
    EXPECT_EQ(BuildOack(oack, 8 + TFTP_HEADER_SIZE, grant), 0);
    EXPECT_EQ(UploadRoom(5000, 100000), 4000u);
    EXPECT_EQ(UploadRoom(500, 100000), 0u);
}

} // namespace
