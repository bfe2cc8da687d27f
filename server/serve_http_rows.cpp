// SPDX-License-Identifier: MIT
// CServeHttp's rows and log lines, as the TFTP server keeps them: one line
// per request and one per end, a row for each, refusals as far as the
// client's limits allow.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "protocol/host_address.h"
#include "server/serve_http.h"

namespace {

constexpr size_t kFinishedRows = 200;

} // namespace

ULONGLONG CServeHttp::AckedBytes(int fd)
{
    tcp_info info{};
    socklen_t length = sizeof info;
    if (fd < 0 || ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked)
        return 0;
    return info.tcpi_bytes_acked;
}

void CServeHttp::Log(const std::string& line)
{
    if (m_pLog != nullptr)
        m_pLog->LogLine(line);
}

void CServeHttp::Changed()
{
    if (m_bPosted || m_pOwner == nullptr)
        return;
    m_bPosted = true;
    m_pOwner->PostMessage(WM_SERVE_CHANGED, 0, 0);
}

void CServeHttp::AddFinished(ServeRow row)
{
    m_finished.push_back(std::move(row));
    while (m_finished.size() > kFinishedRows)
        m_finished.pop_front();
    Changed();
}

void CServeHttp::Refused(ServeRow row, const std::string& what)
{
    const ULONGLONG now = row.nStartMs;
    if (!m_guard.Refuse(row.client, now).bLog)
        return; // counted, and told in the client's summary
    Log(what + ": refused, " + row.reason);
    if (!m_guard.MayAddRow(row.client, row.file, now))
        return;
    row.nId = m_nNextId++;
    row.state = ServeState::refused;
    row.nEndMs = now;
    AddFinished(std::move(row));
}

void CServeHttp::Ended(Transfer& transfer, ServeReason code, const char* lpszReason)
{
    ServeRow& row = transfer.row;
    row.nEndMs = m_clock();
    if (code == ServeReason::none) {
        row.state = transfer.bHead ? ServeState::sizeQuery : ServeState::done;
        row.nBytes = transfer.nBody;
    } else {
        row.state = ServeState::failed;
        row.reason = lpszReason;
        row.reasonCode = code;
        const ULONGLONG acked = AckedBytes(transfer.socketFd);
        if (acked > transfer.nAckedBefore)
            row.nBytes = std::min(transfer.nBody, acked - transfer.nAckedBefore);
    }
    const double seconds = static_cast<double>(row.nEndMs - row.nStartMs) / 1000.0;
    char figures[64];
    std::snprintf(figures, sizeof figures, "%llu bytes in %.1f s", static_cast<unsigned long long>(row.nBytes),
                  seconds);
    const char* lpszState = row.state == ServeState::done        ? "complete"
                            : row.state == ServeState::sizeQuery ? "size query"
                                                                 : "failed";
    Log("HTTP read of \"" + row.file + "\" by " + AddressText(row.client) + " " + lpszState + ": " + figures +
        (row.reason.empty() ? std::string() : "; " + row.reason));
    ServeRow finished = std::move(row);
    std::erase_if(m_running, [&transfer](const auto& running) { return running.get() == &transfer; });
    AddFinished(std::move(finished));
}

const std::vector<ServeRow>& CServeHttp::Rows() const
{
    m_bPosted = false;
    m_rows.assign(m_finished.begin(), m_finished.end());
    for (const auto& transfer : m_running) {
        const ULONGLONG acked = AckedBytes(transfer->socketFd);
        if (acked > transfer->nAckedBefore)
            transfer->row.nBytes = std::min(transfer->nBody, acked - transfer->nAckedBefore);
        m_rows.push_back(transfer->row);
    }
    std::sort(m_rows.begin(), m_rows.end(), [](const ServeRow& a, const ServeRow& b) { return a.nId < b.nId; });
    return m_rows;
}

void CServeHttp::ClearFinished()
{
    m_finished.clear();
    Changed();
}
