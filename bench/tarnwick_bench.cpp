// One Get or Put through Tarnwick's real window on Qt's offscreen platform:
// the dialog, its handlers, the posted messages, the socket notifier and the
// timer, exactly as the program runs a transfer, with the confirmation
// answered. For timing by bench/compare.sh.
//
//   tarnwick_bench get HOST[:PORT] REMOTE           (into the current directory)
//   tarnwick_bench put HOST[:PORT] LOCALPATH REMOTE
//
// Exit status 0 when the transfer completed, 1 otherwise; any message other
// than the confirmation goes to standard error.
#include <unistd.h>

#include <cstdio>
#include <string>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include "platform/core/msgbox.h"
#include "platform/qt/qt_socket_watcher.h"
#include "res/resource.h"
#include "ui/transfer_dlg.h"

namespace {

// Says yes to the confirmation; any other box is a failure.
class CAnswerer : public IMessageBoxHandler {
public:
    CAnswerer() : m_pPrevious(AfxSetMessageBoxHandler(this)) {}
    ~CAnswerer() override { AfxSetMessageBoxHandler(m_pPrevious); }
    int Show(std::string_view text, UINT nType) override
    {
        if ((nType & MB_ICONMASK) != MB_ICONQUESTION) {
            std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
            failed = true;
        }
        return IDOK;
    }
    bool failed = false;

private:
    IMessageBoxHandler* m_pPrevious;
};

// Ends the run when the window goes idle again.
class CBenchDlg : public CTransferDlg {
public:
    bool completed = false;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        const LRESULT result = CTransferDlg::WindowProc(message, wParam, lParam);
        if (message == WM_TFTP_COMPLETE || message == WM_TFTP_FAILED || message == WM_TFTP_TIMEOUT) {
            completed = message == WM_TFTP_COMPLETE;
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        }
        return result;
    }
};

int Usage()
{
    std::fprintf(stderr, "usage: tarnwick_bench get HOST[:PORT] REMOTE\n"
                         "       tarnwick_bench put HOST[:PORT] LOCALPATH REMOTE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return Usage();
    const std::string direction = argv[1];
    if ((direction != "get" || argc != 4) && (direction != "put" || argc != 5))
        return Usage();

    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_NO_GLIB", "1"); // as the program itself runs
    QApplication application(argc, argv);
    CQtSocketWatcher watcher;
    CAnswerer boxes;
    CBenchDlg dlg;

    if (direction == "put") {
        // Choose the file in the file list, as a user does.
        const std::string path = argv[3];
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos && ::chdir(path.substr(0, slash + 1).c_str()) != 0)
            return Usage();
    }
    if (!dlg.Create(IDD_MAIN))
        return 1;
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_HOST))->setText(QString::fromUtf8(argv[2]));
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_FILE))
        ->setText(QString::fromUtf8(argv[direction == "put" ? 4 : 3]));
    if (direction == "put") {
        auto* files = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_FILE_LIST));
        const std::string path = argv[3];
        const auto found = files->findItems(QString::fromStdString(path.substr(path.rfind('/') + 1)), Qt::MatchExactly);
        if (found.size() != 1)
            return Usage();
        files->setCurrentItem(found[0]);
    }
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(direction == "get" ? IDC_GET : IDC_PUT, BN_CLICKED), 0);
    QApplication::exec();
    dlg.DestroyWindow();
    return dlg.completed && !boxes.failed ? 0 : 1;
}
