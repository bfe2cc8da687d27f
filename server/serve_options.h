// SPDX-License-Identifier: MIT
// tarnwick-serve's command line:
//   tarnwick-serve DIR [--listen ADDRESS]... [--port N] [--allow-upload] [--allow-create]
//       [--allow-replace] [--max-transfers N] [--max-per-client N] [--max-blksize N]
//       [--max-windowsize N] [--ignore-case] [--any-network] [--log-format text|json]
//       [--require-confinement] [--netboot [--http-port N] [--boot-file ARCH=NAME]...]
//   tarnwick-serve --help | --version
// Only the command line decides; no settings file is read.
#pragma once

#include <string>
#include <vector>

#include "server/proxy_dhcp.h"
#include "server/server.h"

struct ServeOptions {
    ServeConfig config;        // the folder made absolute; listen holds each --listen with the port
    bool bListenGiven = false; // --listen or --port was given
    bool bJson = false;        // --log-format json
    bool bRequireConfinement = false;
    // --netboot: the proxy DHCP and HTTP beside TFTP, on the one --listen
    // address (IPv4), on the interface that holds it.
    bool bNetboot = false;
    std::string netbootInterface;
    UINT nHttpPort = 8069;  // --http-port
    NetbootFiles bootFiles; // --boot-file ARCH=NAME
};

// Reads argv. Returns -1 when the server is to run with *pOptions; otherwise
// the exit status, with *pSay holding what to print: the help or the version
// (status 0, standard output) or one line naming the mistake (status 2,
// standard error). The folder must exist and be a folder.
int ParseServeOptions(int argc, const char* const* argv, ServeOptions* pOptions, std::string* pSay);

// The first line of output: the folder, every address and port listened on,
// and what is allowed, e.g. "Serving /srv/tftp on 0.0.0.0 port 69 and ::
// port 69, read-only".
std::string ServingLine(const ServeConfig& config, const std::vector<sockaddr_storage>& addresses);
