// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/fake_peer.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/serve_harness.h"
#include "tests/support/temp_dir.h"
#include "tests/support/timing.h"
#include "tests/ui/event_loop_gap.h"
#include "ui/serve_dlg.h"
#include "ui/serve_start.h"
#include "ui/transfer_dlg.h"

namespace {

// The Serve window with its redraws of the list counted.
class CountedServeDlg : public CServeDlg {
public:
    int redraws = 0;
    using CServeDlg::m_rows;

protected:
    void ShowRows() override
    {
        ++redraws;
        CServeDlg::ShowRows();
    }
};

// A free UDP port on loopback: one the system chose for a socket just closed.
UINT FreePort()
{
    FakePeer probe;
    return probe.Port();
}

class ServeWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFileBytes(dir / "fw.bin", Content(3000));
        std::filesystem::create_directory(dir.Path() / "boot");
        WriteFileBytes(dir.Path() / "boot" / "bcd", Content(10));
        ASSERT_TRUE(dlg.Create(IDD_SERVE));
        dlg.SetServeProgram(TARNWICK_SERVE_PATH);
        settings.folder = dir.Path().string();
        settings.listen = "127.0.0.1";
        settings.nPort = static_cast<int>(FreePort());
    }

    std::string Status() { return dlg.GetDlgItemText(IDC_SERVE_STATUS); }
    QTreeWidget* Rows() { return qobject_cast<QTreeWidget*>(dlg.GetDlgItem(IDC_SERVE_TRANSFERS)); }
    // The state column of the newest row.
    std::string Newest() { return Rows()->topLevelItem(0)->text(kState).toStdString(); }
    void Click(int id) { QTest::mouseClick(qobject_cast<QAbstractButton*>(dlg.GetDlgItem(id)), Qt::LeftButton); }

    bool RunUntil(const std::function<bool()>& condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + Scaled(std::chrono::seconds(30));
        while (!condition() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        return condition();
    }
    // The child has said it serves (after a start, or a restart for a box).
    bool Serving()
    {
        return RunUntil([&] { return !dlg.ServingSummary().empty(); });
    }
    // The child has ended.
    bool Ended()
    {
        return RunUntil([&] { return !dlg.IsServing(); });
    }

    // Sends a request and plays a client that acknowledges every block (a
    // read) or sends the content (an upload), until the server is done.
    void Transfer(WORD opcode, const std::string& name, const Bytes& content = {})
    {
        ASSERT_TRUE(Serving());
        FakePeer client;
        client.SendTo(static_cast<UINT>(settings.nPort), Request(opcode, name));
        const int listed = Rows()->topLevelItemCount();
        size_t sent = 0;
        WORD block = 0;
        ASSERT_TRUE(RunUntil([&] {
            if (std::optional<Bytes> heard = client.TryReceive()) {
                const WORD op = WordAt(*heard, 0);
                if (op == 3) { // DATA: acknowledged
                    client.Reply(AckPacket(WordAt(*heard, 2)));
                } else if (op == 4 && sent <= content.size()) { // ACK: the next block
                    const size_t length = std::min<size_t>(512, content.size() - sent);
                    client.Reply(
                        DataPacket(++block, Bytes(content.begin() + static_cast<std::ptrdiff_t>(sent),
                                                  content.begin() + static_cast<std::ptrdiff_t>(sent + length))));
                    sent += length + (length < 512 ? 1 : 0);
                }
            }
            // The list's next round shows it.
            return Rows()->topLevelItemCount() > listed && Newest() != "running";
        }));
    }

    TempDir dir;
    CMessageBoxRecorder boxes;
    CountedServeDlg dlg;
    ServeSettings settings;
};

TEST_F(ServeWindow, TheMenuItemOpensItAndTheMainWindowKeepsWorking)
{
    CTransferDlg main;
    ASSERT_TRUE(main.Create(IDD_MAIN));
    main.SendMessage(WM_SYSCOMMAND, IDM_SERVE, 0);
    ASSERT_NE(g_pServeDlg, nullptr);
    EXPECT_TRUE(g_pServeDlg->GetSafeHwnd()->isVisible());
    EXPECT_FALSE(g_pServeDlg->GetSafeHwnd()->isModal());
    EXPECT_TRUE(main.GetSafeHwnd()->isEnabled());
    main.DestroyWindow();
    EXPECT_EQ(g_pServeDlg, nullptr); // it goes with the main window
}

TEST_F(ServeWindow, StartAndStopSayItAllAndGreyWhatCannotChange)
{
    EXPECT_EQ(Status(), AfxLoadString(IDS_SERVE_STOPPED));
    dlg.Apply(settings, true);
    ASSERT_TRUE(Serving());
    const std::string port = std::to_string(settings.nPort);
    EXPECT_EQ(Status(), "Serving " + settings.folder + " on 127.0.0.1, port " + port + ", read-only");
    for (int id : {IDC_SERVE_FOLDER, IDC_SERVE_BROWSE, IDC_SERVE_LISTEN, IDC_SERVE_PORT})
        EXPECT_FALSE(dlg.IsWindowEnabled(id)) << id;
    for (int id : {IDC_SERVE_UPLOAD, IDC_SERVE_LOCAL})
        EXPECT_TRUE(dlg.IsWindowEnabled(id)) << id;

    // The status says exactly what a client may upload; the kinds of upload
    // are boxes only while uploads are on. A box changed while serving
    // starts the child again with it.
    struct Boxes {
        bool upload, create, replace;
        const char* says;
    };
    const Boxes table[] = {
        {false, true, true, ", read-only"},
        {true, false, false, ", uploads: none yet (tick Allow new files or Replace existing files)"},
        {true, true, false, ", uploads: new files only"},
        {true, false, true, ", uploads: replacing existing files only"},
        {true, true, true, ", uploads: new files and replacing"},
    };
    for (const Boxes& row : table) {
        for (const auto& [id, on] : {std::pair{IDC_SERVE_UPLOAD, row.upload}, std::pair{IDC_SERVE_CREATE, row.create},
                                     std::pair{IDC_SERVE_REPLACE, row.replace}}) {
            dlg.EnableWindow(id, TRUE);
            if ((dlg.IsDlgButtonChecked(id) != 0) != on) {
                Click(id);
                ASSERT_TRUE(Serving()) << row.says;
            }
        }
        EXPECT_EQ(Status(), "Serving " + settings.folder + " on 127.0.0.1, port " + port + row.says);
        EXPECT_EQ(dlg.IsWindowEnabled(IDC_SERVE_CREATE) != 0, row.upload) << row.says;
        EXPECT_EQ(dlg.IsWindowEnabled(IDC_SERVE_REPLACE) != 0, row.upload) << row.says;
    }

    Click(IDC_SERVE_START);
    ASSERT_TRUE(Ended());
    EXPECT_EQ(Status(), "Not serving. The server ended with status 0.");
    EXPECT_TRUE(dlg.IsWindowEnabled(IDC_SERVE_FOLDER));
}

// Every request gets a row that says how it went, and what to do when it
// was refused.
TEST_F(ServeWindow, RowsTellEachTransferAndTheAdviceOfARefusal)
{
    dlg.Apply(settings, true);
    Transfer(1, "fw.bin");
    EXPECT_EQ(Newest(), "done");
    EXPECT_EQ(Rows()->topLevelItem(0)->text(4).toStdString(), "3,000 / 3,000");

    Transfer(2, "new.txt", BytesOf("hello"));
    EXPECT_NE(Newest().find("tick Allow uploads"), std::string::npos) << Newest();

    // The near-miss hint only for a file not found, and a folder said to be one.
    Transfer(1, "\\Boot\\BCD");
    EXPECT_NE(Newest().find("asked for \\Boot\\BCD; boot/bcd exists"), std::string::npos) << Newest();
    Transfer(1, "boot");
    EXPECT_NE(Newest().find("; boot is a folder"), std::string::npos) << Newest();
    Transfer(1, "BOOT");
    EXPECT_NE(Newest().find("; boot is a folder"), std::string::npos) << Newest();
    Transfer(1, "absent.bin");
    EXPECT_EQ(Newest().find("; "), std::string::npos) << Newest();

    // The boxes stay live while serving: the advice can be followed at once,
    // and the rows of the child before stay.
    Click(IDC_SERVE_UPLOAD);
    Transfer(2, "other.txt", BytesOf("hello"));
    EXPECT_NE(Newest().find("tick Allow new files"), std::string::npos) << Newest();
    Click(IDC_SERVE_CREATE);
    ASSERT_TRUE(Serving());
    Transfer(2, "new.txt", BytesOf("hello"));
    EXPECT_EQ(Newest(), "done");
    EXPECT_EQ(ReadFileBytes(dir / "new.txt"), BytesOf("hello"));
    EXPECT_EQ(Rows()->topLevelItemCount(), 8);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_SERVE_COUNT), "0 transfers running, 2 done, 6 refused");

    Click(IDC_SERVE_CLEAR);
    EXPECT_EQ(Rows()->topLevelItemCount(), 0);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_SERVE_COUNT), "0 transfers running, 0 done, 0 refused");
}

// The list at the window's smallest: a 40-character name, the client as
// address:port, whole headers; the list takes what the window grows by, and
// the size and widths are there again in the next window.
TEST_F(ServeWindow, RowsCanBeReadAndTheWindowKeepsItsSize)
{
    const std::string name = "zephyr-nrf52840dk-bootloader-v2.4.10.bin";
    ASSERT_EQ(name.size(), 40u);
    WriteFileBytes(dir / name, Content(600));
    dlg.Apply(settings, true);
    Transfer(1, name);
    QTreeWidgetItem* row = Rows()->topLevelItem(0);
    EXPECT_TRUE(QString(row->text(kClient)).contains(QRegularExpression(QStringLiteral("^127\\.0\\.0\\.1:\\d+$"))))
        << row->text(kClient).toStdString();
    EXPECT_EQ(row->toolTip(kFile).toStdString(), name);
    EXPECT_EQ(Rows()->textElideMode(), Qt::ElideMiddle);
    const QFontMetrics metrics(Rows()->header()->font());
    for (int column = 0; column < kColumns; ++column) {
        const QString header = Rows()->headerItem()->text(column);
        EXPECT_GE(Rows()->header()->sectionSize(column), metrics.horizontalAdvance(header)) << header.toStdString();
    }
    EXPECT_EQ(Rows()->headerItem()->text(kDirection), "Direction");
    EXPECT_EQ(Rows()->headerItem()->text(kResends), "Resends");

    QWidget* window = dlg.GetSafeHwnd();
    const QSize smallest = window->minimumSize();
    window->resize(smallest);
    window->show();
    const QRect list = Rows()->geometry(), close = dlg.GetDlgItem(IDCANCEL)->geometry();
    window->resize(smallest + QSize(200, 100));
    QCoreApplication::processEvents();
    EXPECT_EQ(Rows()->geometry(), list.adjusted(0, 0, 200, 100));
    EXPECT_EQ(dlg.GetDlgItem(IDCANCEL)->geometry(), close.translated(200, 100));
    Rows()->header()->resizeSection(kBytes, 222);
    EXPECT_TRUE(dlg.StopServing(false));
    ASSERT_TRUE(Ended());
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);

    CServeDlg next;
    ASSERT_TRUE(next.Create(IDD_SERVE));
    EXPECT_EQ(next.GetSafeHwnd()->size(), smallest + QSize(200, 100));
    EXPECT_EQ(qobject_cast<QTreeWidget*>(next.GetDlgItem(IDC_SERVE_TRANSFERS))->header()->sectionSize(kBytes), 222);
}

// The keyboard and a screen reader find their way: the Listen box named by
// its label, not its value; the focus seen arriving in the address list.
TEST_F(ServeWindow, KeyboardAndScreenReadersFindTheirWay)
{
    auto* listen = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_SERVE_LISTEN));
    listen->setEditText(QStringLiteral("192.0.2.7"));
    // The field typed in (which has the focus) by its name; the box, whose
    // name Qt makes its value on Linux, by the label it is labelled by.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(listen->lineEdit())->text(QAccessible::Name), "Listen on");
    const auto labels = QAccessible::queryAccessibleInterface(listen)->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front().first->text(QAccessible::Name), "Listen on:");

    // The chosen address takes the highlight only with the focus.
    auto* addresses = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_SERVE_ADDRESSES));
    addresses->addItem(QStringLiteral("192.0.2.2"));
    addresses->setCurrentRow(addresses->count() - 1);
    dlg.GetSafeHwnd()->show();
    dlg.GetSafeHwnd()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.GetSafeHwnd()));
    const QRect entry = addresses->visualItemRect(addresses->currentItem());
    const auto chosen = [&] {
        return addresses->viewport()->grab().toImage().pixelColor(entry.right() - 4, entry.center().y());
    };
    // Near the highlight: a style may shade it.
    const QColor highlight = addresses->palette().color(QPalette::Active, QPalette::Highlight);
    const auto highlighted = [&](const QColor& color) {
        return std::abs(color.red() - highlight.red()) + std::abs(color.green() - highlight.green()) +
                   std::abs(color.blue() - highlight.blue()) <
               24;
    };
    dlg.GetDlgItem(IDC_SERVE_PORT)->setFocus();
    EXPECT_FALSE(highlighted(chosen()));
    addresses->setFocus();
    ASSERT_TRUE(addresses->hasFocus());
    EXPECT_TRUE(highlighted(chosen()));
}

// A folder that cannot be served is told why, before anything starts.
TEST(ServeFolderProblem, SaysWhyAFolderCannotBeServed)
{
    const std::pair<int, const char*> errors[] = {
        {0, ""},
        {EACCES, "You cannot read /srv/tftp (permission denied)."},
        {ENOENT, "/srv/tftp does not exist. Choose an existing folder."},
        {ENOTDIR, "/srv/tftp is not a folder. Choose a folder to serve."},
    };
    for (const auto& [error, says] : errors)
        EXPECT_EQ(ServeFolderProblemText("/srv/tftp", error), says) << error;
    EXPECT_EQ(ServeFolderProblemText("", 0), "Choose a folder to serve.");

    TempDir dir;
    WriteFileBytes(dir / "file", Content(1));
    EXPECT_EQ(ServeFolderProblem(dir.Path().string()), "");
    EXPECT_EQ(ServeFolderProblem(dir / "file"), (dir / "file") + " is not a folder. Choose a folder to serve.");
    EXPECT_EQ(ServeFolderProblem(dir / "absent"), (dir / "absent") + " does not exist. Choose an existing folder.");
    std::filesystem::create_directory(dir.Path() / "locked");
    std::filesystem::permissions(dir.Path() / "locked", std::filesystem::perms::none);
    if (::geteuid() != 0) { // root reads it all the same
        EXPECT_EQ(ServeFolderProblem(dir / "locked"), "You cannot read " + (dir / "locked") + " (permission denied).");
    }
    std::filesystem::permissions(dir.Path() / "locked", std::filesystem::perms::owner_all);
}

// The window --serve opens neither starts from the saved choices nor saves
// any, not even a box changed while serving.
TEST_F(ServeWindow, TheCommandLinesWindowKeepsNoChoice)
{
    AfxSaveServeSettings(ServeSettings{}); // read-only on port 69
    CServeDlg commandLine(nullptr, false);
    ASSERT_TRUE(commandLine.Create(IDD_SERVE));
    commandLine.SetServeProgram(TARNWICK_SERVE_PATH);
    commandLine.Apply(settings, true);
    ASSERT_TRUE(RunUntil([&] { return !commandLine.ServingSummary().empty(); }));
    QTest::mouseClick(qobject_cast<QAbstractButton*>(commandLine.GetDlgItem(IDC_SERVE_UPLOAD)), Qt::LeftButton);
    ASSERT_TRUE(RunUntil([&] { return !commandLine.ServingSummary().empty(); }));
    EXPECT_TRUE(commandLine.StopServing(false));
    ASSERT_TRUE(RunUntil([&] { return !commandLine.IsServing(); }));
    const ServeSettings saved = AfxLoadServeSettings();
    EXPECT_FALSE(saved.bAllowUpload);
    EXPECT_EQ(saved.nPort, 69);
}

// A hundred clients at once: the list is drawn at most ten times a second.
TEST_F(ServeWindow, AHundredClientsRedrawTheListAtMostTenTimesASecond)
{
    settings.nMaxTransfers = 128;
    settings.nMaxPerClient = 128;
    WriteFileBytes(dir / "big.bin", Content(64 * 1024));
    dlg.Apply(settings, true);
    ASSERT_TRUE(Serving());
    std::vector<std::unique_ptr<FakePeer>> clients;
    for (int i = 0; i < 100; ++i) {
        clients.push_back(std::make_unique<FakePeer>());
        clients.back()->SendTo(static_cast<UINT>(settings.nPort), Request(1, "big.bin"));
    }
    const CEventLoopGap gap;
    const auto start = std::chrono::steady_clock::now();
    const int before = dlg.redraws;
    ASSERT_TRUE(RunUntil([&] {
        for (auto& client : clients)
            while (std::optional<Bytes> heard = client->TryReceive())
                if (WordAt(*heard, 0) == 3)
                    client->Reply(AckPacket(WordAt(*heard, 2)));
        size_t done = 0;
        for (const auto& [key, shown] : dlg.m_rows)
            done += shown.row.state == ServeState::done ? 1 : 0;
        return done == clients.size();
    }));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(dlg.redraws - before, static_cast<int>(seconds * 10) + 1) << seconds << " s";
    // 50 ms on a quiet machine (bench/ measures it); the bound here survives
    // a stall of a busy one.
    EXPECT_LT(gap.Longest(), SchedulingStall())
        << std::chrono::duration_cast<std::chrono::milliseconds>(gap.Longest()).count() << " ms";
    std::printf("longest event-loop gap with 100 clients: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(gap.Longest()).count()));
}

} // namespace
