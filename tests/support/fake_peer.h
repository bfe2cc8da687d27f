// SPDX-License-Identifier: MIT
// A UDP endpoint on a loopback address, IPv4 or IPv6, that plays the TFTP
// server in tests.
#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/core/afxtypes.h"

using Bytes = std::vector<BYTE>;

Bytes DataPacket(WORD block, const Bytes& payload = {});
Bytes DataPacket(WORD block, size_t payloadLength, BYTE fill = 'x');
Bytes AckPacket(WORD block);
Bytes ErrorPacket(WORD code, const std::string& text, bool terminated = true);
Bytes PacketOfOpcode(WORD opcode, WORD block, size_t length = 4);
Bytes BytesOf(const std::string& text);

class FakePeer {
public:
    // An address with a colon is IPv6 ("::1").
    explicit FakePeer(const char* address = "127.0.0.1");
    ~FakePeer();
    FakePeer(const FakePeer&) = delete;
    FakePeer& operator=(const FakePeer&) = delete;

    UINT Port() const { return m_port; }
    // "127.0.0.1:PORT" or "[::1]:PORT": what the host box would hold to reach
    // this peer.
    std::string HostString() const;

    // Takes the datagram waiting now, if any. A loopback send has delivered
    // its datagram by the time the sending call returns, so "nothing now"
    // means nothing was sent.
    std::optional<Bytes> TryReceive();
    // Waits (bounded, the bound scaled as in timing.h) for one datagram; an
    // empty optional when none came.
    std::optional<Bytes> Receive(int timeoutMs = 2000);

    // Sends to the sender of the last datagram received.
    void Reply(const Bytes& datagram);
    // To port at address (by default the peer's own address).
    void SendTo(UINT port, const Bytes& datagram, const char* address = nullptr);

    UINT LastSenderPort() const;
    // The address of the sender of the last datagram received, as text.
    std::string LastSenderAddress() const;
    void Close();

private:
    int m_fd = -1;
    UINT m_port = 0;
    std::string m_address;
    int m_family = AF_INET;
    sockaddr_storage m_lastSender{};
};

// The local port a socket descriptor is bound to.
UINT LocalPort(int fd);
// Waits (bounded, the bound scaled as in timing.h) until a datagram or an
// error waits on fd.
bool WaitReadable(int fd, int timeoutMs = 2000);
// True when nothing waits on fd right now.
bool NothingWaiting(int fd);
