// SPDX-License-Identifier: MIT
// Drives a send window and a receive window with blocks and ACKs taken from
// the input: near the window, far from it, and across the wrap past 65535.
// The sanitizers watch the slots; the checks below watch what the windows
// promise: a send window never holds more than its size, slides only on an
// ACK of a block it holds, and resends exactly the blocks not yet
// acknowledged; a receive window acknowledges at least once a window and
// answers one gap once.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/window.h"

namespace {

constexpr int kSlotSize = 3; // a block here: its number and its length

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// A send window of nSize slots at block 1, or a few blocks before the wrap.
// Walking to the wrap takes 65,530 blocks, so that start is made once per
// size and copied. Each size has slots of exactly its size, so that a slip
// past them is an overflow the sanitizer reports; every block a run reads
// back it has written itself, as a start has none outstanding.
CSendWindow StartWindow(int nSize, bool bNearTheWrap)
{
    static std::vector<BYTE> slots[TFTP_MAX_WINDOW_SIZE];
    static CSendWindow nearTheWrap[TFTP_MAX_WINDOW_SIZE];
    std::vector<BYTE>& memory = slots[nSize - 1];
    if (memory.empty()) {
        memory.resize(static_cast<size_t>(nSize) * kSlotSize);
        CSendWindow& window = nearTheWrap[nSize - 1];
        window.Reset(nSize, memory.data(), kSlotSize);
        for (int i = 0; i < 65530; ++i) {
            window.OnSent(kSlotSize);
            window.Slide(1);
        }
    }
    if (bNearTheWrap)
        return nearTheWrap[nSize - 1];
    CSendWindow window;
    window.Reset(nSize, memory.data(), kSlotSize);
    return window;
}

void DriveSend(const uint8_t* data, size_t size)
{
    CSendWindow window = StartWindow(data[0] % TFTP_MAX_WINDOW_SIZE + 1, (data[0] & 0x80) != 0);
    for (size_t at = 1; at + 1 < size; at += 2) {
        const uint8_t op = data[at];
        const uint8_t arg = data[at + 1];
        const WORD first = window.FirstUnacknowledged();
        const int outstanding = window.Outstanding();
        switch (op & 3) {
        case 0: { // the next block, of 1 to 3 bytes
            if (!window.CanSend()) {
                Check(outstanding == window.Size());
                break;
            }
            BYTE* slot = window.NextSlot();
            const WORD block = static_cast<WORD>(first + outstanding);
            slot[0] = static_cast<BYTE>(block >> 8);
            slot[1] = static_cast<BYTE>(block);
            slot[2] = static_cast<BYTE>(arg % kSlotSize + 1);
            Check(window.OnSent(slot[2]) == block);
            break;
        }
        case 1:   // an ACK near the window
        case 2: { // or anywhere
            const WORD ack = (op & 3) == 1 ? static_cast<WORD>(first + static_cast<int8_t>(arg) % 8)
                                           : static_cast<WORD>(arg << 8 | op);
            const int slid = window.Acknowledges(ack);
            Check(slid >= -1 && slid <= outstanding);
            Check(slid != 0 || (outstanding == 0 && ack == static_cast<WORD>(first - 1)));
            if (slid > 0)
                Check(static_cast<WORD>(ack + 1) == static_cast<WORD>(first + slid));
            window.Slide(slid);
            break;
        }
        default: // a timeout: the blocks not yet acknowledged, oldest first
            for (int i = 0; i < outstanding; ++i) {
                int length = 0;
                const BYTE* block = window.Pending(i, &length);
                Check((block[0] << 8 | block[1]) == static_cast<WORD>(first + i) && length == block[2]);
            }
            break;
        }
        Check(window.Outstanding() >= 0 && window.Outstanding() <= window.Size());
        Check(window.CanSend() == (window.Outstanding() < window.Size()));
    }
}

void DriveReceive(const uint8_t* data, size_t size)
{
    CReceiveWindow window;
    window.Reset(data[0] % TFTP_MAX_WINDOW_SIZE + 1);
    WORD awaited = data[0] & 0x80 ? 65530 : 1;
    int sinceAck = 0;
    int gapAnswers = 0; // since the last block in order
    for (size_t at = 1; at + 1 < size; at += 2) {
        const uint8_t op = data[at];
        const uint8_t arg = data[at + 1];
        const WORD block = (op & 1) != 0 ? static_cast<WORD>(awaited + static_cast<int8_t>(arg) % 8)
                                         : static_cast<WORD>(arg << 8 | op);
        const WORD ahead = static_cast<WORD>(block - awaited);
        switch (window.Judge(block, awaited)) {
        case TftpBlockKind::InOrder:
            Check(block == awaited);
            ++awaited;
            gapAnswers = 0;
            if (window.OnInOrder((op & 2) != 0))
                sinceAck = 0;
            else
                Check(++sinceAck < window.Size() && (op & 2) == 0);
            break;
        case TftpBlockKind::Gap:
            Check(ahead >= 1 && ahead < window.Size() && ++gapAnswers == 1);
            window.OnGapAnswered();
            sinceAck = 0;
            break;
        default: // a duplicate, a block far off, or a gap answered already
            Check(block != awaited && (ahead >= window.Size() || gapAnswers == 1));
            break;
        }
        Check(window.SinceAck() == sinceAck);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 4096)
        return 0;
    // The first byte chooses the side, the window's size and where it starts.
    if ((data[0] & 0x40) != 0)
        DriveReceive(data, size);
    else
        DriveSend(data, size);
    return 0;
}
