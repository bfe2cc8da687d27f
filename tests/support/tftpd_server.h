// SPDX-License-Identifier: MIT
// A real TFTP server on loopback, serving a directory of its own: tftpd-hpa
// or atftpd on a free port, or dnsmasq on port 69 (it has no other; the tests
// that use it run in a network namespace of their own).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

class TftpdServer {
public:
    enum class Kind { hpa, atftpd, dnsmasq };

    // Starts in.tftpd (tftpd-hpa), atftpd or dnsmasq in the foreground and
    // waits until it answers; for in.tftpd a retransmission time in microseconds other
    // than 0 replaces its 1 s. Throws std::runtime_error when it cannot be
    // started.
    // tftpd-hpa listens on `address`, IPv4 or IPv6 ("::1").
    explicit TftpdServer(unsigned retransmitMicroseconds = 0, Kind kind = Kind::hpa,
                         const std::string& address = "127.0.0.1");
    // Whether the server of that kind is at hand (atftpd is fetched by test.sh).
    static bool Available(Kind kind);
    ~TftpdServer();
    TftpdServer(const TftpdServer&) = delete;
    TftpdServer& operator=(const TftpdServer&) = delete;

    unsigned Port() const { return m_port; }
    // What the host box holds to reach the server.
    std::string HostString() const
    {
        return (m_address.find(':') != std::string::npos ? "[" + m_address + "]" : m_address) + ":" +
               std::to_string(m_port);
    }
    const std::filesystem::path& Root() const { return m_root; }

private:
    bool Answers() const;

    std::string m_address;
    std::filesystem::path m_root;
    unsigned m_port = 0;
    pid_t m_pid = -1;
};
