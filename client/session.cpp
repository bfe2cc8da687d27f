// SPDX-License-Identifier: MIT
#include "client/session.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/core/format.h"
#include "platform/core/msgbox.h"
#include "protocol/errors.h"
#include "res/resource.h"
#include "res/strings.h"

namespace {
// Copies at most size - 1 bytes and always terminates.
void CopyBounded(char* pTarget, size_t nSize, const char* pSource)
{
    const size_t length = ::strnlen(pSource, nSize - 1);
    std::memcpy(pTarget, pSource, length);
    pTarget[length] = '\0';
}
} // namespace

CTFTPSession::CTFTPSession(CWnd* pReportWnd)
    : CTFTPSocket(pReportWnd), m_pReportWnd(pReportWnd), m_bLastBlockSent(FALSE), m_bOwnSendBuffer(FALSE),
      m_bOwnReceiveBuffer(FALSE), m_bOwnFile(FALSE), m_pSendBuffer(nullptr),
      m_pReceiveBuffer(nullptr), m_szRemoteName{}, m_szLocalPath{}, m_pFile(nullptr), m_bLastBlockStored(FALSE),
      m_nPutSize(0)
{
}

CTFTPSession::~CTFTPSession()
{
    if (m_bOwnFile) {
        delete m_pFile;
        m_pFile = nullptr;
        m_bOwnFile = FALSE;
    }
    if (m_bOwnSendBuffer) {
        delete[] m_pSendBuffer;
        m_pSendBuffer = nullptr;
        m_bOwnSendBuffer = FALSE;
    }
    if (m_bOwnReceiveBuffer) {
        delete[] m_pReceiveBuffer;
        m_pReceiveBuffer = nullptr;
        m_bOwnReceiveBuffer = FALSE;
    }
}

CTFTPFile* CTFTPSession::CreateFileObject()
{
    return new (std::nothrow) CTFTPFile;
}

BOOL CTFTPSession::Start(const char* lpszHost, const char* lpszLocalPath, const char* lpszRemoteName, WORD wDirection,
                         WORD wMode)
{
    return Start(CheckRequest(lpszHost, lpszRemoteName, wDirection), lpszLocalPath, wMode);
}

BOOL CTFTPSession::Start(const TftpRequestCheck& request, const char* lpszLocalPath, WORD wMode)
{
    const CCallScope scope(*this);
    if (!request.Ok()) {
        ShowError(request.strMessage);
        return FALSE;
    }
    const WORD wDirection = request.wDirection;
    CopyBounded(m_szLocalPath, sizeof m_szLocalPath, lpszLocalPath);
    CopyBounded(m_szRemoteName, sizeof m_szRemoteName, request.strRemoteName.c_str());

    // Sized once for the largest block this transfer may be granted.
    const size_t bufferSize = static_cast<size_t>(PacketBufferSize());
    m_pSendBuffer = new (std::nothrow) BYTE[bufferSize];
    if (m_pSendBuffer == nullptr)
        return FALSE;
    m_bOwnSendBuffer = TRUE;
    m_pReceiveBuffer = new (std::nothrow) BYTE[bufferSize];
    if (m_pReceiveBuffer == nullptr)
        return FALSE;
    m_bOwnReceiveBuffer = TRUE;

    m_pFile = CreateFileObject();
    if (m_pFile == nullptr)
        return FALSE;
    m_bOwnFile = TRUE;

    // A Get writes a new file and puts it in the target's place only when the
    // transfer completes, so a failed Get never damages an existing file.
    UINT flags = wDirection == DIRECTION_GET ? CFile::modeCreate | CFile::modeWrite | CFile::modeReplaceOnCommit
                                             : CFile::modeRead;
    flags |= wMode == MODE_BINARY ? CFile::typeBinary : CFile::typeText;

    // The full names are used here; the bounded copies are only a record.
    CFileException error;
    if (wDirection == DIRECTION_GET) {
        // The request names the remote file exactly as typed; the local file
        // is its last component, in the current directory and nowhere else.
        if (!m_pFile->Open(request.strLocalName.c_str(), flags, &error)) {
            ShowError(OpenFailedText(IDS_OPEN_WRITE_FAILED, error));
            return FALSE;
        }
    } else {
        if (!m_pFile->Open(lpszLocalPath, flags, &error)) {
            ShowError(OpenFailedText(IDS_OPEN_READ_FAILED, error));
            return FALSE;
        }
        m_nPutSize = m_pFile->GetLength();
        // A Put tells the server the real size.
        m_options.nFileSize = m_nPutSize;
    }

    return SendRequest(request, wMode);
}

void CTFTPSession::OnRequestSent()
{
    m_pReportWnd->PostMessage(WM_TFTP_STARTED, 0, 0);
}

void CTFTPSession::OnSendRoom()
{
    try {
        FillSendWindow();
    } catch (const CFileException& error) {
        OnFileError(error);
    }
}

void CTFTPSession::OnReceive(int /*nErrorCode*/)
{
    const CCallScope scope(*this);
    if (m_pReceiveBuffer != nullptr && !m_bDeletePending)
        Receive(m_pReceiveBuffer, PacketBufferSize(), 0);
}

int CTFTPSession::Receive(void* lpBuf, int nBufLen, int nFlags)
{
    const int result = CTFTPSocket::Receive(lpBuf, nBufLen, nFlags);
    try {
        switch (result & TFTP_RESULT_CLASS_MASK) {
        case TFTP_RESULT_ACKED:
            FillSendWindow();
            break;
        case TFTP_RESULT_DATA:
            StoreBlock(static_cast<const BYTE*>(lpBuf), DatagramLength());
            break;
        case TFTP_RESULT_ERROR:
            OnTransferError();
            break;
        default:
            break;
        }
    } catch (const CFileException& error) {
        OnFileError(error);
    }
    return 0;
}

BYTE* CTFTPSession::StagingPacket()
{
    return m_pSendBuffer;
}

void CTFTPSession::OnBlockSent(int nPayload)
{
    CTFTPSocket::OnBlockSent(nPayload);
    m_bLastBlockSent = m_sender.LastSent() ? TRUE : FALSE;
    m_pReportWnd->PostMessage(WM_TFTP_PROGRESS, 0, nPayload);
}

void CTFTPSession::FillSendWindow()
{
    // Sends until the send window is full (in lock-step, one block) or the
    // file is sent; complete once the last block is acknowledged, and again
    // for each repeat of that ACK.
    if (!m_bLastBlockSent && m_wState == TFTP_STATE_WAIT_ACK) {
        switch (m_sender.Fill(*this, *m_pFile, m_nPutSize, m_clock, ClockNow())) {
        case SendFill::changed:
            // A short block now would make a truncated or partial copy look
            // whole on the server.
            OnFileChanged();
            return;
        case SendFill::failed:
            OnTransferError();
            return;
        case SendFill::full:
            break;
        }
    }
    if (m_sender.Complete())
        NotifyComplete();
}

void CTFTPSession::StoreBlock(const BYTE* pDatagram, int nLength)
{
    if (m_bLastBlockStored)
        return;
    const int payload = nLength - TFTP_HEADER_SIZE;
    m_pFile->WriteData(pDatagram + TFTP_HEADER_SIZE, payload);
    const bool last = payload < m_granted.nBlockSize;
    if (last) {
        m_pFile->Commit();
        m_bLastBlockStored = TRUE;
    }
    m_pReportWnd->PostMessage(WM_TFTP_PROGRESS, 0, payload);
    if (last)
        NotifyComplete();
}

void CTFTPSession::OnTransferError()
{
    ShowError(AfxLoadString(IDS_UNSPECIFIED_ERROR));
    m_pReportWnd->PostMessage(WM_TFTP_FAILED, 0, 0);
}

void CTFTPSession::OnFileError(const CFileException& error)
{
    // The transfer cannot go on without its file: nothing more is sent or
    // resent, and the main window ends it on WM_TFTP_FAILED.
    m_wState = TFTP_STATE_CLOSED;
    ShowError(FileErrorText(error), MB_OK | MB_ICONSTOP);
    m_pReportWnd->PostMessage(WM_TFTP_FAILED, 0, 0);
}

void CTFTPSession::OnFileChanged()
{
    m_wState = TFTP_STATE_CLOSED;
    // The transfer ends here whether or not the server hears of it.
    (void)SendError(TFTP_ERROR_NOT_DEFINED, "Local file changed during transfer");
    ShowError(AfxFormatString(AfxFindString(IDS_PUT_FILE_CHANGED), m_pFile->GetFilePath().c_str()));
    m_pReportWnd->PostMessage(WM_TFTP_FAILED, 0, 0);
}

void CTFTPSession::NotifyComplete()
{
    m_pReportWnd->PostMessage(WM_TFTP_COMPLETE, 0, 0);
}
