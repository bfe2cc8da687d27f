// SPDX-License-Identifier: MIT
// The program's command line:
//   tarnwick [--get | --put LOCAL-FILE] [HOST[:PORT] [REMOTE-FILE]]
//   tarnwick --serve DIR [--listen ADDRESS] [--port N] [--allow-upload] [--allow-create]
//   tarnwick --help | --version
#pragma once

#include <string>

struct CommandLine {
    std::string host;    // fills the Remote Host box
    std::string remote;  // fills the Remote File box
    std::string putFile; // --put: the local file, chosen in its directory
    bool bGet = false;   // --get
    bool Starts() const { return bGet || !putFile.empty(); }

    // --serve: the folder to serve at once, and what the command line says
    // beyond the settings file (which it wins over).
    std::string serveFolder{};
    std::string listen{}; // --listen; empty: as the settings say
    int nPort = 0;        // --port; 0: as the settings say
    bool bAllowUpload = false;
    bool bAllowCreate = false;
    bool Serves() const { return !serveFolder.empty(); }
};

// Reads the arguments. Returns -1 when the window is to run with *pLine;
// otherwise the program's exit status, with what it had to say printed
// (help and version on standard output, a mistake on standard error). Needs
// no display.
int ParseCommandLine(int argc, char** argv, CommandLine* pLine);
