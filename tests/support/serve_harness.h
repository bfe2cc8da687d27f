// SPDX-License-Identifier: MIT
// The server on a network without sockets, with fake clients, driven by
// hand: Pump delivers what waits, ticks are calls, and the clock is the
// harness's own. The network's interfaces are the harness's too: loopback
// only, unless a test sets others (CServeGuard::SetSubnetSource).
#pragma once

#include <netinet/in.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "server/server.h"
#include "tests/support/fake_peer.h"
#include "tests/support/fake_serve_network.h"
#include "tests/support/temp_dir.h"

using Options = std::vector<std::pair<std::string, std::string>>;

// An RRQ (1) or WRQ (2) with its options.
Bytes Request(WORD opcode, const std::string& name, const std::string& mode = "octet", const Options& options = {});
// "DATA 3 (512)", "ACK 0", "OACK blksize=1024 tsize=7", "ERROR 2 Access violation".
std::string Describe(const Bytes& datagram);
WORD WordAt(const Bytes& datagram, size_t offset);
// Bytes of every value, in a pattern of seed.
Bytes Content(size_t size, unsigned seed = 1);
sockaddr_storage Loopback(UINT port = 0);

class RecordingLog : public ITransferLog {
public:
    void LogLine(std::string_view line) override { lines.emplace_back(line); }
    // The lines that contain text.
    size_t Count(const std::string& text) const;
    std::vector<std::string> lines;
};

class ServeHarness {
public:
    ServeHarness();
    virtual ~ServeHarness();
    ServeHarness(const ServeHarness&) = delete;
    ServeHarness& operator=(const ServeHarness&) = delete;

    // The temporary folder on 127.0.0.1, a port of the network's choosing.
    ServeConfig Config() const;
    ServeStartError Start(const ServeConfig& config);

    // Delivers everything that waits, as the event loop would.
    void Pump();
    // Sends a datagram to the port the client last heard from, or with
    // toTransfer false to the listening port, and returns what came back.
    std::vector<std::string> Send(FakeClient& client, const Bytes& datagram, bool toTransfer = true);
    // What the client has been sent and not yet taken.
    std::vector<std::string> Heard(FakeClient& client);
    // Lets ms pass in ticks of 10 ms; returns what the client heard meanwhile.
    std::vector<std::string> Wait(FakeClient& client, ULONGLONG ms);
    // Reads as a client that acknowledges each window's last block; returns
    // the payloads in order (the OACK, if any, in oack).
    Bytes ReadAll(FakeClient& client, const Bytes& request, int blockSize = 512, int window = 1);
    // Uploads content in blocks, a window at a time; returns what the server said last.
    std::vector<std::string> Upload(FakeClient& client, const Bytes& request, const Bytes& content, int blockSize = 512,
                                    int window = 1);
    // The OACK that answers request ("" for none).
    std::string Granted(const Bytes& request);

    TempDir dir;
    FakeServeNetwork network; // before the server, which it outlives
    CWnd owner;
    RecordingLog log;
    ULONGLONG now = 100000;
    CTFTPServer server{&owner, &log, [this] { return now; }, &network};
    UINT port = 0;
    std::string oack;
    std::map<FakeClient*, Bytes> last; // the last datagram each client heard
};
