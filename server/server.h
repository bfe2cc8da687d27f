// SPDX-License-Identifier: MIT
// The TFTP server: one folder served to clients (RFC 1350; options RFC 2347,
// 2348, 2349, 7440). Listening sockets take requests; each transfer has a
// socket of its own (CServeTransfer). Single-threaded: readiness comes from
// the installed socket watcher, ticks and the clock from the owner. The
// engine never reads a clock itself.
#pragma once

#include <sys/socket.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/wnd.h"
#include "protocol/tftp.h"
#include "protocol/transfer_log.h"

// The server's rows (CTFTPServer::Rows) have changed; posted at most once
// until the owner reads them again.
inline constexpr UINT WM_SERVE_CHANGED = WM_USER + 20;

class CServeListener;
class CServeTransfer;
class CServeCore;
class CServeSockets;

struct ServeConfig {
    std::string folder; // the folder served; must exist and be a directory
    // The addresses listened on, each with its port set. Empty: 0.0.0.0 and
    // :: on nPort (an IPv6 socket of its own, IPV6_V6ONLY).
    std::vector<sockaddr_storage> listen;
    UINT nPort = TFTP_SERVER_PORT; // 0: a port the system chooses (tests)
    bool bAllowUpload = false;
    bool bAllowCreate = false;
    bool bReplaceExisting = false;
    bool bLocalNetworksOnly = true;
    int nMaxTransfers = 64;
    int nMaxPerClient = 8;    // per client address, any port
    int nMaxBlockSize = 1468; // also capped by the MTU of the interface a request came in on
    int nMaxWindowSize = 64;
    bool bBackslashIsSlash = true;
    bool bIgnoreCase = false;
};

// What may change while serving; it applies from the next request on.
struct ServePolicy {
    bool bAllowUpload = false;
    bool bAllowCreate = false;
    bool bReplaceExisting = false;
    bool bLocalNetworksOnly = true;
};

enum class ServeState : BYTE {
    running,
    done,      // the whole file moved
    failed,    // ended early: an ERROR either way, a timeout, a file error, Stop
    refused,   // answered with an ERROR before any data
    sizeQuery, // the client asked for tsize and ended with ERROR 8 after the OACK (UEFI, PXE)
};

// Why a transfer was refused or failed, for the window's advice.
enum class ServeReason : BYTE {
    none,
    notFound,      // ERROR 1: no such file
    accessDenied,  // ERROR 2: outside the folder, not a regular file, no permission
    badName,       // ERROR 2: an empty name, "." or "..", a control character, too long
    uploadsOff,    // an upload while uploads are off
    createOff,     // an upload of a new file while new files are off
    exists,        // an upload of a file that exists (or appeared) while replacing is off
    noFolder,      // an upload into a folder that does not exist
    uploadRunning, // another upload of the same file is running
    diskFull,      // no room for the upload
    busy,          // too many transfers, in all or from that client
    fileChanged,   // the file changed while it was sent
    fileError,     // reading or writing the file failed
    noAnswer,      // the client stopped answering
    clientError,   // the client ended it with an ERROR, or sent what does not belong
    stopped,       // the server was stopped
    other,
};

enum class ServeProtocol : BYTE {
    tftp,
    http, // a GET or HEAD of the folder served over HTTP (CServeHttp)
};

// One request and what became of it.
struct ServeRow {
    unsigned nId = 0; // unique among one protocol's rows while the server lives, counting from 1
    ServeProtocol protocol = ServeProtocol::tftp;
    sockaddr_storage client = {};    // the client's address and port
    std::string file;                // the name as asked, bounded, control bytes escaped
    WORD wDirection = DIRECTION_GET; // DIRECTION_GET: the client reads; DIRECTION_PUT: it uploads
    std::string granted;             // the options granted, as the log shows them; empty: none
    ULONGLONG nBytes = 0;            // payload bytes acknowledged (read) or stored (upload)
    ULONGLONG nSize = 0;             // the file's size, when bSizeKnown
    bool bSizeKnown = false;
    ULONGLONG nStartMs = 0; // the owner's clock
    ULONGLONG nEndMs = 0;   // 0 while running
    unsigned nResends = 0;  // timeouts that sent something again
    ServeState state = ServeState::running;
    std::string reason; // why it failed or was refused, one line of plain text
    ServeReason reasonCode = ServeReason::none;
};

enum class ServeStartError {
    none,
    folder,       // the folder cannot be opened as a directory
    inUse,        // EADDRINUSE on a listening address
    notPermitted, // EACCES or EPERM: a privileged port without the privilege
    other,        // any other failure; pDetail says what
};

class CTFTPServer {
public:
    // Milliseconds of a monotonic clock; the owner's (tests pass their own).
    using Clock = std::function<ULONGLONG()>;
    // Makes a bound datagram socket for one listening address (whose port is
    // set). Returns its descriptor, or -1 with errno set. The default is a
    // plain socket and bind; the window passes one that can ask the
    // privileged helper for port 69.
    using Binder = std::function<int(const sockaddr_storage&)>;

    // pOwner gets WM_SERVE_CHANGED; pLog (may be null) one line per request
    // and one per end, never one per block; both must outlive the server.
    // clock is read when datagrams arrive and are sent; OnTick's time must be
    // of the same clock. pSockets, when given, makes the listeners and the
    // transfers instead of real sockets (tests: a network of their own); it
    // must outlive the server.
    CTFTPServer(CWnd* pOwner, ITransferLog* pLog, Clock clock, CServeSockets* pSockets = nullptr);
    ~CTFTPServer(); // stops
    CTFTPServer(const CTFTPServer&) = delete;
    CTFTPServer& operator=(const CTFTPServer&) = delete;

    // Opens the folder and binds every listening address (a server already
    // serving is stopped first); on any failure nothing stays open and
    // pDetail (when given) says which address and why.
    ServeStartError Start(const ServeConfig& config, const Binder& binder = {}, std::string* pDetail = nullptr);
    // Ends every transfer at once, each client told ERROR 0 "Server stopped";
    // partial uploads are removed; every socket is closed, so the port can be
    // bound again at once. The rows stay.
    void Stop();
    bool IsServing() const;
    // The addresses actually listened on (with the port the system chose for nPort 0).
    std::vector<sockaddr_storage> ListeningAddresses() const;

    void SetPolicy(const ServePolicy& policy);
    ServePolicy Policy() const;

    // Resends and timeouts; the owner calls it about every 10 ms while serving.
    void OnTick(ULONGLONG nNowMs);
    // The earliest time at which OnTick has something to do; ~0ULL when
    // nothing waits. A server in a process of its own sleeps in poll() until
    // then instead of ticking every 10 ms.
    ULONGLONG NextDeadlineMs() const;

    // Newest last; running rows always, finished ones the last 200. Reading
    // them allows the next WM_SERVE_CHANGED.
    const std::vector<ServeRow>& Rows() const;
    // Drops the finished rows.
    void ClearFinished();
    // Transfers running now.
    size_t Running() const;

private:
    std::unique_ptr<CServeCore> m_pCore;
};
