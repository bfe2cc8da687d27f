// SPDX-License-Identifier: MIT
#include "protocol/options.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>

#include "protocol/packet.h"

bool TftpSameText(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::optional<ULONGLONG> TftpDecimal(std::string_view text)
{
    if (text.empty() || text.size() > 20 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    ULONGLONG value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<TftpOption> TftpOptionNamed(std::string_view name)
{
    for (int option = 0; option < TFTP_OPTION_COUNT; ++option)
        if (TftpSameText(name, kTftpOptions[option].name))
            return static_cast<TftpOption>(option);
    return std::nullopt;
}

bool AppendOption(BYTE* pBuffer, int* pLength, int nLimit, TftpOption option, ULONGLONG nValue)
{
    const std::string_view name = kTftpOptions[option].name;
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, nValue);
    const size_t valueLength = static_cast<size_t>(end - digits);
    const size_t needed = name.size() + 1 + valueLength + 1;
    if (error != std::errc() || *pLength < 0 || static_cast<size_t>(*pLength) + needed > static_cast<size_t>(nLimit))
        return false;
    BYTE* out = pBuffer + *pLength;
    std::memcpy(out, name.data(), name.size());
    out[name.size()] = 0;
    std::memcpy(out + name.size() + 1, digits, valueLength);
    out[name.size() + 1 + valueLength] = 0;
    *pLength += static_cast<int>(needed);
    return true;
}

void AppendOptionText(std::string& text, TftpOption option, ULONGLONG nValue)
{
    text.append(text.empty() ? "" : ", ").append(kTftpOptions[option].name).append(" ").append(std::to_string(nValue));
}

int AppendOptions(BYTE* pBuffer, int nLength, int nCapacity, const TftpOptions& asked)
{
    const int limit = std::min(nCapacity, TFTP_MAX_REQUEST);
    int length = nLength;
    const bool fits =
        (asked.nBlockSize == 0 ||
         AppendOption(pBuffer, &length, limit, TFTP_OPTION_BLKSIZE, static_cast<ULONGLONG>(asked.nBlockSize))) &&
        (asked.nTimeout == 0 ||
         AppendOption(pBuffer, &length, limit, TFTP_OPTION_TIMEOUT, static_cast<ULONGLONG>(asked.nTimeout))) &&
        (!asked.bFileSize || AppendOption(pBuffer, &length, limit, TFTP_OPTION_TSIZE, asked.nFileSize)) &&
        (asked.nWindowSize == 0 ||
         AppendOption(pBuffer, &length, limit, TFTP_OPTION_WINDOWSIZE, static_cast<ULONGLONG>(asked.nWindowSize)));
    return fits ? length : 0;
}

OackVerdict ParseOack(const BYTE* pDatagram, int nLength, const TftpOptions& asked)
{
    OackVerdict verdict{false, {}, TftpGranted{}};
    if (nLength < 2 || GetWord(pDatagram) != TFTP_OPCODE_OACK)
        return verdict;
    const char* text = reinterpret_cast<const char*>(pDatagram) + 2;
    const std::string_view rest(text, static_cast<size_t>(nLength - 2));
    bool seenBlockSize = false, seenTimeout = false, seenFileSize = false, seenWindowSize = false;
    size_t at = 0;
    while (at < rest.size()) {
        const size_t nameEnd = rest.find('\0', at);
        if (nameEnd == std::string_view::npos)
            return verdict;
        const std::string_view name = rest.substr(at, nameEnd - at);
        const size_t valueEnd = rest.find('\0', nameEnd + 1);
        if (valueEnd == std::string_view::npos) {
            verdict.szOption = name;
            return verdict;
        }
        const std::string_view valueText = rest.substr(nameEnd + 1, valueEnd - nameEnd - 1);
        at = valueEnd + 1;
        verdict.szOption = name;
        const std::optional<ULONGLONG> value = TftpDecimal(valueText);
        if (!value)
            return verdict;
        switch (TftpOptionNamed(name).value_or(TFTP_OPTION_COUNT)) {
        case TFTP_OPTION_BLKSIZE:
            if (asked.nBlockSize == 0 || seenBlockSize || *value < TFTP_MIN_BLOCK_SIZE ||
                *value > static_cast<ULONGLONG>(asked.nBlockSize))
                return verdict;
            seenBlockSize = true;
            verdict.granted.nBlockSize = static_cast<int>(*value);
            break;
        case TFTP_OPTION_WINDOWSIZE:
            if (asked.nWindowSize == 0 || seenWindowSize || *value < 1 ||
                *value > static_cast<ULONGLONG>(asked.nWindowSize))
                return verdict;
            seenWindowSize = true;
            verdict.granted.nWindowSize = static_cast<int>(*value);
            break;
        case TFTP_OPTION_TIMEOUT:
            if (asked.nTimeout == 0 || seenTimeout || *value != static_cast<ULONGLONG>(asked.nTimeout))
                return verdict;
            seenTimeout = true;
            verdict.granted.nTimeout = asked.nTimeout;
            break;
        case TFTP_OPTION_TSIZE:
            if (!asked.bFileSize || seenFileSize)
                return verdict;
            seenFileSize = true;
            verdict.granted.bFileSize = true;
            verdict.granted.nFileSize = *value;
            break;
        case TFTP_OPTION_COUNT:
        default:
            return verdict;
        }
    }
    verdict.bAccepted = true;
    verdict.szOption = {};
    return verdict;
}
