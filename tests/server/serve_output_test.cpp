// SPDX-License-Identifier: MIT
// tarnwick-serve's lines: the time, JSON strings, and the row events a
// reader of --log-format json builds its rows from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/serve_output.h"

namespace {

TEST(ServeOutput, JsonStringsAreEscapedAndAlwaysValid)
{
    const std::pair<std::string, std::string> rows[] = {
        {"a\"b\\c", R"("a\"b\\c")"},
        {std::string("\n\x1b[2J\x7f\0", 7), R"("\u000A\u001B[2J\u007F\u0000")"},
        {"caf\xc3\xa9 \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xf0\x9f\x98\x80\""}, // UTF-8 as it is
        {"bad\xc3(", R"("bad\\xC3(")"},                                       // a lead byte alone
        {"\xed\xa0\x80", R"("\\xED\\xA0\\x80")"},                             // a surrogate
        {"\xe0\x80\xaf", R"("\\xE0\\x80\\xAF")"},                             // an overlong form
    };
    for (const auto& [text, json] : rows)
        EXPECT_EQ(JsonString(text), json);
}

TEST(ServeOutput, TheTimeHasMillisecondsAndTheOffset)
{
    std::tm local{};
    local.tm_year = 125;
    local.tm_mon = 5;
    local.tm_mday = 1;
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 7;
    local.tm_gmtoff = -(3 * 3600 + 30 * 60);
    EXPECT_EQ(IsoTime(local, 42), "2025-06-01T09:05:07.042-03:30");
}

ServeRow Row(unsigned id, ServeState state, ULONGLONG bytes)
{
    ServeRow row;
    row.nId = id;
    row.client.ss_family = AF_INET;
    row.state = state;
    row.nBytes = bytes;
    return row;
}

TEST(ServeOutput, EachRowStartsMovesAndEndsOnceAndTextHasNoControlBytes)
{
    std::vector<std::string> lines;
    const auto output = [&lines](bool bJson) {
        return CServeOutput(
            bJson, [&lines](std::string_view line) { return lines.emplace_back(line), true; }, [] { return "T"; });
    };
    CServeOutput json = output(true);
    json.Rows({Row(1, ServeState::running, 0), Row(2, ServeState::refused, 0)}, false);
    json.Rows({Row(1, ServeState::running, 512), Row(2, ServeState::refused, 0)}, false); // no progress asked
    json.Rows({Row(1, ServeState::running, 1024), Row(3, ServeState::done, 9)}, true);
    json.Rows({Row(1, ServeState::running, 1024), Row(3, ServeState::done, 9)}, true); // nothing moved
    json.Rows({Row(1, ServeState::failed, 1024)}, true);
    std::vector<std::string> events;
    for (const std::string& line : lines)
        events.push_back(line.substr(21, line.find(R"(,"client")") - 21));
    EXPECT_EQ(events,
              (std::vector<std::string>{R"(start","id":1,"protocol":"tftp")", R"(end","id":2,"protocol":"tftp")",
                                        R"(progress","id":1,"protocol":"tftp")", R"(end","id":3,"protocol":"tftp")",
                                        R"(end","id":1,"protocol":"tftp")"}));
    EXPECT_NE(lines[1].find(R"("size":null,"state":"refused")"), std::string::npos) << lines[1];

    lines.clear();
    CServeOutput text = output(false);
    text.Rows({Row(1, ServeState::running, 0)}, true);
    text.LogLine("Read request for \"a\x1b[31m\"");
    EXPECT_EQ(lines, (std::vector<std::string>{"T Read request for \"a\\x1B[31m\""}));
}

// TFTP and HTTP count their rows each from 1; the output tells them apart
// by an id of its own, and a boot by the machine's fields.
TEST(ServeOutput, RowsOfBothProtocolsKeepDistinctIdsAndABootIsOneLine)
{
    std::vector<std::string> lines;
    CServeOutput json(
        true, [&lines](std::string_view line) { return lines.emplace_back(line), true; }, [] { return "T"; });
    ServeRow http = Row(1, ServeState::running, 0);
    http.protocol = ServeProtocol::http;
    json.Rows({Row(1, ServeState::running, 0), http}, false);
    http.state = ServeState::done;
    json.Rows({Row(1, ServeState::running, 0), http}, false);
    json.Rows({Row(1, ServeState::done, 0), Row(2, ServeState::refused, 0)}, false);
    ProxyDhcpAnswer answer;
    answer.mac = "52:54:00:12:34:56";
    answer.arch = BootArch::uefiX64;
    answer.file = "ipxe.efi";
    answer.line = "told";
    json.Boot(answer);
    std::vector<std::string> events;
    for (const std::string& line : lines)
        events.push_back(line.substr(21, line.find(R"(,"client")") - 21));
    EXPECT_EQ(events, (std::vector<std::string>{
                          R"(start","id":1,"protocol":"tftp")", R"(start","id":2,"protocol":"http")",
                          R"(end","id":2,"protocol":"http")", R"(end","id":1,"protocol":"tftp")",
                          R"(end","id":3,"protocol":"tftp")",
                          R"(boot","protocol":"dhcp","mac":"52:54:00:12:34:56","arch":"UEFI x64","ipxe":false,)"
                          R"("file":"ipxe.efi","text":"told"})"}));
}

} // namespace
