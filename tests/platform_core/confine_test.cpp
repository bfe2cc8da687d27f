// SPDX-License-Identifier: MIT
// A confined process, in a child of the test's own (confinement cannot be
// undone): what it may still do beneath its folder, and what fails outside
// it and off the list of calls. The process as a whole, seen from outside,
// is the process test's (serve_process_test.cpp).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "platform/core/confine.h"
#include "tests/support/temp_dir.h"

namespace {

// A TCP socket the child opens before it is confined, as an HTTP server's
// listening socket is.
int g_tcp = -1;

// Runs probe in a child confined to folder (serving TCP port nTcpPort when
// not 0): 0 when the call succeeded, else its errno (255: the child could
// not be confined).
int InConfinedChild(const std::string& folder, bool bWrite, const std::function<long()>& probe, unsigned nTcpPort = 0)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        g_tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // exit_group itself: a sanitizer's _exit would check for leaks with
        // calls the filter refuses.
        if (!AfxConfine(ConfineRequest{fd, bWrite, nTcpPort}).Complete())
            ::syscall(SYS_exit_group, 255);
        ::syscall(SYS_exit_group, probe() >= 0 ? 0 : errno);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 254;
}

TEST(Confine, BeneathTheFolderOnlyAndOnlyTheListedCalls)
{
    if (AfxLandlockAbi() == 0)
        GTEST_SKIP() << "this kernel has no Landlock";
    TempDir dir;
    const std::string folder = dir.Path().string();
    const std::string fresh = dir / "fresh";
    const struct {
        const char* what;
        bool bWrite;
        std::function<long()> probe;
        int error;
    } rows[] = {
        {"create beneath, read-only", false, [&] { return ::open(fresh.c_str(), O_CREAT | O_WRONLY, 0600); }, EACCES},
        {"create beneath, writable", true, [&] { return ::open(fresh.c_str(), O_CREAT | O_WRONLY, 0600); }, 0},
        {"create outside, writable", true, [] { return ::open("/tmp/tarnwick-confined", O_CREAT | O_WRONLY, 0600); },
         EACCES},
        {"an upload's call, read-only", false, [&] { return ::unlinkat(AT_FDCWD, fresh.c_str(), 0); }, EPERM},
        {"execve", false,
         [] {
             char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
             return ::execve("/bin/true", argv, argv + 1);
         },
         EPERM},
    };
    for (const auto& row : rows)
        EXPECT_EQ(InConfinedChild(folder, row.bWrite, row.probe), row.error) << row.what;
}

// Serving HTTP: connections are accepted and the served port alone may be
// bound; without HTTP, no accepting.
TEST(Confine, ATcpPortServedAllowsAcceptingOnItAlone)
{
    if (AfxLandlockAbi() < 4)
        GTEST_SKIP() << "this kernel's Landlock has no TCP rules (ABI 4)";
    TempDir dir;
    sockaddr_in free{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    const auto accept = [] { return static_cast<long>(::accept4(g_tcp, nullptr, nullptr, 0)); };
    // A port no one holds, by the system's choice (0 would be a port of its own).
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t length = sizeof free;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&free), length), 0);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&free), &length);
    ::close(probe);
    const unsigned served = ntohs(free.sin_port);
    const auto bindServed = [free] {
        return static_cast<long>(::bind(g_tcp, reinterpret_cast<const sockaddr*>(&free), sizeof free));
    };
    const struct {
        const char* what;
        unsigned nTcpPort;
        std::function<long()> probe;
        int error;
    } rows[] = {
        {"accept without HTTP", 0, accept, EPERM},
        {"accept with HTTP (the socket does not listen)", served, accept, EINVAL},
        {"bind the port served", served, bindServed, 0},
        {"bind it when another is served", served + 1, bindServed, EACCES},
    };
    for (const auto& row : rows)
        EXPECT_EQ(InConfinedChild(dir.Path().string(), false, row.probe, row.nTcpPort), row.error) << row.what;
}

} // namespace
