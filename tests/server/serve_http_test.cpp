// SPDX-License-Identifier: MIT
// The folder over HTTP with a real client on loopback: the test's own socket
// client speaks to the server on a free port, and the test runs the
// server's loop itself (poll on its descriptors and the client's, OnReady).
#include "server/serve_http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string kHello = "Hello, world\n";

struct Lines : ITransferLog {
    void LogLine(std::string_view line) override { text += std::string(line) + "\n"; }
    std::string text;
};

struct Response {
    int status = 0;                             // 0: closed without an answer
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
};

class ServeHttp : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories("srv/dir");
        fs::create_directories("outside");
        WriteFileBytes("srv/hello.txt", std::vector<BYTE>(kHello.begin(), kHello.end()));
        WriteFileBytes("outside/secret", {'S', 'E', 'C', 'R', 'E', 'T'});
        const timespec times[2] = {{784111777, 0}, {784111777, 0}};
        ::utimensat(AT_FDCWD, "srv/hello.txt", times, 0);
        fs::create_symlink("hello.txt", "srv/inside");
        fs::create_symlink("../outside/secret", "srv/out");
        fs::create_symlink(m_temp / "outside/secret", "srv/abs");
        // Larger than any socket buffer: its transfers stay running until
        // their clients read.
        WriteFileBytes("srv/big.bin", {});
        fs::resize_file("srv/big.bin", 64 << 20);
        m_limits.nMaxPerClient = 2;
        sockaddr_storage loopback{};
        reinterpret_cast<sockaddr_in&>(loopback).sin_family = AF_INET;
        reinterpret_cast<sockaddr_in&>(loopback).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(m_server.Start(loopback, 0, "srv", m_limits), "");
    }
    void TearDown() override
    {
        CServeGuard::SetSubnetSource({});
        for (const int fd : m_clients)
            ::close(fd);
    }

    int Connect(int nReceiveBuffer = 0)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (nReceiveBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nReceiveBuffer, sizeof nReceiveBuffer);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<uint16_t>(m_server.Port()));
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        m_clients.push_back(fd);
        return fd;
    }
    int Send(const std::string& method, const std::string& target, const std::string& extra = {}, int nBuffer = 0)
    {
        const int fd = Connect(nBuffer);
        const std::string request =
            method + " " + target + " HTTP/1.1\r\nHost: t\r\nConnection: close\r\n" + extra + "\r\n";
        EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
        return fd;
    }

    // Runs the server until done() holds or the client fd (when given)
    // reaches its end, collecting what it got; false after 10 s.
    template <typename Done> bool Pump(Done done, int fd = -1, std::string* pGot = nullptr)
    {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < give_up) {
            m_server.OnReady();
            char buffer[65536];
            ssize_t got = 0;
            while (fd >= 0 && (got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
                pGot->append(buffer, static_cast<size_t>(got));
            if (done() || (fd >= 0 && (got == 0 || (got < 0 && errno == ECONNRESET))))
                return true;
            std::vector<pollfd> fds;
            for (const int watched : m_server.Fds())
                fds.push_back({watched, POLLIN, 0});
            if (fd >= 0)
                fds.push_back({fd, POLLIN, 0});
            ::poll(fds.data(), fds.size(), 50);
        }
        return false;
    }
    Response Exchange(const std::string& method, const std::string& target, const std::string& extra = {})
    {
        const int fd = Send(method, target, extra);
        std::string got;
        EXPECT_TRUE(Pump([] { return false; }, fd, &got)) << target;
        Response response;
        const size_t end = got.find("\r\n\r\n");
        if (got.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos)
            return response;
        response.status = std::stoi(got.substr(9, 3));
        for (size_t at = got.find("\r\n") + 2; at < end;) {
            const size_t line = got.find("\r\n", at);
            const size_t colon = got.find(':', at);
            std::string name = got.substr(at, colon - at);
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            response.headers[name] = got.substr(colon + 2, line - colon - 2);
            at = line + 2;
        }
        response.body = got.substr(end + 4);
        return response;
    }

    TempDir m_temp;
    Lines m_log;
    ULONGLONG m_nowMs = 0;
    ServeHttpLimits m_limits;
    CServeHttp m_server{nullptr, &m_log, [this] { return m_nowMs += 1000; }};
    std::vector<int> m_clients;
};

TEST_F(ServeHttp, GetHeadAndRanges)
{
    const struct {
        const char* method;
        const char* extra;
        int status;
        const char* body;
        const char* contentRange; // "": none
    } cases[] = {
        {"GET", "", 200, "Hello, world\n", ""},
        {"HEAD", "", 200, "", ""},
        {"GET", "Range: bytes=7-11\r\n", 206, "world", "bytes 7-11/13"},
        {"GET", "Range: bytes=-3\r\n", 206, "ld\n", "bytes 10-12/13"},
        {"GET", "Range: bytes=13-\r\n", 416, "Range not satisfiable\n", "bytes */13"},
        {"GET", "Range: bytes=0-1,4-5\r\n", 200, "Hello, world\n", ""},
        // A client whose copy is of another time gets the whole file.
        {"GET", "Range: bytes=0-1\r\nIf-Range: Mon, 07 Nov 1994 08:49:37 GMT\r\n", 200, "Hello, world\n", ""},
        {"GET", "Range: bytes=0-1\r\nIf-Range: Sun, 06 Nov 1994 08:49:37 GMT\r\n", 206, "He", "bytes 0-1/13"},
    };
    for (const auto& c : cases) {
        Response response = Exchange(c.method, "/hello.txt", c.extra);
        EXPECT_EQ(response.status, c.status) << c.method << " " << c.extra;
        EXPECT_EQ(response.body, c.body) << c.extra;
        EXPECT_EQ(response.headers["content-range"], c.contentRange) << c.extra;
        if (c.status != 416) {
            EXPECT_EQ(response.headers["content-length"],
                      std::to_string(std::string(c.body).size() + (c.method[0] == 'H' ? 13 : 0)));
            EXPECT_EQ(response.headers["last-modified"], "Sun, 06 Nov 1994 08:49:37 GMT");
        }
    }
    const std::vector<ServeRow>& rows = m_server.Rows();
    ASSERT_EQ(rows.size(), std::size(cases));
    EXPECT_EQ(rows[0].protocol, ServeProtocol::http);
    EXPECT_EQ(rows[0].state, ServeState::done);
    EXPECT_EQ(rows[0].nBytes, 13U);
    EXPECT_EQ(rows[1].state, ServeState::sizeQuery);
    EXPECT_EQ(rows[2].granted, "bytes 7-11/13");
    EXPECT_EQ(rows[2].nBytes, 5U);
    EXPECT_EQ(rows[4].state, ServeState::refused);
    EXPECT_NE(m_log.text.find("Read request from 127.0.0.1 port"), std::string::npos);
    EXPECT_NE(m_log.text.find("HTTP read of \"/hello.txt\" by 127.0.0.1 port"), std::string::npos);
}

TEST_F(ServeHttp, OnlyRegularFilesBeneathTheFolder)
{
    const struct {
        const char* method;
        const char* target;
        int status;
    } cases[] = {
        {"GET", "/inside", 200}, // a link that stays in the folder
        {"GET", "//hello.txt", 200},
        {"GET", "/../outside/secret", 404},
        {"GET", "/%2e%2e/outside/secret", 404},
        {"GET", "/dir/%2E%2E/../outside/secret", 404},
        {"GET", "/out", 404}, // links that lead out
        {"GET", "/abs", 404},
        {"GET", "/dir", 404},
        {"GET", "/", 404},
        {"GET", "/missing", 404},
        {"GET", "/hello.txt%00.png", 404},
        {"GET", "/bad%zz", 400},
        {"POST", "/hello.txt", 405},
        {"PUT", "/hello.txt", 405},
    };
    for (const auto& c : cases) {
        Response response = Exchange(c.method, c.target);
        EXPECT_EQ(response.status, c.status) << c.method << " " << c.target;
        EXPECT_EQ(response.body.find("SECRET"), std::string::npos) << c.target;
        if (c.status == 405) {
            EXPECT_EQ(response.headers["allow"], "GET, HEAD");
        }
    }
    // The absolute name of a file outside, asked beneath the folder.
    EXPECT_EQ(Exchange("GET", (m_temp / "outside/secret")).status, 404);
}

TEST_F(ServeHttp, TransfersPerClientAreLimited)
{
    // Two clients that do not read hold their transfers open.
    const int first = Send("GET", "/big.bin", {}, 4096);
    Send("GET", "/big.bin", {}, 4096);
    ASSERT_TRUE(Pump([this] { return m_server.Running() == 2; }));
    Response busy = Exchange("GET", "/hello.txt");
    EXPECT_EQ(busy.status, 503);
    EXPECT_EQ(busy.headers["retry-after"], "1");

    ::close(first);
    m_clients.erase(m_clients.begin());
    ASSERT_TRUE(Pump([this] { return m_server.Running() == 1; }));
    EXPECT_EQ(Exchange("GET", "/hello.txt").body, kHello);

    m_server.Stop();
    const std::vector<ServeRow>& rows = m_server.Rows();
    ASSERT_EQ(rows.size(), 4U);
    EXPECT_EQ(rows[0].state, ServeState::failed); // the client that went away
    EXPECT_LT(rows[0].nBytes, 64ULL << 20);
    EXPECT_EQ(rows[1].reason, "Server stopped");
    EXPECT_EQ(rows[2].reasonCode, ServeReason::busy);
    EXPECT_EQ(rows[3].state, ServeState::done);
}

TEST_F(ServeHttp, StrangersAreClosedWithoutAnAnswer)
{
    CServeGuard::SetSubnetSource([] { return std::vector<LocalSubnet>{}; });
    EXPECT_EQ(Exchange("GET", "/hello.txt").status, 0);
    EXPECT_NE(m_log.text.find("Ignored an HTTP connection from 127.0.0.1 port"), std::string::npos);
    m_server.SetLocalNetworksOnly(false);
    EXPECT_EQ(Exchange("GET", "/hello.txt").status, 200);
}

} // namespace
