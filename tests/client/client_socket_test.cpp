// SPDX-License-Identifier: MIT
#include "client/client_socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <netdb.h>
#include <string>
#include <vector>

#include "platform/core/format.h"
#include "platform/core/msgbox.h"
#include "protocol/errors.h"
#include "protocol/packet.h"
#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/fake_peer.h"
#include "tests/support/fake_resolver.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/session_driver.h"

namespace {

// Opens the socket's fields to the test.
class ProbeSocket : public CTFTPSocket {
public:
    using CTFTPSocket::CTFTPSocket;
    using CTFTPSocket::m_bConnected;
    using CTFTPSocket::m_wState;

    // Reads the datagram that the peer has sent, as a readiness call would.
    int ReceiveWaiting()
    {
        WaitReadable(m_hSocket);
        return Receive(buffer, TFTP_PACKET_BUFFER, 0);
    }

    BYTE buffer[TFTP_PACKET_BUFFER] = {};
};

class SocketExchange : public ::testing::Test {
protected:
    std::vector<UINT> TakeMessages() { return ::TakeMessages(owner); }

    UINT EnginePort() { return LocalPort(sock.m_hSocket); }

    // The request went to `server`; it is taken off the wire and returned.
    Bytes Request(WORD direction, WORD mode = MODE_BINARY, const char* name = "a.txt")
    {
        EXPECT_TRUE(sock.SendRequest(server.HostString().c_str(), name, direction, mode));
        EXPECT_EQ(TakeMessages(), std::vector<UINT>{WM_TFTP_REQUEST_SENT});
        auto request = server.Receive();
        EXPECT_TRUE(request.has_value());
        return request.value_or(Bytes{});
    }

    // Sends from the server's transfer port and lets the engine read it.
    int FromTransfer(const Bytes& datagram)
    {
        transfer.SendTo(EnginePort(), datagram);
        return sock.ReceiveWaiting();
    }

    // Puts the socket in a state the way a real exchange gets there.
    void Reach(TftpState state)
    {
        switch (state) {
        case TFTP_STATE_IDLE:
            // A request that could not go out (a broadcast address, without
            // leave to broadcast) leaves a socket, idle.
            ASSERT_FALSE(sock.SendRequest("255.255.255.255:69", "a.txt", DIRECTION_GET, MODE_BINARY));
            boxes.boxes.clear();
            break;
        case TFTP_STATE_RRQ_SENT:
            Request(DIRECTION_GET);
            break;
        case TFTP_STATE_WRQ_SENT:
            Request(DIRECTION_PUT);
            break;
        case TFTP_STATE_WAIT_DATA:
            Request(DIRECTION_GET);
            ASSERT_EQ(FromTransfer(DataPacket(1, 512)), TFTP_RESULT_DATA + 516);
            ASSERT_EQ(transfer.Receive(), AckPacket(1));
            break;
        case TFTP_STATE_WAIT_ACK: {
            Request(DIRECTION_PUT);
            ASSERT_EQ(FromTransfer(AckPacket(0)), TFTP_RESULT_ACKED);
            BYTE block[TFTP_PACKET_BUFFER] = {};
            sock.SendBlock(block, 512);
            ASSERT_EQ(transfer.Receive()->size(), 516u);
            break;
        }
        case TFTP_STATE_RESOLVING:
            ASSERT_TRUE(sock.SendRequest("tftp.example", "a.txt", DIRECTION_GET, MODE_BINARY));
            EXPECT_EQ(TakeMessages(), std::vector<UINT>{WM_TFTP_RESOLVING});
            break;
        case TFTP_STATE_CLOSED:
            Request(DIRECTION_GET);
            ASSERT_EQ(FromTransfer(PacketOfOpcode(9, 1)), TFTP_RESULT_ERROR + TFTP_REASON_OPCODE);
            break;
        }
        ASSERT_EQ(sock.m_wState, state);
    }

    CMessageBoxRecorder boxes;
    CFakeResolver resolver;
    CWnd owner;
    FakePeer server;
    FakePeer transfer;
    ProbeSocket sock{&owner};
};

const Bytes kError4{0, 5, 0, 4, 0};
const Bytes kError5{0, 5, 0, 5, 0};
const Bytes kNothing{};

struct TransitionRow {
    const char* name;
    TftpState state;
    Bytes datagram;
    int result;
    TftpState newState;
    Bytes sent; // what goes back to the sender; empty for nothing
};

// After Reach: RRQ_SENT awaits DATA 1, WAIT_DATA awaits DATA 2 (ACK 1 sent),
// WRQ_SENT awaits ACK 0, WAIT_ACK awaits ACK 1 (DATA 1 sent).
const TransitionRow kTransitions[] = {
    {"RrqSentData2", TFTP_STATE_RRQ_SENT, DataPacket(2, 10), TFTP_RESULT_ERROR + TFTP_REASON_BLOCK, TFTP_STATE_CLOSED,
     kError5},
    {"RrqSentData0", TFTP_STATE_RRQ_SENT, DataPacket(0, 10), TFTP_RESULT_ERROR + TFTP_REASON_BLOCK, TFTP_STATE_CLOSED,
     kError5},
    {"RrqSentAck0", TFTP_STATE_RRQ_SENT, AckPacket(0), TFTP_RESULT_ERROR + TFTP_REASON_BLOCK, TFTP_STATE_CLOSED,
     kError5},
    {"RrqSentAck1", TFTP_STATE_RRQ_SENT, AckPacket(1), TFTP_RESULT_ERROR + TFTP_REASON_UNEXPECTED, TFTP_STATE_CLOSED,
     kError4},
    {"RrqSentRrq1", TFTP_STATE_RRQ_SENT, PacketOfOpcode(1, 1), TFTP_RESULT_ERROR + TFTP_REASON_UNEXPECTED,
     TFTP_STATE_CLOSED, kError4},
    {"RrqSentWrq1", TFTP_STATE_RRQ_SENT, PacketOfOpcode(2, 1), TFTP_RESULT_ERROR + TFTP_REASON_UNEXPECTED,
     TFTP_STATE_CLOSED, kError4},
    {"RrqSentData1", TFTP_STATE_RRQ_SENT, DataPacket(1, 10), TFTP_RESULT_DATA + 14, TFTP_STATE_WAIT_DATA, AckPacket(1)},
    {"RrqSentEmptyData1", TFTP_STATE_RRQ_SENT, DataPacket(1), TFTP_RESULT_DATA + 4, TFTP_STATE_WAIT_DATA, AckPacket(1)},
    {"WaitDataAck2", TFTP_STATE_WAIT_DATA, AckPacket(2), TFTP_RESULT_ERROR + TFTP_REASON_UNEXPECTED, TFTP_STATE_CLOSED,
     kError4},
    {"WaitDataRrq", TFTP_STATE_WAIT_DATA, PacketOfOpcode(1, 2), TFTP_RESULT_ERROR + TFTP_REASON_UNEXPECTED,
     TFTP_STATE_CLOSED, kError4},
    {"WaitDataWrq", TFTP_STATE_WAIT_DATA, PacketOfOpcode(2, 2), TFTP_RESULT_ERROR + TFTP_REASON_UNEXPECTED,
     TFTP_STATE_CLOSED, kError4},
    {"WaitDataDuplicate", TFTP_STATE_WAIT_DATA, DataPacket(1, 512), TFTP_RESULT_NONE, TFTP_STATE_WAIT_DATA, kNothing},
    {"WaitDataAhead", TFTP_STATE_WAIT_DATA, DataPacket(3, 512), TFTP_RESULT_NONE, TFTP_STATE_WAIT_DATA, kNothing},
    {"WaitDataFull", TFTP_STATE_WAIT_DATA, DataPacket(2, 512), TFTP_RESULT_DATA + 516, TFTP_STATE_WAIT_DATA,
     AckPacket(2)},
    {"WrqSentData0", TFTP_STATE_WRQ_SENT, DataPacket(0, 10), TFTP_RESULT_ERROR + TFTP_REASON_NOT_ACK, TFTP_STATE_CLOSED,
     kError4},
    {"WrqSentRrq0", TFTP_STATE_WRQ_SENT, PacketOfOpcode(1, 0), TFTP_RESULT_ERROR + TFTP_REASON_NOT_ACK,
     TFTP_STATE_CLOSED, kError4},
    {"WrqSentData1", TFTP_STATE_WRQ_SENT, DataPacket(1, 10), TFTP_RESULT_ERROR + TFTP_REASON_BLOCK, TFTP_STATE_CLOSED,
     kError5},
    {"WrqSentAck1", TFTP_STATE_WRQ_SENT, AckPacket(1), TFTP_RESULT_ERROR + TFTP_REASON_BLOCK, TFTP_STATE_CLOSED,
     kError5},
    {"WrqSentAck0", TFTP_STATE_WRQ_SENT, AckPacket(0), TFTP_RESULT_ACKED, TFTP_STATE_WAIT_ACK, kNothing},
    {"WaitAckData1", TFTP_STATE_WAIT_ACK, DataPacket(1, 10), TFTP_RESULT_ERROR + TFTP_REASON_NOT_ACK, TFTP_STATE_CLOSED,
     kError4},
    {"WaitAckWrq", TFTP_STATE_WAIT_ACK, PacketOfOpcode(2, 1), TFTP_RESULT_ERROR + TFTP_REASON_NOT_ACK,
     TFTP_STATE_CLOSED, kError4},
    {"WaitAckStale", TFTP_STATE_WAIT_ACK, AckPacket(0), TFTP_RESULT_NONE, TFTP_STATE_WAIT_ACK, kNothing},
    {"WaitAckAhead", TFTP_STATE_WAIT_ACK, AckPacket(2), TFTP_RESULT_NONE, TFTP_STATE_WAIT_ACK, kNothing},
    {"WaitAckAwaited", TFTP_STATE_WAIT_ACK, AckPacket(1), TFTP_RESULT_ACKED, TFTP_STATE_WAIT_ACK, kNothing},
    {"ClosedData", TFTP_STATE_CLOSED, DataPacket(1, 10), TFTP_RESULT_NONE, TFTP_STATE_CLOSED, kNothing},
    {"ClosedAck", TFTP_STATE_CLOSED, AckPacket(0), TFTP_RESULT_NONE, TFTP_STATE_CLOSED, kNothing},
    {"IdleData", TFTP_STATE_IDLE, DataPacket(1, 10), TFTP_RESULT_ERROR + TFTP_REASON_UNEXPECTED, TFTP_STATE_IDLE,
     kNothing},
    {"IdleAck", TFTP_STATE_IDLE, AckPacket(0), TFTP_RESULT_ERROR + TFTP_REASON_UNEXPECTED, TFTP_STATE_IDLE, kNothing},
    {"Length0", TFTP_STATE_RRQ_SENT, Bytes{}, TFTP_RESULT_ERROR + TFTP_REASON_RECEIVE, TFTP_STATE_CLOSED, kNothing},
    {"Length3", TFTP_STATE_RRQ_SENT, Bytes{0, 3, 0}, TFTP_RESULT_ERROR + TFTP_REASON_RECEIVE, TFTP_STATE_CLOSED,
     kNothing},
    {"Length517", TFTP_STATE_RRQ_SENT, DataPacket(1, 513), TFTP_RESULT_ERROR + TFTP_REASON_RECEIVE, TFTP_STATE_CLOSED,
     kNothing},
    {"Length520", TFTP_STATE_WAIT_DATA, DataPacket(2, 516), TFTP_RESULT_ERROR + TFTP_REASON_RECEIVE, TFTP_STATE_CLOSED,
     kNothing},
    {"Opcode0", TFTP_STATE_RRQ_SENT, PacketOfOpcode(0, 1), TFTP_RESULT_ERROR + TFTP_REASON_OPCODE, TFTP_STATE_CLOSED,
     kNothing},
    {"Opcode6", TFTP_STATE_WAIT_ACK, PacketOfOpcode(6, 1), TFTP_RESULT_ERROR + TFTP_REASON_OPCODE, TFTP_STATE_CLOSED,
     kNothing},
};

void PrintTo(const TransitionRow& row, std::ostream* os)
{
    *os << row.name;
}

class Transition : public SocketExchange, public ::testing::WithParamInterface<TransitionRow> {};

TEST_P(Transition, ResultStateAndWire)
{
    const TransitionRow& row = GetParam();
    Reach(row.state);

    EXPECT_EQ(FromTransfer(row.datagram), row.result);
    EXPECT_EQ(sock.m_wState, row.newState);
    const std::optional<Bytes> sent = transfer.TryReceive();
    EXPECT_EQ(sent.value_or(Bytes{}), row.sent);
    EXPECT_EQ(server.TryReceive(), std::nullopt);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(TakeMessages().empty());
}

INSTANTIATE_TEST_SUITE_P(Receive, Transition, ::testing::ValuesIn(kTransitions),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(SocketExchange, RequestBytesInBothModes)
{
    const Bytes octet = BytesOf(std::string("\0\1a.txt\0octet\0", 14));
    const Bytes netascii = BytesOf(std::string("\0\1a.txt\0netascii\0", 17));
    const Bytes put = BytesOf(std::string("\0\2a.txt\0netascii\0", 17));
    EXPECT_EQ(Request(DIRECTION_GET, MODE_BINARY), octet);

    ProbeSocket ascii(&owner);
    ASSERT_TRUE(ascii.SendRequest(server.HostString().c_str(), "a.txt", DIRECTION_GET, MODE_ASCII));
    EXPECT_EQ(server.Receive(), netascii);

    ProbeSocket upload(&owner);
    ASSERT_TRUE(upload.SendRequest(server.HostString().c_str(), "a.txt", DIRECTION_PUT, MODE_ASCII));
    EXPECT_EQ(server.Receive(), put);
}

TEST_F(SocketExchange, NameOfTheLongestLengthGoesOutAndALongerOneIsRefused)
{
    const std::string longest(255, 'n');
    EXPECT_EQ(Request(DIRECTION_GET, MODE_ASCII, longest.c_str()).size(), 255u + 12);

    ProbeSocket tooLong(&owner);
    EXPECT_FALSE(
        tooLong.SendRequest(server.HostString().c_str(), std::string(256, 'n').c_str(), DIRECTION_GET, MODE_ASCII));
    EXPECT_EQ(server.TryReceive(), std::nullopt);
    EXPECT_EQ(tooLong.m_wState, TFTP_STATE_IDLE);
    ASSERT_EQ(boxes.boxes.size(), 1u);
}

TEST_F(SocketExchange, LockInToTheTransferPortAndIgnoreOtherPorts)
{
    Request(DIRECTION_GET);
    EXPECT_EQ(FromTransfer(DataPacket(1, 512)), TFTP_RESULT_DATA + 516);
    EXPECT_TRUE(sock.m_bConnected);
    EXPECT_EQ(transfer.Receive(), AckPacket(1));

    // From now on the kernel keeps datagrams of other ports away from the socket.
    FakePeer stranger;
    server.SendTo(EnginePort(), DataPacket(2, 512));
    stranger.SendTo(EnginePort(), ErrorPacket(0, "go away"));
    EXPECT_TRUE(NothingWaiting(sock.m_hSocket));

    EXPECT_EQ(FromTransfer(DataPacket(2, 100)), TFTP_RESULT_DATA + 104);
    EXPECT_EQ(transfer.Receive(), AckPacket(2));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SocketExchange, StraysQueuedBeforeTheLockInAreIgnoredAfterIt)
{
    Request(DIRECTION_GET);
    FakePeer stranger;
    transfer.SendTo(EnginePort(), DataPacket(1, 512));
    stranger.SendTo(EnginePort(), ErrorPacket(0, "stray from another port"));
    stranger.SendTo(EnginePort(), DataPacket(2, 512));
    EXPECT_EQ(sock.ReceiveWaiting(), TFTP_RESULT_DATA + 516);
    EXPECT_EQ(sock.ReceiveWaiting(), TFTP_RESULT_NONE);
    EXPECT_EQ(sock.ReceiveWaiting(), TFTP_RESULT_NONE);
    EXPECT_EQ(sock.m_wState, TFTP_STATE_WAIT_DATA);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(stranger.TryReceive(), std::nullopt);
    EXPECT_EQ(FromTransfer(DataPacket(2, 10)), TFTP_RESULT_DATA + 14);
}

TEST_F(SocketExchange, FirstReplyFromAnotherAddressIsLockedIn)
{
    Request(DIRECTION_PUT);
    FakePeer elsewhere("127.0.0.2");
    elsewhere.SendTo(EnginePort(), AckPacket(0));
    EXPECT_EQ(sock.ReceiveWaiting(), TFTP_RESULT_ACKED);
    BYTE block[TFTP_PACKET_BUFFER] = {};
    sock.SendBlock(block, 0);
    EXPECT_EQ(elsewhere.Receive(), DataPacket(1));
}

TEST_F(SocketExchange, UnansweredRequestIsResentTwiceThenTimesOut)
{
    const Bytes request = Request(DIRECTION_GET);
    for (int tick = 1; tick <= 24; ++tick) {
        sock.OnTick();
        const bool resend = tick == 6 || tick == 12;
        EXPECT_EQ(server.TryReceive(), resend ? std::optional<Bytes>(request) : std::nullopt) << "tick " << tick;
        EXPECT_EQ(TakeMessages(), tick == 18 ? std::vector<UINT>{WM_TFTP_TIMEOUT} : std::vector<UINT>{})
            << "tick " << tick;
    }
    EXPECT_EQ(sock.m_wState, TFTP_STATE_CLOSED);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SocketExchange, IgnoredDuplicatesDoNotHoldOffTheTimeout)
{
    Reach(TFTP_STATE_WAIT_ACK);
    const Bytes data1 = DataPacket(1, 512, 0);
    for (int tick = 1; tick <= 18; ++tick) {
        EXPECT_EQ(FromTransfer(AckPacket(0)), TFTP_RESULT_NONE);
        sock.OnTick();
        const bool resend = tick == 6 || tick == 12;
        EXPECT_EQ(transfer.TryReceive(), resend ? std::optional<Bytes>(data1) : std::nullopt) << "tick " << tick;
    }
    EXPECT_EQ(TakeMessages(), std::vector<UINT>{WM_TFTP_TIMEOUT});
    EXPECT_EQ(sock.m_wState, TFTP_STATE_CLOSED);
}

TEST_F(SocketExchange, AcceptedReplyRestartsTheCountAndTheAckIsWhatIsResent)
{
    Reach(TFTP_STATE_WAIT_DATA);
    for (int tick = 0; tick < 11; ++tick)
        sock.OnTick();
    EXPECT_EQ(transfer.TryReceive(), AckPacket(1)); // the resend at the sixth tick
    EXPECT_EQ(FromTransfer(DataPacket(2, 512)), TFTP_RESULT_DATA + 516);
    EXPECT_EQ(transfer.TryReceive(), AckPacket(2));
    // The count starts again: five quiet ticks, the resend at the sixth.
    for (int tick = 0; tick < 5; ++tick)
        sock.OnTick();
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);
    sock.OnTick();
    EXPECT_EQ(transfer.TryReceive(), AckPacket(2));
    EXPECT_TRUE(TakeMessages().empty());
}

sockaddr_storage Address(const char* host, UINT port)
{
    return AfxLookUpHost(host, port, true).addresses.at(0);
}

struct LogLines : ITransferLog {
    void LogLine(std::string_view line) override { lines.emplace_back(line); }
    size_t Count(std::string_view part) const
    {
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [part](const std::string& line) {
            return line.find(part) != std::string::npos;
        }));
    }
    std::vector<std::string> lines;
};

TEST_F(SocketExchange, ANameWaitsForItsLookupAndNothingIsSentOnceTheTransferIsGone)
{
    ASSERT_TRUE(sock.SendRequest("tftp.example:6969", "a.txt", DIRECTION_GET, MODE_BINARY));
    EXPECT_EQ(sock.m_wState, TFTP_STATE_RESOLVING);
    EXPECT_EQ(TakeMessages(), std::vector<UINT>{WM_TFTP_RESOLVING});
    ASSERT_EQ(resolver.Hosts(), std::vector<std::string>{"tftp.example"});
    EXPECT_EQ(resolver.Port(0), 6969u);
    // However long the lookup takes, no tick counts towards a timeout.
    for (int tick = 0; tick < 40; ++tick)
        sock.OnTick();
    EXPECT_TRUE(TakeMessages().empty());
    HostLookupResult found;
    found.addresses = {Address("127.0.0.1", server.Port())};
    ASSERT_TRUE(resolver.Answer(0, found));
    EXPECT_EQ(TakeMessages(), std::vector<UINT>{WM_TFTP_REQUEST_SENT});
    EXPECT_EQ(server.Receive(), BytesOf(std::string("\0\1a.txt\0octet\0", 14)));
    // A refusal names the host as typed, and the address it was found at.
    EXPECT_EQ(FromTransfer(ErrorPacket(1, "")), TFTP_RESULT_NONE);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].text.find("Get of \"a.txt\" from tftp.example (127.0.0.1 port " +
                                       std::to_string(server.Port()) + "): "),
              std::string::npos);
    boxes.boxes.clear();
    TakeMessages();

    // A transfer ended while its lookup runs hears nothing of it, and sends nothing.
    auto* waiting = new ProbeSocket(&owner);
    ASSERT_TRUE(waiting->SendRequest("slow.example", "a.txt", DIRECTION_GET, MODE_BINARY));
    CTFTPSocketDeleter()(waiting);
    EXPECT_FALSE(resolver.Answer(1, found));
    EXPECT_EQ(server.Receive(100), std::nullopt);

    // A name that is not found is named, and the window is told.
    ProbeSocket unknown(&owner);
    TakeMessages();
    ASSERT_TRUE(unknown.SendRequest("nowhere.example", "a.txt", DIRECTION_GET, MODE_BINARY));
    ASSERT_TRUE(resolver.Answer(2, HostLookupResult{EAI_NONAME, {}}));
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{AfxFormatString(AfxFindString(IDS_HOST_NOT_FOUND), "nowhere.example",
                                                       AfxFindString(IDS_DESTINATION_UNAVAILABLE))});
    EXPECT_EQ(TakeMessages(), (std::vector<UINT>{WM_TFTP_RESOLVING, WM_TFTP_FAILED}));
}

TEST_F(SocketExchange, SeveralAddressesAreTriedInTurnAndTheTimeoutCountsFromTheLast)
{
    LogLines log;
    sock.SetLog(&log);
    FakePeer silent;
    ASSERT_TRUE(sock.SendRequest("multi.example", "a.txt", DIRECTION_GET, MODE_BINARY));
    HostLookupResult found;
    // A broadcast address refuses the send at once; the silent peer never answers.
    found.addresses = {Address("255.255.255.255", 69), Address("127.0.0.1", silent.Port()),
                       Address("127.0.0.1", server.Port())};
    ASSERT_TRUE(resolver.Answer(0, found));
    const Bytes request = silent.Receive().value_or(Bytes{});
    EXPECT_EQ(TakeMessages(), (std::vector<UINT>{WM_TFTP_RESOLVING, WM_TFTP_REQUEST_SENT}));
    for (int tick = 1; tick <= 6; ++tick)
        sock.OnTick();
    EXPECT_EQ(server.Receive(), request);
    EXPECT_EQ(silent.TryReceive(), std::nullopt);
    for (int tick = 1; tick <= 18; ++tick) {
        sock.OnTick();
        EXPECT_EQ(TakeMessages(), tick == 18 ? std::vector<UINT>{WM_TFTP_TIMEOUT} : std::vector<UINT>{})
            << "tick " << tick;
    }
    EXPECT_EQ(log.Count("of 3)"), 3u);
    EXPECT_TRUE(boxes.boxes.empty());
    sock.SetLog(nullptr);
}

TEST_F(SocketExchange, NothingHappensOnTicksBeforeTheRequestOrAfterTheEnd)
{
    for (int tick = 0; tick < 30; ++tick)
        sock.OnTick();
    Reach(TFTP_STATE_CLOSED);
    for (int tick = 0; tick < 30; ++tick)
        sock.OnTick();
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);
    EXPECT_EQ(server.TryReceive(), std::nullopt);
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(SocketExchange, SendBlockRefusesAnOversizedPayload)
{
    Reach(TFTP_STATE_WAIT_ACK);
    BYTE block[TFTP_PACKET_BUFFER] = {};
    EXPECT_EQ(sock.SendBlock(block, 513), 0);
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);
    // DATA 1 is still what a tick resends and what an ACK must name.
    for (int tick = 0; tick < TFTP_TICKS_PER_RESEND; ++tick)
        sock.OnTick();
    const std::optional<Bytes> resent = transfer.TryReceive();
    ASSERT_TRUE(resent.has_value());
    EXPECT_EQ(resent->size(), 516u);
    EXPECT_EQ(GetWord(resent->data() + 2), 1);
    EXPECT_EQ(FromTransfer(AckPacket(1)), TFTP_RESULT_ACKED);
}

TEST_F(SocketExchange, RepeatedFinalAckOfAPutIsAcceptedAgain)
{
    Reach(TFTP_STATE_WAIT_ACK);
    EXPECT_EQ(FromTransfer(AckPacket(1)), TFTP_RESULT_ACKED);
    EXPECT_EQ(FromTransfer(AckPacket(1)), TFTP_RESULT_ACKED);
}

class ServerError : public SocketExchange, public ::testing::WithParamInterface<TftpState> {};

TEST_P(ServerError, IsShownThenReportedAndNeverAnswered)
{
    Reach(GetParam());
    const Bytes error = ErrorPacket(1, "No such file");
    EXPECT_EQ(FromTransfer(error), TFTP_RESULT_NONE);
    EXPECT_EQ(sock.m_wState, TFTP_STATE_CLOSED);
    // The message names what was asked of whom: the host as typed, with
    // the port when it is not the standard one.
    const bool put = GetParam() == TFTP_STATE_WRQ_SENT || GetParam() == TFTP_STATE_WAIT_ACK;
    const std::string host =
        GetParam() == TFTP_STATE_IDLE ? "255.255.255.255" : "127.0.0.1 port " + std::to_string(server.Port());
    ASSERT_EQ(boxes.Texts(),
              std::vector<std::string>{PeerErrorReport(put ? DIRECTION_PUT : DIRECTION_GET, "a.txt", host, error.data(),
                                                       static_cast<int>(error.size()))});
    EXPECT_EQ(boxes.boxes[0].nType, MB_OK);
    EXPECT_EQ(TakeMessages(), std::vector<UINT>{WM_TFTP_FAILED});
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(AnyState, ServerError,
                         ::testing::Values(TFTP_STATE_IDLE, TFTP_STATE_RRQ_SENT, TFTP_STATE_WAIT_DATA,
                                           TFTP_STATE_WRQ_SENT, TFTP_STATE_WAIT_ACK),
                         [](const auto& test) { return "State" + std::to_string(test.param); });

TEST_F(SocketExchange, ServerErrorAfterTheEndIsNotShownAgain)
{
    Reach(TFTP_STATE_CLOSED);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(FromTransfer(ErrorPacket(0, "again")), TFTP_RESULT_NONE);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);
}

TEST_F(SocketExchange, ServerErrorIsPostedOnlyAfterItsBoxIsClosed)
{
    // Inside the box (a nested loop) the state is already closed and nothing is queued yet.
    Reach(TFTP_STATE_WAIT_DATA);
    boxes.onShow = [this](const CMessageBoxRecorder::Box&) {
        EXPECT_EQ(sock.m_wState, TFTP_STATE_CLOSED);
        EXPECT_TRUE(TakeMessages().empty());
        return IDOK;
    };
    EXPECT_EQ(FromTransfer(ErrorPacket(0, "Permission denied")), TFTP_RESULT_NONE);
    EXPECT_EQ(boxes.FirstParagraphs(), std::vector<std::string>{"Permission denied"});
    EXPECT_EQ(TakeMessages(), std::vector<UINT>{WM_TFTP_FAILED});
}

TEST_F(SocketExchange, OversizedDatagramFailsTheReceive)
{
    Reach(TFTP_STATE_RRQ_SENT);
    EXPECT_EQ(FromTransfer(DataPacket(1, 596)), TFTP_RESULT_ERROR + TFTP_REASON_RECEIVE);
    EXPECT_EQ(sock.m_wState, TFTP_STATE_CLOSED);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"This session has been aborted due to a general "
                                                      "failure.\nError code: " +
                                                      std::to_string(EMSGSIZE)});
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);
}

TEST_F(SocketExchange, RefusedPeerAfterLockInFailsWithItsErrorCode)
{
    Reach(TFTP_STATE_WAIT_DATA);
    transfer.Close(); // the ACK the tick resends now draws a port-unreachable reply
    for (int tick = 0; tick < 6; ++tick)
        sock.OnTick();
    ASSERT_TRUE(WaitReadable(sock.m_hSocket));
    EXPECT_EQ(sock.Receive(sock.buffer, TFTP_PACKET_BUFFER, 0), TFTP_RESULT_ERROR + TFTP_REASON_RECEIVE);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"This session has been aborted due to a general "
                                                      "failure.\nError code: " +
                                                      std::to_string(ECONNREFUSED)});
}

TEST_F(SocketExchange, ReadinessWithNothingToReadChangesNothing)
{
    Reach(TFTP_STATE_WAIT_DATA);
    EXPECT_EQ(sock.Receive(sock.buffer, TFTP_PACKET_BUFFER, 0), TFTP_RESULT_NONE);
    EXPECT_EQ(sock.m_wState, TFTP_STATE_WAIT_DATA);
    EXPECT_TRUE(boxes.boxes.empty());
}

// A socket whose connect fails, as when the route to the server's port is gone.
class LockInFails : public ProbeSocket {
public:
    using ProbeSocket::ProbeSocket;
    BOOL Connect(const sockaddr*, int) override
    {
        SetLastError(ENETUNREACH);
        return FALSE;
    }
};

TEST_F(SocketExchange, FailedLockInShowsTheErrorBeforeClosing)
{
    LockInFails probe(&owner);
    ASSERT_TRUE(probe.SendRequest(server.HostString().c_str(), "a.txt", DIRECTION_GET, MODE_BINARY));
    server.Receive();
    boxes.onShow = [&probe](const CMessageBoxRecorder::Box&) {
        EXPECT_EQ(probe.m_wState, TFTP_STATE_RRQ_SENT);
        return IDOK;
    };
    transfer.SendTo(LocalPort(probe.m_hSocket), DataPacket(1, 10));
    EXPECT_EQ(probe.ReceiveWaiting(), TFTP_RESULT_ERROR + TFTP_REASON_LOCK_IN);
    EXPECT_EQ(probe.m_wState, TFTP_STATE_CLOSED);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{AfxLoadString(IDS_DESTINATION_UNREACHABLE)});
    EXPECT_EQ(transfer.TryReceive(), kError4); // to the sender of the reply
}

TEST_F(SocketExchange, TicksGoOnWhileTheLockInFailureIsShown)
{
    LockInFails probe(&owner);
    const Bytes request = BytesOf(std::string("\0\1a.txt\0octet\0", 14));
    ASSERT_TRUE(probe.SendRequest(server.HostString().c_str(), "a.txt", DIRECTION_GET, MODE_BINARY));
    server.Receive();
    TakeMessages();
    // The box's own loop keeps the timer running: the request is resent and
    // the transfer times out behind it.
    boxes.onShow = [&](const CMessageBoxRecorder::Box&) {
        for (int tick = 0; tick < 18; ++tick)
            probe.OnTick();
        return IDOK;
    };
    transfer.SendTo(LocalPort(probe.m_hSocket), DataPacket(1, 10));
    EXPECT_EQ(probe.ReceiveWaiting(), TFTP_RESULT_ERROR + TFTP_REASON_LOCK_IN);
    EXPECT_EQ(server.TryReceive(), request);
    EXPECT_EQ(server.TryReceive(), request);
    EXPECT_EQ(server.TryReceive(), std::nullopt);
    EXPECT_EQ(TakeMessages(), std::vector<UINT>{WM_TFTP_TIMEOUT});
    EXPECT_EQ(probe.m_wState, TFTP_STATE_CLOSED);
    EXPECT_EQ(transfer.TryReceive(), kError4);
}

TEST(SendRequest, UnusableHostIsNamedAndNothingIsSent)
{
    const auto notFound = [](const char* host) {
        return AfxFormatString(AfxFindString(IDS_HOST_NOT_FOUND), host, AfxFindString(IDS_DESTINATION_UNAVAILABLE));
    };
    const auto badForm = [](const char* host) { return AfxFormatString(AfxFindString(IDS_BAD_HOST), host); };
    const struct {
        const char* host;
        std::string text;
    } rows[] = {
        {"nosuchhost.invalid", notFound("nosuchhost.invalid")},
        {"fe80::1%nosuchif0", notFound("fe80::1%nosuchif0")},
        {"", badForm("")},
        {"127.0.0.1:0", badForm("127.0.0.1:0")},
        {"127.0.0.1:65536", badForm("127.0.0.1:65536")},
        {"127.0.0.1:", badForm("127.0.0.1:")},
        {"localhost:x69", badForm("localhost:x69")},
        {"[::1", badForm("[::1")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.host);
        CMessageBoxRecorder boxes;
        CWnd owner;
        ProbeSocket sock(&owner);
        EXPECT_FALSE(sock.SendRequest(row.host, "a.txt", DIRECTION_GET, MODE_BINARY));
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{row.text});
        EXPECT_NE(sock.m_wState, TFTP_STATE_RRQ_SENT);
        EXPECT_FALSE(owner.PeekMessage(nullptr));
    }
}

} // namespace
