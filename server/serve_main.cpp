// SPDX-License-Identifier: MIT
// tarnwick-serve: one folder served by TFTP without a window, and with
// --netboot also by HTTP, with a proxy DHCP for boot firmware. It binds its
// sockets (through the helper for ports 67 and 69, or as passed by systemd),
// opens the folder, confines itself, and only then reads a datagram. SIGTERM or
// SIGINT ends every transfer and the program, with status 0.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/confine.h"
#include "platform/core/event_loop.h"
#include "platform/core/privileged_bind.h"
#include "platform/core/socket_activation.h"
#include "protocol/host_address.h"
#include "server/serve_failure.h"
#include "server/serve_main_netboot.h"
#include "server/serve_options.h"
#include "server/serve_output.h"
#include "server/server.h"

#if defined(__SANITIZE_ADDRESS__)
// A sanitizer build's leak check runs at exit and stops the process's
// threads with ptrace from a clone, both of which the confinement refuses:
// the check would abort a server that ended cleanly, whatever ASAN_OPTIONS
// asks. Leaks are looked for in the engine's own tests instead.
extern "C" int __lsan_is_turned_off() // NOLINT(bugprone-reserved-identifier): the runtime looks for this name
{
    return 1;
}
#endif

namespace {

// A running transfer's bytes are told at most this often (JSON only).
constexpr ULONGLONG kProgressMs = 500;

// Writes all of text and a newline on fd; false when that failed (the reader
// has gone: EPIPE).
bool WriteLine(int fd, std::string text)
{
    text += '\n';
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

// The server's lines while it starts, held until the first line is out.
class CHeldLog : public ITransferLog {
public:
    void LogLine(std::string_view line) override
    {
        if (m_pTarget != nullptr)
            m_pTarget->LogLine(line);
        else
            m_held.emplace_back(line);
    }
    // From now on lines go to pTarget; the held ones first, but for skip.
    void Release(ITransferLog* pTarget, const std::string& skip)
    {
        m_pTarget = pTarget;
        for (const std::string& line : m_held)
            if (line != skip)
                m_pTarget->LogLine(line);
        m_held.clear();
    }

private:
    ITransferLog* m_pTarget = nullptr;
    std::vector<std::string> m_held;
};

// The sockets passed by systemd, each given to the server once for its address.
CTFTPServer::Binder ActivatedBinder(std::vector<ActivatedSocket>& sockets)
{
    return [&sockets](const sockaddr_storage& address) {
        for (ActivatedSocket& socket : sockets)
            if (socket.fd >= 0 && SameEndpoint(socket.address, address))
                return std::exchange(socket.fd, -1);
        errno = EADDRNOTAVAIL;
        return -1;
    };
}

// Port 69 through the helper when this process may not bind it; the
// helper's refusal is kept for the line that says why.
CTFTPServer::Binder HelperBinder(BindResult& refused)
{
    return [&refused](const sockaddr_storage& address) {
        BindResult bound =
            AfxBindUdpPort(reinterpret_cast<const sockaddr*>(&address), static_cast<socklen_t>(AddressLength(address)));
        if (bound.outcome == BindOutcome::Bound)
            return bound.fd;
        const int error = bound.outcome == BindOutcome::InUse          ? EADDRINUSE
                          : bound.outcome == BindOutcome::NotPermitted ? EACCES
                                                                       : bound.nError;
        if (bound.bByHelper)
            refused = std::move(bound);
        errno = error;
        return -1;
    };
}

std::string ConfinementLine(const ConfineResult& result, const ServeConfig& config, UINT nHttpPort)
{
    if (!result.Complete())
        return "Not fully confined: " + result.missing + ". Serving goes on with the rest.";
    return "Confined to " + config.folder + (config.bAllowUpload ? " (read and write)" : " (read-only)") +
           ": no new privileges, no capabilities, Landlock ABI " + std::to_string(result.nLandlockAbi) +
           ", a seccomp filter of the calls serving makes" +
           (nHttpPort != 0 ? ", TCP only to accept on port " + std::to_string(nHttpPort) : std::string());
}

} // namespace

int main(int argc, char** argv)
{
    ServeOptions options;
    std::string say;
    if (const int status = ParseServeOptions(argc, argv, &options, &say); status >= 0) {
        if (!say.empty() && say.back() == '\n')
            say.pop_back();
        WriteLine(status == 0 ? STDOUT_FILENO : STDERR_FILENO, say);
        return status;
    }
    // A reader that has gone is seen as a failed write, which ends serving.
    ::signal(SIGPIPE, SIG_IGN);
    // The time zone is read now: once confined, /etc/localtime is out of reach.
    ::tzset();
    CServeOutput output(
        options.bJson, [](std::string_view line) { return WriteLine(STDOUT_FILENO, std::string(line)); }, IsoTimeNow);
    CEventLoop loop;
    if (!loop.Valid() || !loop.CatchSignals({SIGTERM, SIGINT})) {
        output.Say("error", std::string("Cannot serve: no event loop: ") + std::strerror(errno));
        return 1;
    }
    Activation activation = AfxTakeActivatedSockets();
    if (activation.bActivated && options.bListenGiven) {
        WriteLine(STDERR_FILENO, "tarnwick-serve: --listen and --port do not apply to the sockets systemd passes");
        return 2;
    }
    if (!activation.error.empty()) {
        output.Say("error", "Cannot serve: " + activation.error);
        return 1;
    }
    ServeConfig config = options.config;
    BindResult refused;
    CTFTPServer::Binder binder = HelperBinder(refused);
    if (activation.bActivated) {
        config.listen.clear();
        for (const ActivatedSocket& socket : activation.sockets)
            config.listen.push_back(socket.address);
        binder = ActivatedBinder(activation.sockets);
    }

    CWnd rowsChanged; // WM_SERVE_CHANGED waits here until the rows are read
    CHeldLog log;
    CTFTPServer server(&rowsChanged, &log, AfxMonotonicMs);
    std::string detail;
    if (const ServeStartError error = server.Start(config, binder, &detail); error != ServeStartError::none) {
        log.Release(&output, "");
        output.Say("error", ServeFailureLine(error, config, detail, refused),
                   ServeFailureFields(error, config, refused));
        return 1;
    }
    CServeNetboot netboot(&rowsChanged, &log, &output);
    if (options.bNetboot) {
        if (const std::string failed = netboot.Start(options, loop); !failed.empty()) {
            server.Stop();
            log.Release(&output, "");
            output.Say("error", failed);
            return 1;
        }
    }
    output.Say("serving", ServingLine(config, server.ListeningAddresses()));
    log.Release(&output, "Serving " + config.folder);

    const int folderFd = ::open(config.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const ConfineResult confined = AfxConfine(ConfineRequest{folderFd, config.bAllowUpload, netboot.HttpPort()});
    if (folderFd >= 0)
        ::close(folderFd);
    output.Say("confinement", ConfinementLine(confined, config, netboot.HttpPort()));
    if (options.bRequireConfinement && !confined.Complete()) {
        output.Say("error", "Cannot serve: --require-confinement, and the kernel cannot confine the server fully");
        return 1;
    }

    // TFTP's rows, then HTTP's: as CServeOutput::Rows takes them.
    std::vector<ServeRow> rows;
    const auto allRows = [&]() -> const std::vector<ServeRow>& {
        if (!options.bNetboot)
            return server.Rows();
        rows = server.Rows();
        rows.insert(rows.end(), netboot.HttpRows().begin(), netboot.HttpRows().end());
        return rows;
    };
    ULONGLONG nextProgress = 0;
    while (loop.StopSignal() == 0 && !output.Broken()) {
        ULONGLONG deadline = std::min(server.NextDeadlineMs(), netboot.NextDeadlineMs());
        if (options.bJson && server.Running() + netboot.Running() > 0)
            deadline = std::min(deadline, nextProgress);
        loop.RunOnce(AfxTimeoutUntil(deadline, AfxMonotonicMs()));
        const ULONGLONG now = AfxMonotonicMs();
        if (now >= server.NextDeadlineMs())
            server.OnTick(now);
        if (now >= netboot.NextDeadlineMs())
            netboot.OnTick();
        bool changed = false;
        for (MSG message{}; rowsChanged.PeekMessage(&message);)
            changed = true;
        const bool progress = options.bJson && now >= nextProgress;
        if (changed || progress)
            output.Rows(allRows(), progress);
        if (progress)
            nextProgress = now + kProgressMs;
    }
    if (const int signal = loop.StopSignal(); signal != 0)
        output.Say("signal", std::string(signal == SIGINT ? "SIGINT" : "SIGTERM") + ": every transfer ends now");
    netboot.Stop();
    server.Stop();
    output.Rows(allRows(), false);
    return 0;
}
