// SPDX-License-Identifier: MIT
// The help window beside a window that runs modally, and F1 in the dialogs.
// The help file is found beside this program, as platform_qt_tests.html.
#include "platform/qt/help_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QWindow>

#include "platform/qt/dialog.h"
#include "platform/qt/winapp.h"
#include "res/resource.h"

namespace {

class Help : public ::testing::Test {
protected:
    CWinApp app;
};

// Keys go through the window system's path, which drops them for a window
// that a modal run blocks.
TEST_F(Help, TakesKeysWhileTheMainWindowRunsModally)
{
    CDialog main(IDD_MAIN);
    app.m_pMainWnd = &main;
    QTimer::singleShot(0, [&] {
        app.WinHelp(0x20000 + IDD_MAIN);
        CHelpWindow* help = app.GetHelpWindow();
        if (help == nullptr || help->windowHandle() == nullptr) {
            ADD_FAILURE() << "no help window";
            main.EndDialog(IDCANCEL);
            return;
        }
        QWindow* window = help->windowHandle();
        QTextBrowser* browser = help->Browser();
        const int top = browser->verticalScrollBar()->value();
        QTest::keyClick(window, Qt::Key_PageDown);
        EXPECT_GT(browser->verticalScrollBar()->value(), top);

        QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
        EXPECT_TRUE(help->FindBar()->isVisible());
        for (const char c : std::string("firewall"))
            QTest::keyClick(window, c);
        QTest::keyClick(window, Qt::Key_Return);
        EXPECT_EQ(browser->textCursor().selectedText().toLower(), "firewall");
        const int first = browser->textCursor().position();
        QTest::keyClick(window, Qt::Key_F3);
        EXPECT_GT(browser->textCursor().position(), first);
        QTest::keyClick(window, Qt::Key_Return, Qt::ShiftModifier);
        EXPECT_EQ(browser->textCursor().position(), first);
        QTest::keyClick(window, Qt::Key_F3, Qt::ShiftModifier); // round to the last
        EXPECT_GT(browser->textCursor().position(), first);
        EXPECT_EQ(browser->textCursor().selectedText().toLower(), "firewall");

        QTest::keyClick(window, Qt::Key_Escape);
        EXPECT_FALSE(help->FindBar()->isVisible());
        EXPECT_TRUE(help->isVisible());
        QTest::keyClick(window, Qt::Key_Escape);
        EXPECT_FALSE(help->isVisible());
        app.WinHelp(0x20000 + IDD_MAIN);
        QTest::keyClick(help->windowHandle(), Qt::Key_W, Qt::ControlModifier);
        EXPECT_FALSE(help->isVisible());
        main.EndDialog(IDOK);
    });
    EXPECT_EQ(main.DoModal(), IDOK);
    // It went with the window it belonged to; closing it again deletes nothing twice.
    EXPECT_EQ(app.GetHelpWindow(), nullptr);
    app.CloseHelp();
}

TEST_F(Help, F1OpensTheTopicOfTheWindowInFront)
{
    struct Row {
        UINT nTemplate;
        int nFocus; // the control that has the focus; ID_HELP: its Help button is clicked
        const char* topic;
        bool bFurtherDown; // the topic's anchor lies below the file's top
    };
    const Row rows[] = {
        {IDD_MAIN, IDC_REMOTE_HOST, "ctx-131174", false},  {IDD_ABOUT, IDOK, "ctx-131172", true},
        {IDD_LOG, IDC_LOG_LIST, "ctx-131210", true},       {IDD_OPTIONS, IDC_OPT_BLOCK_SIZE, "ctx-131211", true},
        {IDD_SERVE, IDC_SERVE_FOLDER, "ctx-131212", true}, {IDD_SERVE, ID_HELP, "ctx-131212", true},
    };
    for (const Row& row : rows) {
        app.CloseHelp();
        CDialog dlg(row.nTemplate);
        ASSERT_TRUE(dlg.Create(row.nTemplate));
        // In the screen's bottom right corner: the help window still stands
        // wholly on the screen.
        const QRect screen = dlg.GetSafeHwnd()->screen()->availableGeometry();
        dlg.GetSafeHwnd()->move(screen.bottomRight() - QPoint(40, 40));
        dlg.GetSafeHwnd()->show();
        dlg.GetSafeHwnd()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.GetSafeHwnd()));
        if (row.nFocus == ID_HELP)
            QTest::mouseClick(qobject_cast<QAbstractButton*>(dlg.GetDlgItem(ID_HELP)), Qt::LeftButton);
        else
            QTest::keyClick(dlg.GetDlgItem(row.nFocus), Qt::Key_F1);
        ASSERT_NE(app.GetHelpWindow(), nullptr);
        QTextBrowser* browser = app.GetHelpWindow()->Browser();
        EXPECT_EQ(browser->source().fragment(), row.topic);
        if (row.bFurtherDown) { // the file has the anchor
            EXPECT_GT(browser->verticalScrollBar()->value(), 0) << row.topic;
        }
        EXPECT_TRUE(screen.contains(app.GetHelpWindow()->frameGeometry())) << row.topic;
    }
    // A topic the file lacks shows the file from its top.
    app.WinHelp(0x20000 + 999);
    EXPECT_EQ(app.GetHelpWindow()->Browser()->verticalScrollBar()->value(), 0);
    EXPECT_FALSE(app.GetHelpWindow()->Browser()->document()->isEmpty());
}

} // namespace
