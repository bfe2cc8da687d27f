// SPDX-License-Identifier: MIT
#include "serve_harness.h"

#include <arpa/inet.h>

#include <algorithm>

#include "server/serve_guard.h"

Bytes Request(WORD opcode, const std::string& name, const std::string& mode, const Options& options)
{
    std::string text{'\0', static_cast<char>(opcode)};
    text += name + '\0' + mode + '\0';
    for (const auto& [option, value] : options)
        text += option + '\0' + value + '\0';
    return BytesOf(text);
}

WORD WordAt(const Bytes& datagram, size_t offset)
{
    return datagram.size() < offset + 2 ? 0xFFFF : static_cast<WORD>((datagram[offset] << 8) | datagram[offset + 1]);
}

std::string Describe(const Bytes& datagram)
{
    switch (WordAt(datagram, 0)) {
    case 3:
        return "DATA " + std::to_string(WordAt(datagram, 2)) + " (" + std::to_string(datagram.size() - 4) + ")";
    case 4:
        return "ACK " + std::to_string(WordAt(datagram, 2));
    case 5:
        return "ERROR " + std::to_string(WordAt(datagram, 2)) + " " +
               std::string(datagram.begin() + 4, datagram.end() - (datagram.back() == 0 ? 1 : 0));
    case 6: {
        std::string text = "OACK";
        bool name = true;
        for (size_t i = 2; i < datagram.size(); ++i) {
            if (datagram[i] == 0) {
                text += name ? "=" : "";
                name = !name;
            } else {
                if (name && text.back() != '=' && (i == 2 || datagram[i - 1] == 0))
                    text += ' ';
                text += static_cast<char>(datagram[i]);
            }
        }
        return text;
    }
    default:
        return "opcode " + std::to_string(WordAt(datagram, 0));
    }
}

sockaddr_storage Loopback(UINT port)
{
    sockaddr_storage address{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(port));
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

Bytes Content(size_t size, unsigned seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<BYTE>((i * 131 + seed * 7 + i / 256) & 0xFF);
    return bytes;
}

size_t RecordingLog::Count(const std::string& text) const
{
    return static_cast<size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
}

ServeHarness::ServeHarness()
{
    CServeGuard::SetSubnetSource([] {
        LocalSubnet v4{AF_INET, {127}, {255}, FakeServeNetwork::kLoopbackIndex, 65536, true};
        LocalSubnet v6{AF_INET6, {}, {}, FakeServeNetwork::kLoopbackIndex, 65536, true};
        v6.address[15] = 1;
        std::fill(std::begin(v6.mask), std::end(v6.mask), BYTE{0xFF});
        return std::vector<LocalSubnet>{v4, v6};
    });
}

ServeHarness::~ServeHarness()
{
    CServeGuard::SetSubnetSource({});
}

ServeConfig ServeHarness::Config() const
{
    ServeConfig config;
    config.folder = dir.Path().string();
    config.listen = {Loopback()};
    config.nPort = 0;
    return config;
}

ServeStartError ServeHarness::Start(const ServeConfig& config)
{
    const ServeStartError error = server.Start(config);
    if (error == ServeStartError::none)
        port = ntohs(reinterpret_cast<const sockaddr_in&>(network.Listening().at(0)).sin_port);
    return error;
}

void ServeHarness::Pump()
{
    network.Pump();
}

std::vector<std::string> ServeHarness::Send(FakeClient& client, const Bytes& datagram, bool toTransfer)
{
    if (toTransfer)
        client.Reply(datagram);
    else
        client.SendTo(port, datagram);
    Pump();
    return Heard(client);
}

std::vector<std::string> ServeHarness::Heard(FakeClient& client)
{
    std::vector<std::string> heard;
    while (std::optional<Bytes> datagram = client.TryReceive()) {
        heard.push_back(Describe(*datagram));
        last[&client] = *datagram;
    }
    return heard;
}

std::vector<std::string> ServeHarness::Wait(FakeClient& client, ULONGLONG ms)
{
    std::vector<std::string> heard;
    for (ULONGLONG waited = 0; waited < ms; waited += 10) {
        now += 10;
        server.OnTick(now);
        Pump();
        for (const std::string& datagram : Heard(client))
            heard.push_back(datagram);
    }
    return heard;
}

Bytes ServeHarness::ReadAll(FakeClient& client, const Bytes& request, int blockSize, int window)
{
    client.SendTo(port, request);
    Pump();
    Bytes content;
    std::optional<Bytes> datagram = client.TryReceive();
    if (datagram && WordAt(*datagram, 0) == 6) {
        oack = Describe(*datagram);
        client.Reply(AckPacket(0));
        Pump();
        datagram = client.TryReceive();
    }
    for (int inWindow = 1; datagram && WordAt(*datagram, 0) == 3; ++inWindow) {
        const bool lastBlock = datagram->size() - 4 < static_cast<size_t>(blockSize);
        content.insert(content.end(), datagram->begin() + 4, datagram->end());
        if (lastBlock || inWindow == window) {
            client.Reply(AckPacket(WordAt(*datagram, 2)));
            Pump();
            inWindow = 0;
        }
        if (lastBlock)
            break;
        datagram = client.TryReceive();
    }
    return content;
}

std::vector<std::string> ServeHarness::Upload(FakeClient& client, const Bytes& request, const Bytes& content,
                                              int blockSize, int window)
{
    std::vector<std::string> heard = Send(client, request, false);
    if (heard.size() != 1 || (heard[0] != "ACK 0" && heard[0].rfind("OACK", 0) != 0))
        return heard;
    const size_t size = static_cast<size_t>(blockSize);
    const size_t blocks = content.size() / size + 1;
    for (size_t block = 0; block < blocks;) {
        for (int i = 0; i < window && block < blocks; ++i, ++block) {
            const auto from = content.begin() + static_cast<long>(block * size);
            const auto to = content.begin() + static_cast<long>(std::min(content.size(), (block + 1) * size));
            client.Reply(DataPacket(static_cast<WORD>(block + 1), Bytes(from, to)));
        }
        Pump();
        heard = Heard(client);
        if (heard != std::vector<std::string>{"ACK " + std::to_string(static_cast<WORD>(block))})
            return heard;
    }
    return heard;
}

std::string ServeHarness::Granted(const Bytes& request)
{
    oack.clear();
    FakeClient client(network);
    (void)ReadAll(client, request);
    return oack;
}
