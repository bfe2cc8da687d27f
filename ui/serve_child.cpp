// SPDX-License-Identifier: MIT
#include "serve_child.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>

#include <filesystem>

#include "serve_lines.h"

namespace {

// The longest stderr line kept.
constexpr size_t kErrorLineMost = 1024;
// How long a child told to stop may take to tell its clients.
constexpr int kStopWaitMs = 5000;

} // namespace

std::string AfxFindServeProgram()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const std::filesystem::path directory =
        std::filesystem::path(std::string(path, length > 0 ? static_cast<size_t>(length) : 0)).parent_path();
    const std::filesystem::path candidates[] = {
        directory / "tarnwick-serve",
        (directory / TARNWICK_LIBEXEC_FROM_BINDIR / "tarnwick-serve").lexically_normal(),
        std::filesystem::path(TARNWICK_INSTALL_BINDIR) / "tarnwick-serve",
    };
    for (const std::filesystem::path& candidate : candidates)
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    return "tarnwick-serve";
}

std::vector<std::string> ServeArguments(const ServeSettings& settings)
{
    std::vector<std::string> arguments = {settings.folder, "--port", std::to_string(settings.nPort)};
    if (!settings.listen.empty())
        arguments.insert(arguments.end(), {"--listen", settings.listen});
    if (settings.bAllowUpload) {
        arguments.emplace_back("--allow-upload");
        if (settings.bAllowCreate)
            arguments.emplace_back("--allow-create");
        if (settings.bReplaceExisting)
            arguments.emplace_back("--allow-replace");
    }
    if (!settings.bLocalNetworksOnly)
        arguments.emplace_back("--any-network");
    if (settings.bIgnoreCase)
        arguments.emplace_back("--ignore-case");
    const std::pair<const char*, int> limits[] = {
        {"--max-transfers", settings.nMaxTransfers},
        {"--max-per-client", settings.nMaxPerClient},
        {"--max-blksize", settings.nMaxBlockSize},
        {"--max-windowsize", settings.nMaxWindowSize},
    };
    for (const auto& [option, value] : limits)
        arguments.insert(arguments.end(), {option, std::to_string(value)});
    arguments.insert(arguments.end(), {"--log-format", "json"});
    return arguments;
}

CServeChild::CServeChild(LineHandler onLine, EndHandler onEnd)
    : m_pProcess(std::make_unique<QProcess>()), m_onLine(std::move(onLine)), m_onEnd(std::move(onEnd))
{
    QProcess* process = m_pProcess.get();
    process->setInputChannelMode(QProcess::ManagedInputChannel);
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [this] { ReadOutput(); });
    QObject::connect(process, &QProcess::readyReadStandardError, process, [this] { ReadErrors(); });
    QObject::connect(process, &QProcess::finished, process, [this](int nStatus, QProcess::ExitStatus how) {
        ReadOutput();
        ReadErrors();
        m_bEnded = true;
        // A crash leaves no exit code; the signal is what Qt reports as the code.
        if (how == QProcess::CrashExit)
            m_onEnd(-1, nStatus, {});
        else
            m_onEnd(nStatus, 0, {});
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && !m_bEnded) {
            m_bEnded = true;
            m_onEnd(-1, 0, m_pProcess->errorString().toStdString());
        }
    });
    // The child goes with this process, however it ends; it starts with no
    // signal blocked, whatever this process blocks to read its own.
    process->setChildProcessModifier([] {
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
}

CServeChild::~CServeChild()
{
    // Nothing is told any more: the owner may be going.
    m_pProcess->disconnect();
    if (m_pProcess->state() != QProcess::NotRunning) {
        m_pProcess->terminate();
        if (!m_pProcess->waitForFinished(kStopWaitMs)) {
            m_pProcess->kill();
            m_pProcess->waitForFinished(kStopWaitMs);
        }
    }
}

void CServeChild::Start(const std::string& program, const std::vector<std::string>& arguments)
{
    QStringList list;
    for (const std::string& argument : arguments)
        list.append(QString::fromStdString(argument));
    m_pending.clear();
    m_bSkipping = false;
    m_lastError.clear();
    m_bEnded = false;
    m_pProcess->start(QString::fromStdString(program), list, QIODevice::ReadOnly);
}

void CServeChild::Stop()
{
    if (m_pProcess->state() != QProcess::NotRunning)
        m_pProcess->terminate();
}

bool CServeChild::Running() const
{
    return m_pProcess->state() != QProcess::NotRunning && !m_bEnded;
}

void CServeChild::ReadOutput()
{
    const QByteArray bytes = m_pProcess->readAllStandardOutput();
    std::string_view rest(bytes.constData(), static_cast<size_t>(bytes.size()));
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view part = rest.substr(0, end);
        if (!m_bSkipping) {
            m_pending.append(part);
            if (m_pending.size() > kServeLineMost) {
                m_pending.clear();
                m_bSkipping = true;
            }
        }
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
        if (!m_bSkipping) {
            const std::string line = std::move(m_pending);
            m_pending.clear();
            m_onLine(line);
        }
        m_bSkipping = false;
    }
}

void CServeChild::ReadErrors()
{
    const QByteArray bytes = m_pProcess->readAllStandardError();
    for (const QByteArray& line : bytes.split('\n'))
        if (!line.trimmed().isEmpty())
            m_lastError = line.trimmed().left(static_cast<qsizetype>(kErrorLineMost)).toStdString();
}
