// SPDX-License-Identifier: MIT
#include "command_line.h"
#include "platform/qt/winapp.h"
#include "transfer_app.h"

// The one application object, as the framework expects.
CTransferApp theApp;

int main(int argc, char** argv)
{
    // --help, --version and mistakes end here, without a display.
    if (const int status = ParseCommandLine(argc, argv, &theApp.m_commandLine); status >= 0)
        return status;
    return AfxWinMain(argc, argv);
}
