// SPDX-License-Identifier: MIT
#include "tftp_packet.h"

#include <algorithm>
#include <cstring>

const char* TftpModeString(WORD wMode)
{
    return wMode == MODE_BINARY ? "octet" : "netascii";
}

int BuildRequest(BYTE* pBuffer, int nCapacity, WORD wDirection, const char* lpszName, WORD wMode)
{
    const size_t nameLength = ::strnlen(lpszName, TFTP_MAX_NAME + 1);
    const char* mode = TftpModeString(wMode);
    const size_t modeLength = std::strlen(mode);
    const size_t length = 2 + nameLength + 1 + modeLength + 1;
    if (nameLength > TFTP_MAX_NAME || nCapacity < 0 || length > static_cast<size_t>(nCapacity))
        return 0;
    PutWord(pBuffer, wDirection);
    std::memcpy(pBuffer + 2, lpszName, nameLength);
    pBuffer[2 + nameLength] = 0;
    std::memcpy(pBuffer + 3 + nameLength, mode, modeLength + 1);
    return static_cast<int>(length);
}

int BuildAck(BYTE* pPacket, WORD wBlock)
{
    PutWord(pPacket, TFTP_OPCODE_ACK);
    PutWord(pPacket + 2, wBlock);
    return TFTP_HEADER_SIZE;
}

int BuildDataHeader(BYTE* pPacket, WORD wBlock)
{
    PutWord(pPacket, TFTP_OPCODE_DATA);
    PutWord(pPacket + 2, wBlock);
    return TFTP_HEADER_SIZE;
}

int BuildError(BYTE* pPacket, WORD wCode)
{
    PutWord(pPacket, TFTP_OPCODE_ERROR);
    PutWord(pPacket + 2, wCode);
    pPacket[4] = 0;
    return 5;
}

int BuildError(BYTE* pPacket, int nCapacity, WORD wCode, std::string_view text)
{
    PutWord(pPacket, TFTP_OPCODE_ERROR);
    PutWord(pPacket + 2, wCode);
    const size_t length = std::min(text.size(), static_cast<size_t>(nCapacity - TFTP_HEADER_SIZE - 1));
    std::memcpy(pPacket + TFTP_HEADER_SIZE, text.data(), length);
    pPacket[TFTP_HEADER_SIZE + length] = 0;
    return static_cast<int>(TFTP_HEADER_SIZE + length + 1);
}

namespace {
constexpr TftpVerdict Ignore()
{
    return TftpVerdict{TFTP_RESULT_NONE, false, false, 0};
}

constexpr TftpVerdict Fail(int nReason, WORD wErrorCode)
{
    return TftpVerdict{TFTP_RESULT_ERROR + nReason, false, true, wErrorCode};
}

// A reply in a Get: DATA with the awaited block is accepted.
TftpVerdict AwaitData(WORD wOpcode, WORD wBlock, WORD wExpected, int nLength)
{
    if (wOpcode != TFTP_OPCODE_DATA)
        return Fail(TFTP_REASON_UNEXPECTED, TFTP_ERROR_ILLEGAL_OPERATION);
    if (wBlock != wExpected)
        return Ignore();
    return TftpVerdict{TFTP_RESULT_DATA + (nLength <= TFTP_RESULT_VALUE_MASK ? nLength : 0), false, false, 0};
}

// A reply in a Put: ACK with the awaited block is accepted.
TftpVerdict AwaitAck(WORD wOpcode, WORD wBlock, WORD wExpected)
{
    if (wOpcode != TFTP_OPCODE_ACK)
        return Fail(TFTP_REASON_NOT_ACK, TFTP_ERROR_ILLEGAL_OPERATION);
    if (wBlock != wExpected)
        return Ignore();
    return TftpVerdict{TFTP_RESULT_ACKED, false, false, 0};
}
} // namespace

TftpVerdict ClassifyDatagram(TftpState wState, WORD wExpected, const BYTE* pDatagram, int nLength, int nMaxDatagram)
{
    if (nLength < TFTP_MIN_DATAGRAM || nLength > nMaxDatagram)
        return Fail(TFTP_REASON_RECEIVE, 0);
    const WORD opcode = GetWord(pDatagram);
    if (opcode == 0 || opcode > TFTP_OPCODE_ERROR)
        return Fail(TFTP_REASON_OPCODE, 0);
    // An ERROR ends a running transfer; once it has ended, another one (a
    // hostile server's flood) is not shown again.
    if (opcode == TFTP_OPCODE_ERROR)
        return wState == TFTP_STATE_CLOSED ? Ignore() : TftpVerdict{TFTP_RESULT_NONE, true, true, 0};

    const WORD block = GetWord(pDatagram + 2);
    switch (wState) {
    case TFTP_STATE_IDLE:
        return TftpVerdict{TFTP_RESULT_ERROR + TFTP_REASON_UNEXPECTED, false, false, 0};
    case TFTP_STATE_RRQ_SENT:
        if (block != wExpected)
            return Fail(TFTP_REASON_BLOCK, TFTP_ERROR_UNKNOWN_TID);
        return AwaitData(opcode, block, wExpected, nLength);
    case TFTP_STATE_WAIT_DATA:
        return AwaitData(opcode, block, wExpected, nLength);
    case TFTP_STATE_WRQ_SENT:
        if (block != wExpected)
            return Fail(TFTP_REASON_BLOCK, TFTP_ERROR_UNKNOWN_TID);
        return AwaitAck(opcode, block, wExpected);
    case TFTP_STATE_WAIT_ACK:
        return AwaitAck(opcode, block, wExpected);
    case TFTP_STATE_CLOSED:
    default:
        return Ignore();
    }
}

std::string_view PeerErrorMessage(const BYTE* pDatagram, int nLength)
{
    if (nLength <= TFTP_HEADER_SIZE)
        return {};
    const char* text = reinterpret_cast<const char*>(pDatagram + TFTP_HEADER_SIZE);
    return std::string_view(text, ::strnlen(text, static_cast<size_t>(nLength - TFTP_HEADER_SIZE)));
}
