// SPDX-License-Identifier: MIT
// Reading a server's OACK: never past the datagram, and what it accepts is
// always within what was asked.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 70000)
        return 0;
    // The first byte chooses what was asked; the rest is the datagram, copied
    // exactly so that one byte too far is a heap overflow the sanitizer reports.
    const uint8_t choice = data[0];
    TftpOptions asked;
    asked.nBlockSize = (choice & 1) != 0 ? 8 + (choice >> 1) * 257 : 0;
    asked.nWindowSize = (choice & 2) != 0 ? 1 + (choice >> 2) % TFTP_MAX_WINDOW_SIZE : 0;
    asked.nTimeout = (choice & 4) != 0 ? 1 + (choice >> 3) : 0;
    asked.bFileSize = (choice & 8) != 0;
    const std::vector<BYTE> datagram(data + 1, data + size);
    const OackVerdict verdict = ParseOack(datagram.data(), static_cast<int>(datagram.size()), asked);
    if (!verdict.bAccepted)
        return 0;
    const TftpGranted& granted = verdict.granted;
    // An option left out of the OACK keeps its RFC 1350 value.
    const bool blockOk = granted.nBlockSize == TFTP_BLOCK_SIZE ||
                         (granted.nBlockSize >= TFTP_MIN_BLOCK_SIZE && granted.nBlockSize <= asked.nBlockSize);
    const bool windowOk =
        granted.nWindowSize == 1 || (granted.nWindowSize >= 1 && granted.nWindowSize <= asked.nWindowSize);
    const bool timeoutOk = granted.nTimeout == 0 || granted.nTimeout == asked.nTimeout;
    const bool sizeOk = asked.bFileSize || !granted.bFileSize;
    if (!blockOk || !windowOk || !timeoutOk || !sizeOk)
        std::abort();
    return 0;
}
