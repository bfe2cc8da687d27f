// SPDX-License-Identifier: MIT
#include "serve_guard.h"

#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace {

std::function<std::vector<LocalSubnet>()>& SubnetSource()
{
    static std::function<std::vector<LocalSubnet>()> source;
    return source;
}

void KeyOf(const sockaddr_storage& address, BYTE* pKey)
{
    std::memset(pKey, 0, 17);
    if (address.ss_family == AF_INET) {
        pKey[0] = 4;
        std::memcpy(pKey + 1, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, 4);
        return;
    }
    if (address.ss_family != AF_INET6)
        return;
    const in6_addr& v6 = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        pKey[0] = 4;
        std::memcpy(pKey + 1, &v6.s6_addr[12], 4);
    } else {
        pKey[0] = 6;
        std::memcpy(pKey + 1, &v6, 16);
    }
}

} // namespace

bool CAddressClock::Due(const sockaddr_storage& address, ULONGLONG nNowMs, ULONGLONG nPeriodMs)
{
    BYTE key[17];
    KeyOf(address, key);
    Entry* oldest = &m_entries[0];
    for (Entry& entry : m_entries) {
        if (entry.bUsed && std::memcmp(entry.key, key, sizeof key) == 0) {
            if (nNowMs - entry.nLastMs < nPeriodMs)
                return false;
            entry.nLastMs = nNowMs;
            return true;
        }
        if (!entry.bUsed || (oldest->bUsed && entry.nLastMs < oldest->nLastMs))
            oldest = &entry;
    }
    std::memcpy(oldest->key, key, sizeof key);
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

CServeGuard::CServeGuard() = default;

bool CServeGuard::MayAnswer(const sockaddr_storage& to, ULONGLONG nNowMs)
{
    return m_answers.Due(to, nNowMs, kAnswerPeriodMs) && m_bucket.Take(nNowMs);
}

bool CServeGuard::MayLog(const sockaddr_storage& from, ULONGLONG nNowMs, ULONGLONG nPeriodMs)
{
    return m_logs.Due(from, nNowMs, nPeriodMs);
}

bool CServeGuard::IsLocal(const sockaddr_storage& from, ULONGLONG nNowMs)
{
    if (!m_bSubnetsRead || nNowMs - m_nSubnetsMs >= kSubnetsMs) {
        m_subnets = SubnetSource() ? SubnetSource()() : AfxGetLocalSubnets();
        m_nSubnetsMs = nNowMs;
        m_bSubnetsRead = true;
    }
    return AfxIsInSubnets(from, m_subnets);
}

void CServeGuard::SetSubnetSource(std::function<std::vector<LocalSubnet>()> source)
{
    SubnetSource() = std::move(source);
}
