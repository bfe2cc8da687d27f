// SPDX-License-Identifier: MIT
// A hostile or broken server, as a table of scripted replies: each transfer
// ends as the exchange rules say, with no crash (the sanitizer build runs it too).
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "client/session.h"
#include "platform/core/msgbox.h"
#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/fake_peer.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/session_driver.h"
#include "tests/support/temp_dir.h"

namespace {

enum class From { Transfer, Stranger };

struct Reply {
    From from;
    Bytes datagram;
    int repeat = 1;
};

struct HostileCase {
    const char* name;
    WORD direction;
    std::vector<Reply> script;
    std::vector<UINT> messages;     // after WM_TFTP_REQUEST_SENT and WM_TFTP_STARTED
    std::vector<std::string> boxes; // texts up to their first blank line, in order
    std::vector<Bytes> sent;        // what the client sent back after the request
};

void PrintTo(const HostileCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::string kUnspecified = AfxLoadString(IDS_UNSPECIFIED_ERROR);
const std::string kTooLong =
    "This session has been aborted due to a general failure.\nError code: " + std::to_string(EMSGSIZE);
const Bytes kError4{0, 5, 0, 4, 0};
const Bytes kError5{0, 5, 0, 5, 0};

std::vector<HostileCase> Cases()
{
    return {
        {"SecondPortAfterLockIn",
         DIRECTION_GET,
         {{From::Transfer, DataPacket(1, 512)},
          {From::Stranger, DataPacket(2, 512)},
          {From::Stranger, ErrorPacket(0, "hijack")},
          {From::Transfer, DataPacket(2, 10)}},
         {WM_TFTP_PROGRESS, WM_TFTP_PROGRESS, WM_TFTP_COMPLETE},
         {},
         {AckPacket(1), AckPacket(2)}},
        {"ErrorFlood",
         DIRECTION_GET,
         {{From::Transfer, ErrorPacket(0, "go away"), 50}},
         {WM_TFTP_FAILED},
         {"go away"},
         {}},
        {"Data0First",
         DIRECTION_GET,
         {{From::Transfer, DataPacket(0, 100)}},
         {WM_TFTP_FAILED},
         {kUnspecified},
         {kError5}},
        {"AckOfBlocksNeverSent",
         DIRECTION_PUT,
         {{From::Transfer, AckPacket(0)},
          {From::Transfer, AckPacket(7)},
          {From::Transfer, AckPacket(65535)},
          {From::Transfer, AckPacket(2)}},
         {WM_TFTP_PROGRESS},
         {},
         {DataPacket(1, 512, 'p')}},
        {"Opcode0", DIRECTION_GET, {{From::Transfer, PacketOfOpcode(0, 1)}}, {WM_TFTP_FAILED}, {kUnspecified}, {}},
        {"Opcode6", DIRECTION_GET, {{From::Transfer, PacketOfOpcode(6, 1, 40)}}, {WM_TFTP_FAILED}, {kUnspecified}, {}},
        {"Opcode65535",
         DIRECTION_PUT,
         {{From::Transfer, PacketOfOpcode(65535, 0)}},
         {WM_TFTP_FAILED},
         {kUnspecified},
         {}},
        {"Length0", DIRECTION_GET, {{From::Transfer, Bytes{}}}, {WM_TFTP_FAILED}, {kUnspecified}, {}},
        {"Length3", DIRECTION_PUT, {{From::Transfer, Bytes{0, 4, 0}}}, {WM_TFTP_FAILED}, {kUnspecified}, {}},
        {"Length517", DIRECTION_GET, {{From::Transfer, DataPacket(1, 513)}}, {WM_TFTP_FAILED}, {kUnspecified}, {}},
        {"Length520", DIRECTION_GET, {{From::Transfer, DataPacket(1, 516)}}, {WM_TFTP_FAILED}, {kUnspecified}, {}},
        {"Length521",
         DIRECTION_GET,
         {{From::Transfer, DataPacket(1, 517)}},
         {WM_TFTP_FAILED},
         {kTooLong, kUnspecified},
         {}},
        {"Length1500",
         DIRECTION_PUT,
         {{From::Transfer, PacketOfOpcode(4, 0, 1500)}},
         {WM_TFTP_FAILED},
         {kTooLong, kUnspecified},
         {}},
        {"ErrorWithoutZeroByte",
         DIRECTION_GET,
         {{From::Transfer, ErrorPacket(0, "no end", false)}},
         {WM_TFTP_FAILED},
         {"no end"},
         {}},
        {"ErrorWithMarkup",
         DIRECTION_GET,
         {{From::Transfer, ErrorPacket(0, "<b>denied</b> <a href='file:///'>%s%n</a>")}},
         {WM_TFTP_FAILED},
         {"<b>denied</b> <a href='file:///'>%s%n</a>"},
         {}},
    };
}

// Each script over IPv4 and over IPv6: the lock-in and the answers to
// strangers do not depend on the family.
class HostileServer : public ::testing::TestWithParam<std::tuple<HostileCase, std::string>> {};

TEST_P(HostileServer, EndsAsTheRulesSay)
{
    const HostileCase& c = std::get<0>(GetParam());
    const char* address = std::get<1>(GetParam()).c_str();
    TempDir dir;
    WriteFileBytes(dir / "local.bin", Bytes(1000, 'p'));
    CMessageBoxRecorder boxes;
    CWnd owner;
    FakePeer server(address);
    FakePeer transfer(address);
    FakePeer stranger(address);
    {
        CTFTPSession session(&owner);
        ASSERT_TRUE(session.Start(server.HostString().c_str(), (dir / "local.bin").c_str(), "remote.bin", c.direction,
                                  MODE_BINARY));
        ASSERT_TRUE(server.Receive());
        const UINT port = server.LastSenderPort();
        for (const Reply& reply : c.script) {
            for (int i = 0; i < reply.repeat; ++i) {
                (reply.from == From::Transfer ? transfer : stranger).SendTo(port, reply.datagram);
                if (WaitReadable(session.m_hSocket, reply.from == From::Stranger ? 0 : 2000))
                    session.OnReceive(0);
            }
        }
        // Whatever is still waiting (strays after lock-in never wait).
        while (WaitReadable(session.m_hSocket, 0))
            session.OnReceive(0);
    }

    const std::vector<UINT> messages = TakeMessages(owner);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(std::vector<UINT>(messages.begin() + 2, messages.end()), c.messages);
    EXPECT_EQ(boxes.FirstParagraphs(), c.boxes);
    std::vector<Bytes> sent;
    while (auto datagram = transfer.TryReceive())
        sent.push_back(*datagram);
    EXPECT_EQ(sent, c.sent);
    EXPECT_EQ(stranger.TryReceive(), std::nullopt);
    // Only a completed Get leaves a file; no temporary file is ever left.
    const bool stored = c.direction == DIRECTION_GET && c.messages.back() == WM_TFTP_COMPLETE;
    const std::vector<std::string> names =
        stored ? std::vector<std::string>{"local.bin", "remote.bin"} : std::vector<std::string>{"local.bin"};
    EXPECT_EQ(dir.Names(), names);
}

INSTANTIATE_TEST_SUITE_P(Scripts, HostileServer,
                         ::testing::Combine(::testing::ValuesIn(Cases()),
                                            ::testing::Values(std::string("127.0.0.1"), std::string("::1"))),
                         [](const auto& test) {
                             return std::string(std::get<0>(test.param).name) +
                                    (std::get<1>(test.param) == "::1" ? "Ipv6" : "Ipv4");
                         });

} // namespace
