// SPDX-License-Identifier: MIT
// The block window of RFC 7440 from either side of a transfer: the DATA
// blocks sent and not yet acknowledged, and the blocks received since the
// last ACK. Numbers in, decisions out: no socket, no clock, and nothing of
// client or server. A window of one block is the lock-step exchange of RFC 1350.
#pragma once

#include "protocol/options.h"
#include "protocol/tftp.h"

// The blocks a timeout may send past a full send window of several blocks
// (see CSendWindow::OnTimeout): each is one more lost ACK in a row that a
// transfer survives.
inline constexpr int TFTP_SEND_PROBES = 2;
// The slots a send window of nWindow blocks may fill: the window and its probes.
constexpr int SendWindowSlots(int nWindow)
{
    return nWindow > 1 ? nWindow + TFTP_SEND_PROBES : 1;
}

// The sender's side. Blocks are numbered from 1, modulo 65536; each block
// sent is kept in a slot until an ACK covers it, so that a timeout can send
// it again. The slots' memory is the caller's, who may give fewer slots
// than the window and more as it fills; nothing is allocated here.
class CSendWindow {
public:
    // Empties the window and gives it nWindow (1 to TFTP_MAX_WINDOW_SIZE)
    // blocks, kept in nSlots slots (the window's blocks when 0; a timeout
    // sends blocks past the window only into more, up to
    // SendWindowSlots(nWindow)) of nSlotSize bytes each at pSlots, which the
    // caller keeps until the window is reset or moved. The next block sent
    // is block 1.
    void Reset(int nWindow, BYTE* pSlots, int nSlotSize, int nSlots = 0);
    // Every slot holds a block not yet acknowledged, and the window allows
    // more: the caller moves it to more slots (MoveTo) before the next block.
    bool NeedsRoom() const { return m_nOutstanding == m_nSlots && m_nOutstanding < Allowed(); }
    int Slots() const { return m_nSlots; }
    // Copies the blocks not yet acknowledged, oldest first, into nSlots
    // slots at pSlots (at least Outstanding() of them), which the window uses
    // from now on; the caller may then free the old ones.
    void MoveTo(BYTE* pSlots, int nSlots);

    int Size() const { return m_nWindow; }
    // Blocks sent and not yet acknowledged.
    int Outstanding() const { return m_nOutstanding; }
    // A block may go now: the window (or a timeout's probe) allows it and a slot is free.
    bool CanSend() const { return m_nOutstanding < Allowed() && m_nOutstanding < m_nSlots; }
    // The number of the oldest block not yet acknowledged (of the next one
    // to send when none is outstanding).
    WORD FirstUnacknowledged() const { return m_wFirst; }

    // Where the next block is to be kept, nSlotSize bytes; only while CanSend().
    BYTE* NextSlot() const { return SlotAt(m_nOutstanding); }
    // The block in NextSlot(), nLength bytes, has been sent: it is
    // outstanding now. Returns its number.
    WORD OnSent(int nLength);

    // What ACK wBlock does to the window, which it does not change: the
    // number of blocks it newly acknowledges (1 to Outstanding()); 0 for an
    // ACK of the newest block when every block sent is acknowledged already,
    // which a lock-step sender takes again; -1 for any other ACK: a
    // duplicate, or one of a block never sent. No answer asks for a resend:
    // only a timeout sends blocks again.
    int Acknowledges(WORD wBlock) const;
    // The window slides past nBlocks acknowledged blocks (an answer of Acknowledges).
    void Slide(int nBlocks);
    // Slides past nBlocks, and says whether the blocks still outstanding are
    // to go again now. An ACK inside the window means the receiver saw a gap
    // after that block and drops what follows it (RFC 7440), so the rest goes
    // again at once rather than after a timeout: once, until an ACK reaches
    // the newest block of that resend.
    bool SlideAndRewind(int nBlocks);

    // The outstanding blocks, oldest first; Pending(0) is block
    // FirstUnacknowledged(). Returns the block and its length.
    const BYTE* Pending(int nIndex, int* pLength) const;

    // The resend period ran out. A receiver that holds the whole window but
    // whose ACKs of it were lost may answer no repeat of it: atftpd answers
    // one block out of place with one ACK, then waits for the block after
    // the last it took, and only that block sets it going again. So when the
    // window is full, one new block may go past it now (CanSend() says so;
    // the caller sends it as any new block, before the repeat), up to
    // TFTP_SEND_PROBES past the window: a receiver takes it in order and
    // acknowledges it on the repeat's first block; to one that lacks a block
    // of the window it is one block out of place, which RFC 7440 answers
    // with the ACK of the last block in order. Returns how many blocks the
    // timeout sends again (see Repeated).
    int OnTimeout();
    // The blocks sent again now, nIndex from 0 to Repeats() - 1. After a
    // timeout, the blocks sent past the window before it, oldest first, so
    // that a receiver that took some of them takes the rest in order, then
    // the window, oldest first; never the block sent past it at this
    // timeout. After SlideAndRewind, every outstanding block, oldest first.
    int Repeats() const { return m_nRepeats; }
    const BYTE* Repeated(int nIndex, int* pLength) const;

private:
    BYTE* SlotAt(int nIndex) const;
    // The outstanding blocks the window allows now.
    int Allowed() const { return m_bProbeDue ? m_nOutstanding + 1 : m_nWindow; }

    BYTE* m_pSlots = nullptr;
    int m_nSlotSize = 0;
    int m_nWindow = 1;
    int m_nSlots = 1; // the ring's size: at most SendWindowSlots(m_nWindow)
    int m_nHead = 0;  // the slot of block m_wFirst
    int m_nOutstanding = 0;
    WORD m_wFirst = 1;
    bool m_bRewound = false;  // a partial ACK's resend is out...
    WORD m_wRewindEnd = 0;    // ...until an ACK reaches this block
    bool m_bProbeDue = false; // a timeout allows one new block past the window
    int m_nRepeats = 0;       // the blocks sent again now...
    int m_nRepeatsPast = 0;   // ...of which these, past the window, go first
    int m_anLength[SendWindowSlots(TFTP_MAX_WINDOW_SIZE)] = {};
};

// What a received DATA block is to the receiver's window.
enum class TftpBlockKind : BYTE {
    InOrder, // the block awaited: store it
    Gap,     // ahead of the one awaited, inside the window, and the first such since the last block in order:
             // acknowledge the last block in order now, so that the sender goes on from there
    Ignore,  // a duplicate, a block far off, or a gap already answered
};

// The receiver's side: the blocks taken in order since the last ACK, and
// whether the current gap has been answered. The block awaited is the
// caller's to keep; the window is told it.
class CReceiveWindow {
public:
    // Empties the window and gives it nWindow (1 to TFTP_MAX_WINDOW_SIZE) blocks.
    void Reset(int nWindow);

    int Size() const { return m_nWindow; }
    // Blocks taken in order and not yet acknowledged.
    int SinceAck() const { return m_nSinceAck; }

    // What block wBlock is while wAwaited is the block awaited (modulo 65536).
    TftpBlockKind Judge(WORD wBlock, WORD wAwaited) const;
    // A block taken in order; bLast: it ends the transfer. True when an ACK
    // of it is due now: the window is complete, or the transfer is.
    bool OnInOrder(bool bLast);
    // The gap has been answered with an ACK; until the next block in order,
    // no other block draws one.
    void OnGapAnswered();
    // A block judged Ignore. True when it is a block taken already that
    // the sender may still hold (it missed the ACK and sends its window
    // again), and the first of that repeat: the last block in order is to
    // be acknowledged again. Once per repeat, not per block: a repeat
    // starts with the first such block, or one not above the one before.
    // Its ACK starts a new window.
    bool OnIgnored(WORD wBlock, WORD wAwaited);

private:
    int m_nWindow = 1;
    int m_nSinceAck = 0;
    bool m_bGapAnswered = false;
    bool m_bRepeatSeen = false; // a block taken already came since the last one in order...
    WORD m_wRepeatLast = 0;     // ...and this was the last such
};
