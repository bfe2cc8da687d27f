// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <functional>

#include "platform/core/msgbox.h"
#include "platform/qt/winapp.h"
#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/fake_peer.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tftpd_server.h"
#include "tests/support/timing.h"
#include "ui/about_box.h"
#include "ui/log_dlg.h"
#include "ui/serve_dlg.h"
#include "ui/transfer_app.h"
#include "ui/transfer_dlg.h"

namespace {

class SystemMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dlg.Create(IDD_MAIN));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.GetSafeHwnd()));
    }

    CMenu& Menu() { return *dlg.GetSystemMenu(FALSE); }
    QWidget* LogWindow() { return g_pLogDlg->GetSafeHwnd(); }
    QListWidget* LogList() { return qobject_cast<QListWidget*>(g_pLogDlg->GetDlgItem(IDC_LOG_LIST)); }
    std::vector<std::string> LogLines()
    {
        std::vector<std::string> lines;
        lines.reserve(static_cast<size_t>(LogList()->count()));
        for (int row = 0; row < LogList()->count(); ++row)
            lines.push_back(LogList()->item(row)->text().mid(9).toStdString()); // without "HH:MM:SS "
        return lines;
    }
    bool Checked() { return Menu().FindItem(IDM_LOG_WINDOW)->isChecked(); }

    // The caption of the modal box that the command opened (closed again at once).
    std::string ModalCaptionOf(UINT command)
    {
        std::string caption;
        QTimer::singleShot(0, [&caption] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                caption = box->windowTitle().toStdString();
                box->close();
            }
        });
        dlg.SendMessage(WM_SYSCOMMAND, command, 0);
        return caption;
    }

    bool RunUntil(const std::function<bool()>& condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + Scaled(std::chrono::seconds(30));
        while (!condition() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        return condition();
    }

    TempDir dir;
    CMessageBoxRecorder boxes;
    CTransferDlg dlg;
};

TEST_F(SystemMenu, ItemsAndGreyingAfterStartUp)
{
    struct Item {
        std::string text;
        bool enabled;
    };
    std::vector<Item> items;
    for (QAction* action : Menu().GetQMenu()->actions())
        items.push_back(Item{action->isSeparator() ? "-" : action->text().toStdString(), action->isEnabled()});
    AfxUpdateSystemMenu(Menu(), *dlg.GetSafeHwnd(), true); // as just before it opens
    const std::vector<std::pair<std::string, bool>> expected = {
        {"&Restore", true},
        {"&Move", true},
        {"&Size", false},
        {"Mi&nimize", true},
        {"Ma&ximize", false},
        {"-", true},
        {"&Close\tAlt+F4", true},
        {"-", true},
        {"&About Tarnwick...\tCtrl+I", true},
        {"&Log Window\tCtrl+L", true},
        {"&Transfer Options...\tCtrl+T", true},
        {"&Serve Folder...\tCtrl+S", true},
    };
    ASSERT_EQ(items.size(), expected.size());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].text, expected[i].first) << i;
        if (items[i].text != "&Restore") { // in step with the window only when the menu opens
            EXPECT_EQ(items[i].enabled, expected[i].second) << items[i].text;
        }
    }
    EXPECT_FALSE(Menu().FindItem(SC_RESTORE)->isEnabled()); // the window is not minimised
    EXPECT_FALSE(Checked());
    EXPECT_EQ(Menu().FindItem(IDM_ABOUT)->data().toUInt(), 16u);
}

TEST_F(SystemMenu, EveryIdFrom16To31OpensTheAboutBox)
{
    for (UINT id = 16; id <= 31; ++id)
        EXPECT_EQ(ModalCaptionOf(id), "About tarnwick") << id;
    EXPECT_EQ(ModalCaptionOf(48), "Transfer Options");
    EXPECT_EQ(ModalCaptionOf(64), "");
}

TEST_F(SystemMenu, CtrlLTogglesTheLogWindow)
{
    dlg.ShowWindow(SW_SHOW);
    dlg.GetSafeHwnd()->activateWindow();
    QApplication::setActiveWindow(dlg.GetSafeHwnd());
    for (bool visible : {true, false}) {
        QTest::keyClick(dlg.GetDlgItem(IDC_REMOTE_HOST), Qt::Key_L, Qt::ControlModifier);
        EXPECT_EQ(LogWindow()->isVisible(), visible);
        EXPECT_EQ(Checked(), visible);
    }
    // From the Serve window too, where the typing goes on.
    dlg.SendMessage(WM_SYSCOMMAND, IDM_SERVE, 0);
    QApplication::setActiveWindow(g_pServeDlg->GetSafeHwnd());
    QTest::keyClick(g_pServeDlg->GetSafeHwnd()->focusWidget(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(LogWindow()->isVisible() && QApplication::activeWindow() == g_pServeDlg->GetSafeHwnd());
}

// The window's menu is found without Alt+Space, which desktops take: F10,
// the Menu key, and a button on the window. Its keys work from the log window.
TEST_F(SystemMenu, TheMenuOpensFromKeysAndItsButtonAndItsKeysWorkFromTheLog)
{
    dlg.GetSafeHwnd()->activateWindow();
    QApplication::setActiveWindow(dlg.GetSafeHwnd());
    const std::function<void()> ways[] = {
        [&] { QTest::keyClick(dlg.GetDlgItem(IDC_REMOTE_FILE), Qt::Key_F10); },
        [&] { QTest::keyClick(dlg.GetDlgItem(IDC_REMOTE_HOST), Qt::Key_Menu); },
        [&] { QTest::keyClick(dlg.GetDlgItem(IDC_FILE_LIST), Qt::Key_Space, Qt::AltModifier); },
        [&] { QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_MENU_BUTTON)), Qt::LeftButton); },
    };
    for (const auto& open : ways) {
        QWidget* shown = nullptr;
        QTimer::singleShot(0, [&shown] {
            shown = QApplication::activePopupWidget();
            if (shown != nullptr)
                shown->close();
        });
        open();
        EXPECT_EQ(shown, Menu().GetQMenu());
    }
    QWidget* button = dlg.GetDlgItem(IDC_MENU_BUTTON);
    EXPECT_FALSE(button->accessibleName().isEmpty());
    EXPECT_FALSE(button->toolTip().isEmpty());

    dlg.SendMessage(WM_SYSCOMMAND, IDM_LOG_WINDOW, 0);
    LogWindow()->activateWindow();
    QApplication::setActiveWindow(LogWindow());
    QTest::keyClick(LogList(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_FALSE(LogWindow()->isVisible());
}

TEST_F(SystemMenu, LogWindowTogglesBelowTheMainWindowAndKeepsItsLines)
{
    g_pLogDlg->LogLine("before it was shown");
    size_t lines = 1;
    for (UINT id : {32u, 39u, 47u}) {
        dlg.SendMessage(WM_SYSCOMMAND, id, 0);
        ASSERT_TRUE(LogWindow()->isVisible()) << id;
        EXPECT_TRUE(g_bLogVisible);
        EXPECT_TRUE(Checked());
        const QRect main = dlg.GetSafeHwnd()->frameGeometry();
        const QRect log = LogWindow()->frameGeometry();
        EXPECT_EQ(log.topLeft(), main.bottomLeft() + QPoint(0, 1));
        EXPECT_EQ(log.width(), main.width());
        EXPECT_EQ(log.height(), 180);
        EXPECT_NE(QApplication::activeWindow(), LogWindow());
        g_pLogDlg->LogLine("while shown");
        ++lines;

        dlg.SendMessage(WM_SYSCOMMAND, id + 1 > 47 ? 32 : id + 1, 0);
        EXPECT_FALSE(LogWindow()->isVisible());
        EXPECT_FALSE(g_bLogVisible);
        EXPECT_FALSE(Checked());
        g_pLogDlg->LogLine("while hidden");
        ++lines;
        EXPECT_EQ(LogLines().size(), lines);
    }
    EXPECT_EQ(LogLines().front(), "before it was shown");
    EXPECT_EQ(LogLines().back(), "while hidden");
}

// Save writes the lines as shown, with their times, one a line; the window
// can be made larger, and the list takes the room.
TEST_F(SystemMenu, LogIsSavedAsPlainTextAndItsWindowResizes)
{
    for (const char* line : {"<b>first</b>", "two\nlines\rin one", "caf\xc3\xa9"})
        g_pLogDlg->LogLine(line);
    EXPECT_EQ(g_pLogDlg->SaveLog(dir / "missing/log.txt"), ENOENT);
    WriteFileBytes(dir / "log.txt", Bytes(500, 'x'));
    ASSERT_EQ(g_pLogDlg->SaveLog(dir / "log.txt"), 0);
    const Bytes saved = ReadFileBytes(dir / "log.txt");
    const QString time = "\\d\\d:\\d\\d:\\d\\d ";
    EXPECT_TRUE(QRegularExpression("^" + time + "<b>first</b>\n" + time + "two lines in one\n" + time + "caf\u00e9\n$")
                    .match(QString::fromUtf8(reinterpret_cast<const char*>(saved.data()), std::ssize(saved)))
                    .hasMatch());
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"log.txt"}));

    dlg.SendMessage(WM_SYSCOMMAND, IDM_LOG_WINDOW, 0);
    const QSize list = LogList()->size();
    LogWindow()->resize(LogWindow()->size() + QSize(200, 100));
    EXPECT_EQ(LogList()->size(), list + QSize(200, 100));
}

TEST_F(SystemMenu, LogKeepsItsLast2000Lines)
{
    for (int line = 0; line <= 2000; ++line)
        g_pLogDlg->LogLine("line " + std::to_string(line));
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2000u);
    EXPECT_EQ(lines.front(), "line 1");
    EXPECT_EQ(lines.back(), "line 2000");
}

// Ctrl+C and Ctrl+A on the focused list, and its context menu's Clear.
TEST_F(SystemMenu, LogLinesAreCopiedAsPlainTextAndCleared)
{
    for (const char* line : {"<b>first</b>", "second", "third &amp;"})
        g_pLogDlg->LogLine(line);
    dlg.SendMessage(WM_SYSCOMMAND, IDM_LOG_WINDOW, 0);
    LogWindow()->activateWindow();
    QApplication::setActiveWindow(LogWindow());
    LogList()->setFocus();
    LogList()->item(0)->setSelected(true);
    LogList()->item(2)->setSelected(true);
    QTest::keyClick(LogList(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), LogList()->item(0)->text() + "\n" + LogList()->item(2)->text());
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains("<b>first</b>"));
    QTest::keyClick(LogList(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(LogList()->selectedItems().size(), 3);

    std::vector<std::string> menu;
    for (QAction* action : LogList()->actions())
        menu.push_back(action->text().toStdString());
    ASSERT_EQ(menu, (std::vector<std::string>{"&Copy", "Select &All", "C&lear"}));
    LogList()->actions().back()->trigger();
    EXPECT_EQ(LogList()->count(), 0);
}

TEST_F(SystemMenu, EnterOrEscapeInTheLogWindowHidesItAndTheNextToggleHides)
{
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        dlg.SendMessage(WM_SYSCOMMAND, IDM_LOG_WINDOW, 0);
        QTest::keyClick(LogWindow(), key);
        EXPECT_FALSE(LogWindow()->isVisible());
        EXPECT_TRUE(g_bLogVisible);
        EXPECT_TRUE(Checked());
        dlg.SendMessage(WM_SYSCOMMAND, IDM_LOG_WINDOW, 0);
        EXPECT_FALSE(LogWindow()->isVisible());
        EXPECT_FALSE(g_bLogVisible);
        EXPECT_FALSE(Checked());
    }
}

TEST_F(SystemMenu, PlatformCommandsKeepTheirMeaning)
{
    dlg.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(dlg.GetSafeHwnd()->isMinimized());
    dlg.SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(dlg.GetSafeHwnd()->isMinimized());
    dlg.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(dlg.GetSafeHwnd()->isVisible());
}

TEST_F(SystemMenu, LogLinesOfATransferAndOfATimeout)
{
    TftpdServer server;
    WriteFileBytes((server.Root() / "r.bin").string(), std::vector<BYTE>(1000, 'r'));
    dlg.SendMessage(WM_SYSCOMMAND, IDM_LOG_WINDOW, 0);
    auto* host = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_HOST));
    auto* remote = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_FILE));
    host->setText(QString::fromStdString(server.HostString()));
    remote->setText("r.bin");
    QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_GET)), Qt::LeftButton);
    ASSERT_TRUE(RunUntil([&] { return !dlg.IsWindowEnabled(IDC_ABORT); }));
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Read request for \"r.bin\" (octet) sent to 127.0.0.1 port " + std::to_string(server.Port()));
    EXPECT_EQ(lines[1].rfind("Server answers from 127.0.0.1 port ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[1].find("port " + std::to_string(server.Port())), std::string::npos);
    EXPECT_EQ(lines[2].rfind("Transfer complete: 1000 bytes in ", 0), 0u) << lines[2];

    LogList()->clear();
    FakePeer silent;
    host->setText(QString::fromStdString(silent.HostString()));
    remote->setText("none.bin");
    QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_GET)), Qt::LeftButton);
    for (int tick = 0; tick < 18; ++tick)
        dlg.SendMessage(WM_TIMER, 1, 0);
    QCoreApplication::processEvents();
    const std::string port = std::to_string(silent.Port());
    auto timedOut = LogLines();
    ASSERT_EQ(timedOut.size(), 6u);
    EXPECT_EQ(timedOut.back().rfind("Transfer failed: 0 bytes in ", 0), 0u) << timedOut.back();
    timedOut.pop_back();
    EXPECT_EQ(timedOut,
              (std::vector<std::string>{
                  "Read request for \"none.bin\" (octet) sent to 127.0.0.1 port " + port,
                  "No answer: request sent again",
                  "No answer: request sent again",
                  "No answer: the transfer timed out",
                  "Error: A session timeout occurred.  Your session has been aborted. Check network settings and "
                  "try again.  No answer came from 127.0.0.1, port " +
                      port +
                      ". Check that the address is right, that a TFTP server is running there, and that no "
                      "firewall blocks UDP port " +
                      port + ".",
              }));
}

class FiguresAboutBox : public CAboutBox {
public:
    ULONGLONG memory = 0;
    bool diskOk = true;
    ULONGLONG freeBytes = 0;

protected:
    ULONGLONG GetTotalPhysicalMemory() const override { return memory; }
    bool GetCurrentDiskFree(ULONGLONG* pFreeBytes, std::string* pMountPoint) const override
    {
        *pFreeBytes = freeBytes;
        *pMountPoint = "/srv";
        return diskOk;
    }
};

TEST(AboutBox, FiguresInKilobytes)
{
    struct Row {
        ULONGLONG memory;
        bool diskOk;
        ULONGLONG freeBytes;
        const char* memoryText;
        const char* diskText;
    };
    const Row rows[] = {
        {64ull << 20, true, 10ull << 20, "65536 KB", "10240 KB Free on /srv"},
        {(1ull << 20) - 1, true, 1023, "1023 KB", "0 KB Free on /srv"},
        {16ull << 30, true, (7ull << 30) + 4096, "16777216 KB", "7340036 KB Free on /srv"},
        {1ull << 20, false, 0, "1024 KB", "Unavailable"},
    };
    for (const Row& row : rows) {
        FiguresAboutBox about;
        about.memory = row.memory;
        about.diskOk = row.diskOk;
        about.freeBytes = row.freeBytes;
        ASSERT_TRUE(about.Create(IDD_ABOUT));
        EXPECT_EQ(about.GetDlgItemText(IDC_MEMORY), row.memoryText);
        EXPECT_EQ(about.GetDlgItemText(IDC_DISK_SPACE), row.diskText);
    }
}

TEST(AboutBox, MountPointOfADirectory)
{
    EXPECT_EQ(AfxMountPointOf("/"), "/");
    EXPECT_EQ(AfxMountPointOf("/proc/self/"), "/proc");
    TempDir dir;
    const std::string mount = AfxMountPointOf(dir.Path().string());
    EXPECT_EQ(dir.Path().string().rfind(mount, 0), 0u) << mount;
}

// The menu button tells a screen reader every item the menu holds, and the
// program's message boxes are titled with its name, however its file is named.
TEST_F(SystemMenu, TheButtonNamesEveryItemAndBoxesAreTitledTarnwick)
{
    const QString description =
        QAccessible::queryAccessibleInterface(dlg.GetDlgItem(IDC_MENU_BUTTON))->text(QAccessible::Description);
    bool below = false; // the program's items, after the separator
    for (QAction* action : Menu().GetQMenu()->actions()) {
        below = below || action->isSeparator();
        if (!below || action->isSeparator() || action->text().startsWith(QStringLiteral("&Close")))
            continue;
        const QString item =
            action->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')).remove(QStringLiteral("..."));
        EXPECT_TRUE(description.contains(item)) << item.toStdString() << " in " << description.toStdString();
    }
    const CTransferApp app;
    EXPECT_EQ(AfxGetAppTitle(), "Tarnwick");
}

} // namespace
