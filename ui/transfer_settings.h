// SPDX-License-Identifier: MIT
// The transfer options kept between runs: QSettings' native file, organisation
// and application "Tarnwick" ($XDG_CONFIG_HOME/Tarnwick/Tarnwick.conf on
// Linux), group [Options], keys Negotiate, BlockSize, WindowSize,
// AskFileSize and Timeout. An administrator may seed the file.
#pragma once

#include "engine/tftp_options.h"
#include "engine/transfer_log.h"

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
