// SPDX-License-Identifier: MIT
// The port 69 and 67 helper as it is installed: a copy given
// cap_net_bind_service with setcap, run for "nobody" in a network namespace
// of the test's own, so that the port is the namespace's and not the
// machine's; and what the window says when it is refused.
#include "platform/core/privileged_bind.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/bind/bind_helper.h"
#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/temp_dir.h"

namespace {

// The helper run by hand with descriptor 3 a Unix socket, 4 a UDP one: its
// exit status, what it sent, and its capabilities once it had sent.
struct HelperRun {
    int status = -1;
    ssize_t received = -1;
    int error = 0;
    std::string capabilities;
};

HelperRun RunHelper(const std::vector<std::string>& args)
{
    HelperRun run;
    int channel[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, channel) != 0)
        return run;
    // Out of the way of descriptors 3 and 4, which the helper is given.
    const int ours = ::fcntl(channel[0], F_DUPFD_CLOEXEC, 10), theirs = ::fcntl(channel[1], F_DUPFD_CLOEXEC, 10);
    const int inet = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), udp = ::fcntl(inet, F_DUPFD_CLOEXEC, 10);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, theirs, 3);
    ::posix_spawn_file_actions_adddup2(&actions, udp, 4);
    std::vector<std::string> words{TARNWICK_BIND_HELPER_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    char* envp[] = {nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp);
    ::posix_spawn_file_actions_destroy(&actions);
    for (int fd : {channel[0], channel[1], inet, theirs, udp})
        ::close(fd);
    if (spawned == 0) {
        run.received = ::recv(ours, &run.error, sizeof run.error, 0);
        // Read before it is waited for: a finished process keeps its credentials till then.
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("CapPrm:") || line.starts_with("CapEff:"))
                run.capabilities += line + "\n";
        ::waitpid(pid, &run.status, 0);
    }
    ::close(ours);
    return run;
}

TEST(BindHelper, RefusesWhatItWasNotMadeFor)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        int sends; // the channel was good, so the reason is sent; 0: nothing sent
    } cases[] = {
        {{"3", "0.0.0.0", "6969"}, kBindHelperBadPort, EINVAL}, // 69 and 67 are the only ports
        {{"3", "::", "67"}, kBindHelperBadPort, EINVAL},        // DHCP's port is IPv4's
        {{"3", "0.0.0.0", "067"}, kBindHelperBadPort, EINVAL},
        {{"3", "0.0.0.0", "67", "lo"}, kBindHelperBadInterface, EINVAL}, // an interface by its number alone
        {{"3", "0.0.0.0", "67", "0"}, kBindHelperBadInterface, EINVAL},
        {{"3", "0.0.0.0", "67", "999999"}, kBindHelperBadInterface, ENODEV},
        {{"3", "0.0.0.0", "67", "1", "1"}, kBindHelperUsage, 0},
        {{"3"}, kBindHelperUsage, 0},
        {{"3x", "0.0.0.0"}, kBindHelperBadChannel, 0},
        {{"4", "0.0.0.0"}, kBindHelperBadChannel, 0}, // a socket, but not a Unix one
        {{"9", "0.0.0.0"}, kBindHelperBadChannel, 0}, // not open
        {{"3", "localhost"}, kBindHelperBadAddress, EINVAL},
        {{"3", "127.0.0.1:69"}, kBindHelperBadAddress, EINVAL},
        {{"3", "fe80::1%lo"}, kBindHelperBadAddress, EINVAL},
        {{"3", std::string(300, '1')}, kBindHelperBadAddress, EINVAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const HelperRun run = RunHelper(c.args);
        EXPECT_EQ(run.status, c.status << 8); // exited with it
        EXPECT_EQ(run.received, c.sends != 0 ? static_cast<ssize_t>(sizeof run.error) : 0);
        EXPECT_EQ(run.error, c.sends);
    }
}

TEST(BindHelper, HoldsNoCapabilityOnceItHasBound)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: a network namespace";
    // Run by root in a namespace of its own, the helper starts with every capability.
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(2);
        const HelperRun run = RunHelper({"3", "0.0.0.0"});
        if (run.status != 0 || run.received != static_cast<ssize_t>(sizeof run.error))
            ::_exit(3);
        ::_exit(run.capabilities == "CapPrm:\t0000000000000000\nCapEff:\t0000000000000000\n" ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (status == 2 << 8)
        GTEST_SKIP() << "no network namespace of the test's own";
    EXPECT_NE(status, 3 << 8) << "the socket was not sent";
    EXPECT_NE(status, 4 << 8) << "capabilities kept after the bind";
    EXPECT_EQ(status, 0);
}

// What the unprivileged process saw, sent back to the test from the namespace.
struct Seen {
    bool bOwnNetwork = false, bReady = false; // the namespace; then the case's setting and nobody
    BindOutcome outcome = BindOutcome::Failed;
    int nError = 0;
    bool bByHelper = false;
    HelperRefusal refusal = HelperRefusal::None;
    char helperGroup[32] = {};
    UINT nBoundPort = 0;
    int nV6Only = -1;
    bool bReceives = false; // a datagram sent to the socket arrives
    bool bPortHeld = false; // by anyone in the namespace, after the call
    char device[16] = {};   // the interface the socket is bound to
};

sockaddr_storage Address(const char* text, UINT port, socklen_t* pLength)
{
    sockaddr_storage address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    address.ss_family = std::strchr(text, ':') != nullptr ? AF_INET6 : AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port)); // where sin6_port is too
    ::inet_pton(address.ss_family, text,
                address.ss_family == AF_INET ? static_cast<void*>(&v4->sin_addr) : &v6->sin6_addr);
    *pLength = address.ss_family == AF_INET ? sizeof *v4 : sizeof *v6;
    return address;
}

bool PortHeld(UINT port)
{
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ":%04X", port);
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream file(table);
        std::string slot, local, rest;
        while (file >> slot >> local && std::getline(file, rest))
            if (local.ends_with(suffix))
                return true;
    }
    return false;
}

struct Case {
    const char* name;
    const char* address;
    UINT port;
    const char* helper; // in the test's folder: "cap", "plain", "group", "root" or "missing"
    bool bHeldFirst;    // root holds the address and port before the call
    bool bSysctl69;     // net.ipv4.ip_unprivileged_port_start=69 in the namespace
    BindOutcome outcome;
    bool bByHelper;
    HelperRefusal refusal = HelperRefusal::None;
    int nIfIndex = 0;            // the socket asked for on this interface (1: lo)
    bool bHeldElsewhere = false; // held first on another interface only
};

// In a child: a namespace of its own, the case's setting made as root, then
// AfxBindUdpPort as nobody.
Seen SeeInOwnNetwork(const Case& c, const std::string& helper)
{
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        Seen seen;
        socklen_t length = 0;
        const sockaddr_storage address = Address(c.address, c.port, &length);
        const auto* pAddress = reinterpret_cast<const sockaddr*>(&address);
        seen.bOwnNetwork = ::unshare(CLONE_NEWNET) == 0 && std::system("ip link set lo up") == 0;
        const int held = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0); // open until the child ends
        seen.bReady = seen.bOwnNetwork &&
                      (!c.bHeldElsewhere || (std::system("ip link add v0 type veth peer name v1") == 0 &&
                                             ::setsockopt(held, SOL_SOCKET, SO_BINDTODEVICE, "v0", 3) == 0)) &&
                      (!c.bHeldFirst || ::bind(held, pAddress, length) == 0) &&
                      (!c.bSysctl69 || std::system("echo 69 >/proc/sys/net/ipv4/ip_unprivileged_port_start") == 0) &&
                      ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                      ::setresuid(65534, 65534, 65534) == 0;
        const BindResult result =
            seen.bReady ? AfxBindUdpPortOnInterface(pAddress, length, c.nIfIndex, helper) : BindResult{};
        seen.outcome = result.outcome;
        seen.nError = result.nError;
        seen.bByHelper = result.bByHelper;
        seen.refusal = result.refusal;
        result.helperGroup.copy(seen.helperGroup, sizeof seen.helperGroup - 1);
        seen.bPortHeld = PortHeld(c.port);
        sockaddr_storage bound{};
        socklen_t boundLength = sizeof bound;
        if (result.fd >= 0 && ::getsockname(result.fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0) {
            seen.nBoundPort = ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
            socklen_t size = sizeof seen.device;
            ::getsockopt(result.fd, SOL_SOCKET, SO_BINDTODEVICE, seen.device, &size);
            size = sizeof seen.nV6Only;
            if (bound.ss_family == AF_INET6)
                ::getsockopt(result.fd, IPPROTO_IPV6, IPV6_V6ONLY, &seen.nV6Only, &size);
            socklen_t toLength = 0;
            const sockaddr_storage to = Address(bound.ss_family == AF_INET ? "127.0.0.1" : "::1", c.port, &toLength);
            const int sender = ::socket(bound.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            ::sendto(sender, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), toLength);
            pollfd ready{result.fd, POLLIN, 0};
            char byte = 0;
            seen.bReceives = ::poll(&ready, 1, 5000) == 1 && ::recv(result.fd, &byte, 1, 0) == 1 && byte == 'x';
        }
        ::_exit(::write(report[1], &seen, sizeof seen) == static_cast<ssize_t>(sizeof seen) ? 0 : 1);
    }
    ::close(report[1]);
    Seen seen;
    if (::read(report[0], &seen, sizeof seen) != static_cast<ssize_t>(sizeof seen))
        seen = {};
    ::close(report[0]);
    ::waitpid(pid, nullptr, 0);
    return seen;
}

TEST(PrivilegedBind, Port69ForAnUnprivilegedUserOnlyThroughTheHelper)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: a network namespace, setcap and the user nobody";
    TempDir dir;
    namespace fs = std::filesystem;
    fs::permissions(dir.Path(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    // "group" as the package installs it, root:root here: only the group root may run it.
    for (const char* copy : {"cap", "plain", "group", "root"})
        fs::copy_file(TARNWICK_BIND_HELPER_PATH, dir / copy);
    fs::permissions(dir / "group", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    fs::permissions(dir / "root", fs::perms::owner_all);
    struct statvfs volume {};
    std::string setcap = "setcap";
    for (const char* copy : {"cap", "group", "root"})
        setcap += " cap_net_bind_service=ep " + (dir / copy);
    if (::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) != 0 || ::statvfs(dir.Path().c_str(), &volume) != 0 ||
        (volume.f_flag & ST_NOSUID) != 0 || std::system((setcap + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "file capabilities do not work here";

    using enum BindOutcome;
    using enum HelperRefusal;
    const Case cases[] = {
        {"port 69 through the helper", "0.0.0.0", 69, "cap", false, false, Bound, true},
        {"IPv6 port 69 through the helper, IPv6 only", "::", 69, "cap", false, false, Bound, true},
        {"a helper without the capability", "0.0.0.0", 69, "plain", false, false, NotPermitted, true,
         WithoutCapability},
        {"no helper", "0.0.0.0", 69, "missing", false, false, NotPermitted, true, Missing},
        {"a helper for a group nobody is not in", "0.0.0.0", 69, "group", false, false, NotPermitted, true, NotInGroup},
        {"a helper for root alone", "::", 69, "root", false, false, NotPermitted, true, NotRunnable},
        {"port 69 held by another server", "0.0.0.0", 69, "cap", true, false, InUse, true},
        {"port 69 open to everyone by sysctl", "127.0.0.1", 69, "missing", false, true, Bound, false},
        {"another port below 1024 is not the helper's", "0.0.0.0", 500, "cap", false, false, NotPermitted, false},
        {"a port from 1024 up", "::", 6969, "missing", false, false, Bound, false},
        {"a port from 1024 up held by another", "127.0.0.1", 6969, "missing", true, false, InUse, false},
        {"port 67 on one interface through the helper", "0.0.0.0", 67, "cap", false, false, Bound, true, None, 1},
        {"port 67 held on every interface", "0.0.0.0", 67, "cap", true, false, InUse, true, None, 1},
        {"port 67 held on another interface only", "0.0.0.0", 67, "cap", true, false, Bound, true, None, 1, true},
        {"IPv6 port 67 is not the helper's", "::", 67, "cap", false, false, NotPermitted, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Seen seen = SeeInOwnNetwork(c, dir / c.helper);
        if (!seen.bOwnNetwork)
            GTEST_SKIP() << "no network namespace of the test's own";
        ASSERT_TRUE(seen.bReady);
        EXPECT_EQ(seen.outcome, c.outcome) << "errno " << seen.nError;
        EXPECT_EQ(seen.bByHelper, c.bByHelper);
        EXPECT_EQ(seen.refusal, c.refusal);
        EXPECT_STREQ(seen.helperGroup, c.refusal == NotInGroup ? "root" : "");
        const bool bound = c.outcome == Bound;
        EXPECT_EQ(seen.nBoundPort, bound ? c.port : 0);
        EXPECT_EQ(seen.bReceives, bound);
        EXPECT_EQ(seen.nV6Only, bound && std::strchr(c.address, ':') != nullptr ? 1 : -1);
        EXPECT_STREQ(seen.device, bound && c.nIfIndex == 1 ? "lo" : "");
        // Nothing holds the port but the caller or what held it before: not the helper.
        EXPECT_EQ(seen.bPortHeld, bound || c.bHeldFirst);
    }
}

// The window's text for each refusal, for the user alice: why, with the
// helper's path, and each command on a whole line of its own (after a tab,
// which gives it a Copy button).
TEST(Port69DeniedText, SaysWhyAndPutsEachCommandOnALineOfItsOwn)
{
    const Port69DeniedTexts texts{
        AfxFindString(IDS_SERVE_PORT_69_NO_HELPER), AfxFindString(IDS_SERVE_PORT_69_NOT_IN_GROUP),
        AfxFindString(IDS_SERVE_PORT_69_NOT_RUNNABLE), AfxFindString(IDS_SERVE_PORT_69_DENIED)};
    const std::string helper = "/usr/libexec/tarnwick/tarnwick-bind";
    using enum HelperRefusal;
    const std::pair<HelperRefusal, std::string> cases[] = {
        {NotInGroup, "^Port 69 is for members of the group tarnwick. Ask an administrator to run: sudo adduser alice "
                     "tarnwick (then log in again), or serve on port 6969.\n"},
        {NotInGroup, "\n\tsudo adduser alice tarnwick\n"},
        {Missing, "^Tarnwick may not serve on port 69: its helper for that port, " + helper + ", is missing."},
        {NotRunnable, ", " + helper + ", may not be run by alice."},
        {NotRunnable, "\n\tls -l " + helper + "\n"},
        {WithoutCapability, "\n\tsudo setcap cap_net_bind_service=ep " + helper + "\n"},
    };
    for (const auto& [refusal, says] : cases) {
        BindResult result;
        result.refusal = refusal;
        result.helperGroup = "tarnwick";
        const std::string text = std::string("^").append(AfxPort69DeniedText(result, helper, "alice", texts)) + "\n";
        EXPECT_NE(text.find(says), std::string::npos) << text;
        EXPECT_NE(text.find("\n\tsetenv tftpdstp 6969\n"), std::string::npos) << text;
    }
}

} // namespace
