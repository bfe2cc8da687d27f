#include "tftp_socket.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "host_address.h"
#include "platform/core/msgbox.h"
#include "tftp_errors.h"
#include "tftp_packet.h"

namespace {
std::string AddressText(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + " port " + std::to_string(ntohs(address.sin_port));
}
} // namespace

CTFTPSocket::CTFTPSocket(CWnd* pOwner)
    : m_pOwner(pOwner), m_nRetries(0), m_nLastLength(0), m_nTicks(0), m_bOwnBuffer(FALSE), m_bConnected(FALSE),
      m_pBuffer(nullptr), m_wMode(0), m_wDirection(0), m_wBlock(0), m_wExpected(0),
      m_wState(TFTP_STATE_IDLE), m_addrServer{}, m_addrSender{}
{
}

CTFTPSocket::~CTFTPSocket()
{
    if (m_bOwnBuffer) {
        delete[] m_pBuffer;
        m_pBuffer = nullptr;
        m_bOwnBuffer = FALSE;
    }
    // The base class closes the socket.
}

BOOL CTFTPSocket::SendRequest(const char* lpszHost, const char* lpszName, WORD wDirection, WORD wMode)
{
    m_wMode = wMode;
    m_wDirection = wDirection;

    if (!Create(0, SOCK_DGRAM, FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE, nullptr)) {
        ReportSocketError();
        return FALSE;
    }

    m_pBuffer = new (std::nothrow) BYTE[TFTP_PACKET_BUFFER];
    if (m_pBuffer == nullptr)
        return FALSE;
    m_bOwnBuffer = TRUE;

    m_nLastLength = BuildRequest(m_pBuffer, TFTP_PACKET_BUFFER, wDirection, lpszName, wMode);
    if (m_nLastLength == 0) {
        SetLastError(ENAMETOOLONG);
        ReportSocketError();
        return FALSE;
    }

    // The destination is resolved once: the resends go to the same address.
    std::string host;
    UINT port = TFTP_SERVER_PORT;
    if (!SplitHostPort(lpszHost, TFTP_SERVER_PORT, &host, &port)) {
        SetLastError(EINVAL);
        ReportSocketError();
        return FALSE;
    }
    if (!ResolveAddress(host.c_str(), port, &m_addrServer) ||
        SendTo(m_pBuffer, m_nLastLength, reinterpret_cast<const sockaddr*>(&m_addrServer), sizeof m_addrServer, 0) ==
            SOCKET_ERROR) {
        ReportSocketError();
        return FALSE;
    }

    Log(std::string(wDirection == DIRECTION_GET ? "Read" : "Write") + " request for \"" + lpszName + "\" (" +
        TftpModeString(wMode) + ") sent to " + AddressText(m_addrServer));
    if (wDirection == DIRECTION_GET) {
        m_wState = TFTP_STATE_RRQ_SENT;
        m_wExpected = 1;
    } else {
        m_wState = TFTP_STATE_WRQ_SENT;
        m_wExpected = 0;
    }
    if (m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_REQUEST_SENT, 0, 0);
    return TRUE;
}

int CTFTPSocket::Receive(void* lpBuf, int nBufLen, int /*nFlags*/)
{
    BYTE* datagram = static_cast<BYTE*>(lpBuf);
    // Every read names its sender: connecting the socket keeps later strays
    // out, but not those already queued before the lock-in.
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    const int length = ReceiveFrom(datagram, nBufLen, reinterpret_cast<sockaddr*>(&sender), &senderLength, 0);
    if (length != SOCKET_ERROR) {
        if (m_bConnected &&
            (sender.sin_addr.s_addr != m_addrSender.sin_addr.s_addr || sender.sin_port != m_addrSender.sin_port))
            return TFTP_RESULT_NONE;
        m_addrSender = sender;
    }

    if (length == SOCKET_ERROR) {
        // Readiness with nothing to read (the kernel dropped a datagram with a
        // bad checksum after reporting it) is not a failure of the transfer.
        if (GetLastError() == EAGAIN || GetLastError() == EWOULDBLOCK)
            return TFTP_RESULT_NONE;
        m_wState = TFTP_STATE_CLOSED;
        ReportSocketError();
        return TFTP_RESULT_ERROR + TFTP_REASON_RECEIVE;
    }

    TftpVerdict verdict = ClassifyDatagram(m_wState, m_wExpected, datagram, length);
    if (verdict.bPeerError) {
        m_wState = TFTP_STATE_CLOSED;
        ReportPeerError(datagram, length);
        return TFTP_RESULT_NONE;
    }

    const int resultClass = verdict.nResult & TFTP_RESULT_CLASS_MASK;
    if ((resultClass == TFTP_RESULT_ACKED || resultClass == TFTP_RESULT_DATA) && !m_bConnected) {
        if (Connect(reinterpret_cast<const sockaddr*>(&m_addrSender), sizeof m_addrSender)) {
            m_bConnected = TRUE;
            Log("Server answers from " + AddressText(m_addrSender));
        } else {
            ReportSocketError();
            verdict = TftpVerdict{TFTP_RESULT_ERROR + TFTP_REASON_LOCK_IN, false, true, TFTP_ERROR_ILLEGAL_OPERATION};
        }
    }

    switch (verdict.nResult & TFTP_RESULT_CLASS_MASK) {
    case TFTP_RESULT_ACKED:
        m_wState = TFTP_STATE_WAIT_ACK;
        m_nTicks = 0;
        m_nRetries = 0;
        return TFTP_RESULT_ACKED;
    case TFTP_RESULT_DATA:
        m_nTicks = 0;
        m_nRetries = 0;
        m_wState = TFTP_STATE_WAIT_DATA;
        if (!SendSucceeded(SendAck(m_pBuffer, TFTP_HEADER_SIZE, 0)))
            return TFTP_RESULT_ERROR + TFTP_REASON_SEND;
        return verdict.nResult;
    case TFTP_RESULT_ERROR:
        if (verdict.bClose)
            m_wState = TFTP_STATE_CLOSED;
        // The transfer is over whether or not the peer hears of it.
        if (verdict.wErrorCode != 0)
            (void)SendError(verdict.wErrorCode);
        return verdict.nResult;
    default:
        return TFTP_RESULT_NONE;
    }
}

int CTFTPSocket::SendBlock(BYTE* pPacket, int nPayloadLength, int /*nFlags*/)
{
    if (nPayloadLength < 0 || nPayloadLength > TFTP_BLOCK_SIZE || m_pBuffer == nullptr)
        return 0;
    ++m_wBlock;
    BuildDataHeader(pPacket, m_wBlock);
    m_wExpected = m_wBlock;
    const int length = nPayloadLength + TFTP_HEADER_SIZE;
    std::memcpy(m_pBuffer, pPacket, static_cast<size_t>(length));
    m_nLastLength = length;
    return Send(pPacket, length, 0);
}

int CTFTPSocket::SendAck(BYTE* pPacket, int /*nLength*/, int /*nFlags*/)
{
    BuildAck(pPacket, m_wExpected);
    m_wBlock = m_wExpected;
    ++m_wExpected;
    m_nLastLength = TFTP_HEADER_SIZE;
    return Send(pPacket, TFTP_HEADER_SIZE, 0);
}

BOOL CTFTPSocket::SendSucceeded(int nResult)
{
    if (nResult != SOCKET_ERROR)
        return TRUE;
    const int error = GetLastError();
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS)
        return TRUE;
    m_wState = TFTP_STATE_CLOSED;
    ReportSocketError();
    return FALSE;
}

int CTFTPSocket::SendError(WORD wCode, std::string_view text)
{
    BYTE packet[TFTP_PACKET_BUFFER];
    const int length = text.empty() ? BuildError(packet, wCode) : BuildError(packet, sizeof packet, wCode, text);
    return SendToPeer(packet, length);
}

int CTFTPSocket::SendToPeer(const BYTE* pPacket, int nLength)
{
    if (m_bConnected)
        return Send(pPacket, nLength, 0);
    return SendTo(pPacket, nLength, reinterpret_cast<const sockaddr*>(&m_addrSender), sizeof m_addrSender, 0);
}

CTFTPSocket::CCallScope::~CCallScope()
{
    if (--m_socket.m_nCallDepth == 0 && m_socket.m_bDeletePending)
        delete &m_socket;
}

void CTFTPSocketDeleter::operator()(CTFTPSocket* pSocket) const
{
    pSocket->DeleteWhenIdle();
}

void CTFTPSocket::DeleteWhenIdle()
{
    if (m_nCallDepth == 0) {
        delete this;
        return;
    }
    m_bDeletePending = TRUE;
    m_wState = TFTP_STATE_CLOSED;
    Close();
}

void CTFTPSocket::OnTick()
{
    const CCallScope scope(*this);
    if (m_wState == TFTP_STATE_IDLE || m_wState == TFTP_STATE_CLOSED)
        return;
    if (++m_nTicks != TFTP_TICKS_PER_RESEND)
        return;
    if (++m_nRetries > TFTP_RESENDS) {
        m_wState = TFTP_STATE_CLOSED;
        Log("No answer: the transfer timed out");
        if (m_pOwner != nullptr)
            m_pOwner->PostMessage(WM_TFTP_TIMEOUT, 0, 0);
        return;
    }
    int result;
    if (m_wState == TFTP_STATE_RRQ_SENT || m_wState == TFTP_STATE_WRQ_SENT) {
        Log("No answer: request sent again");
        result =
            SendTo(m_pBuffer, m_nLastLength, reinterpret_cast<const sockaddr*>(&m_addrServer), sizeof m_addrServer, 0);
    } else {
        Log(std::string("No answer: ") + (GetWord(m_pBuffer) == TFTP_OPCODE_ACK ? "ACK " : "DATA ") +
            std::to_string(GetWord(m_pBuffer + 2)) + " sent again");
        result = Send(m_pBuffer, m_nLastLength, 0);
    }
    m_nTicks = 0;
    if (!SendSucceeded(result) && m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_FAILED, 0, 0);
}

void CTFTPSocket::ReportSocketError()
{
    ShowError(SocketErrorText(GetLastError()));
}

void CTFTPSocket::Log(std::string_view line)
{
    if (m_pLog != nullptr)
        m_pLog->LogLine(line);
}

void CTFTPSocket::ShowError(std::string_view text, UINT nType)
{
    if (m_pLog != nullptr)
        m_pLog->LogLine(ErrorLogLine(text));
    AfxMessageBox(text, nType, 0);
}

void CTFTPSocket::ReportPeerError(const BYTE* pPacket, int nLength)
{
    // The peer's text is untrusted: bounded by the datagram, shown as plain text.
    ShowError(PeerErrorText(pPacket, nLength));
    if (m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_FAILED, 0, 0);
}
