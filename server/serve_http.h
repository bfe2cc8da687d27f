// SPDX-License-Identifier: MIT
// The served folder over HTTP, read-only, beside the TFTP server (GNU
// libmicrohttpd): GET and HEAD of regular files beneath the folder, one
// Range each, Content-Length and Last-Modified; nothing listed for folders.
// A name is judged and opened exactly as a TFTP read request's (AdmitRead),
// under the same limits and the same local-networks rule, and each request
// becomes a row and log lines as a TFTP one does.
//
// Single-threaded, driven by the owner's loop: it watches Fds() for reading
// and calls OnReady() when one is readable or NextDeadlineMs() has come.
// The library runs with its own epoll set and no thread of its own.
#pragma once

#include <sys/socket.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "server/serve_guard.h"
#include "server/server.h"

struct MHD_Connection;
struct MHD_Daemon;

// What HTTP shares with the TFTP server's settings (ServeConfig).
struct ServeHttpLimits {
    int nMaxTransfers = 64; // GET and HEAD answered at once, from all clients
    int nMaxPerClient = 8;  // from one client address, any port
    bool bLocalNetworksOnly = true;
    bool bBackslashIsSlash = true;
    bool bIgnoreCase = false;

    static ServeHttpLimits Of(const ServeConfig& config)
    {
        return ServeHttpLimits{config.nMaxTransfers, config.nMaxPerClient, config.bLocalNetworksOnly,
                               config.bBackslashIsSlash, config.bIgnoreCase};
    }
};

class CServeHttp {
public:
    static constexpr UINT kDefaultPort = 8069;

    // As CTFTPServer's: pOwner gets WM_SERVE_CHANGED when a row comes or
    // ends, pLog (may be null) a line per request and one per end; both
    // outlive this. Rows' times are of clock.
    CServeHttp(CWnd* pOwner, ITransferLog* pLog, CTFTPServer::Clock clock);
    ~CServeHttp(); // stops
    CServeHttp(const CServeHttp&) = delete;
    CServeHttp& operator=(const CServeHttp&) = delete;

    // Serves folder on address (its port left out) and nPort (0: one the
    // system chooses), a server already serving being stopped first. Returns
    // "" when serving, else what failed in one line ("192.0.2.1:8069:
    // Address already in use"), with nothing left open. SIGPIPE is ignored
    // from then on if it was not handled: the files go out with sendfile,
    // which would raise it when a client goes away.
    std::string Start(const sockaddr_storage& address, UINT nPort, const std::string& folder,
                      const ServeHttpLimits& limits);
    // Closes every connection (their rows end "Server stopped") and the
    // listening socket, so the port can be bound again at once. Rows stay.
    void Stop();
    bool IsServing() const { return m_pDaemon != nullptr; }
    // The port listened on; 0 when not serving.
    UINT Port() const { return m_nPort; }

    // The descriptors to watch for reading while serving.
    std::vector<int> Fds() const;
    // When OnReady must be called even if no descriptor is readable (a
    // connection's idle timeout, or work the library has left); ~0ULL when
    // nothing waits. Of the owner's clock.
    ULONGLONG NextDeadlineMs() const;
    // Accepts, reads, answers and sends as far as the sockets allow now.
    void OnReady();

    // From the next connection on.
    void SetLocalNetworksOnly(bool bLocalOnly) { m_limits.bLocalNetworksOnly = bLocalOnly; }

    // As CTFTPServer's, each with protocol ServeProtocol::http; ids count
    // from 1 among these rows. A running row's nBytes are those the client
    // has acknowledged (the response's header counted in, some hundred
    // bytes); a complete one's are the body's.
    const std::vector<ServeRow>& Rows() const;
    void ClearFinished();
    // Requests being answered now.
    size_t Running() const { return m_running.size(); }

    struct Hooks; // the library's callbacks

private:
    // A request being answered, from its header to the library's notice
    // that the response is done.
    struct Transfer {
        ServeRow row;
        int socketFd = -1;          // the connection's, for its progress
        ULONGLONG nAckedBefore = 0; // bytes the client had acknowledged when it asked
        ULONGLONG nBody = 0;        // bytes of the file the response carries
        bool bHead = false;
    };

    // Answers a request whose header has come; false closes the connection.
    // *ppContext becomes the Transfer when the file goes out.
    bool Answer(MHD_Connection* pConnection, const char* lpszUrl, const char* lpszMethod, void** ppContext);
    // The bytes the peer of a TCP socket has acknowledged; 0 when not known.
    static ULONGLONG AckedBytes(int fd);
    void Log(const std::string& line);
    void Changed();
    void AddFinished(ServeRow row);
    // A request answered without the file: logged, and given a row, as far
    // as the client's refusals allow.
    void Refused(ServeRow row, const std::string& what);
    // The end of a transfer, complete when code is none; its row is finished.
    void Ended(Transfer& transfer, ServeReason code, const char* lpszReason);

    CWnd* m_pOwner;
    ITransferLog* m_pLog;
    CTFTPServer::Clock m_clock;
    MHD_Daemon* m_pDaemon = nullptr;
    int m_nFolderFd = -1;
    UINT m_nPort = 0;
    ServeHttpLimits m_limits;
    CServeGuard m_guard;
    std::vector<std::unique_ptr<Transfer>> m_running;
    std::deque<ServeRow> m_finished;
    mutable std::vector<ServeRow> m_rows;
    mutable bool m_bPosted = false;
    unsigned m_nNextId = 1;
};
