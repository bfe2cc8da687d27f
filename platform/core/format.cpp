// SPDX-License-Identifier: MIT
#include "format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::string AfxFormatString(const char* lpszFormat, ...)
{
    va_list args;
    va_start(args, lpszFormat);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, lpszFormat, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), lpszFormat, args);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

std::string AfxWidenFormat(std::string format)
{
    for (size_t at = format.find("%lu"); at != std::string::npos; at = format.find("%lu", at + 4))
        format.replace(at, 3, "%llu");
    return format;
}

std::string AfxBoundedText(std::string text, size_t nMax)
{
    if (text.size() <= nMax)
        return text;
    size_t end = nMax;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}
