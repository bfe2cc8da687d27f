// SPDX-License-Identifier: MIT
#include "server/serve_guard.h"

#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace {

std::function<std::vector<LocalSubnet>()>& SubnetSource()
{
    static std::function<std::vector<LocalSubnet>()> source;
    return source;
}

// FNV-1a: a name's tag; 0 is kept for "no name".
unsigned long long Hash(std::string_view text)
{
    if (text.empty())
        return 0;
    unsigned long long hash = 14695981039346656037ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash == 0 ? 1 : hash;
}

sockaddr_storage WithoutPort(const sockaddr_storage& address)
{
    sockaddr_storage copy = address;
    if (copy.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(copy).sin_port = 0;
    else if (copy.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(copy).sin6_port = 0;
    return copy;
}

} // namespace

SourceKey MakeSourceKey(const sockaddr_storage& address, std::string_view tag)
{
    SourceKey key;
    key.nTag = Hash(tag);
    if (address.ss_family == AF_INET) {
        key.bytes[0] = 4;
        std::memcpy(key.bytes + 1, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, 4);
    } else if (address.ss_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            key.bytes[0] = 4;
            std::memcpy(key.bytes + 1, &v6.s6_addr[12], 4);
        } else {
            key.bytes[0] = 6;
            std::memcpy(key.bytes + 1, &v6, 16);
        }
    }
    return key;
}

bool CAddressClock::Due(const SourceKey& key, ULONGLONG nNowMs, ULONGLONG nPeriodMs)
{
    Entry* oldest = &m_entries[0];
    for (Entry& entry : m_entries) {
        if (entry.bUsed && entry.key == key) {
            if (nNowMs - entry.nLastMs < nPeriodMs)
                return false;
            entry.nLastMs = nNowMs;
            return true;
        }
        if (!entry.bUsed || (oldest->bUsed && entry.nLastMs < oldest->nLastMs))
            oldest = &entry;
    }
    oldest->key = key;
    oldest->nLastMs = nNowMs;
    oldest->bUsed = true;
    return true;
}

bool CTokenBucket::Take(ULONGLONG nNowMs)
{
    if (nNowMs > m_nLastMs) {
        const ULONGLONG refill = (nNowMs - m_nLastMs) * m_nPerSecond / 1000;
        if (refill > 0) {
            m_nTokens = static_cast<unsigned>(std::min<ULONGLONG>(m_nPerSecond, m_nTokens + refill));
            m_nLastMs = nNowMs;
        }
    }
    if (m_nTokens == 0)
        return false;
    --m_nTokens;
    return true;
}

const CRefusalLimit::Entry* CRefusalLimit::Find(const SourceKey& key) const
{
    for (const Entry& entry : m_entries)
        if (entry.bUsed && entry.key == key)
            return &entry;
    return nullptr;
}

bool CRefusalLimit::Spent(const sockaddr_storage& address, ULONGLONG nNowMs) const
{
    const Entry* entry = Find(MakeSourceKey(address));
    return entry != nullptr && nNowMs - entry->nSecondMs < 1000 && entry->nInSecond >= kPerSecond;
}

bool CRefusalLimit::Allow(const sockaddr_storage& address, ULONGLONG nNowMs)
{
    const SourceKey key = MakeSourceKey(address);
    Entry* entry = const_cast<Entry*>(Find(key));
    if (entry == nullptr) {
        // Room is made by the entry used longest ago, preferably one with nothing untold.
        entry = &m_entries[0];
        for (Entry& candidate : m_entries) {
            if (!candidate.bUsed) {
                entry = &candidate;
                break;
            }
            if ((candidate.nUntold == 0) != (entry->nUntold == 0) ? candidate.nUntold == 0
                                                                  : candidate.nLastMs < entry->nLastMs)
                entry = &candidate;
        }
        if (entry->bUsed && entry->nUntold > 0) {
            m_nDroppedMs = m_nDropped == 0 ? entry->nUntoldMs : std::min(m_nDroppedMs, entry->nUntoldMs);
            m_nDropped += entry->nUntold;
        }
        *entry = Entry{};
        entry->key = key;
        entry->address = WithoutPort(address);
        entry->nSecondMs = nNowMs;
        entry->bUsed = true;
    }
    entry->nLastMs = nNowMs;
    if (nNowMs - entry->nSecondMs >= 1000) {
        entry->nSecondMs = nNowMs;
        entry->nInSecond = 0;
    }
    if (entry->nInSecond < kPerSecond) {
        ++entry->nInSecond;
        return true;
    }
    if (entry->nUntold++ == 0)
        entry->nUntoldMs = nNowMs;
    return false;
}

void CRefusalLimit::Summaries(ULONGLONG nNowMs, const std::function<void(const sockaddr_storage&, ULONGLONG)>& report)
{
    for (Entry& entry : m_entries) {
        if (entry.bUsed && entry.nUntold > 0 && nNowMs - entry.nUntoldMs >= kSummaryMs) {
            report(entry.address, entry.nUntold);
            entry.nUntold = 0;
        }
    }
    if (m_nDropped > 0 && nNowMs - m_nDroppedMs >= kSummaryMs) {
        report(sockaddr_storage{}, m_nDropped);
        m_nDropped = 0;
    }
}

ULONGLONG CRefusalLimit::NextSummaryMs() const
{
    ULONGLONG next = m_nDropped > 0 ? m_nDroppedMs + kSummaryMs : ~0ULL;
    for (const Entry& entry : m_entries)
        if (entry.bUsed && entry.nUntold > 0)
            next = std::min(next, entry.nUntoldMs + kSummaryMs);
    return next;
}

CServeGuard::CServeGuard() = default;

CServeGuard::Refusal CServeGuard::Refuse(const sockaddr_storage& to, ULONGLONG nNowMs)
{
    Refusal refusal;
    refusal.bLog = m_refusals.Allow(to, nNowMs);
    refusal.bAnswer = refusal.bLog && m_bucket.Take(nNowMs);
    return refusal;
}

bool CServeGuard::MayLog(const sockaddr_storage& from, ULONGLONG nNowMs, ULONGLONG nPeriodMs)
{
    return m_logs.Due(from, nNowMs, nPeriodMs);
}

bool CServeGuard::MayAddRow(const sockaddr_storage& from, std::string_view name, ULONGLONG nNowMs)
{
    return m_rows.Due(MakeSourceKey(from, name), nNowMs, 1000);
}

const std::vector<LocalSubnet>& CServeGuard::Subnets(ULONGLONG nNowMs)
{
    if (!m_bSubnetsRead || nNowMs - m_nSubnetsMs >= kSubnetsMs) {
        m_subnets = SubnetSource() ? SubnetSource()() : AfxGetLocalSubnets();
        m_nSubnetsMs = nNowMs;
        m_bSubnetsRead = true;
    }
    return m_subnets;
}

bool CServeGuard::IsLocal(const sockaddr_storage& from, int nIfIndex, ULONGLONG nNowMs)
{
    const std::vector<LocalSubnet>& subnets = Subnets(nNowMs);
    return std::any_of(subnets.begin(), subnets.end(), [&](const LocalSubnet& subnet) {
        const bool onInterface = nIfIndex <= 0 || subnet.nIfIndex == 0 || subnet.nIfIndex == nIfIndex;
        return onInterface && ((nIfIndex > 0 && subnet.bLoopback) || AfxIsInSubnet(from, subnet));
    });
}

bool CServeGuard::IsBroadcast(const sockaddr_storage& destination, ULONGLONG nNowMs)
{
    return AfxIsBroadcastOrMulticast(destination, Subnets(nNowMs));
}

UINT CServeGuard::Mtu(int nIfIndex, ULONGLONG nNowMs)
{
    for (const LocalSubnet& subnet : Subnets(nNowMs))
        if (nIfIndex > 0 && subnet.nIfIndex == nIfIndex && subnet.nMtu > 0)
            return subnet.nMtu;
    return 0;
}

void CServeGuard::SetSubnetSource(std::function<std::vector<LocalSubnet>()> source)
{
    SubnetSource() = std::move(source);
}
