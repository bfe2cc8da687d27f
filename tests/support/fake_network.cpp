// SPDX-License-Identifier: MIT
#include "tests/support/fake_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "server/serve_admit.h"
#include "server/serve_request.h"
#include "tests/support/serve_harness.h"
#include "tests/support/session_driver.h"

namespace {

constexpr UINT kServerPort = 6969;
constexpr UINT kTransferPort = 50000;
constexpr UINT kClientPort = 40000;

Bytes BytesAt(const void* p, int n)
{
    const auto* bytes = static_cast<const BYTE*>(p);
    return Bytes(bytes, bytes + n);
}

} // namespace

std::vector<std::string> FakeNetworkEnd::Sent()
{
    std::vector<std::string> told;
    told.reserve(m_sent.size());
    for (const Bytes& datagram : m_sent)
        told.push_back(Describe(datagram));
    m_sent.clear();
    return told;
}

// The session's socket calls, on no socket.
class FakeNetworkClient::Session : public CTFTPSession {
public:
    Session(CWnd* pOwner, std::vector<Bytes>& sent) : CTFTPSession(pOwner), m_sent(sent)
    {
        SetClock([this] { return now; });
    }
    BOOL Create(UINT, int, long, const char*, int) override { return TRUE; }
    BOOL Connect(const sockaddr*, int) override { return TRUE; }
    int Send(const void* lpBuf, int nBufLen, int) override
    {
        m_sent.push_back(BytesAt(lpBuf, nBufLen));
        return nBufLen;
    }
    int SendTo(const void* lpBuf, int nBufLen, const sockaddr*, int, int) override { return Send(lpBuf, nBufLen, 0); }
    int ReceiveFrom(void* lpBuf, int nBufLen, sockaddr* lpSockAddr, int* lpSockAddrLen, int) override
    {
        if (m_incoming.empty()) {
            SetLastError(EAGAIN);
            return SOCKET_ERROR;
        }
        const Bytes datagram = std::move(m_incoming.front());
        m_incoming.pop_front();
        const int length = std::min(nBufLen, static_cast<int>(datagram.size()));
        std::memcpy(lpBuf, datagram.data(), static_cast<size_t>(length));
        const sockaddr_storage from = Loopback(kTransferPort);
        std::memcpy(lpSockAddr, &from, sizeof(sockaddr_in));
        *lpSockAddrLen = sizeof(sockaddr_in);
        return length;
    }
    void Take(const Bytes& datagram)
    {
        m_incoming.push_back(datagram);
        OnReceive(0);
    }

    ULONGLONG now = 5000;

private:
    std::vector<Bytes>& m_sent;
    std::deque<Bytes> m_incoming;
};

FakeNetworkClient::FakeNetworkClient(TempDir& dir, WORD wDirection, const TftpOptions& options)
    : m_pSession(std::make_unique<Session>(&m_owner, m_sent))
{
    m_pSession->SetOptions(options);
    const std::string host = "127.0.0.1:" + std::to_string(kServerPort);
    (void)m_pSession->Start(host.c_str(), (dir / "local.bin").c_str(), "f.bin", wDirection, MODE_BINARY);
    m_sent.clear();
    (void)TakeMessages(m_owner);
}

FakeNetworkClient::~FakeNetworkClient() = default;

void FakeNetworkClient::Deliver(const Bytes& datagram)
{
    m_pSession->Take(datagram);
}

void FakeNetworkClient::Wait(ULONGLONG ms)
{
    m_pSession->now += ms;
    for (ULONGLONG tick = 0; tick < ms / TFTP_TICK_MS; ++tick)
        m_pSession->OnTick();
    m_pSession->OnClock();
}

std::vector<UINT> FakeNetworkClient::Messages()
{
    return TakeMessages(m_owner);
}

// The transfer's socket calls, on no socket.
class FakeNetworkServer::Transfer : public CServeTransfer {
public:
    Transfer(IServeHost& host, std::vector<Bytes>& sent) : CServeTransfer(host, 1), m_sent(sent) {}
    int SendTo(const void* lpBuf, int nBufLen, const sockaddr*, int, int) override
    {
        m_sent.push_back(BytesAt(lpBuf, nBufLen));
        return nBufLen;
    }

protected:
    bool OpenSocket(const sockaddr_storage&) override { return true; }

private:
    std::vector<Bytes>& m_sent;
};

FakeNetworkServer::FakeNetworkServer(TempDir& dir, WORD wOpcode,
                                     const std::vector<std::pair<std::string, std::string>>& options)
    : m_dirFd(::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
      m_pTransfer(std::make_unique<Transfer>(static_cast<IServeHost&>(*this), m_sent))
{
    const Bytes request = Request(wOpcode, "f.bin", "octet", options);
    const ServeRequestVerdict verdict = ParseServeRequest(request.data(), static_cast<int>(request.size()));
    ServeFolder folder;
    folder.dirFd = m_dirFd;
    ServeAdmission admission = wOpcode == TFTP_OPCODE_RRQ
                                   ? AdmitRead(verdict.request, folder)
                                   : AdmitWrite(verdict.request, folder, ServePolicy{true, true, true, true}, {});
    ServeStart start;
    start.client = Loopback(kClientPort);
    start.local = Loopback(0);
    start.wOpcode = wOpcode;
    start.grant = admission.grant;
    start.pFile = std::move(admission.pFile);
    start.nRoom = admission.nRoom;
    start.nAdmittedSize = admission.nAdmittedSize;
    start.key = admission.key;
    (void)m_pTransfer->Start(std::move(start), m_nNowMs);
}

FakeNetworkServer::~FakeNetworkServer()
{
    m_pTransfer.reset();
    if (m_dirFd >= 0)
        ::close(m_dirFd);
}

void FakeNetworkServer::Deliver(const Bytes& datagram)
{
    m_pTransfer->OnDatagram(datagram.data(), static_cast<int>(datagram.size()), Loopback(kClientPort), m_nNowMs);
}

void FakeNetworkServer::Wait(ULONGLONG ms)
{
    m_nNowMs += ms;
    m_pTransfer->OnTick(m_nNowMs);
}

const ServeRow& FakeNetworkServer::Row() const
{
    return m_pTransfer->Row();
}
