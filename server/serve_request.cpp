// SPDX-License-Identifier: MIT
#include "server/serve_request.h"

#include <algorithm>
#include <optional>

#include "protocol/packet.h"

namespace {

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
        const std::optional<TftpOption> known = TftpOptionNamed(name);
        if (!known) {
            ++pRequest->nUnknown;
            continue;
        }
        const TftpOption option = *known;
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

// The value asked when it lies in the option's range, lowered to cap;
// nullopt otherwise.
std::optional<ULONGLONG> InRange(const ServeOptionAsked& asked, TftpOption option, ULONGLONG cap)
{
    if (!asked.bNumber || asked.nValue < kTftpOptions[option].nMin || asked.nValue > kTftpOptions[option].nMax)
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
        const TftpOption option = request.order[i];
        const ServeOptionAsked& asked = request.options[option];
        std::optional<ULONGLONG> value;
        switch (option) {
        case TFTP_OPTION_BLKSIZE:
            value = InRange(asked, option, maxBlock);
            granted.nBlockSize = static_cast<int>(value.value_or(TFTP_BLOCK_SIZE));
            break;
        case TFTP_OPTION_WINDOWSIZE:
            value = InRange(asked, option, maxWindow);
            granted.nWindowSize = static_cast<int>(value.value_or(1));
            break;
        case TFTP_OPTION_TIMEOUT:
            value = InRange(asked, option, TFTP_MAX_TIMEOUT);
            granted.nTimeout = static_cast<int>(value.value_or(0));
            break;
        case TFTP_OPTION_TSIZE:
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
        case TFTP_OPTION_COUNT:
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
ULONGLONG GrantedValue(const ServeGrant& grant, TftpOption option)
{
    const TftpGranted& granted = grant.granted;
    return option == TFTP_OPTION_BLKSIZE      ? static_cast<ULONGLONG>(granted.nBlockSize)
           : option == TFTP_OPTION_WINDOWSIZE ? static_cast<ULONGLONG>(granted.nWindowSize)
           : option == TFTP_OPTION_TIMEOUT    ? static_cast<ULONGLONG>(granted.nTimeout)
                                              : granted.nFileSize;
}
} // namespace

std::string ServeGrantText(const ServeGrant& grant)
{
    std::string text;
    for (int i = 0; i < grant.nOrder; ++i)
        AppendOptionText(text, grant.order[i], GrantedValue(grant, grant.order[i]));
    return text;
}

int BuildOack(BYTE* pBuffer, int nCapacity, const ServeGrant& grant)
{
    if (grant.nOrder == 0 || nCapacity < 2)
        return 0;
    PutWord(pBuffer, TFTP_OPCODE_OACK);
    int length = 2;
    for (int i = 0; i < grant.nOrder; ++i)
        if (!AppendOption(pBuffer, &length, nCapacity, grant.order[i], GrantedValue(grant, grant.order[i])))
            return 0;
    return length;
}
