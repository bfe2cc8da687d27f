// SPDX-License-Identifier: MIT
#include "protocol/options.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/packet.h"
#include "tests/support/fake_peer.h"

namespace {

Bytes Oack(const std::string& pairs)
{
    return BytesOf(std::string("\0\6", 2) + pairs);
}

const TftpOptions kAsked{1468, 16, 5, true, 0};

TEST(AppendOptions, AsksInLowerCaseAndOnlyWithinTheRequestLimit)
{
    BYTE buffer[TFTP_PACKET_BUFFER];
    const int plain = BuildRequest(buffer, sizeof buffer, DIRECTION_PUT, "fw.bin", MODE_BINARY);
    const int length = AppendOptions(buffer, plain, sizeof buffer, TftpOptions{1468, 16, 5, true, 123456});
    const char expected[] = "\0\2fw.bin\0octet\0blksize\0001468\0timeout\0005\0tsize\000123456\0windowsize\00016";
    EXPECT_EQ(Bytes(buffer, buffer + length), Bytes(expected, expected + sizeof expected));

    // The longest name leaves room for every option at its longest...
    const std::string name(TFTP_MAX_NAME, 'n');
    const int longest = BuildRequest(buffer, sizeof buffer, DIRECTION_GET, name.c_str(), MODE_ASCII);
    EXPECT_GT(AppendOptions(buffer, longest, sizeof buffer, TftpOptions{65464, 64, 255, true, ~0ULL}), longest);
    // ...and a request that leaves none keeps its length: no options.
    EXPECT_EQ(AppendOptions(buffer, 480, sizeof buffer, kAsked), 0);
}

TEST(ParseOack, GrantsWithinWhatWasAskedAndRefusesTheRest)
{
    struct Row {
        const char* name;
        Bytes datagram;
        const char* fault; // nullptr: accepted
        TftpGranted granted;
    };
    const std::string z(1, '\0');
    const Row rows[] = {
        {"all granted",
         Oack("blksize" + z + "1468" + z + "windowsize" + z + "16" + z + "timeout" + z + "5" + z + "tsize" + z +
              "4294967296" + z),
         nullptr,
         {1468, 16, 5, true, 4294967296ULL}},
        {"less than asked",
         Oack("BLKSIZE" + z + "1024" + z + "WindowSize" + z + "4" + z),
         nullptr,
         {1024, 4, 0, false, 0}},
        {"none: RFC 1350 values", Oack(""), nullptr, {512, 1, 0, false, 0}},
        {"smallest block", Oack("blksize" + z + "8" + z), nullptr, {8, 1, 0, false, 0}},
        {"not asked for", Oack("rollover" + z + "0" + z), "rollover", {}},
        {"block above asked", Oack("blksize" + z + "1469" + z), "blksize", {}},
        {"block below 8", Oack("blksize" + z + "7" + z), "blksize", {}},
        {"block not a number", Oack("blksize" + z + "14x" + z), "blksize", {}},
        {"block negative", Oack("blksize" + z + "-1" + z), "blksize", {}},
        {"block huge", Oack("blksize" + z + "99999999999999999999999" + z), "blksize", {}},
        {"window 0", Oack("windowsize" + z + "0" + z), "windowsize", {}},
        {"window above asked", Oack("windowsize" + z + "17" + z), "windowsize", {}},
        {"timeout changed", Oack("timeout" + z + "6" + z), "timeout", {}},
        {"named twice", Oack("blksize" + z + "512" + z + "Blksize" + z + "512" + z), "Blksize", {}},
        {"no final zero", Oack("blksize" + z + "512"), "blksize", {}},
        {"name without value", Oack("blksize"), "", {}},
        {"empty value", Oack("tsize" + z + z), "tsize", {}},
        {"not an OACK", DataPacket(1, 4), "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const OackVerdict verdict = ParseOack(row.datagram.data(), static_cast<int>(row.datagram.size()), kAsked);
        EXPECT_EQ(verdict.bAccepted, row.fault == nullptr);
        if (row.fault != nullptr) {
            EXPECT_EQ(verdict.szOption, row.fault);
            continue;
        }
        EXPECT_EQ(verdict.granted.nBlockSize, row.granted.nBlockSize);
        EXPECT_EQ(verdict.granted.nWindowSize, row.granted.nWindowSize);
        EXPECT_EQ(verdict.granted.nTimeout, row.granted.nTimeout);
        EXPECT_EQ(verdict.granted.bFileSize, row.granted.bFileSize);
        EXPECT_EQ(verdict.granted.nFileSize, row.granted.nFileSize);
    }
    // Nothing asked, nothing may be granted.
    const Bytes any = Oack("blksize" + z + "512" + z);
    EXPECT_FALSE(ParseOack(any.data(), static_cast<int>(any.size()), TftpOptions{}).bAccepted);
}

} // namespace
