// SPDX-License-Identifier: MIT
// The sending and the receiving half, each driven by a table that runs once
// as the client and once as the server: after the first block the two ends
// must answer alike. Windows of four 512-byte blocks, on the fake network.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/fake_network.h"

namespace {

enum class Role { client, server };

// A datagram from the peer, or (empty) three seconds without one.
struct Step {
    Bytes in;
    std::vector<std::string> out;
};

struct HalfCase {
    const char* name;
    std::vector<Step> steps;
    bool bComplete; // the transfer ends whole
};

const Bytes kWait;

std::string Data(int block, int length = 512)
{
    return "DATA " + std::to_string(block) + " (" + std::to_string(length) + ")";
}

std::string Ack(int block)
{
    return "ACK " + std::to_string(block);
}

Bytes D(WORD block, size_t length = 512)
{
    return DataPacket(block, length);
}

std::string NameOf(const ::testing::TestParamInfo<std::tuple<HalfCase, Role>>& info)
{
    return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) == Role::client ? "Client" : "Server");
}

bool Completed(FakeNetworkEnd& end, Role role)
{
    if (role == Role::server)
        return static_cast<FakeNetworkServer&>(end).Row().state == ServeState::done;
    const std::vector<UINT> messages = static_cast<FakeNetworkClient&>(end).Messages();
    return !messages.empty() && messages.back() == WM_TFTP_COMPLETE;
}

void RunSteps(FakeNetworkEnd& end, const HalfCase& c)
{
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        if (step.in.empty())
            end.Wait(3000);
        else
            end.Deliver(step.in);
        EXPECT_EQ(end.Sent(), step.out) << "step " << i;
    }
}

// The transfer as far as its first block: a window of four 512-byte blocks
// granted, the first window out (the sending half) or DATA 1 awaited (the
// receiving half). The server's OACK, or a Get's ACK 0, is taken away.
std::unique_ptr<FakeNetworkEnd> StartWithWindowOfFour(TempDir& dir, Role role, WORD wDirection)
{
    std::unique_ptr<FakeNetworkEnd> end;
    if (role == Role::client) {
        end = std::make_unique<FakeNetworkClient>(dir, wDirection, TftpOptions{512, 4, 0, false, 0});
        end->Deliver(BytesOf(std::string("\0\6blksize\0"
                                         "512\0windowsize\0"
                                         "4\0",
                                         27)));
        if (wDirection == DIRECTION_GET)
            (void)end->Sent();
        return end;
    }
    end = std::make_unique<FakeNetworkServer>(
        dir, wDirection == DIRECTION_PUT ? TFTP_OPCODE_RRQ : TFTP_OPCODE_WRQ,
        std::vector<std::pair<std::string, std::string>>{{"blksize", "512"}, {"windowsize", "4"}});
    (void)end->Sent();
    if (wDirection == DIRECTION_PUT)
        end->Deliver(AckPacket(0));
    return end;
}

// A client's Put and a served read of 2600 bytes: five full blocks and 40 bytes.
class SendingHalf : public ::testing::TestWithParam<std::tuple<HalfCase, Role>> {};

TEST_P(SendingHalf, AnswersAsTheTableSays)
{
    const auto& [c, role] = GetParam();
    TempDir dir;
    WriteFileBytes(dir / "local.bin", Bytes(2600, 'p'));
    WriteFileBytes(dir / "f.bin", Bytes(2600, 'p'));
    const std::unique_ptr<FakeNetworkEnd> end = StartWithWindowOfFour(dir, role, DIRECTION_PUT);
    ASSERT_EQ(end->Sent(), (std::vector<std::string>{Data(1), Data(2), Data(3), Data(4)}));
    RunSteps(*end, c);
    EXPECT_EQ(Completed(*end, role), c.bComplete);
}

const HalfCase kSendingCases[] = {
    {"WindowsSlideToTheEnd", {{AckPacket(4), {Data(5), Data(6, 40)}}, {AckPacket(6), {}}}, true},
    // The receiver dropped what followed block 2: the rest goes at once.
    {"PartialAckSendsTheRestAtOnce", {{AckPacket(2), {Data(3), Data(4), Data(5), Data(6, 40)}}}, false},
    // Once per resend, until an ACK reaches its newest block.
    {"APartialAckDuringTheResendWaitsForIt",
     {{AckPacket(1), {Data(2), Data(3), Data(4), Data(5)}}, {AckPacket(2), {Data(6, 40)}}},
     false},
    {"DuplicateAndUnsentAcksSendNothing",
     {{AckPacket(4), {Data(5), Data(6, 40)}}, {AckPacket(4), {}}, {AckPacket(9), {}}},
     false},
    // A receiver whose ACKs of a whole window were lost may wait for the
    // block after it: that goes first, then the window.
    {"ATimeoutSendsTheBlockPastTheWindowThenTheWindow",
     {{kWait, {Data(5), Data(1), Data(2), Data(3), Data(4)}}, {AckPacket(5), {Data(6, 40)}}, {AckPacket(6), {}}},
     true},
};

INSTANTIATE_TEST_SUITE_P(Table, SendingHalf,
                         ::testing::Combine(::testing::ValuesIn(kSendingCases),
                                            ::testing::Values(Role::client, Role::server)),
                         NameOf);

// A client's Get and a served upload, both of "f.bin".
class ReceivingHalf : public ::testing::TestWithParam<std::tuple<HalfCase, Role>> {};

TEST_P(ReceivingHalf, AnswersAsTheTableSays)
{
    const auto& [c, role] = GetParam();
    TempDir dir;
    const std::unique_ptr<FakeNetworkEnd> end = StartWithWindowOfFour(dir, role, DIRECTION_GET);
    RunSteps(*end, c);
    EXPECT_EQ(Completed(*end, role), c.bComplete);
    if (c.bComplete) {
        EXPECT_EQ(std::filesystem::file_size(dir / "f.bin"), 4 * 512 + 100u);
    }
}

const HalfCase kReceivingCases[] = {
    {"AWindowIsAcknowledgedAtItsEnd",
     {{D(1), {}}, {D(2), {}}, {D(3), {}}, {D(4), {Ack(4)}}, {D(5, 100), {Ack(5)}}},
     true},
    // One ACK for the gap, none for the rest of that window.
    {"AGapIsAnsweredOnce",
     {{D(1), {}}, {D(3), {Ack(1)}}, {D(4), {}}, {D(2), {}}, {D(3), {}}, {D(4), {}}, {D(5), {Ack(5)}}},
     false},
    // The sender missed the ACK of its window: once per repeat.
    {"ARepeatedWindowIsAcknowledgedAgainOnce",
     {{D(1), {}}, {D(2), {}}, {D(3), {}}, {D(4), {Ack(4)}}, {D(1), {Ack(4)}}, {D(2), {}}, {D(4), {}}, {D(1), {Ack(4)}}},
     false},
    {"ATimeoutSendsTheAckAgain", {{D(1), {}}, {kWait, {Ack(1)}}, {D(2), {}}}, false},
    {"TheLastBlockAgainDrawsItsAckAgain",
     {{D(1), {}}, {D(2), {}}, {D(3), {}}, {D(4), {Ack(4)}}, {D(5, 100), {Ack(5)}}, {D(5, 100), {Ack(5)}}},
     true},
};

INSTANTIATE_TEST_SUITE_P(Table, ReceivingHalf,
                         ::testing::Combine(::testing::ValuesIn(kReceivingCases),
                                            ::testing::Values(Role::client, Role::server)),
                         NameOf);

} // namespace
