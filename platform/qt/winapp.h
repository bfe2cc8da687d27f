// SPDX-License-Identifier: MIT
// The application object, start-up and the services that belong to no window.
#pragma once

#include <string>

#include <QPointer>

#include "platform/core/afxtypes.h"

class CHelpWindow;
class CWnd;
class QIcon;
class QString;

class CWinApp {
public:
    // The one application object; a program defines it as a global.
    explicit CWinApp(const char* lpszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Runs once the platform is up. FALSE ends the program without entering
    // the event loop.
    virtual BOOL InitInstance();
    virtual int ExitInstance();

    // Shows the help file's topic for the main window (AfxFindHelpFile)
    // at the anchor "ctx-" and the topic number. A missing file gives
    // "Failed to launch help.".
    void OnHelp();
    // Shows topic dwData. The help window belongs to the window in front
    // that runs modally, else to the main window, so that it takes input
    // while their modal runs last; it closes with the window it belongs to.
    void WinHelp(DWORD dwData);
    // Closes the help window, if one is open.
    void CloseHelp();
    // The help window; null until help is asked for, and after CloseHelp.
    CHelpWindow* GetHelpWindow() const;

    // The title of message boxes: the program file's name without extension.
    std::string m_strAppName;
    CWnd* m_pMainWnd = nullptr;

private:
    // Cleared by Qt when the window it belongs to deletes it.
    QPointer<CHelpWindow> m_pHelp;
};

CWinApp* AfxGetApp();
std::string AfxGetAppTitle();

// The program's entry: brings up Qt, the socket watcher, the message-box
// service and the watch for the program's end (signals, the main window
// destroyed from outside), then runs the application object's InitInstance.
// A program ended by SIGTERM, SIGINT or SIGHUP cleans up, then ends by that
// signal.
int AfxWinMain(int argc, char** argv);

// Succeeds when the system lets the program make a UDP socket.
BOOL AfxSocketInit();

// The help file: NAME.html beside the program, else ../share/NAME/NAME.html
// from the program's directory; empty when there is none.
QString AfxFindHelpFile();

// Icon nID of the program's resources.
QIcon AfxLoadIcon(UINT nID);

// The program file's name without directory and extension.
std::string AfxAppTitleFromPath(const std::string& path);
