// SPDX-License-Identifier: MIT
// Drives a whole transfer of the server from a script: the request, then
// datagrams from the client and from strangers, time passing, and Stop,
// behind a fake network. The sanitizers watch the reads of untrusted bytes;
// the checks below watch what the server sends and how its row ends.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "protocol/packet.h"
#include "server/serve_admit.h"
#include "server/serve_transfer.h"

namespace {

// The served folder, made once: files around one block and past several.
const std::string& Folder()
{
    static const std::string folder = [] {
        std::string path = (std::filesystem::temp_directory_path() / "tarnwick-serve-fuzz-XXXXXX").string();
        if (::mkdtemp(path.data()) == nullptr)
            std::abort();
        for (size_t size : {size_t{0}, size_t{511}, size_t{512}, size_t{513}, size_t{5000}}) {
            std::ofstream out(path + "/f" + std::to_string(size), std::ios::binary);
            for (size_t i = 0; i < size; ++i)
                out.put(static_cast<char>(i % 7 == 0 ? '\n' : i % 13 == 0 ? '\r' : 'a' + i % 26));
        }
        return path;
    }();
    return folder;
}

sockaddr_storage Endpoint(uint16_t port)
{
    sockaddr_storage address{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

constexpr uint16_t kClientPort = 40000;

class FakeHost : public IServeHost {
public:
    ULONGLONG NowMs() override { return now; }
    void Log(std::string_view line) override
    {
        if (line.size() > 1000)
            std::abort(); // every line is bounded
    }
    void OnTransferEnded(CServeTransfer&) override { ++ended; }
    bool MayAnswer(const sockaddr_storage&, ULONGLONG) override { return true; }

    ULONGLONG now = 1000000;
    int ended = 0;
};

// The network: nothing is bound, sends are checked and counted.
class FakeNetworkTransfer : public CServeTransfer {
public:
    using CServeTransfer::CServeTransfer;

    int SendTo(const void* lpBuf, int nBufLen, const sockaddr* lpSockAddr, int, int) override
    {
        const auto* datagram = static_cast<const BYTE*>(lpBuf);
        const auto& to = *reinterpret_cast<const sockaddr_in*>(lpSockAddr);
        if (nBufLen < 4 || IsFinished())
            std::abort();
        const WORD opcode = GetWord(datagram);
        if (opcode == TFTP_OPCODE_DATA) {
            if (nBufLen > Granted().nBlockSize + TFTP_HEADER_SIZE || ntohs(to.sin_port) != kClientPort)
                std::abort();
            ++dataSent;
        } else if (opcode != TFTP_OPCODE_ACK && opcode != TFTP_OPCODE_ERROR && opcode != TFTP_OPCODE_OACK) {
            std::abort();
        }
        return nBufLen;
    }

    int dataSent = 0;

protected:
    bool OpenSocket(const sockaddr_storage&) override { return true; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    static const int dirFd = ::open(Folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        std::abort();

    // The request, as a client would send it to the listening port.
    uint8_t request[600];
    const size_t requestLength = input.Take(request, input.Byte() * 3u % sizeof request);
    const ServeRequestVerdict verdict = ParseServeRequest(request, static_cast<int>(requestLength));
    if (verdict.answer != ServeAnswer::accept)
        return 0;
    ServeFolder folder;
    folder.dirFd = dirFd;
    folder.limits = ServeLimits{1024, 8};
    const ServePolicy policy{true, true, true, true};
    ServeAdmission admission = verdict.request.wOpcode == TFTP_OPCODE_RRQ
                                   ? AdmitRead(verdict.request, folder)
                                   : AdmitWrite(verdict.request, folder, policy, {});
    if (admission.bRefused)
        return 0;

    FakeHost host;
    FakeNetworkTransfer transfer(host, 1);
    ServeStart start;
    start.client = Endpoint(kClientPort);
    start.local = Endpoint(0);
    start.wOpcode = verdict.request.wOpcode;
    start.grant = admission.grant;
    start.pFile = std::move(admission.pFile);
    start.nRoom = admission.nRoom;
    start.nAdmittedSize = admission.nAdmittedSize;
    transfer.Start(std::move(start), host.now);

    bool answered = false;
    uint8_t datagram[1100];
    while (!input.Empty() && !transfer.IsFinished()) {
        const bool wasRunning = transfer.IsRunning();
        const uint8_t command = input.Byte();
        switch (command & 3) {
        case 0:
        case 1: { // a datagram from the client, or from a stranger
            const bool client = (command & 1) != 0;
            const size_t length = input.Take(datagram, input.Byte() * 5u % sizeof datagram);
            transfer.OnDatagram(datagram, static_cast<int>(length), Endpoint(client ? kClientPort : 50000), host.now);
            answered = answered || (client && length >= 4);
            break;
        }
        case 2: // time passes, in ticks of 10 ms
            for (int tick = 0; tick <= (command >> 2) * 4; ++tick) {
                host.now += 10;
                transfer.OnTick(host.now);
            }
            break;
        default:
            if ((command & 4) != 0)
                transfer.OnOversized(Endpoint((command & 8) != 0 ? kClientPort : 50000), host.now);
            else
                transfer.Abort("Server stopped", host.now);
            break;
        }
        // An end is final, and the host hears of it once.
        if ((!wasRunning && transfer.IsRunning()) || host.ended > 1)
            std::abort();
        // A client that has sent nothing gets at most three DATA datagrams.
        if (!answered && transfer.dataSent > 3)
            std::abort();
    }
    transfer.Abort("Server stopped", host.now);
    if (host.ended != 1 || transfer.Row().state == ServeState::running)
        std::abort();
    return 0;
}
