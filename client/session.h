// SPDX-License-Identifier: MIT
// One Get or Put, from the request to the last block.
#pragma once

#include "client/client_socket.h"
#include "platform/core/file.h"
#include "protocol/transfer_file.h"

// Adds the local file and the block buffers to the transfer socket, acts on
// each validated reply and reports to the main window by posted messages:
// WM_TFTP_STARTED, WM_TFTP_PROGRESS per block, then WM_TFTP_COMPLETE or
// WM_TFTP_FAILED (timeouts come from the socket). It never ends a transfer
// itself; the main window deletes it.
class CTFTPSession : public CTFTPSocket {
public:
    explicit CTFTPSession(CWnd* pReportWnd);
    // Closes the file and the socket. A Get that did not complete leaves the
    // local file as it was before the transfer.
    ~CTFTPSession() override;

    // Opens the local file and sends the request, which names lpszRemoteName
    // as given. Put reads lpszLocalPath; Get writes the remote name's last
    // component in the current directory (LocalNameOfRemote). TRUE when both
    // are done, or the request waits for the host name's lookup; on FALSE
    // the user has been told why. WM_TFTP_STARTED follows the request.
    // The texts are checked first (CheckRequest): one that fails opens no file.
    BOOL Start(const char* lpszHost, const char* lpszLocalPath, const char* lpszRemoteName, WORD wDirection,
               WORD wMode);
    // The same for a request already checked; one that failed its check has
    // its message shown and opens nothing.
    BOOL Start(const TftpRequestCheck& request, const char* lpszLocalPath, WORD wMode);

    // Always returns 0.
    int Receive(void* lpBuf, int nBufLen, int nFlags = 0) override;
    void OnReceive(int nErrorCode) override;

protected:
    void OnRequestSent() override;
    void OnSendRoom() override;
    // The file object of a transfer; a test gives one that fails.
    virtual CTFTPFile* CreateFileObject();

    CWnd* m_pReportWnd;
    BOOL m_bLastBlockSent;
    BOOL m_bOwnSendBuffer;
    BOOL m_bOwnReceiveBuffer;
    BOOL m_bOwnFile;
    BYTE* m_pSendBuffer;
    BYTE* m_pReceiveBuffer;
    char m_szRemoteName[TFTP_MAX_NAME + 1];
    char m_szLocalPath[TFTP_MAX_NAME + 1];
    CTFTPFile* m_pFile;
    // Get: the last block is stored and the file is in place; nothing more is written.
    BOOL m_bLastBlockStored;
    // Put: the local file's size when it was opened. A file that ends before
    // it or grows past it stops the transfer.
    ULONGLONG m_nPutSize;

private:
    // The sending half reads each block into m_pSendBuffer, and each one
    // sent is a WM_TFTP_PROGRESS.
    BYTE* StagingPacket() override;
    void OnBlockSent(int nPayload) override;
    void FillSendWindow();
    void StoreBlock(const BYTE* pDatagram, int nLength);
    void OnTransferError();
    void OnFileError(const CFileException& error);
    void OnFileChanged();
    void NotifyComplete();
};
