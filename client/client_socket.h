// SPDX-License-Identifier: MIT
// The UDP endpoint of one transfer and keeper of the lock-step exchange.
#pragma once

#include <netinet/in.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/messages.h"
#include "client/request.h"
#include "platform/core/host_resolver.h"
#include "platform/core/msgbox.h"
#include "platform/core/socket.h"
#include "platform/core/wnd.h"
#include "protocol/clock.h"
#include "protocol/options.h"
#include "protocol/receive_half.h"
#include "protocol/send_half.h"
#include "protocol/tftp.h"
#include "protocol/transfer_log.h"

class CTFTPSocket;

// Lets go of a transfer object through DeleteWhenIdle, so that a unique_ptr
// can own a transfer whose own call may still be running when it is reset.
struct CTFTPSocketDeleter {
    void operator()(CTFTPSocket* pSocket) const;
};

// One object serves one transfer. It sends the request, classifies every
// reply against its state, locks onto the server's transfer port at the first
// accepted reply, acknowledges DATA, numbers and keeps DATA blocks, resends
// from OnTick what awaits an answer and times out. It shows socket errors and
// the server's ERROR texts itself and reports to the owner only by posted messages.
class CTFTPSocket : public CSocket, protected ITransferLink {
public:
    explicit CTFTPSocket(CWnd* pOwner);
    ~CTFTPSocket() override;

    // The options the request asks for (RFC 2347); none by default, and then
    // every datagram is the plain RFC 1350 exchange. Before SendRequest.
    void SetOptions(const TftpOptions& options) { m_options = options; }
    // What the transfer runs with: the server's grant, or RFC 1350's values.
    const TftpGranted& Granted() const { return m_granted; }
    // The largest packet of this transfer: a header and the largest block
    // that may be granted, plus room to tell a longer datagram. Buffers
    // handed to Receive and SendBlock are this long.
    int PacketBufferSize() const;
    // The length of the last DATA datagram Receive accepted (its result
    // carries it too when it fits twelve bits).
    int DatagramLength() const { return m_nDatagramLength; }

    // Sends the request to lpszHost, in one of the host box's forms (see
    // ParseHostText; port 69 without one), from a socket of the address's
    // family. An address is sent to at once; a name is looked up first by
    // the installed resolver, in TFTP_STATE_RESOLVING (WM_TFTP_RESOLVING is
    // posted), and the request goes out when the answer comes. A name with
    // several addresses is tried in the resolver's order: the next one when
    // sending fails at once or no reply comes within the first resend
    // period. FALSE, with the reason shown, when nothing could be sent or
    // looked up; a lookup that fails later shows why and posts
    // WM_TFTP_FAILED. The texts are checked first (CheckRequest), so a Get
    // whose name ends in no file name is refused here too.
    BOOL SendRequest(const char* lpszHost, const char* lpszName, WORD wDirection, WORD wMode);
    // The same for a request already checked; one that failed its check has
    // its message shown and sends nothing.
    BOOL SendRequest(const TftpRequestCheck& request, WORD wMode);

    // Reads one datagram into lpBuf and says what the caller must do with it:
    // TFTP_RESULT_NONE, _ACKED, _DATA + datagram length (already acknowledged),
    // or _ERROR + reason (the transfer is over).
    int Receive(void* lpBuf, int nBufLen, int nFlags = 0) override;

    // Numbers the DATA block whose payload the caller placed at offset 4 of
    // pPacket, keeps a copy in the send window for resending and sends it.
    // Returns the send's result, or 0 without sending when the payload is
    // longer than a block or the send window is full.
    int SendBlock(BYTE* pPacket, int nPayloadLength, int nFlags = 0);

    // One tick period (TFTP_TICK_MS). When a resend period has passed
    // without an accepted reply (6 ticks; a granted timeout's seconds), sends
    // again what awaits an answer: the request, the last ACK, or every block
    // of the send window not yet acknowledged. The third period without a
    // reply posts WM_TFTP_TIMEOUT instead. The ticks are the time of the
    // transfer's clock, set to that fixed period, so that a test's calls
    // are its time.
    virtual void OnTick();

    // Whether the transfer's resends follow its measured round trip: options
    // without a timeout were asked and no answer has refused or ignored
    // them (or a server granted them). Then OnClock, called every
    // TFTP_CLOCK_MS, resends what is unanswered after a few round trips and
    // ends the transfer after TFTP_SILENCE_LIMIT_MS without progress, and
    // OnTick does nothing. Every other transfer keeps OnTick's timing.
    bool Clocked() const { return m_bClocked; }
    virtual void OnClock();
    // The milliseconds the adaptive timing reads; a steady clock by default.
    void SetClock(std::function<ULONGLONG()> clock) { m_fnNow = std::move(clock); }

    // Ends the transfer and deletes the object: at once, or, when one of its
    // own calls is still running (a message box it shows runs the event loop,
    // which may reach the main window's end of the transfer), as soon as that call
    // returns. In between the socket is closed and nothing more is done.
    void DeleteWhenIdle();

    // Where the transfer's events are told; none by default.
    void SetLog(ITransferLog* pLog) { m_pLog = pLog; }

protected:
    void Log(std::string_view line);
    // Shows an error text in a message box, telling the log first.
    void ShowError(std::string_view text, UINT nType = MB_OK);

    // Marks a call from outside (readiness, tick, start) for the whole of its
    // run; the object is deleted at the end of the outermost one when that was
    // asked for meanwhile.
    class CCallScope {
    public:
        explicit CCallScope(CTFTPSocket& socket) : m_socket(socket) { ++m_socket.m_nCallDepth; }
        ~CCallScope();
        CCallScope(const CCallScope&) = delete;
        CCallScope& operator=(const CCallScope&) = delete;

    private:
        CTFTPSocket& m_socket;
    };

    // Acknowledges m_wBlock, the last block taken in order (0 answers an
    // OACK); the receiving half builds it. Returns the send's result.
    int SendAck(BYTE* pPacket, int nLength, int nFlags);
    // Judges the result of a send during the transfer. A datagram the system
    // could not queue just now counts as lost on the way: the resend covers
    // it. Any other failure ends the transfer: the state becomes
    // TFTP_STATE_CLOSED, the error is shown, and FALSE is returned.
    BOOL SendSucceeded(int nResult);
    // Sends an ERROR packet to the peer; an empty text gives the bare 5-byte form.
    int SendError(WORD wCode, std::string_view text = {});
    void ReportSocketError();
    void ReportPeerError(const BYTE* pPacket, int nLength);

    CWnd* m_pOwner;
    // The length of the request in m_pBuffer, which a resend sends again.
    int m_nLastLength;
    // Ticks since the transfer began: the time of the plain timing's clock.
    int m_nTicks;
    BOOL m_bOwnBuffer;
    BOOL m_bConnected;
    BYTE* m_pBuffer;
    WORD m_wMode;
    WORD m_wDirection;
    // Put: the last block sent, as the send window numbered it. Get: the
    // last block taken in order, which an ACK names.
    WORD m_wBlock;
    // The block an accepted reply carries. Put: the ACK that covers every
    // block sent (0 after the WRQ). Get: the DATA awaited (1 after the RRQ).
    WORD m_wExpected;
    TftpState m_wState;

    // The server's request address, the one being tried; the request's
    // resends go here.
    sockaddr_storage m_addrServer;
    // The sender of the last datagram read: before lock-in, where ERROR
    // packets go; from lock-in on, the server's transfer port, the only
    // sender whose datagrams are read.
    sockaddr_storage m_addrSender;

    TftpOptions m_options;
    TftpGranted m_granted;
    int m_nDatagramLength = 0;
    // The two halves of a transfer, over the block windows of RFC 7440 (one
    // block in lock-step). A Put's blocks are numbered by the sending half
    // and kept in its window's slots, which are m_pBuffer's; a Get's
    // receiving half says when an ACK is due and sends it.
    CSendHalf m_sender;
    CReceiveHalf m_receiver;

    // Called once, when the first request has gone out.
    virtual void OnRequestSent() {}

    // The transfer's clock: adaptive for a negotiated transfer (see
    // Clocked), read from Now(); else a fixed period, read from the ticks.
    bool m_bClocked = false;
    CTransferClock m_clock;
    // The time m_clock runs on.
    ULONGLONG ClockNow() const;
    // Starts m_clock again for the timing the transfer has now: adaptive
    // when clocked, else the granted timeout or the plain 3 seconds.
    void StartClock();
    // DATA blocks the peer's or this side's window showed missing.
    unsigned m_nKnownLost = 0;
    ULONGLONG Now() const;
    // Sends again the blocks the send window names (CSendWindow::Repeated),
    // saying so in the log when bLog. FALSE when the send failed for good.
    BOOL ResendWindow(bool bLog);
    // The resend period of the send window ran out: the new block the window
    // then allows goes (OnSendRoom), then the repeat.
    BOOL ResendAfterTimeout(bool bLog);
    // The send window allows new blocks: the owner of the file sends them.
    virtual void OnSendRoom() {}
    // The link of the halves: datagrams go to the locked-in server, and a
    // send that fails for good ends the transfer (SendSucceeded).
    bool SendToPeer(const BYTE* pDatagram, int nLength) override;
    // Keeps m_wBlock and m_wExpected at the newest block sent.
    void OnBlockSent(int nPayload) override;

    int m_nCallDepth = 0;
    BOOL m_bDeletePending = FALSE;
    ITransferLog* m_pLog = nullptr;

private:
    // What the transfer's clock does when it is read at nNowMs.
    void RunClock(ULONGLONG nNowMs);
    // Before the lock-in, to the sender of the last datagram read.
    int SendToSender(const BYTE* pPacket, int nLength);
    // An OACK granted the transfer's options.
    int ReceiveOack(const TftpGranted& granted);
    int RefuseOack(std::string_view szOption);
    BOOL Connected();
    // Sizes the block windows for m_granted: once with the request, for the
    // plain exchange, and again when an OACK grants otherwise.
    void ChooseWindows();
    // An ACK or DATA has been accepted: the options are settled and the
    // socket is locked in. FALSE when the lock-in fails.
    BOOL Accepted();
    // Ends the transfer for nReason, telling the peer with wErrorCode unless it is 0.
    int EndTransfer(int nReason, WORD wErrorCode);

    // The request's side, in client_socket_request.cpp.
    // The host's addresses, looked up or given; m_nAddress is being tried.
    void OnLookedUp(const HostLookupResult& result);
    BOOL TryAddresses();
    // Sends the request to m_addrServer from a new socket of its family and
    // restarts the count towards a resend. FALSE, with the system's error
    // in GetLastError, when it could not go.
    BOOL SendRequestFromNewSocket();
    BOOL NextAddressAfterSilence();
    // The request again, without options, from a fresh socket, after the
    // server answered ERROR wCode to the options.
    BOOL RetryWithoutOptions(WORD wCode);

    // The link's figures, at the end of an adaptively timed transfer.
    void LogLink();

    std::function<ULONGLONG()> m_fnNow;
    // What the request names and asks, and how far its options are settled.
    CTftpRequest m_request;
    std::vector<sockaddr_storage> m_addresses;
    size_t m_nAddress = 0;
    std::unique_ptr<CHostLookup> m_pLookup;
    // SendRequest is still running: a lookup that ends now is reported by
    // its result, not by WM_TFTP_FAILED.
    BOOL m_bInsideSendRequest = FALSE;
    // No request went out: the lookup failed, or no address took it.
    BOOL m_bRequestFailed = FALSE;
    BOOL m_bRequestSent = FALSE;
};
