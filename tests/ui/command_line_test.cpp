// SPDX-License-Identifier: MIT
// The program's command line, run as a user runs it, without a display.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <sys/wait.h>

namespace {

// Runs the program with `arguments` and no display; its output and status.
std::string RunProgram(const std::string& arguments, int* pStatus)
{
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" TARNWICK_PATH "' " + arguments + " 2>&1 </dev/null";
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
        {"--serve / host", 2, "--serve takes no host"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        int status = -1;
        const std::string output = RunProgram(row.arguments, &status);
        EXPECT_EQ(status, row.status) << output;
        EXPECT_NE(output.find(row.says), std::string::npos) << output;
    }
}

} // namespace
