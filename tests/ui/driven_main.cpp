// SPDX-License-Identifier: MIT
// The real program (its application object, entry and main window) with a
// Get started as a user would: the host and remote name typed, Get pressed,
// the confirmation (and overwrite) question answered OK. A box that only
// informs is printed to standard error. For the tests of how the program ends.
//
//   tarnwick_driven HOST[:PORT] REMOTE      (into the current directory)
//   tarnwick_driven OPTIONS...              (the program's command line starts
//                                            it; every box is printed; the
//                                            program ends with the transfer)
#include <cstdio>
#include <string>

#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTimer>

#include "platform/core/msgbox.h"
#include "platform/qt/winapp.h"
#include "res/resource.h"
#include "ui/command_line.h"
#include "ui/transfer_app.h"
#include "ui/transfer_dlg.h"

namespace {

bool g_bOwnCommandLine = false;

class CAnswerer : public IMessageBoxHandler {
public:
    CAnswerer() : m_pPrevious(AfxSetMessageBoxHandler(this)) {}
    ~CAnswerer() override { AfxSetMessageBoxHandler(m_pPrevious); }
    CAnswerer(const CAnswerer&) = delete;
    CAnswerer& operator=(const CAnswerer&) = delete;

    int Show(std::string_view text, UINT nType) override
    {
        if ((nType & MB_TYPEMASK) == MB_OK || g_bOwnCommandLine)
            std::fprintf(stderr, "box: %.*s\n", static_cast<int>(text.size()), text.data());
        return IDOK;
    }

private:
    IMessageBoxHandler* m_pPrevious;
};

class CDrivenApp : public CTransferApp {
public:
    BOOL InitInstance() override
    {
        CAnswerer answerer;
        // Runs inside the main window's modal loop, once it has begun.
        QTimer::singleShot(0, [this] {
            auto* dlg = dynamic_cast<CTransferDlg*>(m_pMainWnd);
            if (dlg != nullptr && g_bOwnCommandLine) {
                auto* watch = new QTimer(dlg->GetSafeHwnd());
                QObject::connect(watch, &QTimer::timeout, [dlg] {
                    const std::string status = dlg->GetDlgItemText(IDC_STATUS_VALUES);
                    if (status.starts_with("Complete") || status.starts_with("Failed"))
                        dlg->EndDialog(IDOK);
                });
                watch->start(20);
                return;
            }
            const QStringList arguments = QCoreApplication::arguments();
            if (dlg == nullptr || arguments.size() != 3)
                return;
            qobject_cast<QLineEdit*>(dlg->GetDlgItem(IDC_REMOTE_HOST))->setText(arguments[1]);
            qobject_cast<QLineEdit*>(dlg->GetDlgItem(IDC_REMOTE_FILE))->setText(arguments[2]);
            dlg->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_GET, BN_CLICKED), 0);
        });
        return CTransferApp::InitInstance();
    }
};

CDrivenApp theApp;

} // namespace

int main(int argc, char** argv)
{
    g_bOwnCommandLine = argc > 1 && argv[1][0] == '-';
    if (const int status = g_bOwnCommandLine ? ParseCommandLine(argc, argv, &theApp.m_commandLine) : -1; status >= 0)
        return status;
    return AfxWinMain(argc, argv);
}
