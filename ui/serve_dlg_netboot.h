// SPDX-License-Identifier: MIT
// Network boot from the Serve window: what group [Netboot] of the settings
// file asks (read only: the window never writes it), the arguments that adds
// to tarnwick-serve's, and the firewall commands that let the boot through.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "protocol/transfer_log.h"

struct NetbootSettings {
    int nHttpPort = 8069; // HttpPort, 1 to 65535
    // BiosFile, UefiX64File, UefiIa32File, UefiArm64File, IpxeScript, as
    // --boot-file takes them ("uefi-x64", "snponly.efi"): only the keys set.
    std::vector<std::pair<std::string, std::string>> bootFiles;
};

// Reads [Netboot]. A bad value keeps its default, with one line to pLog.
NetbootSettings AfxLoadNetbootSettings(ITransferLog* pLog = nullptr);
// --netboot, --http-port N and a --boot-file ARCH=NAME for each file set.
std::vector<std::string> NetbootArguments(const NetbootSettings& settings);
// The network interface that holds listen when it is one IPv4 address of this
// machine (network boot answers on that interface only); "" otherwise.
std::string NetbootInterface(const std::string& listen);

struct FirewallHint {
    std::string text;    // as the list shows it
    std::string command; // what Copy hint copies
};
// The ufw and the firewalld commands that open the ports network boot uses:
// UDP 67 and 4011, the TFTP port, and TCP for HTTP.
std::vector<FirewallHint> NetbootFirewallHints(int nTftpPort, int nHttpPort);

// Where Debian's ipxe package puts its boot files.
inline constexpr const char* kIpxeFiles = "/usr/lib/ipxe";
// The boot files network boot names (settings' or tarnwick-serve's
// defaults) that folder lacks and source has; plain names only.
std::vector<std::string> MissingBootFiles(const std::string& folder, const NetbootSettings& settings,
                                          const std::string& source = kIpxeFiles);
// Copies names from source into folder, never over a file there; "" when
// all were copied, else what went wrong.
std::string CopyBootFiles(const std::string& folder, const std::vector<std::string>& names,
                          const std::string& source = kIpxeFiles);
// The iPXE script fetched after the boot file (settings' or "boot.ipxe"),
// when a plain name.
std::string IpxeScriptName(const NetbootSettings& settings);
// Writes a starter script name into folder, never over a file there: it
// shows the machine's address and opens iPXE's shell. "" or what went wrong.
std::string WriteStarterScript(const std::string& folder, const std::string& name);
