// SPDX-License-Identifier: MIT
// Takes a picture of each dialog, as the program builds it, on whatever Qt
// platform it runs on (offscreen without a display), and writes them as
// PNG files into the folder given (default: the current one). With --demo
// the main window is shown in use: a host and a remote file typed, a local
// file chosen (the README's picture).
#include <cstdio>
#include <string>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/qt/dialog.h"
#include "platform/qt/qt_socket_watcher.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/about_box.h"
#include "ui/log_dlg.h"
#include "ui/options_dlg.h"
#include "ui/serve_dlg.h"
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

// The main window as a transfer leaves it: its end, its figures and its bar.
class CEndedDlg : public CTransferDlg {
public:
    void ShowEnd(UINT nIDHow, UINT nIDCaptions, ULONGLONG nSize, ULONGLONG nBytes, ULONGLONG nRate)
    {
        SetDlgItemText(IDC_STATUS_LABELS, AfxLoadString(nIDCaptions));
        m_strStatus = AfxLoadString(nIDHow);
        m_dwFileSize = nSize;
        m_dwBytes = nBytes;
        m_dwRate = nRate;
        m_meter.Start(0);
        m_meter.SetRange(nSize, 512);
        m_meter.Advance(nBytes / 512);
        ShowProgress();
        UpdateStatus();
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    CQtSocketWatcher watcher;
    const bool demo = argc > 1 && std::string(argv[1]) == "--demo";
    const int folderArg = demo ? 2 : 1;
    const std::string folder = argc > folderArg ? std::string(argv[folderArg]) + "/" : std::string();

    bool ok = true;
    CTransferDlg main;
    ok = main.Create(IDD_MAIN) && ok;
    if (demo) {
        qobject_cast<QLineEdit*>(main.GetDlgItem(IDC_REMOTE_HOST))->setText("192.0.2.10");
        qobject_cast<QLineEdit*>(main.GetDlgItem(IDC_REMOTE_FILE))->setText("core-r1.cfg");
        if (auto* files = qobject_cast<QListWidget*>(main.GetDlgItem(IDC_FILE_LIST)); files->count() > 0)
            files->setCurrentRow(0);
    }
    ok = Save(main, folder + "main.png") && ok;
    CAboutBox about;
    ok = about.Create(IDD_ABOUT) && Save(about, folder + "about.png") && ok;
    // The log window as the system menu shows it, with a transfer's lines.
    main.SendMessage(WM_SYSCOMMAND, IDM_LOG_WINDOW, 0);
    g_pLogDlg->LogLine("Read request for \"firmware.bin\" (octet) sent to 192.0.2.10 port 69");
    g_pLogDlg->LogLine("Server answers from 192.0.2.10 port 50123");
    g_pLogDlg->LogLine("Transfer complete: 4194304 bytes in 3 s, 11184810 bps");
    ok = Save(*g_pLogDlg, folder + "log.png") && ok;
    COptionsDlg options;
    ok = options.Create(IDD_OPTIONS) && Save(options, folder + "options.png") && ok;

    // How transfers end: a Get complete, a Put aborted a quarter of the way.
    // The program has one main window (and one log window) at a time.
    main.DestroyWindow();
    CEndedDlg ended;
    ok = ended.Create(IDD_MAIN) && ok;
    qobject_cast<QLineEdit*>(ended.GetDlgItem(IDC_REMOTE_HOST))->setText("192.0.2.10");
    qobject_cast<QLineEdit*>(ended.GetDlgItem(IDC_REMOTE_FILE))->setText("firmware.bin");
    ended.ShowEnd(IDS_COMPLETE, IDS_GET_CAPTIONS, 4194304, 4194304, 11184810);
    ok = Save(ended, folder + "main-get-complete.png") && ok;
    ended.ShowEnd(IDS_ABORTED, IDS_PUT_CAPTIONS, 20971520, 5242880, 93206755);
    ok = Save(ended, folder + "main-put-aborted.png") && ok;
    // The window's menu, as its button opens it.
    if (QMenu* menu = ended.GetSystemMenu(FALSE)->GetQMenu(); menu != nullptr) {
        QWidget* button = ended.GetDlgItem(IDC_MENU_BUTTON);
        menu->popup(button->mapToGlobal(button->rect().bottomLeft()));
        QApplication::processEvents();
        const bool saved = menu->grab().save(QString::fromStdString(folder + "menu.png"));
        std::printf("%s %smenu.png\n", saved ? "wrote" : "could not write", folder.c_str());
        menu->hide();
        ok = saved && ok;
    }
    // The Serve window at its smallest, serving a folder of long names, with
    // the rows of ten requests made with curl (where it is at hand): reads,
    // a name that is a folder, one that differs in case, one missing, and
    // uploads that the boxes refuse. Then larger, as the README shows it.
    QTemporaryDir served;
    const auto put = [&served](const QString& name, int size) {
        QDir(served.path()).mkpath(QFileInfo(served.filePath(name)).path());
        QFile file(served.filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(size, 'u'));
    };
    const QString zephyr = QStringLiteral("zephyr-nrf52840dk-bootloader-v2.4.1-signed.bin");
    const QString uboot = QStringLiteral("u-boot-sunxi-with-spl-orangepi-zero2-v2023.10.bin");
    put(zephyr, 300000);
    put(uboot, 150000);
    put(QStringLiteral("pxelinux.cfg/default"), 900);
    put(QStringLiteral("Boot/BCD"), 12000);
    put(QStringLiteral("board-config.txt"), 300);
    CServeDlg serve;
    ok = serve.Create(IDD_SERVE) && ok;
    serve.SetServeProgram(TARNWICK_SERVE_PATH);
    ServeSettings settings;
    settings.folder = served.path().toStdString();
    settings.listen = "127.0.0.1";
    settings.nPort = 16969;
    settings.bAllowUpload = true;
    serve.Apply(settings, true);
    QElapsedTimer started;
    started.start();
    while (serve.ServingSummary().empty() && serve.IsServing() && started.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    const QString url = QStringLiteral("tftp://127.0.0.1:16969/");
    const QString upload = served.filePath(QStringLiteral("board-config.txt"));
    const QStringList requests[] = {
        {url + zephyr},
        {url + uboot},
        {url + QStringLiteral("pxelinux.cfg")},
        {url + QStringLiteral("pxelinux.cfg/default")},
        {url + QStringLiteral("boot/bcd")},
        {url + QStringLiteral("missing-kernel.img")},
        {QStringLiteral("-T"), upload, url + QStringLiteral("new-config.txt")},
        {QStringLiteral("--tftp-blksize"), QStringLiteral("1468"), url + zephyr},
        {QStringLiteral("-T"), upload, url + QStringLiteral("board-config.txt")},
        {url + uboot},
    };
    for (const QStringList& request : requests) {
        QProcess curl;
        curl.start(QStringLiteral("curl"),
                   QStringList{QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null")} + request);
        while (curl.state() != QProcess::NotRunning)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    serve.GetSafeHwnd()->resize(serve.GetSafeHwnd()->minimumSize());
    ok = Save(serve, folder + "serve-smallest.png") && ok;
    serve.GetSafeHwnd()->resize(1440, serve.GetSafeHwnd()->minimumSize().height());
    ok = Save(serve, folder + "serve.png") && ok;
    return ok ? 0 : 1;
}
