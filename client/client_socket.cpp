// SPDX-License-Identifier: MIT
#include "client/client_socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/core/format.h"
#include "platform/core/msgbox.h"
#include "protocol/errors.h"
#include "protocol/host_address.h"
#include "protocol/packet.h"
#include "res/resource.h"
#include "res/strings.h"

namespace {

// What the client awaits in each of its states. While a name is looked up
// there is no socket, so nothing can arrive.
TftpAwaits TftpAwaitsIn(TftpState state)
{
    switch (state) {
    case TFTP_STATE_IDLE:
        return TftpAwaits::Nothing;
    case TFTP_STATE_RRQ_SENT:
        return TftpAwaits::ReadReply;
    case TFTP_STATE_WRQ_SENT:
        return TftpAwaits::WriteReply;
    case TFTP_STATE_WAIT_ACK:
        return TftpAwaits::Acks;
    case TFTP_STATE_WAIT_DATA:
        return TftpAwaits::Data;
    case TFTP_STATE_CLOSED:
    case TFTP_STATE_RESOLVING:
    default:
        return TftpAwaits::Ended;
    }
}

} // namespace

CTFTPSocket::CTFTPSocket(CWnd* pOwner)
    : m_pOwner(pOwner), m_nLastLength(0), m_nTicks(0), m_bOwnBuffer(FALSE), m_bConnected(FALSE), m_pBuffer(nullptr),
      m_wMode(0), m_wDirection(0), m_wBlock(0), m_wExpected(0),
      m_wState(TFTP_STATE_IDLE), m_addrServer{}, m_addrSender{}
{
}

CTFTPSocket::~CTFTPSocket()
{
    m_pLookup.reset(); // no answer reaches a socket that is going
    // The link's figures, for a transfer that got as far as its options.
    if (m_bClocked && m_request.Negotiation() == TftpNegotiation::Granted)
        LogLink();
    if (m_bOwnBuffer) {
        delete[] m_pBuffer;
        m_pBuffer = nullptr;
        m_bOwnBuffer = FALSE;
    }
    // The base class closes the socket.
}

int CTFTPSocket::PacketBufferSize() const
{
    return std::max(m_options.nBlockSize, TFTP_BLOCK_SIZE) + TFTP_PACKET_BUFFER - TFTP_BLOCK_SIZE;
}

BOOL CTFTPSocket::Connected()
{
    if (m_bConnected)
        return TRUE;
    if (!Connect(reinterpret_cast<const sockaddr*>(&m_addrSender), AddressLength(m_addrSender))) {
        ReportSocketError();
        return FALSE;
    }
    m_bConnected = TRUE;
    Log("Server answers from " + AddressText(m_addrSender));
    return TRUE;
}

int CTFTPSocket::ReceiveOack(const TftpGranted& granted)
{
    // No other OACK is taken, whether or not the lock-in holds.
    m_request.SetNegotiation(TftpNegotiation::Refused);
    if (!Connected())
        return EndTransfer(TFTP_REASON_LOCK_IN, TFTP_ERROR_ILLEGAL_OPERATION);
    m_granted = granted;
    m_request.SetNegotiation(TftpNegotiation::Granted);
    Log("Server grants: " + GrantedText(m_granted));
    if (m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_OPTIONS, 0, 0);
    ChooseWindows();
    // Without a timeout, the transfer stays on the adaptive clock, and the
    // OACK times the request's round trip unless the request went again.
    // A granted timeout is the fixed period from here on.
    m_bClocked = m_bClocked && m_granted.nTimeout == 0;
    if (m_bClocked)
        m_clock.OnProgress(Now());
    else
        StartClock();
    // Room for two block windows, so that one is not dropped while the one
    // before it is read. The system may grant less: then more is resent.
    if (m_granted.nWindowSize > 1)
        (void)SetReceiveBufferSize(2 * m_granted.nWindowSize * (m_granted.nBlockSize + TFTP_HEADER_SIZE));
    if (m_wState == TFTP_STATE_WRQ_SENT) {
        // The OACK stands for ACK 0: DATA 1 goes next.
        m_wState = TFTP_STATE_WAIT_ACK;
        return TFTP_RESULT_ACKED;
    }
    // A Get answers the OACK with ACK 0 and awaits DATA 1.
    m_wState = TFTP_STATE_WAIT_DATA;
    m_wBlock = 0;
    m_wExpected = 1;
    if (SendAck(m_pBuffer, TFTP_HEADER_SIZE, 0) == SOCKET_ERROR)
        return TFTP_RESULT_ERROR + TFTP_REASON_SEND;
    return TFTP_RESULT_NONE;
}

void CTFTPSocket::ChooseWindows()
{
    m_sender.Start(m_granted.nWindowSize, m_granted.nBlockSize, m_pBuffer, SendWindowSlots(m_granted.nWindowSize));
    m_receiver.Start(m_granted.nWindowSize);
}

int CTFTPSocket::RefuseOack(std::string_view szOption)
{
    // RFC 2347: the client that cannot take the server's options ends the
    // transfer with ERROR 8. The option's name is untrusted: it is bounded,
    // and it goes into the text as an argument only.
    m_wState = TFTP_STATE_CLOSED;
    (void)SendError(TFTP_ERROR_OPTION_REFUSED, "Option not acceptable");
    const std::string name(szOption.substr(0, 64));
    ShowError(AfxFormatString(AfxFindString(IDS_OACK_REFUSED), name.c_str()));
    if (m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_FAILED, 0, 0);
    return TFTP_RESULT_NONE;
}

int CTFTPSocket::Receive(void* lpBuf, int nBufLen, int /*nFlags*/)
{
    BYTE* datagram = static_cast<BYTE*>(lpBuf);
    // Every read names its sender: connecting the socket keeps later strays
    // out, but not those already queued before the lock-in.
    sockaddr_storage sender{};
    int senderLength = sizeof sender;
    // A read may wait a little for its datagram (see CReceiveWait): no
    // server runs in this program to be kept from answering.
    const int length = ReceiveFrom(datagram, nBufLen, reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (length != SOCKET_ERROR) {
        if (m_bConnected && !SameEndpoint(sender, m_addrSender))
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

    const TftpExchange exchange{TftpAwaitsIn(m_wState),
                                m_wExpected,
                                m_sender.Window(),
                                m_receiver.Window(),
                                std::max(m_granted.nBlockSize, m_request.Negotiating() ? m_options.nBlockSize : 0) +
                                    TFTP_HEADER_SIZE,
                                m_request.Negotiating() ? &m_options : nullptr,
                                m_options.Any(),
                                m_request.Negotiation() == TftpNegotiation::Granted};
    const TftpVerdict verdict = ClassifyDatagram(exchange, datagram, length);
    switch (verdict.eEvent) {
    case TftpEvent::OptionsRefused:
        // Only the plain request's failure is shown.
        if (!RetryWithoutOptions(verdict.wPeerCode) && m_pOwner != nullptr)
            m_pOwner->PostMessage(WM_TFTP_FAILED, 0, 0);
        return TFTP_RESULT_NONE;
    case TftpEvent::PeerError:
        m_wState = TFTP_STATE_CLOSED;
        ReportPeerError(datagram, length);
        return TFTP_RESULT_NONE;
    case TftpEvent::Oack:
        return ReceiveOack(verdict.oack.granted);
    case TftpEvent::OackRefused:
        m_request.SetNegotiation(TftpNegotiation::Refused);
        return RefuseOack(verdict.oack.szOption);
    case TftpEvent::Ack:
        if (!Accepted())
            return EndTransfer(TFTP_REASON_LOCK_IN, TFTP_ERROR_ILLEGAL_OPERATION);
        m_wState = TFTP_STATE_WAIT_ACK;
        {
            const AckTaken taken = m_sender.OnAck(*this, verdict.nSlid, m_clock, ClockNow());
            // The server dropped the blocks after the one it acknowledged.
            if (taken.bRewound)
                m_nKnownLost += static_cast<unsigned>(m_sender.Window().Outstanding());
            if (taken.bSendFailed)
                return TFTP_RESULT_ERROR + TFTP_REASON_SEND;
        }
        return TFTP_RESULT_ACKED;
    case TftpEvent::Data:
        if (!Accepted())
            return EndTransfer(TFTP_REASON_LOCK_IN, TFTP_ERROR_ILLEGAL_OPERATION);
        m_wState = TFTP_STATE_WAIT_DATA;
        m_nDatagramLength = length;
        m_wBlock = m_wExpected;
        ++m_wExpected;
        // Acknowledged when the block window is complete or the transfer is;
        // in lock-step, at once. The ACK goes out before the caller stores the block.
        if (m_receiver.OnInOrder(length - TFTP_HEADER_SIZE < m_granted.nBlockSize) &&
            SendAck(m_pBuffer, TFTP_HEADER_SIZE, 0) == SOCKET_ERROR)
            return TFTP_RESULT_ERROR + TFTP_REASON_SEND;
        return verdict.nResult;
    case TftpEvent::Gap:
        // Answered once with the last block in order, so that the server
        // goes on from there.
        m_nKnownLost += static_cast<WORD>(GetWord(datagram + 2) - m_wExpected);
        return m_receiver.OnGap(*this, m_clock, ClockNow()) ? TFTP_RESULT_NONE : TFTP_RESULT_ERROR + TFTP_REASON_SEND;
    case TftpEvent::Fail:
        // Before the request there is no transfer to end.
        if (!verdict.bClose)
            return verdict.nResult;
        return EndTransfer(verdict.nResult & TFTP_RESULT_VALUE_MASK, verdict.wErrorCode);
    case TftpEvent::Ignore:
        // A server that missed the ACK of its window sends the window again:
        // the first block of each repeat draws the ACK again. The plain
        // exchange keeps RFC 1350's wire: its own resent ACK covers a repeat.
        if (m_bClocked && m_wState == TFTP_STATE_WAIT_DATA && length >= TFTP_HEADER_SIZE &&
            GetWord(datagram) == TFTP_OPCODE_DATA &&
            !m_receiver.OnIgnored(*this, GetWord(datagram + 2), m_clock, ClockNow()))
            return TFTP_RESULT_ERROR + TFTP_REASON_SEND;
        return TFTP_RESULT_NONE;
    default:
        return TFTP_RESULT_NONE;
    }
}

BOOL CTFTPSocket::Accepted()
{
    const bool ignored = m_request.Negotiating();
    if (ignored) {
        m_request.SetNegotiation(TftpNegotiation::Ignored);
        m_bClocked = false;
        Log("The server ignores the options: a plain transfer");
    }
    if (!Connected())
        return FALSE;
    // An answer: the resend period and the silence limit count from now,
    // on the plain timing when the options were ignored.
    if (ignored)
        StartClock();
    else
        m_clock.OnProgress(ClockNow());
    return TRUE;
}

int CTFTPSocket::EndTransfer(int nReason, WORD wErrorCode)
{
    m_wState = TFTP_STATE_CLOSED;
    // The transfer is over whether or not the peer hears of it.
    if (wErrorCode != 0)
        (void)SendError(wErrorCode);
    return TFTP_RESULT_ERROR + nReason;
}

int CTFTPSocket::SendBlock(BYTE* pPacket, int nPayloadLength, int /*nFlags*/)
{
    const CSendWindow& window = m_sender.Window();
    if (nPayloadLength < 0 || nPayloadLength > m_granted.nBlockSize || window.NextSlot() == nullptr ||
        !window.CanSend())
        return 0;
    if (!m_sender.Send(*this, pPacket, nPayloadLength, nPayloadLength < m_granted.nBlockSize, m_clock, ClockNow()))
        return SOCKET_ERROR;
    return nPayloadLength + TFTP_HEADER_SIZE;
}

void CTFTPSocket::OnBlockSent(int /*nPayload*/)
{
    m_wBlock = m_sender.NewestBlock();
    m_wExpected = m_wBlock;
}

int CTFTPSocket::SendAck(BYTE* /*pPacket*/, int /*nLength*/, int /*nFlags*/)
{
    return m_receiver.Acknowledge(*this, m_clock, ClockNow()) ? TFTP_HEADER_SIZE : SOCKET_ERROR;
}

bool CTFTPSocket::SendToPeer(const BYTE* pDatagram, int nLength)
{
    return SendSucceeded(Send(pDatagram, nLength, 0)) != FALSE;
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
    return SendToSender(packet, length);
}

int CTFTPSocket::SendToSender(const BYTE* pPacket, int nLength)
{
    if (m_bConnected)
        return Send(pPacket, nLength, 0);
    return SendTo(pPacket, nLength, reinterpret_cast<const sockaddr*>(&m_addrSender), AddressLength(m_addrSender), 0);
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
    m_pLookup.reset();
    Close();
    // The log may be gone by the time the call ends: the link's line goes now.
    if (m_bClocked && m_request.Negotiation() == TftpNegotiation::Granted)
        LogLink();
    m_bClocked = false;
    m_pLog = nullptr;
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
    // The peer's text is untrusted: bounded by the datagram and again for
    // showing, and only ever an argument of the program's own formats.
    ShowError(PeerErrorReport(m_wDirection, m_request.Name(), m_request.HostShown(m_addrServer), pPacket, nLength));
    if (m_pOwner != nullptr)
        m_pOwner->PostMessage(WM_TFTP_FAILED, 0, 0);
}
