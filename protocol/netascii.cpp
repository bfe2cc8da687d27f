// SPDX-License-Identifier: MIT
#include "protocol/netascii.h"

namespace {
constexpr BYTE CR = '\r';
constexpr BYTE LF = '\n';
constexpr BYTE NUL = 0x00;
} // namespace

NetasciiFilterResult FilterNetascii(const BYTE* pIn, size_t nInLength, BYTE* pOut, size_t nOutCapacity)
{
    size_t consumed = 0;
    size_t produced = 0;
    while (consumed < nInLength && produced < nOutCapacity) {
        const BYTE b = pIn[consumed++];
        if (IsNetascii(b))
            pOut[produced++] = b;
    }
    return NetasciiFilterResult{consumed, produced};
}

size_t RewriteNetascii(const BYTE* pIn, size_t nInLength, BYTE* pOut, BYTE* pLast)
{
    size_t produced = 0;
    BYTE last = *pLast;
    for (size_t i = 0; i < nInLength; ++i) {
        const BYTE b = pIn[i];
        if (IsNetascii(b)) {
            if (last == CR) {
                // The CR before this byte is completed to CR LF.
                pOut[produced++] = LF;
                if (b != LF && b != 0x00)
                    pOut[produced++] = b;
            } else if (b == LF) {
                pOut[produced++] = CR;
                pOut[produced++] = LF;
            } else {
                pOut[produced++] = b;
            }
        }
        last = b;
    }
    *pLast = last;
    return produced;
}

bool LooksBinary(const BYTE* pData, size_t nLength)
{
    size_t outside = 0;
    for (size_t i = 0; i < nLength; ++i) {
        if (pData[i] == 0x00)
            return true;
        if (!IsNetascii(pData[i]))
            ++outside;
    }
    return outside * 10 > nLength;
}

NetasciiFilterResult EncodeNetascii(const BYTE* pIn, size_t nInLength, BYTE* pOut, size_t nOutCapacity,
                                    NetasciiEncodeState* pState)
{
    size_t consumed = 0;
    size_t produced = 0;
    if (pState->bPending && nOutCapacity > 0) {
        pOut[produced++] = pState->chPending;
        pState->bPending = false;
    }
    while (consumed < nInLength && produced < nOutCapacity) {
        const BYTE b = pIn[consumed++];
        if (b != LF && b != CR) {
            pOut[produced++] = b;
            continue;
        }
        pOut[produced++] = CR;
        const BYTE second = b == LF ? LF : NUL;
        if (produced < nOutCapacity) {
            pOut[produced++] = second;
        } else {
            pState->bPending = true;
            pState->chPending = second;
        }
    }
    return NetasciiFilterResult{consumed, produced};
}

size_t DecodeNetascii(const BYTE* pIn, size_t nInLength, BYTE* pOut, bool* pCrPending)
{
    size_t produced = 0;
    bool cr = *pCrPending;
    for (size_t i = 0; i < nInLength; ++i) {
        const BYTE b = pIn[i];
        if (cr) {
            cr = false;
            if (b == LF) {
                pOut[produced++] = LF;
                continue;
            }
            pOut[produced++] = CR;
            if (b == NUL)
                continue;
        }
        if (b == CR)
            cr = true;
        else
            pOut[produced++] = b;
    }
    *pCrPending = cr;
    return produced;
}

size_t FinishNetascii(BYTE* pOut, bool* pCrPending)
{
    if (!*pCrPending)
        return 0;
    *pCrPending = false;
    pOut[0] = CR;
    return 1;
}

ULONGLONG NetasciiWireSize(const BYTE* pData, size_t nLength)
{
    ULONGLONG size = nLength;
    for (size_t i = 0; i < nLength; ++i)
        size += pData[i] == LF || pData[i] == CR ? 1 : 0;
    return size;
}
