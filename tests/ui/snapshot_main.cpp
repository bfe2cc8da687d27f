// Takes a picture of each dialog, as the program builds it, on whatever Qt
// platform it runs on (offscreen without a display), and writes them as
// PNG files into the folder given (default: the current one).
#include <cstdio>
#include <string>

#include <QApplication>
#include <QDialog>
#include <QPixmap>

#include "platform/qt/dialog.h"
#include "platform/qt/qt_socket_watcher.h"
#include "res/resource.h"
#include "ui/transfer_dlg.h"

namespace {

bool Save(CDialog& dialog, const std::string& path)
{
    QDialog* window = dialog.GetSafeHwnd();
    window->show();
    QApplication::processEvents();
    const bool saved = window->grab().save(QString::fromStdString(path));
    std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "could not write", path.c_str(), window->width(),
                window->height());
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    CQtSocketWatcher watcher;
    const std::string folder = argc > 1 ? std::string(argv[1]) + "/" : std::string();

    bool ok = true;
    CTransferDlg main;
    ok = main.Create(IDD_MAIN) && Save(main, folder + "main.png") && ok;
    CDialog about(IDD_ABOUT);
    ok = about.Create(IDD_ABOUT) && Save(about, folder + "about.png") && ok;
    CDialog log(IDD_LOG);
    ok = log.Create(IDD_LOG) && Save(log, folder + "log.png") && ok;
    return ok ? 0 : 1;
}
