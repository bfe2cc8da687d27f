// SPDX-License-Identifier: MIT
// What the Serve window checks before it starts the server.
#pragma once

#include <string>

// Why folder cannot be served, for the user: none chosen, it does not exist,
// it is not a folder, or this user cannot read it (and why); empty when it
// can be served.
std::string ServeFolderProblem(const std::string& folder);
// The same for the system's error nErrno from opening it.
std::string ServeFolderProblemText(const std::string& folder, int nErrno);

// What a device is told to type (U-Boot) to fetch from address on nPort:
// "setenv serverip 192.0.2.2", with "; setenv tftpdstp 6969" when the port
// is not 69. A link-local address goes without this computer's zone, which
// means nothing on the device.
std::string ServeHint(const std::string& address, bool bIpv6, int nPort);
// address without its zone ("fe80::1" of "fe80::1%eth0").
std::string WithoutZone(const std::string& address);
