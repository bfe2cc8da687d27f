// SPDX-License-Identifier: MIT
// The listening side of the server: starting and stopping, and each request
// judged (local networks, parsing, resent requests, limits, admission)
// before a transfer starts for it.
#include "server/serve_core.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/core/replace_file.h"
#include "protocol/host_address.h"
#include "protocol/packet.h"
#include "server/serve_names.h"

namespace {

// Requests read per readiness report: a flood is taken in bites, and the
// window's event loop runs in between.
constexpr int kRequestsPerWake = 32;
// How often a line about a source that gets no answer at all (outside the
// local networks, or asking by broadcast) may be logged.
constexpr ULONGLONG kOutsiderLogMs = 60000;

sockaddr_storage AnyAddress(int nFamily, UINT nPort)
{
    sockaddr_storage address{};
    if (nFamily == AF_INET) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(nPort));
    } else {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(nPort));
    }
    return address;
}

bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b)
{
    sockaddr_storage x = a;
    sockaddr_storage y = b;
    // The port left out: a client is its address.
    reinterpret_cast<sockaddr_in&>(x).sin_port = 0;
    reinterpret_cast<sockaddr_in&>(y).sin_port = 0;
    return SameEndpoint(x, y);
}

// Whether an upload running now stores the file key names.
bool UploadRunning(const std::vector<std::unique_ptr<CServeTransfer>>& transfers, const ServeUploadKey& key)
{
    return std::any_of(transfers.begin(), transfers.end(), [&](const auto& transfer) {
        return transfer->IsRunning() && transfer->Opcode() == TFTP_OPCODE_WRQ && transfer->Key() == key;
    });
}

// Removes the new files of uploads cut off in an earlier run (a crash, a
// power cut), a day old or more: a running upload's file is younger. The
// walk is bounded, so a huge folder costs a start little.
void RemoveUnfinishedUploads(int dirFd, IServeHost& host)
{
    constexpr std::time_t kDay = 24 * 60 * 60;
    constexpr int kDepth = 16;
    constexpr size_t kEntries = 20000;
    const size_t removed = AfxRemoveOldReplacements(dirFd, kDay, kDepth, kEntries);
    if (removed > 0)
        host.Log("Removed " + std::to_string(removed) + " unfinished upload" + (removed == 1 ? "" : "s") +
                 " older than a day");
}

// The largest block that fits one datagram on a link of nMtu bytes: the
// IP header (20 bytes, 40 for IPv6), UDP's 8 and TFTP's 4 leave the rest.
int BlockSizeForMtu(UINT nMtu, const sockaddr_storage& from)
{
    const bool v6 =
        from.ss_family == AF_INET6 && !IN6_IS_ADDR_V4MAPPED(&reinterpret_cast<const sockaddr_in6&>(from).sin6_addr);
    const int overhead = v6 ? 52 : 32;
    return static_cast<int>(std::min<UINT>(nMtu, TFTP_MAX_BLOCK_SIZE + 52)) - overhead;
}

} // namespace

void CServeListener::OnReceive(int /*nErrorCode*/)
{
    m_core.OnRequests(*this);
}

std::unique_ptr<CServeListener> CServeSockets::MakeListener(CServeCore& core, const sockaddr_storage& address,
                                                            const CTFTPServer::Binder& binder)
{
    const int fd = binder ? binder(address) : AfxBindDatagramSocket(address);
    if (fd < 0)
        return nullptr;
    auto listener = std::make_unique<CServeListener>(core);
    if (!listener->Attach(fd, FD_READ) || !listener->EnablePacketInfo()) {
        const int error = CAsyncSocket::GetLastError();
        listener.reset(); // its socket closed before errno is set
        errno = error;
        return nullptr;
    }
    return listener;
}

std::unique_ptr<CServeTransfer> CServeSockets::MakeTransfer(IServeHost& host, unsigned nId)
{
    return std::make_unique<CServeTransfer>(host, nId);
}

ServeStartError CServeCore::Start(const ServeConfig& config, const CTFTPServer::Binder& binder, std::string* pDetail)
{
    Stop();
    const auto fail = [&](ServeStartError error, std::string detail) {
        if (pDetail != nullptr)
            *pDetail = std::move(detail);
        m_listeners.clear();
        if (m_folder.dirFd >= 0)
            ::close(m_folder.dirFd);
        m_folder.dirFd = -1;
        return error;
    };
    m_config = config;
    m_policy =
        ServePolicy{config.bAllowUpload, config.bAllowCreate, config.bReplaceExisting, config.bLocalNetworksOnly};
    m_folder.bBackslashIsSlash = config.bBackslashIsSlash;
    m_folder.bIgnoreCase = config.bIgnoreCase;
    m_folder.limits = ServeLimits{config.nMaxBlockSize, config.nMaxWindowSize};
    m_folder.dirFd = ::open(config.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folder.dirFd < 0)
        return fail(ServeStartError::folder, config.folder + ": " + std::strerror(errno));

    std::vector<sockaddr_storage> addresses = config.listen;
    const bool byDefault = addresses.empty();
    if (byDefault)
        addresses = {AnyAddress(AF_INET, config.nPort), AnyAddress(AF_INET6, config.nPort)};
    for (const sockaddr_storage& address : addresses) {
        std::unique_ptr<CServeListener> listener = m_pSockets->MakeListener(*this, address, binder);
        const int error = errno;
        // A machine without IPv6 still serves IPv4 by default.
        if (!listener && byDefault && address.ss_family == AF_INET6 &&
            (error == EAFNOSUPPORT || error == EADDRNOTAVAIL))
            continue;
        if (!listener) {
            const ServeStartError kind = error == EADDRINUSE                 ? ServeStartError::inUse
                                         : error == EACCES || error == EPERM ? ServeStartError::notPermitted
                                                                             : ServeStartError::other;
            return fail(kind, AddressText(address) + ": " + std::strerror(error));
        }
        m_listeners.push_back(std::move(listener));
    }
    int error = 0;
    if (!SelectOpenMethod(m_folder.dirFd, &error))
        Log(std::string("openat2 is not available (") + std::strerror(error) +
            "): names are opened one folder at a time, and symbolic links in the folder are not followed");
    Log("Serving " + config.folder);
    if (config.bAllowUpload)
        RemoveUnfinishedUploads(m_folder.dirFd, *this);
    return ServeStartError::none;
}

void CServeCore::Stop()
{
    const ULONGLONG now = m_listeners.empty() && m_transfers.empty() ? 0 : NowMs();
    for (const auto& transfer : m_transfers)
        transfer->Abort("Server stopped", now);
    m_transfers.clear();
    const bool wasServing = !m_listeners.empty();
    m_listeners.clear();
    if (m_folder.dirFd >= 0)
        ::close(m_folder.dirFd);
    m_folder.dirFd = -1;
    if (wasServing)
        Log("Serving stopped");
}

void CServeCore::OnRequests(CServeListener& listener)
{
    for (int i = 0; i < kRequestsPerWake; ++i) {
        sockaddr_storage from{};
        sockaddr_storage local{};
        DatagramArrival arrival;
        const int length =
            listener.ReceiveFromWithLocal(m_abRequest, sizeof m_abRequest, &from, &local, MSG_DONTWAIT, &arrival);
        if (length == SOCKET_ERROR && CAsyncSocket::GetLastError() == EMSGSIZE)
            continue; // longer than any request: not one
        if (length == SOCKET_ERROR)
            return;
        OnRequest(listener, m_abRequest, length, from, Arrival{local, arrival}, NowMs());
        // Stop frees the listener. A request reaches the owner only as a
        // posted message, so none stops the server here; the check keeps a
        // freed listener from being read should one ever do so.
        if (m_listeners.empty())
            return;
    }
}

void CServeCore::OnRequest(CServeListener& listener, const BYTE* pDatagram, int nLength, const sockaddr_storage& from,
                           const Arrival& arrival, ULONGLONG nNowMs)
{
    if ((from.ss_family != AF_INET && from.ss_family != AF_INET6) ||
        reinterpret_cast<const sockaddr_in&>(from).sin_port == 0)
        return;
    // A request to every server on the segment is one that no server was
    // asked for: answering it would let one forged datagram draw many.
    if (m_guard.IsBroadcast(arrival.packet.destination, nNowMs)) {
        if (m_guard.MayLog(from, nNowMs, kOutsiderLogMs))
            Log("Ignored a request from " + AddressText(from) + " sent to " +
                AddressOnlyText(arrival.packet.destination) + ": a broadcast or multicast address");
        return;
    }
    if (m_policy.bLocalNetworksOnly && !m_guard.IsLocal(from, arrival.packet.nIfIndex, nNowMs)) {
        // No answer at all: a stranger learns nothing of this server.
        if (m_guard.MayLog(from, nNowMs, kOutsiderLogMs))
            Log("Ignored a request from " + AddressText(from) + ": not on a local network");
        return;
    }
    const ServeRequestVerdict verdict = ParseServeRequest(pDatagram, nLength);
    if (verdict.answer == ServeAnswer::ignore)
        return;
    if (verdict.answer == ServeAnswer::refuse) {
        const CServeGuard::Refusal refusal = m_guard.Refuse(from, nNowMs);
        if (refusal.bLog)
            Log("Refused a request from " + AddressText(from) + ": " + verdict.lpszError);
        // What was not a request draws no more than it sent.
        if (refusal.bAnswer)
            Answer(listener, from, arrival.local, verdict.wErrorCode, verdict.lpszError, nLength);
        return;
    }
    const ServeRequest& request = verdict.request;
    // The same request again from the same port: its transfer answers it.
    size_t fromClient = 0;
    for (const auto& transfer : m_transfers) {
        if (transfer->IsFinished() || !SameHost(transfer->Row().client, from))
            continue;
        fromClient += transfer->IsRunning() ? 1 : 0;
        if (SameEndpoint(transfer->Row().client, from) && transfer->Opcode() == request.wOpcode &&
            transfer->Row().file == EscapedText(request.szName))
            return;
    }

    const bool read = request.wOpcode == TFTP_OPCODE_RRQ;
    ServeRow row;
    row.client = from;
    row.file = EscapedText(request.szName);
    row.wDirection = read ? DIRECTION_GET : DIRECTION_PUT;
    row.nStartMs = nNowMs;
    const std::string what = std::string(read ? "Read" : "Write") + " request from " + AddressText(from) + " for \"" +
                             row.file + "\" (" + TftpModeString(request.wMode) + ")";
    if (Running() >= static_cast<size_t>(std::max(m_config.nMaxTransfers, 0)) ||
        fromClient >= static_cast<size_t>(std::max(m_config.nMaxPerClient, 0))) {
        row.reason = "Server busy";
        row.reasonCode = ServeReason::busy;
        Refuse(listener, std::move(row), what, arrival.local, TFTP_ERROR_NOT_DEFINED, "Server busy");
        return;
    }

    // A block fits one datagram on the link the request came in on, and a
    // source that has drawn its refusals of this second gets no search for
    // a name that differs only in case.
    ServeFolder folder = m_folder;
    if (const UINT mtu = m_guard.Mtu(arrival.packet.nIfIndex, nNowMs); mtu > 0)
        folder.limits.nMaxBlockSize =
            std::max(TFTP_MIN_BLOCK_SIZE, std::min(folder.limits.nMaxBlockSize, BlockSizeForMtu(mtu, from)));
    if (m_guard.Spent(from, nNowMs))
        folder.bIgnoreCase = false;
    ServeAdmission admission =
        read ? AdmitRead(request, folder) : AdmitWrite(request, folder, m_policy, [this](const ServeUploadKey& key) {
            return UploadRunning(m_transfers, key);
        });
    if (admission.bRefused) {
        row.reason = admission.reason;
        row.reasonCode = admission.reasonCode;
        Refuse(listener, std::move(row), what, arrival.local, admission.wErrorCode, admission.lpszError);
        return;
    }

    row.nId = m_nNextId++;
    ServeStart start;
    start.client = from;
    start.local = arrival.local.ss_family != AF_UNSPEC ? arrival.local : AnyAddress(from.ss_family, 0);
    start.wOpcode = request.wOpcode;
    start.grant = admission.grant;
    start.pFile = std::move(admission.pFile);
    start.nRoom = admission.nRoom;
    start.nSize = admission.nSize;
    start.bSizeKnown = admission.bSizeKnown;
    start.nAdmittedSize = admission.nAdmittedSize;
    start.name = row.file;
    start.key = std::move(admission.key);
    Log(what + (admission.grant.nOrder > 0 ? ", granted " + ServeGrantText(admission.grant) : std::string()) +
        (request.nUnknown > 0 ? ", " + std::to_string(request.nUnknown) + " unknown options left out" : ""));
    m_transfers.push_back(m_pSockets->MakeTransfer(*this, row.nId));
    if (!m_transfers.back()->Start(std::move(start), nNowMs))
        Answer(listener, from, arrival.local, TFTP_ERROR_NOT_DEFINED, "Cannot start the transfer");
    Changed();
}

void CServeCore::Refuse(CServeListener& listener, ServeRow row, const std::string& what, const sockaddr_storage& local,
                        WORD wCode, const char* lpszText)
{
    const ULONGLONG now = row.nStartMs;
    const CServeGuard::Refusal refusal = m_guard.Refuse(row.client, now);
    if (!refusal.bLog)
        return; // counted, and told in the source's summary
    Log(what + ": refused, " + row.reason);
    if (refusal.bAnswer)
        Answer(listener, row.client, local, wCode, lpszText);
    if (!m_guard.MayAddRow(row.client, row.file, now))
        return;
    row.nId = m_nNextId++;
    row.state = ServeState::refused;
    row.nEndMs = now;
    AddFinished(std::move(row));
}

void CServeCore::Answer(CServeListener& listener, const sockaddr_storage& to, const sockaddr_storage& local, WORD wCode,
                        const char* lpszText, int nMaxLength)
{
    BYTE packet[128];
    int length = BuildError(packet, sizeof packet, wCode, lpszText);
    // Too long for the bound: the code alone, or nothing at all.
    if (length > nMaxLength)
        length = BuildError(packet, sizeof packet, wCode, "");
    if (length > nMaxLength)
        return;
    (void)listener.SendToFrom(packet, length, to, local);
}
