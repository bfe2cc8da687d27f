// SPDX-License-Identifier: MIT
// The settings kept between runs: QSettings' native file, organisation and
// application "Tarnwick" ($XDG_CONFIG_HOME/Tarnwick/Tarnwick.conf on Linux).
// Group [Options]: the transfer options, keys Negotiate, BlockSize,
// WindowSize, AskFileSize and Timeout. Group [Serve]: the served folder (see
// ServeSettings). An administrator may seed the file.
#pragma once

#include <string>

#include "protocol/options.h"
#include "protocol/transfer_log.h"

class QSettings;

// The settings file, for a window that keeps more of its own in it.
QSettings AfxOpenSettings();

struct TransferSettings {
    bool bNegotiate = false;
    int nBlockSize = TFTP_DEFAULT_BLOCK_SIZE; // IPv6 peers: TFTP_DEFAULT_BLOCK_SIZE_IPV6
    int nWindowSize = 16;
    bool bAskFileSize = true;
    int nTimeout = 0; // seconds; 0: not sent

    // What a request asks for: nothing unless options are negotiated.
    TftpOptions RequestOptions() const;
};

// The ranges a value must lie in.
bool IsValidBlockSize(long long nValue);
bool IsValidWindowSize(long long nValue);
bool IsValidTimeout(long long nValue); // 0 included: not sent

// Reads the settings. A value out of range, or not a number, is left at its
// default, and each such value is told in one line to pLog when given.
TransferSettings AfxLoadTransferSettings(ITransferLog* pLog = nullptr);
void AfxSaveTransferSettings(const TransferSettings& settings);

// How a folder is served, group [Serve]. The command line wins over it.
struct ServeSettings {
    std::string folder;             // Folder
    std::string listen;             // Listen: an address, with its zone where needed; empty: all of both families
    int nPort = 69;                 // Port, 1 to 65535
    bool bAllowUpload = false;      // AllowUpload
    bool bAllowCreate = false;      // AllowCreate: new files, with uploads on
    bool bReplaceExisting = false;  // ReplaceExisting: uploads over existing files
    bool bLocalNetworksOnly = true; // LocalNetworksOnly: no answer to other networks
    int nMaxTransfers = 64;         // MaxTransfers, 1 to 1024
    int nMaxPerClient = 8;          // MaxPerClient, 1 to 1024; a client is an address
    int nMaxBlockSize = TFTP_DEFAULT_BLOCK_SIZE; // MaxBlockSize, 8 to 65464; also capped by the MTU
    int nMaxWindowSize = TFTP_MAX_WINDOW_SIZE;   // MaxWindowSize, 1 to 64
    bool bBackslashIsSlash = true;               // BackslashIsSlash
    bool bIgnoreCase = false;                    // IgnoreCase
};

// Whether text is an address to listen on: empty (all), or an IPv4 or IPv6
// address in a form of the host box, without a port.
bool IsValidListenAddress(const std::string& text);

// Reads [Serve] as AfxLoadTransferSettings reads [Options]: a bad value
// keeps its default, with one line to pLog.
ServeSettings AfxLoadServeSettings(ITransferLog* pLog = nullptr);
void AfxSaveServeSettings(const ServeSettings& settings);
