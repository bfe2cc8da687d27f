// SPDX-License-Identifier: MIT
#include "lossy_relay.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <stdexcept>
#include <vector>

#include "fake_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

int BoundLoopbackSocket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        throw std::runtime_error("relay: cannot bind a loopback port");
    return fd;
}

struct Held {
    Clock::time_point release;
    int fd;
    sockaddr_in to;
    std::vector<BYTE> bytes;
};

} // namespace

LossyRelay::LossyRelay(unsigned serverPort, const LinkFaults& faults) : m_nServerPort(serverPort)
{
    m_clientSide = BoundLoopbackSocket();
    m_serverSide = BoundLoopbackSocket();
    m_nPort = LocalPort(m_clientSide);
    m_thread = std::thread([this, faults] { Run(faults); });
}

LossyRelay::~LossyRelay()
{
    m_bStop = true;
    m_thread.join();
    ::close(m_clientSide);
    ::close(m_serverSide);
}

std::string LossyRelay::HostString() const
{
    return "127.0.0.1:" + std::to_string(m_nPort);
}

std::map<WORD, int> LossyRelay::ClientDataPerBlock() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_clientData;
}

std::map<WORD, int> LossyRelay::ClientAcksPerBlock() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_clientAcks;
}

void LossyRelay::Run(LinkFaults faults)
{
    std::mt19937 random(faults.seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    sockaddr_in client{};
    sockaddr_in listen{};
    listen.sin_family = AF_INET;
    listen.sin_port = htons(static_cast<uint16_t>(m_nServerPort));
    listen.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in transfer = listen; // the server's transfer port, once it has answered
    std::vector<Held> held;
    // Whether the last datagram each way was dropped.
    bool droppedLast[2] = {false, false};
    long lastBlock = -1; // the block number of a short DATA from the client
    const auto drop = [&](int way) {
        droppedLast[way] = !droppedLast[way] && chance(random) < faults.loss;
        if (droppedLast[way])
            ++m_nDropped;
        return droppedLast[way];
    };

    const auto deliver = [&](int fd, const sockaddr_in& to, const BYTE* bytes, size_t length) {
        for (int copy = 0; copy < (chance(random) < faults.duplicate ? 2 : 1); ++copy) {
            if (copy == 1)
                ++m_nDuplicated;
            if (chance(random) < faults.delay) {
                ++m_nDelayed;
                const auto wait = std::chrono::milliseconds(1 + random() % faults.maxDelayMs);
                held.push_back(Held{Clock::now() + wait, fd, to, std::vector<BYTE>(bytes, bytes + length)});
            } else {
                ::sendto(fd, bytes, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
        }
    };

    while (!m_bStop) {
        int timeout = 20;
        for (const Held& h : held)
            timeout = std::min<int>(
                timeout,
                std::max<int>(
                    0, static_cast<int>(
                           std::chrono::duration_cast<std::chrono::milliseconds>(h.release - Clock::now()).count())));
        pollfd fds[2] = {{m_clientSide, POLLIN, 0}, {m_serverSide, POLLIN, 0}};
        ::poll(fds, 2, timeout);

        for (size_t i = 0; i < held.size();) {
            if (held[i].release <= Clock::now()) {
                ::sendto(held[i].fd, held[i].bytes.data(), held[i].bytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&held[i].to), sizeof held[i].to);
                held.erase(held.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }

        BYTE buffer[65536];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t n =
                ::recvfrom(m_clientSide, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n >= 4) {
                client = from;
                const WORD opcode = static_cast<WORD>((buffer[0] << 8) | buffer[1]);
                if (opcode == 3) {
                    const std::lock_guard<std::mutex> lock(m_mutex);
                    ++m_clientData[static_cast<WORD>((buffer[2] << 8) | buffer[3])];
                    if (n < faults.blockSize + 4)
                        lastBlock = (buffer[2] << 8) | buffer[3];
                }
                if (opcode == 4) {
                    const std::lock_guard<std::mutex> lock(m_mutex);
                    ++m_clientAcks[static_cast<WORD>((buffer[2] << 8) | buffer[3])];
                }
                // Requests go to the listening port, the rest to the transfer port.
                if (!drop(0))
                    deliver(m_serverSide, opcode == 1 || opcode == 2 ? listen : transfer, buffer,
                            static_cast<size_t>(n));
            }
        }
        fromLength = sizeof from;
        if ((fds[1].revents & POLLIN) != 0) {
            const ssize_t n =
                ::recvfrom(m_serverSide, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n >= 0) {
                transfer = from;
                const bool finalAck = n >= 4 && buffer[1] == 4 && ((buffer[2] << 8) | buffer[3]) == lastBlock;
                if (finalAck || !drop(1))
                    deliver(m_clientSide, client, buffer, static_cast<size_t>(n));
            }
        }
    }
}
