// SPDX-License-Identifier: MIT
#include "server/serve_request.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

#include "protocol/packet.h"

namespace {

// Indexed by ServeOption.
constexpr std::string_view kOptionNames[SERVE_OPTION_COUNT] = {"blksize", "timeout", "tsize", "windowsize"};

ServeRequestVerdict Refuse(WORD wCode, const char* lpszText)
{
    ServeRequestVerdict verdict;
    verdict.answer = ServeAnswer::refuse;
    verdict.wErrorCode = wCode;
    verdict.lpszError = lpszText;
    return verdict;
}

// Reads the "name\0value\0" pairs from at on.
void ReadOptions(std::string_view text, size_t at, ServeRequest* pRequest)
{
    while (at < text.size()) {
        const size_t nameEnd = text.find('\0', at);
        const size_t valueEnd = nameEnd == std::string_view::npos ? nameEnd : text.find('\0', nameEnd + 1);
        if (valueEnd == std::string_view::npos)
            return;
        const std::string_view name = text.substr(at, nameEnd - at);
        const std::string_view value = text.substr(nameEnd + 1, valueEnd - nameEnd - 1);
        at = valueEnd + 1;
        const auto known = std::find_if(std::begin(kOptionNames), std::end(kOptionNames),
                                        [&](std::string_view option) { return TftpSameText(name, option); });
        if (known == std::end(kOptionNames)) {
            ++pRequest->nUnknown;
            continue;
        }
        const auto option = static_cast<ServeOption>(known - std::begin(kOptionNames));
        ServeOptionAsked& asked = pRequest->options[option];
        if (asked.bAsked)
            continue;
        asked.bAsked = true;
        const std::optional<ULONGLONG> number = TftpDecimal(value);
        asked.bNumber = number.has_value();
        asked.nValue = number.value_or(0);
        pRequest->order[pRequest->nOrder++] = option;
    }
}

// value when it lies in [low, high], lowered to cap; nullopt otherwise.
std::optional<ULONGLONG> InRange(const ServeOptionAsked& asked, ULONGLONG low, ULONGLONG high, ULONGLONG cap)
{
    if (!asked.bNumber || asked.nValue < low || asked.nValue > high)
        return std::nullopt;
    return std::min(asked.nValue, cap);
}

} // namespace

ServeRequestVerdict ParseServeRequest(const BYTE* pDatagram, int nLength)
{
    if (nLength < TFTP_MIN_DATAGRAM)
        return ServeRequestVerdict{};
    const WORD opcode = GetWord(pDatagram);
    if (opcode >= TFTP_OPCODE_DATA && opcode <= TFTP_OPCODE_OACK)
        return ServeRequestVerdict{};
    if (opcode != TFTP_OPCODE_RRQ && opcode != TFTP_OPCODE_WRQ)
        return Refuse(TFTP_ERROR_ILLEGAL_OPERATION, "Illegal TFTP operation");

    const std::string_view text(reinterpret_cast<const char*>(pDatagram) + 2, static_cast<size_t>(nLength - 2));
    const size_t nameEnd = text.find('\0');
    const size_t modeEnd = nameEnd == std::string_view::npos ? nameEnd : text.find('\0', nameEnd + 1);
    if (modeEnd == std::string_view::npos)
        return Refuse(TFTP_ERROR_ILLEGAL_OPERATION, "Malformed request");
    if (nameEnd > static_cast<size_t>(TFTP_MAX_NAME))
        return Refuse(TFTP_ERROR_ACCESS_VIOLATION, "Name too long");
    const std::string_view mode = text.substr(nameEnd + 1, modeEnd - nameEnd - 1);
    if (!TftpSameText(mode, "octet") && !TftpSameText(mode, "netascii"))
        return Refuse(TFTP_ERROR_ILLEGAL_OPERATION, "Unknown mode");

    ServeRequestVerdict verdict;
    verdict.answer = ServeAnswer::accept;
    ServeRequest& request = verdict.request;
    request.wOpcode = opcode;
    request.szName = text.substr(0, nameEnd);
    request.wMode = TftpSameText(mode, "octet") ? MODE_BINARY : MODE_ASCII;
    ReadOptions(text, modeEnd + 1, &request);
    return verdict;
}

ServeGrant NegotiateServeOptions(const ServeRequest& request, const ServeLimits& limits, ULONGLONG nSize)
{
    const auto maxBlock =
        static_cast<ULONGLONG>(std::clamp(limits.nMaxBlockSize, TFTP_MIN_BLOCK_SIZE, TFTP_MAX_BLOCK_SIZE));
    const auto maxWindow = static_cast<ULONGLONG>(std::clamp(limits.nMaxWindowSize, 1, TFTP_MAX_WINDOW_SIZE));
    ServeGrant grant;
    TftpGranted& granted = grant.granted;
    for (int i = 0; i < request.nOrder; ++i) {
        const ServeOption option = request.order[i];
        const ServeOptionAsked& asked = request.options[option];
        std::optional<ULONGLONG> value;
        switch (option) {
        case SERVE_OPTION_BLKSIZE:
            value = InRange(asked, TFTP_MIN_BLOCK_SIZE, TFTP_MAX_BLOCK_SIZE, maxBlock);
            granted.nBlockSize = static_cast<int>(value.value_or(TFTP_BLOCK_SIZE));
            break;
        case SERVE_OPTION_WINDOWSIZE:
            value = InRange(asked, 1, 65535, maxWindow);
            granted.nWindowSize = static_cast<int>(value.value_or(1));
            break;
        case SERVE_OPTION_TIMEOUT:
            value = InRange(asked, 1, TFTP_MAX_TIMEOUT, TFTP_MAX_TIMEOUT);
            granted.nTimeout = static_cast<int>(value.value_or(0));
            break;
        case SERVE_OPTION_TSIZE:
            if (!asked.bNumber)
                break;
            if (request.wOpcode == TFTP_OPCODE_WRQ) {
                if (asked.nValue > nSize)
                    return ServeGrant{TFTP_ERROR_DISK_FULL, {}, {}, 0};
                value = asked.nValue;
            } else if (nSize != 0) {
                value = nSize;
            }
            granted.bFileSize = value.has_value();
            granted.nFileSize = value.value_or(0);
            break;
        case SERVE_OPTION_COUNT:
            break;
        }
        if (value)
            grant.order[grant.nOrder++] = option;
    }
    return grant;
}

ULONGLONG UploadRoom(ULONGLONG nFreeBytes, ULONGLONG nTotalBytes)
{
    const ULONGLONG reserve = nTotalBytes / 100;
    return nFreeBytes > reserve ? nFreeBytes - reserve : 0;
}

namespace {
ULONGLONG GrantedValue(const ServeGrant& grant, ServeOption option)
{
    const TftpGranted& granted = grant.granted;
    return option == SERVE_OPTION_BLKSIZE      ? static_cast<ULONGLONG>(granted.nBlockSize)
           : option == SERVE_OPTION_WINDOWSIZE ? static_cast<ULONGLONG>(granted.nWindowSize)
           : option == SERVE_OPTION_TIMEOUT    ? static_cast<ULONGLONG>(granted.nTimeout)
                                               : granted.nFileSize;
}
} // namespace

std::string ServeGrantText(const ServeGrant& grant)
{
    std::string text;
    for (int i = 0; i < grant.nOrder; ++i)
        text += (i == 0 ? "" : ", ") + std::string(kOptionNames[grant.order[i]]) + " " +
                std::to_string(GrantedValue(grant, grant.order[i]));
    return text;
}

int BuildOack(BYTE* pBuffer, int nCapacity, const ServeGrant& grant)
{
    if (grant.nOrder == 0 || nCapacity < 2)
        return 0;
    PutWord(pBuffer, TFTP_OPCODE_OACK);
    size_t length = 2;
    for (int i = 0; i < grant.nOrder; ++i) {
        const ServeOption option = grant.order[i];
        const ULONGLONG value = GrantedValue(grant, option);
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        const std::string_view name = kOptionNames[option];
        const size_t valueLength = static_cast<size_t>(end - digits);
        if (length + name.size() + valueLength + 2 > static_cast<size_t>(nCapacity))
            return 0;
        std::memcpy(pBuffer + length, name.data(), name.size());
        pBuffer[length + name.size()] = 0;
        std::memcpy(pBuffer + length + name.size() + 1, digits, valueLength);
        pBuffer[length + name.size() + 1 + valueLength] = 0;
        length += name.size() + valueLength + 2;
    }
    return static_cast<int>(length);
}
