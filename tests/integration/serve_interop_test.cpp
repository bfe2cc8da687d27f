// SPDX-License-Identifier: MIT
// Tarnwick's server against real clients: tftp-hpa's tftp, atftp, curl,
// busybox's tftp and Tarnwick's own client, both ways where the client can
// upload, compared byte for byte by the translation rules of the mode. The
// server runs in the test's thread (poll and OnTick) while the client
// process runs; in a network namespace of the tests' own it listens on port
// 69, elsewhere on a port the system chooses.
#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "client/session.h"
#include "served_folder.h"
#include "server/server.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_bytes.h"

namespace {

using Bytes = std::vector<BYTE>;

// 65,537 blocks of 512 bytes and an empty one: the block number wraps.
constexpr size_t kWrapSize = 65537 * 512;
constexpr size_t kMiB = 1 << 20;

struct InteropCase {
    WORD direction;
    WORD mode;
    size_t size;
    int blockSize = 0; // asked for; 0: none
    int window = 0;    // asked for; 0: none
};

std::string Name(const InteropCase& c)
{
    return std::string(c.direction == DIRECTION_GET ? "Get" : "Put") + (c.mode == MODE_BINARY ? "Octet" : "Netascii") +
           std::to_string(c.size) + (c.blockSize != 0 ? "Blksize" + std::to_string(c.blockSize) : "") +
           (c.window != 0 ? "Window" + std::to_string(c.window) : "");
}

void PrintTo(const InteropCase& c, std::ostream* os)
{
    *os << Name(c);
}

std::string CaseName(const ::testing::TestParamInfo<InteropCase>& info)
{
    return Name(info.param);
}

// Printable lines ending in lineEnd, with a byte outside the netascii set now and then.
Bytes Text(size_t size, unsigned seed, const std::string& lineEnd, bool dropped)
{
    std::mt19937 random(seed);
    Bytes text;
    while (text.size() < size) {
        const unsigned pick = random() % 64;
        if (pick == 0)
            text.insert(text.end(), lineEnd.begin(), lineEnd.end());
        else if (pick == 1 && dropped)
            text.push_back(0x80);
        else
            text.push_back(static_cast<BYTE>(0x20 + random() % 95));
    }
    text.resize(size);
    // A line end cut in two at the very end would read differently.
    if (!text.empty() && text.back() == '\r')
        text.back() = 'x';
    return text;
}

// How a client treats netascii.
enum class Netascii {
    unix,     // CR LF arriving becomes LF, CR NUL CR; LF sent goes as CR LF (tftp-hpa, atftp)
    raw,      // the bytes pass as they are (curl)
    tarnwick, // CR LF kept both ways; bytes outside the set dropped both ways
};

// The file at the source and what must arrive. The server keeps text with
// LF line ends, as a Linux folder does: it sends LF as CR LF, CR as CR NUL
// and every other byte as it is, and stores CR LF as LF and CR NUL as CR.
void Prepare(const InteropCase& c, Netascii netascii, Bytes* pSource, Bytes* pExpected)
{
    const unsigned seed = static_cast<unsigned>(c.size * 4 + c.direction * 2 + c.mode);
    if (c.mode == MODE_BINARY) {
        *pSource = RandomBytes(c.size, seed);
        *pExpected = *pSource;
        return;
    }
    if (c.direction == DIRECTION_GET) {
        *pSource = Text(c.size, seed, "\n", true);
        const Bytes sent = Replace(*pSource, "\n", "\r\n");
        *pExpected = netascii == Netascii::unix ? *pSource : netascii == Netascii::raw ? sent : WithoutDropped(sent);
        return;
    }
    switch (netascii) {
    case Netascii::unix:
        *pSource = Text(c.size, seed, "\n", false);
        *pExpected = *pSource;
        break;
    case Netascii::raw:
        *pSource = Text(c.size, seed, "\r\n", false);
        *pExpected = Replace(*pSource, "\r\n", "\n");
        break;
    case Netascii::tarnwick:
        *pSource = Text(c.size, seed, "\r\n", true);
        *pExpected = Replace(WithoutDropped(*pSource), "\r\n", "\n");
        break;
    }
}

// The served folder with a case's file moved each way.
class InteropFolder : public ServedFolder {
protected:
    // Moves the case's file with run (which gets the local and remote
    // names) and checks what arrived, byte for byte, and the server's row.
    void ExpectArrivesExactly(const InteropCase& c, Netascii netascii,
                              const std::function<void(const std::string& localFile, const std::string& remote)>& run)
    {
        Bytes source;
        Bytes expected;
        Prepare(c, netascii, &source, &expected);
        const std::string remote = "remote.dat";
        const std::string localFile = local / remote;
        if (c.direction == DIRECTION_GET)
            WriteFileBytes(served / remote, source);
        else
            WriteFileBytes(localFile, source);
        run(localFile, remote);
        const Bytes arrived = ReadFileBytes(c.direction == DIRECTION_GET ? localFile : served / remote);
        EXPECT_EQ(arrived.size(), expected.size()) << ClientOutput();
        EXPECT_TRUE(arrived == expected) << "the contents differ";
        ASSERT_FALSE(server.Rows().empty());
        EXPECT_EQ(server.Rows().back().state, ServeState::done) << server.Rows().back().reason;
        EXPECT_EQ(server.Running(), 0u);
        // Nothing left beside the file: no partial upload.
        EXPECT_EQ(served.Names(), std::vector<std::string>{remote});
    }
};

// One fixture per kind of client; each skips where its program is missing.
template <const char* kProgram>
class ClientOf : public InteropFolder, public ::testing::WithParamInterface<InteropCase> {
protected:
    void SetUp() override
    {
        if (!Installed(kProgram))
            GTEST_SKIP() << kProgram << " is not installed (./test.sh installs it)";
        InteropFolder::SetUp();
    }
};

constexpr char kTftp[] = "tftp";
constexpr char kAtftp[] = "atftp";
constexpr char kCurl[] = "curl";
constexpr char kBusybox[] = "busybox";

std::vector<InteropCase> Sizes(const std::vector<WORD>& directions, const std::vector<WORD>& modes, int blockSize = 0,
                               int window = 0, bool wrap = true)
{
    std::vector<InteropCase> cases;
    for (WORD direction : directions)
        for (WORD mode : modes) {
            for (size_t size : {size_t{0}, size_t{511}, size_t{512}, size_t{513}, kMiB})
                cases.push_back(InteropCase{direction, mode, size, blockSize, window});
            if (wrap && mode == MODE_BINARY)
                cases.push_back(InteropCase{direction, mode, kWrapSize, blockSize, window});
        }
    return cases;
}

const std::vector<WORD> kBothWays{DIRECTION_GET, DIRECTION_PUT};
const std::vector<WORD> kBothModes{MODE_BINARY, MODE_ASCII};

// tftp-hpa's client: plain RFC 1350, both ways, both modes.
using TftpHpa = ClientOf<kTftp>;

TEST_P(TftpHpa, ArrivesExactly)
{
    const InteropCase& c = GetParam();
    ExpectArrivesExactly(c, Netascii::unix, [&](const std::string& localFile, const std::string& remote) {
        const std::string command =
            c.direction == DIRECTION_GET ? "get " + remote + " " + localFile : "put " + localFile + " " + remote;
        EXPECT_EQ(Run({"tftp", "-m", c.mode == MODE_BINARY ? "octet" : "netascii", Host(), std::to_string(port), "-c",
                       c.direction == DIRECTION_GET ? "get" : "put", c.direction == DIRECTION_GET ? remote : localFile,
                       c.direction == DIRECTION_GET ? localFile : remote}),
                  0)
            << command << ": " << ClientOutput();
    });
}

INSTANTIATE_TEST_SUITE_P(Plain, TftpHpa, ::testing::ValuesIn(Sizes(kBothWays, kBothModes)), CaseName);

// atftp: windows of 1, 4, 16 and 64 with block sizes of 512, 1428 and 8192.
using Atftp = ClientOf<kAtftp>;

TEST_P(Atftp, ArrivesExactly)
{
    const InteropCase& c = GetParam();
    ExpectArrivesExactly(c, Netascii::unix, [&](const std::string& localFile, const std::string& remote) {
        std::vector<std::string> argv{"atftp",  c.direction == DIRECTION_GET ? "-g" : "-p", "-r", remote, "-l",
                                      localFile};
        if (c.blockSize != 0)
            argv.insert(argv.end(), {"--option", "blksize " + std::to_string(c.blockSize)});
        if (c.window != 0)
            argv.insert(argv.end(), {"--option", "windowsize " + std::to_string(c.window)});
        if (c.mode == MODE_ASCII)
            argv.insert(argv.end(), {"--option", "mode netascii"});
        argv.insert(argv.end(), {Host(), std::to_string(port)});
        EXPECT_EQ(Run(argv), 0) << ClientOutput();
    });
}

std::vector<InteropCase> AtftpCases()
{
    std::vector<InteropCase> cases = Sizes(kBothWays, kBothModes, 1428, 16, false);
    for (int window : {1, 4, 16, 64})
        for (int blockSize : {512, 1428, 8192})
            for (WORD direction : kBothWays)
                cases.push_back(InteropCase{direction, MODE_BINARY, kMiB + 7, blockSize, window});
    for (WORD direction : kBothWays)
        cases.push_back(InteropCase{direction, MODE_BINARY, kWrapSize, 512, 64});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Windows, Atftp, ::testing::ValuesIn(AtftpCases()), CaseName);

// curl: --tftp-blksize, both ways; netascii as its URL's ";mode=netascii".
using Curl = ClientOf<kCurl>;

TEST_P(Curl, ArrivesExactly)
{
    const InteropCase& c = GetParam();
    ExpectArrivesExactly(c, Netascii::raw, [&](const std::string& localFile, const std::string& remote) {
        const std::string url = "tftp://" + Host() + ":" + std::to_string(port) + "/" + remote +
                                (c.mode == MODE_ASCII ? ";mode=netascii" : "");
        std::vector<std::string> argv{"curl", "-s", "-S"};
        if (c.blockSize != 0)
            argv.insert(argv.end(), {"--tftp-blksize", std::to_string(c.blockSize)});
        if (c.direction == DIRECTION_GET)
            argv.insert(argv.end(), {"-o", localFile, url});
        else
            argv.insert(argv.end(), {"-T", localFile, url});
        EXPECT_EQ(Run(argv), 0) << ClientOutput();
    });
}

std::vector<InteropCase> CurlCases()
{
    std::vector<InteropCase> cases = Sizes(kBothWays, kBothModes);
    for (int blockSize : {1428, 8192})
        for (WORD direction : kBothWays)
            cases.push_back(InteropCase{direction, MODE_BINARY, kMiB + 7, blockSize});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Blksize, Curl, ::testing::ValuesIn(CurlCases()), CaseName);

// busybox's tftp: octet only, with and without a block size.
using Busybox = ClientOf<kBusybox>;

TEST_P(Busybox, ArrivesExactly)
{
    const InteropCase& c = GetParam();
    ExpectArrivesExactly(c, Netascii::raw, [&](const std::string& localFile, const std::string& remote) {
        std::vector<std::string> argv{"busybox", "tftp",   c.direction == DIRECTION_GET ? "-g" : "-p", "-r", remote,
                                      "-l",      localFile};
        if (c.blockSize != 0)
            argv.insert(argv.end(), {"-b", std::to_string(c.blockSize)});
        argv.insert(argv.end(), {Host(), std::to_string(port)});
        EXPECT_EQ(Run(argv), 0) << ClientOutput();
    });
}

std::vector<InteropCase> BusyboxCases()
{
    std::vector<InteropCase> cases = Sizes(kBothWays, {MODE_BINARY});
    for (WORD direction : kBothWays)
        cases.push_back(InteropCase{direction, MODE_BINARY, kMiB + 7, 1428});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Octet, Busybox, ::testing::ValuesIn(BusyboxCases()), CaseName);

// Tarnwick's own client, Get and Put, plain and with options (blksize,
// windowsize, tsize, a timeout).
class OwnClient : public InteropFolder, public ::testing::WithParamInterface<InteropCase> {};

TEST_P(OwnClient, ArrivesExactly)
{
    const InteropCase& c = GetParam();
    CMessageBoxRecorder boxes;
    CWnd owner;
    ExpectArrivesExactly(c, Netascii::tarnwick, [&](const std::string& localFile, const std::string& remote) {
        CTFTPSession session(&owner);
        if (c.blockSize != 0)
            session.SetOptions(TftpOptions{c.blockSize, c.window, 2, true, 0, false});
        const std::string host = Host() + ":" + std::to_string(port);
        // A Get stores under the remote name's last part in the current
        // directory, which is the local folder.
        ASSERT_TRUE(session.Start(host.c_str(), c.direction == DIRECTION_GET ? "" : localFile.c_str(), remote.c_str(),
                                  c.direction, c.mode));
        UINT end = 0;
        ULONGLONG nextTick = SteadyMs() + TFTP_TICK_MS;
        EXPECT_TRUE(Serve(
            [&] {
                if (SteadyMs() >= nextTick) {
                    session.OnTick();
                    nextTick += TFTP_TICK_MS;
                }
                MSG msg;
                while (owner.PeekMessage(&msg))
                    if (msg.message == WM_TFTP_COMPLETE || msg.message == WM_TFTP_FAILED ||
                        msg.message == WM_TFTP_TIMEOUT)
                        end = msg.message;
                return end != 0;
            },
            std::chrono::seconds(180)));
        EXPECT_EQ(end, WM_TFTP_COMPLETE);
        Serve([] { return false; }, std::chrono::milliseconds(0));
    });
    EXPECT_TRUE(boxes.boxes.empty());
}

std::vector<InteropCase> OwnCases()
{
    std::vector<InteropCase> cases = Sizes(kBothWays, kBothModes);
    for (WORD direction : kBothWays)
        for (WORD mode : kBothModes) {
            cases.push_back(InteropCase{direction, mode, kMiB + 7, 1468, 16});
            cases.push_back(InteropCase{direction, mode, 513, 1468, 16});
        }
    for (WORD direction : kBothWays)
        cases.push_back(InteropCase{direction, MODE_BINARY, kWrapSize, 512, 64});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(GetAndPut, OwnClient, ::testing::ValuesIn(OwnCases()), CaseName);

} // namespace
