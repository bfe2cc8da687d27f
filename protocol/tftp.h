// SPDX-License-Identifier: MIT
// TFTP (RFC 1350) definitions that both ends share: opcodes, sizes, error
// codes, modes, and the client's socket states and timing.
#pragma once

#include "platform/core/afxtypes.h"

// Opcodes
inline constexpr WORD TFTP_OPCODE_RRQ = 1;
inline constexpr WORD TFTP_OPCODE_WRQ = 2;
inline constexpr WORD TFTP_OPCODE_DATA = 3;
inline constexpr WORD TFTP_OPCODE_ACK = 4;
inline constexpr WORD TFTP_OPCODE_ERROR = 5;

// Sizes of the plain exchange. A granted blksize (RFC 2348) replaces the
// block size, and buffers are then sized by CTFTPSocket::PacketBufferSize.
inline constexpr int TFTP_BLOCK_SIZE = 512;                                  // the plain block: a full DATA payload
inline constexpr int TFTP_HEADER_SIZE = 4;                                   // opcode and one 16-bit field
inline constexpr int TFTP_MIN_DATAGRAM = TFTP_HEADER_SIZE;                   // shortest datagram accepted
inline constexpr int TFTP_MAX_DATAGRAM = TFTP_HEADER_SIZE + TFTP_BLOCK_SIZE; // header plus a plain block
// A plain packet buffer: room past the largest datagram, so that one a few
// bytes too long is read whole and refused rather than cut.
inline constexpr int TFTP_PACKET_BUFFER = TFTP_MAX_DATAGRAM + 4;
inline constexpr int TFTP_MAX_NAME = 255; // longest file name in a request
inline constexpr UINT TFTP_SERVER_PORT = 69;

// Error codes (RFC 1350; 8 is RFC 2347's). TftpErrorMeaning (errors.h) gives
// each its standard meaning.
inline constexpr WORD TFTP_ERROR_NOT_DEFINED = 0; // with a text saying why
inline constexpr WORD TFTP_ERROR_FILE_NOT_FOUND = 1;
inline constexpr WORD TFTP_ERROR_ACCESS_VIOLATION = 2;
inline constexpr WORD TFTP_ERROR_DISK_FULL = 3;
inline constexpr WORD TFTP_ERROR_ILLEGAL_OPERATION = 4;
inline constexpr WORD TFTP_ERROR_UNKNOWN_TID = 5;
inline constexpr WORD TFTP_ERROR_FILE_EXISTS = 6;
inline constexpr WORD TFTP_ERROR_OPTION_REFUSED = 8; // the client ends the transfer

// Results of CTFTPSocket::Receive: the class in the top four bits, a length or
// a reason in the low twelve.
inline constexpr int TFTP_RESULT_NONE = 0x0000;
inline constexpr int TFTP_RESULT_ACKED = 0x1000;
inline constexpr int TFTP_RESULT_DATA = 0x2000;
inline constexpr int TFTP_RESULT_ERROR = 0x3000;
inline constexpr int TFTP_RESULT_CLASS_MASK = 0xF000;
inline constexpr int TFTP_RESULT_VALUE_MASK = 0x0FFF;

// Reasons carried by TFTP_RESULT_ERROR
inline constexpr int TFTP_REASON_UNEXPECTED = 0;
inline constexpr int TFTP_REASON_RECEIVE = 2;
inline constexpr int TFTP_REASON_OPCODE = 3;
inline constexpr int TFTP_REASON_BLOCK = 4;
inline constexpr int TFTP_REASON_NOT_ACK = 5;
inline constexpr int TFTP_REASON_LOCK_IN = 6;
inline constexpr int TFTP_REASON_SEND = 7; // a send failed; already shown

// States of the transfer socket. A state is its own type: it converts to a
// 16-bit value, but no count or other number becomes a state.
enum TftpState : WORD {
    TFTP_STATE_IDLE = 0,
    TFTP_STATE_RRQ_SENT = 2,
    TFTP_STATE_WRQ_SENT = 3,
    TFTP_STATE_WAIT_ACK = 4,
    TFTP_STATE_WAIT_DATA = 5,
    TFTP_STATE_CLOSED = 7,
    TFTP_STATE_RESOLVING = 8, // the host name is being looked up; nothing sent yet
};

// Retransmission. The main window calls OnTick every TFTP_TICK_MS. What
// awaits an answer is sent again after TFTP_TICKS_PER_RESEND ticks without
// an accepted reply (a granted timeout sets its own period); when TFTP_RESENDS
// resends have brought nothing, the next period ends the transfer (after
// about 9 seconds with the plain timing).
inline constexpr UINT TFTP_TICK_MS = 500;
inline constexpr int TFTP_TICKS_PER_RESEND = 6;
inline constexpr int TFTP_RESENDS = 2;
// The clock of a negotiated transfer's adaptive resends (see
// CTFTPSocket::Clocked): fine enough for a resend after 20 ms.
inline constexpr UINT TFTP_CLOCK_MS = 10;

// The block size asked for by default with options on: a block, its headers
// and an IPv4 (or IPv6) header fill a 1500-byte Ethernet frame.
inline constexpr int TFTP_DEFAULT_BLOCK_SIZE = 1468;
inline constexpr int TFTP_DEFAULT_BLOCK_SIZE_IPV6 = 1448;

// Directions equal the request opcodes; modes select the request's mode string.
inline constexpr WORD DIRECTION_GET = 1;
inline constexpr WORD DIRECTION_PUT = 2;
inline constexpr WORD MODE_ASCII = 1;
inline constexpr WORD MODE_BINARY = 2;
