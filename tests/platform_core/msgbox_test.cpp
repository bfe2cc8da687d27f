// SPDX-License-Identifier: MIT
#include "platform/core/msgbox.h"

#include <gtest/gtest.h>

#include "tests/support/msgbox_recorder.h"

namespace {

TEST(MessageBox, WithoutAHandlerOnlyAnOkBoxIsAnsweredOk)
{
    IMessageBoxHandler* previous = AfxSetMessageBoxHandler(nullptr);
    EXPECT_EQ(AfxMessageBox("plain", MB_OK), IDOK);
    EXPECT_EQ(AfxMessageBox("confirm?", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
    AfxSetMessageBoxHandler(previous);
}

TEST(MessageBox, RecorderKeepsTextsAndStylesAndAnswersInTurn)
{
    CMessageBoxRecorder outer;
    {
        CMessageBoxRecorder recorder;
        recorder.answers = {IDCANCEL};
        EXPECT_EQ(AfxMessageBox("Overwrite?", MB_OKCANCEL | MB_ICONEXCLAMATION), IDCANCEL);
        EXPECT_EQ(AfxMessageBox("%s%n"), IDOK);
        ASSERT_EQ(recorder.boxes.size(), 2u);
        EXPECT_EQ(recorder.boxes[0].text, "Overwrite?");
        EXPECT_EQ(recorder.boxes[0].nType, MB_OKCANCEL | MB_ICONEXCLAMATION);
        EXPECT_EQ(recorder.boxes[1].text, "%s%n");
    }
    AfxMessageBox("after");
    EXPECT_EQ(outer.Texts(), std::vector<std::string>{"after"});
}

} // namespace
