// SPDX-License-Identifier: MIT
// The server under load, for measuring by hand: N clients (busybox's tftp,
// separate processes) read one file at once from Tarnwick's server on
// 127.0.0.1. The server runs in this process's loop as the window runs it:
// readiness delivered per socket, OnTick about every 10 ms. Printed: the
// server's own time per block (inside its calls), and the longest stretch
// the loop spent in the server at once, which is what the window would
// wait for. Usage: serve_bench [CLIENTS [MiB [BLKSIZE]]]
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/core/socket.h"
#include "platform/core/socket_watcher.h"
#include "server/server.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

ULONGLONG NowMs()
{
    return static_cast<ULONGLONG>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

// A poll() loop over a fixed table that times each round's dispatch.
class TimingWatcher : public ISocketWatcher {
public:
    TimingWatcher() : m_pPrevious(AfxSetSocketWatcher(this)) {}
    ~TimingWatcher() override { AfxSetSocketWatcher(m_pPrevious); }
    void Watch(CAsyncSocket* pSocket) override { m_sockets.push_back(pSocket); }
    void Unwatch(CAsyncSocket* pSocket) override { std::erase(m_sockets, pSocket); }

    // Waits up to nTimeoutMs; returns how long the dispatch took.
    Clock::duration RunOnce(int nTimeoutMs)
    {
        m_fds.clear();
        for (CAsyncSocket* socket : m_sockets)
            m_fds.push_back(pollfd{socket->m_hSocket, POLLIN, 0});
        std::vector<CAsyncSocket*> sockets = m_sockets;
        if (::poll(m_fds.data(), m_fds.size(), nTimeoutMs) <= 0)
            return {};
        const Clock::time_point start = Clock::now();
        for (size_t i = 0; i < m_fds.size(); ++i)
            if ((m_fds[i].revents & POLLIN) != 0 &&
                std::find(m_sockets.begin(), m_sockets.end(), sockets[i]) != m_sockets.end())
                sockets[i]->OnReceive(0);
        return Clock::now() - start;
    }

private:
    std::vector<CAsyncSocket*> m_sockets;
    std::vector<pollfd> m_fds;
    ISocketWatcher* m_pPrevious;
};

} // namespace

int main(int argc, char** argv)
{
    const int clients = argc > 1 ? std::atoi(argv[1]) : 100;
    const size_t mib = argc > 2 ? static_cast<size_t>(std::atoi(argv[2])) : 4;
    const int blockSize = argc > 3 ? std::atoi(argv[3]) : 1428;

    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tarnwick-serve-bench";
    std::filesystem::create_directories(folder);
    {
        std::mt19937 random(7);
        std::ofstream out(folder / "f", std::ios::binary);
        for (size_t i = 0; i < mib << 20; ++i)
            out.put(static_cast<char>(random()));
    }

    TimingWatcher watcher;
    CTFTPServer server(nullptr, nullptr, NowMs);
    ServeConfig config;
    config.folder = folder.string();
    sockaddr_storage address{};
    reinterpret_cast<sockaddr_in&>(address).sin_family = AF_INET;
    reinterpret_cast<sockaddr_in&>(address).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    config.listen = {address};
    config.nMaxTransfers = clients;
    config.nMaxPerClient = clients;
    if (server.Start(config) != ServeStartError::none)
        return 1;
    const std::string port =
        std::to_string(ntohs(reinterpret_cast<const sockaddr_in&>(server.ListeningAddresses().at(0)).sin_port));

    // The clients' progress bars go nowhere.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, 1, 2);
    std::vector<pid_t> pids;
    for (int i = 0; i < clients; ++i) {
        const std::string block = std::to_string(blockSize);
        const char* args[] = {"busybox",   "tftp", "-g",          "-r",        "f",          "-l",
                              "/dev/null", "-b",   block.c_str(), "127.0.0.1", port.c_str(), nullptr};
        pid_t pid = -1;
        if (::posix_spawnp(&pid, "busybox", &quiet, nullptr, const_cast<char**>(args), environ) == 0)
            pids.push_back(pid);
    }
    posix_spawn_file_actions_destroy(&quiet);

    Clock::duration inServer{};
    Clock::duration longest{};
    int running = static_cast<int>(pids.size());
    ULONGLONG nextTick = NowMs() + 10;
    const Clock::time_point begin = Clock::now();
    while (running > 0) {
        Clock::duration spent = watcher.RunOnce(2);
        if (NowMs() >= nextTick) {
            const Clock::time_point start = Clock::now();
            server.OnTick(NowMs());
            spent += Clock::now() - start;
            nextTick = NowMs() + 10;
        }
        inServer += spent;
        longest = std::max(longest, spent);
        for (pid_t& pid : pids)
            if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                --running;
            }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    size_t done = 0;
    for (const ServeRow& row : server.Rows())
        done += row.state == ServeState::done ? 1 : 0;
    const double blocks = static_cast<double>(clients) * static_cast<double>(mib << 20) / blockSize;
    std::printf("%d clients, %zu MiB each, blksize %d: %zu complete in %.2f s\n", clients, mib, blockSize, done,
                seconds);
    std::printf("server time per block: %.2f us; longest stretch in the server: %.2f ms\n",
                std::chrono::duration<double, std::micro>(inServer).count() / blocks,
                std::chrono::duration<double, std::milli>(longest).count());
    std::filesystem::remove_all(folder);
    return done == static_cast<size_t>(clients) ? 0 : 1;
}
