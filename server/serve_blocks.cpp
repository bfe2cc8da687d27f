// SPDX-License-Identifier: MIT
// The blocks of a server's transfer, each way, through the two halves: a
// read's DATA from the file and the ACKs that slide its window; an upload's
// DATA into the file.
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
    const AckTaken taken = m_sender.OnAck(*this, nSlid, m_clock, nNowMs);
    if (taken.nSlid == 0 || taken.bSendFailed)
        return;
    m_row.nBytes += taken.nBytes;
    m_bAnswered = true;
    if (m_sender.Complete()) {
        End(ServeState::done, {}, nNowMs);
        return;
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
    Progress(nNowMs);
    const bool last = payload < m_grant.granted.nBlockSize;
    if (!m_receiver.OnInOrder(last))
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
    if (!m_receiver.Acknowledge(*this, m_clock, nNowMs))
        return;
    if (last)
        End(ServeState::done, {}, nNowMs);
}

bool CServeTransfer::MakeRoom(CSendWindow& window)
{
    const int blockSize = m_grant.granted.nBlockSize;
    const int slots = m_pSlots == nullptr ? std::min(window.Size(), kFirstSlots)
                                          : std::min(SendWindowSlots(window.Size()), 2 * window.Slots());
    const size_t slotSize = static_cast<size_t>(blockSize) + TFTP_HEADER_SIZE;
    std::unique_ptr<BYTE[]> grown(new (std::nothrow) BYTE[slotSize * static_cast<size_t>(slots)]);
    if (grown == nullptr) {
        SendErrorTo(m_client, TFTP_ERROR_NOT_DEFINED, "Out of memory");
        End(ServeState::failed, "Out of memory", m_nNowMs, ServeReason::other);
        return false;
    }
    if (m_pSlots == nullptr)
        window.Reset(window.Size(), grown.get(), blockSize + TFTP_HEADER_SIZE, slots);
    else
        window.MoveTo(grown.get(), slots);
    m_pSlots = std::move(grown);
    return true;
}

void CServeTransfer::Fill(ULONGLONG nNowMs)
{
    if (m_phase != Phase::sending || m_sender.LastSent())
        return;
    SendFill filled = SendFill::full;
    try {
        filled = m_sender.Fill(*this, *m_pFile, m_nAdmittedSize, m_clock, nNowMs);
    } catch (const CFileException& error) {
        FileFailed(error, nNowMs);
        return;
    }
    if (filled == SendFill::changed) {
        SendErrorTo(m_client, TFTP_ERROR_NOT_DEFINED, kFileChanged);
        End(ServeState::failed, kFileChanged, nNowMs, ServeReason::fileChanged);
    }
}
