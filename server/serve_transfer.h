// SPDX-License-Identifier: MIT
// One transfer of the server: its own UDP socket at the address the request
// came to, the send window of a read or the receive window of an upload,
// the resend timer, and the open file. Its memory: a block to receive at
// the start; a read's slots when its first block goes out, doubled as its
// window fills (a few times at most); nothing per block. Time comes from the
// caller.
#pragma once

#include <sys/socket.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/core/socket.h"
#include "protocol/clock.h"
#include "protocol/receive_half.h"
#include "protocol/send_half.h"
#include "protocol/transfer_file.h"
#include "server/serve_admit.h"
#include "server/serve_request.h"
#include "server/server.h"

class CServeTransfer;

// What a transfer asks of the server that runs it.
class IServeHost {
public:
    virtual ~IServeHost() = default;
    // Milliseconds of the owner's clock, for datagrams as they arrive.
    virtual ULONGLONG NowMs() = 0;
    virtual void Log(std::string_view line) = 0;
    // The transfer's row is final (it is called once); its socket may stay a
    // little longer to answer a resent last block.
    virtual void OnTransferEnded(CServeTransfer& transfer) = 0;
    // Whether an unasked ERROR (to a stranger) may go to `to` now.
    virtual bool MayAnswer(const sockaddr_storage& to, ULONGLONG nNowMs) = 0;
};

// What a transfer starts from: a request judged and admitted, its file open.
struct ServeStart {
    sockaddr_storage client = {};
    sockaddr_storage local = {}; // the address the request came to; port 0
    WORD wOpcode = TFTP_OPCODE_RRQ;
    ServeGrant grant;                 // nOrder 0: no OACK
    std::unique_ptr<CTFTPFile> pFile; // open for reading, or a replacement open for writing
    ULONGLONG nRoom = ~0ULL;          // an upload: the bytes it may fill
    ULONGLONG nSize = 0;              // a read's size on the wire, or the upload's tsize
    bool bSizeKnown = false;
    ULONGLONG nAdmittedSize = 0; // a read: the file's own size when admitted; it ends the read
    std::string name;            // as asked, escaped: for the row
    ServeUploadKey key;          // an upload: the file it stores
};

class CServeTransfer : public CAsyncSocket, private ITransferLink {
public:
    CServeTransfer(IServeHost& host, unsigned nId);
    ~CServeTransfer() override;

    // Opens the socket and sends the first datagram: the OACK, DATA 1 (a
    // read) or ACK 0 (an upload). False when that fails; the row says why,
    // and the host has been told.
    bool Start(ServeStart&& start, ULONGLONG nNowMs);

    // Reads what waits on the socket (a bounded number of datagrams).
    void OnReceive(int nErrorCode) override;
    // One datagram of nLength bytes from sender; the fuzzer and OnReceive call it.
    void OnDatagram(const BYTE* pDatagram, int nLength, const sockaddr_storage& sender, ULONGLONG nNowMs);
    // A datagram longer than any of this transfer's, not read.
    void OnOversized(const sockaddr_storage& sender, ULONGLONG nNowMs);
    // Resends when the period has passed; ends after the silence limit.
    void OnTick(ULONGLONG nNowMs);
    // When OnTick next has something to do; ~0ULL when never.
    ULONGLONG NextDeadlineMs() const;
    // Ends at once: ERROR 0 with lpszText to the client, an upload's partial
    // file removed, the socket closed.
    void Abort(const char* lpszText, ULONGLONG nNowMs);

    // Counts towards the limits: not yet ended.
    bool IsRunning() const { return m_phase != Phase::dallying && m_phase != Phase::closed; }
    // Nothing more to do: it may be deleted.
    bool IsFinished() const { return m_phase == Phase::closed; }
    const ServeRow& Row() const { return m_row; }
    WORD Opcode() const { return m_wOpcode; }
    const ServeUploadKey& Key() const { return m_key; }
    const TftpGranted& Granted() const { return m_grant.granted; }

protected:
    // Makes the socket at local (port 0). The fuzzer's transfer has none.
    virtual bool OpenSocket(const sockaddr_storage& local);

private:
    enum class Phase : BYTE {
        oack,      // the OACK is out: a read awaits ACK 0, an upload DATA 1
        sending,   // a read: DATA out, ACKs awaited
        receiving, // an upload: DATA awaited
        dallying,  // an upload is complete: its last ACK is sent again if the last DATA comes again
        closed,
    };

    // A stranger's datagram is answered (rate-limited) and goes no further.
    bool FromClient(const sockaddr_storage& sender, ULONGLONG nNowMs);
    // A read: blocks from the file until the window is full.
    void Fill(ULONGLONG nNowMs);
    // The link of the halves: datagrams to the client, at m_nNowMs.
    bool SendToPeer(const BYTE* pDatagram, int nLength) override;
    // More slots for the send window, up to the whole window; false when
    // there is no memory (the transfer has ended).
    bool MakeRoom(CSendWindow& window) override;
    void OnAck(int nSlid, ULONGLONG nNowMs);
    void OnData(const BYTE* pDatagram, int nLength, ULONGLONG nNowMs);
    void OnPeerError(const BYTE* pDatagram, int nLength, ULONGLONG nNowMs);
    void Resend(ULONGLONG nNowMs);
    // Sends to the client; a datagram the system could not queue counts as lost.
    // A failure that is not a loss ends the transfer at m_nNowMs.
    bool SendToClient(const BYTE* pDatagram, int nLength);
    void SendErrorTo(const sockaddr_storage& to, WORD wCode, const char* lpszText);
    void Progress(ULONGLONG nNowMs);
    // Ends the transfer: the row's state and reason, the host told.
    void End(ServeState state, std::string reason, ULONGLONG nNowMs, ServeReason code = ServeReason::other);
    // End after a local file error, telling the client.
    void FileFailed(const CFileException& error, ULONGLONG nNowMs);

    IServeHost& m_host;
    Phase m_phase = Phase::closed;
    WORD m_wOpcode = TFTP_OPCODE_RRQ;
    sockaddr_storage m_client = {};
    ServeGrant m_grant;
    std::unique_ptr<CTFTPFile> m_pFile;
    ServeUploadKey m_key;
    ServeRow m_row;

    // The receive buffer, taken at the start, and a read's slots, taken when
    // its first block goes out (after the OACK is answered) and grown as its
    // window fills.
    std::unique_ptr<BYTE[]> m_pReceive;
    int m_nReceiveSize = 0;
    std::unique_ptr<BYTE[]> m_pSlots;
    CSendHalf m_sender;      // a read
    CReceiveHalf m_receiver; // an upload
    // A read: the file's size when admitted. A file that ends before it or
    // goes past it fails the read, so a short copy never looks whole.
    ULONGLONG m_nAdmittedSize = 0;
    ULONGLONG m_nRoom = ~0ULL; // an upload: the bytes it may fill
    BYTE m_abOack[TFTP_MAX_OACK] = {};
    int m_nOackLength = 0;

    CTransferClock m_clock;
    ULONGLONG m_nNowMs = 0; // the time of the call the halves run in
    ULONGLONG m_nDallyEndMs = 0;
    bool m_bAnswered = false; // the client has acknowledged something (or sent DATA)
};
