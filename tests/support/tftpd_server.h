// A real tftpd-hpa on a free loopback port, serving a directory of its own.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

class TftpdServer {
public:
    enum class Kind { hpa, atftpd };

    // Starts in.tftpd (tftpd-hpa) or atftpd in the foreground and waits until
    // it answers; for in.tftpd a retransmission time in microseconds other
    // than 0 replaces its 1 s. Throws std::runtime_error when it cannot be
    // started.
    explicit TftpdServer(unsigned retransmitMicroseconds = 0, Kind kind = Kind::hpa);
    // Whether the server of that kind is at hand (atftpd is fetched by test.sh).
    static bool Available(Kind kind);
    ~TftpdServer();
    TftpdServer(const TftpdServer&) = delete;
    TftpdServer& operator=(const TftpdServer&) = delete;

    unsigned Port() const { return m_port; }
    std::string HostString() const { return "127.0.0.1:" + std::to_string(m_port); }
    const std::filesystem::path& Root() const { return m_root; }

private:
    bool Answers() const;

    std::filesystem::path m_root;
    unsigned m_port = 0;
    pid_t m_pid = -1;
};
