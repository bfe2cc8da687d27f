// SPDX-License-Identifier: MIT
// Drives the transfer socket through every state with datagrams, ticks and
// blocks taken from the input, behind a fake network, with or without
// options (block size, window, timeout, tsize), so that the negotiation and
// the windows are driven too. The sanitizers watch the reads of untrusted
// bytes; the checks below watch the state machine.
//
// The input: a setup byte, the options' values, then commands.
//   setup   bit 0 Put (else Get), bit 1 the lock-in's connect fails, bit 2 no
//           request is sent; bits 3 to 6 ask for blksize, windowsize, timeout
//           and tsize, whose values follow in that order: blksize two bytes
//           (8 + n % 4089), windowsize one (1 + n % 64), timeout one
//           (1 + n % 255), tsize one (the size a Put tells).
//   command low two bits 0 or 1: a datagram from another port or the
//           transfer port, its length in two bytes (modulo the buffer's
//           length plus 17, so that some are too long), then its bytes;
//           2: (command >> 2) + 1 ticks; 3: the next block of a Put, of
//           (command >> 2) thirty-seconds of the granted block size.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sanitizer/asan_interface.h>

#include "client/client_socket.h"
#include "fuzz/fuzz_input.h"
#include "platform/core/msgbox.h"
#include "tests/support/msgbox_recorder.h"

namespace {

// The network: sends vanish, reads deliver the datagram the driver queued.
// The part of the reader's buffer past the datagram is poisoned, so that a
// read beyond the datagram is reported even inside the buffer.
class FakeNetworkSocket : public CTFTPSocket {
public:
    using CTFTPSocket::CTFTPSocket;
    // The resends since the last answer: never more than two before the end.
    unsigned ResendsSinceAnswer() const { return m_clock.ResendsSinceProgress(); }
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
        ASAN_UNPOISON_MEMORY_REGION(lpBuf, static_cast<size_t>(nBufLen));
        if (datagram.size() > static_cast<size_t>(nBufLen)) {
            SetLastError(EMSGSIZE);
            return SOCKET_ERROR;
        }
        if (!datagram.empty())
            std::memcpy(lpBuf, datagram.data(), datagram.size());
        ASAN_POISON_MEMORY_REGION(static_cast<uint8_t*>(lpBuf) + datagram.size(),
                                  static_cast<size_t>(nBufLen) - datagram.size());
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = htons(senderPort);
        from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::memcpy(lpSockAddr, &from, sizeof from);
        *lpSockAddrLen = sizeof from;
        return static_cast<int>(datagram.size());
    }

    std::vector<uint8_t> datagram;
    uint16_t senderPort = 0;
    bool failConnect = false;
};

bool ValidState(TftpState state)
{
    return state == TFTP_STATE_IDLE || state == TFTP_STATE_RRQ_SENT || state == TFTP_STATE_WRQ_SENT ||
           state == TFTP_STATE_WAIT_ACK || state == TFTP_STATE_WAIT_DATA || state == TFTP_STATE_CLOSED;
}

TftpOptions OptionsFrom(uint8_t setup, FuzzInput& input)
{
    TftpOptions options;
    if ((setup & 0x08) != 0) {
        const int n = input.Byte() << 8;
        options.nBlockSize = TFTP_MIN_BLOCK_SIZE + (n | input.Byte()) % 4089;
    }
    if ((setup & 0x10) != 0)
        options.nWindowSize = 1 + input.Byte() % TFTP_MAX_WINDOW_SIZE;
    if ((setup & 0x20) != 0)
        options.nTimeout = 1 + input.Byte() % TFTP_MAX_TIMEOUT;
    if ((setup & 0x40) != 0) {
        options.bFileSize = true;
        options.nFileSize = input.Byte();
    }
    return options;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    CMessageBoxRecorder boxes;
    CWnd owner;
    FakeNetworkSocket sock(&owner);
    const uint8_t setup = input.Byte();
    const WORD direction = (setup & 1) != 0 ? DIRECTION_PUT : DIRECTION_GET;
    sock.failConnect = (setup & 2) != 0;
    const TftpOptions asked = OptionsFrom(setup, input);
    sock.SetOptions(asked);
    ULONGLONG now = 0;
    sock.SetClock([&now] { return now; });
    if ((setup & 4) == 0 && !sock.SendRequest("127.0.0.1:69", "fuzz.bin", direction, MODE_BINARY))
        std::abort();

    // As the session does: buffers of the largest packet the options allow.
    const size_t bufferSize = static_cast<size_t>(sock.PacketBufferSize());
    std::vector<uint8_t> packet(bufferSize);
    std::vector<uint8_t> receive(bufferSize);
    while (!input.Empty()) {
        const uint8_t command = input.Byte();
        const bool wasClosed = sock.m_wState == TFTP_STATE_CLOSED;
        switch (command & 3) {
        case 0:
        case 1: { // a datagram from the transfer port, or from another one
            sock.senderPort = (command & 1) != 0 ? 40000 : 50000;
            const size_t high = input.Byte();
            sock.datagram.resize(((high << 8) | input.Byte()) % (bufferSize + 17));
            sock.datagram.resize(input.Take(sock.datagram.data(), sock.datagram.size()));
            const int result = sock.Receive(receive.data(), static_cast<int>(receive.size()), 0);
            const int resultClass = result & TFTP_RESULT_CLASS_MASK;
            if (resultClass > TFTP_RESULT_ERROR)
                std::abort();
            // A block is never longer than the largest that may be granted,
            // nor the datagram than the buffer.
            if (resultClass == TFTP_RESULT_DATA &&
                (sock.DatagramLength() > TFTP_HEADER_SIZE + std::max(sock.Granted().nBlockSize, asked.nBlockSize) ||
                 static_cast<size_t>(sock.DatagramLength()) > receive.size() ||
                 (sock.DatagramLength() <= TFTP_RESULT_VALUE_MASK &&
                  (result & TFTP_RESULT_VALUE_MASK) != sock.DatagramLength())))
                std::abort();
            break;
        }
        case 2: // ticks, and the finer clock's time passing
            for (int tick = command >> 2; tick >= 0; --tick)
                sock.OnTick();
            now += static_cast<ULONGLONG>(command >> 2) * 97;
            sock.OnClock();
            break;
        default: // the next block of a Put
            sock.SendBlock(packet.data(), (command >> 2) * sock.Granted().nBlockSize / 32, 0);
            break;
        }
        // A grant stays within what was asked; the plain timing sends no
        // third resend without an answer (the adaptive one ends on silence).
        const TftpGranted& granted = sock.Granted();
        if (!ValidState(sock.m_wState) ||
            (!sock.Clocked() && sock.ResendsSinceAnswer() > static_cast<unsigned>(TFTP_RESENDS)) ||
            (wasClosed && sock.m_wState != TFTP_STATE_CLOSED) ||
            (granted.nBlockSize != TFTP_BLOCK_SIZE && granted.nBlockSize > asked.nBlockSize) ||
            (granted.nWindowSize != 1 && granted.nWindowSize > asked.nWindowSize) ||
            (granted.nTimeout != 0 && granted.nTimeout != asked.nTimeout))
            std::abort();
    }
    ASAN_UNPOISON_MEMORY_REGION(receive.data(), receive.size());
    return 0;
}
