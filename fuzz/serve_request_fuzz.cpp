// SPDX-License-Identifier: MIT
// The server reading a request and answering its options: never past the
// datagram, never past the OACK's own buffer, never granting beyond the caps,
// and every OACK one our own client accepts.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "server/serve_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 70000)
        return 0;
    // The first byte chooses the caps and the file's size; the rest is the
    // datagram, copied exactly so that one byte too far is reported.
    const uint8_t choice = data[0];
    const ServeLimits limits{TFTP_MIN_BLOCK_SIZE + (choice & 0x0F) * 4096, 1 + (choice >> 4) * 5};
    const ULONGLONG fileSize = (choice & 1) != 0 ? ~0ULL : choice * 1000ULL;
    const std::vector<BYTE> datagram(data + 1, data + size);
    const ServeRequestVerdict verdict = ParseServeRequest(datagram.data(), static_cast<int>(datagram.size()));
    if (verdict.answer == ServeAnswer::refuse && verdict.wErrorCode != TFTP_ERROR_ILLEGAL_OPERATION &&
        verdict.wErrorCode != TFTP_ERROR_ACCESS_VIOLATION)
        std::abort();
    if (verdict.answer != ServeAnswer::accept)
        return 0;
    const ServeRequest& request = verdict.request;
    if (request.szName.size() > TFTP_MAX_NAME || request.nOrder > TFTP_OPTION_COUNT)
        std::abort();

    const ServeGrant grant = NegotiateServeOptions(request, limits, fileSize);
    const TftpGranted& granted = grant.granted;
    if (granted.nBlockSize < TFTP_MIN_BLOCK_SIZE ||
        (granted.nBlockSize != TFTP_BLOCK_SIZE && granted.nBlockSize > limits.nMaxBlockSize) ||
        granted.nWindowSize < 1 || granted.nWindowSize > limits.nMaxWindowSize || granted.nTimeout > 255)
        std::abort();
    std::vector<BYTE> oack(TFTP_MAX_OACK);
    const int length = BuildOack(oack.data(), TFTP_MAX_OACK, grant);
    if ((length == 0) != (grant.nOrder == 0))
        std::abort();
    if (length == 0)
        return 0;
    TftpOptions asked;
    asked.nBlockSize = static_cast<int>(request.options[TFTP_OPTION_BLKSIZE].nValue & 0xFFFF);
    asked.nWindowSize = static_cast<int>(request.options[TFTP_OPTION_WINDOWSIZE].nValue & 0xFFFF);
    asked.nTimeout = static_cast<int>(request.options[TFTP_OPTION_TIMEOUT].nValue & 0xFFFF);
    asked.bFileSize = request.options[TFTP_OPTION_TSIZE].bAsked;
    if (!ParseOack(oack.data(), length, asked).bAccepted)
        std::abort();
    return 0;
}
