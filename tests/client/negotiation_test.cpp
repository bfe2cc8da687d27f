// SPDX-License-Identifier: MIT
// The session with options asked: the request, the OACK in each direction,
// a server that ignores or refuses the options, and OACKs that cannot be taken.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/session.h"
#include "platform/core/format.h"
#include "protocol/errors.h"
#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/fake_peer.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/session_driver.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string z(1, '\0');

WORD GetWordOf(const Bytes& bytes, size_t offset)
{
    return static_cast<WORD>((bytes[offset] << 8) | bytes[offset + 1]);
}

Bytes Oack(const std::string& pairs)
{
    return BytesOf(std::string("\0\6", 2) + pairs);
}

struct Log : ITransferLog {
    void LogLine(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

class ProbeSession : public CTFTPSession {
public:
    using CTFTPSession::CTFTPSession;
    void ReceiveWaiting()
    {
        ASSERT_TRUE(WaitReadable(m_hSocket));
        OnReceive(0);
    }
};

class Negotiation : public ::testing::Test {
protected:
    // Starts a transfer asking for blksize 1024 and tsize; returns the request.
    Bytes Start(ProbeSession& session, WORD direction, const std::string& remote = "f.bin")
    {
        session.SetOptions(TftpOptions{1024, 0, 0, true, 0});
        EXPECT_TRUE(session.Start(server.HostString().c_str(), (dir / "local.bin").c_str(), remote.c_str(), direction,
                                  MODE_BINARY));
        return server.Receive().value_or(Bytes{});
    }

    void FromTransfer(ProbeSession& session, const Bytes& datagram)
    {
        transfer.SendTo(LocalPort(session.m_hSocket), datagram);
        session.ReceiveWaiting();
    }

    std::vector<UINT> TakeMessages() { return ::TakeMessages(owner); }

    TempDir dir;
    CMessageBoxRecorder boxes;
    CWnd owner;
    FakePeer server;
    FakePeer transfer;
};

TEST_F(Negotiation, AGetAnswersTheOackWithAckZeroAndTakesBlocksOfTheGrantedSize)
{
    ProbeSession session(&owner);
    const char request[] = "\0\1f.bin\0octet\0blksize\0"
                           "1024\0tsize\0"
                           "0";
    EXPECT_EQ(Start(session, DIRECTION_GET), Bytes(request, request + sizeof request));
    FromTransfer(session, Oack("blksize" + z + "1000" + z + "tsize" + z + "1100" + z));
    EXPECT_EQ(transfer.TryReceive(), AckPacket(0));
    EXPECT_EQ(session.Granted().nBlockSize, 1000);
    EXPECT_EQ(session.Granted().nFileSize, 1100u);
    FromTransfer(session, DataPacket(1, 1000, 'a'));
    EXPECT_EQ(transfer.TryReceive(), AckPacket(1));
    FromTransfer(session, DataPacket(2, 100, 'b'));
    EXPECT_EQ(transfer.TryReceive(), AckPacket(2));
    Bytes expected(1100, 'b');
    std::fill(expected.begin(), expected.begin() + 1000, BYTE{'a'});
    EXPECT_EQ(ReadFileBytes(dir / "f.bin"), expected);
    EXPECT_EQ(TakeMessages().back(), WM_TFTP_COMPLETE);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Negotiation, APutTakesTheOackAsAckZeroAndTellsTheRealSize)
{
    WriteFileBytes(dir / "local.bin", Bytes(1500, 'p'));
    ProbeSession session(&owner);
    const char request[] = "\0\2f.bin\0octet\0blksize\0"
                           "1024\0tsize\0"
                           "1500";
    EXPECT_EQ(Start(session, DIRECTION_PUT), Bytes(request, request + sizeof request));
    FromTransfer(session, Oack("blksize" + z + "1024" + z));
    EXPECT_EQ(transfer.TryReceive()->size(), 1028u);
    FromTransfer(session, AckPacket(1));
    EXPECT_EQ(transfer.TryReceive()->size(), 480u);
    FromTransfer(session, AckPacket(2));
    EXPECT_EQ(TakeMessages().back(), WM_TFTP_COMPLETE);
}

TEST_F(Negotiation, AServerThatIgnoresTheOptionsGetsAPlainTransfer)
{
    ProbeSession session(&owner);
    Start(session, DIRECTION_GET);
    FromTransfer(session, DataPacket(1, 512, 'x'));
    EXPECT_EQ(transfer.TryReceive(), AckPacket(1));
    FromTransfer(session, DataPacket(2, 3, 'y'));
    EXPECT_EQ(TakeMessages().back(), WM_TFTP_COMPLETE);
    EXPECT_EQ(ReadFileBytes(dir / "f.bin").size(), 515u);
}

TEST_F(Negotiation, OnlyAnErrorThatMayConcernTheOptionsBringsAPlainRequest)
{
    // By code: the log line of a request sent again without the options,
    // from a fresh socket, whose own refusal alone is shown; or none, when
    // the refusal is about the file: shown at once, nothing more sent.
    const char* const retried[] = {"ERROR 0 (not defined)",
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   "ERROR 4 (illegal TFTP operation)",
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   "ERROR 8 (option negotiation refused)",
                                   nullptr};
    for (size_t index = 0; index < std::size(retried); ++index) {
        const auto code = static_cast<WORD>(index);
        SCOPED_TRACE(code);
        CMessageBoxRecorder recorder;
        Log log;
        ProbeSession session(&owner);
        session.SetLog(&log);
        Start(session, DIRECTION_GET);
        const UINT firstPort = server.LastSenderPort();
        Bytes shown = ErrorPacket(code, "refused");
        server.Reply(shown);
        session.ReceiveWaiting();
        if (retried[code] != nullptr) {
            EXPECT_EQ(server.Receive(), BytesOf(std::string("\0\1f.bin\0octet\0", 14)));
            EXPECT_NE(server.LastSenderPort(), firstPort);
            EXPECT_TRUE(recorder.boxes.empty());
            EXPECT_EQ(log.lines.back(), "The server answered " + std::string(retried[code]) +
                                            " to the options: asking again without them");
            shown = ErrorPacket(code, "refused again");
            server.Reply(shown);
            session.ReceiveWaiting();
        }
        EXPECT_EQ(server.TryReceive(), std::nullopt);
        const std::string host = "127.0.0.1 port " + std::to_string(server.Port());
        EXPECT_EQ(recorder.Texts(), std::vector<std::string>{PeerErrorReport(DIRECTION_GET, "f.bin", host, shown.data(),
                                                                             static_cast<int>(shown.size()))});
        EXPECT_EQ(TakeMessages().back(), WM_TFTP_FAILED);
        session.SetLog(nullptr);
    }
}

TEST_F(Negotiation, AnOackThatCannotBeTakenEndsTheTransferWithError8)
{
    struct Row {
        const char* name;
        WORD direction;
        std::vector<Bytes> replies; // from the transfer port, in turn
        const char* option;
        bool bAskedPlain = false; // the server refused the options once
    };
    const Row rows[] = {
        {"not asked for", DIRECTION_GET, {Oack("windowsize" + z + "4" + z)}, "windowsize"},
        {"block above asked", DIRECTION_GET, {Oack("blksize" + z + "1025" + z)}, "blksize"},
        {"block below 8", DIRECTION_PUT, {Oack("blksize" + z + "7" + z)}, "blksize"},
        {"block not a number", DIRECTION_GET, {Oack("blksize" + z + "1k" + z)}, "blksize"},
        {"named twice", DIRECTION_PUT, {Oack("tsize" + z + "1" + z + "TSIZE" + z + "1" + z)}, "TSIZE"},
        {"no final zero", DIRECTION_GET, {Oack("blksize" + z + "512")}, "blksize"},
        {"after the transfer began",
         DIRECTION_GET,
         {Oack("blksize" + z + "512" + z), Oack("blksize" + z + "512" + z)},
         ""},
        {"to a plain request", DIRECTION_PUT, {Oack("blksize" + z + "512" + z)}, "blksize", true},
    };
    WriteFileBytes(dir / "local.bin", Bytes(10, 'l'));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CMessageBoxRecorder recorder;
        {
            ProbeSession session(&owner);
            Start(session, row.direction);
            if (row.bAskedPlain) {
                server.Reply(ErrorPacket(8, ""));
                session.ReceiveWaiting();
                ASSERT_TRUE(server.Receive().has_value());
            }
            for (const Bytes& reply : row.replies)
                FromTransfer(session, reply);
            std::optional<Bytes> last;
            while (std::optional<Bytes> datagram = transfer.TryReceive())
                last = datagram;
            ASSERT_TRUE(last.has_value());
            EXPECT_EQ(GetWordOf(*last, 0), TFTP_OPCODE_ERROR);
            EXPECT_EQ(GetWordOf(*last, 2), TFTP_ERROR_OPTION_REFUSED);
            EXPECT_EQ(recorder.Texts(),
                      std::vector<std::string>{AfxFormatString(AfxFindString(IDS_OACK_REFUSED), row.option)});
            EXPECT_EQ(TakeMessages().back(), WM_TFTP_FAILED);
        }
        // Nothing stored.
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"local.bin"});
    }
}

TEST_F(Negotiation, AGrantedTimeoutSetsTheResendPeriod)
{
    ProbeSession session(&owner);
    session.SetOptions(TftpOptions{0, 0, 1, false, 0});
    ASSERT_TRUE(session.Start(server.HostString().c_str(), "", "t.bin", DIRECTION_GET, MODE_BINARY));
    server.Receive();
    FromTransfer(session, Oack("timeout" + z + "1" + z));
    EXPECT_EQ(transfer.TryReceive(), AckPacket(0));
    // One second is two ticks: a resend at each second, the timeout at the third.
    for (int tick = 0; tick < 2; ++tick)
        session.OnTick();
    EXPECT_EQ(transfer.TryReceive(), AckPacket(0));
    for (int tick = 0; tick < 4; ++tick)
        session.OnTick();
    EXPECT_EQ(transfer.TryReceive(), AckPacket(0));
    EXPECT_EQ(TakeMessages().back(), WM_TFTP_TIMEOUT);
}

TEST_F(Negotiation, APutResendsAfterAPartialAckOnceAndOnItsClock)
{
    WriteFileBytes(dir / "local.bin", Bytes(9 * 16 + 5, 'p'));
    auto session = std::make_unique<ProbeSession>(&owner);
    Log log;
    session->SetLog(&log);
    ULONGLONG now = 0;
    session->SetClock([&] { return now; });
    session->SetOptions(TftpOptions{16, 4, 0, false, 0});
    ASSERT_TRUE(
        session->Start(server.HostString().c_str(), (dir / "local.bin").c_str(), "w.bin", DIRECTION_PUT, MODE_BINARY));
    server.Receive();
    const auto blocksSent = [&] {
        std::vector<WORD> blocks;
        while (std::optional<Bytes> datagram = transfer.TryReceive())
            blocks.push_back(GetWordOf(*datagram, 2));
        return blocks;
    };
    // The request is on the clock: 1 s before any round trip is known.
    ASSERT_TRUE(session->Clocked());
    now = 999;
    session->OnClock();
    EXPECT_EQ(server.TryReceive(), std::nullopt);
    now = 1000;
    session->OnClock();
    EXPECT_TRUE(server.TryReceive().has_value());
    // A resent request times no round trip; the first window answered at
    // once does, so the resend period is the floor, 20 ms.
    FromTransfer(*session, Oack("blksize" + z + "16" + z + "windowsize" + z + "4" + z));
    EXPECT_EQ(blocksSent(), (std::vector<WORD>{1, 2, 3, 4}));
    // Inside the window: the server dropped 3 and 4, which go again at once
    // before the window fills.
    FromTransfer(*session, AckPacket(2));
    EXPECT_EQ(blocksSent(), (std::vector<WORD>{3, 4, 5, 6}));
    FromTransfer(*session, AckPacket(2)); // a duplicate sends nothing
    EXPECT_EQ(blocksSent(), std::vector<WORD>{});
    for (int tick = 0; tick < TFTP_TICKS_PER_RESEND; ++tick)
        session->OnTick(); // the clock, not the tick, times this transfer
    now = 1019;
    session->OnClock();
    EXPECT_EQ(blocksSent(), std::vector<WORD>{});
    now = 1020;
    session->OnClock();
    // The window is full: the block after it goes first, then the window.
    EXPECT_EQ(blocksSent(), (std::vector<WORD>{7, 3, 4, 5, 6}));
    // ACK 6 tells that 7 was not taken: it goes again at once.
    FromTransfer(*session, AckPacket(6));
    EXPECT_EQ(blocksSent(), (std::vector<WORD>{7, 8, 9, 10}));
    EXPECT_NE(TakeMessages().back(), WM_TFTP_COMPLETE);
    FromTransfer(*session, AckPacket(10));
    EXPECT_EQ(TakeMessages().back(), WM_TFTP_COMPLETE);
    // The link's figures: the partial ACKs showed three blocks lost.
    session.reset();
    EXPECT_EQ(log.lines.back(), "Link: round trip 0.0 ms, 2 resends, 3 blocks known lost");
}

TEST_F(Negotiation, AGetResendsItsLastAckOnAClockThatBacksOffAndEndsAfterNineSilentSeconds)
{
    ProbeSession session(&owner);
    ULONGLONG now = 0;
    session.SetClock([&] { return now; });
    session.SetOptions(TftpOptions{16, 4, 0, false, 0});
    ASSERT_TRUE(session.Start(server.HostString().c_str(), "", "s.bin", DIRECTION_GET, MODE_BINARY));
    server.Receive();
    FromTransfer(session, Oack("blksize" + z + "16" + z + "windowsize" + z + "4" + z));
    EXPECT_EQ(transfer.TryReceive(), AckPacket(0));
    for (WORD block = 1; block <= 3; ++block) // the window's last block is lost
        FromTransfer(session, DataPacket(block, 16, 'g'));
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);

    (void)TakeMessages();
    std::vector<ULONGLONG> resent;
    std::vector<UINT> ended;
    for (now = 1; now <= 9000 && ended.empty(); ++now) {
        session.OnClock();
        while (std::optional<Bytes> datagram = transfer.TryReceive()) {
            EXPECT_EQ(*datagram, AckPacket(3));
            resent.push_back(now);
        }
        if (now == 21) // a stray of the old window after the resend draws nothing
            FromTransfer(session, DataPacket(5, 16, 'g'));
        ended = TakeMessages();
    }
    // 20 ms, doubling to the 3 s ceiling; the end 9 s after the last block.
    EXPECT_EQ(resent, (std::vector<ULONGLONG>{20, 60, 140, 300, 620, 1260, 2540, 5100, 8100}));
    EXPECT_EQ(ended, std::vector<UINT>{WM_TFTP_TIMEOUT});
    EXPECT_EQ(now, 9001u);
    session.OnClock();
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);
}

TEST_F(Negotiation, AWindowStraddlesTheBlockNumbersWrap)
{
    // 65,540 blocks of 8 bytes and a short one, in windows of 3 (65,536 is
    // no multiple of 3, so a window holds blocks 65535 and 0).
    const size_t blocks = 65540;
    Bytes content(blocks * 8 + 1);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<BYTE>(i / 8);
    WriteFileBytes(dir / "local.bin", content);
    ProbeSession session(&owner);
    session.SetOptions(TftpOptions{8, 3, 0, false, 0});
    ASSERT_TRUE(session.Start(server.HostString().c_str(), (dir / "local.bin").c_str(), "wrap.bin", DIRECTION_PUT,
                              MODE_BINARY));
    server.Receive();
    Bytes received;
    Bytes reply = Oack("blksize" + z + "8" + z + "windowsize" + z + "3" + z);
    for (int windows = 0; windows < 30000; ++windows) {
        FromTransfer(session, reply);
        WORD last = 0;
        bool any = false;
        while (std::optional<Bytes> datagram = transfer.TryReceive()) {
            received.insert(received.end(), datagram->begin() + 4, datagram->end());
            last = GetWordOf(*datagram, 2);
            any = true;
        }
        if (!any)
            break;
        reply = AckPacket(last);
    }
    EXPECT_EQ(received, content);
    EXPECT_EQ(TakeMessages().back(), WM_TFTP_COMPLETE);
}

} // namespace
