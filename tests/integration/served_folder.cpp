// SPDX-License-Identifier: MIT
#include "served_folder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <iostream>

#include "own_network.h"

extern char** environ;

ULONGLONG SteadyMs()
{
    return static_cast<ULONGLONG>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

bool Installed(const char* program)
{
    for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/"})
        if (::access((std::string(dir) + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

void ServedFolder::SetUp()
{
    StartServing({});
}

void ServedFolder::StartServing(const std::function<void(ServeConfig&)>& configure)
{
    server.Stop();
    ServeConfig config;
    config.folder = served.Path().string();
    sockaddr_storage address{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(InOwnNetwork() ? 69 : 0));
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    config.listen = {address};
    config.bAllowUpload = config.bAllowCreate = config.bReplaceExisting = true;
    if (configure)
        configure(config);
    std::string detail;
    ASSERT_EQ(server.Start(config, {}, &detail), ServeStartError::none) << detail;
    const sockaddr_storage bound = server.ListeningAddresses().at(0);
    port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                                             : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
}

void ServedFolder::TearDown()
{
    if (HasFailure())
        for (const std::string& line : log.lines)
            std::cerr << "server: " << line << "\n";
}

bool ServedFolder::Serve(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const ULONGLONG end = SteadyMs() + static_cast<ULONGLONG>(limit.count());
    while (!done()) {
        if (SteadyMs() > end)
            return false;
        watcher.RunOnce(2);
        server.OnTick(SteadyMs());
    }
    return true;
}

int ServedFolder::Run(const std::vector<std::string>& argv, std::chrono::seconds limit)
{
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const std::string output = local / "client.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -2;
    int status = 0;
    const bool ended = Serve([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    // What the server still has to do after the client's end (a last ACK again).
    Serve([] { return false; }, std::chrono::milliseconds(0));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ServedFolder::ClientOutput() const
{
    try {
        const std::vector<BYTE> bytes = ReadFileBytes(local / "client.out");
        return std::string(bytes.begin(), bytes.end()).substr(0, 2000);
    } catch (const std::exception&) {
        return {};
    }
}
