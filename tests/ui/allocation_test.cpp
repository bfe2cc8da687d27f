// SPDX-License-Identifier: MIT
// No memory is allocated per block by the engine or by the window's handlers:
// a 1000-block Get through the window, with allocations counted inside the
// session's readiness calls and the window's progress handler.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>

#include "platform/core/msgbox.h"
#include "res/resource.h"
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

} // namespace
