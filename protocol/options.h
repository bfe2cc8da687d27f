// SPDX-License-Identifier: MIT
// TFTP options (RFC 2347 negotiation; blksize RFC 2348, timeout and tsize
// RFC 2349, windowsize RFC 7440): what a request asks for and what an OACK
// grants. Pure functions of bytes, no I/O.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "protocol/tftp.h"

inline constexpr WORD TFTP_OPCODE_OACK = 6;

// Ranges a user may ask for.
inline constexpr int TFTP_MIN_BLOCK_SIZE = 8;
inline constexpr int TFTP_MAX_BLOCK_SIZE = 65464;
inline constexpr int TFTP_MAX_WINDOW_SIZE = 64;
inline constexpr int TFTP_MAX_TIMEOUT = 255;
// RFC 2347: a request with its options stays within 512 bytes.
inline constexpr int TFTP_MAX_REQUEST = 512;

// The options both ends know, in the order a request names them.
enum TftpOption : BYTE {
    TFTP_OPTION_BLKSIZE,    // RFC 2348
    TFTP_OPTION_TIMEOUT,    // RFC 2349
    TFTP_OPTION_TSIZE,      // RFC 2349
    TFTP_OPTION_WINDOWSIZE, // RFC 7440
    TFTP_OPTION_COUNT
};

// An option's name on the wire and the values its RFC allows.
struct TftpOptionSpec {
    std::string_view name;
    ULONGLONG nMin;
    ULONGLONG nMax;
};

// Indexed by TftpOption: the one table of options, for the client's request,
// the server's admission and OACK, and the log.
inline constexpr TftpOptionSpec kTftpOptions[TFTP_OPTION_COUNT] = {
    {"blksize", TFTP_MIN_BLOCK_SIZE, TFTP_MAX_BLOCK_SIZE},
    {"timeout", 1, TFTP_MAX_TIMEOUT},
    {"tsize", 0, ~0ULL},
    {"windowsize", 1, 65535},
};

// The option of that name (without regard to case), or none.
std::optional<TftpOption> TftpOptionNamed(std::string_view name);
// Appends option's "name\0value\0" to the nLength bytes at pBuffer;
// false, and nothing written, when it would pass nLimit bytes.
bool AppendOption(BYTE* pBuffer, int* pLength, int nLimit, TftpOption option, ULONGLONG nValue);
// "blksize 1468" appended to text, after ", " unless text is empty.
void AppendOptionText(std::string& text, TftpOption option, ULONGLONG nValue);

// What a request asks for; 0 (or false) leaves an option out.
struct TftpOptions {
    int nBlockSize = 0;
    int nWindowSize = 0;
    int nTimeout = 0;
    bool bFileSize = false;
    // Put: the size sent with tsize. A Get asks with "0".
    ULONGLONG nFileSize = 0;
    // nBlockSize is the default, TFTP_DEFAULT_BLOCK_SIZE: a server reached
    // over IPv6 is asked for TFTP_DEFAULT_BLOCK_SIZE_IPV6 instead.
    bool bDefaultBlockSize = false;

    bool Any() const { return nBlockSize != 0 || nWindowSize != 0 || nTimeout != 0 || bFileSize; }
};

// What the transfer runs with: an OACK's values, and RFC 1350's for what it
// leaves out.
struct TftpGranted {
    int nBlockSize = TFTP_BLOCK_SIZE;
    int nWindowSize = 1;
    int nTimeout = 0; // 0: the plain timing
    bool bFileSize = false;
    ULONGLONG nFileSize = 0; // advisory: never sizes a buffer or ends a transfer
};

// Option names, modes and file names compare without regard to ASCII case.
bool TftpSameText(std::string_view a, std::string_view b);
// A decimal number of at most 20 digits that fits 64 bits; nothing else
// (no sign, no blanks, no exponent).
std::optional<ULONGLONG> TftpDecimal(std::string_view text);

// Appends the asked options to the request of nLength bytes at pBuffer, each
// as "name\0value\0" in lower case. Returns the new length, or 0 when they do
// not fit within TFTP_MAX_REQUEST bytes (nor nCapacity); the request is then
// as it was.
int AppendOptions(BYTE* pBuffer, int nLength, int nCapacity, const TftpOptions& asked);

// The verdict on an OACK. When it is refused, szOption names the option at
// fault (empty for a packet that is not a list of options at all).
struct OackVerdict {
    bool bAccepted;
    std::string_view szOption;
    TftpGranted granted;
};

// Reads an OACK datagram (opcode 6, then "name\0value\0" pairs) against what
// was asked. Refused: a pair without its zero bytes, an option not asked for
// or named twice (names compare without regard to case), blksize outside 8
// to the size asked, windowsize outside 1 to the size asked, a timeout other
// than the one asked, a value that is not a decimal number. Never reads past
// nLength.
OackVerdict ParseOack(const BYTE* pDatagram, int nLength, const TftpOptions& asked);
