// SPDX-License-Identifier: MIT
// Whole transfers against tftpd-hpa, atftpd and dnsmasq on loopback, compared
// byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "client/session.h"
#include "own_network.h"
#include "platform/core/msgbox.h"
#include "tests/support/lossy_relay.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/session_driver.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_bytes.h"
#include "tests/support/tftpd_server.h"
#include "tests/support/timing.h"

namespace {

using Bytes = std::vector<BYTE>;

// 65,537 full blocks and an empty last one: the block number wraps past 65535.
constexpr size_t kWrapSize = 33554944;

// Lines of printable text ending in `lineEnd`, sprinkled with the `extra`
// bytes when that is not empty.
Bytes TextContent(size_t size, unsigned seed, const std::string& lineEnd, const Bytes& extra)
{
    std::mt19937 random(seed);
    Bytes content;
    content.reserve(size);
    while (content.size() < size) {
        const unsigned pick = random() % 64;
        if (pick == 0) {
            content.insert(content.end(), lineEnd.begin(), lineEnd.end());
        } else if (pick == 1 && !extra.empty()) {
            content.push_back(extra[random() % extra.size()]);
        } else {
            content.push_back(static_cast<BYTE>(0x20 + random() % 95));
        }
    }
    content.resize(size); // may cut a line end in two at the very end
    return content;
}

// The server may close the file just after its last ACK: wait (bounded) for it.
Bytes ReadWhenComplete(const std::filesystem::path& path, size_t expectedSize)
{
    const auto deadline = std::chrono::steady_clock::now() + Scaled(std::chrono::seconds(5));
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        if (std::filesystem::file_size(path, error) == expectedSize && !error)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ReadFileBytes(path.string());
}

struct TransferCase {
    WORD direction;
    WORD mode;
    size_t size;
    int blockSize = 0; // asked for with tsize and a timeout; 0: a plain request
    int windowSize = 0;
    int grantedBlockSize = 0; // when the server grants less than blockSize
    bool bLfOnly = false;     // netascii Get: the server sends a bare CR and NUL as they are
    int timeout = 2;          // the timeout asked with the block size; 0: none
};

std::string CaseName(const ::testing::TestParamInfo<TransferCase>& info)
{
    return std::string(info.param.direction == DIRECTION_GET ? "Get" : "Put") +
           (info.param.mode == MODE_BINARY ? "Octet" : "Netascii") + std::to_string(info.param.size) +
           (info.param.blockSize != 0 ? "Blksize" + std::to_string(info.param.blockSize) : "") +
           (info.param.windowSize != 0 ? "Window" + std::to_string(info.param.windowSize) : "");
}

void PrintTo(const TransferCase& c, std::ostream* os)
{
    *os << (c.direction == DIRECTION_GET ? "Get " : "Put ") << (c.mode == MODE_BINARY ? "octet " : "netascii ")
        << c.size << (c.blockSize != 0 ? " blksize " + std::to_string(c.blockSize) : "")
        << (c.windowSize != 0 ? " windowsize " + std::to_string(c.windowSize) : "");
}

// The file to send and what must arrive, by the translation rules of the mode.
void Prepare(const TransferCase& c, Bytes* pSource, Bytes* pExpected)
{
    const unsigned seed = static_cast<unsigned>(c.size * 4 + c.direction * 2 + c.mode);
    const Bytes dropped{0x01, 0x7F, 0x80, 0xFF};
    Bytes& source = *pSource;
    Bytes& expected = *pExpected;
    if (c.mode == MODE_BINARY) {
        source = RandomBytes(c.size, seed);
        expected = source;
    } else if (c.direction == DIRECTION_PUT) {
        // Sent filtered; the server stores CR LF as LF.
        source = TextContent(c.size, seed, "\r\n", dropped);
        expected = Replace(WithoutDropped(source), "\r\n", "\n");
    } else {
        // The server sends LF as CR LF and a bare CR as CR NUL; both are stored
        // as CR LF, and bytes outside the set are dropped.
        source =
            TextContent(c.size, seed, "\n", c.bLfOnly ? Bytes{0x01, 0x80, 0xFF} : Bytes{'\r', 0x00, 0x01, 0x80, 0xFF});
        for (BYTE b : WithoutDropped(source)) {
            if (b == '\r' || b == '\n') {
                expected.push_back('\r');
                expected.push_back('\n');
            } else {
                expected.push_back(b);
            }
        }
    }
}

// Puts the case's file (source.dat) to uploaded.dat on the server, or gets
// remote.dat from it, through `host`.
TransferOutcome RunCase(const TransferCase& c, const Bytes& source, const std::string& host, const TempDir& local,
                        const TftpdServer& server, CWnd& owner,
                        std::chrono::milliseconds tick = Scaled(std::chrono::milliseconds(TFTP_TICK_MS)))
{
    CTFTPSession session(&owner);
    if (c.blockSize != 0)
        session.SetOptions(
            TftpOptions{c.blockSize, c.windowSize, c.timeout, true, 0, c.blockSize == TFTP_DEFAULT_BLOCK_SIZE});
    if (c.direction == DIRECTION_PUT) {
        WriteFileBytes(local / "source.dat", source);
        return RunTransfer(session, owner, host.c_str(), (local / "source.dat").c_str(), "uploaded.dat", DIRECTION_PUT,
                           c.mode, tick);
    }
    WriteFileBytes((server.Root() / "remote.dat").string(), source);
    return RunTransfer(session, owner, host.c_str(), "", "remote.dat", DIRECTION_GET, c.mode, tick);
}

// Runs the case against the server and checks what arrived, byte for byte.
void ExpectArrivesExactly(const TransferCase& c, const TftpdServer& server, const TempDir& local, CWnd& owner,
                          const CMessageBoxRecorder& boxes)
{
    Bytes source;
    Bytes expected;
    Prepare(c, &source, &expected);

    const TransferOutcome outcome = RunCase(c, source, server.HostString(), local, server, owner);

    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});
    ASSERT_EQ(outcome.endMessage, WM_TFTP_COMPLETE);
    ASSERT_GE(outcome.messages.size(), 3u);
    EXPECT_EQ(outcome.messages[0], WM_TFTP_REQUEST_SENT);
    EXPECT_EQ(outcome.messages[1], WM_TFTP_STARTED);
    EXPECT_EQ(outcome.messages.back(), WM_TFTP_COMPLETE);

    Bytes arrived;
    if (c.direction == DIRECTION_PUT) {
        arrived = ReadWhenComplete(server.Root() / "uploaded.dat", expected.size());
        EXPECT_EQ(outcome.progressBytes, c.mode == MODE_BINARY ? source.size() : WithoutDropped(source).size());
    } else {
        arrived = ReadFileBytes(local / "remote.dat");
        EXPECT_EQ(local.Names(), std::vector<std::string>{"remote.dat"});
    }
    ASSERT_EQ(arrived.size(), expected.size());
    EXPECT_TRUE(arrived == expected) << "the contents differ";
    if (c.mode == MODE_BINARY) {
        const int block = c.grantedBlockSize != 0 ? c.grantedBlockSize : c.blockSize != 0 ? c.blockSize : 512;
        EXPECT_EQ(outcome.progressMessages, c.size / static_cast<size_t>(block) + 1);
    }
}

// A case and the server it runs against: tftpd-hpa, atftpd or dnsmasq, on
// 127.0.0.1 or ::1.
struct ServerCase {
    TftpdServer::Kind kind;
    const char* address;
    TransferCase transfer;
};

std::vector<ServerCase> On(TftpdServer::Kind kind, const char* address, const std::vector<TransferCase>& cases)
{
    std::vector<ServerCase> onServer;
    onServer.reserve(cases.size());
    for (const TransferCase& c : cases)
        onServer.push_back(ServerCase{kind, address, c});
    return onServer;
}

std::string ServerCaseName(const ::testing::TestParamInfo<ServerCase>& info)
{
    return CaseName(::testing::TestParamInfo<TransferCase>(info.param.transfer, info.index));
}

const char* ServerName(TftpdServer::Kind kind)
{
    switch (kind) {
    case TftpdServer::Kind::atftpd:
        return "atftpd";
    case TftpdServer::Kind::dnsmasq:
        return "dnsmasq";
    default:
        return "tftpd-hpa";
    }
}

void PrintTo(const ServerCase& c, std::ostream* os)
{
    PrintTo(c.transfer, os);
    *os << " with " << ServerName(c.kind) << " on " << c.address;
}

// Starts the case's server, or skips where it cannot be had: atftpd is
// fetched by test.sh, dnsmasq listens on port 69 only (so only in a network
// namespace of the tests' own), and a machine may have no IPv6 loopback.
class ServerTransfer : public ::testing::TestWithParam<ServerCase> {
protected:
    void SetUp() override
    {
        const ServerCase& c = GetParam();
        if (!TftpdServer::Available(c.kind))
            GTEST_SKIP() << "the server is not at hand (./test.sh installs or fetches it)";
        if (c.kind == TftpdServer::Kind::dnsmasq && !InOwnNetwork())
            GTEST_SKIP() << "dnsmasq needs a network namespace of the tests' own (they run as root)";
        try {
            server.emplace(0, c.kind, c.address);
        } catch (const std::exception& e) {
            if (std::string(c.address).find(':') == std::string::npos)
                throw;
            GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
        }
    }

    TempDir local;
    std::optional<TftpdServer> server;
    CMessageBoxRecorder boxes;
    CWnd owner;
};

TEST_P(ServerTransfer, ArrivesExactly)
{
    ExpectArrivesExactly(GetParam().transfer, *server, local, owner, boxes);
}

constexpr TftpdServer::Kind kHpa = TftpdServer::Kind::hpa;

std::vector<TransferCase> AllCases()
{
    std::vector<TransferCase> cases;
    for (WORD direction : {DIRECTION_GET, DIRECTION_PUT})
        for (WORD mode : {MODE_BINARY, MODE_ASCII})
            for (size_t size :
                 {size_t{0}, size_t{1}, size_t{511}, size_t{512}, size_t{513}, size_t{1048583}, kWrapSize})
                cases.push_back(TransferCase{direction, mode, size});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Tftpd, ServerTransfer, ::testing::ValuesIn(On(kHpa, "127.0.0.1", AllCases())), ServerCaseName);

// With options asked (blksize, tsize, timeout), which tftpd-hpa grants: the
// sizes around one block and one past many blocks, both ways, both modes.
std::vector<TransferCase> OptionCases()
{
    std::vector<TransferCase> cases;
    for (WORD direction : {DIRECTION_GET, DIRECTION_PUT})
        for (WORD mode : {MODE_BINARY, MODE_ASCII})
            for (size_t size : {size_t{0}, size_t{1467}, size_t{1468}, size_t{1469}, size_t{1048583}})
                cases.push_back(TransferCase{direction, mode, size, 1468});
    cases.push_back(TransferCase{DIRECTION_GET, MODE_BINARY, 100000, 8192}); // a block past 4091 bytes
    return cases;
}

INSTANTIATE_TEST_SUITE_P(TftpdOptions, ServerTransfer, ::testing::ValuesIn(On(kHpa, "127.0.0.1", OptionCases())),
                         ServerCaseName);

// atftpd grants windows too (RFC 7440): blksize 1468 in windows of 16 around
// one block and past many, and past the block numbers' wrap in windows of 16.
std::vector<TransferCase> AtftpdCases()
{
    std::vector<TransferCase> cases;
    for (WORD direction : {DIRECTION_GET, DIRECTION_PUT}) {
        for (WORD mode : {MODE_BINARY, MODE_ASCII})
            for (size_t size : {size_t{0}, size_t{1467}, size_t{1468}, size_t{1469}, size_t{1048583}})
                cases.push_back(TransferCase{direction, mode, size, 1468, 16});
        cases.push_back(TransferCase{direction, MODE_BINARY, kWrapSize, 512, 16});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Atftpd, ServerTransfer,
                         ::testing::ValuesIn(On(TftpdServer::Kind::atftpd, "127.0.0.1", AtftpdCases())),
                         ServerCaseName);

// tftpd-hpa on [::1]: both ways, both modes, plain and with options, where
// the default block size asked is the one for IPv6.
std::vector<TransferCase> Ipv6Cases()
{
    std::vector<TransferCase> cases;
    for (WORD direction : {DIRECTION_GET, DIRECTION_PUT})
        for (WORD mode : {MODE_BINARY, MODE_ASCII}) {
            for (size_t size : {size_t{0}, size_t{513}, size_t{1048583}})
                cases.push_back(TransferCase{direction, mode, size});
            cases.push_back(
                TransferCase{direction, mode, 100000, TFTP_DEFAULT_BLOCK_SIZE, 0, TFTP_DEFAULT_BLOCK_SIZE_IPV6});
        }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(TftpdIpv6, ServerTransfer, ::testing::ValuesIn(On(kHpa, "::1", Ipv6Cases())), ServerCaseName);

// dnsmasq serves files read-only, grants blksize and tsize (less blksize than
// asked past its buffer) and no windows. Its netascii turns LF into CR LF and
// nothing else, so its text has no bare CR.
std::vector<TransferCase> DnsmasqCases()
{
    std::vector<TransferCase> cases;
    for (WORD mode : {MODE_BINARY, MODE_ASCII})
        for (size_t size : {size_t{0}, size_t{1467}, size_t{1468}, size_t{1469}, size_t{1048583}})
            cases.push_back(TransferCase{DIRECTION_GET, mode, size, 1468, 16, 0, true});
    cases.push_back(TransferCase{DIRECTION_GET, MODE_BINARY, 100000, 8192, 16, 2263});
    cases.push_back(TransferCase{DIRECTION_GET, MODE_BINARY, kWrapSize, 512, 16});
    cases.push_back(TransferCase{DIRECTION_GET, MODE_BINARY, 1048583}); // no options
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Dnsmasq, ServerTransfer,
                         ::testing::ValuesIn(On(TftpdServer::Kind::dnsmasq, "127.0.0.1", DnsmasqCases())),
                         ServerCaseName);

// 1 MiB both ways in both modes through a relay that drops, duplicates and
// reorders. The engine's ticks are quick ones (QuickTick), so that a stall of
// the test, the server or the relay is outlasted, and the server resends
// after 50 ms.
class LossyLink : public ::testing::TestWithParam<TransferCase> {
protected:
    TempDir local;
    TftpdServer server{static_cast<unsigned>(Scaled(std::chrono::milliseconds(50)).count() * 1000)};
    CMessageBoxRecorder boxes;
    CWnd owner;
};

TEST_P(LossyLink, TransfersArriveExactly)
{
    const TransferCase& c = GetParam();
    Bytes source;
    Bytes expected;
    Prepare(c, &source, &expected);
    LinkFaults faults;
    faults.seed = static_cast<unsigned>(c.direction * 10 + c.mode);
    // Most losses wait for a resend from the client's ticks: 2% of the
    // datagrams keeps the test to seconds and still drops dozens.
    faults.loss = 0.02;
    LossyRelay relay(server.Port(), faults);
    const TransferOutcome outcome = RunCase(c, source, relay.HostString(), local, server, owner, QuickTick());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});
    ASSERT_EQ(outcome.endMessage, WM_TFTP_COMPLETE)
        << "after " << outcome.progressMessages << " blocks; " << relay.Dropped() << " dropped, " << relay.Duplicated()
        << " duplicated, " << relay.Delayed() << " delayed";
    EXPECT_GT(relay.Dropped(), 10);
    EXPECT_GT(relay.Duplicated(), 10);
    EXPECT_GT(relay.Delayed(), 10);

    const Bytes arrived = c.direction == DIRECTION_PUT
                              ? ReadWhenComplete(server.Root() / "uploaded.dat", expected.size())
                              : ReadFileBytes(local / "remote.dat");
    ASSERT_EQ(arrived.size(), expected.size());
    EXPECT_TRUE(arrived == expected) << "the contents differ";

    if (c.direction == DIRECTION_PUT) {
        // Each block goes out once, and again only from a tick: duplicated
        // ACKs never multiply the DATA the client sends.
        const auto perBlock = relay.ClientDataPerBlock();
        int total = 0;
        int most = 0;
        for (const auto& [block, count] : perBlock) {
            total += count;
            most = std::max(most, count);
        }
        EXPECT_LE(most, 4);
        EXPECT_LT(total, static_cast<int>(perBlock.size()) * 13 / 10);
    }
}

INSTANTIATE_TEST_SUITE_P(OneMebibyte, LossyLink,
                         ::testing::Values(TransferCase{DIRECTION_GET, MODE_BINARY, 1 << 20},
                                           TransferCase{DIRECTION_GET, MODE_ASCII, 1 << 20},
                                           TransferCase{DIRECTION_PUT, MODE_BINARY, 1 << 20},
                                           TransferCase{DIRECTION_PUT, MODE_ASCII, 1 << 20}),
                         CaseName);

// The same link with blksize 1468 and windows of 16, against atftpd: what a
// window loses is recovered within a few round trips, and a Get answers each
// gap with one ACK, never one per stray datagram. No timeout is asked, so the
// client's resends follow the round trip it measures: 1 MiB each way, with 2%
// of the datagrams lost, 2% duplicated and 2% delayed, takes well under 5 s
// (atftpd's own resends, after 1 s, would take tens of seconds). The bound
// holds a few stalls of the test, the server or the relay.
class LossyWindowLink : public ServerTransfer {};

TEST_P(LossyWindowLink, TransfersArriveExactly)
{
    const TransferCase& c = GetParam().transfer;
    Bytes source;
    Bytes expected;
    Prepare(c, &source, &expected);
    LinkFaults faults;
    faults.seed = static_cast<unsigned>(c.direction * 10 + c.mode + 100);
    faults.blockSize = c.blockSize;
    faults.loss = 0.02;
    faults.duplicate = 0.02;
    faults.delay = 0.02;
    LossyRelay relay(server->Port(), faults);
    const auto started = std::chrono::steady_clock::now();
    const TransferOutcome outcome = RunCase(c, source, relay.HostString(), local, *server, owner);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});
    ASSERT_EQ(outcome.endMessage, WM_TFTP_COMPLETE) << relay.Dropped() << " dropped";
    EXPECT_LT(took, Scaled(std::chrono::seconds(5)))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms, " << relay.Dropped()
        << " dropped";
    EXPECT_GT(relay.Dropped(), 3);
    const Bytes arrived = c.direction == DIRECTION_PUT
                              ? ReadWhenComplete(server->Root() / "uploaded.dat", expected.size())
                              : ReadFileBytes(local / "remote.dat");
    EXPECT_TRUE(arrived == expected) << "the contents differ";
    if (c.direction == DIRECTION_GET) {
        // One ACK a window or a gap, and the odd resend from a tick.
        const auto perBlock = relay.ClientAcksPerBlock();
        int total = 0;
        for (const auto& [block, count] : perBlock) {
            total += count;
            EXPECT_LE(count, 4) << "block " << block;
        }
        const int blocks = static_cast<int>(c.size) / c.blockSize + 1;
        EXPECT_LT(total, blocks / c.windowSize + 3 * (relay.Dropped() + relay.Delayed() + relay.Duplicated()) + 4);
    }
}

INSTANTIATE_TEST_SUITE_P(
    OneMebibyte, LossyWindowLink,
    ::testing::ValuesIn(On(TftpdServer::Kind::atftpd, "127.0.0.1",
                           {TransferCase{DIRECTION_GET, MODE_BINARY, 1048576, 1468, 16, 0, false, 0},
                            TransferCase{DIRECTION_PUT, MODE_BINARY, 1048576, 1468, 16, 0, false, 0}})),
    ServerCaseName);
// tftpd-hpa has no windows: a Put in lock-step with large blocks. (A Get
// from it waits for the server's own resend, whatever the client does: it
// takes an ACK that comes again as nothing new.)
INSTANTIATE_TEST_SUITE_P(Tftpd, LossyWindowLink,
                         ::testing::ValuesIn(On(TftpdServer::Kind::hpa, "127.0.0.1",
                                                {TransferCase{DIRECTION_PUT, MODE_BINARY, 1048576, 1468, 1, 0, false,
                                                              0}})),
                         ServerCaseName);

TEST(TftpdRefusal, MissingFileLeavesTheLocalFileAsItWas)
{
    TempDir local;
    TftpdServer server;
    CMessageBoxRecorder boxes;
    CWnd owner;
    const Bytes original(777, 'k');
    WriteFileBytes(local / "absent.bin", original);
    {
        CTFTPSession session(&owner);
        const TransferOutcome outcome =
            RunTransfer(session, owner, server.HostString().c_str(), "", "absent.bin", DIRECTION_GET, MODE_BINARY);
        EXPECT_EQ(outcome.endMessage, WM_TFTP_FAILED);
    } // the window deletes the session
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.FirstParagraphs()[0],
              "The requested file could not be found on the remote system.\nCheck filename and try again.");
    // What was asked of whom, and the server's own words.
    EXPECT_NE(boxes.boxes[0].text.find("\n\nGet of \"absent.bin\" from 127.0.0.1 port " +
                                       std::to_string(server.Port()) +
                                       ": the server answered TFTP error 1, file not found (\"File not found\")."),
              std::string::npos);
    EXPECT_EQ(ReadFileBytes(local / "absent.bin"), original);
    EXPECT_EQ(local.Names(), std::vector<std::string>{"absent.bin"});
}

} // namespace
