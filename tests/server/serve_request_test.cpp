// SPDX-License-Identifier: MIT
#include "server/serve_request.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/fake_peer.h"

namespace {

// "a b c" as "a\0b\0c\0": a request's name, mode and options, or an OACK's.
std::string Fields(const std::string& words)
{
    std::string fields;
    std::istringstream in(words);
    for (std::string word; in >> word;)
        fields += word + '\0';
    return fields;
}

Bytes Packet(WORD opcode, const std::string& rest)
{
    return BytesOf(std::string{'\0', static_cast<char>(opcode)} + rest);
}

ServeRequestVerdict Parse(const Bytes& datagram)
{
    return ParseServeRequest(datagram.data(), static_cast<int>(datagram.size()));
}

TEST(ServeRequest, JudgesWhatReachesTheListeningPort)
{
    const struct {
        const char* name;
        Bytes datagram;
        ServeAnswer answer;
        WORD code;
    } rows[] = {
        {"empty", {}, ServeAnswer::ignore, 0},
        {"three bytes", Packet(1, "a"), ServeAnswer::ignore, 0},
        {"DATA", DataPacket(1, 4), ServeAnswer::ignore, 0},
        {"ACK", AckPacket(0), ServeAnswer::ignore, 0},
        {"ERROR", ErrorPacket(4, "x"), ServeAnswer::ignore, 0},
        {"OACK", Packet(6, Fields("blksize 512")), ServeAnswer::ignore, 0},
        {"opcode 0", Packet(0, Fields("f octet")), ServeAnswer::refuse, 4},
        {"opcode 9", Packet(9, Fields("f octet")), ServeAnswer::refuse, 4},
        {"name without zero", Packet(1, "file"), ServeAnswer::refuse, 4},
        {"mode without zero", Packet(1, Fields("file") + "octet"), ServeAnswer::refuse, 4},
        {"mode mail", Packet(2, Fields("file mail")), ServeAnswer::refuse, 4},
        {"name of 256 bytes", Packet(1, Fields(std::string(256, 'n') + " octet")), ServeAnswer::refuse, 2},
        {"64 KiB without zero", Packet(1, std::string(65534, 'n')), ServeAnswer::refuse, 4},
        {"netascii in capitals", Packet(1, Fields("f NetASCII")), ServeAnswer::accept, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ServeRequestVerdict verdict = Parse(row.datagram);
        EXPECT_EQ(verdict.answer, row.answer);
        EXPECT_EQ(verdict.wErrorCode, row.code);
    }
}

TEST(ServeRequest, ReadsAWholeDatagramOfOptions)
{
    std::string rest = Fields("boot/pxelinux.0 OCTET BlkSize 1024 blksize 512");
    while (rest.size() < 65520)
        rest += Fields("x y");
    const Bytes datagram = Packet(2, rest + Fields("tsize") + "0"); // the last pair cut short
    const ServeRequestVerdict verdict = Parse(datagram);            // its name is a view into the datagram
    ASSERT_EQ(verdict.answer, ServeAnswer::accept);
    EXPECT_EQ(verdict.request.wOpcode, TFTP_OPCODE_WRQ);
    EXPECT_EQ(verdict.request.szName, "boot/pxelinux.0");
    EXPECT_EQ(verdict.request.wMode, MODE_BINARY);
    EXPECT_EQ(verdict.request.nOrder, 1);
    EXPECT_EQ(verdict.request.options[TFTP_OPTION_BLKSIZE].nValue, 1024u); // named twice: the first counts
    EXPECT_GT(verdict.request.nUnknown, 10000);
}

TEST(ServeRequest, GrantsOnlyWhatWasAskedWithinTheCaps)
{
    const struct {
        WORD opcode;
        const char* request;
        const char* oack; // empty: none is sent
        WORD code;
    } rows[] = {
        {1, "f octet blksize 0", "", 0},
        {1, "f octet blksize 7", "", 0},
        {1, "f octet blksize 8", "blksize 8", 0},
        {1, "f octet blksize 65465", "", 0},
        {1, "f octet blksize 65464", "blksize 1468", 0},
        {1, "f octet blksize abc", "", 0},
        {1, "f octet blksize 1e30", "", 0},
        {1, "f octet windowsize 0", "", 0},
        {1, "f octet windowsize 65536", "", 0},
        {1, "f octet windowsize 65535", "windowsize 16", 0},
        {1, "f octet timeout 0", "", 0},
        {1, "f octet timeout 256", "", 0},
        {1, "f octet TIMEOUT 255", "timeout 255", 0},
        {1, "f octet blksize abc blksize 512", "", 0},
        {1, "f octet tsize 77", "tsize 1000", 0},
        {1, "f netascii tsize 0", "tsize 1000", 0},
        {2, "f octet tsize 1000", "tsize 1000", 0},
        {2, "f octet tsize 1001 blksize 512", "", 3},
        {1, "f octet rollover 0 blksize 512", "blksize 512", 0},
        {1, "f octet tsize 0 blksize 1468 windowsize 4", "tsize 1000 blksize 1468 windowsize 4", 0},
        {1, "f octet windowsize 64 blksize 8 timeout 1 tsize 0", "windowsize 16 blksize 8 timeout 1 tsize 1000", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request);
        const Bytes datagram = Packet(row.opcode, Fields(row.request));
        const ServeRequestVerdict verdict = Parse(datagram);
        ASSERT_EQ(verdict.answer, ServeAnswer::accept);
        const ServeGrant grant = NegotiateServeOptions(verdict.request, ServeLimits{1468, 16}, 1000);
        EXPECT_EQ(grant.wErrorCode, row.code);
        BYTE oack[TFTP_MAX_OACK];
        const int length = BuildOack(oack, sizeof oack, grant);
        EXPECT_EQ(Bytes(oack, oack + length), *row.oack == 0 ? Bytes{} : Packet(6, Fields(row.oack)));
        // The log's text names the same options in the same order.
        std::string text = ServeGrantText(grant);
        std::erase(text, ',');
        EXPECT_EQ(text, row.oack);
        // Our own client accepts every OACK the server sends.
        const ServeOptionAsked* asked = verdict.request.options;
        const TftpOptions client{
            static_cast<int>(asked[TFTP_OPTION_BLKSIZE].nValue), static_cast<int>(asked[TFTP_OPTION_WINDOWSIZE].nValue),
            static_cast<int>(asked[TFTP_OPTION_TIMEOUT].nValue), asked[TFTP_OPTION_TSIZE].bAsked, 0};
        EXPECT_TRUE(length == 0 || ParseOack(oack, length, client).bAccepted);
    }
}

TEST(ServeRequest, OackFitsItsOwnBufferWhateverTheBlockSize)
{
    ServeGrant grant{0,
                     TftpGranted{TFTP_MAX_BLOCK_SIZE, 65535, 255, true, ~0ULL},
                     {TFTP_OPTION_TSIZE, TFTP_OPTION_BLKSIZE, TFTP_OPTION_WINDOWSIZE, TFTP_OPTION_TIMEOUT},
                     4};
    BYTE oack[TFTP_MAX_OACK];
    EXPECT_EQ(BuildOack(oack, sizeof oack, grant), TFTP_MAX_OACK); // the longest there is
    // With blksize 8 the OACK is still longer than a block: never sized by it.
    grant.granted.nBlockSize = 8;
    EXPECT_EQ(BuildOack(oack, 8 + TFTP_HEADER_SIZE, grant), 0);
    EXPECT_EQ(UploadRoom(5000, 100000), 4000u);
    EXPECT_EQ(UploadRoom(500, 100000), 0u);
}

} // namespace
