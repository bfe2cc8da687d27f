// The application: starts the socket layer and runs the main window.
#pragma once

#include "platform/qt/winapp.h"

class CTransferApp : public CWinApp {
public:
    CTransferApp() = default;

    // Runs the main window modally for the life of the program; always FALSE,
    // so the program ends when the window closes.
    BOOL InitInstance() override;
};
