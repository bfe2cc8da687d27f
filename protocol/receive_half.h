// SPDX-License-Identifier: MIT
// The receiving half of a transfer, whichever end receives: a client's Get
// or a served upload. It takes the DATA blocks in order, says when an ACK
// is due (per window, at the last block, or at once for a gap), sends the
// ACKs, and acknowledges again a window the sender missed the ACK of.
// Storing a block is the end's: the client acknowledges a block before it
// stores it, the server stores an upload's last block, and puts the file in
// place, before its ACK says that it has arrived.
#pragma once

#include "protocol/clock.h"
#include "protocol/transfer_link.h"
#include "protocol/window.h"

class CReceiveHalf {
public:
    // A new transfer in a window of nWindow blocks: block 1 is awaited.
    void Start(int nWindow);

    const CReceiveWindow& Window() const { return m_window; }
    // The DATA block awaited next.
    WORD Awaited() const { return m_wAwaited; }
    // The last block taken in order, which an ACK names (0 before the first).
    WORD LastInOrder() const { return static_cast<WORD>(m_wAwaited - 1); }

    // The block awaited has arrived (a Data verdict of ClassifyDatagram);
    // bLast: it is shorter than a block and ends the transfer. True when
    // its ACK is due now: the window is complete, or the transfer is.
    bool OnInOrder(bool bLast);
    // Sends the ACK of the last block in order (ACK 0 before the first
    // block answers an OACK).
    bool Acknowledge(ITransferLink& link, CTransferClock& clock, ULONGLONG nNowMs);
    // A block ahead of the one awaited, inside the window (a Gap verdict):
    // the ACK of the last block in order goes at once, so that the sender
    // goes on from there; later blocks of that window draw no other.
    bool OnGap(ITransferLink& link, CTransferClock& clock, ULONGLONG nNowMs);
    // DATA block wBlock was judged Ignore. The first block of a window
    // already acknowledged and sent again (the sender missed the ACK) draws
    // the ACK again, once per repeat.
    bool OnIgnored(ITransferLink& link, WORD wBlock, CTransferClock& clock, ULONGLONG nNowMs);
    // The resend period ran out: the ACK again. The rest of a window whose
    // last block was lost comes again on it; blocks of the old window still
    // on the way draw no ACK of their own.
    bool Resend(ITransferLink& link);

private:
    bool SendAck(ITransferLink& link);

    CReceiveWindow m_window;
    WORD m_wAwaited = 1;
};
