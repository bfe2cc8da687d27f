// SPDX-License-Identifier: MIT
// No memory is allocated per block by the engine or by the window's handlers:
// a 1000-block Get through the window, with allocations counted inside the
// session's readiness calls and the window's progress handler; and 1000
// blocks each way through the server, counted inside its calls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>

#include <arpa/inet.h>
#include <poll.h>

#include "client/session.h"
#include "platform/core/msgbox.h"
#include "platform/core/socket.h"
#include "platform/core/socket_watcher.h"
#include "res/resource.h"
#include "server/server.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tftpd_server.h"
#include "tests/support/timing.h"
#include "ui/transfer_dlg.h"

namespace {
bool g_bCounting = false;
long g_nAllocations = 0;
} // namespace

// Every form of new and delete, so that all of them meet in malloc and free.
namespace {
void* Allocate(std::size_t size) noexcept
{
    if (g_bCounting)
        ++g_nAllocations;
    return std::malloc(size == 0 ? 1 : size);
}
} // namespace

void* operator new(std::size_t size)
{
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

namespace {

class CountedScope {
public:
    CountedScope() : m_bWas(g_bCounting) { g_bCounting = true; }
    ~CountedScope() { g_bCounting = m_bWas; }

private:
    bool m_bWas;
};

class CountingSession : public CTFTPSession {
public:
    using CTFTPSession::CTFTPSession;
    void OnReceive(int nErrorCode) override
    {
        const CountedScope scope;
        CTFTPSession::OnReceive(nErrorCode);
    }
};

class CountingDlg : public CTransferDlg {
public:
    long blocks = 0;
    long atBlock10 = -1;
    long atBlock990 = -1;

protected:
    CTFTPSession* CreateSession() override { return new CountingSession(m_pNotifyWnd); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message != WM_TFTP_PROGRESS)
            return CTransferDlg::WindowProc(message, wParam, lParam);
        ++blocks;
        if (blocks == 10)
            atBlock10 = g_nAllocations;
        if (blocks == 990)
            atBlock990 = g_nAllocations;
        const CountedScope scope;
        return CTransferDlg::WindowProc(message, wParam, lParam);
    }
};

TEST(Allocation, NonePerBlockInTheEngineOrTheWindowsHandlers)
{
    TempDir local;
    TftpdServer server;
    WriteFileBytes((server.Root() / "blocks.bin").string(), std::vector<BYTE>(1000 * 512 + 100, 'z'));
    CMessageBoxRecorder boxes;
    CountingDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_MAIN));
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_HOST))->setText(QString::fromStdString(server.HostString()));
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_FILE))->setText("blocks.bin");
    QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_GET)), Qt::LeftButton);
    const auto deadline = std::chrono::steady_clock::now() + Scaled(std::chrono::seconds(60));
    while (dlg.IsWindowEnabled(IDC_ABORT) && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    ASSERT_EQ(dlg.blocks, 1001);
    EXPECT_EQ(ReadFileBytes(local / "blocks.bin").size(), 1000u * 512 + 100);
    EXPECT_GT(dlg.atBlock10, 0) << "the counter sees the start-up (the lock-in line)";
    EXPECT_EQ(dlg.atBlock990 - dlg.atBlock10, 0) << "allocations in 980 blocks";
}

// A poll() loop that keeps its sockets in a fixed table, so that only what
// the sockets do is counted, and counts inside the server's sockets only.
class CountingWatcher : public ISocketWatcher {
public:
    CountingWatcher() : m_pPrevious(AfxSetSocketWatcher(this)) {}
    ~CountingWatcher() override
    {
        AfxSetSocketWatcher(m_pPrevious);
        for (int i = 0; i < m_nSockets; ++i)
            m_apSockets[i]->DetachWatcher();
    }
    void Watch(CAsyncSocket* pSocket) override
    {
        if (m_nSockets < kMost)
            m_apSockets[m_nSockets++] = pSocket;
    }
    void Unwatch(CAsyncSocket* pSocket) override
    {
        for (int i = 0; i < m_nSockets; ++i)
            if (m_apSockets[i] == pSocket)
                m_apSockets[i--] = m_apSockets[--m_nSockets];
    }
    void RunOnce(const CAsyncSocket* pUncounted)
    {
        pollfd fds[kMost];
        CAsyncSocket* sockets[kMost];
        const int count = m_nSockets;
        for (int i = 0; i < count; ++i) {
            fds[i] = pollfd{m_apSockets[i]->m_hSocket, POLLIN, 0};
            sockets[i] = m_apSockets[i];
        }
        if (::poll(fds, static_cast<nfds_t>(count), 10) <= 0)
            return;
        for (int i = 0; i < count; ++i) {
            if ((fds[i].revents & POLLIN) == 0 || !Watched(sockets[i]))
                continue;
            if (sockets[i] == pUncounted) {
                sockets[i]->OnReceive(0);
            } else {
                const CountedScope scope;
                sockets[i]->OnReceive(0);
            }
        }
    }

private:
    bool Watched(const CAsyncSocket* pSocket) const
    {
        for (int i = 0; i < m_nSockets; ++i)
            if (m_apSockets[i] == pSocket)
                return true;
        return false;
    }

    static constexpr int kMost = 16;
    CAsyncSocket* m_apSockets[kMost] = {};
    int m_nSockets = 0;
    ISocketWatcher* m_pPrevious;
};

ULONGLONG SteadyMs()
{
    return static_cast<ULONGLONG>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

TEST(Allocation, NonePerBlockInTheServerEitherWay)
{
    for (WORD direction : {DIRECTION_GET, DIRECTION_PUT}) {
        SCOPED_TRACE(direction == DIRECTION_GET ? "the server sends" : "the server receives");
        TempDir served;
        TempDir local;
        const std::vector<BYTE> content(1000 * 1024 + 100, 'z');
        WriteFileBytes(direction == DIRECTION_GET ? served / "blocks.bin" : local / "blocks.bin", content);
        CMessageBoxRecorder boxes;
        CountingWatcher watcher;
        CTFTPServer server(nullptr, nullptr, SteadyMs);
        ServeConfig config;
        config.folder = served.Path().string();
        sockaddr_storage address{};
        reinterpret_cast<sockaddr_in&>(address).sin_family = AF_INET;
        reinterpret_cast<sockaddr_in&>(address).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        config.listen = {address};
        config.bAllowUpload = config.bAllowCreate = true;
        ASSERT_EQ(server.Start(config), ServeStartError::none);
        const UINT port = ntohs(reinterpret_cast<const sockaddr_in&>(server.ListeningAddresses().at(0)).sin_port);

        CWnd owner;
        CTFTPSession session(&owner);
        session.SetOptions(TftpOptions{1024, 4, 0, false, 0, false});
        const std::string host = "127.0.0.1:" + std::to_string(port);
        ASSERT_TRUE(session.Start(host.c_str(), direction == DIRECTION_GET ? "" : (local / "blocks.bin").c_str(),
                                  "blocks.bin", direction, MODE_BINARY));
        long blocks = 0;
        long atBlock10 = -1;
        long atBlock990 = -1;
        bool ended = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!ended && std::chrono::steady_clock::now() < deadline) {
            watcher.RunOnce(&session);
            {
                const CountedScope scope;
                server.OnTick(SteadyMs());
            }
            MSG msg;
            while (owner.PeekMessage(&msg)) {
                if (msg.message == WM_TFTP_PROGRESS && ++blocks == 10)
                    atBlock10 = g_nAllocations;
                if (msg.message == WM_TFTP_PROGRESS && blocks == 990)
                    atBlock990 = g_nAllocations;
                ended = ended || msg.message == WM_TFTP_COMPLETE || msg.message == WM_TFTP_FAILED ||
                        msg.message == WM_TFTP_TIMEOUT;
            }
        }
        EXPECT_EQ(blocks, 1001);
        EXPECT_GT(atBlock10, 0) << "the counter sees the transfer's start";
        EXPECT_EQ(atBlock990 - atBlock10, 0) << "allocations in 980 blocks";
    }
}

} // namespace
