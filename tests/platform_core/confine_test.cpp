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

// A port no one holds now, by the system's choice.
unsigned FreeTcpPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Serving HTTP: connections are accepted and the served port may be bound;
// no other port, no connect, and none of it without HTTP.
TEST(Confine, ATcpPortServedAllowsAcceptingOnItAlone)
{
    if (AfxLandlockAbi() < 4)
        GTEST_SKIP() << "this kernel's Landlock has no TCP rules (ABI 4)";
    TempDir dir;
    const unsigned served = FreeTcpPort(), other = FreeTcpPort();
    const auto bindTo = [](unsigned port) {
        return [port] {
            sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
            return static_cast<long>(::bind(g_tcp, reinterpret_cast<sockaddr*>(&address), sizeof address));
        };
    };
    const auto connectTo = [served] {
        sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(served)), {htonl(INADDR_LOOPBACK)}, {}};
        return static_cast<long>(::connect(g_tcp, reinterpret_cast<sockaddr*>(&address), sizeof address));
    };
    const auto accept = [] { return static_cast<long>(::accept4(g_tcp, nullptr, nullptr, SOCK_NONBLOCK)); };
    const struct {
        const char* what;
        unsigned nTcpPort;
        std::function<long()> probe;
        int error;
    } rows[] = {
        {"accept without HTTP", 0, accept, EPERM},
        {"accept with HTTP (the socket does not listen)", served, accept, EINVAL},
        {"bind the port served", served, bindTo(served), 0},
        {"bind another port", served, bindTo(other), EACCES},
        {"connect (the filter refuses it before Landlock would)", served, connectTo, EPERM},
    };
    for (const auto& row : rows)
        EXPECT_EQ(InConfinedChild(dir.Path().string(), false, row.probe, row.nTcpPort), row.error) << row.what;
}

} // namespace
