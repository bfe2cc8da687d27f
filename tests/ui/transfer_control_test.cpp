// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDialog>
#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "platform/core/dirlist.h"
#include "platform/core/format.h"
#include "platform/core/msgbox.h"
#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/counted_session.h"
#include "tests/support/fake_peer.h"
#include "tests/support/fake_resolver.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tftpd_server.h"
#include "tests/support/timing.h"
#include "tests/ui/event_loop_gap.h"
#include "ui/log_dlg.h"
#include "ui/transfer_dlg.h"

namespace {

// The tests' own settings file (XDG_CONFIG_HOME is a directory of theirs).
QSettings Settings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarnwick"),
                     QStringLiteral("Tarnwick"));
}

// The main window with a clock the test sets, its sessions counted, and the
// status words it shows recorded.
class TestDlg : public CTransferDlg {
public:
    ULONGLONG now = 1000000; // milliseconds
    int deleted = 0;
    int* pDeleted = &deleted; // where the sessions' deletions are counted
    int created = 0;
    CTFTPSession* last = nullptr;
    std::vector<std::string> words;

    bool Busy() const { return IsBusy(); }
    ULONGLONG BytesMoved() const { return m_dwBytes; }
    UINT_PTR TimerID() const { return m_nTimerID; }

protected:
    ULONGLONG GetTickCount64() const override { return now; }
    CTFTPSession* CreateSession() override
    {
        ++created;
        last = new CountedSession<>(m_pNotifyWnd, pDeleted);
        return last;
    }
    void UpdateStatus() override
    {
        if (words.empty() || words.back() != m_strStatus)
            words.push_back(m_strStatus);
        CTransferDlg::UpdateStatus();
    }
};

class TransferControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFileBytes(local / "b.txt", Bytes(100, 'b'));
        Settings().remove(QStringLiteral("State")); // each test starts with nothing remembered
        ASSERT_TRUE(dlg.Create(IDD_MAIN));
        dlg.words.clear();
    }

    void Type(int id, const std::string& text)
    {
        auto* edit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(id));
        edit->clear();
        QTest::keyClicks(edit, QString::fromStdString(text));
    }

    void ChooseFile(const std::string& name)
    {
        auto* list = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_FILE_LIST));
        DlgDirList(dlg, nullptr, IDC_FILE_LIST, 0, 0);
        const auto found = list->findItems(QString::fromStdString(name), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        list->setCurrentItem(found[0]);
    }

    void Click(int id) { QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(id)), Qt::LeftButton); }

    // Runs the event loop until the condition holds (bounded).
    bool RunUntil(const std::function<bool()>& condition, int seconds = 60)
    {
        const auto deadline = std::chrono::steady_clock::now() + Scaled(std::chrono::seconds(seconds));
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        }
        return true;
    }

    void Settle() { QCoreApplication::processEvents(); }

    // Puts b.txt (100 bytes) to `server` until its one block has gone out from
    // `transfer`'s ACK 0; returns the client's port.
    UINT PutUntilTheBlockIsOut(FakePeer& server, FakePeer& transfer)
    {
        ChooseFile("b.txt");
        Type(IDC_REMOTE_HOST, server.HostString());
        Click(IDC_PUT);
        EXPECT_TRUE(server.Receive());
        Settle();
        const UINT port = server.LastSenderPort();
        transfer.SendTo(port, AckPacket(0));
        EXPECT_TRUE(RunUntil([&] { return transfer.TryReceive().has_value(); }));
        return port;
    }

    std::string Status() { return dlg.GetDlgItemText(IDC_STATUS_VALUES); }
    bool Enabled(int id) { return dlg.IsWindowEnabled(id) != FALSE; }

    TempDir local;
    CMessageBoxRecorder boxes;
    TestDlg dlg;
};

TEST_F(TransferControl, ConfirmationTextsAndCancel)
{
    FakePeer server;
    Type(IDC_REMOTE_FILE, "fw %s.bin");
    Type(IDC_REMOTE_HOST, server.HostString());
    boxes.answers = {IDCANCEL};
    Click(IDC_GET);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              "Please confirm the following operation:\nRetrieve file:\tfw %s.bin\nfrom host:\t\t" +
                  server.HostString() + "\nto directory:\t" + local.Path().string() + "\nusing Binary mode?");
    EXPECT_EQ(boxes.boxes[0].nType, MB_OKCANCEL | MB_ICONQUESTION);

    ChooseFile("b.txt");
    Type(IDC_REMOTE_FILE, "");
    QTest::mouseClick(qobject_cast<QRadioButton*>(dlg.GetDlgItem(IDC_MODE_ASCII)), Qt::LeftButton);
    boxes.answers = {IDCANCEL};
    Click(IDC_PUT);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].text, "Please confirm the following operation:\nSend file:\t" + (local / "b.txt") +
                                       "\nto host:\t" + server.HostString() + "\nas file:\tb.txt\nusing ASCII mode?");

    Settle();
    EXPECT_EQ(server.TryReceive(), std::nullopt);
    EXPECT_EQ(dlg.created, 0);
    EXPECT_EQ(dlg.TimerID(), 0u);
    EXPECT_TRUE(Enabled(IDC_PUT));
    EXPECT_FALSE(Enabled(IDC_ABORT));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_REMOTE_FILE), "");
    EXPECT_EQ(Status(), "Idle\n100\n0\n0 bps");
}

TEST_F(TransferControl, OverwritePromptOnlyForAnExistingFile)
{
    FakePeer server;
    Type(IDC_REMOTE_HOST, server.HostString());
    // The local file is the remote name's last part, in the directory shown.
    Type(IDC_REMOTE_FILE, "/srv/tftp/b.txt");
    boxes.answers = {IDOK, IDCANCEL};
    Click(IDC_GET);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].text, AfxLoadString(IDS_OVERWRITE));
    EXPECT_EQ(boxes.boxes[1].nType, MB_OKCANCEL);
    EXPECT_EQ(server.TryReceive(), std::nullopt);
    EXPECT_EQ(dlg.created, 0);

    Type(IDC_REMOTE_FILE, "new.txt");
    Click(IDC_GET);
    EXPECT_EQ(boxes.boxes.size(), 3u); // the confirmation alone
    EXPECT_EQ(server.Receive(), BytesOf(std::string("\0\1new.txt\0octet\0", 16)));
    Click(IDC_ABORT);
}

TEST_F(TransferControl, AGetNameWithoutAFileNameIsRefusedBeforeAnythingIsAsked)
{
    FakePeer server;
    Type(IDC_REMOTE_HOST, server.HostString());
    for (const char* remote : {"pxelinux.cfg/", "/", ".", "..", "boot/..", "a/."}) {
        SCOPED_TRACE(remote);
        boxes.boxes.clear();
        Type(IDC_REMOTE_FILE, remote);
        Click(IDC_GET);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, "The remote file name \"" + std::string(remote) +
                                           "\" does not end in a file name.\nType the name of a file, such as "
                                           "pxelinux.cfg/default: it is stored under its last part, in the "
                                           "directory shown.");
        EXPECT_EQ(boxes.boxes[0].nType, MB_OK);
    }
    Settle();
    EXPECT_EQ(server.TryReceive(), std::nullopt);
    EXPECT_EQ(dlg.created, 0);
    EXPECT_TRUE(Enabled(IDC_GET));
}

TEST_F(TransferControl, AbortDuringAGetKeepsTheFiguresAndTheOldFile)
{
    FakePeer server;
    FakePeer transfer;
    WriteFileBytes(local / "config.txt", Bytes(10, 'o'));
    Type(IDC_REMOTE_HOST, server.HostString());
    Type(IDC_REMOTE_FILE, "config.txt");
    Click(IDC_GET);
    ASSERT_TRUE(server.Receive());
    EXPECT_TRUE(dlg.Busy());
    EXPECT_FALSE(Enabled(IDC_GET));
    EXPECT_FALSE(Enabled(IDC_PUT));
    EXPECT_TRUE(Enabled(IDC_ABORT));

    transfer.SendTo(server.LastSenderPort(), DataPacket(1, 512));
    ASSERT_TRUE(RunUntil([&] { return transfer.TryReceive().has_value(); }));
    Settle();
    dlg.now += 1000;
    dlg.SendMessage(WM_TIMER, 1);
    dlg.SendMessage(WM_TIMER, 1); // the once-a-second refresh
    // The server told no size: a Get shows none.
    EXPECT_EQ(Status(), "Receiving\n\n512\n4.10 kbps");

    Click(IDC_ABORT);
    EXPECT_EQ(Status(), "Aborted\n\n512\n4.10 kbps");
    EXPECT_FALSE(dlg.Busy());
    EXPECT_EQ(dlg.deleted, 1);
    EXPECT_EQ(ReadFileBytes(local / "config.txt"), Bytes(10, 'o'));
    EXPECT_EQ(local.Names(), (std::vector<std::string>{"b.txt", "config.txt"}));
    EXPECT_EQ(dlg.words, (std::vector<std::string>{"Starting", "Receiving", "Aborted"}));
}

TEST_F(TransferControl, ASlowLookupLeavesTheWindowWorkingAndAbortSendsNothing)
{
    CFakeResolver resolver; // answers only when told: a name server that takes its time
    FakePeer server;
    Type(IDC_REMOTE_HOST, "slow.example:" + std::to_string(server.Port()));
    Type(IDC_REMOTE_FILE, "config.txt");
    Click(IDC_GET);
    Settle();
    ASSERT_EQ(resolver.Hosts(), std::vector<std::string>{"slow.example"});
    EXPECT_EQ(dlg.words.back(), "Resolving");
    EXPECT_TRUE(dlg.Busy());
    EXPECT_TRUE(Enabled(IDC_ABORT));
    // The window's loop runs on: a timer set now fires.
    bool fired = false;
    QTimer::singleShot(20, [&fired] { fired = true; });
    EXPECT_TRUE(RunUntil([&] { return fired; }, 5));

    Click(IDC_ABORT);
    EXPECT_FALSE(dlg.Busy());
    EXPECT_EQ(dlg.deleted, 1);
    HostLookupResult found = AfxLookUpHost("127.0.0.1", server.Port(), true);
    EXPECT_FALSE(resolver.Answer(0, found));
    Settle();
    EXPECT_EQ(server.TryReceive(), std::nullopt);
    EXPECT_TRUE(boxes.boxes.size() == 1u); // the confirmation only

    // A host in none of the forms is refused before the confirmation.
    boxes.boxes.clear();
    Type(IDC_REMOTE_HOST, "[::1");
    Click(IDC_GET);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, AfxFormatString(AfxFindString(IDS_BAD_HOST), "[::1"));
    EXPECT_EQ(dlg.created, 1);
}

TEST_F(TransferControl, EndingTheWindowDuringATransferAsksFirst)
{
    FakePeer server;
    auto* window = qobject_cast<QDialog*>(dlg.GetSafeHwnd());
    const std::function<void()> escape = [&] { QTest::keyClick(window, Qt::Key_Escape); };
    const std::function<void()> exitButton = [&] { Click(IDOK); };
    const std::function<void()> close = [&] { window->close(); };
    const struct {
        const char* name;
        const std::function<void()>& end;
        int answer;
    } rows[] = {{"Escape, No", escape, IDNO},
                {"Exit, No", exitButton, IDNO},
                {"Close, No", close, IDNO},
                {"Exit, Yes", exitButton, IDYES}};
    Type(IDC_REMOTE_HOST, server.HostString());
    Type(IDC_REMOTE_FILE, "x.bin");
    Click(IDC_GET);
    ASSERT_TRUE(server.Receive());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        boxes.boxes.clear();
        boxes.answers = {row.answer};
        window->setResult(0);
        row.end();
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, "A transfer is in progress. Abort it and exit?");
        EXPECT_EQ(boxes.boxes[0].nType, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        EXPECT_EQ(window->result(), row.answer == IDYES ? IDOK : 0);
        EXPECT_TRUE(dlg.Busy());
    }
    // Idle, the window ends without a question.
    Click(IDC_ABORT);
    boxes.boxes.clear();
    window->setResult(0);
    escape();
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(window->result(), IDCANCEL);
}

TEST_F(TransferControl, TheCommandLineFillsTheBoxesAndStartsAfterTheConfirmation)
{
    FakePeer server;
    const struct {
        const char* name;
        CommandLine line;
        Bytes request; // empty: nothing is sent
        std::string box;
    } rows[] = {
        {"get", {server.HostString(), "x.cfg", "", true}, BytesOf(std::string("\0\1x.cfg\0octet\0", 14)), ""},
        {"put", {server.HostString(), "", local / "b.txt", false}, BytesOf(std::string("\0\2b.txt\0octet\0", 14)), ""},
        {"put --ascii",
         {server.HostString(), "", local / "b.txt", false, true},
         BytesOf(std::string("\0\2b.txt\0netascii\0", 17)),
         ""},
        {"boxes only", {server.HostString(), "y.cfg", "", false}, {}, ""},
        {"put of no file", {server.HostString(), "", local / "absent", false}, {}, AfxLoadString(IDS_OPEN_READ_FAILED)},
    };
    dlg.DestroyWindow(); // the program has one main window (and one log window)
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        boxes.boxes.clear();
        TestDlg started;
        started.SetStartup(row.line);
        ASSERT_TRUE(started.Create(IDD_MAIN));
        EXPECT_EQ(started.GetDlgItemText(IDC_REMOTE_HOST), row.line.host);
        Settle();
        if (!row.request.empty()) {
            EXPECT_EQ(server.Receive(), row.request);
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].nType & MB_ICONMASK, MB_ICONQUESTION); // the confirmation
        } else {
            EXPECT_EQ(server.TryReceive(), std::nullopt);
            EXPECT_EQ(boxes.Texts(), row.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.box});
        }
    }
}

TEST_F(TransferControl, TheNextWindowRemembersNamesAndDirectoryStartsInBinaryAndTheCommandLineWins)
{
    FakePeer first;
    FakePeer second;
    QTest::mouseClick(qobject_cast<QRadioButton*>(dlg.GetDlgItem(IDC_MODE_ASCII)), Qt::LeftButton);
    for (FakePeer* server : {&first, &second, &first}) {
        Type(IDC_REMOTE_HOST, server->HostString());
        Type(IDC_REMOTE_FILE, std::to_string(server->Port()).append(".cfg"));
        Click(IDC_GET);
        ASSERT_TRUE(server->Receive());
        Click(IDC_ABORT);
    }
    const std::string directory = AfxGetCurrentDirectory();
    dlg.DestroyWindow(); // the run ends: what it leaves is kept
    ASSERT_EQ(::chdir("/"), 0);
    // An older version's Ascii mode is read without complaint, and ignored.
    Settings().setValue(QStringLiteral("State/Mode"), QStringLiteral("netascii"));

    const auto completions = [](TestDlg& window, int id) {
        return qobject_cast<QLineEdit*>(window.GetDlgItem(id))->completer()->model()->rowCount();
    };
    TestDlg next;
    ASSERT_TRUE(next.Create(IDD_MAIN));
    EXPECT_TRUE(qobject_cast<QRadioButton*>(next.GetDlgItem(IDC_MODE_BINARY))->isChecked());
    EXPECT_EQ(AfxGetCurrentDirectory(), directory);
    auto* host = qobject_cast<QLineEdit*>(next.GetDlgItem(IDC_REMOTE_HOST));
    EXPECT_TRUE(host->text().isEmpty());
    const auto* model = host->completer()->model();
    ASSERT_EQ(model->rowCount(), 2); // each once, the most recent first
    EXPECT_EQ(model->index(0, 0).data().toString().toStdString(), first.HostString());
    EXPECT_EQ(model->index(1, 0).data().toString().toStdString(), second.HostString());
    EXPECT_EQ(completions(next, IDC_REMOTE_FILE), 2);
    QTest::keyClick(host, Qt::Key_Down);
    EXPECT_TRUE(host->completer()->popup()->isVisible());
    next.DestroyWindow();

    TestDlg started;
    started.SetStartup(CommandLine{"cmdline.example", "", "", false});
    ASSERT_TRUE(started.Create(IDD_MAIN));
    EXPECT_EQ(started.GetDlgItemText(IDC_REMOTE_HOST), "cmdline.example");
    started.DestroyWindow();

    // A Get from the command line stores into the shell's directory.
    ASSERT_EQ(::chdir("/"), 0);
    boxes.answers = {IDCANCEL};
    TestDlg getting;
    getting.SetStartup(CommandLine{first.HostString(), "x.cfg", "", true});
    ASSERT_TRUE(getting.Create(IDD_MAIN));
    Settle();
    EXPECT_EQ(AfxGetCurrentDirectory(), "/");
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_NE(boxes.boxes.back().text.find("to directory:\t/\n"), std::string::npos) << boxes.boxes.back().text;
}

TEST_F(TransferControl, AFileDroppedOnTheWindowIsChosenForAPut)
{
    const std::string sub = local / "sub";
    const std::string firmware = sub + "/fw.bin";
    std::filesystem::create_directories(sub);
    WriteFileBytes(firmware, Bytes(300, 'f'));
    const auto drop = [this](const std::vector<std::string>& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const auto& path : paths)
            urls << QUrl::fromLocalFile(QString::fromStdString(path));
        data.setUrls(urls);
        QWidget* window = dlg.GetSafeHwnd();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &enter);
        QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &dropped);
        return enter.isAccepted();
    };
    const auto chosen = [this] {
        const auto selected = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_FILE_LIST))->selectedItems();
        return selected.isEmpty() ? std::string() : selected.front()->text().toStdString();
    };
    // Not taken: a directory, two files at once.
    EXPECT_FALSE(drop({sub}));
    EXPECT_FALSE(drop({local / "b.txt", firmware}));
    EXPECT_EQ(chosen(), "");

    EXPECT_TRUE(drop({firmware}));
    EXPECT_EQ(AfxGetCurrentDirectory(), sub);
    EXPECT_EQ(chosen(), "fw.bin");
    FakePeer server;
    Type(IDC_REMOTE_HOST, server.HostString());
    EXPECT_TRUE(Enabled(IDC_PUT));

    // Not during a transfer.
    Click(IDC_PUT);
    ASSERT_TRUE(server.Receive());
    EXPECT_FALSE(drop({local / "b.txt"}));
    EXPECT_EQ(AfxGetCurrentDirectory(), sub);
}

TEST_F(TransferControl, TimeoutResetsFirstThenSaysSo)
{
    FakePeer silent;
    Type(IDC_REMOTE_HOST, silent.HostString());
    Type(IDC_REMOTE_FILE, "nothing.bin");
    Click(IDC_GET);
    Settle();
    std::string statusAtBox;
    boxes.onShow = [&](const CMessageBoxRecorder::Box&) {
        statusAtBox = Status();
        return IDOK;
    };
    for (int tick = 0; tick < 18; ++tick)
        dlg.SendMessage(WM_TIMER, 1);
    Settle();
    // What happened, where, and what to look at.
    EXPECT_EQ(boxes.Texts().back(), AfxLoadString(IDS_SESSION_TIMEOUT) + "\n\nNo answer came from 127.0.0.1, port " +
                                        std::to_string(silent.Port()) + ". Check that the address is right, that a " +
                                        "TFTP server is running there, and that no firewall blocks UDP port " +
                                        std::to_string(silent.Port()) + ".");
    EXPECT_EQ(boxes.boxes.back().nType, MB_OK);
    EXPECT_EQ(statusAtBox.substr(0, 7), "Failed\n");
    EXPECT_TRUE(Enabled(IDC_GET));
    EXPECT_FALSE(Enabled(IDC_ABORT));
    EXPECT_EQ(dlg.deleted, 1);
    EXPECT_TRUE(local.Names() == std::vector<std::string>{"b.txt"});
}

// With options granted and no timeout, the window's finer clock drives the
// resends and the end, and the tick does not.
TEST_F(TransferControl, ANegotiatedTransferResendsAndEndsOnTheWindowsClock)
{
    QSettings settings = Settings();
    settings.setValue(QStringLiteral("Options/Negotiate"), true);
    settings.setValue(QStringLiteral("Options/Timeout"), 0);
    settings.sync();
    FakePeer server;
    FakePeer transfer;
    Type(IDC_REMOTE_HOST, server.HostString());
    Type(IDC_REMOTE_FILE, "clocked.bin");
    Click(IDC_GET);
    ASSERT_TRUE(server.Receive());
    transfer.SendTo(server.LastSenderPort(), BytesOf(std::string("\0\6blksize\0"
                                                                 "1468\0",
                                                                 15)));
    ASSERT_TRUE(RunUntil([&] { return transfer.TryReceive() == AckPacket(0); }));
    Settle();
    for (int tick = 0; tick < 18; ++tick)
        dlg.SendMessage(WM_TIMER, 1);
    EXPECT_EQ(transfer.TryReceive(), std::nullopt);
    dlg.now += 20; // the floor: the OACK came back at once
    dlg.SendMessage(WM_TIMER, 2);
    EXPECT_EQ(transfer.TryReceive(), AckPacket(0));
    dlg.now += TFTP_SILENCE_LIMIT_MS;
    dlg.SendMessage(WM_TIMER, 2);
    Settle();
    EXPECT_EQ(boxes.Texts().back().substr(0, AfxLoadString(IDS_SESSION_TIMEOUT).size()),
              AfxLoadString(IDS_SESSION_TIMEOUT));
    EXPECT_FALSE(dlg.Busy());
    settings.remove(QStringLiteral("Options"));
}

TEST_F(TransferControl, FinalRateCountsMilliseconds)
{
    struct Row {
        ULONGLONG milliseconds;
        const char* status;
    };
    const Row rows[] = {{2000, "Complete\n100\n100\n400 bps"},
                        {250, "Complete\n100\n100\n3.20 kbps"},
                        {0, "Complete\n100\n100\n800 kbps"}}; // quicker than the clock: one millisecond
    for (const Row& row : rows) {
        FakePeer server;
        FakePeer transfer;
        const UINT port = PutUntilTheBlockIsOut(server, transfer);
        dlg.now += row.milliseconds;
        transfer.SendTo(port, AckPacket(1));
        ASSERT_TRUE(RunUntil([&] { return !dlg.Busy(); }));
        EXPECT_EQ(Status(), row.status);
        // The bar stays full after the end.
        const auto* bar = qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_PROGRESS));
        EXPECT_EQ(bar->value(), bar->maximum());
        EXPECT_EQ(bar->text(), "100%");
    }
}

TEST_F(TransferControl, AnEndInsideTheSessionsOwnBoxWaitsForItsCall)
{
    // The final ACK queues WM_TFTP_COMPLETE; a server ERROR then opens a box
    // whose loop handles it: the session must outlive its own call.
    FakePeer server;
    FakePeer transfer;
    const UINT port = PutUntilTheBlockIsOut(server, transfer);
    CTFTPSession* session = dlg.last;

    transfer.SendTo(port, AckPacket(1));
    ASSERT_TRUE(WaitReadable(session->m_hSocket));
    session->OnReceive(0); // WM_TFTP_COMPLETE is queued, not handled
    transfer.SendTo(port, ErrorPacket(0, "late error"));
    ASSERT_TRUE(WaitReadable(session->m_hSocket));
    boxes.onShow = [&](const CMessageBoxRecorder::Box&) {
        Settle(); // the box's own event loop
        EXPECT_FALSE(dlg.Busy());
        EXPECT_EQ(dlg.deleted, 0);
        return IDOK;
    };
    session->OnReceive(0);
    EXPECT_EQ(dlg.deleted, 1);
    boxes.onShow = nullptr;
    Settle(); // the WM_TFTP_FAILED posted after the box
    EXPECT_EQ(dlg.deleted, 1);
    EXPECT_FALSE(dlg.Busy());
    EXPECT_EQ(Status().substr(0, 9), "Complete\n"); // the late error changes nothing
    EXPECT_EQ(boxes.FirstParagraphs(), (std::vector<std::string>{boxes.FirstParagraphs()[0], "late error"}));
}

// However a transfer ends, the panel says so, the log has a line for it, and
// the focus goes back to the button that started it, never to Exit. The
// list's refresh after a Get chooses the file received, and is no choice of
// the user's: the end stays said.
TEST_F(TransferControl, EveryEndIsSaidLoggedAndGivesTheFocusBack)
{
    struct Row {
        const char* word;
        const char* logged;
        std::function<void(FakePeer& transfer, UINT port)> end;
    };
    const Row rows[] = {
        {"Complete", "Transfer complete: 10 bytes",
         [](FakePeer& transfer, UINT port) { transfer.SendTo(port, DataPacket(1, 10)); }},
        {"Aborted", "Transfer aborted: 0 bytes", [this](FakePeer&, UINT) { Click(IDC_ABORT); }},
        {"Failed", "Transfer failed: 0 bytes",
         [](FakePeer& transfer, UINT port) { transfer.SendTo(port, ErrorPacket(2, "denied")); }},
    };
    dlg.SendMessage(WM_SYSCOMMAND, IDM_LOG_WINDOW, 0);
    auto* log = qobject_cast<QListWidget*>(g_pLogDlg->GetDlgItem(IDC_LOG_LIST));
    ChooseFile("b.txt");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.word);
        FakePeer server;
        FakePeer transfer;
        Type(IDC_REMOTE_HOST, server.HostString());
        Type(IDC_REMOTE_FILE, "c.cfg");
        QWidget* get = dlg.GetDlgItem(IDC_GET);
        get->setFocus();
        QTest::keyClick(get, Qt::Key_Space); // as a keyboard user starts it
        ASSERT_TRUE(server.Receive());
        EXPECT_NE(dlg.GetSafeHwnd()->focusWidget(), dlg.GetDlgItem(IDOK));
        row.end(transfer, server.LastSenderPort());
        ASSERT_TRUE(RunUntil([&] { return !dlg.Busy(); }));
        Settle();
        EXPECT_EQ(Status().substr(0, Status().find('\n')), row.word);
        EXPECT_EQ(dlg.GetDlgItemText(IDC_CURRENT_DIR), local / "c.cfg"); // since the first row's Get
        EXPECT_EQ(log->item(log->count() - 1)->text().mid(9).toStdString().rfind(row.logged, 0), 0u)
            << log->item(log->count() - 1)->text().toStdString();
        EXPECT_EQ(dlg.GetSafeHwnd()->focusWidget(), get);
        // Enter now asks again for what the button does; it never ends the program.
        boxes.answers = {IDCANCEL};
        const size_t shown = boxes.boxes.size();
        QTest::keyClick(dlg.GetSafeHwnd()->focusWidget(), Qt::Key_Return);
        ASSERT_EQ(boxes.boxes.size(), shown + 1);
        EXPECT_EQ(boxes.boxes.back().text.rfind("Please confirm the following operation:\nRetrieve", 0), 0u);
        EXPECT_TRUE(dlg.GetSafeHwnd()->isVisible());
    }
}

// Ascii mode keeps only text: a Put of a binary file in Ascii mode says so.
TEST_F(TransferControl, TheConfirmationWarnsOfABinaryFileInAsciiMode)
{
    FakePeer server;
    Bytes image(70000, 'a');
    image[66000] = 0; // past the first 64 KiB: not looked at
    WriteFileBytes(local / "late.bin", image);
    image[10] = 0;
    WriteFileBytes(local / "fw.bin", image);
    Type(IDC_REMOTE_HOST, server.HostString());
    const std::string warning = "\n\n" + AfxLoadString(IDS_LOOKS_BINARY);
    const struct {
        const char* file;
        int mode;
        bool warned;
    } rows[] = {{"fw.bin", IDC_MODE_ASCII, true},
                {"fw.bin", IDC_MODE_BINARY, false},
                {"b.txt", IDC_MODE_ASCII, false},
                {"late.bin", IDC_MODE_ASCII, false}};
    for (const auto& row : rows) {
        ChooseFile(row.file);
        QTest::mouseClick(qobject_cast<QRadioButton*>(dlg.GetDlgItem(row.mode)), Qt::LeftButton);
        boxes.answers = {IDCANCEL};
        Click(IDC_PUT);
        const std::string& text = boxes.boxes.back().text;
        EXPECT_EQ(text.size() > warning.size() && text.substr(text.size() - warning.size()) == warning, row.warned)
            << text;
    }
    EXPECT_FALSE(dlg.Busy());
}

// A typo in the history can be taken out; an empty history is written as
// an empty list, not as a value no one can read.
TEST_F(TransferControl, ShiftDeleteForgetsANameAndAnEmptyHistoryReadsEmpty)
{
    dlg.DestroyWindow();
    const std::string file = Settings().fileName().toStdString();
    std::ifstream written(file);
    const std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Hosts=\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("@Invalid"), std::string::npos) << text;

    Settings().setValue(QStringLiteral("State/Hosts"), QStringList{"tpyo.example", "good.example"});
    TestDlg next;
    ASSERT_TRUE(next.Create(IDD_MAIN));
    auto* host = qobject_cast<QLineEdit*>(next.GetDlgItem(IDC_REMOTE_HOST));
    QTest::keyClick(host, Qt::Key_Down);
    QAbstractItemView* popup = host->completer()->popup();
    ASSERT_TRUE(popup->isVisible());
    popup->setCurrentIndex(popup->model()->index(0, 0));
    QTest::keyClick(popup, Qt::Key_Delete, Qt::ShiftModifier);
    ASSERT_EQ(popup->model()->rowCount(), 1);
    EXPECT_EQ(popup->model()->index(0, 0).data().toString(), "good.example");
    EXPECT_EQ(Settings().value(QStringLiteral("State/Hosts")).toStringList(), QStringList{"good.example"});
}

TEST_F(TransferControl, TheProgressBarCoversAFileOfAnySize)
{
    // A sparse file of 2 TiB: 2^32 blocks, more than the bar's int can count.
    FakePeer server;
    ASSERT_EQ(::truncate((local / "b.txt").c_str(), 2ll << 40), 0);
    ChooseFile("b.txt");
    Type(IDC_REMOTE_HOST, server.HostString());
    Click(IDC_PUT);
    Settle();
    auto* bar = qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_PROGRESS));
    EXPECT_EQ(bar->maximum(), 1 << 30); // every block counted, four to a step
    for (int block = 0; block < 40; ++block)
        dlg.SendMessage(WM_TFTP_PROGRESS, 0, 512);
    dlg.now += 1000;
    dlg.SendMessage(WM_TIMER, 1);
    dlg.SendMessage(WM_TIMER, 1); // the once-a-second advance
    EXPECT_EQ(bar->value(), 10);
    EXPECT_EQ(Status(), "Transmitting\n2,199,023,255,552\n20,480\n164 kbps");
    Click(IDC_ABORT);
    EXPECT_EQ(bar->value(), 10); // an abort leaves the bar where it was
}

TEST(WindowClosing, DuringATransferEndsItAndTheLogWindow)
{
    TempDir local;
    CMessageBoxRecorder boxes;
    FakePeer server;
    int deleted = 0;
    {
        TestDlg dlg;
        dlg.pDeleted = &deleted; // outlives the window
        ASSERT_TRUE(dlg.Create(IDD_MAIN));
        qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_HOST))->setText(QString::fromStdString(server.HostString()));
        qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_FILE))->setText("x.bin");
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_GET)), Qt::LeftButton);
        ASSERT_TRUE(dlg.Busy());
        ASSERT_TRUE(server.Receive());
    } // the window goes while the transfer runs
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(g_pLogDlg, nullptr);
    // A late datagram for the ended transfer reaches nothing: no box, no file.
    server.Reply(DataPacket(1, 10));
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes.boxes.size(), 1u); // the confirmation
    EXPECT_TRUE(local.Names().empty());
}

// Datagrams that keep coming are answered in place, yet the window still gets
// its turn: timers keep firing and a click on Abort is taken. On an idle
// machine the turn comes within the watcher's budget and a few milliseconds
// (qt_socket_watcher_test.cpp holds the budget); the bound here is one and a
// half stalls, which a busy machine keeps and a window kept waiting for the
// rest of the transfer (seconds) does not.
TEST_F(TransferControl, TheWindowGetsItsTurnWhileDatagramsKeepComing)
{
    using Clock = std::chrono::steady_clock;
    TftpdServer server;
    WriteFileBytes((server.Root() / "big.bin").string(), Bytes(16 * 1024 * 1024, 'b'));
    Type(IDC_REMOTE_HOST, server.HostString());
    Type(IDC_REMOTE_FILE, "big.bin");
    Click(IDC_GET);

    const CEventLoopGap gap;
    ASSERT_TRUE(RunUntil([&] { return dlg.BytesMoved() > 1024 * 1024; }));

    // A click that has to wait for the event loop, as a user's does.
    QWidget* abort = dlg.GetDlgItem(IDC_ABORT);
    const QPointF centre = QRectF(abort->rect()).center();
    const Clock::time_point clicked = Clock::now();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(
            abort, new QMouseEvent(type, centre, abort->mapToGlobal(centre), Qt::LeftButton,
                                   type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier));
    ASSERT_TRUE(RunUntil([&] { return !dlg.Busy(); }));
    const auto bound = SchedulingStall() * 3 / 2;
    EXPECT_LT(Clock::now() - clicked, bound);
    EXPECT_LT(gap.Longest(), bound);
    EXPECT_EQ(Status().substr(0, 8), "Aborted\n");
    EXPECT_FALSE(std::filesystem::exists(local / "big.bin"));
}

struct WindowTransferCase {
    WORD direction;
    WORD mode;
};

void PrintTo(const WindowTransferCase& c, std::ostream* os)
{
    *os << (c.direction == DIRECTION_GET ? "Get " : "Put ") << (c.mode == MODE_BINARY ? "octet" : "netascii");
}

class WindowTransfer : public TransferControl, public ::testing::WithParamInterface<WindowTransferCase> {};

TEST_P(WindowTransfer, MovesTheFileExactly)
{
    const auto [direction, mode] = GetParam();
    TftpdServer server;
    Bytes content;
    for (int i = 0; i < 70000; ++i)
        content.push_back(static_cast<BYTE>(i % 61 == 0 ? '\n' : 'A' + i % 26));
    if (mode == MODE_ASCII)
        QTest::mouseClick(qobject_cast<QRadioButton*>(dlg.GetDlgItem(IDC_MODE_ASCII)), Qt::LeftButton);
    Type(IDC_REMOTE_HOST, server.HostString());
    if (direction == DIRECTION_PUT) {
        WriteFileBytes(local / "upload.cfg", content);
        ChooseFile("upload.cfg");
        dlg.words.clear();
        Click(IDC_PUT);
    } else {
        WriteFileBytes((server.Root() / "download.cfg").string(), content);
        Type(IDC_REMOTE_FILE, "download.cfg");
        Click(IDC_GET);
    }
    ASSERT_TRUE(RunUntil([&] { return !dlg.Busy(); }));
    EXPECT_EQ(boxes.boxes.size(), 1u); // the confirmation only
    EXPECT_EQ(dlg.words, (std::vector<std::string>{
                             "Starting", direction == DIRECTION_PUT ? "Transmitting" : "Receiving", "Complete"}));

    Bytes expected = content;
    Bytes arrived;
    if (direction == DIRECTION_GET) {
        if (mode == MODE_ASCII) {
            expected.clear();
            for (BYTE b : content) {
                if (b == '\n')
                    expected.push_back('\r');
                expected.push_back(b);
            }
        }
        arrived = ReadFileBytes(local / "download.cfg");
        // The new file is in the list without a change of directory.
        EXPECT_EQ(qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_FILE_LIST))
                      ->findItems("download.cfg", Qt::MatchExactly)
                      .size(),
                  1);
    } else {
        ASSERT_TRUE(RunUntil([&] {
            std::error_code error;
            return std::filesystem::file_size(server.Root() / "upload.cfg", error) == content.size();
        }));
        arrived = ReadFileBytes((server.Root() / "upload.cfg").string());
    }
    EXPECT_TRUE(arrived == expected);
    const ULONGLONG moved =
        mode == MODE_ASCII && direction == DIRECTION_GET ? content.size() + 70000 / 61 + 1 : content.size();
    // A finished Get shows the size that arrived. The test's clock stands
    // still: the transfer counts as one millisecond.
    const NumberStyle numbers;
    EXPECT_EQ(Status(), "Complete\n" + FormatCount(direction == DIRECTION_PUT ? content.size() : moved, numbers) +
                            "\n" + FormatCount(moved, numbers) + "\n" + FormatRate(moved * 8000, numbers));
}

INSTANTIATE_TEST_SUITE_P(Tftpd, WindowTransfer,
                         ::testing::Values(WindowTransferCase{DIRECTION_GET, MODE_BINARY},
                                           WindowTransferCase{DIRECTION_GET, MODE_ASCII},
                                           WindowTransferCase{DIRECTION_PUT, MODE_BINARY},
                                           WindowTransferCase{DIRECTION_PUT, MODE_ASCII}),
                         [](const auto& test) {
                             return std::string(test.param.direction == DIRECTION_GET ? "Get" : "Put") +
                                    (test.param.mode == MODE_BINARY ? "Octet" : "Netascii");
                         });

} // namespace
