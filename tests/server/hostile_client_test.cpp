// SPDX-License-Identifier: MIT
// The server against clients that misbehave: each row a script of
// datagrams and what the server answers to each, and how the transfer ends.
// (Requests that fail to parse are the rows of serve_request_test.cpp.)
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/serve_harness.h"

namespace {

enum class From : BYTE {
    Listener, // the client, to the listening port
    Client,   // the client, to the transfer's port
    Stranger, // another port, to the transfer's port
    Time,     // ms pass
};

struct Step {
    From from;
    Bytes datagram;
    std::vector<std::string> heard; // by the sender (Time: by the client)
    ULONGLONG ms = 0;
};

struct HostileCase {
    const char* name;
    std::vector<Step> steps;
    ServeState state;           // of the transfer's row at the end
    const char* logged = "";    // a text one log line holds
    const char* notLogged = ""; // a text no log line holds
};

void PrintTo(const HostileCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<std::string> Blocks(int first, int last, int size = 512)
{
    std::vector<std::string> blocks;
    for (int block = first; block <= last; ++block)
        blocks.push_back("DATA " + std::to_string(block) + " (" + std::to_string(size) + ")");
    return blocks;
}

const Bytes kRead = Request(1, "f");
const Bytes kReadWindow = Request(1, "f", "octet", {{"windowsize", "4"}});
const std::string kWindowOack = "OACK windowsize=4";

class HostileClient : public ::testing::Test, public ServeHarness, public ::testing::WithParamInterface<HostileCase> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(Start(Config()), ServeStartError::none);
        server.SetPolicy(ServePolicy{true, true, false, true});
        WriteFileBytes(dir / "f", Content(20000));
    }
};

TEST_P(HostileClient, TheServerAnswersAsTheRulesSay)
{
    FakeClient client(network);
    FakeClient stranger(network);
    int index = 0;
    for (const Step& step : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(++index));
        switch (step.from) {
        case From::Listener:
            EXPECT_EQ(Send(client, step.datagram, false), step.heard);
            break;
        case From::Client:
            EXPECT_EQ(Send(client, step.datagram), step.heard);
            break;
        case From::Stranger:
            stranger.SendTo(client.LastSenderPort(), step.datagram);
            Pump();
            EXPECT_EQ(Heard(stranger), step.heard);
            EXPECT_EQ(Heard(client), std::vector<std::string>{});
            break;
        case From::Time:
            EXPECT_EQ(Wait(client, step.ms), step.heard);
            break;
        }
    }
    ASSERT_EQ(server.Rows().size(), 1u) << "one transfer, never a second";
    EXPECT_EQ(server.Rows()[0].state, GetParam().state) << server.Rows()[0].reason;
    if (*GetParam().logged != '\0') {
        EXPECT_EQ(log.Count(GetParam().logged), 1u) << GetParam().logged;
    }
    if (*GetParam().notLogged != '\0') {
        EXPECT_EQ(log.Count(GetParam().notLogged), 0u) << GetParam().notLogged;
    }
}

const std::string kEscapes = std::string("%n%s\x1b[2J\x07") + "\xff";

INSTANTIATE_TEST_SUITE_P(
    Scripts, HostileClient,
    ::testing::Values(
        HostileCase{"ErrorOfThreeBytes",
                    {{From::Listener, kRead, {"DATA 1 (512)"}}, {From::Client, Bytes{0, 5, 0}, {}}},
                    ServeState::failed,
                    "too short"},
        HostileCase{
            "ErrorOf64KiB",
            {{From::Listener, kRead, {"DATA 1 (512)"}}, {From::Client, ErrorPacket(0, std::string(65000, 'x')), {}}},
            ServeState::failed,
            "too long"},
        HostileCase{"ErrorTextWithFormatsAndEscapes",
                    {{From::Listener, kRead, {"DATA 1 (512)"}}, {From::Client, ErrorPacket(0, kEscapes), {}}},
                    ServeState::failed,
                    "ERROR 0: %n%s\\x1b[2J\\x07\\xff",
                    "\x1b"},
        HostileCase{"StrangerAtTheTransfersPort",
                    {{From::Listener, kRead, {"DATA 1 (512)"}},
                     {From::Stranger, AckPacket(1), {"ERROR 5 Unknown transfer ID"}},
                     {From::Stranger, AckPacket(1), {"ERROR 5 Unknown transfer ID"}},
                     {From::Client, AckPacket(1), {"DATA 2 (512)"}}},
                    ServeState::running},
        HostileCase{"DuplicateAcks",
                    {{From::Listener, kReadWindow, {kWindowOack}},
                     {From::Client, AckPacket(0), Blocks(1, 4)},
                     {From::Client, AckPacket(4), Blocks(5, 8)},
                     {From::Client, AckPacket(4), {}},
                     {From::Client, AckPacket(3), {}},
                     {From::Client, AckPacket(0), {}}},
                    ServeState::running},
        HostileCase{"LockStepDuplicateAck",
                    {{From::Listener, kRead, {"DATA 1 (512)"}},
                     {From::Client, AckPacket(1), {"DATA 2 (512)"}},
                     {From::Client, AckPacket(1), {}}},
                    ServeState::running},
        HostileCase{"AckInsideTheWindow",
                    {{From::Listener, kReadWindow, {kWindowOack}},
                     {From::Client, AckPacket(0), Blocks(1, 4)},
                     {From::Client, AckPacket(2), Blocks(3, 6)}, // 3 and 4 again, then 5 and 6
                     {From::Client, AckPacket(3), Blocks(7, 7)}},
                    ServeState::running},
        HostileCase{"AckOfAFutureBlock",
                    {{From::Listener, kReadWindow, {kWindowOack}},
                     {From::Client, AckPacket(0), Blocks(1, 4)},
                     {From::Client, AckPacket(9), {}},
                     {From::Client, AckPacket(4), Blocks(5, 8)}},
                    ServeState::running},
        HostileCase{"ResentRead",
                    {{From::Listener, kRead, {"DATA 1 (512)"}},
                     {From::Listener, kRead, {}},
                     {From::Client, AckPacket(1), {"DATA 2 (512)"}}},
                    ServeState::running},
        HostileCase{"ResentWrite",
                    {{From::Listener, Request(2, "new"), {"ACK 0"}},
                     {From::Listener, Request(2, "new"), {}},
                     {From::Client, DataPacket(1, 100), {"ACK 1"}},
                     {From::Client, DataPacket(1, 100), {"ACK 1"}}}, // the last ACK was lost
                    ServeState::done,
                    "",
                    "exists"},
        HostileCase{"UploadWindowSentAgain", // the client missed ACK 4: each repeat draws it once
                    {{From::Listener, Request(2, "new", "octet", {{"windowsize", "4"}}), {kWindowOack}},
                     {From::Client, DataPacket(1, 512), {}},
                     {From::Client, DataPacket(2, 512), {}},
                     {From::Client, DataPacket(3, 512), {}},
                     {From::Client, DataPacket(4, 512), {"ACK 4"}},
                     {From::Client, DataPacket(2, 512), {"ACK 4"}},
                     {From::Client, DataPacket(3, 512), {}},
                     {From::Client, DataPacket(4, 512), {}},
                     {From::Client, DataPacket(1, 512), {"ACK 4"}},
                     {From::Client, DataPacket(5, 10), {"ACK 5"}}},
                    ServeState::done},
        HostileCase{"DataToARead",
                    {{From::Listener, kRead, {"DATA 1 (512)"}},
                     {From::Client, DataPacket(1, 10), {"ERROR 4 Illegal TFTP operation"}}},
                    ServeState::failed},
        HostileCase{"AckToAnUpload",
                    {{From::Listener, Request(2, "new"), {"ACK 0"}},
                     {From::Client, AckPacket(0), {"ERROR 4 Illegal TFTP operation"}}},
                    ServeState::failed},
        HostileCase{"BlockLongerThanGranted",
                    {{From::Listener, Request(2, "new", "octet", {{"blksize", "100"}}), {"OACK blksize=100"}},
                     {From::Client, DataPacket(1, 101), {}}},
                    ServeState::failed,
                    "too long"},
        HostileCase{"SizeQueryOfAFirmware",
                    {{From::Listener, Request(1, "f", "octet", {{"tsize", "0"}}), {"OACK tsize=20000"}},
                     {From::Client, ErrorPacket(8, "User aborted the transfer"), {}}},
                    ServeState::sizeQuery,
                    "size query",
                    "failed"},
        HostileCase{
            "NeverAcknowledged",
            {{From::Listener, kRead, {"DATA 1 (512)"}}, {From::Time, {}, {"DATA 1 (512)", "DATA 1 (512)"}, 12000}},
            ServeState::failed,
            "No answer"}),
    [](const ::testing::TestParamInfo<HostileCase>& param) { return std::string(param.param.name); });

struct FloodCase {
    const char* name;
    int maxTransfers;
    int maxPerClient;
    size_t running; // at most, during the flood
};

void PrintTo(const FloodCase& c, std::ostream* os)
{
    *os << c.name;
}

class Flood : public ::testing::Test, public ServeHarness, public ::testing::WithParamInterface<FloodCase> {};

// 10,000 requests from 200 source ports in 2 seconds: the limits hold, the
// busy answers and their log lines stay few, and another client is served.
TEST_P(Flood, LimitsHoldAndTheServerKeepsAnswering)
{
    ServeConfig config = Config();
    config.nMaxTransfers = GetParam().maxTransfers;
    config.nMaxPerClient = GetParam().maxPerClient;
    ASSERT_EQ(Start(config), ServeStartError::none);
    WriteFileBytes(dir / "f", Content(100000));
    std::vector<std::unique_ptr<FakeClient>> sources;
    sources.reserve(200);
    for (int i = 0; i < 200; ++i)
        sources.push_back(std::make_unique<FakeClient>(network));
    size_t busy = 0;
    for (int round = 0; round < 50; ++round) {
        for (const auto& source : sources)
            source->SendTo(port, Request(1, "f"));
        Pump();
        for (const auto& source : sources)
            for (const std::string& heard : Heard(*source))
                busy += heard == "ERROR 0 Server busy" ? 1 : 0;
        EXPECT_LE(server.Running(), GetParam().running);
        now += 40;
        server.OnTick(now);
    }
    EXPECT_EQ(server.Running(), GetParam().running);
    // Ten answers and ten lines per address a second at most.
    EXPECT_LE(busy, 30u);
    EXPECT_LE(log.Count("Server busy"), 30u);

    FakeClient other(network, "127.0.0.2");
    other.SendTo(port, Request(1, "f"), "127.0.0.1");
    Pump();
    EXPECT_EQ(Heard(other).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Limits, Flood,
                         ::testing::Values(FloodCase{"PerClient", 64, 8, 8}, FloodCase{"Total", 20, 100, 20}),
                         [](const ::testing::TestParamInfo<FloodCase>& param) {
                             return std::string(param.param.name);
                         });

} // namespace
