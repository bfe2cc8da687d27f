// SPDX-License-Identifier: MIT
// IPv4 and IPv6 datagram sockets with the framework's calling conventions: calls
// return SOCKET_ERROR (or FALSE) on failure and leave the reason for
// GetLastError, which is an errno value. No call waits: a read with nothing
// queued fails at once with EAGAIN, except inside a CReceiveWait, where it
// waits up to CReceiveWait::kReceiveWaitMs.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include "afxtypes.h"
#include "socket_packet_info.h"

class ISocketWatcher;

// Notification mask bits accepted by Create; only reads are ever reported.
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

// While one lives, a socket read that finds nothing queued waits up to
// kReceiveWaitMs for a datagram before it fails with EAGAIN; TimedOut then
// says so. For a socket watcher only: after a datagram has been answered, it
// can read the reply where it is, without a round through its event loop.
class CReceiveWait {
public:
    static constexpr int kReceiveWaitMs = 2;

    CReceiveWait();
    ~CReceiveWait();
    CReceiveWait(const CReceiveWait&) = delete;
    CReceiveWait& operator=(const CReceiveWait&) = delete;

    // A read inside this wait found nothing within kReceiveWaitMs.
    bool TimedOut() const { return m_bTimedOut; }

private:
    friend class CAsyncSocket;
    CReceiveWait* m_pOuter;
    bool m_bTimedOut = false;
};

// The I/O calls are virtual so that a fake socket can stand in for the
// network: the tests and fuzz targets of the client's transfer socket and of
// the server's transfer.
class CAsyncSocket {
public:
    CAsyncSocket() = default;
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;
    // Closes the socket if one is open.
    virtual ~CAsyncSocket();

    // Makes a non-blocking socket of nAddressFamily (AF_INET or AF_INET6)
    // bound to all local addresses at nSocketPort (0: a port the system
    // chooses), or to lpszSocketAddress. With FD_READ in lEvent, the installed
    // socket watcher calls OnReceive whenever a datagram waits.
    virtual BOOL Create(UINT nSocketPort = 0, int nSocketType = SOCK_DGRAM,
                        long lEvent = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
                        const char* lpszSocketAddress = nullptr, int nAddressFamily = AF_INET);
    // Makes a socket as Create does, bound to local (IPv4 or IPv6, any
    // port; an IPv6 address keeps its scope).
    BOOL CreateAt(const sockaddr_storage& local, long lEvent = FD_READ);
    // Takes over fd, a datagram socket already bound (by AfxBindDatagramSocket
    // or by another process that passed it over); it is this object's to
    // close from now on, and with FD_READ the watcher reports on it.
    BOOL Attach(int fd, long lEvent = FD_READ);
    void Close();

    virtual int SendTo(const void* lpBuf, int nBufLen, const sockaddr* lpSockAddr, int nSockAddrLen, int nFlags = 0);

    // Reads one whole datagram and its sender. A datagram longer than nBufLen
    // is discarded and the call fails with EMSGSIZE; it is never cut short.
    virtual int ReceiveFrom(void* lpBuf, int nBufLen, sockaddr* lpSockAddr, int* lpSockAddrLen, int nFlags = 0);

    // The packet-info calls (socket_packet_info.cpp). Asks the system to tell,
    // with each datagram, the local address it was sent to (IP_PKTINFO,
    // IPV6_RECVPKTINFO): see ReceiveFromWithLocal.
    BOOL EnablePacketInfo();
    // ReceiveFrom, and in *pLocal the local address to answer from: the
    // datagram's destination, or for one sent to a broadcast address the
    // receiving interface's own address; port 0, and for IPv6 the receiving
    // interface as the scope. AF_UNSPEC when the system did not say
    // (EnablePacketInfo not called). An IPv6 multicast destination is
    // reported as it is.
    // With pArrival, also the address the datagram was sent to (a broadcast
    // or multicast one as it is) and the interface it arrived on.
    virtual int ReceiveFromWithLocal(void* lpBuf, int nBufLen, sockaddr_storage* pFrom, sockaddr_storage* pLocal,
                                     int nFlags = 0, DatagramArrival* pArrival = nullptr);
    // SendTo from the local address `from` (as ReceiveFromWithLocal gave
    // it) rather than the one the system would choose; an AF_UNSPEC `from`
    // leaves the choice to the system.
    virtual int SendToFrom(const void* lpBuf, int nBufLen, const sockaddr_storage& to, const sockaddr_storage& from,
                           int nFlags = 0);

    // From a successful Connect on, only datagrams from that address and port
    // arrive and Send goes there.
    virtual BOOL Connect(const sockaddr* lpSockAddr, int nSockAddrLen);
    // Asks the system for a receive buffer of nBytes (it may grant less).
    BOOL SetReceiveBufferSize(int nBytes);
    virtual int Send(const void* lpBuf, int nBufLen, int nFlags = 0);
    // Reads one whole datagram; too long a datagram fails as in ReceiveFrom.
    virtual int Receive(void* lpBuf, int nBufLen, int nFlags = 0);

    // Called by the socket watcher when a datagram waits; nErrorCode is 0.
    virtual void OnReceive(int nErrorCode);
    // Called by a watcher that goes before the socket: nothing to leave then.
    void DetachWatcher() { m_pWatcher = nullptr; }

    static int GetLastError();

    int m_hSocket = -1;

protected:
    static void SetLastError(int nError);

private:
    // Sets the receive timeout of a CReceiveWait and registers with the watcher.
    BOOL Adopt(int fd, long lEvent);
    // MSG_DONTWAIT, or 0 inside a CReceiveWait.
    static int ReadFlags();
    // Passes a read's result through, telling a CReceiveWait of a wait in vain.
    static int NoteRead(int nResult);
    // A system call's result as the framework returns it: SOCKET_ERROR, with
    // errno as the last error, when it failed.
    static int Checked(ssize_t nResult);

    // The watcher this socket registered with; it leaves that one on Close.
    ISocketWatcher* m_pWatcher = nullptr;
};

// A datagram socket bound to address (its port set; an IPv6 socket takes
// only IPv6, IPV6_V6ONLY). Returns the descriptor, or -1 with errno set.
int AfxBindDatagramSocket(const sockaddr_storage& address);

// The framework's blocking socket; here it adds nothing: no read waits
// longer than a CReceiveWait allows, so none needs a blocking variant.
class CSocket : public CAsyncSocket {};
