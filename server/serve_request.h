// SPDX-License-Identifier: MIT
// The server's side of a request: reading an RRQ or WRQ that reaches the
// listening port (RFC 1350, options RFC 2347), granting its options (blksize
// RFC 2348, timeout and tsize RFC 2349, windowsize RFC 7440) and writing the
// OACK. Pure functions of bytes, no I/O.
#pragma once

#include <string>
#include <string_view>

#include "protocol/options.h"
#include "protocol/tftp.h"

// The longest OACK: every option once, each value at its longest (tsize 20
// digits). Its buffer never depends on the block size, which may be 8.
inline constexpr int TFTP_MAX_OACK = 2 + (8 + 6) + (8 + 4) + (6 + 21) + (11 + 6);

struct ServeOptionAsked {
    bool bAsked = false;  // named in the request
    bool bNumber = false; // its value is a decimal number (at most 20 digits, fits 64 bits)
    ULONGLONG nValue = 0;
};

struct ServeRequest {
    WORD wOpcode = 0; // TFTP_OPCODE_RRQ or TFTP_OPCODE_WRQ
    // The name as received, not yet normalised: a view into the datagram (the
    // caller keeps it), at most TFTP_MAX_NAME bytes, without its zero byte.
    std::string_view szName;
    WORD wMode = MODE_BINARY;                    // MODE_BINARY for "octet", MODE_ASCII for "netascii"
    ServeOptionAsked options[TFTP_OPTION_COUNT]; // indexed by TftpOption; any other is left out of the OACK
    TftpOption order[TFTP_OPTION_COUNT];         // the known options asked, in the order named
    int nOrder = 0;
    int nUnknown = 0; // options not known: counted for the log, never answered
};

enum class ServeAnswer {
    accept, // a request to serve
    refuse, // send ERROR wErrorCode with lpszError
    ignore, // send nothing
};

struct ServeRequestVerdict {
    ServeAnswer answer = ServeAnswer::ignore;
    WORD wErrorCode = 0;
    const char* lpszError = ""; // a fixed text, never made of the request's bytes
    ServeRequest request;       // when accepted
};

// Judges one datagram that reached the listening port. Never reads past
// nLength.
//  - Fewer than 4 bytes: ignored (an ERROR in answer would be larger than
//    what provoked it, a gift to anyone spoofing a source address).
//  - DATA, ACK, ERROR and OACK: ignored. They belong to a transfer, and a
//    server that answers them can be drawn into an endless exchange with
//    another one.
//  - Any other opcode but RRQ and WRQ: ERROR 4.
//  - A name or mode without its zero byte: ERROR 4. A name over TFTP_MAX_NAME
//    bytes: ERROR 2. Mode "mail" (RFC 1350 calls it obsolete) or any other
//    than octet and netascii, in any case: ERROR 4.
//  - Options are "name\0value\0" pairs; names compare without regard to case.
//    An option named twice counts as first named; later namings are ignored.
//    A last pair cut short ends the list; the options before it stand.
ServeRequestVerdict ParseServeRequest(const BYTE* pDatagram, int nLength);

// The server's caps, from its settings. Outside the protocol's ranges they
// are brought into them (MaxWindowSize into 1 to TFTP_MAX_WINDOW_SIZE).
struct ServeLimits {
    int nMaxBlockSize = TFTP_DEFAULT_BLOCK_SIZE;
    int nMaxWindowSize = TFTP_MAX_WINDOW_SIZE;
};

struct ServeGrant {
    // 0, or TFTP_ERROR_DISK_FULL for a write request whose tsize is more than
    // the room for it: refused before any data.
    WORD wErrorCode = 0;
    TftpGranted granted;                 // what the transfer runs with
    TftpOption order[TFTP_OPTION_COUNT]; // the options the OACK names, in the order asked
    int nOrder = 0;                      // 0: no OACK (DATA 1 or ACK 0 answers)
};

// Grants what the request asked within the protocol's ranges and the caps:
// blksize 8 to 65464, lowered to MaxBlockSize; windowsize 1 to 65535, lowered
// to MaxWindowSize; timeout 1 to 255 as asked. A value out of range or not a
// number leaves its option out; it is not refused. tsize: a read request is
// told nSize, the file's size on the wire (in netascii, with its line ends
// translated), unless that is 0 (curl takes "tsize 0" in an OACK for an
// invalid answer and gives up; an empty file needs no size, and a caller
// that has not counted a netascii size passes 0). A write request's tsize is
// echoed, and refused with ERROR 3 when above nSize, the room it may fill
// (UploadRoom).
ServeGrant NegotiateServeOptions(const ServeRequest& request, const ServeLimits& limits, ULONGLONG nSize);

// The room an upload may fill: the free bytes less 1% of the file system's
// size, kept back so that uploads never fill the disk.
ULONGLONG UploadRoom(ULONGLONG nFreeBytes, ULONGLONG nTotalBytes);

// What grant's OACK names, as the log shows it: "blksize 1468, tsize 1000",
// in the order asked; empty when it names nothing.
std::string ServeGrantText(const ServeGrant& grant);

// Writes the OACK for grant: each option it names once, in lower case, in
// the order asked. Returns its length, or 0 when grant names nothing or
// nCapacity is less than it needs (TFTP_MAX_OACK always suffices).
int BuildOack(BYTE* pBuffer, int nCapacity, const ServeGrant& grant);
