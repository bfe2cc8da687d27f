// SPDX-License-Identifier: MIT
// What the two halves of a transfer ask of the end that drives them: the
// client's transfer socket or the server's transfer.
#pragma once

#include "platform/core/afxtypes.h"

class CSendWindow;

class ITransferLink {
public:
    virtual ~ITransferLink() = default;
    // Sends one datagram to the peer. A datagram the system could not queue
    // just now counts as sent and lost: a resend covers it. False when the
    // send failed for good; the end has then ended the transfer and said why.
    virtual bool SendToPeer(const BYTE* pDatagram, int nLength) = 0;
    // The sending half: where the next block is read, at offset 4 of a
    // packet buffer; nullptr reads it straight into the send window's slot.
    virtual BYTE* StagingPacket() { return nullptr; }
    // The sending half: every slot of the window holds a block not yet
    // acknowledged and the window allows more; the end may give it more
    // slots (CSendWindow::MoveTo). False when it gives none, which ends the
    // transfer (the end has said why).
    virtual bool MakeRoom(CSendWindow& /*window*/) { return false; }
    // The sending half: a block of nPayload bytes went out for the first time.
    virtual void OnBlockSent(int /*nPayload*/) {}
};
