// SPDX-License-Identifier: MIT
// Reading a server's ERROR packet: the text is bounded by the datagram, and
// the text for any code, and the whole message, come without reading past
// the end.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/errors.h"
#include "protocol/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > TFTP_PACKET_BUFFER)
        return 0;
    // An exact copy: one byte too far is a heap overflow the sanitizer reports.
    std::vector<BYTE> datagram(data, data + size);
    const std::string_view message = PeerErrorMessage(datagram.data(), static_cast<int>(size));
    if (size <= 4 ? !message.empty() : message.size() > size - 4)
        std::abort();
    if (message.find('\0') != std::string_view::npos)
        std::abort();
    if (size >= 4) {
        const std::string text = PeerErrorText(datagram.data(), static_cast<int>(size));
        if (datagram[2] == 0 && datagram[3] == 0 && text != ShownPeerText(message))
            std::abort();
        // The whole message breaks lines only where the program does: the
        // server's text brings no control character into it.
        const std::string report =
            PeerErrorReport(DIRECTION_PUT, "name", "host", datagram.data(), static_cast<int>(size));
        for (const char c : report) {
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F)
                std::abort();
        }
    }
    return 0;
}
