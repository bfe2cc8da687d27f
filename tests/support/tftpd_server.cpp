// SPDX-License-Identifier: MIT
#include "tftpd_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "fake_peer.h"
#include "timing.h"

namespace {

const char* const kTftpd = "/usr/sbin/in.tftpd";
const char* const kAtftpd = TARNWICK_ATFTPD_PATH;
const char* const kDnsmasq = "/usr/sbin/dnsmasq";

const char* ServerPath(TftpdServer::Kind kind)
{
    switch (kind) {
    case TftpdServer::Kind::atftpd:
        return kAtftpd;
    case TftpdServer::Kind::dnsmasq:
        return kDnsmasq;
    default:
        return kTftpd;
    }
}

unsigned FreeUdpPort(const std::string& address)
{
    FakePeer probe(address.c_str());
    return probe.Port();
}

} // namespace

bool TftpdServer::Available(Kind kind)
{
    return ::access(ServerPath(kind), X_OK) == 0;
}

TftpdServer::TftpdServer(unsigned retransmitMicroseconds, Kind kind, const std::string& address) : m_address(address)
{
    if (!Available(kind))
        throw std::runtime_error(std::string(ServerPath(kind)) + " is not at hand (./test.sh installs or fetches it)");
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-tftpd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make the server's directory");
    m_root = pattern;

    // The free port may be taken between the look and the server's bind: try a few.
    for (int attempt = 0; attempt < 5 && m_pid < 0; ++attempt) {
        m_port = kind == Kind::dnsmasq ? 69 : FreeUdpPort(m_address);
        const std::string listen = HostString();
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Its own process group, so the per-transfer children end with it,
            // and no share in the test's output, which ctest waits to close.
            ::setpgid(0, 0);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            const std::string retransmit =
                std::to_string(retransmitMicroseconds != 0 ? retransmitMicroseconds : 1000000);
            const std::string port = std::to_string(m_port);
            const std::string root = "--tftp-root=" + m_root.string();
            if (kind == Kind::dnsmasq)
                // TFTP only (port 0 turns DNS off), read-only as always.
                ::execl(kDnsmasq, kDnsmasq, "--keep-in-foreground", "--port=0", "--conf-file=/dev/null",
                        "--pid-file=", "--user=root", "--group=root", "--listen-address=127.0.0.1", "--bind-interfaces",
                        "--log-facility=-", "--enable-tftp", root.c_str(), static_cast<char*>(nullptr));
            else if (kind == Kind::atftpd)
                // Its shortest retransmission period, 1 s (5 s by default).
                ::execl(kAtftpd, kAtftpd, "--daemon", "--no-fork", "--port", port.c_str(), "--bind-address",
                        "127.0.0.1", "--user", "root", "--group", "root", "--retry-timeout", "1", "--logfile",
                        "/dev/null", m_root.c_str(), static_cast<char*>(nullptr));
            else
                ::execl(kTftpd, kTftpd, "-L", "-a", listen.c_str(), "-s", m_root.c_str(), "-c", "-p", "-u", "root",
                        "-T", retransmit.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        m_pid = pid;
        const auto deadline = std::chrono::steady_clock::now() + Scaled(std::chrono::seconds(5));
        while (!Answers()) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid || std::chrono::steady_clock::now() > deadline) {
                ::kill(-m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                m_pid = -1;
                break;
            }
        }
    }
    if (m_pid < 0)
        throw std::runtime_error("the TFTP server did not start");
}

TftpdServer::~TftpdServer()
{
    if (m_pid > 0) {
        ::kill(-m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
}

bool TftpdServer::Answers() const
{
    // A read request for a file that is not there draws an ERROR once the
    // server listens.
    FakePeer client(m_address.c_str());
    static const char kRequest[] = "\0\1.probe-absent\0octet";
    client.SendTo(m_port, Bytes(kRequest, kRequest + sizeof kRequest));
    const std::optional<Bytes> reply = client.Receive(100);
    return reply.has_value() && reply->size() >= 4 && (*reply)[1] == 5;
}
