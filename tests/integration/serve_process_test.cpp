// SPDX-License-Identifier: MIT
// tarnwick-serve as a process, watched from outside: no display and no Qt,
// a Get served, SIGTERM ends it with status 0, a taken port with status 1;
// the kernel's confinement in /proc and by calls injected with gdb; and the
// socket systemd would pass.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "served_folder.h"
#include "tests/support/fake_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/timing.h"

namespace {

std::string Output(const std::string& command)
{
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    if (pipe != nullptr)
        ::pclose(pipe);
    return output;
}

// A UDP socket on 127.0.0.1 at a port the system chose.
int BoundSocket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

// tarnwick-serve started with arguments, its standard output and error on a
// pipe, without DISPLAY; with activated, that socket is its descriptor 3
// under LISTEN_FDS=1 and its own LISTEN_PID, as systemd passes it.
class ServeProcess {
public:
    explicit ServeProcess(std::vector<std::string> arguments, int activated = -1)
    {
        int output[2];
        if (::pipe2(output, O_CLOEXEC) != 0)
            return;
        arguments.insert(arguments.begin(), TARNWICK_SERVE_PATH);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(output[1], STDOUT_FILENO);
            ::dup2(output[1], STDERR_FILENO);
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            // A sanitized build's leak check needs calls the filter refuses.
            ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            if (activated >= 0) {
                // dup2 onto itself would keep close-on-exec.
                if (activated == 3)
                    ::fcntl(3, F_SETFD, 0);
                else
                    ::dup2(activated, 3);
                ::setenv("LISTEN_FDS", "1", 1);
                ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
            }
            std::vector<char*> argv;
            for (std::string& argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(output[1]);
        m_fd = output[0];
    }
    ~ServeProcess()
    {
        if (m_pid > 0)
            End(SIGKILL);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    pid_t Pid() const { return m_pid; }

    // The first line (from now on) that holds text; all lines read, in *pSeen.
    bool WaitFor(const std::string& text, std::string* pSeen = nullptr)
    {
        std::string line;
        char c = 0;
        pollfd entry{m_fd, POLLIN, 0};
        while (::poll(&entry, 1, static_cast<int>(Scaled(std::chrono::milliseconds(10000)).count())) == 1 &&
               ::read(m_fd, &c, 1) == 1) {
            if (c != '\n') {
                line += c;
                continue;
            }
            if (pSeen != nullptr)
                *pSeen += line + "\n";
            if (line.find(text) != std::string::npos)
                return true;
            line.clear();
        }
        return false;
    }
    // Sends signal (none: 0) and returns the exit status, or 128 + the signal that ended it.
    int End(int signal)
    {
        if (signal != 0)
            ::kill(m_pid, signal);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
};

// A Get of a short file by hand: the RRQ, its one DATA, the last ACK.
std::optional<Bytes> Get(UINT port, const std::string& name)
{
    FakePeer client;
    std::string request{'\0', '\1'};
    request += name + '\0' + "octet" + '\0';
    client.SendTo(port, BytesOf(request));
    const std::optional<Bytes> data = client.Receive(static_cast<int>(SchedulingStall().count() * 10));
    if (!data || data->size() < 4 || (*data)[1] != 3)
        return std::nullopt;
    client.Reply(AckPacket(1));
    return Bytes(data->begin() + 4, data->end());
}

class ServeProcessTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFileBytes(folder / "boot.cfg", BytesOf("kernel vmlinuz\n")); }
    TempDir folder;
};

TEST_F(ServeProcessTest, ServesWithoutDisplayOrQtAndEndsCleanlyOnSigterm)
{
    EXPECT_EQ(Output("ldd " TARNWICK_SERVE_PATH " | grep -ci qt"), "0\n");
    const int probe = BoundSocket();
    const UINT port = LocalPort(probe);
    ::close(probe);
    ServeProcess serve({folder.Path().string(), "--listen", "127.0.0.1", "--port", std::to_string(port)});
    std::string seen;
    ASSERT_TRUE(serve.WaitFor("Confined to ", &seen)) << seen;
    EXPECT_NE(
        seen.find("Serving " + folder.Path().string() + " on 127.0.0.1 port " + std::to_string(port) + ", read-only"),
        std::string::npos)
        << seen;
    EXPECT_EQ(Get(port, "boot.cfg"), BytesOf("kernel vmlinuz\n"));
    EXPECT_TRUE(serve.WaitFor("complete"));
    EXPECT_EQ(serve.End(SIGTERM), 0);
}

TEST_F(ServeProcessTest, ATakenPortEndsWithStatusOneAndTheWayOut)
{
    const int taken = BoundSocket();
    ServeProcess serve({folder.Path().string(), "--listen", "127.0.0.1", "--port", std::to_string(LocalPort(taken))});
    std::string seen;
    EXPECT_TRUE(serve.WaitFor("--port 6969", &seen));
    EXPECT_NE(seen.find("Address already in use"), std::string::npos) << seen;
    EXPECT_EQ(serve.End(0), 1);
    ::close(taken);
}

TEST_F(ServeProcessTest, TheKernelConfinesItToItsFolder)
{
    const int socket = BoundSocket();
    ServeProcess serve({folder.Path().string()}, socket);
    ::close(socket);
    ASSERT_TRUE(serve.WaitFor("Confined to "));
    std::ifstream file("/proc/" + std::to_string(serve.Pid()) + "/status");
    const std::string status((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(status.find("\nNoNewPrivs:\t1\n"), std::string::npos) << status;
    EXPECT_NE(status.find("\nSeccomp:\t2\n"), std::string::npos) << status;
    EXPECT_NE(status.find("\nCapEff:\t0000000000000000\n"), std::string::npos) << status;
    if (!Installed("gdb"))
        GTEST_SKIP() << "no gdb to inject calls with";
    // Each call's result and errno, as the process itself sees them.
    const std::string inside = (folder / "boot.cfg");
    const std::string calls = Output("gdb -p " + std::to_string(serve.Pid()) +
                                     " -batch -nx -ex 'call (int)open(\"/etc/hostname\", 0)'"
                                     " -ex 'print *(int*)__errno_location()' -ex 'call (int)socket(1, 1, 0)'"
                                     " -ex 'print *(int*)__errno_location()' -ex 'call (int)socket(2, 1, 0)'"
                                     " -ex 'print *(int*)__errno_location()' -ex 'call (int)open(\"" +
                                     inside + "\", 0)' 2>/dev/null | grep '^\\$'");
    if (calls.empty())
        GTEST_SKIP() << "gdb may not attach here";
    EXPECT_EQ(calls.substr(0, calls.rfind("$7")), "$1 = -1\n$2 = 13\n$3 = -1\n$4 = 1\n$5 = -1\n$6 = 1\n")
        << "open outside: EACCES; socket: EPERM";
    EXPECT_EQ(calls.find("$7 = -1"), std::string::npos) << calls;
    EXPECT_EQ(serve.End(SIGTERM), 0);
}

TEST_F(ServeProcessTest, ServesTheSocketSystemdPasses)
{
    const int socket = BoundSocket();
    const UINT port = LocalPort(socket);
    ServeProcess serve({folder.Path().string(), "--log-format", "json"}, socket);
    ::close(socket);
    std::string seen;
    ASSERT_TRUE(serve.WaitFor("\"event\":\"confinement\"", &seen)) << seen;
    EXPECT_NE(seen.find("on 127.0.0.1 port " + std::to_string(port) + ", read-only\"}"), std::string::npos) << seen;
    EXPECT_EQ(Get(port, "boot.cfg"), BytesOf("kernel vmlinuz\n"));
    EXPECT_TRUE(serve.WaitFor("\"event\":\"end\""));
    EXPECT_EQ(serve.End(SIGINT), 0);
}

} // namespace
