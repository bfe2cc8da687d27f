// SPDX-License-Identifier: MIT
#include "server/proxy_dhcp_limit.h"

#include <cstring>

namespace {

// Within the period that ends at nNowMs; a time after nNowMs (a clock that
// stepped back) counts as within.
bool Recent(ULONGLONG nThenMs, ULONGLONG nNowMs)
{
    return nThenMs >= nNowMs || nNowMs - nThenMs < CMachineLimit::kPeriodMs;
}

} // namespace

MachineKey MakeMachineKey(const BYTE chaddr[16], BYTE hlen)
{
    MachineKey key;
    key.bytes[0] = hlen;
    std::memcpy(key.bytes + 1, chaddr, hlen < 16 ? hlen : 16);
    return key;
}

CMachineLimit::Entry& CMachineLimit::Find(const MachineKey& machine, ULONGLONG nNowMs)
{
    Entry* pRoom = &m_entries[0];
    for (Entry& entry : m_entries) {
        if (entry.bUsed && entry.key == machine) {
            entry.nLastMs = nNowMs;
            return entry;
        }
        if (pRoom->bUsed && (!entry.bUsed || entry.nLastMs < pRoom->nLastMs))
            pRoom = &entry;
    }
    *pRoom = Entry{};
    pRoom->key = machine;
    pRoom->bUsed = true;
    pRoom->nLastMs = nNowMs;
    return *pRoom;
}

bool CMachineLimit::Answer(const MachineKey& machine, ULONGLONG nNowMs, bool* pFirst)
{
    Entry& entry = Find(machine, nNowMs);
    int nRecent = 0;
    for (int i = 0; i < entry.nAnswers; ++i)
        nRecent += Recent(entry.answers[i], nNowMs) ? 1 : 0;
    *pFirst = nRecent == 0;
    if (nRecent >= kAnswers)
        return false;
    // The slot filled longest ago is the oldest answer, and no longer recent.
    entry.answers[entry.nNext] = nNowMs;
    entry.nNext = (entry.nNext + 1) % kAnswers;
    if (entry.nAnswers < kAnswers)
        ++entry.nAnswers;
    return true;
}

bool CMachineLimit::Tell(const MachineKey& machine, ULONGLONG nNowMs)
{
    Entry& entry = Find(machine, nNowMs);
    if (entry.bTold && Recent(entry.nToldMs, nNowMs))
        return false;
    entry.bTold = true;
    entry.nToldMs = nNowMs;
    return true;
}
