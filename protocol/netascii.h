// SPDX-License-Identifier: MIT
// The netascii translation as pure functions of bytes: the client's, which
// keeps text with CR LF line ends, and the server's, which keeps a Linux
// folder's text with LF line ends and puts RFC 1350's on the wire.
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

// What the server's sending side carries from one block to the next: the
// second byte of a pair that did not fit in the block before.
struct NetasciiEncodeState {
    bool bPending = false;
    BYTE chPending = 0;
};

// The server's sending side: a local LF goes out as CR LF, a local CR as
// CR NUL, every other byte (0x80 and above too) as it is. The byte pending
// in *pState goes first. The output is filled to nOutCapacity unless the
// input ends first; a pair that does not fit puts its CR in the last place
// and its second byte in *pState, so every block but the last is full.
// nConsumed counts the input bytes taken, the split pair's included.
NetasciiFilterResult EncodeNetascii(const BYTE* pIn, size_t nInLength, BYTE* pOut, size_t nOutCapacity,
                                    NetasciiEncodeState* pState);

// The server's receiving side: CR LF is stored as LF, CR NUL as CR, and a CR
// followed by any other byte as CR and that byte (a CR there opens a pair of
// its own). *pCrPending says that the input before (the previous block)
// ended in a CR not yet written, and is left saying so of this input. pOut
// must hold nInLength + 1 bytes; returns the bytes written.
size_t DecodeNetascii(const BYTE* pIn, size_t nInLength, BYTE* pOut, bool* pCrPending);

// The end of the received text: a CR still pending is a CR of the file.
// Writes it to pOut and returns 1, or returns 0.
size_t FinishNetascii(BYTE* pOut, bool* pCrPending);

// The bytes that pData takes on the wire from the server's sending side:
// its length, and one more for each LF and each CR.
ULONGLONG NetasciiWireSize(const BYTE* pData, size_t nLength);
