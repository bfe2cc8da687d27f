// SPDX-License-Identifier: MIT
// The listening side of the server: starting and stopping, and each request
// judged (local networks, parsing, resent requests, limits, admission)
// before a transfer starts for it.
#include "serve_core.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host_address.h"
#include "tftp_packet.h"

namespace {

// Requests read per readiness report: a flood is taken in bites, and the
// window's event loop runs in between.
constexpr int kRequestsPerWake = 32;
// How often a line about one source may be logged: a refused flood writes
// little, a source outside the local networks once a minute.
constexpr ULONGLONG kNoiseLogMs = 1000;
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

bool IsMulticast(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 &&
           IN6_IS_ADDR_MULTICAST(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
}

} // namespace

void CServeListener::OnReceive(int /*nErrorCode*/)
{
    m_core.OnRequests(*this);
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
        const int fd = binder ? binder(address) : AfxBindDatagramSocket(address);
        const int error = errno;
        // A machine without IPv6 still serves IPv4 by default.
        if (fd < 0 && byDefault && address.ss_family == AF_INET6 && (error == EAFNOSUPPORT || error == EADDRNOTAVAIL))
            continue;
        if (fd < 0) {
            const ServeStartError kind = error == EADDRINUSE                 ? ServeStartError::inUse
                                         : error == EACCES || error == EPERM ? ServeStartError::notPermitted
                                                                             : ServeStartError::other;
            return fail(kind, AddressText(address) + ": " + std::strerror(error));
        }
        auto listener = std::make_unique<CServeListener>(*this);
        if (!listener->Attach(fd, FD_READ) || !listener->EnablePacketInfo())
            return fail(ServeStartError::other,
                        AddressText(address) + ": " + std::strerror(CAsyncSocket::GetLastError()));
        m_listeners.push_back(std::move(listener));
    }
    Log("Serving " + config.folder);
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
        const int length = listener.ReceiveFromWithLocal(m_abRequest, sizeof m_abRequest, &from, &local, MSG_DONTWAIT);
        if (length == SOCKET_ERROR && CAsyncSocket::GetLastError() == EMSGSIZE)
            continue; // longer than any request: not one
        if (length == SOCKET_ERROR)
            return;
        OnRequest(listener, m_abRequest, length, from, local, NowMs());
        // A request may have stopped the server (nothing does now, but the
        // listener must not be used after that).
        if (m_listeners.empty())
            return;
    }
}

void CServeCore::OnRequest(CServeListener& listener, const BYTE* pDatagram, int nLength, const sockaddr_storage& from,
                           const sockaddr_storage& local, ULONGLONG nNowMs)
{
    if (IsMulticast(local) || (from.ss_family != AF_INET && from.ss_family != AF_INET6) ||
        reinterpret_cast<const sockaddr_in&>(from).sin_port == 0)
        return;
    if (m_policy.bLocalNetworksOnly && !m_guard.IsLocal(from, nNowMs)) {
        // No answer at all: a stranger learns nothing of this server.
        if (m_guard.MayLog(from, nNowMs, kOutsiderLogMs))
            Log("Ignored a request from " + AddressText(from) + ": not on a local network");
        return;
    }
    const ServeRequestVerdict verdict = ParseServeRequest(pDatagram, nLength);
    if (verdict.answer == ServeAnswer::ignore)
        return;
    if (verdict.answer == ServeAnswer::refuse) {
        if (m_guard.MayLog(from, nNowMs, kNoiseLogMs))
            Log("Refused a request from " + AddressText(from) + ": " + verdict.lpszError);
        if (m_guard.MayAnswer(from, nNowMs))
            Answer(listener, from, local, verdict.wErrorCode, verdict.lpszError);
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
    if (Running() >= static_cast<size_t>(std::max(m_config.nMaxTransfers, 0)) ||
        fromClient >= static_cast<size_t>(std::max(m_config.nMaxPerClient, 0))) {
        if (m_guard.MayLog(from, nNowMs, kNoiseLogMs))
            Log("Busy: refused a request from " + AddressText(from));
        if (m_guard.MayAnswer(from, nNowMs))
            Answer(listener, from, local, TFTP_ERROR_NOT_DEFINED, "Server busy");
        return;
    }

    const bool read = request.wOpcode == TFTP_OPCODE_RRQ;
    ServeRow row;
    row.nId = m_nNextId++;
    row.client = from;
    row.file = EscapedText(request.szName);
    row.wDirection = read ? DIRECTION_GET : DIRECTION_PUT;
    row.nStartMs = nNowMs;
    const std::string what = std::string(read ? "Read" : "Write") + " request from " + AddressText(from) + " for \"" +
                             row.file + "\" (" + TftpModeString(request.wMode) + ")";
    ServeAdmission admission =
        read ? AdmitRead(request, m_folder) : AdmitWrite(request, m_folder, m_policy, [this](const std::string& key) {
            return std::any_of(m_transfers.begin(), m_transfers.end(), [&](const auto& transfer) {
                return transfer->IsRunning() && transfer->Opcode() == TFTP_OPCODE_WRQ && transfer->Key() == key;
            });
        });
    if (admission.bRefused) {
        Log(what + ": refused, " + admission.reason);
        Answer(listener, from, local, admission.wErrorCode, admission.lpszError);
        row.state = ServeState::refused;
        row.reason = admission.reason;
        row.nEndMs = nNowMs;
        AddFinished(std::move(row));
        return;
    }

    ServeStart start;
    start.client = from;
    start.local = local.ss_family != AF_UNSPEC ? local : AnyAddress(from.ss_family, 0);
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
    m_transfers.push_back(std::make_unique<CServeTransfer>(*this, row.nId));
    if (!m_transfers.back()->Start(std::move(start), nNowMs))
        Answer(listener, from, local, TFTP_ERROR_NOT_DEFINED, "Cannot start the transfer");
    Changed();
}

void CServeCore::Answer(CServeListener& listener, const sockaddr_storage& to, const sockaddr_storage& local, WORD wCode,
                        const char* lpszText)
{
    BYTE packet[128];
    const int length = BuildError(packet, sizeof packet, wCode, lpszText);
    (void)listener.SendToFrom(packet, length, to, local);
}
