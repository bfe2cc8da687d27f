// SPDX-License-Identifier: MIT
#include "protocol/packet.h"

#include <algorithm>
#include <cstring>

#include "protocol/errors.h"

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
TftpVerdict Ignore()
{
    return TftpVerdict{TftpEvent::Ignore, TFTP_RESULT_NONE, false, 0};
}

TftpVerdict Fail(int nReason, WORD wErrorCode)
{
    return TftpVerdict{TftpEvent::Fail, TFTP_RESULT_ERROR + nReason, true, wErrorCode};
}

TftpVerdict Data(int nLength)
{
    return TftpVerdict{TftpEvent::Data, TFTP_RESULT_DATA + (nLength <= TFTP_RESULT_VALUE_MASK ? nLength : 0), false, 0};
}

TftpVerdict Ack(int nSlid)
{
    if (nSlid < 0)
        return Ignore();
    return TftpVerdict{TftpEvent::Ack, TFTP_RESULT_ACKED, false, 0, nSlid};
}

TftpVerdict Oack(const OackVerdict& oack)
{
    return TftpVerdict{
        oack.bAccepted ? TftpEvent::Oack : TftpEvent::OackRefused, TFTP_RESULT_NONE, !oack.bAccepted, 0, 0, oack};
}

// An OACK is judged before the length check: its list of options has a
// length of its own. Returns false when the datagram is not an OACK that
// answers anything now (it then fails as an unknown opcode).
bool JudgeOack(const TftpExchange& exchange, const BYTE* pDatagram, int nLength, TftpVerdict* pVerdict)
{
    if (nLength < 2 || GetWord(pDatagram) != TFTP_OPCODE_OACK)
        return false;
    const bool firstReply = exchange.awaits == TftpAwaits::ReadReply || exchange.awaits == TftpAwaits::WriteReply;
    if (firstReply && exchange.pAsked != nullptr) {
        *pVerdict = Oack(ParseOack(pDatagram, nLength, *exchange.pAsked));
    } else if (firstReply && exchange.bOptionsWanted) {
        // The request went plain: whatever the OACK names was never asked.
        OackVerdict refused = ParseOack(pDatagram, nLength, TftpOptions{});
        refused.bAccepted = false;
        *pVerdict = Oack(refused);
    } else if (exchange.bGranted && exchange.awaits != TftpAwaits::Ended) {
        *pVerdict = Oack(OackVerdict{false, {}, {}}); // a second OACK, once the transfer has begun
    } else {
        return false;
    }
    return true;
}
} // namespace

TftpVerdict ClassifyDatagram(const TftpExchange& exchange, const BYTE* pDatagram, int nLength)
{
    TftpVerdict oack{};
    if (JudgeOack(exchange, pDatagram, nLength, &oack))
        return oack;
    if (nLength < TFTP_MIN_DATAGRAM || nLength > exchange.nMaxDatagram)
        return Fail(TFTP_REASON_RECEIVE, 0);
    const WORD opcode = GetWord(pDatagram);
    if (opcode == 0 || opcode > TFTP_OPCODE_ERROR)
        return Fail(TFTP_REASON_OPCODE, 0);
    // An ERROR ends a running transfer; once it has ended, another one (a
    // hostile server's flood) is not shown again. One to a request with
    // options may be refusing them, so that the request is worth sending
    // again without; any other is about the file itself.
    if (opcode == TFTP_OPCODE_ERROR) {
        if (exchange.awaits == TftpAwaits::Ended)
            return Ignore();
        const WORD code = GetWord(pDatagram + 2);
        const bool firstReply = exchange.awaits == TftpAwaits::ReadReply || exchange.awaits == TftpAwaits::WriteReply;
        const bool options = firstReply && exchange.pAsked != nullptr && ErrorMayRefuseOptions(code);
        return TftpVerdict{
            options ? TftpEvent::OptionsRefused : TftpEvent::PeerError, TFTP_RESULT_NONE, !options, 0, 0, {}, code};
    }

    const WORD block = GetWord(pDatagram + 2);
    switch (exchange.awaits) {
    case TftpAwaits::Nothing:
        return TftpVerdict{TftpEvent::Fail, TFTP_RESULT_ERROR + TFTP_REASON_UNEXPECTED, false, 0};
    case TftpAwaits::ReadReply:
        if (block != exchange.wExpected)
            return Fail(TFTP_REASON_BLOCK, TFTP_ERROR_UNKNOWN_TID);
        if (opcode != TFTP_OPCODE_DATA)
            return Fail(TFTP_REASON_UNEXPECTED, TFTP_ERROR_ILLEGAL_OPERATION);
        return Data(nLength);
    case TftpAwaits::Data:
        if (opcode != TFTP_OPCODE_DATA)
            return Fail(TFTP_REASON_UNEXPECTED, TFTP_ERROR_ILLEGAL_OPERATION);
        switch (exchange.receive.Judge(block, exchange.wExpected)) {
        case TftpBlockKind::InOrder:
            return Data(nLength);
        case TftpBlockKind::Gap:
            return TftpVerdict{TftpEvent::Gap, TFTP_RESULT_NONE, false, 0};
        default:
            return Ignore();
        }
    case TftpAwaits::WriteReply:
        if (block != exchange.wExpected)
            return Fail(TFTP_REASON_BLOCK, TFTP_ERROR_UNKNOWN_TID);
        if (opcode != TFTP_OPCODE_ACK)
            return Fail(TFTP_REASON_NOT_ACK, TFTP_ERROR_ILLEGAL_OPERATION);
        return Ack(0);
    case TftpAwaits::Acks:
        if (opcode != TFTP_OPCODE_ACK)
            return Fail(TFTP_REASON_NOT_ACK, TFTP_ERROR_ILLEGAL_OPERATION);
        return Ack(exchange.send.Acknowledges(block));
    case TftpAwaits::Ended:
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
