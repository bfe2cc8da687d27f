// SPDX-License-Identifier: MIT
// The program's command line:
//   tarnwick [--get | --put LOCAL-FILE] [--ascii] [HOST[:PORT] [REMOTE-FILE]]
//   tarnwick --serve DIR [--listen ADDRESS] [--port N] [--allow-upload] [--allow-create] [--allow-replace]
//   tarnwick --help | --version
#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

#include "protocol/tftp.h"
#include "transfer_settings.h"

struct CommandLine {
    std::string host;    // fills the Remote Host box
    std::string remote;  // fills the Remote File box
    std::string putFile; // --put: the local file, chosen in its directory
    bool bGet = false;   // --get
    bool bAscii = false; // --ascii: that transfer in Ascii mode (netascii)
    bool Starts() const { return bGet || !putFile.empty(); }

    // --serve: the folder to serve at once (made absolute), and what the
    // command line asks. The settings file has no say in it.
    std::string serveFolder{};
    std::string listen{};                              // --listen; empty: every address of both families
    int nPort = static_cast<int>(TFTP_SERVER_PORT);    // --port
    bool bAllowUpload = false;                         // --allow-upload
    bool bAllowCreate = false;                         // --allow-create, only with --allow-upload
    bool bAllowReplace = false;                        // --allow-replace, only with --allow-upload
    int nMaxTransfers = ServeSettings{}.nMaxTransfers; // --max-transfers
    int nMaxPerClient = ServeSettings{}.nMaxPerClient; // --max-per-client
    bool Serves() const { return !serveFolder.empty(); }
    // How --serve serves: the built-in defaults with the command line's own
    // choices, and nothing of the settings file's [Serve] group.
    ServeSettings ServeChoices() const;
};

// Reads the arguments. Returns -1 when the window is to run with *pLine;
// otherwise the program's exit status, with what it had to say printed
// (help and version on standard output, a mistake on standard error). Needs
// no display.
int ParseCommandLine(int argc, char** argv, CommandLine* pLine);
