// SPDX-License-Identifier: MIT
#include "protocol/transfer_file.h"

#include <algorithm>

SentFileRead JudgeSentRead(ULONGLONG nPosition, bool bShort, ULONGLONG nAdmitted)
{
    if (nPosition > nAdmitted || (bShort && nPosition < nAdmitted))
        return SentFileRead::changed;
    return bShort ? SentFileRead::last : SentFileRead::more;
}

CTFTPFile::CTFTPFile() : m_lReadPos(0), m_chLast(0xFF), m_nTransferMode(0) {}

CTFTPFile::~CTFTPFile() = default;

BOOL CTFTPFile::Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError)
{
    m_nTransferMode = (nOpenFlags & typeText) != 0 ? MODE_ASCII : MODE_BINARY;
    return CFile::Open(lpszFileName, nOpenFlags & ~static_cast<UINT>(typeText | typeBinary), pError);
}

int CTFTPFile::ReadData(BYTE* pBuffer, int nCount)
{
    if (m_nTransferMode == MODE_SERVE_NETASCII)
        return ReadEncoded(pBuffer, nCount);
    if (m_nTransferMode != MODE_ASCII)
        return static_cast<int>(Read(pBuffer, static_cast<UINT>(std::max(nCount, 0))));

    // The previous call may have read past what it consumed: start again
    // where it stopped consuming.
    Seek(m_lReadPos, begin);
    if (nCount <= 0)
        return 0;
    const size_t count = static_cast<size_t>(nCount);
    size_t delivered = 0;
    for (;;) {
        // Filtering drops bytes, never adds any: a raw read no longer than
        // the room left cannot overflow it.
        const size_t raw = Read(m_abScratch, static_cast<UINT>(std::min(count - delivered, sizeof m_abScratch)));
        if (raw == 0) {
            m_lReadPos = static_cast<LONGLONG>(GetPosition());
            break;
        }
        const NetasciiFilterResult result = FilterNetascii(m_abScratch, raw, pBuffer + delivered, count - delivered);
        delivered += result.nProduced;
        if (delivered == count) {
            m_lReadPos = static_cast<LONGLONG>(GetPosition() - (raw - result.nConsumed));
            break;
        }
    }
    return static_cast<int>(delivered);
}

int CTFTPFile::ReadEncoded(BYTE* pBuffer, int nCount)
{
    Seek(m_lReadPos, begin);
    const size_t count = static_cast<size_t>(std::max(nCount, 0));
    size_t delivered = 0;
    while (delivered < count) {
        // Every byte read gives one or two: a raw read no longer than the
        // room left leaves at most a tail that did not fit, read again next time.
        const size_t raw = Read(m_abScratch, static_cast<UINT>(std::min(count - delivered, sizeof m_abScratch)));
        const NetasciiFilterResult result =
            EncodeNetascii(m_abScratch, raw, pBuffer + delivered, count - delivered, &m_encode);
        delivered += result.nProduced;
        m_lReadPos = static_cast<LONGLONG>(GetPosition() - (raw - result.nConsumed));
        if (raw == 0)
            break;
    }
    return static_cast<int>(delivered);
}

void CTFTPFile::WriteData(const BYTE* pBuffer, int nCount)
{
    if (nCount <= 0)
        return;
    if (m_nTransferMode == MODE_SERVE_NETASCII) {
        // Decoding adds at most the CR held from the block before.
        for (int offset = 0; offset < nCount; offset += TFTP_BLOCK_SIZE) {
            const size_t part = static_cast<size_t>(std::min(nCount - offset, TFTP_BLOCK_SIZE));
            const size_t produced = DecodeNetascii(pBuffer + offset, part, m_abOutput, &m_bCrPending);
            Write(m_abOutput, static_cast<UINT>(produced));
        }
        return;
    }
    if (m_nTransferMode != MODE_ASCII) {
        Write(pBuffer, static_cast<UINT>(nCount));
        return;
    }
    // A granted block may be longer than the plain one that the output
    // buffer is sized for (twice over, as every LF may become CR LF): the
    // payload goes in parts of a plain block, so it can never overflow.
    for (int offset = 0; offset < nCount; offset += TFTP_BLOCK_SIZE) {
        const size_t part = static_cast<size_t>(std::min(nCount - offset, TFTP_BLOCK_SIZE));
        const size_t produced = RewriteNetascii(pBuffer + offset, part, m_abOutput, &m_chLast);
        Write(m_abOutput, static_cast<UINT>(produced));
    }
}

void CTFTPFile::FinishData()
{
    if (m_nTransferMode != MODE_SERVE_NETASCII)
        return;
    const size_t produced = FinishNetascii(m_abOutput, &m_bCrPending);
    if (produced > 0)
        Write(m_abOutput, static_cast<UINT>(produced));
}
