// SPDX-License-Identifier: MIT
// The pure pieces of the HTTP side as tables: request paths decoded, Range
// headers read against a file's size.
#include "server/serve_http_parse.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HttpPath, DecodesEscapesAndRefusesBrokenOnes)
{
    const struct {
        const char* target;
        const char* path; // nullptr: refused
    } cases[] = {
        {"/boot.ipxe", "/boot.ipxe"},
        {"/a%20b/c%2Fd", "/a b/c/d"},     // an escaped "/" is a separator to the name's judge
        {"/%2e%2e/secret", "/../secret"}, // and an escaped ".." is ".." to it
        {"/x+y?file=%zz", "/x+y"},        // "+" is itself; the query is not the path
        {"/%41%6a", "/Aj"},
        {"/bad%2", nullptr},
        {"/bad%zz", nullptr},
        {"/bad%", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> path = DecodeHttpPath(c.target);
        EXPECT_EQ(path.has_value(), c.path != nullptr) << c.target;
        if (path && c.path != nullptr) {
            EXPECT_EQ(*path, c.path) << c.target;
        }
    }
    EXPECT_EQ(DecodeHttpPath("/a%00b"), std::string("/a\0b", 4)); // refused later, as a control character
}

TEST(HttpRange, OneRangeOfAFile)
{
    constexpr auto W = HttpRange::whole;
    constexpr auto P = HttpRange::part;
    constexpr auto U = HttpRange::unsatisfiable;
    const struct {
        const char* header;
        ULONGLONG size;
        HttpRange::Kind kind;
        ULONGLONG first;
        ULONGLONG length;
    } cases[] = {
        {"bytes=0-99", 1000, P, 0, 100},
        {"Bytes=500-", 1000, P, 500, 500},
        {"bytes=900-5000", 1000, P, 900, 100},                 // past the end: to the end
        {"bytes=-100", 1000, P, 900, 100},                     // the last 100
        {"bytes=-5000", 1000, P, 0, 1000},                     // a suffix longer than the file
        {"bytes=999-999", 1000, P, 999, 1},                    //
        {"bytes=0-99999999999999999999999", 1000, P, 0, 1000}, // too large for 64 bits
        {"bytes=1000-", 1000, U, 0, 0},                        // starts at the end
        {"bytes=99999999999999999999999-", 1000, U, 0, 0},     //
        {"bytes=-0", 1000, U, 0, 0},                           //
        {"bytes=0-", 0, U, 0, 0},                              // nothing of an empty file
        {"bytes=-10", 0, U, 0, 0},                             //
        {"bytes=0-1,5-6", 1000, W, 0, 0},                      // several: the whole file
        {"bytes=5-1", 1000, W, 0, 0},                          // last before first
        {"items=0-1", 1000, W, 0, 0},                          // another unit
        {"bytes=-", 1000, W, 0, 0},                            //
        {"bytes=a-1", 1000, W, 0, 0},                          //
        {"bytes 0-1", 1000, W, 0, 0},                          //
    };
    for (const auto& c : cases) {
        const HttpRange range = ParseHttpRange(c.header, c.size);
        EXPECT_EQ(range.kind, c.kind) << c.header;
        if (c.kind == P) {
            EXPECT_EQ(range.nFirst, c.first) << c.header;
            EXPECT_EQ(range.nLength, c.length) << c.header;
        }
    }
}

} // namespace
