// SPDX-License-Identifier: MIT
#include "protocol/transfer_log.h"

#include <algorithm>

std::string ErrorLogLine(std::string_view text)
{
    std::string line = "Error: " + std::string(text);
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

std::string EscapedText(std::string_view text, size_t nLimit)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(std::min(text.size(), nLimit) + 8);
    for (size_t i = 0; i < text.size() && i < nLimit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // A backslash stays itself: Windows boot firmware asks for
        // "\\Boot\\BCD", and the row and the log should show just that.
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    if (text.size() > nLimit)
        out += "...";
    return out;
}
