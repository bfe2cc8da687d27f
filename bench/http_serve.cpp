// SPDX-License-Identifier: MIT
// Tarnwick's server serving one folder over TFTP and HTTP at once on one
// IPv4 address (127.0.0.1 unless given), in one poll() loop as a server
// process runs it, for bench/http_compare.sh. Its log goes to standard
// error; SIGINT or SIGTERM ends it.
// Usage: http_serve FOLDER TFTP_PORT HTTP_PORT [ADDRESS]
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/core/socket.h"
#include "platform/core/socket_watcher.h"
#include "server/serve_http.h"
#include "server/server.h"

namespace {

volatile sig_atomic_t g_stop = 0;

ULONGLONG NowMs()
{
    return static_cast<ULONGLONG>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

struct StderrLog : ITransferLog {
    void LogLine(std::string_view line) override
    {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    }
};

// The TFTP sockets, each told when a datagram waits.
class Watcher : public ISocketWatcher {
public:
    Watcher() : m_pPrevious(AfxSetSocketWatcher(this)) {}
    ~Watcher() override { AfxSetSocketWatcher(m_pPrevious); }
    void Watch(CAsyncSocket* pSocket) override { m_sockets.push_back(pSocket); }
    void Unwatch(CAsyncSocket* pSocket) override { std::erase(m_sockets, pSocket); }
    std::vector<CAsyncSocket*> m_sockets;

private:
    ISocketWatcher* m_pPrevious;
};

} // namespace

int main(int argc, char** argv)
{
    sockaddr_storage address{};
    reinterpret_cast<sockaddr_in&>(address).sin_family = AF_INET;
    if ((argc != 4 && argc != 5) || ::inet_pton(AF_INET, argc == 5 ? argv[4] : "127.0.0.1",
                                                &reinterpret_cast<sockaddr_in&>(address).sin_addr) != 1) {
        std::fprintf(stderr, "usage: http_serve FOLDER TFTP_PORT HTTP_PORT [ADDRESS]\n");
        return 2;
    }
    struct sigaction stop {};
    stop.sa_handler = [](int) { g_stop = 1; };
    ::sigaction(SIGINT, &stop, nullptr);
    ::sigaction(SIGTERM, &stop, nullptr);

    Watcher watcher;
    StderrLog log;
    CTFTPServer tftp(nullptr, &log, NowMs);
    CServeHttp http(nullptr, &log, NowMs);
    ServeConfig config;
    config.folder = argv[1];
    reinterpret_cast<sockaddr_in&>(address).sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    config.listen = {address};
    std::string detail;
    if (tftp.Start(config, {}, &detail) != ServeStartError::none) {
        std::fprintf(stderr, "TFTP: %s\n", detail.c_str());
        return 1;
    }
    detail = http.Start(address, static_cast<UINT>(std::atoi(argv[3])), config.folder, ServeHttpLimits::Of(config));
    if (!detail.empty()) {
        std::fprintf(stderr, "HTTP: %s\n", detail.c_str());
        return 1;
    }

    std::vector<pollfd> fds;
    while (g_stop == 0) {
        const std::vector<CAsyncSocket*> sockets = watcher.m_sockets;
        const std::vector<int> httpFds = http.Fds();
        fds.clear();
        for (CAsyncSocket* socket : sockets)
            fds.push_back(pollfd{socket->m_hSocket, POLLIN, 0});
        for (const int fd : httpFds)
            fds.push_back(pollfd{fd, POLLIN, 0});
        const ULONGLONG now = NowMs();
        const ULONGLONG deadline = std::min(tftp.NextDeadlineMs(), http.NextDeadlineMs());
        const int wait = deadline <= now ? 0 : static_cast<int>(std::min<ULONGLONG>(deadline - now, 1000));
        if (::poll(fds.data(), fds.size(), wait) < 0)
            continue; // a signal: the loop's test decides
        // A socket closed by an earlier call in this round is not called.
        for (size_t i = 0; i < sockets.size(); ++i)
            if ((fds[i].revents & POLLIN) != 0 &&
                std::find(watcher.m_sockets.begin(), watcher.m_sockets.end(), sockets[i]) != watcher.m_sockets.end())
                sockets[i]->OnReceive(0);
        bool httpReady = NowMs() >= http.NextDeadlineMs();
        for (size_t i = sockets.size(); i < fds.size(); ++i)
            httpReady = httpReady || (fds[i].revents & POLLIN) != 0;
        if (httpReady)
            http.OnReady();
        if (NowMs() >= tftp.NextDeadlineMs())
            tftp.OnTick(NowMs());
    }
    http.Stop();
    tftp.Stop();
    return 0;
}
