// SPDX-License-Identifier: MIT
// The local file of one transfer, with netascii translation in text mode.
#pragma once

#include "platform/core/file.h"
#include "tftp.h"

// Opened with CFile::typeText, reads deliver only bytes of the netascii set
// and writes rewrite line ends to CR LF; otherwise bytes pass unchanged.
class CTFTPFile : public CFile {
public:
    CTFTPFile();
    ~CTFTPFile() override;

    // Sets the transfer mode from the type flags (text wins when both are
    // given) and opens the file with the other flags.
    BOOL Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;

    // Returns the bytes placed in pBuffer (nCount of them at most); fewer than
    // asked means the end of the file. Throws CFileException.
    virtual int ReadData(BYTE* pBuffer, int nCount);
    // Writes one DATA payload, of any block size. Throws CFileException.
    virtual void WriteData(const BYTE* pBuffer, int nCount);

    // Text-mode reads: offset of the first byte not yet consumed. 64-bit, so
    // text files past 2 GiB are read correctly.
    LONGLONG m_lReadPos;
    // Text-mode writes: the last byte examined, so a CR ending one block pairs
    // with the next block's first byte.
    BYTE m_chLast;
    int m_nTransferMode;

private:
    BYTE m_abScratch[TFTP_PACKET_BUFFER];
    BYTE m_abOutput[2 * TFTP_BLOCK_SIZE];
};
