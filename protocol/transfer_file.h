// SPDX-License-Identifier: MIT
// The local file of one transfer, with netascii translation in text mode.
#pragma once

#include "platform/core/file.h"
#include "protocol/netascii.h"
#include "protocol/tftp.h"

// The server's netascii, set by the server on a file it serves or receives:
// a Linux folder's text with LF line ends, RFC 1350's line ends on the wire
// (EncodeNetascii, DecodeNetascii). The client's MODE_ASCII is its own.
inline constexpr int MODE_SERVE_NETASCII = 3;

// What a read of a file being sent says of it, against the size the file had
// when its transfer started.
enum class SentFileRead {
    more,    // the file goes on
    last,    // the read was the last one, and the file is whole
    changed, // the file ended before that size, or went past it
};

// nPosition: the file's position after the read; bShort: the read delivered
// less than asked, which is the end of the file; nAdmitted: the size when
// the transfer started. A copy that ends anywhere else than at nAdmitted is
// not the file that was offered, so either end stops rather than send it.
SentFileRead JudgeSentRead(ULONGLONG nPosition, bool bShort, ULONGLONG nAdmitted);

// Opened with CFile::typeText, reads deliver only bytes of the netascii set
// and writes rewrite line ends to CR LF; in MODE_SERVE_NETASCII reads send
// LF as CR LF and CR as CR NUL, and writes store them back; otherwise bytes
// pass unchanged.
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
    // After the last WriteData: writes what the translation held back (a CR
    // that ended the data). Throws CFileException.
    void FinishData();

    // Text-mode reads: offset of the first byte not yet consumed. 64-bit, so
    // text files past 2 GiB are read correctly.
    LONGLONG m_lReadPos;
    // Text-mode writes: the last byte examined, so a CR ending one block pairs
    // with the next block's first byte.
    BYTE m_chLast;
    int m_nTransferMode;

private:
    int ReadEncoded(BYTE* pBuffer, int nCount);

    // MODE_SERVE_NETASCII: the second byte of a pair split at a block's end,
    // and a CR received at one block's end.
    NetasciiEncodeState m_encode;
    bool m_bCrPending = false;
    BYTE m_abScratch[TFTP_PACKET_BUFFER];
    BYTE m_abOutput[2 * TFTP_BLOCK_SIZE];
};
