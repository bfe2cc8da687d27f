// SPDX-License-Identifier: MIT
// The integration tests' main: when the process may (it runs as root), it
// moves into a network namespace of its own with only the loopback link up.
// The servers it starts share it, so dnsmasq can listen on port 69 there.
// Elsewhere the tests run as they are and those that need port 69 skip.
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "own_network.h"

namespace {

bool g_bOwnNetwork = false;

bool EnterOwnNetwork()
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
        return false;
    // Besides loopback's own, an address of each family that is not a
    // loopback address: getaddrinfo's AI_ADDRCONFIG, with which tftpd-hpa
    // resolves its bind address, counts no other.
    return std::system("ip link set lo up && ip addr add 10.254.0.1/32 dev lo && "
                       "ip -6 addr add fd00:254::1/128 dev lo") == 0;
}

} // namespace

bool InOwnNetwork()
{
    return g_bOwnNetwork;
}

pid_t PeerNetwork()
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const char made = ::unshare(CLONE_NEWNET) == 0 ? 1 : 0;
        if (::write(ready[1], &made, 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    char made = 0;
    ::close(ready[1]);
    const bool ok = child > 0 && ::read(ready[0], &made, 1) == 1 && made == 1;
    ::close(ready[0]);
    return ok ? child : -1;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    g_bOwnNetwork = EnterOwnNetwork();
    return RUN_ALL_TESTS();
}
