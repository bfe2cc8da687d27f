// SPDX-License-Identifier: MIT
// The sending half of a transfer, whichever end sends: a client's Put or a
// served read. It reads the local file into the send window, numbers and
// sends its blocks, takes the ACKs, sends again what a timeout or a gap
// calls for, and is complete on the ACK of the last block. Datagrams go out
// through the end's link; time and the end's clock come with each call.
#pragma once

#include "protocol/clock.h"
#include "protocol/transfer_file.h"
#include "protocol/transfer_link.h"
#include "protocol/window.h"

// What Fill did.
enum class SendFill : BYTE {
    full,    // the window is full, or the last block is out: the ACKs come next
    changed, // the file is not the size it had when the transfer began: nothing was sent for it
    failed,  // a send failed for good, or no room could be had; the link has ended the transfer
};

// What an ACK did.
struct AckTaken {
    int nSlid = 0;            // blocks it newly acknowledged; 0 for none
    ULONGLONG nBytes = 0;     // their payload
    bool bRewound = false;    // the receiver dropped what followed: the rest went again at once
    bool bSendFailed = false; // that resend failed for good
};

class CSendHalf {
public:
    // A new transfer of nBlockSize-byte blocks in a window of nWindow,
    // kept in nSlots slots at pSlots (see CSendWindow::Reset: only with
    // SendWindowSlots(nWindow) of them may a timeout send past a full
    // window; the slots may come later, from the link's MakeRoom). The next
    // block is block 1.
    void Start(int nWindow, int nBlockSize, BYTE* pSlots, int nSlots = 0);

    const CSendWindow& Window() const { return m_window; }
    int BlockSize() const { return m_nBlockSize; }
    // The last block of the file has been sent.
    bool LastSent() const { return m_bLastSent; }
    // Every block, the last one too, has been acknowledged.
    bool Complete() const { return m_bLastSent && m_window.Outstanding() == 0; }
    // The newest block sent (0 before the first).
    WORD NewestBlock() const { return static_cast<WORD>(m_window.FirstUnacknowledged() + m_window.Outstanding() - 1); }

    // Numbers the block whose nPayload bytes the caller placed at offset 4 of
    // pPacket, keeps it in the window (copied to its slot, unless pPacket is
    // that slot) and sends it; bLast: it ends the file. Returns the link's
    // answer; false too, sending nothing, when the payload is longer than a
    // block or the window has no room.
    bool Send(ITransferLink& link, BYTE* pPacket, int nPayload, bool bLast, CTransferClock& clock, ULONGLONG nNowMs);
    // Reads file into blocks and sends them until the window is full or the
    // last block is out. A file that ends before nAdmittedSize or goes past
    // it stops the transfer before a short block could make a partial copy
    // look whole. A read error throws the file's CFileException.
    SendFill Fill(ITransferLink& link, CTFTPFile& file, ULONGLONG nAdmittedSize, CTransferClock& clock,
                  ULONGLONG nNowMs);

    // An ACK that slides the window by nSlid blocks (an Ack verdict of
    // ClassifyDatagram). An ACK inside the window means the receiver saw a
    // gap and dropped what followed: that goes again at once.
    AckTaken OnAck(ITransferLink& link, int nSlid, CTransferClock& clock, ULONGLONG nNowMs);
    // The resend period ran out: the window says what goes again (see
    // CSendWindow::OnTimeout). The end then fills the window, which sends
    // the block a full window allows past it first, and calls Resend.
    void OnTimeout() { m_window.OnTimeout(); }
    // Sends again what the window names (CSendWindow::Repeated): after a
    // timeout, or the rest of a window after a partial ACK. False when a
    // send failed for good.
    bool Resend(ITransferLink& link);

private:
    CSendWindow m_window;
    int m_nBlockSize = TFTP_BLOCK_SIZE;
    bool m_bLastSent = false;
};
