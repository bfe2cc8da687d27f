// SPDX-License-Identifier: MIT
// The server's insides: the listening sockets, the transfers they start, and
// the rows of what became of each request. CTFTPServer is their face.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/socket.h"
#include "server/serve_admit.h"
#include "server/serve_guard.h"
#include "server/serve_transfer.h"
#include "server/server.h"

// Room for any request a client may send; RFC 2347 keeps them within 512 bytes.
inline constexpr int SERVE_REQUEST_BUFFER = 2048;

// A listening socket: each datagram is a request for the core to judge.
class CServeListener : public CAsyncSocket {
public:
    explicit CServeListener(CServeCore& core) : m_core(core) {}
    void OnReceive(int nErrorCode) override;

private:
    CServeCore& m_core;
};

// Where the server's sockets come from: this one makes real ones. A test
// passes one of its own that stands in for the network.
class CServeSockets {
public:
    virtual ~CServeSockets() = default;
    // A listener for core on a socket bound to address (by binder when it is
    // set, else by a plain bind) that tells where each datagram arrived.
    // Null, with errno set, when the socket cannot be had.
    virtual std::unique_ptr<CServeListener> MakeListener(CServeCore& core, const sockaddr_storage& address,
                                                         const CTFTPServer::Binder& binder);
    // A transfer that host runs, not yet started.
    virtual std::unique_ptr<CServeTransfer> MakeTransfer(IServeHost& host, unsigned nId);
};

class CServeCore : public IServeHost {
public:
    // pSockets null: real sockets.
    CServeCore(CWnd* pOwner, ITransferLog* pLog, CTFTPServer::Clock clock, CServeSockets* pSockets)
        : m_pSockets(pSockets != nullptr ? pSockets : &m_realSockets), m_pOwner(pOwner), m_pLog(pLog),
          m_clock(std::move(clock))
    {
    }
    ~CServeCore() override
    {
        // The owner may be going too: nothing is posted to it any more.
        m_pOwner = nullptr;
        Stop();
    }

    ServeStartError Start(const ServeConfig& config, const CTFTPServer::Binder& binder, std::string* pDetail);
    void Stop();
    void OnRequests(CServeListener& listener);
    void OnTick(ULONGLONG nNowMs);
    ULONGLONG NextDeadlineMs() const;
    const std::vector<ServeRow>& Rows() const;
    void ClearFinished();
    size_t Running() const;

    ULONGLONG NowMs() override { return m_clock(); }
    void Log(std::string_view line) override
    {
        if (m_pLog != nullptr)
            m_pLog->LogLine(line);
    }
    void OnTransferEnded(CServeTransfer& transfer) override;
    // A stranger outside the local networks, where only they are served,
    // learns nothing of the server; others are answered now and then.
    bool MayAnswer(const sockaddr_storage& to, ULONGLONG nNowMs) override
    {
        return (!m_policy.bLocalNetworksOnly || m_guard.IsLocal(to, 0, nNowMs)) && m_guard.Refuse(to, nNowMs).bAnswer;
    }

    ServePolicy m_policy;
    std::vector<std::unique_ptr<CServeListener>> m_listeners;

private:
    // Where a request came in: the address to answer from, and where it was
    // sent and on which interface.
    struct Arrival {
        sockaddr_storage local;
        DatagramArrival packet;
    };
    void OnRequest(CServeListener& listener, const BYTE* pDatagram, int nLength, const sockaddr_storage& from,
                   const Arrival& arrival, ULONGLONG nNowMs);
    // A request refused before any transfer: answered, logged and given a
    // row as far as the source's limits allow.
    void Refuse(CServeListener& listener, ServeRow row, const std::string& what, const sockaddr_storage& local,
                WORD wCode, const char* lpszText);
    // An ERROR from the listening socket, from the address the request came
    // to, no longer than nMaxLength bytes.
    void Answer(CServeListener& listener, const sockaddr_storage& to, const sockaddr_storage& local, WORD wCode,
                const char* lpszText, int nMaxLength = 128);
    void AddFinished(ServeRow row);
    void Changed();

    CServeSockets m_realSockets;
    CServeSockets* m_pSockets;
    CWnd* m_pOwner;
    ITransferLog* m_pLog;
    CTFTPServer::Clock m_clock;
    ServeConfig m_config;
    ServeFolder m_folder;
    CServeGuard m_guard;
    std::vector<std::unique_ptr<CServeTransfer>> m_transfers;
    std::deque<ServeRow> m_finished;
    mutable std::vector<ServeRow> m_rows;
    mutable bool m_bPosted = false;
    unsigned m_nNextId = 1;
    BYTE m_abRequest[SERVE_REQUEST_BUFFER] = {};
};
