// SPDX-License-Identifier: MIT
// The Serve window and its child: the rows, the status and the end as the
// child tells them (a fake child that prints lines, or tarnwick-serve), and
// serving that outlives the window.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <chrono>
#include <functional>
#include <string>

#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/fake_peer.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/serve_harness.h"
#include "tests/support/temp_dir.h"
#include "tests/support/timing.h"
#include "ui/serve_dlg.h"
#include "ui/serve_start.h"
#include "ui/serving_line.h"
#include "ui/transfer_dlg.h"

namespace {

// What a fake child prints first: it serves, one transfer runs, one was refused.
constexpr const char* kServing =
    R"({"event":"serving","text":"Serving the folder"}
{"event":"start","id":1,"client":"192.0.2.7","port":49152,"file":"fw.bin","direction":"read","bytes":100,"size":1000,"state":"running"}
{"event":"end","id":2,"client":"192.0.2.8","port":1024,"file":"new.txt","direction":"write","state":"refused","reason":"Uploads are not allowed","reason_code":"uploads-off"}
)";
// Then it waits for SIGTERM, and ends with status 0.
constexpr const char* kWaits = "trap 'kill $! 2>/dev/null; exit 0' TERM\nsleep 600 &\nwait\n";

class ServeChild : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFileBytes(dir / "fw.bin", Content(3000));
        settings.folder = dir.Path().string();
        settings.listen = "127.0.0.1";
        settings.nPort = static_cast<int>(FakePeer().Port()); // free again once its socket is closed
    }

    bool RunUntil(const std::function<bool()>& condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + Scaled(std::chrono::seconds(30));
        while (!condition() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
        return condition();
    }

    // A child that prints lines and then does what rest says.
    std::string FakeChild(const std::string& lines, const std::string& rest)
    {
        const std::string path = dir / ".fake-serve";
        WriteFileBytes(path, BytesOf("#!/bin/sh\ncat <<'LINES'\n" + lines + "LINES\n" + rest));
        ::chmod(path.c_str(), 0755);
        return path;
    }

    static QTreeWidget* Rows(CServeDlg& serve)
    {
        return qobject_cast<QTreeWidget*>(serve.GetDlgItem(IDC_SERVE_TRANSFERS));
    }
    static std::string Cell(CServeDlg& serve, int row, int column)
    {
        return Rows(serve)->topLevelItem(row)->text(column).toStdString();
    }
    static void Click(CServeDlg& serve, int id)
    {
        QTest::mouseClick(qobject_cast<QAbstractButton*>(serve.GetDlgItem(id)), Qt::LeftButton);
    }

    TempDir dir;
    CMessageBoxRecorder boxes;
    ServeSettings settings;
};

// The rows are the child's lines; a start again keeps the rows before, the
// new child's ids counting from 1 again.
TEST_F(ServeChild, RowsComeFromTheChildsLinesAndEachRunKeepsItsOwn)
{
    CServeDlg serve;
    ASSERT_TRUE(serve.Create(IDD_SERVE));
    serve.SetServeProgram(FakeChild(kServing, kWaits));
    serve.Apply(settings, true);
    ASSERT_TRUE(RunUntil([&] { return Rows(serve)->topLevelItemCount() == 2; }));
    EXPECT_EQ(serve.ServingSummary(), "Serving " + settings.folder + " on port " + std::to_string(settings.nPort));
    EXPECT_EQ(Cell(serve, 0, kState), "refused: Uploads are not allowed; tick Allow uploads");
    EXPECT_EQ(Cell(serve, 0, kDirection), "put");
    EXPECT_EQ(Cell(serve, 1, kClient), "192.0.2.7:49152");
    EXPECT_EQ(Cell(serve, 1, kBytes), "100 / 1,000");
    EXPECT_EQ(Cell(serve, 1, kState), "running");
    EXPECT_EQ(serve.GetDlgItemText(IDC_SERVE_COUNT), "1 transfer running, 0 done, 1 refused");

    boxes.answers = {IDYES};
    Click(serve, IDC_SERVE_START); // Stop, asked first: a transfer runs
    ASSERT_TRUE(RunUntil([&] { return !serve.IsServing(); }));
    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(serve.GetDlgItemText(IDC_SERVE_STATUS), "Not serving. The server ended with status 0.");
    EXPECT_EQ(Cell(serve, 1, kState), "failed: The server ended");

    Click(serve, IDC_SERVE_START);
    ASSERT_TRUE(RunUntil([&] { return Rows(serve)->topLevelItemCount() == 4; }));
    EXPECT_EQ(serve.GetDlgItemText(IDC_SERVE_COUNT), "1 transfer running, 0 done, 1 failed, 2 refused");
}

// However the child ends unasked, the window says so, with its last line,
// and Start serves again.
TEST_F(ServeChild, TheChildsEndIsShown)
{
    const std::string serving(kServing);
    const struct {
        const char* name;
        std::string lines, rest;
        const char* says;
        bool box; // the child could not start: the reason in a box too
    } ends[] = {
        {"killed",
         serving + R"({"event":"log","text":"last words"})"
                   "\n",
         "kill -9 $$\n",
         "The server ended unexpectedly (killed by signal 9). Its last line: last words\n"
         "Start serves the folder again.",
         false},
        {"exited", serving, "exit 3\n",
         "The server ended unexpectedly (status 3). Its last line: Serving the folder\nStart serves the folder again.",
         false},
        {"could not start",
         R"({"event":"error","text":"Cannot serve on 127.0.0.1 port 69: no."})"
         "\n",
         "exit 1\n", "Cannot serve on 127.0.0.1 port 69: no.", true},
        {"refused its command line", "", "echo 'tarnwick-serve: unknown option --x' >&2\nexit 2\n",
         "tarnwick-serve: unknown option --x", true},
    };
    for (const auto& end : ends) {
        SCOPED_TRACE(end.name);
        boxes.boxes.clear();
        CServeDlg serve;
        ASSERT_TRUE(serve.Create(IDD_SERVE));
        serve.SetServeProgram(FakeChild(end.lines, end.rest));
        serve.Apply(settings, true);
        ASSERT_TRUE(RunUntil([&] { return !serve.IsServing(); }));
        EXPECT_EQ(serve.GetDlgItemText(IDC_SERVE_STATUS), end.says);
        EXPECT_EQ(serve.GetDlgItemText(IDC_SERVE_START), "&Start");
        EXPECT_TRUE(serve.IsWindowEnabled(IDC_SERVE_FOLDER));
        EXPECT_FALSE(serve.HasRunningTransfers());
        ASSERT_EQ(boxes.boxes.size(), end.box ? 1u : 0u);
        if (end.box) {
            EXPECT_EQ(boxes.boxes[0].text, end.says);
        }
    }

    CServeDlg missing;
    ASSERT_TRUE(missing.Create(IDD_SERVE));
    missing.SetServeProgram(dir / "absent");
    missing.Apply(settings, true);
    ASSERT_TRUE(RunUntil([&] { return !missing.IsServing(); }));
    EXPECT_EQ(missing.GetDlgItemText(IDC_SERVE_STATUS).rfind("Cannot run the server " + (dir / "absent"), 0), 0u)
        << missing.GetDlgItemText(IDC_SERVE_STATUS);
}

// Closing the window leaves tarnwick-serve serving, and the main window says
// so and opens the window again; Stop asks while a transfer runs.
TEST_F(ServeChild, ClosingKeepsServingAndTheMainWindowSaysSo)
{
    CTransferDlg main;
    ASSERT_TRUE(main.Create(IDD_MAIN));
    main.SendMessage(WM_SYSCOMMAND, IDM_SERVE, 0);
    ASSERT_NE(g_pServeDlg, nullptr);
    CServeDlg& serve = *g_pServeDlg;
    serve.SetServeProgram(TARNWICK_SERVE_PATH);
    serve.Apply(settings, true);
    ASSERT_TRUE(RunUntil([&] { return !serve.ServingSummary().empty(); }));
    serve.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(serve.GetSafeHwnd()->isVisible());
    EXPECT_TRUE(serve.IsServing());
    auto* line = main.GetSafeHwnd()->findChild<QPushButton*>(QLatin1String(kServingLineName));
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->isVisibleTo(main.GetSafeHwnd()));
    EXPECT_EQ(line->toolTip().toStdString(),
              "Serving " + settings.folder + " on port " + std::to_string(settings.nPort));

    FakePeer silent; // asks and never acknowledges
    silent.SendTo(static_cast<UINT>(settings.nPort), Request(1, "fw.bin"));
    std::optional<Bytes> heard;
    ASSERT_TRUE(RunUntil([&] { return heard.has_value() || (heard = silent.TryReceive()).has_value(); }));
    EXPECT_EQ(WordAt(*heard, 0), 3); // DATA 1
    ASSERT_TRUE(RunUntil([&] { return serve.HasRunningTransfers(); }));

    QTest::mouseClick(line, Qt::LeftButton);
    EXPECT_TRUE(serve.GetSafeHwnd()->isVisible());
    boxes.answers = {IDNO, IDYES};
    Click(serve, IDC_SERVE_START);
    EXPECT_TRUE(serve.IsServing());
    Click(serve, IDC_SERVE_START);
    ASSERT_TRUE(RunUntil([&] { return !serve.IsServing(); }));
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, AfxLoadString(IDS_SERVE_CONFIRM_CLOSE));
    EXPECT_EQ(serve.GetDlgItemText(IDC_SERVE_STATUS), "Not serving. The server ended with status 0.");
    EXPECT_EQ(Cell(serve, 0, kState), "failed: Server stopped");
    EXPECT_FALSE(line->isVisibleTo(main.GetSafeHwnd()));
    main.DestroyWindow();
}

// The addresses listed are those served, each with its interface; the hint
// is what a device types, with the port when it is not 69 and without this
// computer's zone.
TEST_F(ServeChild, TheHintFitsWhatIsServed)
{
    const struct {
        const char* address;
        bool ipv6;
        int port;
        const char* hint;
    } hints[] = {
        {"192.0.2.2", false, 69, "setenv serverip 192.0.2.2"},
        {"192.0.2.2", false, 6969, "setenv serverip 192.0.2.2; setenv tftpdstp 6969"},
        {"fe80::1%eth1", true, 69, "setenv serverip6 fe80::1"},
        {"2001:db8::2", true, 1069, "setenv serverip6 2001:db8::2; setenv tftpdstp 1069"},
    };
    for (const auto& hint : hints)
        EXPECT_EQ(ServeHint(hint.address, hint.ipv6, hint.port), hint.hint) << hint.address;

    CServeDlg serve;
    ASSERT_TRUE(serve.Create(IDD_SERVE));
    settings.nPort = 6969;
    serve.Apply(settings, false);
    auto* list = qobject_cast<QListWidget*>(serve.GetDlgItem(IDC_SERVE_ADDRESSES));
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text().toStdString(), "127.0.0.1 (lo)    setenv serverip 127.0.0.1; setenv tftpdstp 6969");
    Click(serve, IDC_SERVE_COPY_HINT);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "setenv serverip 127.0.0.1; setenv tftpdstp 6969");
}

} // namespace
