// SPDX-License-Identifier: MIT
// The server's defences against floods, with time from the caller: how
// often an unasked ERROR may go to one address, how often a line about one
// address may be logged, and whether an address lies on this machine's
// networks. Fixed tables: nothing is allocated per datagram.
#pragma once

#include <sys/socket.h>

#include <functional>
#include <vector>

#include "platform/core/local_networks.h"

// A table of source addresses (the port left out) and a time for each, of
// fixed size; when it is full the entry used longest ago makes room.
class CAddressClock {
public:
    static constexpr int kEntries = 128;

    // Whether nPeriodMs have passed since the last time this returned true
    // for address (true the first time); it then counts from nNowMs.
    bool Due(const sockaddr_storage& address, ULONGLONG nNowMs, ULONGLONG nPeriodMs);

private:
    struct Entry {
        BYTE key[17] = {}; // family, then the address; IPv4-mapped IPv6 as IPv4
        ULONGLONG nLastMs = 0;
        bool bUsed = false;
    };
    Entry m_entries[kEntries];
};

// A bucket of tokens: nPerSecond refill each second, as many at most.
class CTokenBucket {
public:
    explicit CTokenBucket(unsigned nPerSecond) : m_nPerSecond(nPerSecond), m_nTokens(nPerSecond) {}
    bool Take(ULONGLONG nNowMs);

private:
    unsigned m_nPerSecond;
    unsigned m_nTokens;
    ULONGLONG m_nLastMs = 0;
};

class CServeGuard {
public:
    // Unasked ERRORs (busy, unknown transfer ID, a malformed request): per
    // address one each kAnswerPeriodMs, and kAnswersPerSecond in all.
    static constexpr ULONGLONG kAnswerPeriodMs = 200;
    static constexpr unsigned kAnswersPerSecond = 100;
    // Subnets are read again after this long: addresses come and go.
    static constexpr ULONGLONG kSubnetsMs = 2000;

    CServeGuard();

    bool MayAnswer(const sockaddr_storage& to, ULONGLONG nNowMs);
    // One line per address per nPeriodMs.
    bool MayLog(const sockaddr_storage& from, ULONGLONG nNowMs, ULONGLONG nPeriodMs);
    // On a subnet of this machine's interfaces (loopback included).
    bool IsLocal(const sockaddr_storage& from, ULONGLONG nNowMs);

    // For tests: where the subnets come from (AfxGetLocalSubnets by default).
    static void SetSubnetSource(std::function<std::vector<LocalSubnet>()> source);

private:
    CAddressClock m_answers;
    CAddressClock m_logs;
    CTokenBucket m_bucket{kAnswersPerSecond};
    std::vector<LocalSubnet> m_subnets;
    ULONGLONG m_nSubnetsMs = 0;
    bool m_bSubnetsRead = false;
};
