// SPDX-License-Identifier: MIT
// tarnwick-serve --netboot: beside the TFTP server, in the same loop, the
// proxy DHCP that tells boot firmware on one interface what to load, and the
// folder over HTTP on the same address. Both are bound before the process
// confines itself.
#pragma once

#include <string>
#include <vector>

#include "platform/core/event_loop.h"
#include "server/proxy_dhcp_socket.h"
#include "server/serve_http.h"
#include "server/serve_options.h"
#include "server/serve_output.h"

class CServeNetboot {
public:
    // pRowsChanged gets WM_SERVE_CHANGED when an HTTP row comes or ends;
    // pLog the lines of both servers; pOutput a "boot" for each machine
    // answered. All outlive this.
    CServeNetboot(CWnd* pRowsChanged, ITransferLog* pLog, CServeOutput* pOutput);
    ~CServeNetboot();
    CServeNetboot(const CServeNetboot&) = delete;
    CServeNetboot& operator=(const CServeNetboot&) = delete;

    // Serves HTTP on the --listen address, then the proxy DHCP on its
    // interface, both watched by loop. "" when both serve; else the line that
    // says why and what to do, with nothing left open.
    std::string Start(const ServeOptions& options, CEventLoop& loop);
    // Ends every HTTP transfer (their rows end "Server stopped") and closes
    // every socket.
    void Stop();

    // The HTTP port listened on (0: none), for the confinement.
    UINT HttpPort() const { return m_http.Port(); }
    // When OnTick is due (~0ULL: nothing waits), of AfxMonotonicMs.
    ULONGLONG NextDeadlineMs() const { return m_http.NextDeadlineMs(); }
    void OnTick() { m_http.OnReady(); }
    const std::vector<ServeRow>& HttpRows() const { return m_http.Rows(); }
    size_t Running() const { return m_http.Running(); }

private:
    CEventLoop* m_pLoop = nullptr;
    std::vector<int> m_watched; // the HTTP server's descriptors in the loop
    int m_nFolderFd = -1;       // for the boot files' existence, asked after confinement too
    bool m_bIgnoreCase = false;
    CServeHttp m_http;
    CProxyDhcpServer m_dhcp;
};
