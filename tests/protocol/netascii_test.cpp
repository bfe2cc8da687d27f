// SPDX-License-Identifier: MIT
#include "protocol/netascii.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string Rewrite(const std::string& in, BYTE* last)
{
    std::vector<BYTE> out(2 * in.size() + 1);
    const size_t n = RewriteNetascii(reinterpret_cast<const BYTE*>(in.data()), in.size(), out.data(), last);
    return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(RewriteNetascii, LineEndsAndDroppedBytes)
{
    using namespace std::string_literals;
    struct Row {
        const char* name;
        BYTE before; // the last byte of the previous block; 0xFF at the start
        std::string in;
        std::string out;
        BYTE after;
    };
    const Row rows[] = {
        {"lone LF", 0xFF, "a\nb", "a\r\nb", 'b'},
        {"CR LF", 0xFF, "a\r\nb", "a\r\nb", 'b'},
        {"lone CR", 0xFF, "a\rb", "a\r\nb", 'b'},
        {"CR NUL", 0xFF, "a\r\0b"s, "a\r\nb", 'b'},
        {"CR at the end", 0xFF, "ab\r", "ab\r", '\r'},
        {"LF after a CR block", '\r', "\nxyz", "\nxyz", 'z'},
        {"text after a CR block", '\r', "xyz", "\nxyz", 'z'},
        {"NUL after a CR block", '\r', "\0xyz"s, "\nxyz", 'z'},
        {"CR CR LF", 0xFF, "\r\r\n", "\r\n\r\n", '\n'},
        {"dropped byte before LF", 0xFF, "a\x80\nb", "a\r\nb", 'b'},
        {"dropped byte breaks a pair", 0xFF, "a\r\x80\nb", "a\r\r\nb", 'b'},
        {"only dropped bytes", 0xFF, "\x01\x02\x7F\xFF", "", 0xFF},
        {"NUL alone", 0xFF, "\0"s, "\0"s, 0},
        {"controls that pass", 0xFF, "\t\a\b\v\f~ ", "\t\a\b\v\f~ ", ' '},
        {"empty block", '\r', "", "", '\r'},
    };
    for (const Row& row : rows) {
        BYTE last = row.before;
        EXPECT_EQ(Rewrite(row.in, &last), row.out) << row.name;
        EXPECT_EQ(last, row.after) << row.name;
    }
}

TEST(RewriteNetascii, FullBlockOfLineFeedsFillsTheOutput)
{
    BYTE last = 0xFF;
    std::string expected;
    for (int i = 0; i < 512; ++i)
        expected += "\r\n";
    EXPECT_EQ(Rewrite(std::string(512, '\n'), &last), expected);
    EXPECT_EQ(last, '\n');
}

TEST(FilterNetascii, StopsWhenTheOutputIsFull)
{
    struct Row {
        std::string in;
        size_t capacity;
        size_t consumed;
        std::string out;
    };
    using namespace std::string_literals;
    const Row rows[] = {
        {"abc", 10, 3, "abc"},
        {"a\x80"
         "bc",
         2, 3, "ab"}, // the dropped byte is consumed on the way
        {"ab\x80"
         "c",
         2, 2, "ab"},                      // a byte after the last delivered one is not
        {"\r\0\r\n"s, 10, 4, "\r\0\r\n"s}, // line ends are not touched on this side
        {"\x01\x06\x0E\x1F\x7F\xFF", 10, 6, ""},
        {"\x07\x0D\x20\x7E", 10, 4, "\x07\x0D\x20\x7E"},
    };
    for (const Row& row : rows) {
        std::vector<BYTE> out(row.capacity);
        const NetasciiFilterResult result =
            FilterNetascii(reinterpret_cast<const BYTE*>(row.in.data()), row.in.size(), out.data(), row.capacity);
        EXPECT_EQ(result.nConsumed, row.consumed);
        EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(result.nProduced)), row.out);
    }
}

TEST(IsNetascii, TheEdgesOfTheSet)
{
    struct Row {
        BYTE byte;
        bool netascii;
    };
    const Row rows[] = {
        {0x00, true}, {0x01, false}, {0x06, false}, {0x07, true},  // NUL; BEL opens the controls
        {0x0D, true}, {0x0E, false}, {0x1F, false}, {0x20, true},  // CR closes them; space
        {0x7E, true}, {0x7F, false}, {0x80, false}, {0xFF, false}, // '~'; DEL and 8-bit bytes
    };
    for (const Row& row : rows)
        EXPECT_EQ(IsNetascii(row.byte), row.netascii) << int{row.byte};
}

TEST(LooksBinary, TextAndWhatAsciiModeWouldChange)
{
    using namespace std::string_literals;
    struct Row {
        std::string bytes;
        bool binary;
    };
    const Row rows[] = {
        {"", false},
        {"hostname sw1\r\ninterface eth0\n", false},
        {"tabs\tand a bell\a", false},
        {"a NUL\0inside"s, true},                              // any NUL
        {"caf\xC3\xA9 ok, one accent in thirty bytes", false}, // a few bytes Ascii mode drops
        {"\x7F"
         "ELF\x02\x01\x01",
         true}, // more than one byte in ten outside
        {std::string(9, 'a') + "\xFF", false},
        {std::string(8, 'a') + "\xFF\xFF", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(LooksBinary(reinterpret_cast<const BYTE*>(row.bytes.data()), row.bytes.size()), row.binary)
            << row.bytes;
}

// The server's translation of local bytes to the wire and back, in blocks of
// `block` bytes each way; one-way rows are only received.
TEST(ServerNetascii, LineEndsEachWayAndAcrossBlockEnds)
{
    using namespace std::string_literals;
    const struct {
        const char* name;
        std::string local, wire;
        size_t block;
        bool oneWay;
    } rows[] = {
        {"LF", "a\nb", "a\r\nb", 8, false},
        {"CR", "a\rb", "a\r\0b"s, 8, false},
        {"CR LF", "a\r\nb", "a\r\0\r\nb"s, 8, false},
        {"8-bit bytes, NUL, controls", "caf\xC3\xA9\0\t\x7F"s, "caf\xC3\xA9\0\t\x7F"s, 16, false},
        {"LF split at a block end", "ab\ncd", "ab\r\ncd", 3, false},
        {"CR split at a block end", "ab\rc", "ab\r\0c"s, 3, false},
        {"pair ending a full block", "ab\n", "ab\r\n", 2, false},
        {"empty", "", "", 4, false},
        {"CR then another byte", "x\ry", "x\ry", 8, true},
        {"CR CR LF", "\r\n", "\r\r\n", 8, true},
        {"CR ending the file", "a\r", "a\r", 8, true},
        {"bare LF", "a\n", "a\n", 8, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto* local = reinterpret_cast<const BYTE*>(row.local.data());
        const auto* wire = reinterpret_cast<const BYTE*>(row.wire.data());
        std::vector<BYTE> out(row.block + 1);
        const auto text = [&](size_t n) { return std::string(out.begin(), out.begin() + static_cast<long>(n)); };
        std::string sent;
        NetasciiEncodeState state;
        // Blocks before the last are full; the last is short, maybe empty.
        for (size_t at = 0, n = row.block; n == row.block;) {
            const NetasciiFilterResult r =
                EncodeNetascii(local + at, row.local.size() - at, out.data(), row.block, &state);
            at += r.nConsumed;
            n = r.nProduced;
            sent += text(n);
        }
        std::string stored;
        bool cr = false;
        for (size_t at = 0; at < row.wire.size(); at += row.block)
            stored += text(DecodeNetascii(wire + at, std::min(row.block, row.wire.size() - at), out.data(), &cr));
        stored += text(FinishNetascii(out.data(), &cr));
        EXPECT_EQ(stored, row.local);
        if (!row.oneWay) {
            EXPECT_EQ(sent, row.wire);
            EXPECT_EQ(NetasciiWireSize(local, row.local.size()), row.wire.size());
        }
    }
}

} // namespace
