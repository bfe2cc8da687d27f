// SPDX-License-Identifier: MIT
// The transfer options: the settings file, the Transfer Options dialog, and a
// transfer that asks for them through the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/fake_peer.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tftpd_server.h"
#include "tests/support/timing.h"
#include "ui/options_dlg.h"
#include "ui/transfer_dlg.h"
#include "ui/transfer_settings.h"

namespace {

std::filesystem::path SettingsFile()
{
    return std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "Tarnwick" / "Tarnwick.conf";
}

void SeedSettings(const std::string& text)
{
    std::filesystem::create_directories(SettingsFile().parent_path());
    std::ofstream(SettingsFile()) << text;
}

class Lines : public ITransferLog {
public:
    void LogLine(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

TEST(TransferSettings, AValueOutOfRangeInTheFileKeepsItsDefaultWithOneLine)
{
    SeedSettings("[Options]\nNegotiate=true\nBlockSize=65536\nWindowSize=8\nAskFileSize=maybe\nTimeout=9\n");
    Lines log;
    const TransferSettings settings = AfxLoadTransferSettings(&log);
    EXPECT_TRUE(settings.bNegotiate);
    EXPECT_EQ(settings.nBlockSize, 1468); // the default
    EXPECT_EQ(settings.nWindowSize, 8);
    EXPECT_TRUE(settings.bAskFileSize); // the default
    EXPECT_EQ(settings.nTimeout, 9);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"Settings: BlockSize \"65536\" is out of range; 1468 is used",
                                        "Settings: AskFileSize \"maybe\" is neither true nor false; true is used"}));
    const TftpOptions asked = settings.RequestOptions();
    EXPECT_EQ(asked.nBlockSize, 1468);
    EXPECT_EQ(asked.nWindowSize, 8);
    EXPECT_EQ(asked.nTimeout, 9);

    SeedSettings("[Options]\nNegotiate=false\nBlockSize=512\n");
    EXPECT_FALSE(AfxLoadTransferSettings().RequestOptions().Any()); // off: a plain request
    std::filesystem::remove(SettingsFile());
}

TEST(ServeSettings, EachBadValueKeepsItsDefaultWithOneLineAndGoodOnesAreRead)
{
    SeedSettings("[Serve]\nFolder=/srv/tftp\nListen=fe80::1%eth0\nPort=6969\nAllowUpload=true\nAllowCreate=1\n"
                 "ReplaceExisting=false\nLocalNetworksOnly=false\nMaxTransfers=1024\nMaxPerClient=1\n"
                 "MaxBlockSize=1468\nMaxWindowSize=4\nBackslashIsSlash=false\nIgnoreCase=true\n");
    Lines log;
    ServeSettings read = AfxLoadServeSettings(&log);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(read.folder, "/srv/tftp");
    EXPECT_EQ(read.listen, "fe80::1%eth0");
    EXPECT_EQ(read.nPort, 6969);
    EXPECT_TRUE(read.bAllowUpload && read.bAllowCreate && !read.bReplaceExisting && !read.bLocalNetworksOnly);
    EXPECT_EQ(read.nMaxTransfers, 1024);
    EXPECT_EQ(read.nMaxPerClient, 1);
    EXPECT_EQ(read.nMaxBlockSize, 1468);
    EXPECT_EQ(read.nMaxWindowSize, 4);
    EXPECT_TRUE(!read.bBackslashIsSlash && read.bIgnoreCase);

    SeedSettings("[Serve]\nListen=tftp.example.com\nPort=0\nAllowUpload=yes\nMaxTransfers=1025\nMaxPerClient=0\n"
                 "MaxBlockSize=7\nMaxWindowSize=65\n");
    log.lines.clear();
    read = AfxLoadServeSettings(&log);
    const ServeSettings defaults;
    EXPECT_EQ(read.listen, "");
    EXPECT_EQ(read.nPort, defaults.nPort);
    EXPECT_EQ(read.bAllowUpload, defaults.bAllowUpload);
    EXPECT_EQ(read.nMaxTransfers, defaults.nMaxTransfers);
    EXPECT_EQ(read.nMaxPerClient, defaults.nMaxPerClient);
    EXPECT_EQ(read.nMaxBlockSize, defaults.nMaxBlockSize);
    EXPECT_EQ(read.nMaxWindowSize, defaults.nMaxWindowSize);
    EXPECT_EQ(log.lines.size(), 7u); // one a value
    std::filesystem::remove(SettingsFile());
}

class OptionsDialog : public ::testing::Test {
protected:
    // Opens the dialog, types the three numbers and presses OK; returns the
    // boxes it showed, and whether it closed.
    std::vector<std::string> Enter(const std::string& block, const std::string& window, const std::string& timeout,
                                   bool* pClosed)
    {
        CMessageBoxRecorder boxes;
        COptionsDlg dlg;
        QTimer::singleShot(0, [&] {
            auto* negotiate = qobject_cast<QCheckBox*>(dlg.GetDlgItem(IDC_OPT_NEGOTIATE));
            if (!negotiate->isChecked())
                QTest::mouseClick(negotiate, Qt::LeftButton, {}, QPoint(4, negotiate->height() / 2));
            const std::pair<int, const std::string*> fields[] = {
                {IDC_OPT_BLOCK_SIZE, &block}, {IDC_OPT_WINDOW_SIZE, &window}, {IDC_OPT_TIMEOUT, &timeout}};
            for (const auto& [id, text] : fields)
                qobject_cast<QLineEdit*>(dlg.GetDlgItem(id))->setText(QString::fromStdString(*text));
            QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK)), Qt::LeftButton);
            *pClosed = dlg.GetSafeHwnd() == nullptr || !dlg.GetSafeHwnd()->isVisible();
            if (!*pClosed)
                dlg.EndDialog(IDCANCEL);
        });
        dlg.DoModal();
        return boxes.Texts();
    }
};

TEST_F(OptionsDialog, SaysWhichValueIsOutOfRangeAndKeepsOnlyGoodOnes)
{
    struct Row {
        const char* block;
        const char* window;
        const char* timeout;
        UINT text; // 0: taken
    };
    const Row rows[] = {
        {"65536", "16", "0", IDS_BAD_BLOCK_SIZE}, {"7", "16", "0", IDS_BAD_BLOCK_SIZE},
        {"1k", "16", "0", IDS_BAD_BLOCK_SIZE},    {"1468", "0", "0", IDS_BAD_WINDOW_SIZE},
        {"1468", "65", "0", IDS_BAD_WINDOW_SIZE}, {"1468", "16", "256", IDS_BAD_TIMEOUT},
        {"1468", "16", "-1", IDS_BAD_TIMEOUT},    {"65464", "64", "255", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.block) + "/" + row.window + "/" + row.timeout);
        bool closed = false;
        const std::vector<std::string> boxes = Enter(row.block, row.window, row.timeout, &closed);
        EXPECT_EQ(closed, row.text == 0);
        EXPECT_EQ(boxes,
                  row.text == 0 ? std::vector<std::string>{} : std::vector<std::string>{AfxLoadString(row.text)});
    }
    const TransferSettings saved = AfxLoadTransferSettings();
    EXPECT_TRUE(saved.bNegotiate);
    EXPECT_EQ(saved.nBlockSize, 65464);
    EXPECT_EQ(saved.nWindowSize, 64);
    EXPECT_EQ(saved.nTimeout, 255);
    std::filesystem::remove(SettingsFile());
}

// The labels' access keys move to their fields.
TEST(OptionsDialogKeys, AltAndALabelsLetterGoesToItsField)
{
    COptionsDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_OPTIONS));
    dlg.ShowWindow(SW_SHOW);
    dlg.CheckDlgButton(IDC_OPT_NEGOTIATE, 1);
    for (int id : {IDC_OPT_BLOCK_SIZE, IDC_OPT_WINDOW_SIZE, IDC_OPT_TIMEOUT})
        dlg.EnableWindow(id, TRUE);
    dlg.GetSafeHwnd()->activateWindow();
    QApplication::setActiveWindow(dlg.GetSafeHwnd());
    const std::pair<Qt::Key, int> keys[] = {
        {Qt::Key_B, IDC_OPT_BLOCK_SIZE}, {Qt::Key_W, IDC_OPT_WINDOW_SIZE}, {Qt::Key_I, IDC_OPT_TIMEOUT}};
    for (const auto& [key, id] : keys) {
        QTest::keyClick(dlg.GetDlgItem(IDC_OPT_NEGOTIATE), key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(id)) << id;
    }
}

class TestDlg : public CTransferDlg {
public:
    using CTransferDlg::IsBusy;
};

// With options on, a Get through the window asks for them, shows the size the
// server tells, and the menu item waits until the transfer has ended.
TEST(OptionsTransfer, AGetShowsTheServersFileSizeAndTheItemIsGreyedMeanwhile)
{
    SeedSettings("[Options]\nNegotiate=true\nBlockSize=1468\nWindowSize=1\nAskFileSize=true\nTimeout=0\n");
    TempDir local;
    CMessageBoxRecorder boxes;
    TftpdServer server;
    WriteFileBytes((server.Root() / "fw.bin").string(), Bytes(300000, 'f'));
    TestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_MAIN));
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_HOST))->setText(QString::fromStdString(server.HostString()));
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_FILE))->setText("fw.bin");
    QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_GET)), Qt::LeftButton);
    EXPECT_FALSE(dlg.GetSystemMenu(FALSE)->FindItem(IDM_TRANSFER_OPTIONS)->isEnabled());
    const auto deadline = std::chrono::steady_clock::now() + Scaled(std::chrono::seconds(30));
    while (dlg.IsBusy() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    EXPECT_FALSE(dlg.IsBusy());
    EXPECT_TRUE(dlg.GetSystemMenu(FALSE)->FindItem(IDM_TRANSFER_OPTIONS)->isEnabled());
    EXPECT_EQ(boxes.boxes.size(), 1u); // the confirmation only
    EXPECT_EQ(dlg.GetDlgItemText(IDC_STATUS_VALUES).substr(0, 24), "Complete\n300,000\n300,000"); // size, received
    EXPECT_EQ(ReadFileBytes(local / "fw.bin").size(), 300000u);
    std::filesystem::remove(SettingsFile());
}

} // namespace
