// SPDX-License-Identifier: MIT
#include "ui/serve_lines.h"

#include <gtest/gtest.h>

#include <string>

#include "server/serve_failure.h"
#include "server/serve_output.h"

namespace {

// Lines as tarnwick-serve --log-format json writes them, and some it never
// writes: each read as the window would show it, or refused.
TEST(ServeLines, EachLineIsReadOrRefusedWhole)
{
    const struct {
        const char* line;
        bool read;
        ServeLine::Kind kind;
        const char* text; // a message's text, or a row's client
    } rows[] = {
        {R"({"time":"2025-06-01T12:00:00.000+02:00","event":"serving","text":"Serving /srv/tftp on 0.0.0.0 port 69, read-only"})",
         true, ServeLine::Kind::message, "Serving /srv/tftp on 0.0.0.0 port 69, read-only"},
        {R"({"event":"log","text":"asked for \"a\\b\" \u00e9 \ud83d\ude00 \u001b[31m"})", true,
         ServeLine::Kind::message, "asked for \"a\\b\" \xC3\xA9 \xF0\x9F\x98\x80 \\x1B[31m"},
        {R"({"event":"start","id":7,"client":"192.0.2.7","port":49152,"file":"fw.bin"})", true, ServeLine::Kind::start,
         "192.0.2.7:49152"},
        {R"({"event":"progress","id":7,"client":"fe80::1%eth0","port":69})", true, ServeLine::Kind::progress,
         "[fe80::1%eth0]:69"},
        {R"( { "event" : "end" , "id" : 1 , "client" : "127.0.0.1" } )", true, ServeLine::Kind::end, "127.0.0.1:0"},
        {R"({"event":"boot","mac":"52:54:00:12:34:56","arch":"BIOS","ipxe":true,"file":"x"})", true,
         ServeLine::Kind::boot, "52:54:00:12:34:56"},
        // Not the output's form: no event, an id of 0, nested values, a
        // lone surrogate, a raw control byte, something after the object.
        {R"({"text":"no event"})", false, {}, ""},
        {R"({"event":"end","id":0})", false, {}, ""},
        {R"({"event":"end"})", false, {}, ""},
        {R"({"event":"log","text":{"a":1}})", false, {}, ""},
        {R"({"event":"log","text":"\ud800"})", false, {}, ""},
        {"{\"event\":\"log\",\"text\":\"a\nb\"}", false, {}, ""},
        {R"({"event":"log"} {"event":"log"})", false, {}, ""},
        {R"({"event":"log","text":"unended)", false, {}, ""},
        {"", false, {}, ""},
        {"Serving /srv/tftp", false, {}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const std::optional<ServeLine> read = ParseServeLine(row.line);
        ASSERT_EQ(read.has_value(), row.read);
        if (!read)
            continue;
        EXPECT_EQ(read->kind, row.kind);
        EXPECT_EQ(row.kind == ServeLine::Kind::message ? read->text : read->client, row.text);
        EXPECT_EQ(read->bIpxe, row.kind == ServeLine::Kind::boot);
    }
    EXPECT_FALSE(ParseServeLine("{\"event\":\"log\",\"text\":\"" + std::string(kServeLineMost, 'a') + "\"}"));
}

// A row's fields as the window needs them, the names the writer uses.
TEST(ServeLines, ARowsFieldsAreRead)
{
    const std::optional<ServeLine> end = ParseServeLine(
        R"({"time":"t","event":"end","id":42,"client":"10.77.0.2","port":1234,"file":"boot/bcd","direction":"write",)"
        R"("options":"blksize 1468","bytes":3000,"size":null,"state":"refused","reason":"File already exists",)"
        R"("reason_code":"exists","resends":2,"ms":250})");
    ASSERT_TRUE(end);
    const ServeRow& row = end->row;
    EXPECT_EQ(row.nId, 42u);
    EXPECT_EQ(row.file, "boot/bcd");
    EXPECT_EQ(row.wDirection, DIRECTION_PUT);
    EXPECT_EQ(row.granted, "blksize 1468");
    EXPECT_EQ(row.nBytes, 3000u);
    EXPECT_FALSE(row.bSizeKnown);
    EXPECT_EQ(row.state, ServeState::refused);
    EXPECT_EQ(row.reason, "File already exists");
    EXPECT_EQ(row.reasonCode, ServeReason::exists);
    EXPECT_EQ(row.nResends, 2u);
    EXPECT_EQ(row.nEndMs, 250u);
}

// Port 69 refused through the helper: the child names the case, the helper
// and the user; the window tells it in its own words, each command on a line
// of its own. A line that does not name a known case whole is shown as it came.
TEST(ServeLines, APort69RefusalIsToldWithItsCommands)
{
    const std::string head = R"({"event":"error","text":"one line","helper":"/opt/t/tarnwick-bind","user":"alice")";
    const std::pair<std::string, const char*> rows[] = {
        // The fields after the helper and user; in the text shown (nullptr: the line's own text).
        {R"(,"reason_code":"port69-not-in-group","group":"tarnwick"})", "\n\tsudo adduser alice tarnwick\n"},
        {R"(,"reason_code":"port69-no-helper"})", "its helper for that port, /opt/t/tarnwick-bind, is missing."},
        {R"(,"reason_code":"port69-not-runnable"})", "by alice. An administrator chose"},
        {R"(,"reason_code":"port69-no-capability"})", "\n\tsudo setcap cap_net_bind_service=ep /opt/t/tarnwick-bind\n"},
        {R"(,"reason_code":"port69-not-in-group"})", nullptr}, // no group to join
        {R"(,"reason_code":"port69-later"})", nullptr},
        {"}", nullptr},
    };
    for (const auto& [fields, says] : rows) {
        const std::optional<ServeLine> line = ParseServeLine(head + fields);
        ASSERT_TRUE(line) << fields;
        const std::string text = ServeMessageText(*line);
        EXPECT_TRUE(says == nullptr ? text == "one line" : text.find(says) != std::string::npos) << fields << text;
    }

    // What tarnwick-serve writes for a refusal is read back as that case.
    std::string written;
    CServeOutput output(
        true, [&written](std::string_view line) { return written = line, true; }, [] { return "T"; });
    BindResult refused;
    refused.refusal = HelperRefusal::NotInGroup;
    refused.helperGroup = "tftp-users";
    ServeConfig config;
    config.nPort = 69;
    output.Say("error", "one line", ServeFailureFields(ServeStartError::notPermitted, config, refused));
    const std::optional<ServeLine> read = ParseServeLine(written);
    ASSERT_TRUE(read) << written;
    EXPECT_NE(ServeMessageText(*read).find("\n\tsudo adduser " + read->user + " tftp-users\n"), std::string::npos)
        << written;
    config.nPort = 6969; // ports other than 69 have no helper, so no case
    EXPECT_TRUE(ServeFailureFields(ServeStartError::notPermitted, config, refused).empty());
}

} // namespace
