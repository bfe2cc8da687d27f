// SPDX-License-Identifier: MIT
// A confined process, in a child of the test's own (confinement cannot be
// undone): what it may still do beneath its folder, and what fails outside
// it and off the list of calls. The process as a whole, seen from outside,
// is the process test's (serve_process_test.cpp).
#include <gtest/gtest.h>

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

// What a call returned in the confined child: the result and errno.
struct Outcome {
    long result;
    int error;
};

// Runs probe in a child confined to folder; its outcome as the child saw it.
Outcome InConfinedChild(const std::string& folder, bool bWrite, const std::function<long()>& probe)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {-2, errno};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        Outcome outcome{-3, 0};
        if (AfxConfine(ConfineRequest{fd, bWrite}).Complete()) {
            errno = 0;
            outcome.result = probe();
            outcome.error = errno;
        }
        (void)!::write(channel[1], &outcome, sizeof outcome);
        ::_exit(0);
    }
    ::close(channel[1]);
    Outcome outcome{-4, 0};
    (void)!::read(channel[0], &outcome, sizeof outcome);
    ::close(channel[0]);
    ::waitpid(pid, nullptr, 0);
    return outcome;
}

TEST(Confine, BeneathTheFolderOnlyAndOnlyTheListedCalls)
{
    if (AfxLandlockAbi() == 0)
        GTEST_SKIP() << "this kernel has no Landlock";
    TempDir dir;
    WriteFileBytes(dir / "served", {'x'});
    const std::string folder = dir.Path().string();
    const std::string served = dir / "served";
    const std::string fresh = dir / "fresh";
    const struct {
        const char* what;
        bool bWrite;
        std::function<long()> probe;
        bool ok;
        int error;
    } rows[] = {
        {"read a file beneath", false, [&] { return ::open(served.c_str(), O_RDONLY); }, true, 0},
        {"read outside", false, [] { return ::open("/etc/passwd", O_RDONLY); }, false, EACCES},
        {"create beneath, read-only", false, [&] { return ::open(fresh.c_str(), O_CREAT | O_WRONLY, 0600); }, false,
         EACCES},
        {"create beneath, writable", true, [&] { return ::open(fresh.c_str(), O_CREAT | O_WRONLY, 0600); }, true, 0},
        {"create outside, writable", true, [] { return ::open("/tmp/tarnwick-confined", O_CREAT | O_WRONLY, 0600); },
         false, EACCES},
        {"a transfer's UDP socket", false, [] { return ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0); }, true, 0},
        {"a TCP socket", false, [] { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }, false, EPERM},
        {"a Unix socket", false, [] { return ::socket(AF_UNIX, SOCK_STREAM, 0); }, false, EPERM},
        {"a packet socket", false, [] { return ::socket(AF_PACKET, SOCK_RAW, 0); }, false, EPERM},
        {"execve", false,
         [] {
             char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
             return ::execve("/bin/true", argv, argv + 1);
         },
         false, EPERM},
        {"ptrace", false, [] { return ::syscall(SYS_ptrace, 0, 0, 0, 0); }, false, EPERM},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Outcome outcome = InConfinedChild(folder, row.bWrite, row.probe);
        if (row.ok) {
            EXPECT_GE(outcome.result, 0) << "errno " << outcome.error;
        } else {
            EXPECT_EQ(outcome.result, -1);
            EXPECT_EQ(outcome.error, row.error);
        }
    }
}

} // namespace
