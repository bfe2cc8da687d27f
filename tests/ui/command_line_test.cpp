// SPDX-License-Identifier: MIT
// The program's command line, run as a user runs it, without a display.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "server/serve_options.h"
#include "tests/support/fake_peer.h"
#include "tests/support/serve_harness.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tftpd_server.h"
#include "tests/support/timing.h"
#include "ui/command_line.h"
#include "ui/serve_child.h"

namespace {

// Runs the program with `arguments` and no display; its output and status.
// The program may be another, with settings of its own before it.
std::string RunProgram(const std::string& arguments, int* pStatus, const std::string& program = "'" TARNWICK_PATH "'")
{
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + program + " " + arguments + " 2>&1 </dev/null";
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    *pStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return output;
}

TEST(CommandLine, HelpVersionAndMistakesNeedNoDisplay)
{
    const struct {
        const char* arguments;
        int status;
        const char* says;
    } rows[] = {
        {"--version", 0, "tarnwick " TARNWICK_VERSION "\n"},
        {"-v", 0, "tarnwick " TARNWICK_VERSION "\n"},
        {"--help", 0, "[HOST[:PORT] [REMOTE-FILE]]"},
        {"-h", 0, "--put <LOCAL-FILE>"},
        {"-platform offscreen --version", 0, "tarnwick " TARNWICK_VERSION},
        {"--bogus", 2, "Unknown option 'bogus'"},
        {"--get", 2, "--get and --put need a host"},
        {"--get host", 2, "--get needs a remote file"},
        {"--get --put f host r", 2, "--get and --put do not go together"},
        {"a b c", 2, "too many arguments"},
        // Said on the terminal, before any window: there is no display to open one on.
        {"--put /nonexistent/nosuch.txt 192.0.2.7", 2, "cannot read /nonexistent/nosuch.txt: No such file"},
        {"--put / 192.0.2.7", 2, "/ is not a regular file"},
        {"--serve /nonexistent", 2, "/nonexistent is not a folder"},
        {"--serve / --port 0", 2, "--port 0: not a port from 1 to 65535"},
        {"--serve / --port 69x", 2, "--port 69x: not a port"},
        {"--serve / --listen tftp.example.com", 2, "--listen tftp.example.com: not an IPv4 or IPv6 address"},
        {"--serve / --listen 192.0.2.7:69", 2, "not an IPv4 or IPv6 address"},
        {"--allow-upload", 2, "--allow-upload goes with --serve"},
        {"--allow-replace", 2, "--allow-replace goes with --serve"},
        // What an upload alone would never use is asked by mistake.
        {"--serve / --allow-create", 2, "--allow-create needs --allow-upload"},
        {"--serve / --allow-replace", 2, "--allow-replace needs --allow-upload"},
        {"--help", 0, "--allow-replace"},
        {"--serve / --max-transfers 0", 2, "--max-transfers 0: not a number from 1 to 1024"},
        {"--max-per-client 8", 2, "--max-per-client goes with --serve"},
        {"--serve / host", 2, "--serve takes no host"},
        {"--ascii 192.0.2.7 f", 2, "--ascii goes with --get or --put"},
        {"--help", 0, "--ascii"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        int status = -1;
        const std::string output = RunProgram(row.arguments, &status);
        EXPECT_EQ(status, row.status) << output;
        EXPECT_NE(output.find(row.says), std::string::npos) << output;
    }
}

// From --serve's options, read in this process, through the child's command
// line to the words of its first line.
TEST(CommandLine, TheFirstLineSaysWhatTheOptionsAllow)
{
    const std::vector<sockaddr_storage> two = {Loopback(69), Loopback(6969)};
    const std::pair<std::vector<const char*>, const char*> rows[] = {
        {{}, "read-only"},
        {{"--allow-upload"}, "read-only: uploads are allowed but neither new files nor replacing files"},
        {{"--allow-upload", "--allow-create"}, "uploads of new files"},
        {{"--allow-upload", "--allow-replace"}, "uploads replacing files"},
        {{"--allow-replace", "--allow-upload", "--allow-create", "--max-transfers", "3"},
         "uploads of new files and replacing files"},
    };
    for (const auto& [options, allows] : rows) {
        std::vector<char*> argv = {const_cast<char*>("tarnwick"), const_cast<char*>("--serve"), const_cast<char*>(".")};
        for (const char* option : options)
            argv.push_back(const_cast<char*>(option));
        CommandLine line;
        ASSERT_EQ(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &line), -1);
        std::vector<std::string> arguments = ServeArguments(line.ServeChoices());
        arguments.insert(arguments.begin(), "tarnwick-serve");
        std::vector<const char*> child;
        for (const std::string& argument : arguments)
            child.push_back(argument.c_str());
        ServeOptions served;
        std::string say;
        ASSERT_EQ(ParseServeOptions(static_cast<int>(child.size()), child.data(), &served, &say), -1) << say;
        EXPECT_TRUE(served.bJson);
        EXPECT_EQ(served.config.nMaxTransfers, line.nMaxTransfers);
        EXPECT_EQ(ServingLine(served.config, two), "Serving " + std::filesystem::current_path().string() +
                                                       " on 127.0.0.1 port 69 and 127.0.0.1 port 6969, " + allows);
    }
}

// --ascii asks that transfer in netascii: from a server that translates
// (tftpd-hpa), a Get's lines end in CR LF here; the confirmation names the mode.
TEST(CommandLine, GetAsciiStoresTextWithItsLinesEndedInCrLf)
{
    const TftpdServer server;
    WriteFileBytes((server.Root() / "notes.txt").string(), BytesOf("one\ntwo\n"));
    const TempDir dir;
    int status = -1;
    // With settings of the test's own; the driven program ends with its transfer.
    const std::string output = RunProgram("--get --ascii " + server.HostString() + " notes.txt", &status,
                                          "QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME='" + (dir / ".config") +
                                              "' timeout 60 '" TARNWICK_DRIVEN_PATH "'");
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("using ASCII mode?"), std::string::npos) << output;
    EXPECT_EQ(ReadFileBytes(dir / "notes.txt"), BytesOf("one\r\ntwo\r\n"));
}

// The next line on fd, waiting at most 10 s (scaled); none at the end or when none comes.
std::optional<std::string> NextLine(int fd)
{
    std::string line;
    char c = 0;
    pollfd entry{fd, POLLIN, 0};
    while (::poll(&entry, 1, 10000 * TestTimeScale()) == 1 && ::read(fd, &c, 1) == 1) {
        if (c == '\n')
            return line;
        line += c;
    }
    return std::nullopt;
}

// The command line asks, the window remembers: everything allowed in the
// Serve window's saved choices, and --serve still refuses an upload and
// leaves the settings file as it was.
TEST(CommandLine, ServeNeitherUsesNorChangesTheSavedChoices)
{
    const TempDir dir;
    std::filesystem::create_directories(dir.Path() / "config" / "Tarnwick");
    std::filesystem::create_directory(dir.Path() / "served");
    // Written as the program writes it; [State], the main window's own, as it will be written again.
    const Bytes settings = BytesOf("[Serve]\nAllowCreate=true\nAllowUpload=true\nListen=127.0.0.2\nPort=6969\n"
                                   "ReplaceExisting=true\n\n[State]\nDirectory=" +
                                   std::filesystem::current_path().string() + "\nHosts=\nRemoteFiles=\n");
    WriteFileBytes(dir / "config/Tarnwick/Tarnwick.conf", settings);
    const UINT port = FakePeer().Port(); // free again once its socket is closed
    const std::string command =
        "echo $$; exec env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME='" + (dir / "config") + "' XDG_RUNTIME_DIR='" +
        dir.Path().string() + "' '" TARNWICK_PATH "' --serve served --listen 127.0.0.1 --port " + std::to_string(port);
    FILE* output = ::popen(command.c_str(), "r");
    ASSERT_NE(output, nullptr);
    const pid_t pid = std::stoi(NextLine(::fileno(output)).value_or("0"));
    ASSERT_GT(pid, 0);
    EXPECT_EQ(NextLine(::fileno(output)), "Serving " + std::filesystem::canonical("served").string() +
                                              " on 127.0.0.1 port " + std::to_string(port) + ", read-only");
    FakePeer client;
    client.SendTo(port, Request(2, "new.bin"));
    const Bytes answer = client.Receive(10000).value_or(Bytes{});
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + std::min<std::ptrdiff_t>(4, std::ssize(answer))),
              (Bytes{0, 5, 0, 2})); // ERROR 2, access violation

    ::kill(pid, SIGTERM);
    while (NextLine(::fileno(output))) // to the end of its output
        ;
    ::kill(pid, SIGKILL); // a process that outlived its output; it waits for pclose
    const int status = ::pclose(output);
    EXPECT_FALSE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "SIGTERM did not end it";
    EXPECT_EQ(ReadFileBytes(dir / "config/Tarnwick/Tarnwick.conf"), settings);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "served"));
}

} // namespace
