// SPDX-License-Identifier: MIT
// Serving over HTTP: the listening socket and the library's daemon, and each
// request judged as the TFTP server judges a read request, then answered
// with the file sent by sendfile.
#include "server/serve_http.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "protocol/host_address.h"
#include "server/serve_admit.h"
#include "server/serve_http_parse.h"
#include "server/serve_names.h"

namespace {

// A connection idle this long (a client that stops reading too) is closed.
constexpr unsigned kIdleSeconds = 30;
// Room for one request's header: what a client sends beyond it is refused.
constexpr size_t kConnectionMemory = 32 * 1024;
// A request answered without a transfer, whose later calls and end need
// nothing more.
char g_answered;

sockaddr_storage StorageOf(const sockaddr* pAddress)
{
    sockaddr_storage address{};
    if (pAddress != nullptr && pAddress->sa_family == AF_INET)
        std::memcpy(&address, pAddress, sizeof(sockaddr_in));
    else if (pAddress != nullptr && pAddress->sa_family == AF_INET6)
        std::memcpy(&address, pAddress, sizeof(sockaddr_in6));
    return address;
}

void IgnoreSigpipeIfUnhandled()
{
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
        current.sa_handler == SIG_DFL)
        ::signal(SIGPIPE, SIG_IGN);
}

// A short plain-text answer; its text is fixed, never made of the request.
MHD_Result Reply(MHD_Connection* pConnection, unsigned nStatus, const char* lpszBody, const char* lpszHeader = nullptr,
                 const std::string& value = {})
{
    MHD_Response* response =
        MHD_create_response_from_buffer(std::strlen(lpszBody), const_cast<char*>(lpszBody), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    if (lpszHeader != nullptr)
        MHD_add_response_header(response, lpszHeader, value.c_str());
    const MHD_Result queued = MHD_queue_response(pConnection, nStatus, response);
    MHD_destroy_response(response);
    return queued;
}

} // namespace

struct CServeHttp::Hooks {
    static MHD_Result Accept(void* pSelf, const sockaddr* pAddress, socklen_t /*nLength*/)
    {
        auto& self = *static_cast<CServeHttp*>(pSelf);
        const sockaddr_storage from = StorageOf(pAddress);
        const ULONGLONG now = self.m_clock();
        if (!self.m_limits.bLocalNetworksOnly || self.m_guard.IsLocal(from, 0, now))
            return MHD_YES;
        // Closed at once: a stranger learns nothing of this server.
        if (self.m_guard.MayLog(from, now, 60000))
            self.Log("Ignored an HTTP connection from " + AddressText(from) + ": not on a local network");
        return MHD_NO;
    }

    // The name is decoded by Answer, not by the library, so that a "%00"
    // is refused rather than cutting the name short.
    static size_t KeepEscapes(void* /*pSelf*/, MHD_Connection* /*pConnection*/, char* lpszUri)
    {
        return std::strlen(lpszUri);
    }

    static MHD_Result Answer(void* pSelf, MHD_Connection* pConnection, const char* lpszUrl, const char* lpszMethod,
                             const char* /*lpszVersion*/, const char* /*pUpload*/, size_t* pUploadSize,
                             void** ppContext)
    {
        if (*ppContext != nullptr) {
            *pUploadSize = 0; // the body of a request already answered
            return MHD_YES;
        }
        *ppContext = &g_answered;
        return static_cast<CServeHttp*>(pSelf)->Answer(pConnection, lpszUrl, lpszMethod, ppContext) ? MHD_YES : MHD_NO;
    }

    static void Completed(void* pSelf, MHD_Connection* /*pConnection*/, void** ppContext,
                          MHD_RequestTerminationCode code)
    {
        if (*ppContext == nullptr || *ppContext == &g_answered)
            return;
        auto& transfer = *static_cast<Transfer*>(*ppContext);
        *ppContext = nullptr;
        auto& self = *static_cast<CServeHttp*>(pSelf);
        switch (code) {
        case MHD_REQUEST_TERMINATED_COMPLETED_OK:
            self.Ended(transfer, ServeReason::none, "");
            break;
        case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
            self.Ended(transfer, ServeReason::noAnswer, "The client stopped reading");
            break;
        case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
            self.Ended(transfer, ServeReason::stopped, "Server stopped");
            break;
        case MHD_REQUEST_TERMINATED_WITH_ERROR:
            self.Ended(transfer, ServeReason::clientError, "The connection failed");
            break;
        default:
            self.Ended(transfer, ServeReason::clientError, "The client closed the connection");
            break;
        }
    }
};

CServeHttp::CServeHttp(CWnd* pOwner, ITransferLog* pLog, CTFTPServer::Clock clock)
    : m_pOwner(pOwner), m_pLog(pLog), m_clock(std::move(clock))
{
}

CServeHttp::~CServeHttp()
{
    m_pOwner = nullptr;
    Stop();
}

std::string CServeHttp::Start(const sockaddr_storage& address, UINT nPort, const std::string& folder,
                              const ServeHttpLimits& limits)
{
    Stop();
    m_limits = limits;
    m_nFolderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_nFolderFd < 0)
        return folder + ": " + std::strerror(errno);
    sockaddr_storage bound = address;
    const bool v6 = bound.ss_family == AF_INET6;
    if (v6)
        reinterpret_cast<sockaddr_in6&>(bound).sin6_port = htons(static_cast<uint16_t>(nPort));
    else
        reinterpret_cast<sockaddr_in&>(bound).sin_port = htons(static_cast<uint16_t>(nPort));
    const auto fail = [&](int fd, std::string text) {
        if (fd >= 0)
            ::close(fd);
        ::close(m_nFolderFd);
        m_nFolderFd = -1;
        return text;
    };
    const int fd = ::socket(bound.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        (v6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&bound), static_cast<socklen_t>(AddressLength(bound))) != 0 ||
        ::listen(fd, 64) != 0)
        return fail(fd, AddressText(bound) + ": " + std::strerror(errno));
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);

    IgnoreSigpipeIfUnhandled();
    // Each client may hold a few idle connections and one more to be told
    // it is busy; every connection holds a descriptor.
    const auto total = static_cast<unsigned>(2 * std::max(limits.nMaxTransfers, 1) + 8);
    const auto perClient = static_cast<unsigned>(2 * std::max(limits.nMaxPerClient, 1) + 2);
    m_pDaemon = MHD_start_daemon(MHD_USE_EPOLL | (v6 ? MHD_USE_IPv6 : 0), 0, &Hooks::Accept, this, &Hooks::Answer, this,
                                 MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT, total,
                                 MHD_OPTION_PER_IP_CONNECTION_LIMIT, perClient, MHD_OPTION_CONNECTION_TIMEOUT,
                                 kIdleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
                                 MHD_OPTION_NOTIFY_COMPLETED, &Hooks::Completed, this, MHD_OPTION_UNESCAPE_CALLBACK,
                                 &Hooks::KeepEscapes, this, MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1, MHD_OPTION_END);
    if (m_pDaemon == nullptr) {
        // The library closes the socket on some of its ways out and not on
        // others; nothing here opens a descriptor in between.
        return fail(::fcntl(fd, F_GETFD) != -1 ? fd : -1,
                    AddressText(bound) + ": the HTTP server could not start (no memory or descriptors)");
    }
    m_nPort = ntohs(v6 ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                       : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    SelectOpenMethod(m_nFolderFd);
    Log("Serving " + folder + " over HTTP on " + AddressText(bound));
    return {};
}

void CServeHttp::Stop()
{
    if (m_pDaemon != nullptr) {
        // Every connection ends here, its row with it (Hooks::Completed).
        MHD_stop_daemon(m_pDaemon);
        m_pDaemon = nullptr;
        Log("Serving over HTTP stopped");
    }
    while (!m_running.empty())
        Ended(*m_running.front(), ServeReason::stopped, "Server stopped");
    if (m_nFolderFd >= 0)
        ::close(m_nFolderFd);
    m_nFolderFd = -1;
    m_nPort = 0;
}

std::vector<int> CServeHttp::Fds() const
{
    if (m_pDaemon == nullptr)
        return {};
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_pDaemon, MHD_DAEMON_INFO_EPOLL_FD);
    return info != nullptr ? std::vector<int>{info->epoll_fd} : std::vector<int>{};
}

ULONGLONG CServeHttp::NextDeadlineMs() const
{
    MHD_UNSIGNED_LONG_LONG wait = 0;
    if (m_pDaemon == nullptr || MHD_get_timeout(m_pDaemon, &wait) != MHD_YES)
        return ~0ULL;
    return m_clock() + wait;
}

void CServeHttp::OnReady()
{
    if (m_pDaemon != nullptr)
        MHD_run(m_pDaemon);
}

bool CServeHttp::Answer(MHD_Connection* pConnection, const char* lpszUrl, const char* lpszMethod, void** ppContext)
{
    const ULONGLONG now = m_clock();
    ServeRow row;
    row.protocol = ServeProtocol::http;
    const MHD_ConnectionInfo* peer = MHD_get_connection_info(pConnection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    row.client = StorageOf(peer != nullptr ? peer->client_addr : nullptr);
    row.nStartMs = now;
    const std::optional<std::string> path = DecodeHttpPath(lpszUrl);
    row.file = EscapedText(path ? *path : std::string(lpszUrl));
    const bool head = std::strcmp(lpszMethod, MHD_HTTP_METHOD_HEAD) == 0;
    const std::string what = "Read request from " + AddressText(row.client) + " for \"" + row.file + "\" (HTTP " +
                             EscapedText(lpszMethod, 16) + ")";
    const auto refuse = [&](unsigned status, ServeReason code, std::string reason, const char* lpszBody,
                            const char* lpszHeader = nullptr, const std::string& value = {}) {
        row.reason = std::move(reason);
        row.reasonCode = code;
        Refused(std::move(row), what);
        return Reply(pConnection, status, lpszBody, lpszHeader, value) == MHD_YES;
    };
    if (!head && std::strcmp(lpszMethod, MHD_HTTP_METHOD_GET) != 0)
        return refuse(MHD_HTTP_METHOD_NOT_ALLOWED, ServeReason::clientError, "Only GET and HEAD are served",
                      "Method not allowed\n", MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    if (!path)
        return refuse(MHD_HTTP_BAD_REQUEST, ServeReason::badName, "A % not followed by two hex digits",
                      "Bad request\n");
    size_t fromClient = 0;
    for (const auto& transfer : m_running)
        fromClient += MakeSourceKey(transfer->row.client) == MakeSourceKey(row.client) ? 1 : 0;
    if (m_running.size() >= static_cast<size_t>(std::max(m_limits.nMaxTransfers, 0)) ||
        fromClient >= static_cast<size_t>(std::max(m_limits.nMaxPerClient, 0)))
        return refuse(MHD_HTTP_SERVICE_UNAVAILABLE, ServeReason::busy, "Server busy", "Server busy\n",
                      MHD_HTTP_HEADER_RETRY_AFTER, "1");

    // Judged and opened as a TFTP read request is; a client that has drawn
    // its refusals of this second gets no search for a name in another case.
    ServeRequest request;
    request.wOpcode = TFTP_OPCODE_RRQ;
    request.szName = *path;
    ServeFolder folder;
    folder.dirFd = m_nFolderFd;
    folder.bBackslashIsSlash = m_limits.bBackslashIsSlash;
    folder.bIgnoreCase = m_limits.bIgnoreCase && !m_guard.Spent(row.client, now);
    ServeAdmission admission = AdmitRead(request, folder);
    if (admission.bRefused) {
        if (admission.wErrorCode != TFTP_ERROR_NOT_DEFINED)
            return refuse(MHD_HTTP_NOT_FOUND, admission.reasonCode, admission.reason, "Not found\n");
        return admission.reasonCode == ServeReason::fileError
                   ? refuse(MHD_HTTP_INTERNAL_SERVER_ERROR, admission.reasonCode, admission.reason,
                            "Cannot read the file\n")
                   : refuse(MHD_HTTP_SERVICE_UNAVAILABLE, admission.reasonCode, admission.reason, "Server busy\n");
    }
    // The library closes its own descriptor when the response is done.
    const int fd = ::fcntl(admission.pFile->m_hFile, F_DUPFD_CLOEXEC, 0);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        if (fd >= 0)
            ::close(fd);
        return refuse(MHD_HTTP_SERVICE_UNAVAILABLE, ServeReason::other, std::strerror(errno), "Server busy\n");
    }
    const ULONGLONG size = admission.nAdmittedSize;
    const std::string modified = HttpDate(status.st_mtime);
    const char* lpszRange = MHD_lookup_connection_value(pConnection, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE);
    const char* lpszIfRange = MHD_lookup_connection_value(pConnection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_RANGE);
    // A range of a file that has changed since the client's copy would mix
    // two files: then the whole file goes.
    const HttpRange range = lpszRange == nullptr || (lpszIfRange != nullptr && modified != lpszIfRange)
                                ? HttpRange{HttpRange::whole, 0, size}
                                : ParseHttpRange(lpszRange, size);
    if (range.kind == HttpRange::unsatisfiable) {
        ::close(fd);
        return refuse(MHD_HTTP_RANGE_NOT_SATISFIABLE, ServeReason::clientError, "Range not satisfiable",
                      "Range not satisfiable\n", MHD_HTTP_HEADER_CONTENT_RANGE, "bytes */" + std::to_string(size));
    }
    const bool part = range.kind == HttpRange::part;
    const ULONGLONG first = part ? range.nFirst : 0;
    const ULONGLONG length = part ? range.nLength : size;
    MHD_Response* response = MHD_create_response_from_fd_at_offset64(length, fd, first);
    if (response == nullptr) {
        ::close(fd);
        return refuse(MHD_HTTP_SERVICE_UNAVAILABLE, ServeReason::other, "No memory for the answer", "Server busy\n");
    }
    const std::string granted =
        "bytes " + std::to_string(first) + "-" + std::to_string(first + length - 1) + "/" + std::to_string(size);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "application/octet-stream");
    MHD_add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED, modified.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
    if (part)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, granted.c_str());
    const MHD_Result queued = MHD_queue_response(pConnection, part ? MHD_HTTP_PARTIAL_CONTENT : MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    if (queued != MHD_YES)
        return false;

    auto transfer = std::make_unique<Transfer>();
    transfer->row = std::move(row);
    transfer->row.nId = m_nNextId++;
    transfer->row.nSize = size;
    transfer->row.bSizeKnown = true;
    transfer->row.granted = part ? granted : std::string();
    transfer->bHead = head;
    transfer->nBody = head ? 0 : length;
    const MHD_ConnectionInfo* socket = MHD_get_connection_info(pConnection, MHD_CONNECTION_INFO_CONNECTION_FD);
    transfer->socketFd = socket != nullptr ? socket->connect_fd : -1;
    transfer->nAckedBefore = AckedBytes(transfer->socketFd);
    Log(what + (part ? ", " + granted : std::string()));
    *ppContext = transfer.get();
    m_running.push_back(std::move(transfer));
    Changed();
    return true;
}
