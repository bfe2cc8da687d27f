// SPDX-License-Identifier: MIT
// A bad network between a client and a server on loopback: a UDP relay that
// drops, duplicates and delays (so reorders) datagrams, decided by a seeded
// random generator. It runs on a thread of its own.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/core/afxtypes.h"

// Two datagrams in a row one way are never both dropped: a lost packet's
// next resend gets through, within the two resends a transfer makes before
// it gives up (and within the server's own retries). The ACK of a Put's last
// block is never dropped: the protocol leaves that loss to how long the
// server lingers after it, which is not what a client's test is about.
struct LinkFaults {
    double loss = 0.05;      // of each datagram, either way
    double duplicate = 0.05; // a second copy follows
    double delay = 0.05;     // held back 1 to maxDelayMs, so later ones overtake it
    int maxDelayMs = 15;
    unsigned seed = 1;
    int blockSize = 512; // a DATA shorter than this is the last
};

class LossyRelay {
public:
    // Relays to a server listening on 127.0.0.1:serverPort.
    LossyRelay(unsigned serverPort, const LinkFaults& faults);
    ~LossyRelay();
    LossyRelay(const LossyRelay&) = delete;
    LossyRelay& operator=(const LossyRelay&) = delete;

    // What the client names as its server.
    std::string HostString() const;

    // DATA and ACK datagrams the client sent, by block number (before any fault).
    std::map<WORD, int> ClientDataPerBlock() const;
    std::map<WORD, int> ClientAcksPerBlock() const;
    // Datagrams dropped, duplicated and delayed so far.
    int Dropped() const { return m_nDropped; }
    int Duplicated() const { return m_nDuplicated; }
    int Delayed() const { return m_nDelayed; }

private:
    void Run(LinkFaults faults);

    int m_clientSide = -1; // the client talks to this one
    int m_serverSide = -1; // the server sees this one as its client
    unsigned m_nPort = 0;
    unsigned m_nServerPort;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nDropped{0};
    std::atomic<int> m_nDuplicated{0};
    std::atomic<int> m_nDelayed{0};
    mutable std::mutex m_mutex;
    std::map<WORD, int> m_clientData;
    std::map<WORD, int> m_clientAcks;
    std::thread m_thread;
};
