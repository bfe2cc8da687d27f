// SPDX-License-Identifier: MIT
// The two sides of the block window as tables, without a socket: where a
// window stands, what arrives, what the window answers and where it stands then.
#include "protocol/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct SendRow {
    const char* name;
    int window;
    int before; // blocks sent and acknowledged one at a time first
    int sent;   // then sent
    int acked;  // and of those acknowledged
    WORD ack;
    int answer; // of Acknowledges: blocks newly acknowledged, 0 taken again, -1 ignored
    WORD first; // the first unacknowledged block afterwards
};

void PrintTo(const SendRow& row, std::ostream* os)
{
    *os << row.name;
}

const SendRow kSendRows[] = {
    {"LockStepAwaited", 1, 0, 1, 0, 1, 1, 2},
    {"LockStepStale", 1, 0, 1, 0, 0, -1, 1},
    {"LockStepNeverSent", 1, 0, 1, 0, 2, -1, 1},
    {"LockStepFinalAckAgain", 1, 0, 1, 1, 1, 0, 2},
    {"LockStepPastTheWrap", 1, 65535, 1, 0, 0, 1, 1},
    {"AckZeroBeforeAnyBlock", 4, 0, 0, 0, 0, 0, 1},
    {"InsideSlidesByTwo", 4, 0, 4, 0, 2, 2, 3},
    {"WholeWindow", 4, 0, 4, 0, 4, 4, 5},
    {"Duplicate", 4, 0, 4, 2, 2, -1, 3},
    {"OlderThanTheWindow", 4, 0, 4, 2, 1, -1, 3},
    {"BeyondTheWindow", 4, 0, 4, 0, 5, -1, 1},
    {"NotYetSent", 4, 0, 2, 0, 3, -1, 1},
    {"StraddlesTheWrap", 3, 65533, 3, 0, 0, 3, 1},
    {"UpTo65535", 3, 65533, 3, 0, 65535, 2, 0},
    {"ZeroNotYetSent", 3, 65533, 2, 0, 0, -1, 65534},
};

class SendWindow : public ::testing::TestWithParam<SendRow> {};

TEST_P(SendWindow, AnswersAnAckAndSlides)
{
    const SendRow& row = GetParam();
    std::vector<BYTE> slots(static_cast<size_t>(row.window) * 8);
    CSendWindow window;
    window.Reset(row.window, slots.data(), 8);
    for (int block = 1; block <= row.before + row.sent; ++block) {
        ASSERT_TRUE(window.CanSend());
        ASSERT_EQ(window.OnSent(4), static_cast<WORD>(block));
        if (block <= row.before)
            window.Slide(window.Acknowledges(static_cast<WORD>(block)));
    }
    window.Slide(row.acked);

    const int answer = window.Acknowledges(row.ack);
    EXPECT_EQ(answer, row.answer);
    window.Slide(std::max(answer, 0));
    EXPECT_EQ(window.FirstUnacknowledged(), row.first);
    EXPECT_EQ(window.Outstanding(), row.sent - row.acked - std::max(answer, 0));
}

INSTANTIATE_TEST_SUITE_P(Ack, SendWindow, ::testing::ValuesIn(kSendRows),
                         [](const auto& test) { return std::string(test.param.name); });

// Each row: a window filled, then per event (0 a timeout, n an ACK of block
// n) what goes, in order, '+' before a block sent again.
TEST(SendWindowTimeout, SendsTheBlockPastAFullWindowAheadOfTheRepeat)
{
    const struct {
        const char* name;
        int window;
        int slots;
        std::vector<WORD> acks;
        const char* sends;
    } rows[] = {
        {"LockStep", 1, 1, {0}, "1 ; +1 ; "},
        {"BlocksPastAFullWindowFirst", 2, 4, {0, 0, 0}, "1 2 ; 3 +1 +2 ; 4 +3 +1 +2 ; +3 +4 +1 +2 ; "},
        {"NoSlotPastTheWindow", 4, 4, {0}, "1 2 3 4 ; +1 +2 +3 +4 ; "},
        {"AckInsideRewindsTheBlockPast", 4, 6, {0, 2}, "1 2 3 4 ; 5 +1 +2 +3 +4 ; +3 +4 +5 6 ; "},
        {"AckOfAllOpensAWindow", 3, 5, {0, 4, 0}, "1 2 3 ; 4 +1 +2 +3 ; 5 6 7 ; 8 +5 +6 +7 ; "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<BYTE> slots(static_cast<size_t>(row.slots));
        CSendWindow window;
        window.Reset(row.window, slots.data(), 1, row.slots);
        std::string sends;
        const auto sendNew = [&] { // as the callers fill the window
            while (window.CanSend()) {
                BYTE* slot = window.NextSlot();
                *slot = static_cast<BYTE>(window.OnSent(1));
                sends += std::to_string(*slot) + ' ';
            }
        };
        sendNew();
        for (const WORD ack : row.acks) {
            sends += "; ";
            if (ack == 0) {
                window.OnTimeout();
                sendNew(); // the block past a full window goes first
            } else {
                (void)window.SlideAndRewind(window.Acknowledges(ack));
            }
            for (int i = 0; i < window.Repeats(); ++i) {
                int length = 0;
                sends += '+' + std::to_string(*window.Repeated(i, &length)) + ' ';
            }
            sendNew();
        }
        EXPECT_EQ(sends + "; ", row.sends);
    }
}

// Slots given one at a time as the window fills: the blocks keep their
// order and lengths across each move, also when the ring had wrapped.
TEST(SendWindowSlots, MovedToMoreSlotsTheBlocksKeepTheirOrder)
{
    BYTE one[8] = {};
    BYTE two[2 * 8] = {};
    BYTE four[4 * 8] = {};
    CSendWindow window;
    window.Reset(4, one, 8, 1);
    const auto send = [&window](int length) {
        BYTE* slot = window.NextSlot();
        std::fill(slot, slot + length, static_cast<BYTE>(window.FirstUnacknowledged() + window.Outstanding()));
        return window.OnSent(length);
    };
    send(8);
    window.Slide(window.Acknowledges(1));
    send(7); // block 2, into the one slot again
    EXPECT_TRUE(window.NeedsRoom());
    EXPECT_FALSE(window.CanSend());
    window.MoveTo(two, 2);
    send(6);
    window.MoveTo(four, 4);
    send(5);
    send(4);
    EXPECT_FALSE(window.CanSend());
    EXPECT_FALSE(window.NeedsRoom()); // the whole window has slots
    std::vector<std::pair<BYTE, int>> pending;
    for (int i = 0; i < window.Outstanding(); ++i) {
        int length = 0;
        const BYTE* block = window.Pending(i, &length);
        pending.emplace_back(block[length - 1], length);
    }
    EXPECT_EQ(pending, (std::vector<std::pair<BYTE, int>>{{2, 7}, {3, 6}, {4, 5}, {5, 4}}));
}

struct ReceiveRow {
    const char* name;
    int window;
    int inOrder;      // blocks taken in order since the last ACK
    bool gapAnswered; // and then a gap answered
    WORD awaited;
    WORD block;
    bool last;
    TftpBlockKind kind;
    bool ack;     // OnInOrder or OnIgnored asks for an ACK now (a gap's ACK is the caller's, from its kind)
    int sinceAck; // afterwards (a gap answered)
};

void PrintTo(const ReceiveRow& row, std::ostream* os)
{
    *os << row.name;
}

const ReceiveRow kReceiveRows[] = {
    {"LockStepAwaited", 1, 0, false, 7, 7, false, TftpBlockKind::InOrder, true, 0},
    {"LockStepDuplicate", 1, 0, false, 8, 7, false, TftpBlockKind::Ignore, true, 0},
    {"LockStepAhead", 1, 0, false, 8, 9, false, TftpBlockKind::Ignore, false, 0},
    {"LockStepPastTheWrap", 1, 0, false, 0, 0, false, TftpBlockKind::InOrder, true, 0},
    {"FirstOfAWindow", 4, 0, false, 1, 1, false, TftpBlockKind::InOrder, false, 1},
    {"WindowComplete", 4, 3, false, 4, 4, false, TftpBlockKind::InOrder, true, 0},
    {"ShortLastBlock", 4, 1, false, 2, 2, true, TftpBlockKind::InOrder, true, 0},
    {"Gap", 4, 1, false, 6, 8, false, TftpBlockKind::Gap, false, 0},
    {"GapAlreadyAnswered", 4, 0, true, 6, 7, false, TftpBlockKind::Ignore, false, 0},
    {"InOrderAfterAGap", 4, 0, true, 6, 6, false, TftpBlockKind::InOrder, false, 1},
    {"BeyondTheWindow", 4, 0, false, 6, 10, false, TftpBlockKind::Ignore, false, 0},
    {"Behind", 4, 2, false, 6, 5, false, TftpBlockKind::Ignore, true, 0},
    {"OldestOfTheWindowAcknowledged", 4, 0, false, 9, 5, false, TftpBlockKind::Ignore, true, 0},
    {"OlderThanTheSenderHolds", 4, 0, false, 9, 4, false, TftpBlockKind::Ignore, false, 0},
    {"GapAcrossTheWrap", 4, 0, false, 65535, 1, false, TftpBlockKind::Gap, false, 0},
};

class ReceiveWindow : public ::testing::TestWithParam<ReceiveRow> {};

TEST_P(ReceiveWindow, JudgesABlockAndSaysWhenToAck)
{
    const ReceiveRow& row = GetParam();
    CReceiveWindow window;
    window.Reset(row.window);
    for (int i = 0; i < row.inOrder; ++i)
        ASSERT_FALSE(window.OnInOrder(false));
    if (row.gapAnswered)
        window.OnGapAnswered();

    const TftpBlockKind kind = window.Judge(row.block, row.awaited);
    EXPECT_EQ(kind, row.kind);
    bool ack = false;
    if (kind == TftpBlockKind::InOrder)
        ack = window.OnInOrder(row.last);
    else if (kind == TftpBlockKind::Gap)
        window.OnGapAnswered();
    else
        ack = window.OnIgnored(row.block, row.awaited);
    EXPECT_EQ(ack, row.ack);
    EXPECT_EQ(window.SinceAck(), row.sinceAck);
    if (kind == TftpBlockKind::Gap) { // answered once: the rest of that window draws nothing
        EXPECT_EQ(window.Judge(static_cast<WORD>(row.block + 1), row.awaited), TftpBlockKind::Ignore);
    }
}

INSTANTIATE_TEST_SUITE_P(Data, ReceiveWindow, ::testing::ValuesIn(kReceiveRows),
                         [](const auto& test) { return std::string(test.param.name); });

struct RepeatRow {
    const char* name;
    std::vector<WORD> blocks; // taken already, while block 9 + past is awaited
    const char* acks;         // 'A': the block draws the ACK again
    int past = 0;             // blocks from 9 on taken in order first: sent past the window of 5 to 8
};

const RepeatRow kRepeatRows[] = {
    {"OncePerRepeat", {5, 6, 7, 8, 5, 6, 7, 8}, "A---A---"},
    {"RepeatWithoutItsFirstBlock", {6, 7, 8, 5, 7, 8}, "A--A--"},
    {"SameBlockAgain", {8, 8}, "AA"},
    {"AheadIsNoRepeat", {11, 12}, "--"},
    {"AfterABlockPastTheWindow", {5, 6, 7, 8}, "A---", 1},
    {"AfterTwoBlocksPastTheWindow", {5, 6, 7, 8}, "A---", 2},
};

class ReceiveWindowRepeat : public ::testing::TestWithParam<RepeatRow> {};

TEST_P(ReceiveWindowRepeat, AcknowledgesAgainOncePerRepeat)
{
    CReceiveWindow window;
    window.Reset(4);
    for (int i = 0; i < GetParam().past; ++i)
        ASSERT_FALSE(window.OnInOrder(false));
    std::string acks;
    for (const WORD block : GetParam().blocks)
        acks += window.OnIgnored(block, static_cast<WORD>(9 + GetParam().past)) ? 'A' : '-';
    EXPECT_EQ(acks, GetParam().acks);
}

INSTANTIATE_TEST_SUITE_P(Data, ReceiveWindowRepeat, ::testing::ValuesIn(kRepeatRows),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
