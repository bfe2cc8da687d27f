// SPDX-License-Identifier: MIT
// The server's sockets on a network that has none: its listeners and
// transfers, and the test's clients, are endpoints (address and port) with
// queues. A datagram is in its receiver's queue the moment it is sent; the
// server reads what waits for it when the network is pumped, and nothing
// waits on the kernel.
#pragma once

#include <sys/socket.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/serve_core.h"
#include "tests/support/fake_peer.h"

class FakeServeNetwork : public CServeSockets {
public:
    // The interface a datagram arrives on unless its sender says otherwise.
    static constexpr int kLoopbackIndex = 1;

    // What waits at an endpoint, with where it was sent and how it arrived.
    struct Datagram {
        Bytes bytes;
        sockaddr_storage from = {};
        sockaddr_storage to = {};
        int nIfIndex = kLoopbackIndex;
    };

    // Something at an address and port that datagrams reach. It joins the
    // network when made and leaves it when it goes.
    class Endpoint {
    public:
        explicit Endpoint(FakeServeNetwork& network);
        virtual ~Endpoint();
        Endpoint(const Endpoint&) = delete;
        Endpoint& operator=(const Endpoint&) = delete;
        // Reads what waits, as a socket watcher's report would make it; false
        // when nothing was read (the endpoint is a client, or closed).
        virtual bool Wake() { return false; }

        sockaddr_storage address = {}; // AF_UNSPEC until it has one
        std::deque<Datagram> inbox;

    protected:
        // The next datagram into a buffer of nBufLen bytes, as a socket's read
        // gives it: its length, or SOCKET_ERROR with *pError EAGAIN (nothing
        // waits) or EMSGSIZE (too long, and dropped).
        int Take(void* lpBuf, int nBufLen, Datagram* pDatagram, int* pError);

        FakeServeNetwork& m_network;
    };

    std::unique_ptr<CServeListener> MakeListener(CServeCore& core, const sockaddr_storage& address,
                                                 const CTFTPServer::Binder& binder) override;
    std::unique_ptr<CServeTransfer> MakeTransfer(IServeHost& host, unsigned nId) override;

    // Puts bytes in the queue of the endpoint at `to`; lost when none is there.
    void Send(const sockaddr_storage& from, const sockaddr_storage& to, const Bytes& bytes,
              int nIfIndex = kLoopbackIndex);
    // Lets the server's sockets read until nothing waits for them; what waits
    // for a transfer that has closed is lost.
    void Pump();
    // The addresses listened on, a port given where none was asked for.
    std::vector<sockaddr_storage> Listening() const;
    // A port no endpoint has.
    UINT NextPort() { return m_nNextPort++; }

private:
    class Listener;
    class Transfer;
    std::vector<Endpoint*> m_endpoints; // in the order they joined
    UINT m_nNextPort = 40000;
};

// A client at an address of its own ("::1": IPv6) and a port the network gives.
class FakeClient : public FakeServeNetwork::Endpoint {
public:
    explicit FakeClient(FakeServeNetwork& network, const char* at = "127.0.0.1");

    // To port at the address `to` (by default the client's own).
    void SendTo(UINT port, const Bytes& datagram, const char* to = nullptr);
    // To the sender of the last datagram taken.
    void Reply(const Bytes& datagram);
    // Takes the datagram waiting now, if any.
    std::optional<Bytes> TryReceive();
    UINT LastSenderPort() const;
    // The address of the sender of the last datagram taken, as text.
    std::string LastSenderAddress() const;

    // The interface the client's datagrams arrive on at the server.
    int nIfIndex = FakeServeNetwork::kLoopbackIndex;

private:
    sockaddr_storage m_lastSender = {};
};
