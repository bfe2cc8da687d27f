// SPDX-License-Identifier: MIT
// The netascii filter and line-end rewriter on any bytes: the rewriter gives
// the same output whether the data comes in one block or two; all it writes is
// in the netascii set, so the reading side passes it back unchanged; and the
// filter never delivers more than asked or a byte outside the set. The
// server's encoder, in blocks of any size, gives exactly the size it counts,
// and its decoder, in two parts, gives the input back.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/netascii.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t split = data[0] % size;
    const uint8_t* in = data + 1;
    const size_t length = size - 1;
    const size_t first = split < length ? split : length;

    std::vector<BYTE> whole(2 * length + 1);
    BYTE last = 0xFF;
    const size_t wholeLength = RewriteNetascii(in, length, whole.data(), &last);

    std::vector<BYTE> parts(2 * length + 1);
    BYTE carried = 0xFF;
    size_t partsLength = RewriteNetascii(in, first, parts.data(), &carried);
    partsLength += RewriteNetascii(in + first, length - first, parts.data() + partsLength, &carried);
    if (partsLength != wholeLength || std::memcmp(parts.data(), whole.data(), wholeLength) != 0 || carried != last)
        std::abort();

    for (size_t i = 0; i < wholeLength; ++i) {
        if (!IsNetascii(whole[i]))
            std::abort();
    }
    std::vector<BYTE> readBack(wholeLength + 1);
    const NetasciiFilterResult same = FilterNetascii(whole.data(), wholeLength, readBack.data(), wholeLength);
    if (same.nProduced != wholeLength || std::memcmp(readBack.data(), whole.data(), wholeLength) != 0)
        std::abort();

    const size_t capacity = data[0];
    std::vector<BYTE> filtered(capacity + 1);
    const NetasciiFilterResult result = FilterNetascii(in, length, filtered.data(), capacity);
    if (result.nProduced > capacity || result.nConsumed > length || result.nProduced > result.nConsumed)
        std::abort();
    for (size_t i = 0; i < result.nProduced; ++i) {
        if (!IsNetascii(filtered[i]))
            std::abort();
    }

    // Blocks of 1 to 64 bytes, each full but the last.
    const size_t block = data[0] % 64 + 1;
    std::vector<BYTE> wire;
    NetasciiEncodeState state;
    for (size_t at = 0; at < length || state.bPending;) {
        BYTE out[64];
        const NetasciiFilterResult encoded = EncodeNetascii(in + at, length - at, out, block, &state);
        if (encoded.nProduced == 0 ||
            (encoded.nProduced < block && (at + encoded.nConsumed < length || state.bPending)))
            std::abort();
        wire.insert(wire.end(), out, out + encoded.nProduced);
        at += encoded.nConsumed;
    }
    if (wire.size() != NetasciiWireSize(in, length))
        std::abort();
    std::vector<BYTE> decoded(wire.size() + 2);
    bool crPending = false;
    const size_t cut = std::min(first, wire.size());
    size_t decodedLength = DecodeNetascii(wire.data(), cut, decoded.data(), &crPending);
    decodedLength += DecodeNetascii(wire.data() + cut, wire.size() - cut, decoded.data() + decodedLength, &crPending);
    decodedLength += FinishNetascii(decoded.data() + decodedLength, &crPending);
    if (decodedLength != length || std::memcmp(decoded.data(), in, length) != 0)
        std::abort();
    return 0;
}
