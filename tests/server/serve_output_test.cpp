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
        {"boot.cfg", "\"boot.cfg\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {std::string("\n\r\x1b[2J\x7f", 7), "\"\\u000A\\u000D\\u001B[2J\\u007F\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},            // UTF-8 as it is
        {"bad\xc3(", "\"bad\\\\xC3(\""},               // a lead byte without its follower
        {"\xed\xa0\x80", "\"\\\\xED\\\\xA0\\\\x80\""}, // a surrogate is not UTF-8
        {"\xe0\x80\xaf", "\"\\\\xE0\\\\x80\\\\xAF\""}, // nor an overlong form
        {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
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
    local.tm_gmtoff = 2 * 3600;
    EXPECT_EQ(IsoTime(local, 42), "2025-06-01T09:05:07.042+02:00");
    local.tm_gmtoff = -(3 * 3600 + 30 * 60);
    EXPECT_EQ(IsoTime(local, 999), "2025-06-01T09:05:07.999-03:30");
}

class ServeOutputRows : public ::testing::Test {
protected:
    CServeOutput Output(bool bJson)
    {
        return CServeOutput(
            bJson, [this](std::string_view line) { return lines.emplace_back(line), true; }, [] { return "T"; });
    }
    static ServeRow Row(unsigned id, ServeState state, ULONGLONG bytes)
    {
        ServeRow row;
        row.nId = id;
        row.client.ss_family = AF_INET;
        row.file = std::to_string(id);
        row.state = state;
        row.nBytes = bytes;
        return row;
    }
    // The event and id of each line written.
    std::vector<std::string> Events() const
    {
        std::vector<std::string> events;
        for (const std::string& line : lines) {
            const size_t event = line.find("\"event\":\"") + 9;
            const size_t id = line.find("\"id\":") + 5;
            std::string text = line.substr(event, line.find('"', event) - event);
            text.append(1, ' ').append(line, id, line.find(',', id) - id);
            events.push_back(std::move(text));
        }
        return events;
    }
    std::vector<std::string> lines;
};

TEST_F(ServeOutputRows, EachRowStartsMovesAndEndsOnce)
{
    CServeOutput output = Output(true);
    output.Rows({Row(1, ServeState::running, 0), Row(2, ServeState::refused, 0)}, false);
    output.Rows({Row(1, ServeState::running, 512), Row(2, ServeState::refused, 0)}, false); // no progress asked
    output.Rows({Row(1, ServeState::running, 1024), Row(2, ServeState::refused, 0), Row(3, ServeState::done, 9)}, true);
    output.Rows({Row(1, ServeState::running, 1024), Row(3, ServeState::done, 9)}, true); // nothing moved
    output.Rows({Row(1, ServeState::failed, 1024), Row(3, ServeState::done, 9)}, true);
    output.Rows({Row(1, ServeState::failed, 1024)}, true);
    EXPECT_EQ(Events(), (std::vector<std::string>{"start 1", "end 2", "progress 1", "end 3", "end 1"}));
    EXPECT_NE(lines[1].find("\"state\":\"refused\""), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\"size\":null"), std::string::npos) << lines[1];
}

TEST_F(ServeOutputRows, TextHasNoRowLinesAndNoControlBytes)
{
    CServeOutput output = Output(false);
    output.Rows({Row(1, ServeState::running, 0)}, true);
    output.LogLine("Read request for \"a\x1b[31m\"");
    EXPECT_EQ(lines, (std::vector<std::string>{"T Read request for \"a\\x1B[31m\""}));
}

} // namespace
