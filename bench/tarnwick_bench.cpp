// SPDX-License-Identifier: MIT
// One Get or Put through Tarnwick's real window, on Qt's offscreen platform or
// on an X display: the dialog, its handlers, the posted messages, the socket
// notifier and the timer, exactly as the program runs a transfer, with the
// confirmation answered. For timing by bench/compare.sh.
//
//   tarnwick_bench [--platform offscreen|xcb] [--options BLKSIZE:WINDOW] get HOST[:PORT] REMOTE
//   tarnwick_bench [--platform offscreen|xcb] [--options BLKSIZE:WINDOW] put HOST[:PORT] LOCALPATH REMOTE
//
// Gets go into the current directory. Without --options the transfer is
// plain RFC 1350, whatever the user's own settings say.
//
// Exit status 0 when the transfer completed, 1 otherwise; any message other
// than the confirmation goes to standard error. With TARNWICK_BENCH_PHASES
// set to a file, one line is appended to it:
//
//   startup_ms steady_ms blocks end_ms transfer_ms
//
// startup: from the process's start to the first block; steady: from the
// first block to the last but one; end: the last block, which for a Get
// includes making the file durable and putting it in place; transfer: from
// the click on the button to the transfer's end, what a user waits for once
// the window is up.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Ends the run when the window goes idle again, and notes when the blocks
// went by. The posted progress message of a block is handled right after it.
class CBenchDlg : public CTransferDlg {
public:
    bool completed = false;
    unsigned long long blocks = 0;
    Clock::time_point first{};
    Clock::time_point lastButOne{};
    Clock::time_point last{};
    Clock::time_point clicked{};
    Clock::time_point ended{};

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_TFTP_PROGRESS) {
            const Clock::time_point now = Clock::now();
            if (blocks++ == 0)
                first = now;
            lastButOne = last;
            last = now;
        }
        const LRESULT result = CTransferDlg::WindowProc(message, wParam, lParam);
        if (message == WM_TFTP_COMPLETE || message == WM_TFTP_FAILED || message == WM_TFTP_TIMEOUT) {
            completed = message == WM_TFTP_COMPLETE;
            ended = Clock::now();
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        }
        return result;
    }
};

int Usage()
{
    std::fprintf(stderr, "usage: tarnwick_bench [--platform offscreen|xcb] [--options BLKSIZE:WINDOW] get HOST[:PORT] "
                         "REMOTE\n"
                         "       tarnwick_bench [--platform offscreen|xcb] [--options BLKSIZE:WINDOW] put HOST[:PORT] "
                         "LOCALPATH REMOTE\n");
    return 2;
}

void WritePhases(const CBenchDlg& dlg, Clock::time_point start)
{
    const char* path = std::getenv("TARNWICK_BENCH_PHASES");
    if (path == nullptr || dlg.blocks < 2)
        return;
    if (FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%.2f %.2f %llu %.2f %.2f\n", Milliseconds(dlg.first - start),
                     Milliseconds(dlg.lastButOne - dlg.first), dlg.blocks - 2, Milliseconds(dlg.last - dlg.lastButOne),
                     Milliseconds(dlg.ended - dlg.clicked));
        std::fclose(file);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const Clock::time_point start = Clock::now();
    const char* platform = "offscreen";
    const char* options = nullptr; // "BLKSIZE:WINDOWSIZE"
    while (argc > 2 && (std::strcmp(argv[1], "--platform") == 0 || std::strcmp(argv[1], "--options") == 0)) {
        (std::strcmp(argv[1], "--platform") == 0 ? platform : options) = argv[2];
        argv[2] = argv[0];
        argc -= 2;
        argv += 2;
    }
    if (argc < 4)
        return Usage();
    const std::string direction = argv[1];
    if ((direction != "get" || argc != 4) && (direction != "put" || argc != 5))
        return Usage();

    qputenv("QT_QPA_PLATFORM", platform);
    // Settings of its own, so that the user's options never change what is
    // measured: a plain transfer.
    char config[] = "/tmp/tarnwick-bench-config-XXXXXX";
    if (::mkdtemp(config) == nullptr)
        return 1;
    qputenv("XDG_CONFIG_HOME", config);
    if (options != nullptr) {
        // The options as a user sets them: in the settings file.
        int blockSize = 0;
        int windowSize = 0;
        if (std::sscanf(options, "%d:%d", &blockSize, &windowSize) != 2)
            return Usage();
        const std::string directory = std::string(config) + "/Tarnwick";
        ::mkdir(directory.c_str(), 0700);
        if (FILE* file = std::fopen((directory + "/Tarnwick.conf").c_str(), "w")) {
            std::fprintf(file, "[Options]\nNegotiate=true\nBlockSize=%d\nWindowSize=%d\nAskFileSize=true\n", blockSize,
                         windowSize);
            std::fclose(file);
        }
    }
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
    dlg.clicked = Clock::now();
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(direction == "get" ? IDC_GET : IDC_PUT, BN_CLICKED), 0);
    dlg.ShowWindow(SW_SHOW); // painted as a user sees it
    QApplication::exec();
    WritePhases(dlg, start);
    dlg.DestroyWindow();
    std::error_code ignored;
    std::filesystem::remove_all(config, ignored);
    return dlg.completed && !boxes.failed ? 0 : 1;
}
