// SPDX-License-Identifier: MIT
// How often the proxy DHCP answers one machine, known by its hardware
// address, with time from the caller: at most kAnswers answers in any
// kPeriodMs, and one line about a machine it does not answer per kPeriodMs.
// A fixed table: nothing is allocated per datagram; when it is full, the
// machine heard from longest ago makes room.
#pragma once

#include "platform/core/afxtypes.h"

struct MachineKey {
    BYTE bytes[17] = {}; // the hardware address's length, then the address
    bool operator==(const MachineKey&) const = default;
};
MachineKey MakeMachineKey(const BYTE chaddr[16], BYTE hlen);

class CMachineLimit {
public:
    static constexpr int kEntries = 64;
    static constexpr int kAnswers = 5;
    static constexpr ULONGLONG kPeriodMs = 60000;

    // Whether machine may be answered at nNowMs; the answer is counted when
    // so. *pFirst tells whether it is the first in kPeriodMs: a new boot,
    // worth a line and a row.
    bool Answer(const MachineKey& machine, ULONGLONG nNowMs, bool* pFirst);
    // Whether a line about machine is due: the first in kPeriodMs.
    bool Tell(const MachineKey& machine, ULONGLONG nNowMs);

private:
    struct Entry {
        MachineKey key;
        ULONGLONG answers[kAnswers] = {}; // when, oldest replaced first
        int nAnswers = 0;                 // of answers used
        int nNext = 0;                    // the next slot to fill
        ULONGLONG nToldMs = 0;
        bool bTold = false;
        ULONGLONG nLastMs = 0; // last heard of, for making room
        bool bUsed = false;
    };
    Entry& Find(const MachineKey& machine, ULONGLONG nNowMs);
    Entry m_entries[kEntries];
};
