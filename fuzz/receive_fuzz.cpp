// SPDX-License-Identifier: MIT
// Drives the transfer socket through every state with datagrams, ticks and
// blocks taken from the input, behind a fake network. The sanitizers watch
// the reads of untrusted bytes; the checks below watch the state machine.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/tftp_socket.h"
#include "platform/core/msgbox.h"
#include "tests/support/msgbox_recorder.h"

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_offset >= m_size; }
    uint8_t Byte() { return m_offset < m_size ? m_data[m_offset++] : 0; }
    size_t Take(uint8_t* out, size_t wanted)
    {
        const size_t n = wanted < m_size - m_offset ? wanted : m_size - m_offset;
        std::memcpy(out, m_data + m_offset, n);
        m_offset += n;
        return n;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

// The network: sends vanish, reads deliver the datagram the driver queued.
class FakeNetworkSocket : public CTFTPSocket {
public:
    using CTFTPSocket::CTFTPSocket;
    using CTFTPSocket::m_nTicks;
    using CTFTPSocket::m_wState;

    BOOL Create(UINT, int, long, const char*, int) override { return TRUE; }
    int SendTo(const void*, int nBufLen, const sockaddr*, int, int) override { return nBufLen; }
    int Send(const void*, int nBufLen, int) override { return nBufLen; }
    BOOL Connect(const sockaddr*, int) override
    {
        if (failConnect)
            SetLastError(ENETUNREACH);
        return failConnect ? FALSE : TRUE;
    }
    int ReceiveFrom(void* lpBuf, int nBufLen, sockaddr* lpSockAddr, int* lpSockAddrLen, int) override
    {
        if (length > static_cast<size_t>(nBufLen)) {
            SetLastError(EMSGSIZE);
            return SOCKET_ERROR;
        }
        std::memcpy(lpBuf, datagram, length);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = htons(senderPort);
        from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::memcpy(lpSockAddr, &from, sizeof from);
        *lpSockAddrLen = sizeof from;
        return static_cast<int>(length);
    }

    uint8_t datagram[1600] = {};
    size_t length = 0;
    uint16_t senderPort = 0;
    bool failConnect = false;
};

bool ValidState(TftpState state)
{
    return state == TFTP_STATE_IDLE || state == TFTP_STATE_RRQ_SENT || state == TFTP_STATE_WRQ_SENT ||
           state == TFTP_STATE_WAIT_ACK || state == TFTP_STATE_WAIT_DATA || state == TFTP_STATE_CLOSED;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    CMessageBoxRecorder boxes;
    CWnd owner;
    FakeNetworkSocket sock(&owner);
    const uint8_t setup = input.Byte();
    const WORD direction = (setup & 1) != 0 ? DIRECTION_PUT : DIRECTION_GET;
    sock.failConnect = (setup & 2) != 0;
    // Options asked, so that OACKs are read and a granted window of blocks runs.
    if ((setup & 8) != 0)
        sock.SetOptions(TftpOptions{16, 4, 0, (setup & 16) != 0, 0});
    if ((setup & 4) == 0 && !sock.SendRequest("127.0.0.1:69", "fuzz.bin", direction, MODE_BINARY))
        std::abort();

    uint8_t packet[TFTP_PACKET_BUFFER] = {};
    uint8_t receive[TFTP_PACKET_BUFFER];
    while (!input.Empty()) {
        const uint8_t command = input.Byte();
        const bool wasClosed = sock.m_wState == TFTP_STATE_CLOSED;
        switch (command & 3) {
        case 0:
        case 1: { // a datagram from the transfer port, or from another one
            sock.senderPort = (command & 1) != 0 ? 40000 : 50000;
            sock.length = input.Take(sock.datagram, static_cast<size_t>(input.Byte()) * 7 % sizeof sock.datagram);
            const int result = sock.Receive(receive, sizeof receive, 0);
            const int resultClass = result & TFTP_RESULT_CLASS_MASK;
            if (resultClass == TFTP_RESULT_DATA && (result & TFTP_RESULT_VALUE_MASK) > TFTP_MAX_DATAGRAM)
                std::abort();
            if (resultClass > TFTP_RESULT_ERROR)
                std::abort();
            break;
        }
        case 2: // ticks
            for (int tick = command >> 2; tick >= 0; --tick)
                sock.OnTick();
            break;
        default: // the next block of a Put
            sock.SendBlock(packet, (command >> 2) * 9, 0);
            break;
        }
        if (!ValidState(sock.m_wState) || sock.m_nTicks > 6 || (wasClosed && sock.m_wState != TFTP_STATE_CLOSED))
            std::abort();
    }
    return 0;
}
