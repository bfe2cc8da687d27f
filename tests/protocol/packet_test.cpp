// SPDX-License-Identifier: MIT
#include "protocol/packet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_peer.h"

namespace {

TEST(BuildRequest, ModeStringsAndLengths)
{
    struct Row {
        WORD direction;
        WORD mode;
        std::string expected;
    };
    const Row rows[] = {
        {DIRECTION_GET, MODE_BINARY, std::string("\0\1a.txt\0octet\0", 14)},
        {DIRECTION_GET, MODE_ASCII, std::string("\0\1a.txt\0netascii\0", 17)},
        {DIRECTION_PUT, MODE_ASCII, std::string("\0\2a.txt\0netascii\0", 17)},
        {DIRECTION_PUT, 0, std::string("\0\2a.txt\0netascii\0", 17)}, // any other mode is netascii
        {DIRECTION_PUT, 7, std::string("\0\2a.txt\0netascii\0", 17)},
    };
    for (const Row& row : rows) {
        BYTE buffer[TFTP_PACKET_BUFFER];
        const int length = BuildRequest(buffer, sizeof buffer, row.direction, "a.txt", row.mode);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(length)), row.expected);
    }
}

TEST(BuildRequest, RefusesWhatDoesNotFit)
{
    BYTE buffer[TFTP_PACKET_BUFFER];
    EXPECT_EQ(BuildRequest(buffer, sizeof buffer, DIRECTION_GET, std::string(256, 'n').c_str(), MODE_ASCII), 0);
    EXPECT_EQ(BuildRequest(buffer, 16, DIRECTION_GET, "a.txt", MODE_ASCII), 0);
    EXPECT_EQ(BuildRequest(buffer, 17, DIRECTION_GET, "a.txt", MODE_ASCII), 17);
    EXPECT_EQ(BuildRequest(buffer, sizeof buffer, DIRECTION_GET, "", MODE_BINARY), 9);
}

TEST(BuildPackets, ClientPacketsAreExact)
{
    BYTE packet[8] = {};
    EXPECT_EQ(BuildError(packet, 4), 5);
    EXPECT_EQ(Bytes(packet, packet + 5), (Bytes{0, 5, 0, 4, 0}));
    BuildError(packet, 5);
    EXPECT_EQ(Bytes(packet, packet + 5), (Bytes{0, 5, 0, 5, 0}));
    EXPECT_EQ(BuildAck(packet, 0x1234), 4);
    EXPECT_EQ(Bytes(packet, packet + 4), (Bytes{0, 4, 0x12, 0x34}));
    EXPECT_EQ(BuildDataHeader(packet, 65535), 4);
    EXPECT_EQ(Bytes(packet, packet + 4), (Bytes{0, 3, 0xFF, 0xFF}));
}

TEST(PeerErrorMessage, BoundedByTheDatagram)
{
    struct Row {
        Bytes datagram;
        std::string text;
    };
    const Row rows[] = {
        {ErrorPacket(0, "Disk quota"), "Disk quota"},
        {ErrorPacket(0, "no zero byte", false), "no zero byte"},
        {ErrorPacket(0, "", false), ""},
        {ErrorPacket(0, ""), ""},
        {BytesOf(std::string("\0\5\0\0abc\0def", 11)), "abc"},
    };
    for (const Row& row : rows) {
        // A copy without slack: reading one byte too far is caught by the sanitizers.
        std::vector<BYTE> exact(row.datagram);
        EXPECT_EQ(PeerErrorMessage(exact.data(), static_cast<int>(exact.size())), row.text);
    }
}

// Every datagram of every length and state is classified without reading
// past its end, and a verdict never both accepts and closes.
TEST(ClassifyDatagram, EveryLengthAndStateGivesAConsistentVerdict)
{
    const TftpAwaits states[] = {TftpAwaits::Nothing, TftpAwaits::ReadReply, TftpAwaits::WriteReply,
                                 TftpAwaits::Acks,    TftpAwaits::Data,      TftpAwaits::Ended};
    const CSendWindow send;
    const CReceiveWindow receive;
    for (TftpAwaits state : states) {
        for (WORD opcode = 0; opcode <= 7; ++opcode) {
            for (int length = 0; length <= TFTP_PACKET_BUFFER; length += (length < 8 || length > 510) ? 1 : 97) {
                const Bytes datagram = PacketOfOpcode(opcode, 1, static_cast<size_t>(length));
                const TftpVerdict verdict =
                    ClassifyDatagram(TftpExchange{state, 1, send, receive}, datagram.data(), length);
                const int resultClass = verdict.nResult & TFTP_RESULT_CLASS_MASK;
                if (resultClass == TFTP_RESULT_DATA) {
                    EXPECT_EQ(verdict.nResult & TFTP_RESULT_VALUE_MASK, length);
                    EXPECT_EQ(opcode, TFTP_OPCODE_DATA);
                }
                if (resultClass == TFTP_RESULT_DATA || resultClass == TFTP_RESULT_ACKED) {
                    EXPECT_FALSE(verdict.bClose);
                }
                if (length < 4 || length > 516) {
                    EXPECT_EQ(verdict.nResult, TFTP_RESULT_ERROR + TFTP_REASON_RECEIVE);
                }
                if (verdict.wErrorCode != 0) {
                    EXPECT_TRUE(verdict.bClose);
                }
            }
        }
    }
}

} // namespace
