// SPDX-License-Identifier: MIT
#include "winapp.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QIcon>
#include <QUrl>

#include "dialog.h"
#include "help_window.h"
#include "platform/core/msgbox.h"
#include "program_end.h"
#include "qt_host_resolver.h"
#include "qt_msgbox.h"
#include "qt_socket_watcher.h"
#include "res/resource.h"
#include "res/strings.h"

namespace {
CWinApp* g_pApp = nullptr;

std::string ProgramPath()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    return std::string(path, static_cast<size_t>(length));
}
} // namespace

CWinApp::CWinApp(const char* lpszAppName)
{
    if (lpszAppName != nullptr)
        m_strAppName = lpszAppName;
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    // A global application object outlives Qt, which took its windows along.
    if (QCoreApplication::instance() != nullptr)
        CloseHelp();
    if (g_pApp == this)
        g_pApp = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    CloseHelp();
    return 0;
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

std::string AfxAppTitleFromPath(const std::string& path)
{
    std::string name = path.substr(path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

std::string AfxGetAppTitle()
{
    if (g_pApp != nullptr && !g_pApp->m_strAppName.empty())
        return g_pApp->m_strAppName;
    return AfxAppTitleFromPath(QCoreApplication::arguments().value(0).toStdString());
}

QIcon AfxLoadIcon(UINT nID)
{
    QIcon icon;
    for (const char* size : {"16", "32", "48"})
        icon.addFile(QStringLiteral(":/icons/%1-%2.png").arg(nID).arg(QLatin1String(size)));
    return icon;
}

BOOL AfxSocketInit()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return FALSE;
    ::close(fd);
    return TRUE;
}

void CWinApp::OnHelp()
{
    // The main window's topic: its template number above 0x20000.
    DWORD topic = 0x20000 + IDD_MAIN;
    if (auto* main = dynamic_cast<CDialog*>(m_pMainWnd))
        topic = 0x20000 + main->GetTemplateID();
    WinHelp(topic);
}

QString AfxFindHelpFile()
{
    // Beside the program, or where an installation puts it: ../share/NAME/.
    const std::string program = ProgramPath();
    const std::string directory = program.substr(0, program.rfind('/') + 1);
    const std::string name = AfxAppTitleFromPath(program);
    for (const std::string& candidate :
         {directory + name + ".html", directory + "../share/" + name + "/" + name + ".html"}) {
        const QFileInfo info(QString::fromStdString(candidate));
        if (info.isFile())
            return info.canonicalFilePath();
    }
    return {};
}

void CWinApp::WinHelp(DWORD dwData)
{
    const QString file = AfxFindHelpFile();
    if (file.isEmpty()) {
        AfxMessageBox(AFX_IDP_FAILED_TO_LAUNCH_HELP, MB_OK);
        return;
    }
    // A window outside the modal run in front takes no input while it lasts.
    QWidget* owner = QApplication::activeModalWidget();
    if (auto* main = dynamic_cast<CDialog*>(m_pMainWnd); owner == nullptr && main != nullptr)
        owner = main->GetSafeHwnd();
    if (m_pHelp == nullptr) {
        m_pHelp = new CHelpWindow(owner);
        m_pHelp->setWindowIcon(AfxLoadIcon(IDI_TARNWICK));
    } else if (m_pHelp->parentWidget() != owner) {
        m_pHelp->setParent(owner, Qt::Window);
    }
    m_pHelp->setWindowTitle(QString::fromStdString(AfxGetAppTitle() + " Help"));
    QUrl url = QUrl::fromLocalFile(file);
    url.setFragment(QStringLiteral("ctx-%1").arg(dwData));
    m_pHelp->ShowTopic(url);
}

CHelpWindow* CWinApp::GetHelpWindow() const
{
    return m_pHelp;
}

void CWinApp::CloseHelp()
{
    delete m_pHelp.data();
}

namespace {
// Runs the application; *pEndSignal is the signal that ended it, if one did.
int RunApplication(int argc, char** argv, int* pEndSignal)
{
    // Qt's own event dispatcher: the GLib one costs more per wake-up, and a
    // transfer wakes the loop once per block. A user's setting stands.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication application(argc, argv);
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return 1;
    if (app->m_strAppName.empty())
        app->m_strAppName = AfxAppTitleFromPath(argc > 0 ? argv[0] : "");
    QApplication::setApplicationName(QString::fromStdString(app->m_strAppName));
    QApplication::setWindowIcon(AfxLoadIcon(IDI_TARNWICK));

    CQtSocketWatcher watcher;
    CQtHostResolver resolver;
    CQtMessageBoxHandler boxes;
    CProgramEndWatcher end;
    int result = 0;
    if (app->InitInstance())
        result = QApplication::exec();
    const int exitCode = app->ExitInstance();
    *pEndSignal = end.EndSignal();
    return result != 0 ? result : exitCode;
}
} // namespace

int AfxWinMain(int argc, char** argv)
{
    int endSignal = 0;
    const int result = RunApplication(argc, argv, &endSignal);
    // Ended by a signal, after the clean-up: the parent (a shell, a session
    // manager) learns so as it expects, from the signal itself.
    if (endSignal != 0)
        std::raise(endSignal);
    return result;
}
