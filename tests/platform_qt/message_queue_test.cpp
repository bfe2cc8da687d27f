// SPDX-License-Identifier: MIT
// The program's posted messages: when they are delivered, in what order, and
// what becomes of those for a window that goes.
#include "platform/qt/message_queue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <functional>
#include <string>

#include "platform/qt/dialog.h"

namespace {

// A window without a Qt window of its own: it writes its letter and the
// message's number into the log, then runs the test's handler.
class CLoggingDlg : public CDialog {
public:
    CLoggingDlg(char letter, std::string& log) : CDialog(0), m_letter(letter), m_log(log) {}
    std::function<void(UINT)> onMessage;

protected:
    LRESULT WindowProc(UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/) override
    {
        m_log += m_letter + std::to_string(message) + " ";
        if (onMessage)
            onMessage(message);
        return 0;
    }

private:
    char m_letter;
    std::string& m_log;
};

class MessageQueue : public ::testing::Test {
protected:
    void Post(CLoggingDlg& target, UINT message) { CMessageQueue::Instance().Post(&target, message, 0, 0); }

    std::string log;
    CLoggingDlg a{'a', log};
    CLoggingDlg b{'b', log};
};

TEST_F(MessageQueue, OutsideADispatchTheEventLoopDeliversInOrder)
{
    Post(a, 1);
    Post(b, 2);
    Post(a, 3);
    EXPECT_EQ(log, "");
    QCoreApplication::processEvents();
    EXPECT_EQ(log, "a1 b2 a3 ");
    QCoreApplication::processEvents();
    EXPECT_EQ(log, "a1 b2 a3 ");
}

TEST_F(MessageQueue, InsideADispatchItsEndDelivers)
{
    {
        const CMessageQueue::CDispatch dispatch;
        Post(a, 1);
        Post(b, 2);
        EXPECT_EQ(log, "");
    }
    EXPECT_EQ(log, "a1 b2 ");
    QCoreApplication::processEvents();
    EXPECT_EQ(log, "a1 b2 ");
}

TEST_F(MessageQueue, WhatAHandlerPostsComesAfterWhatWasQueued)
{
    a.onMessage = [this](UINT message) {
        if (message == 1)
            Post(b, 4);
    };
    Post(a, 1);
    Post(b, 2);
    Post(a, 3);
    QCoreApplication::processEvents();
    EXPECT_EQ(log, "a1 b2 a3 b4 ");
}

TEST_F(MessageQueue, AHandlersOwnDispatchDeliversTheRestOnce)
{
    // As a datagram read inside a message box's loop does.
    a.onMessage = [this](UINT message) {
        if (message != 1)
            return;
        {
            const CMessageQueue::CDispatch nested;
            log += "( ";
        }
        log += ") ";
    };
    Post(a, 1);
    Post(b, 2);
    Post(a, 3);
    QCoreApplication::processEvents();
    EXPECT_EQ(log, "a1 ( b2 a3 ) ");
}

TEST_F(MessageQueue, AWindowThatGoesLosesItsMessages)
{
    Post(a, 1);
    Post(b, 2);
    Post(a, 3);
    CMessageQueue::Instance().Forget(&a);
    QCoreApplication::processEvents();
    EXPECT_EQ(log, "b2 ");
}

} // namespace
