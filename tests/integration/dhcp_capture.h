// SPDX-License-Identifier: MIT
// The answers of DHCP servers as they cross the links of this network
// namespace: every BOOTREPLY sent from UDP port 67 or 4011, on any interface,
// read from an AF_PACKET socket (it needs root).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct DhcpReply {
    std::string from;   // the IPv4 source address, dotted
    std::string yiaddr; // the address given, 0.0.0.0 for none
    std::string mac;    // the client's hardware address, aa:bb:...
    int type = 0;       // option 53, 0 when absent
};

class CDhcpCapture {
public:
    CDhcpCapture();
    ~CDhcpCapture();
    CDhcpCapture(const CDhcpCapture&) = delete;
    CDhcpCapture& operator=(const CDhcpCapture&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    // Reads what has arrived since the last call, without waiting.
    void Drain();
    const std::vector<DhcpReply>& Replies() const { return m_replies; }

private:
    int m_fd = -1;
    std::vector<DhcpReply> m_replies;
};
