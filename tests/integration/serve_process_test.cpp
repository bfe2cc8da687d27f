// SPDX-License-Identifier: MIT
// tarnwick-serve as a process, watched from outside: no display and no Qt,
// the socket systemd would pass, a Get served, the kernel's confinement in
// /proc and by calls injected with gdb, SIGTERM and SIGINT ending it with
// status 0, a taken port with status 1; with --netboot, a machine on a veth
// link answered and served over HTTP.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "own_network.h"
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
            std::vector<char*> argv(arguments.size() + 1, nullptr);
            std::transform(arguments.begin(), arguments.end(), argv.begin(), [](auto& a) { return a.data(); });
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

    // Reads on until text appears after what an earlier call found; false
    // when it does not in 10 s (scaled). All that was read is in seen.
    bool WaitFor(const std::string& text)
    {
        pollfd entry{m_fd, POLLIN, 0};
        char buffer[4096];
        ssize_t n = 0;
        while (seen.find(text, m_nFrom) == std::string::npos) {
            if (::poll(&entry, 1, static_cast<int>(Scaled(std::chrono::milliseconds(10000)).count())) != 1 ||
                (n = ::read(m_fd, buffer, sizeof buffer)) <= 0)
                return false;
            seen.append(buffer, static_cast<size_t>(n));
        }
        m_nFrom = seen.find(text, m_nFrom) + text.size();
        return true;
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

    std::string seen;

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    size_t m_nFrom = 0;
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

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ServeProcessTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFileBytes(folder / "boot.cfg", BytesOf("kernel vmlinuz\n")); }
    TempDir folder;
};

// Passed its socket as systemd does, without a display and without Qt, it
// serves a Get confined: /proc shows it, and calls injected with gdb fail
// outside the folder and off the filter's list. SIGTERM ends it with status 0.
TEST_F(ServeProcessTest, ServesTheSocketSystemdPassesConfinedAndEndsOnSigterm)
{
    EXPECT_EQ(Output("ldd " TARNWICK_SERVE_PATH " | grep -ci qt"), "0\n");
    const int socket = BoundSocket();
    const UINT port = LocalPort(socket);
    ServeProcess serve({folder.Path().string(), "--log-format", "json"}, socket);
    ::close(socket);
    ASSERT_TRUE(serve.WaitFor(R"("event":"confinement")")) << serve.seen;
    EXPECT_NE(serve.seen.find("on 127.0.0.1 port " + std::to_string(port) + ", read-only\"}"), std::string::npos)
        << serve.seen;
    EXPECT_EQ(Get(port, "boot.cfg"), BytesOf("kernel vmlinuz\n"));
    EXPECT_TRUE(serve.WaitFor(R"("event":"end")"));

    std::ifstream file("/proc/" + std::to_string(serve.Pid()) + "/status");
    const std::string status((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    for (const char* line : {"\nNoNewPrivs:\t1\n", "\nSeccomp:\t2\n", "\nCapEff:\t0000000000000000\n"})
        EXPECT_NE(status.find(line), std::string::npos) << line;
    // Each call's result and then errno, as the process sees them.
    const std::string calls = Installed("gdb")
                                  ? Output("gdb -p " + std::to_string(serve.Pid()) +
                                           " -batch -nx -ex 'call (int)open(\"/etc/hostname\", 0)'"
                                           " -ex 'print *(int*)__errno_location()' -ex 'call (int)socket(1, 1, 0)'"
                                           " -ex 'print *(int*)__errno_location()' -ex 'call (int)socket(2, 1, 0)'"
                                           " -ex 'print *(int*)__errno_location()' -ex 'call (int)open(\"" +
                                           (folder / "boot.cfg") + "\", 0) > 0' 2>/dev/null | grep '^\\$'")
                                  : "";
    if (!calls.empty()) {
        EXPECT_EQ(calls, "$1 = -1\n$2 = 13\n$3 = -1\n$4 = 1\n$5 = -1\n$6 = 1\n$7 = 1\n")
            << "open outside: EACCES; a Unix and a TCP socket: EPERM; a file of the folder opens";
    }
    EXPECT_EQ(serve.End(SIGTERM), 0);
    if (calls.empty())
        GTEST_SKIP() << "no gdb, or gdb may not attach here: no calls injected";
}

TEST_F(ServeProcessTest, ATakenPortEndsWithStatusOneAndTheWayOut)
{
    const int taken = BoundSocket();
    const std::vector<std::string> arguments = {folder.Path().string(), "--listen", "127.0.0.1", "--port",
                                                std::to_string(LocalPort(taken))};
    ServeProcess refused(arguments);
    EXPECT_TRUE(refused.WaitFor("Address already in use")) << refused.seen;
    EXPECT_TRUE(refused.WaitFor("--port 6969")) << refused.seen;
    EXPECT_EQ(refused.End(0), 1);
    ::close(taken);
    ServeProcess serve(arguments);
    EXPECT_TRUE(
        serve.WaitFor("Serving " + folder.Path().string() + " on 127.0.0.1 port " + arguments[4] + ", read-only"));
    EXPECT_EQ(serve.End(SIGINT), 0);
}

// With --netboot on nb0 (10.79.0.1), in the tests' own network namespace: a
// BIOS PXE DISCOVER broadcast from the peer's end gets a proxy offer that
// gives no address and names undionly.kpxe; the peer's curl gets boot.ipxe
// over HTTP; both are told as JSON lines, from the confined process.
TEST_F(ServeProcessTest, NetbootAnswersAPxeMachineAndServesItsScriptOverHttp)
{
    if (!InOwnNetwork())
        GTEST_SKIP() << "needs a network namespace of the tests' own (they run as root)";
    const pid_t peer = PeerNetwork();
    const std::string inPeer = "nsenter -t " + std::to_string(peer) + " -n ";
    static const bool made =
        peer > 0 && std::system(("ip link add nb0 type veth peer name nb1 && ip addr add 10.79.0.1/24 dev nb0 && "
                                 "ip link set nb0 up && ip link set nb1 netns " +
                                 std::to_string(peer) + " && " + inPeer +
                                 "sh -c 'ip addr add 10.79.0.2/24 dev nb1 && ip link set nb1 up'")
                                    .c_str()) == 0;
    ASSERT_TRUE(made);
    WriteFileBytes(folder / "undionly.kpxe", Bytes(64));
    WriteFileBytes(folder / "boot.ipxe", BytesOf("#!ipxe\necho netboot\n"));
    ServeProcess serve({folder.Path().string(), "--listen", "10.79.0.1", "--netboot", "--log-format", "json"});
    ASSERT_TRUE(serve.WaitFor(R"("event":"confinement")")) << serve.seen;

    // The machine's socket: port 68 of the peer's end, made in its namespace.
    const int own = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC),
              theirs = ::open(("/proc/" + std::to_string(peer) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::setns(theirs, CLONE_NEWNET), 0);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), on = 1;
    ASSERT_EQ(::setns(own, CLONE_NEWNET), 0);
    ::close(own);
    ::close(theirs);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "nb1", 4);
    sockaddr_in address{AF_INET, htons(68), {INADDR_ANY}, {}};
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    // A BOOTREQUEST from 52:54:00:00:00:07: DHCPDISCOVER, PXEClient, BIOS.
    Bytes discover = Bytes{1, 1, 6, 0, 0, 0, 0, 7} + Bytes(20) + Bytes{0x52, 0x54, 0, 0, 0, 7} + Bytes(202) +
                     Bytes{99, 130, 83, 99, 53, 1, 1, 60, 9} + BytesOf("PXEClient") + Bytes{93, 2, 0, 0, 255};
    address.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    address.sin_port = htons(67);
    ASSERT_EQ(
        ::sendto(fd, discover.data(), discover.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address),
        static_cast<ssize_t>(discover.size()));
    pollfd entry{fd, POLLIN, 0};
    BYTE offer[1500] = {};
    ASSERT_EQ(::poll(&entry, 1, static_cast<int>(Scaled(std::chrono::milliseconds(10000)).count())), 1);
    ASSERT_GE(::recv(fd, offer, sizeof offer, 0), 300);
    ::close(fd);
    EXPECT_EQ(Bytes(offer + 16, offer + 24), (Bytes{0, 0, 0, 0, 10, 79, 0, 1})); // yiaddr 0, siaddr
    EXPECT_STREQ(reinterpret_cast<const char*>(&offer[108]), "undionly.kpxe");
    EXPECT_TRUE(serve.WaitFor(R"("event":"boot","protocol":"dhcp","mac":"52:54:00:00:00:07","arch":"BIOS")"))
        << serve.seen;

    EXPECT_EQ(Output(inPeer + "curl -s --max-time 10 http://10.79.0.1:8069/boot.ipxe"), "#!ipxe\necho netboot\n");
    EXPECT_TRUE(serve.WaitFor(R"("event":"end","id":1,"protocol":"http","client":"10.79.0.2")")) << serve.seen;
    EXPECT_TRUE(serve.WaitFor(R"("file":"/boot.ipxe","direction":"read")")) << serve.seen;
    EXPECT_EQ(serve.End(SIGTERM), 0);
}

} // namespace
