// SPDX-License-Identifier: MIT
// The blocks of a server's transfer, each way: a read's DATA from the file
// and the ACKs that slide its window; an upload's DATA into the file.
#include <cerrno>

#include "server/serve_transfer.h"

#include <algorithm>
#include <new>

#include "protocol/packet.h"

namespace {
// A read's first slots; they double as its window fills.
constexpr int kFirstSlots = 4;
// To the client, in the row and in the log.
constexpr char kFileChanged[] = "File changed while being sent";
} // namespace

void CServeTransfer::OnAck(int nSlid, ULONGLONG nNowMs)
{
    if (m_wOpcode != TFTP_OPCODE_RRQ)
        return;
    if (m_phase == Phase::oack) {
        // ACK 0 takes the OACK; the window is empty, so only it slides nothing.
        if (nSlid != 0)
            return;
        m_phase = Phase::sending;
        Progress(nNowMs);
        Fill(nNowMs);
        return;
    }
    // A duplicate, or the newest again: never a resend (the Sorcerer's Apprentice).
    if (nSlid <= 0)
        return;
    ULONGLONG bytes = 0;
    for (int i = 0; i < nSlid; ++i) {
        int length = 0;
        (void)m_send.Pending(i, &length);
        bytes += static_cast<ULONGLONG>(length - TFTP_HEADER_SIZE);
    }
    const bool rewind = m_send.SlideAndRewind(nSlid);
    m_row.nBytes += bytes;
    Progress(nNowMs);
    if (m_send.Outstanding() == 0 && m_bLastRead) {
        End(ServeState::done, {}, nNowMs);
        return;
    }
    if (rewind) {
        // The client dropped what followed the block it acknowledged.
        m_clock.ForgetSample();
        ResendPending();
    }
    Fill(nNowMs);
}

void CServeTransfer::OnData(const BYTE* pDatagram, int nLength, ULONGLONG nNowMs)
{
    if (m_wOpcode != TFTP_OPCODE_WRQ)
        return;
    m_phase = Phase::receiving;
    const int payload = nLength - TFTP_HEADER_SIZE;
    if (m_row.nBytes + static_cast<ULONGLONG>(payload) > m_nRoom) {
        SendErrorTo(m_client, TFTP_ERROR_DISK_FULL, "Disk full or allocation exceeded");
        End(ServeState::failed, "The upload would leave less than 1% of the disk free", nNowMs, ServeReason::diskFull);
        return;
    }
    try {
        m_pFile->WriteData(pDatagram + TFTP_HEADER_SIZE, payload);
    } catch (const CFileException& error) {
        FileFailed(error, nNowMs);
        return;
    }
    m_row.nBytes += static_cast<ULONGLONG>(payload);
    ++m_wExpected;
    Progress(nNowMs);
    const bool last = payload < m_grant.granted.nBlockSize;
    if (!m_receive.OnInOrder(last))
        return;
    if (last) {
        // The file takes its name before the client hears that it has arrived.
        try {
            m_pFile->FinishData();
            m_pFile->Commit();
        } catch (const CFileException& error) {
            if (error.m_lOsError == EEXIST) {
                // Uploads may not replace here, and a file of this name
                // appeared meanwhile: it stays, this one is gone.
                SendErrorTo(m_client, TFTP_ERROR_FILE_EXISTS, "File already exists");
                End(ServeState::failed, "A file of this name appeared during the upload and was kept", nNowMs,
                    ServeReason::exists);
                return;
            }
            FileFailed(error, nNowMs);
            return;
        }
    }
    SendAck(static_cast<WORD>(m_wExpected - 1), nNowMs);
    if (last)
        End(ServeState::done, {}, nNowMs);
}

bool CServeTransfer::GrowSlots(ULONGLONG nNowMs)
{
    const int blockSize = m_grant.granted.nBlockSize;
    const int slots = m_pSlots == nullptr ? std::min(m_send.Size(), kFirstSlots)
                                          : std::min(SendWindowSlots(m_send.Size()), 2 * m_send.Slots());
    const size_t slotSize = static_cast<size_t>(blockSize) + TFTP_HEADER_SIZE;
    std::unique_ptr<BYTE[]> grown(new (std::nothrow) BYTE[slotSize * static_cast<size_t>(slots)]);
    if (grown == nullptr) {
        SendErrorTo(m_client, TFTP_ERROR_NOT_DEFINED, "Out of memory");
        End(ServeState::failed, "Out of memory", nNowMs, ServeReason::other);
        return false;
    }
    if (m_pSlots == nullptr)
        m_send.Reset(m_send.Size(), grown.get(), blockSize + TFTP_HEADER_SIZE, slots);
    else
        m_send.MoveTo(grown.get(), slots);
    m_pSlots = std::move(grown);
    return true;
}

void CServeTransfer::Fill(ULONGLONG nNowMs)
{
    const int blockSize = m_grant.granted.nBlockSize;
    while (m_phase == Phase::sending && !m_bLastRead) {
        // The slots grow as the window fills, from a few to the whole window.
        if ((m_pSlots == nullptr || m_send.NeedsRoom()) && !GrowSlots(nNowMs))
            return;
        if (!m_send.CanSend())
            break;
        BYTE* slot = m_send.NextSlot();
        int length = 0;
        SentFileRead read = SentFileRead::more;
        try {
            length = m_pFile->ReadData(slot + TFTP_HEADER_SIZE, blockSize);
            read = JudgeSentRead(m_pFile->GetPosition(), length < blockSize, m_nAdmittedSize);
        } catch (const CFileException& error) {
            FileFailed(error, nNowMs);
            return;
        }
        if (read == SentFileRead::changed) {
            SendErrorTo(m_client, TFTP_ERROR_NOT_DEFINED, kFileChanged);
            End(ServeState::failed, kFileChanged, nNowMs, ServeReason::fileChanged);
            return;
        }
        BuildDataHeader(slot, static_cast<WORD>(m_send.FirstUnacknowledged() + m_send.Outstanding()));
        (void)m_send.OnSent(length + TFTP_HEADER_SIZE);
        m_bLastRead = read == SentFileRead::last;
        if (!SendToClient(slot, length + TFTP_HEADER_SIZE, nNowMs))
            return;
    }
}

void CServeTransfer::ResendPending()
{
    for (int i = 0; i < m_send.Repeats() && m_phase != Phase::closed; ++i) {
        int length = 0;
        const BYTE* block = m_send.Repeated(i, &length);
        // A resend's time is never a sample: no clock needed.
        if (!SendToClient(block, length, 0))
            return;
    }
}
