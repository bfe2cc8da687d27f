// SPDX-License-Identifier: MIT
// The server's defences against floods, with time from the caller: how many
// refusals one address may draw and how often, how often a line about one
// address may be logged, and which requests this machine's networks allow
// (local sources, destinations that are not broadcast, the interface's
// MTU). Fixed tables: nothing is allocated per datagram.
#pragma once

#include <sys/socket.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/local_networks.h"

// A source address with the port left out, IPv4-mapped IPv6 as IPv4, and a
// tag (0, or a hash of a name asked for).
struct SourceKey {
    BYTE bytes[17] = {}; // family, then the address
    unsigned long long nTag = 0;
    bool operator==(const SourceKey&) const = default;
};
SourceKey MakeSourceKey(const sockaddr_storage& address, std::string_view tag = {});

// A table of keys and a time for each, of fixed size; when it is full the
// entry used longest ago makes room.
class CAddressClock {
public:
    static constexpr int kEntries = 128;

    // Whether nPeriodMs have passed since the last time this returned true
    // for key (true the first time); it then counts from nNowMs.
    bool Due(const SourceKey& key, ULONGLONG nNowMs, ULONGLONG nPeriodMs);
    bool Due(const sockaddr_storage& address, ULONGLONG nNowMs, ULONGLONG nPeriodMs)
    {
        return Due(MakeSourceKey(address), nNowMs, nPeriodMs);
    }

private:
    struct Entry {
        SourceKey key;
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

// Per source address: kPerSecond refusals a second are answered and logged;
// the rest are counted, and told in one line a minute after the first of
// them.
class CRefusalLimit {
public:
    static constexpr unsigned kPerSecond = 10;
    static constexpr ULONGLONG kSummaryMs = 60000;
    static constexpr int kEntries = 128;

    // Whether a refusal to address may be answered and logged now; when not,
    // it is counted for the summary.
    bool Allow(const sockaddr_storage& address, ULONGLONG nNowMs);
    // Whether address has drawn all its refusals of this second.
    bool Spent(const sockaddr_storage& address, ULONGLONG nNowMs) const;
    // Calls report once for each address whose count is due at nNowMs, with
    // that address (port 0) and the count; an address pushed out of the
    // table by others comes as AF_UNSPEC, with every such count together.
    void Summaries(ULONGLONG nNowMs, const std::function<void(const sockaddr_storage&, ULONGLONG)>& report);
    // When the next summary is due; ~0ULL when none is.
    ULONGLONG NextSummaryMs() const;

private:
    struct Entry {
        SourceKey key;
        sockaddr_storage address = {};
        ULONGLONG nSecondMs = 0; // the second being counted began here
        unsigned nInSecond = 0;  // refusals allowed in it
        ULONGLONG nUntold = 0;   // refusals not answered since the last summary
        ULONGLONG nUntoldMs = 0; // the first of them
        ULONGLONG nLastMs = 0;   // last use, for making room
        bool bUsed = false;
    };
    const Entry* Find(const SourceKey& key) const;
    Entry m_entries[kEntries];
    ULONGLONG m_nDropped = 0; // untold counts of entries that made room
    ULONGLONG m_nDroppedMs = 0;
};

class CServeGuard {
public:
    // Unasked ERRORs, to anyone: at most this many a second in all.
    static constexpr unsigned kAnswersPerSecond = 100;
    // Interfaces are read again after this long: addresses come and go.
    static constexpr ULONGLONG kSubnetsMs = 2000;

    CServeGuard();

    // A refusal (or an ERROR to a stranger) to address: whether it may be
    // answered and logged (CRefusalLimit), and whether the answer fits this
    // second's total.
    struct Refusal {
        bool bLog = false;
        bool bAnswer = false;
    };
    Refusal Refuse(const sockaddr_storage& to, ULONGLONG nNowMs);
    // The address has drawn all its refusals of this second: what more it
    // asks is not worth much work.
    bool Spent(const sockaddr_storage& from, ULONGLONG nNowMs) const { return m_refusals.Spent(from, nNowMs); }
    CRefusalLimit& Refusals() { return m_refusals; }
    ULONGLONG NextSummaryMs() const { return m_refusals.NextSummaryMs(); }

    // One line per address per nPeriodMs.
    bool MayLog(const sockaddr_storage& from, ULONGLONG nNowMs, ULONGLONG nPeriodMs);
    // One row per address and name a second.
    bool MayAddRow(const sockaddr_storage& from, std::string_view name, ULONGLONG nNowMs);

    // On a subnet of the interface nIfIndex (any interface for 0); anything
    // that arrived on a loopback interface comes from this machine.
    bool IsLocal(const sockaddr_storage& from, int nIfIndex, ULONGLONG nNowMs);
    // Sent to a broadcast or multicast address.
    bool IsBroadcast(const sockaddr_storage& destination, ULONGLONG nNowMs);
    // The MTU of the interface nIfIndex; 0 when not known.
    UINT Mtu(int nIfIndex, ULONGLONG nNowMs);

    // For tests: where the subnets come from (AfxGetLocalSubnets by default).
    static void SetSubnetSource(std::function<std::vector<LocalSubnet>()> source);

private:
    const std::vector<LocalSubnet>& Subnets(ULONGLONG nNowMs);

    CRefusalLimit m_refusals;
    CAddressClock m_logs;
    CAddressClock m_rows;
    CTokenBucket m_bucket{kAnswersPerSecond};
    std::vector<LocalSubnet> m_subnets;
    ULONGLONG m_nSubnetsMs = 0;
    bool m_bSubnetsRead = false;
};
