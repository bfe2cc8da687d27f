// SPDX-License-Identifier: MIT
// The server driven by hand on a network without sockets: fake clients,
// datagrams delivered when pumped, and ticks as calls with a clock of the
// test's own.
#include "server/server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/core/local_networks.h"
#include "server/serve_guard.h"
#include "tests/support/serve_harness.h"

namespace {

class Server : public ::testing::Test, public ServeHarness {
protected:
    void SetUp() override { ASSERT_EQ(Start(Config()), ServeStartError::none); }
};

struct ReadCase {
    const char* name;
    size_t size;
    Options options;
    int blockSize;
    int window;
};

void PrintTo(const ReadCase& c, std::ostream* os)
{
    *os << c.name;
}

class ServerRead : public Server, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ServerRead, DeliversTheFileWhole)
{
    const ReadCase& c = GetParam();
    const Bytes source = Content(c.size);
    WriteFileBytes(dir / "file.bin", source);

    FakeClient client(network);
    const Bytes content = ReadAll(client, Request(1, "file.bin", "octet", c.options), c.blockSize, c.window);
    EXPECT_EQ(content.size(), source.size());
    EXPECT_TRUE(content == source);
    Wait(client, 10);
    ASSERT_EQ(server.Rows().size(), 1u);
    EXPECT_EQ(server.Rows()[0].state, ServeState::done);
    EXPECT_EQ(server.Rows()[0].nBytes, source.size());
    EXPECT_EQ(server.Running(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ServerRead,
                         ::testing::Values(ReadCase{"Empty", 0, {}, 512, 1}, ReadCase{"Short", 511, {}, 512, 1},
                                           ReadCase{"OneBlock", 512, {}, 512, 1}, ReadCase{"Over", 513, {}, 512, 1},
                                           ReadCase{"Blocks", 70000, {{"blksize", "1024"}}, 1024, 1},
                                           ReadCase{
                                               "Windowed", 70000, {{"blksize", "1000"}, {"windowsize", "8"}}, 1000, 8},
                                           ReadCase{"WindowExact", 8 * 512, {{"windowsize", "4"}}, 512, 4}),
                         [](const ::testing::TestParamInfo<ReadCase>& param) { return std::string(param.param.name); });

TEST_F(Server, GrantsOnlyWhatWasAskedOnceWithinTheCaps)
{
    WriteFileBytes(dir / "f", Content(1234));
    WriteFileBytes(dir / "empty", {});
    const struct {
        Bytes request;
        std::string oack;
    } rows[] = {
        {Request(1, "f", "octet", {{"tsize", "0"}}), "OACK tsize=1234"},
        {Request(1, "f", "octet", {{"BlkSize", "100000"}, {"tsize", "0"}}), "OACK tsize=1234"},
        {Request(1, "f", "octet", {{"blksize", "65464"}, {"windowsize", "900"}}), "OACK blksize=1468 windowsize=64"},
        {Request(1, "f", "octet", {{"colour", "blue"}, {"timeout", "3"}, {"timeout", "9"}}), "OACK timeout=3"},
        {Request(1, "f", "octet", {{"colour", "blue"}}), ""},
        {Request(1, "empty", "octet", {{"tsize", "0"}, {"blksize", "600"}}), "OACK blksize=600"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.oack);
        EXPECT_EQ(Granted(row.request), row.oack);
    }
}

TEST_F(Server, BlockNumbersRollOverPast65535ToZero)
{
    // 65,537 blocks of 8 bytes and an empty one.
    const Bytes source = Content(65537 * 8);
    WriteFileBytes(dir / "big", source);
    FakeClient client(network);
    const Bytes content = ReadAll(client, Request(1, "big", "octet", {{"blksize", "8"}, {"windowsize", "64"}}), 8, 64);
    EXPECT_TRUE(content == source);
    EXPECT_EQ(WordAt(last[&client].empty() ? Bytes{} : last[&client], 2), 0xFFFF); // nothing heard after the end
    EXPECT_EQ(server.Rows().at(0).state, ServeState::done);
}

// A client that answers nothing gets the first datagram and two resends,
// and the transfer ends when the third period runs out: 1 + 2 + 3 s on the
// adaptive timer, three times a negotiated timeout.
TEST_F(Server, AClientThatAcknowledgesNothingGetsThreeDatagramsAndThreePeriods)
{
    WriteFileBytes(dir / "f", Content(100000));
    const struct {
        Bytes request;
        std::string first;
        ULONGLONG endMs;
    } rows[] = {
        {Request(1, "f"), "DATA 1 (512)", 6000},
        {Request(1, "f", "octet", {{"tsize", "0"}}), "OACK tsize=100000", 6000},
        {Request(1, "f", "octet", {{"windowsize", "16"}, {"timeout", "2"}}), "OACK windowsize=16 timeout=2", 6000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        FakeClient client(network);
        client.SendTo(port, row.request);
        Pump();
        std::vector<std::string> heard = Heard(client);
        const std::vector<std::string> later = Wait(client, row.endMs - 50);
        heard.insert(heard.end(), later.begin(), later.end());
        EXPECT_EQ(heard, std::vector<std::string>(3, row.first));
        EXPECT_EQ(server.Running(), 1u);
        EXPECT_EQ(Wait(client, 100), std::vector<std::string>{});
        EXPECT_EQ(server.Running(), 0u);
        EXPECT_EQ(server.Rows().back().state, ServeState::failed);
        EXPECT_EQ(server.Rows().back().reasonCode, ServeReason::noAnswer);
    }
}

// After a window has been acknowledged, silence brings resends from the
// first block not acknowledged, on the adaptive timer, until the limit; the
// block after a full window goes ahead of them.
TEST_F(Server, ResendsWhatIsUnacknowledgedAndGivesUpAfterSilence)
{
    WriteFileBytes(dir / "f", Content(100000));
    FakeClient client(network);
    client.SendTo(port, Request(1, "f", "octet", {{"windowsize", "2"}}));
    Pump();
    EXPECT_EQ(Heard(client), std::vector<std::string>{"OACK windowsize=2"});
    now += 40;
    EXPECT_EQ(Send(client, AckPacket(0)), (std::vector<std::string>{"DATA 1 (512)", "DATA 2 (512)"}));
    now += 40;
    EXPECT_EQ(Send(client, AckPacket(2)), (std::vector<std::string>{"DATA 3 (512)", "DATA 4 (512)"}));
    // Round trips of 40 ms: the period is well under a second.
    const std::vector<std::string> heard = Wait(client, 200);
    ASSERT_GE(heard.size(), 3u);
    EXPECT_EQ(heard[0], "DATA 5 (512)");
    EXPECT_EQ(heard[1], "DATA 3 (512)");
    EXPECT_EQ(heard[2], "DATA 4 (512)");
    Wait(client, 9000);
    EXPECT_EQ(server.Running(), 0u);
    EXPECT_EQ(server.Rows().back().state, ServeState::failed);
    EXPECT_NE(server.Rows().back().reason.find("No answer"), std::string::npos);
}

TEST_F(Server, ANegotiatedTimeoutSetsThePeriod)
{
    WriteFileBytes(dir / "f", Content(100000));
    FakeClient client(network);
    EXPECT_EQ(Send(client, Request(1, "f", "octet", {{"timeout", "2"}}), false),
              std::vector<std::string>{"OACK timeout=2"});
    EXPECT_EQ(Send(client, AckPacket(0)), std::vector<std::string>{"DATA 1 (512)"});
    EXPECT_EQ(Wait(client, 1990), std::vector<std::string>{});
    EXPECT_EQ(Wait(client, 20), std::vector<std::string>{"DATA 1 (512)"});
    // Three periods without progress end it.
    Wait(client, 4000);
    EXPECT_EQ(server.Running(), 0u);
}

struct UploadCase {
    const char* name;
    ServePolicy policy;
    bool exists;
    const char* target;
    std::vector<std::string> answer; // to the request
};

void PrintTo(const UploadCase& c, std::ostream* os)
{
    *os << c.name;
}

class ServerUpload : public Server, public ::testing::WithParamInterface<UploadCase> {};

// The policy as a table: what each switch allows, and what a refusal leaves (nothing).
TEST_P(ServerUpload, FollowsThePolicy)
{
    const UploadCase& c = GetParam();
    const Bytes old = Content(700, 2);
    if (c.exists) {
        WriteFileBytes(dir / c.target, old);
        ::chmod((dir / c.target).c_str(), 0640);
    }
    server.SetPolicy(c.policy);
    const mode_t mask = ::umask(0);
    ::umask(mask);

    FakeClient client(network);
    const Bytes content = Content(2000, 3);
    const std::vector<std::string> answer = Upload(client, Request(2, c.target), content);
    const bool accepted = c.answer == std::vector<std::string>{"ACK 0"};
    if (accepted) {
        EXPECT_EQ(answer, std::vector<std::string>{"ACK 4"});
        EXPECT_TRUE(ReadFileBytes(dir / c.target) == content);
        struct stat status {};
        ASSERT_EQ(::stat((dir / c.target).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, c.exists ? 0640u : 0644u & ~mask);
        EXPECT_EQ(server.Rows().at(0).state, ServeState::done);
    } else {
        EXPECT_EQ(answer, c.answer);
        EXPECT_TRUE(!c.exists || ReadFileBytes(dir / c.target) == old);
        EXPECT_EQ(server.Rows().at(0).state, ServeState::refused);
    }
    EXPECT_EQ(dir.Names(), c.exists || accepted ? std::vector<std::string>{c.target} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Policy, ServerUpload,
    ::testing::Values(
        UploadCase{"UploadsOff", {false, true, true, true}, false, "new", {"ERROR 2 Uploads are not allowed"}},
        UploadCase{"CreateOff", {true, false, true, true}, false, "new", {"ERROR 2 Creating files is not allowed"}},
        UploadCase{"ReplaceOff", {true, true, false, true}, true, "old", {"ERROR 6 File already exists"}},
        UploadCase{"Create", {true, true, false, true}, false, "new", {"ACK 0"}},
        UploadCase{"Replace", {true, false, true, true}, true, "old", {"ACK 0"}},
        UploadCase{"NoFolderMade", {true, true, true, true}, false, "sub/new", {"ERROR 2 No such folder"}}),
    [](const ::testing::TestParamInfo<UploadCase>& param) { return std::string(param.param.name); });

class ServerUploads : public Server {
protected:
    void SetUp() override
    {
        Server::SetUp();
        server.SetPolicy(ServePolicy{true, true, true, true});
    }
};

// CR LF is stored as LF and CR NUL as CR, also when the pair is split
// between blocks; a bare LF and a CR that ends the file are kept.
TEST_F(ServerUploads, NetasciiIsStoredWithLinuxLineEnds)
{
    FakeClient client(network);
    const std::string x(495, 'x');
    const Bytes sent = BytesOf(std::string("one\r\ntwo\r\0three\n", 16) + x + "\r\ny\r");
    EXPECT_EQ(Upload(client, Request(2, "t.txt", "netascii", {{"windowsize", "2"}}), sent, 512, 2),
              std::vector<std::string>{"ACK 2"});
    EXPECT_TRUE(ReadFileBytes(dir / "t.txt") == BytesOf("one\ntwo\rthree\n" + x + "\ny\r"));
}

TEST_F(ServerUploads, AReaderOfTheOldFileIsNotDisturbed)
{
    const Bytes old = Content(3000, 4);
    WriteFileBytes(dir / "f", old);
    FILE* reader = std::fopen((dir / "f").c_str(), "rb");
    ASSERT_NE(reader, nullptr);
    FakeClient client(network);
    EXPECT_EQ(Upload(client, Request(2, "f"), Content(5000, 5)), std::vector<std::string>{"ACK 10"});
    Bytes seen(4000);
    seen.resize(std::fread(seen.data(), 1, seen.size(), reader));
    std::fclose(reader);
    EXPECT_TRUE(seen == old);
    EXPECT_TRUE(ReadFileBytes(dir / "f") == Content(5000, 5));
}

TEST_F(ServerUploads, TwoOfOneNameAtOnceAndATsizeAboveTheRoomAreRefused)
{
    FakeClient first(network);
    FakeClient second(network);
    FakeClient third(network);
    EXPECT_EQ(Send(first, Request(2, "same"), false), std::vector<std::string>{"ACK 0"});
    EXPECT_EQ(Send(first, DataPacket(1, 512)), std::vector<std::string>{"ACK 1"});
    EXPECT_EQ(Send(second, Request(2, "same"), false),
              std::vector<std::string>{"ERROR 2 Another upload of this file is running"});
    EXPECT_EQ(Send(third, Request(2, "huge", "octet", {{"tsize", "1152921504606846976"}}), false),
              std::vector<std::string>{"ERROR 3 Disk full or allocation exceeded"});
    EXPECT_EQ(Send(first, DataPacket(2, 10)), std::vector<std::string>{"ACK 2"});
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"same"});
}

// Stop ends every transfer at once, tells each client, and leaves no
// partial upload.
TEST_F(ServerUploads, StopEndsEverything)
{
    WriteFileBytes(dir / "f", Content(100000));
    FakeClient reader(network);
    FakeClient writer(network);
    EXPECT_EQ(Send(reader, Request(1, "f"), false), std::vector<std::string>{"DATA 1 (512)"});
    EXPECT_EQ(Send(writer, Request(2, "new"), false), std::vector<std::string>{"ACK 0"});
    EXPECT_EQ(Send(writer, DataPacket(1, 512)), std::vector<std::string>{"ACK 1"});
    ASSERT_EQ(dir.Names().size(), 2u); // f and the new file beside its name

    server.Stop();
    EXPECT_EQ(Heard(reader), std::vector<std::string>{"ERROR 0 Server stopped"});
    EXPECT_EQ(Heard(writer), std::vector<std::string>{"ERROR 0 Server stopped"});
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"f"});
    EXPECT_FALSE(server.IsServing());
    EXPECT_EQ(server.Running(), 0u);
    for (const ServeRow& row : server.Rows())
        EXPECT_EQ(row.state, ServeState::failed);
}

// Requests beyond the limits are told the server is busy; another client is
// still served.
TEST_F(Server, LimitsHoldAndBeyondThemTheServerIsBusy)
{
    server.Stop();
    ServeConfig config = Config();
    config.listen = {Loopback(0)};
    reinterpret_cast<sockaddr_in&>(config.listen[0]).sin_addr.s_addr = htonl(INADDR_ANY);
    config.nMaxPerClient = 2;
    config.nMaxTransfers = 3;
    config.bAllowUpload = config.bAllowCreate = true;
    ASSERT_EQ(Start(config), ServeStartError::none);
    WriteFileBytes(dir / "f", Content(5000));
    const struct {
        const char* address;
        Bytes request;
        std::vector<std::string> heard;
    } rows[] = {
        {"127.0.0.1", Request(1, "f"), {"DATA 1 (512)"}},           {"127.0.0.1", Request(2, "up"), {"ACK 0"}},
        {"127.0.0.1", Request(2, "more"), {"ERROR 0 Server busy"}}, // an upload beyond the limit per client
        {"127.0.0.1", Request(1, "f"), {"ERROR 0 Server busy"}},    {"127.0.0.2", Request(1, "f"), {"DATA 1 (512)"}},
        {"127.0.0.3", Request(1, "f"), {"ERROR 0 Server busy"}},
    };
    std::vector<std::unique_ptr<FakeClient>> clients;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        clients.push_back(std::make_unique<FakeClient>(network, row.address));
        clients.back()->SendTo(port, row.request, row.address);
        Pump();
        EXPECT_EQ(Heard(*clients.back()), row.heard);
    }
    EXPECT_EQ(server.Running(), 3u);
    EXPECT_EQ(log.Count("Server busy"), 3u);
}

// Replies leave from the address the request was sent to, also from a
// server that listens on every address.
TEST_F(Server, RepliesLeaveFromTheAddressTheRequestWasSentTo)
{
    server.Stop();
    ServeConfig config = Config();
    reinterpret_cast<sockaddr_in&>(config.listen[0]).sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(Start(config), ServeStartError::none);
    WriteFileBytes(dir / "f", Content(100));
    const struct {
        const char* to;
        const char* name;
        std::string heard;
    } rows[] = {
        {"127.0.0.2", "f", "DATA 1 (100)"},
        {"127.0.0.3", "missing", "ERROR 1 File not found"},
        {"127.0.0.1", "f", "DATA 1 (100)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.to);
        FakeClient client(network);
        client.SendTo(port, Request(1, row.name), row.to);
        Pump();
        EXPECT_EQ(Heard(client), std::vector<std::string>{row.heard});
        EXPECT_EQ(client.LastSenderAddress(), row.to);
    }
}

// Outside the local networks a request gets no answer at all, and one log
// line per source a minute.
TEST_F(Server, LocalNetworksOnlyIgnoresOthersSilently)
{
    CServeGuard::SetSubnetSource([] {
        LocalSubnet subnet{AF_INET, {10, 0, 0, 0}, {255, 0, 0, 0}};
        return std::vector<LocalSubnet>{subnet};
    });
    WriteFileBytes(dir / "f", Content(100));
    FakeClient client(network);
    const struct {
        ULONGLONG after;
        bool localOnly;
        std::vector<std::string> heard;
        size_t lines;
    } rows[] = {
        {0, true, {}, 1},
        {1000, true, {}, 1},
        {60000, true, {}, 2},
        {0, false, {"DATA 1 (100)"}, 2},
    };
    for (const auto& row : rows) {
        now += row.after;
        server.SetPolicy(ServePolicy{false, false, false, row.localOnly});
        EXPECT_EQ(Send(client, Request(1, "f"), false), row.heard);
        EXPECT_EQ(log.Count("not on a local network"), row.lines);
    }
    // Nor does a stranger at a transfer's port hear anything.
    server.SetPolicy(ServePolicy{false, false, false, true});
    FakeClient stranger(network);
    stranger.SendTo(client.LastSenderPort(), AckPacket(1));
    Pump();
    EXPECT_EQ(Heard(stranger), std::vector<std::string>{});
}

TEST_F(Server, TellsItsOwnerOfChangesOnceUntilItReadsThem)
{
    WriteFileBytes(dir / "f", Content(100));
    const auto posted = [this] {
        int count = 0;
        MSG msg;
        while (owner.PeekMessage(&msg))
            count += msg.message == WM_SERVE_CHANGED ? 1 : 0;
        return count;
    };
    FakeClient first(network);
    FakeClient second(network);
    Send(first, Request(1, "f"), false);
    Send(second, Request(1, "missing"), false);
    EXPECT_EQ(posted(), 1);
    ASSERT_EQ(server.Rows().size(), 2u);
    EXPECT_EQ(server.Rows()[0].state, ServeState::running);
    EXPECT_EQ(server.Rows()[1].state, ServeState::refused);
    Send(first, AckPacket(1));
    EXPECT_EQ(posted(), 1);
    EXPECT_EQ(server.Rows()[0].state, ServeState::done);
    EXPECT_EQ(server.Rows()[0].nBytes, 100u);
    server.ClearFinished();
    EXPECT_EQ(server.Rows().size(), 0u);
}

// 100 refused requests in a second from one address: ten answers and ten
// lines, one row per name, the rest told in one line a minute later; a
// client at another address is served meanwhile at once.
TEST_F(Server, RefusalsFromOneAddressAreBoundedAndSummed)
{
    WriteFileBytes(dir / "f", Content(100));
    size_t answers = 0;
    std::vector<std::unique_ptr<FakeClient>> ports;
    for (int i = 0; i < 100; ++i) {
        ports.push_back(std::make_unique<FakeClient>(network));
        ports.back()->SendTo(port, Request(1, i % 2 == 0 ? "missing" : "../secret"));
        Pump();
        answers += Heard(*ports.back()).size();
        now += 9;
    }
    EXPECT_EQ(answers, 10u);
    EXPECT_EQ(log.Count("refused"), 10u);
    EXPECT_EQ(server.Rows().size(), 2u);
    FakeClient other(network, "127.0.0.2");
    other.SendTo(port, Request(1, "f"), "127.0.0.1");
    Pump();
    EXPECT_EQ(Heard(other), std::vector<std::string>{"DATA 1 (100)"});

    now += CRefusalLimit::kSummaryMs;
    server.OnTick(now);
    EXPECT_EQ(log.Count("90 more requests from 127.0.0.1 refused in the last minute"), 1u);
    server.OnTick(now + CRefusalLimit::kSummaryMs);
    EXPECT_EQ(log.Count("more requests from"), 1u);
}

// What is not a well-formed request draws nothing, or an ERROR no longer
// than itself.
TEST_F(Server, AMalformedRequestDrawsNoMoreThanItSent)
{
    const struct {
        const char* name;
        Bytes datagram;
    } rows[] = {
        {"three bytes", {0, 1, 'f'}},
        {"unknown opcode", {0, 9, 0, 0}},
        {"unknown opcode, longer", {0, 9, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'}},
        {"no zero after the name", {0, 1, 'f', 'i', 'l', 'e'}},
        {"no mode", {0, 1, 'f', 0}},
        {"mode mail", {0, 1, 'f', 0, 'm', 'a', 'i', 'l', 0}},
        {"an ACK", {0, 4, 0, 1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeClient client(network);
        client.SendTo(port, row.datagram);
        Pump();
        while (std::optional<Bytes> answer = client.TryReceive()) {
            EXPECT_LE(answer->size(), row.datagram.size());
            EXPECT_EQ(WordAt(*answer, 0), TFTP_OPCODE_ERROR);
        }
    }
    EXPECT_EQ(server.Running(), 0u);
}

// The block granted fits one datagram on the link the request came in on:
// MTU - 32 over IPv4, below MaxBlockSize when that is higher.
TEST_F(Server, TheBlockSizeIsCappedByTheInterfacesMtu)
{
    static UINT s_mtu = 0;
    CServeGuard::SetSubnetSource([] {
        LocalSubnet loopback{AF_INET, {127}, {255}, FakeServeNetwork::kLoopbackIndex, s_mtu, true};
        return std::vector<LocalSubnet>{loopback};
    });
    server.Stop();
    ServeConfig config = Config();
    config.nMaxBlockSize = 65464;
    ASSERT_EQ(Start(config), ServeStartError::none);
    WriteFileBytes(dir / "f", Content(100));
    const struct {
        UINT mtu;
        std::string oack;
    } rows[] = {{1500, "OACK blksize=1468"}, {9000, "OACK blksize=8968"}, {0, "OACK blksize=65464"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mtu);
        s_mtu = row.mtu;
        now += CServeGuard::kSubnetsMs;
        EXPECT_EQ(Granted(Request(1, "f", "octet", {{"blksize", "65464"}})), row.oack);
    }
}

// Uploads that must not replace: a name taken meanwhile, one file reached by
// two names, the new files of unfinished uploads.
class ServerCreateOnly : public Server {
protected:
    void Restart(bool bIgnoreCase, bool bAllowUpload = true)
    {
        server.Stop();
        ServeConfig config = Config();
        config.bAllowUpload = config.bAllowCreate = bAllowUpload;
        config.bIgnoreCase = bIgnoreCase;
        ASSERT_EQ(Start(config), ServeStartError::none);
    }
};

TEST_F(ServerCreateOnly, AFileThatAppearsDuringTheUploadIsKept)
{
    Restart(false);
    FakeClient client(network);
    EXPECT_EQ(Send(client, Request(2, "new"), false), std::vector<std::string>{"ACK 0"});
    EXPECT_EQ(Send(client, DataPacket(1, 512)), std::vector<std::string>{"ACK 1"});
    WriteFileBytes(dir / "new", Content(10, 7));
    EXPECT_EQ(Send(client, DataPacket(2, 10)), std::vector<std::string>{"ERROR 6 File already exists"});
    EXPECT_TRUE(ReadFileBytes(dir / "new") == Content(10, 7));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"new"});
    EXPECT_NE(server.Rows().at(0).reason.find("appeared during the upload"), std::string::npos);
}

TEST_F(ServerCreateOnly, TwoNamesOfOneFileAreOneUpload)
{
    std::filesystem::create_directory(dir / "real");
    std::filesystem::create_directory_symlink("real", dir / "link");
    for (const auto& [ignoreCase, first, second, refused] :
         {std::tuple<bool, const char*, const char*, bool>{true, "Boot.cfg", "boot.CFG", true},
          {false, "Boot.cfg", "boot.CFG", false},
          {false, "real/new", "link/new", true}}) {
        Restart(ignoreCase);
        FakeClient one(network);
        FakeClient two(network);
        EXPECT_EQ(Send(one, Request(2, first), false), std::vector<std::string>{"ACK 0"});
        EXPECT_EQ(Send(two, Request(2, second), false),
                  std::vector<std::string>{refused ? "ERROR 2 Another upload of this file is running" : "ACK 0"})
            << second;
    }
}

TEST_F(ServerCreateOnly, UnfinishedUploadsAreNeverServedAndOldOnesGoAtStart)
{
    std::filesystem::create_directories(dir / "sub");
    TempDir outside;
    std::filesystem::create_directory_symlink(outside.Path(), dir / "out");
    const timespec longAgo[2] = {{::time(nullptr) - 25 * 3600, 0}, {::time(nullptr) - 25 * 3600, 0}};
    for (const std::string name : {".old.AbC123", "sub/.old.x9Y8z7", ".config.backup", "out/.old.AbC123"}) {
        WriteFileBytes(dir / name, Content(5));
        ::utimensat(AT_FDCWD, (dir / name).c_str(), longAgo, 0);
    }
    WriteFileBytes(dir / ".fresh.AbC123", Content(5));
    Restart(true, false);
    EXPECT_EQ(dir.Names().size(), 5u); // nothing removed while uploads are off
    Restart(true);
    EXPECT_EQ(log.Count("Removed 2 unfinished uploads"), 1u);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{".config.backup", ".fresh.AbC123", "out", "sub"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "sub") && outside.Names().size() == 1); // no link followed
    for (const auto& [opcode, name, heard] :
         {std::tuple<WORD, const char*, const char*>{1, ".FRESH.abc123", "ERROR 1 File not found"},
          {2, ".next.Zz9zz9", "ERROR 2 Access violation"},
          {1, ".config.backup", "DATA 1 (5)"}}) {
        FakeClient client(network);
        EXPECT_EQ(Send(client, Request(opcode, name), false), std::vector<std::string>{heard}) << name;
    }
}

// A netascii read goes out as RFC 1350 has it, LF as CR LF and CR as CR NUL,
// also where a pair is split between blocks of a window; its tsize is its size
// on the wire, counted for a file of up to 16 MiB and left out past that.
TEST_F(Server, NetasciiReadsGoOutPerRfcWithTheirSizeOnTheWire)
{
    // Blocks "1234567\r", "\nabcdef\r", "\0\r\0\r\nxy\xE9", "\r\n".
    WriteFileBytes(dir / "t", BytesOf("1234567\nabcdef\r\r\nxy\xE9\n"));
    FakeClient client(network);
    EXPECT_TRUE(ReadAll(client, Request(1, "t", "NetAscii", {{"blksize", "8"}, {"windowsize", "3"}, {"tsize", "0"}}), 8,
                        3) == BytesOf(std::string("1234567\r\nabcdef\r\0\r\0\r\nxy\xE9\r\n", 26)));
    EXPECT_EQ(oack, "OACK blksize=8 windowsize=3 tsize=26");
    Wait(client, 10);
    EXPECT_EQ(server.Rows().back().state, ServeState::done);
    EXPECT_EQ(server.Rows().back().nBytes, 26u);
    for (const auto& [size, answer] :
         {std::pair{16u << 20, "OACK tsize=16777221"}, {(16u << 20) + 1, "DATA 1 (512)"}}) {
        std::filesystem::resize_file(dir / "t", size);
        FakeClient other(network);
        EXPECT_EQ(Send(other, Request(1, "t", "netascii", {{"tsize", "0"}}), false), std::vector<std::string>{answer});
    }
}

// The size a read was admitted with is the size sent: a file cut short or
// grown while it is read fails the read, in either mode.
TEST_F(Server, AFileThatChangesSizeWhileReadFailsTheRead)
{
    const struct {
        const char* mode;
        std::uintmax_t newSize;
    } rows[] = {{"octet", 10000}, {"octet", 300000}, {"netascii", 10000}, {"netascii", 300000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.mode) + " " + std::to_string(row.newSize));
        // Past the 64 KiB the file layer reads at once, so the change is seen.
        WriteFileBytes(dir / "f", Bytes(200000, 'a'));
        FakeClient client(network);
        std::vector<std::string> heard = Send(client, Request(1, "f", row.mode), false);
        std::filesystem::resize_file(dir / "f", row.newSize);
        for (WORD block = 1; heard.size() == 1 && heard[0].rfind("DATA", 0) == 0; ++block)
            heard = Send(client, AckPacket(block));
        EXPECT_EQ(heard, std::vector<std::string>{"ERROR 0 File changed while being sent"});
        EXPECT_EQ(server.Rows().back().state, ServeState::failed);
        EXPECT_EQ(server.Rows().back().reason, "File changed while being sent");
        const std::string& line = log.lines.back();
        EXPECT_TRUE(line.find(" failed: ") != std::string::npos && line.ends_with("; File changed while being sent"))
            << line;
    }
}

} // namespace
