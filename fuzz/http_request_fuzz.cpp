// SPDX-License-Identifier: MIT
// What a client's request line and Range header become: a decoded path never
// longer than the target, and a range always inside the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "server/serve_http_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8 || size > 8192)
        return 0;
    // The first 8 bytes are the file's size; the rest is both the target and
    // the header's value.
    ULONGLONG fileSize = 0;
    std::memcpy(&fileSize, data, sizeof fileSize);
    if ((data[0] & 1) != 0)
        fileSize &= 0xFFFF; // small files too, where ranges meet the end
    const std::string text(reinterpret_cast<const char*>(data + 8), size - 8);

    const std::optional<std::string> path = DecodeHttpPath(text);
    if (path && path->size() > text.size())
        std::abort();
    const HttpRange range = ParseHttpRange(text, fileSize);
    if (range.kind == HttpRange::part &&
        (range.nLength == 0 || range.nFirst >= fileSize || range.nLength > fileSize - range.nFirst))
        std::abort();
    return 0;
}
