// SPDX-License-Identifier: MIT
// Both ends of a transfer on a network that has no sockets: what an end
// sends is kept, what it receives is handed in, and time is the test's.
// Nothing waits on the kernel, so nothing depends on a datagram arriving.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "client/session.h"
#include "server/serve_transfer.h"
#include "tests/support/fake_peer.h"
#include "tests/support/temp_dir.h"

// What one end of a transfer looks like to a table: datagrams in, time on,
// datagrams out, each told as Describe tells it ("DATA 3 (512)", "ACK 2").
class FakeNetworkEnd {
public:
    virtual ~FakeNetworkEnd() = default;
    virtual void Deliver(const Bytes& datagram) = 0;
    // ms pass, and the end reads its clock.
    virtual void Wait(ULONGLONG ms) = 0;
    // What the end sent since the last call.
    std::vector<std::string> Sent();

protected:
    std::vector<Bytes> m_sent;
};

// A client's transfer, CTFTPSession with its datagrams kept, locked in to
// the server's transfer port as soon as it answers.
class FakeNetworkClient : public FakeNetworkEnd {
public:
    // Starts a Get of "f.bin" into dir, or a Put of dir/"local.bin", asking
    // for options; the request is sent, and what the server answers next is
    // the test's to Deliver.
    FakeNetworkClient(TempDir& dir, WORD wDirection, const TftpOptions& options);
    ~FakeNetworkClient() override;
    void Deliver(const Bytes& datagram) override;
    void Wait(ULONGLONG ms) override;
    // The messages the session posted, WM_TFTP_COMPLETE last for a whole transfer.
    std::vector<UINT> Messages();

private:
    class Session;
    CWnd m_owner;
    std::unique_ptr<Session> m_pSession;
};

// A server's transfer of "f.bin" in dir (a read, or an upload that may
// create it), started as the server starts it once the request is admitted.
class FakeNetworkServer : public FakeNetworkEnd, private IServeHost {
public:
    FakeNetworkServer(TempDir& dir, WORD wOpcode, const std::vector<std::pair<std::string, std::string>>& options);
    ~FakeNetworkServer() override;
    void Deliver(const Bytes& datagram) override;
    void Wait(ULONGLONG ms) override;
    const ServeRow& Row() const;

private:
    class Transfer;
    ULONGLONG NowMs() override { return m_nNowMs; }
    void Log(std::string_view) override {}
    void OnTransferEnded(CServeTransfer&) override {}
    bool MayAnswer(const sockaddr_storage&, ULONGLONG) override { return true; }

    ULONGLONG m_nNowMs = 1000000;
    int m_dirFd = -1;
    std::unique_ptr<Transfer> m_pTransfer;
};
