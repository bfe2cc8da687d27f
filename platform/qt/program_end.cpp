// SPDX-License-Identifier: MIT
#include "program_end.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QByteArray>
#include <QDialog>
#include <QSocketNotifier>
#include <QWidget>

#include "dialog.h"
#include "winapp.h"

namespace {

bool g_bEnding = false;

// The write end of the signal pipe; -1 while no watcher exists.
volatile sig_atomic_t g_nSignalPipe = -1;

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnEndSignal(int nSignal)
{
    // Only what is safe in a signal handler: one write, errno kept.
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(nSignal);
    if (g_nSignalPipe >= 0)
        (void)!::write(g_nSignalPipe, &number, 1);
    errno = savedErrno;
}

QWidget* MainWindow()
{
    CWinApp* app = AfxGetApp();
    auto* main = app != nullptr ? dynamic_cast<CDialog*>(app->m_pMainWnd) : nullptr;
    return main != nullptr ? main->GetSafeHwnd() : nullptr;
}

// The parts of X protocol events this file reads (the layouts are fixed by
// the protocol): a DestroyNotify names the destroyed window at offset 8; an
// error (type 0) names the resource it concerns at offset 4.
constexpr std::uint8_t kXDestroyNotify = 17;
constexpr std::uint8_t kXError = 0;

std::uint32_t Word32At(const void* pEvent, size_t nOffset)
{
    std::uint32_t value;
    std::memcpy(&value, static_cast<const char*>(pEvent) + nOffset, sizeof value);
    return value;
}

} // namespace

void AfxEndProgram()
{
    g_bEnding = true;
    // Menus and boxes run loops of their own inside the main window's: each
    // is ended, so that the main window's run can return.
    while (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    QWidget* main = MainWindow();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog != nullptr && dialog != main && dialog->isVisible() && dialog->isModal())
            dialog->done(QDialog::Rejected);
    }
    if (CWinApp* app = AfxGetApp(); app != nullptr) {
        if (auto* dialog = dynamic_cast<CDialog*>(app->m_pMainWnd))
            dialog->EndDialog(IDCANCEL);
    }
}

bool AfxIsProgramEnding()
{
    return g_bEnding;
}

class CProgramEndWatcher::CImpl : public QAbstractNativeEventFilter {
public:
    CImpl()
    {
        if (::pipe2(m_hPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        g_nSignalPipe = m_hPipe[1];
        m_pNotifier = std::make_unique<QSocketNotifier>(m_hPipe[0], QSocketNotifier::Read);
        QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [this] { OnSignalPipe(); });
        struct sigaction action {};
        action.sa_handler = OnEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : kEndSignals)
            ::sigaction(signal, &action, nullptr);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    ~CImpl() override
    {
        if (QCoreApplication::instance() != nullptr)
            QCoreApplication::instance()->removeNativeEventFilter(this);
        if (m_hPipe[0] < 0)
            return;
        for (int signal : kEndSignals)
            std::signal(signal, SIG_DFL);
        g_nSignalPipe = -1;
        m_pNotifier.reset();
        ::close(m_hPipe[0]);
        ::close(m_hPipe[1]);
    }

    // X events reach here before Qt handles them. Qt does not notice that
    // another client destroyed its window; the program's end does.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto type = static_cast<std::uint8_t>(*static_cast<const std::uint8_t*>(message) & 0x7F);
        if (type == kXDestroyNotify) {
            const QWidget* main = MainWindow();
            const WId window = main != nullptr ? main->internalWinId() : 0;
            if (window != 0 && Word32At(message, 8) == window) {
                m_nDestroyedWindow = window;
                AfxEndProgram();
            }
            return false;
        }
        // Qt still believes in the destroyed window: its last requests for it
        // fail, and are no news.
        return type == kXError && m_nDestroyedWindow != 0 && Word32At(message, 4) == m_nDestroyedWindow;
    }

    void OnSignalPipe()
    {
        unsigned char numbers[16];
        ssize_t count;
        while ((count = ::read(m_hPipe[0], numbers, sizeof numbers)) > 0) {
            if (m_nEndSignal == 0)
                m_nEndSignal = numbers[0];
        }
        if (m_nEndSignal != 0)
            AfxEndProgram();
    }

    int m_hPipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    int m_nEndSignal = 0;
    WId m_nDestroyedWindow = 0;
};

CProgramEndWatcher::CProgramEndWatcher() : m_pImpl(std::make_unique<CImpl>()) {}

CProgramEndWatcher::~CProgramEndWatcher() = default;

int CProgramEndWatcher::EndSignal() const
{
    return m_pImpl->m_nEndSignal;
}
