// SPDX-License-Identifier: MIT
// The application: starts the socket layer and runs the main window.
#pragma once

#include "command_line.h"
#include "platform/qt/winapp.h"

class CTransferApp : public CWinApp {
public:
    // Its message boxes and help window are titled "Tarnwick", whatever the
    // program file is called.
    CTransferApp() : CWinApp("Tarnwick") {}

    // Runs the main window modally for the life of the program; always FALSE,
    // so the program ends when the window closes.
    BOOL InitInstance() override;

    // What the command line asks of the window.
    CommandLine m_commandLine;
};
