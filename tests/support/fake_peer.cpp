// SPDX-License-Identifier: MIT
#include "fake_peer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "timing.h"

namespace {
// A header of opcode and one 16-bit field followed by the body.
Bytes Packet(WORD opcode, WORD field, const BYTE* body, size_t bodyLength)
{
    Bytes packet(4 + bodyLength);
    packet[0] = static_cast<BYTE>(opcode >> 8);
    packet[1] = static_cast<BYTE>(opcode);
    packet[2] = static_cast<BYTE>(field >> 8);
    packet[3] = static_cast<BYTE>(field);
    std::copy(body, body + bodyLength, packet.begin() + 4);
    return packet;
}
} // namespace

Bytes DataPacket(WORD block, const Bytes& payload)
{
    return Packet(3, block, payload.data(), payload.size());
}

Bytes DataPacket(WORD block, size_t payloadLength, BYTE fill)
{
    return DataPacket(block, Bytes(payloadLength, fill));
}

Bytes AckPacket(WORD block)
{
    return Bytes{0, 4, static_cast<BYTE>(block >> 8), static_cast<BYTE>(block)};
}

Bytes ErrorPacket(WORD code, const std::string& text, bool terminated)
{
    // c_str() supplies the zero byte when the text is terminated.
    return Packet(5, code, reinterpret_cast<const BYTE*>(text.c_str()), text.size() + (terminated ? 1 : 0));
}

Bytes PacketOfOpcode(WORD opcode, WORD block, size_t length)
{
    Bytes packet(length, 'p');
    const BYTE header[4] = {static_cast<BYTE>(opcode >> 8), static_cast<BYTE>(opcode), static_cast<BYTE>(block >> 8),
                            static_cast<BYTE>(block)};
    for (size_t i = 0; i < length && i < 4; ++i)
        packet[i] = header[i];
    return packet;
}

Bytes BytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

namespace {

// address:port in a sockaddr of the address's family; returns its length.
socklen_t Endpoint(int family, const char* address, UINT port, sockaddr_storage* pTo)
{
    *pTo = sockaddr_storage{};
    if (family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(pTo);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET6, address, &v6->sin6_addr);
        return sizeof(sockaddr_in6);
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(pTo);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &v4->sin_addr);
    return sizeof(sockaddr_in);
}

UINT PortOf(const sockaddr_storage& address)
{
    return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                                               : reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

} // namespace

FakePeer::FakePeer(const char* address)
    : m_address(address), m_family(std::string(address).find(':') != std::string::npos ? AF_INET6 : AF_INET)
{
    m_fd = ::socket(m_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_storage local{};
    const socklen_t length = Endpoint(m_family, address, 0, &local);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), length) != 0)
        throw std::runtime_error("fake peer: cannot bind a loopback port");
    m_port = LocalPort(m_fd);
}

UINT FakePeer::LastSenderPort() const
{
    return PortOf(m_lastSender);
}

std::string FakePeer::LastSenderAddress() const
{
    char text[INET6_ADDRSTRLEN] = "";
    if (m_lastSender.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(m_lastSender).sin6_addr, text, sizeof text);
    else
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(m_lastSender).sin_addr, text, sizeof text);
    return text;
}

FakePeer::~FakePeer()
{
    Close();
}

void FakePeer::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::string FakePeer::HostString() const
{
    return (m_family == AF_INET6 ? "[" + m_address + "]" : m_address) + ":" + std::to_string(m_port);
}

std::optional<Bytes> FakePeer::TryReceive()
{
    BYTE buffer[2048];
    socklen_t length = sizeof m_lastSender;
    ssize_t n =
        ::recvfrom(m_fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&m_lastSender), &length);
    if (n < 0)
        return std::nullopt;
    return Bytes(buffer, buffer + n);
}

std::optional<Bytes> FakePeer::Receive(int timeoutMs)
{
    if (!WaitReadable(m_fd, timeoutMs))
        return std::nullopt;
    return TryReceive();
}

void FakePeer::Reply(const Bytes& datagram)
{
    ::sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&m_lastSender),
             m_lastSender.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
}

void FakePeer::SendTo(UINT port, const Bytes& datagram, const char* address)
{
    sockaddr_storage to{};
    const socklen_t length = Endpoint(m_family, address != nullptr ? address : m_address.c_str(), port, &to);
    ::sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), length);
}

UINT LocalPort(int fd)
{
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    return PortOf(local);
}

bool WaitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs * TestTimeScale()) == 1;
}

bool NothingWaiting(int fd)
{
    return !WaitReadable(fd, 0);
}
