// SPDX-License-Identifier: MIT
// The netascii translation as pure functions of bytes.
#pragma once

#include <cstddef>

#include "platform/core/afxtypes.h"

// The netascii set: NUL, BEL to CR (0x07-0x0D) and the printable characters
// with space (0x20-0x7E). Every other byte is dropped by both directions.
constexpr bool IsNetascii(BYTE b)
{
    return b == 0x00 || (b >= 0x07 && b <= 0x0D) || (b >= 0x20 && b <= 0x7E);
}

struct NetasciiFilterResult {
    size_t nConsumed; // input bytes examined, dropped ones included
    size_t nProduced; // bytes placed in the output
};

// Sending side: copies the bytes of the netascii set from pIn to pOut, in
// order, and stops as soon as the output holds nOutCapacity bytes; the input
// after that byte is not consumed. Line ends are left as they are.
NetasciiFilterResult FilterNetascii(const BYTE* pIn, size_t nInLength, BYTE* pOut, size_t nOutCapacity);

// Receiving side: drops bytes outside the set and rewrites line ends to CR LF:
// a lone LF becomes CR LF, CR NUL becomes CR LF, and a CR followed by any other
// byte of the set gets an LF after it. *pLast is the byte examined before pIn
// (0xFF at the start of a file) and is left as the last byte examined, so a CR
// that ends one block pairs with the next block's first byte. pOut must hold
// 2 * nInLength bytes; returns the bytes written.
size_t RewriteNetascii(const BYTE* pIn, size_t nInLength, BYTE* pOut, BYTE* pLast);

// Whether bytes (the start of a file) look like something other than text:
// a NUL, or more than one byte in ten that the netascii set leaves out. Such
// a file is changed beyond its line ends by a netascii transfer.
bool LooksBinary(const BYTE* pData, size_t nLength);
