// SPDX-License-Identifier: MIT
#include "dhcp_capture.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Lets through IPv4 UDP datagrams, unfragmented, from port 67 or 4011; the
// kernel drops the rest (TFTP and HTTP during a boot) before they fill the
// socket's buffer.
sock_filter g_filter[] = {
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),                 // EtherType
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 9),    //
    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 23),                 // IP protocol
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_UDP, 0, 7), //
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 20),                 // fragment offset
    BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x1fff, 5, 0),     //
    BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 14),                // IP header length
    BPF_STMT(BPF_LD | BPF_H | BPF_IND, 14),                 // UDP source port
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 67, 1, 0),          //
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 4011, 0, 1),        //
    BPF_STMT(BPF_RET | BPF_K, 0xffff),                      // keep
    BPF_STMT(BPF_RET | BPF_K, 0),                           // drop
};

std::string Dotted(const unsigned char* p)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, p, text, sizeof text);
    return text;
}

} // namespace

CDhcpCapture::CDhcpCapture()
{
    m_fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_ALL));
    const sock_fprog program{static_cast<unsigned short>(std::size(g_filter)), g_filter};
    const int size = 4 << 20;
    if (m_fd >= 0 && (::setsockopt(m_fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
                      ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)) {
        ::close(m_fd);
        m_fd = -1;
    }
}

CDhcpCapture::~CDhcpCapture()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void CDhcpCapture::Drain()
{
    unsigned char frame[2048];
    for (ssize_t n; m_fd >= 0 && (n = ::recv(m_fd, frame, sizeof frame, 0)) > 0;) {
        const size_t length = static_cast<size_t>(n), ip = 14;
        if (length < ip + 20)
            continue;
        const size_t udp = ip + 4 * (frame[ip] & 0x0fu), bootp = udp + 8, options = bootp + 240;
        // op 2: BOOTREPLY; the magic cookie before the options.
        if (length < options || frame[bootp] != 2 || frame[bootp + 236] != 99 || frame[bootp + 237] != 130)
            continue;
        DhcpReply reply;
        reply.from = Dotted(frame + ip + 12);
        reply.yiaddr = Dotted(frame + bootp + 16);
        char mac[18];
        const unsigned char* chaddr = frame + bootp + 28;
        std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", chaddr[0], chaddr[1], chaddr[2], chaddr[3],
                      chaddr[4], chaddr[5]);
        reply.mac = mac;
        for (size_t at = options; at < length && frame[at] != 255;) {
            if (frame[at] == 0) {
                ++at;
                continue;
            }
            if (at + 2 >= length || at + 2 + frame[at + 1] > length)
                break;
            if (frame[at] == 53 && frame[at + 1] == 1)
                reply.type = frame[at + 2];
            at += 2u + frame[at + 1];
        }
        m_replies.push_back(reply);
    }
}
