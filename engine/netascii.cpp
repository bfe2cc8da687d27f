// SPDX-License-Identifier: MIT
#include "netascii.h"

namespace {
constexpr BYTE CR = '\r';
constexpr BYTE LF = '\n';
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
