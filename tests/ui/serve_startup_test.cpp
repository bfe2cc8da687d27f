// SPDX-License-Identifier: MIT
// The main window started with --serve: the Serve window it opens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTest>

#include "res/resource.h"
#include "tests/support/fake_peer.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/temp_dir.h"
#include "ui/command_line.h"
#include "ui/serve_dlg.h"
#include "ui/transfer_dlg.h"

namespace {

// Once both windows are up and serving has begun, the Serve window is the
// active one, above the main window, not beneath it.
TEST(ServeStartup, TheServeWindowStandsAboveTheMainWindow)
{
    const TempDir dir;
    CMessageBoxRecorder boxes;
    CommandLine line;
    line.serveFolder = dir.Path().string();
    line.listen = "127.0.0.1";
    line.nPort = static_cast<int>(FakePeer().Port()); // free again once its socket is closed
    CTransferDlg main;
    main.SetStartup(line);
    ASSERT_TRUE(main.Create(IDD_MAIN));
    ASSERT_NE(g_pServeDlg, nullptr);
    CServeDlg* serve = g_pServeDlg;
    serve->SetServeProgram(TARNWICK_SERVE_PATH); // before the start the window has queued
    main.ShowWindow(SW_SHOW);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !serve->ServingSummary().empty(); }, 30000));
    EXPECT_TRUE(serve->GetSafeHwnd()->isVisible());
    EXPECT_EQ(QApplication::activeWindow(), serve->GetSafeHwnd());
    EXPECT_FALSE(main.GetSafeHwnd()->isActiveWindow());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(serve->StopServing(false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !serve->IsServing(); }, 30000));
    main.DestroyWindow();
}

} // namespace
