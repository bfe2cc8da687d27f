// SPDX-License-Identifier: MIT
#include "server/serve_http_parse.h"

#include <cstdio>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads the digits at text[*pAt], at least one; too large for 64 bits is
// the largest number.
bool ReadNumber(std::string_view text, size_t* pAt, ULONGLONG* pValue)
{
    const size_t start = *pAt;
    ULONGLONG value = 0;
    for (; *pAt < text.size() && IsDigit(text[*pAt]); ++*pAt) {
        const auto digit = static_cast<ULONGLONG>(text[*pAt] - '0');
        value = value > (~0ULL - digit) / 10 ? ~0ULL : value * 10 + digit;
    }
    *pValue = value;
    return *pAt > start;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<std::string> DecodeHttpPath(std::string_view target)
{
    target = target.substr(0, target.find('?'));
    std::string path;
    path.reserve(target.size());
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] != '%') {
            path += target[i];
            continue;
        }
        if (i + 2 >= target.size() || HexValue(target[i + 1]) < 0 || HexValue(target[i + 2]) < 0)
            return std::nullopt;
        path += static_cast<char>(HexValue(target[i + 1]) * 16 + HexValue(target[i + 2]));
        i += 2;
    }
    return path;
}

HttpRange ParseHttpRange(std::string_view header, ULONGLONG nSize)
{
    const HttpRange whole;
    header = Trimmed(header);
    const size_t equals = header.find('=');
    if (equals == std::string_view::npos || !SameTextIgnoringCase(header.substr(0, equals), "bytes"))
        return whole;
    const std::string_view range = Trimmed(header.substr(equals + 1));
    size_t at = 0;
    ULONGLONG first = 0;
    ULONGLONG last = ~0ULL;
    const bool suffix = !range.empty() && range[0] == '-';
    if (!suffix && !ReadNumber(range, &at, &first))
        return whole;
    if (at >= range.size() || range[at++] != '-')
        return whole;
    ULONGLONG number = 0;
    const bool hasNumber = ReadNumber(range, &at, &number);
    // Anything after the one range (another range, a stray byte) is not a
    // shape this server answers in part.
    if (at != range.size() || (suffix && !hasNumber))
        return whole;
    if (suffix) {
        if (number == 0 || nSize == 0)
            return HttpRange{HttpRange::unsatisfiable, 0, 0};
        first = number >= nSize ? 0 : nSize - number;
    } else if (hasNumber) {
        if (number < first)
            return whole;
        last = number;
    }
    if (first >= nSize)
        return HttpRange{HttpRange::unsatisfiable, 0, 0};
    const ULONGLONG end = last >= nSize - 1 ? nSize - 1 : last;
    return HttpRange{HttpRange::part, first, end - first + 1};
}

std::string HttpDate(std::time_t time)
{
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm parts{};
    if (::gmtime_r(&time, &parts) == nullptr || parts.tm_year < -1900 || parts.tm_year > 9999 - 1900)
        return "Thu, 01 Jan 1970 00:00:00 GMT";
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[parts.tm_wday % 7], parts.tm_mday,
                  kMonths[parts.tm_mon % 12], parts.tm_year + 1900, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}
