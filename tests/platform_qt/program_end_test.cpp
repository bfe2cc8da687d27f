// SPDX-License-Identifier: MIT
// The whole program ended from outside during a Get: by a signal, or by its
// main window destroyed by another X client. Either way the Get is aborted,
// its temporary file removed, the earlier file kept, and the process ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/timing.h"

extern char** environ;

namespace {

const Bytes kEarlier = BytesOf("the earlier file\n");

// Starts a program with extra environment entries; -1 when it cannot start.
pid_t Spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment)
{
    std::vector<std::string> environment = extraEnvironment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        environment.emplace_back(*entry);
    std::vector<char*> argv;
    std::vector<char*> envp;
    argv.reserve(arguments.size() + 1);
    envp.reserve(environment.size() + 1);
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    return pid;
}

// The wait status of pid once it has ended, waiting at most timeoutMs (scaled).
std::optional<int> WaitForEnd(pid_t pid, int timeoutMs)
{
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd entry{pidfd, POLLIN, 0};
        ::poll(&entry, 1, timeoutMs * TestTimeScale());
        ::close(pidfd);
    }
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid)
        return status;
    return std::nullopt;
}

void Stop(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// A Get of "target.bin" through the real program: the server sends one full
// block and then keeps still, so the Get is under way, with its temporary
// file beside the earlier target.
class ProgramEnd : public ::testing::Test {
protected:
    pid_t StartGet(const std::vector<std::string>& environment)
    {
        WriteFileBytes(dir / "target.bin", kEarlier);
        std::vector<std::string> settings = environment;
        settings.push_back("XDG_CONFIG_HOME=" + (dir / ".config"));
        ::mkdir((dir / ".runtime").c_str(), 0700);
        settings.push_back("XDG_RUNTIME_DIR=" + (dir / ".runtime"));
        const pid_t pid = Spawn({TARNWICK_DRIVEN_PATH, server.HostString(), "target.bin"}, settings);
        EXPECT_GT(pid, 0);
        const std::optional<Bytes> request = server.Receive(10000);
        EXPECT_EQ(request, BytesOf(std::string("\0\1target.bin\0octet\0", 19)));
        transfer.SendTo(server.LastSenderPort(), DataPacket(1, 512));
        EXPECT_EQ(transfer.Receive(10000), AckPacket(1));
        return pid;
    }

    void ExpectOnlyTheEarlierFile()
    {
        // The config and runtime folders are the test's own.
        std::vector<std::string> names;
        for (const std::string& name : dir.Names())
            if (name != ".config" && name != ".runtime")
                names.push_back(name);
        EXPECT_EQ(names, std::vector<std::string>{"target.bin"});
        EXPECT_EQ(ReadFileBytes(dir / "target.bin"), kEarlier);
    }

    TempDir dir;
    FakePeer server;
    FakePeer transfer;
};

TEST_F(ProgramEnd, ASignalDuringAGetEndsItCleanlyAndTheProgramByThatSignal)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal));
        const pid_t pid = StartGet({"QT_QPA_PLATFORM=offscreen"});
        ASSERT_EQ(::kill(pid, signal), 0);
        const std::optional<int> status = WaitForEnd(pid, 10000);
        if (!status)
            Stop(pid);
        ASSERT_TRUE(status.has_value()) << "the program did not end";
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal) << "status " << *status;
        ExpectOnlyTheEarlierFile();
        // Nothing the server was sent: an aborted Get tells the server nothing.
        EXPECT_FALSE(transfer.TryReceive().has_value());
    }
}

// Xvfb on a display number of its own choosing; the display's number, or
// none when Xvfb cannot run here.
class VirtualDisplay {
public:
    VirtualDisplay()
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addclose(&actions, ready[0]);
        ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const std::string fd = std::to_string(ready[1]);
        const char* argv[] = {"Xvfb",    "-displayfd", fd.c_str(),   "-nolisten", "tcp",
                              "-screen", "0",          "800x600x24", nullptr};
        if (::posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            m_pid = -1;
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(ready[1]);
        // The number and its newline come in two writes; Xvfb gives up if
        // the pipe closes between them.
        std::string number;
        char c = 0;
        pollfd entry{ready[0], POLLIN, 0};
        while (m_pid > 0 && c != '\n' && ::poll(&entry, 1, 10000) == 1 && ::read(ready[0], &c, 1) == 1)
            number += c;
        if (c == '\n')
            m_display = std::string(1, ':').append(std::to_string(std::atoi(number.c_str())));
        ::close(ready[0]);
    }
    ~VirtualDisplay() { Stop(m_pid); }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    const std::string& Name() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

// What a command printed, its ending newline removed.
std::string Output(const std::string& command)
{
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            output += buffer;
        ::pclose(pipe);
    }
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return output;
}

TEST_F(ProgramEnd, TheMainWindowDestroyedFromOutsideEndsTheProgram)
{
    if (Output("command -v xdotool").empty())
        GTEST_SKIP() << "xdotool is not installed";
    const VirtualDisplay display;
    if (display.Name().empty())
        GTEST_SKIP() << "Xvfb cannot run here";

    const pid_t pid = StartGet({"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display.Name()});
    const std::string window =
        Output("DISPLAY=" + display.Name() + " timeout 10 xdotool search --sync --onlyvisible --pid " +
               std::to_string(pid) + " 2>/dev/null | head -n 1");
    ASSERT_FALSE(window.empty()) << "no window of the program";
    // As `xdotool windowclose` does: the X window destroyed, no close request.
    ASSERT_EQ(std::system(("DISPLAY=" + display.Name() + " xdotool windowclose " + window).c_str()), 0);

    const std::optional<int> status = WaitForEnd(pid, 10000);
    if (!status)
        Stop(pid);
    ASSERT_TRUE(status.has_value()) << "the program kept running without its window";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
    ExpectOnlyTheEarlierFile();
}

} // namespace
