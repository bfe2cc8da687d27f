// SPDX-License-Identifier: MIT
#include "server/serve_transfer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "protocol/host_address.h"
#include "protocol/options.h"
#include "protocol/packet.h"
#include "server/serve_read_policy.h"

namespace {

// A client that has acknowledged nothing gets the first datagram and this
// many resends, no more, and the transfer ends a period after the last: a
// forged source address draws little traffic and holds a slot briefly.
constexpr unsigned kResendsUnanswered = 2;

bool IsDiskFull(const CFileException& error)
{
    return error.m_cause == CFileException::diskFull || error.m_lOsError == ENOSPC || error.m_lOsError == EDQUOT;
}

} // namespace

CServeTransfer::CServeTransfer(IServeHost& host, unsigned nId) : m_host(host)
{
    m_row.nId = nId;
}

// The file's own destructor removes an upload that was not committed.
CServeTransfer::~CServeTransfer() = default;

bool CServeTransfer::OpenSocket(const sockaddr_storage& local)
{
    return CreateAt(local, FD_READ);
}

bool CServeTransfer::Start(ServeStart&& start, ULONGLONG nNowMs)
{
    m_client = start.client;
    m_wOpcode = start.wOpcode;
    m_grant = start.grant;
    m_pFile = std::move(start.pFile);
    m_key = std::move(start.key);
    m_nRoom = start.nRoom;
    m_nAdmittedSize = start.nAdmittedSize;
    m_row.client = start.client;
    m_row.file = std::move(start.name);
    m_row.wDirection = m_wOpcode == TFTP_OPCODE_RRQ ? DIRECTION_GET : DIRECTION_PUT;
    m_row.granted = ServeGrantText(m_grant);
    m_row.nSize = start.nSize;
    m_row.bSizeKnown = start.bSizeKnown;
    m_row.nStartMs = nNowMs;
    m_row.state = ServeState::running;

    const TftpGranted& granted = m_grant.granted;
    const int window = std::clamp(granted.nWindowSize, 1, TFTP_MAX_WINDOW_SIZE);
    const int slot = granted.nBlockSize + TFTP_HEADER_SIZE;
    const bool read = m_wOpcode == TFTP_OPCODE_RRQ;
    // A read takes ACKs and ERRORs; an upload a block, with room to tell a longer datagram.
    m_nReceiveSize = read ? TFTP_PACKET_BUFFER : slot + 4;
    m_pReceive.reset(new (std::nothrow) BYTE[static_cast<size_t>(m_nReceiveSize)]);
    m_phase = Phase::sending; // until End says otherwise
    if (m_pReceive == nullptr) {
        End(ServeState::failed, "Out of memory", nNowMs, ServeReason::other);
        return false;
    }
    m_nNowMs = nNowMs;
    m_sender.Start(window, granted.nBlockSize, nullptr);
    m_receiver.Start(window);
    m_clock.Start(granted.nTimeout > 0 ? static_cast<ULONGLONG>(granted.nTimeout) * 1000 : 0, nNowMs);

    if (!OpenSocket(start.local)) {
        End(ServeState::failed, std::string("Cannot open a socket: ") + std::strerror(GetLastError()), nNowMs);
        return false;
    }
    // Room for two windows of blocks, so that one is not dropped while the one before it is read.
    if (!read && window > 1)
        (void)SetReceiveBufferSize(2 * window * slot);

    if (m_grant.nOrder > 0) {
        m_phase = Phase::oack;
        m_nOackLength = BuildOack(m_abOack, sizeof m_abOack, m_grant);
        m_clock.OnSent(nNowMs);
        SendToClient(m_abOack, m_nOackLength);
    } else if (read) {
        m_phase = Phase::sending;
        Fill(nNowMs);
    } else {
        m_phase = Phase::receiving;
        (void)m_receiver.Acknowledge(*this, m_clock, nNowMs);
    }
    return m_phase != Phase::closed;
}

void CServeTransfer::OnReceive(int /*nErrorCode*/)
{
    const int reads = ServeReadsPerWake(m_receiver.Window().Size());
    for (int i = 0; i < reads && m_phase != Phase::closed; ++i) {
        sockaddr_storage sender{};
        int senderLength = sizeof sender;
        const int length =
            ReceiveFrom(m_pReceive.get(), m_nReceiveSize, reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (length != SOCKET_ERROR)
            OnDatagram(m_pReceive.get(), length, sender, m_host.NowMs());
        else if (GetLastError() == EMSGSIZE)
            OnOversized(sender, m_host.NowMs());
        else
            return;
    }
}

bool CServeTransfer::FromClient(const sockaddr_storage& sender, ULONGLONG nNowMs)
{
    if (SameEndpoint(sender, m_client))
        return true;
    // RFC 1350: a stranger is told, and the transfer goes on.
    if (m_host.MayAnswer(sender, nNowMs))
        SendErrorTo(sender, TFTP_ERROR_UNKNOWN_TID, "Unknown transfer ID");
    return false;
}

void CServeTransfer::OnOversized(const sockaddr_storage& sender, ULONGLONG nNowMs)
{
    if (m_phase == Phase::closed || !FromClient(sender, nNowMs) || !IsRunning())
        return;
    End(ServeState::failed, "The client sent a datagram too long", nNowMs, ServeReason::clientError);
}

void CServeTransfer::OnDatagram(const BYTE* pDatagram, int nLength, const sockaddr_storage& sender, ULONGLONG nNowMs)
{
    if (m_phase == Phase::closed || !FromClient(sender, nNowMs))
        return;
    m_nNowMs = nNowMs;
    if (m_phase == Phase::dallying) {
        // The last DATA again: the last ACK was lost.
        if (nLength >= TFTP_HEADER_SIZE && GetWord(pDatagram) == TFTP_OPCODE_DATA &&
            GetWord(pDatagram + 2) == m_receiver.LastInOrder())
            (void)m_receiver.Resend(*this);
        return;
    }
    const bool read = m_wOpcode == TFTP_OPCODE_RRQ;
    const TftpExchange exchange{read ? TftpAwaits::Acks : TftpAwaits::Data,
                                read ? m_sender.NewestBlock() : m_receiver.Awaited(), m_sender.Window(),
                                m_receiver.Window(),
                                read ? TFTP_MAX_DATAGRAM : m_grant.granted.nBlockSize + TFTP_HEADER_SIZE};
    const TftpVerdict verdict = ClassifyDatagram(exchange, pDatagram, nLength);
    switch (verdict.eEvent) {
    case TftpEvent::Ack:
        OnAck(verdict.nSlid, nNowMs);
        break;
    case TftpEvent::Data:
        OnData(pDatagram, nLength, nNowMs);
        break;
    case TftpEvent::Gap:
        // Answered once with the last block in order: the client goes on from there.
        (void)m_receiver.OnGap(*this, m_clock, nNowMs);
        break;
    case TftpEvent::PeerError:
    case TftpEvent::OptionsRefused:
        OnPeerError(pDatagram, nLength, nNowMs);
        break;
    case TftpEvent::Ignore:
        // An upload's client that missed the ACK of its window sends the
        // window again: the first block of each repeat draws the ACK again.
        if (!read && m_phase == Phase::receiving && nLength >= TFTP_HEADER_SIZE &&
            GetWord(pDatagram) == TFTP_OPCODE_DATA)
            (void)m_receiver.OnIgnored(*this, GetWord(pDatagram + 2), m_clock, nNowMs);
        break;
    case TftpEvent::Fail:
    default:
        if (verdict.wErrorCode != 0)
            SendErrorTo(m_client, verdict.wErrorCode, "Illegal TFTP operation");
        End(ServeState::failed,
            nLength > exchange.nMaxDatagram ? "The client sent a datagram too long"
            : nLength < TFTP_MIN_DATAGRAM   ? "The client sent a datagram too short"
                                            : "The client sent a datagram out of place",
            nNowMs, ServeReason::clientError);
        break;
    }
}

void CServeTransfer::OnPeerError(const BYTE* pDatagram, int nLength, ULONGLONG nNowMs)
{
    const WORD code = GetWord(pDatagram + 2);
    // A firmware (UEFI, PXE) that only wanted the size ends the transfer at
    // the OACK and asks again for the file.
    const bool sizeQuery = m_wOpcode == TFTP_OPCODE_RRQ && m_phase == Phase::oack && m_grant.granted.bFileSize &&
                           (code == TFTP_ERROR_OPTION_REFUSED || code == TFTP_ERROR_NOT_DEFINED);
    if (sizeQuery) {
        End(ServeState::sizeQuery, {}, nNowMs);
        return;
    }
    // The client's text is untrusted: escaped and bounded for the log and the row.
    End(ServeState::failed,
        "The client ended with ERROR " + std::to_string(code) + ": " +
            EscapedText(PeerErrorMessage(pDatagram, nLength), 120),
        nNowMs, ServeReason::clientError);
}

void CServeTransfer::OnTick(ULONGLONG nNowMs)
{
    switch (m_phase) {
    case Phase::closed:
        return;
    case Phase::dallying:
        if (nNowMs >= m_nDallyEndMs) {
            m_phase = Phase::closed;
            Close();
        }
        return;
    default:
        break;
    }
    m_nNowMs = nNowMs;
    if (m_clock.Silent(nNowMs)) {
        End(ServeState::failed,
            "No answer from the client for " + std::to_string(m_clock.SilenceLimitMs() / 1000) + " seconds", nNowMs,
            ServeReason::noAnswer);
        return;
    }
    if (m_clock.ResendDue(nNowMs))
        Resend(nNowMs);
}

void CServeTransfer::Resend(ULONGLONG nNowMs)
{
    if (!m_bAnswered && m_clock.ResendsSinceProgress() >= kResendsUnanswered) {
        // Three datagrams and three periods without a word: most likely the
        // request's source was forged, and the slot is wanted by others.
        End(ServeState::failed,
            "No answer from the client to its first " + std::to_string(kResendsUnanswered + 1) + " datagrams", nNowMs,
            ServeReason::noAnswer);
        return;
    }
    m_clock.OnResend(nNowMs);
    ++m_row.nResends;
    switch (m_phase) {
    case Phase::oack:
        SendToClient(m_abOack, m_nOackLength);
        break;
    case Phase::sending:
        m_sender.OnTimeout();
        Fill(nNowMs); // the block a timeout sends past a full window goes first
        if (m_phase == Phase::sending)
            (void)m_sender.Resend(*this);
        break;
    case Phase::receiving:
        (void)m_receiver.Resend(*this);
        break;
    default:
        break;
    }
}

ULONGLONG CServeTransfer::NextDeadlineMs() const
{
    switch (m_phase) {
    case Phase::closed:
        return ~0ULL;
    case Phase::dallying:
        return m_nDallyEndMs;
    default:
        return m_clock.NextDeadlineMs();
    }
}

void CServeTransfer::Abort(const char* lpszText, ULONGLONG nNowMs)
{
    if (m_phase == Phase::closed)
        return;
    if (!IsRunning()) {
        m_phase = Phase::closed;
        Close();
        return;
    }
    SendErrorTo(m_client, TFTP_ERROR_NOT_DEFINED, lpszText);
    End(ServeState::failed, lpszText, nNowMs, ServeReason::stopped);
}

bool CServeTransfer::SendToClient(const BYTE* pDatagram, int nLength)
{
    if (SendTo(pDatagram, nLength, reinterpret_cast<const sockaddr*>(&m_client), AddressLength(m_client), 0) !=
        SOCKET_ERROR)
        return true;
    const int error = GetLastError();
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == ECONNREFUSED)
        return true; // lost on the way: the resend covers it
    End(ServeState::failed, std::string("Cannot send to the client: ") + std::strerror(error), m_nNowMs,
        ServeReason::other);
    return false;
}

bool CServeTransfer::SendToPeer(const BYTE* pDatagram, int nLength)
{
    // The halves tell the clock what they send.
    return SendToClient(pDatagram, nLength);
}

void CServeTransfer::SendErrorTo(const sockaddr_storage& to, WORD wCode, const char* lpszText)
{
    BYTE packet[128];
    const int length = BuildError(packet, sizeof packet, wCode, lpszText);
    // The transfer ends whether or not the client hears of it.
    (void)SendTo(packet, length, reinterpret_cast<const sockaddr*>(&to), AddressLength(to), 0);
}

void CServeTransfer::Progress(ULONGLONG nNowMs)
{
    m_bAnswered = true;
    m_clock.OnProgress(nNowMs);
}

void CServeTransfer::End(ServeState state, std::string reason, ULONGLONG nNowMs, ServeReason code)
{
    if (m_phase == Phase::closed || m_phase == Phase::dallying)
        return;
    m_row.state = state;
    m_row.reason = std::move(reason);
    m_row.reasonCode = state == ServeState::failed ? code : ServeReason::none;
    m_row.nEndMs = std::max(nNowMs, m_row.nStartMs);
    // An upload that is not complete leaves nothing behind.
    m_pFile.reset();
    if (state == ServeState::done && m_wOpcode == TFTP_OPCODE_WRQ) {
        // The last ACK may be lost: the socket stays to send it again.
        m_phase = Phase::dallying;
        m_nDallyEndMs = nNowMs + m_clock.SilenceLimitMs();
    } else {
        m_phase = Phase::closed;
        Close();
    }
    m_host.OnTransferEnded(*this);
}

void CServeTransfer::FileFailed(const CFileException& error, ULONGLONG nNowMs)
{
    const bool full = IsDiskFull(error);
    const bool read = m_wOpcode == TFTP_OPCODE_RRQ;
    SendErrorTo(m_client, full ? TFTP_ERROR_DISK_FULL : TFTP_ERROR_NOT_DEFINED,
                full   ? "Disk full or allocation exceeded"
                : read ? "Cannot read the file"
                       : "Cannot write the file");
    End(ServeState::failed,
        std::string(full   ? "The disk is full"
                    : read ? "Cannot read the file"
                           : "Cannot write the file") +
            ": " + std::strerror(static_cast<int>(error.m_lOsError)),
        nNowMs, full ? ServeReason::diskFull : ServeReason::fileError);
}
