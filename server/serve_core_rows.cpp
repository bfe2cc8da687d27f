// SPDX-License-Identifier: MIT
// CServeCore's rows of what became of each request, and its ticks: the
// transfers' resends and ends, and the summaries of refusals.
#include "server/serve_core.h"

#include <algorithm>
#include <cstdio>

#include "protocol/host_address.h"

namespace {

constexpr size_t kFinishedRows = 200;

const char* StateWord(ServeState state)
{
    switch (state) {
    case ServeState::done:
        return "complete";
    case ServeState::sizeQuery:
        return "size query";
    case ServeState::refused:
        return "refused";
    case ServeState::failed:
        return "failed";
    case ServeState::running:
    default:
        return "running";
    }
}

} // namespace

void CServeCore::OnTransferEnded(CServeTransfer& transfer)
{
    const ServeRow& row = transfer.Row();
    const double seconds = static_cast<double>(row.nEndMs - row.nStartMs) / 1000.0;
    char figures[96];
    std::snprintf(figures, sizeof figures, "%llu bytes in %.1f s, %u resends",
                  static_cast<unsigned long long>(row.nBytes), seconds, row.nResends);
    Log(std::string(row.wDirection == DIRECTION_GET ? "Read" : "Upload") + " of \"" + row.file + "\" by " +
        AddressText(row.client) + " " + StateWord(row.state) + ": " + figures +
        (row.reason.empty() ? std::string() : "; " + row.reason));
    AddFinished(row);
}

void CServeCore::AddFinished(ServeRow row)
{
    m_finished.push_back(std::move(row));
    while (m_finished.size() > kFinishedRows)
        m_finished.pop_front();
    Changed();
}

void CServeCore::Changed()
{
    if (m_bPosted || m_pOwner == nullptr)
        return;
    m_bPosted = true;
    m_pOwner->PostMessage(WM_SERVE_CHANGED, 0, 0);
}

void CServeCore::OnTick(ULONGLONG nNowMs)
{
    for (const auto& transfer : m_transfers)
        transfer->OnTick(nNowMs);
    std::erase_if(m_transfers, [](const auto& transfer) { return transfer->IsFinished(); });
    m_guard.Refusals().Summaries(nNowMs, [this](const sockaddr_storage& source, ULONGLONG nCount) {
        Log(std::to_string(nCount) + " more requests from " +
            (source.ss_family == AF_UNSPEC ? std::string("other addresses") : AddressOnlyText(source)) +
            " refused in the last minute");
    });
}

ULONGLONG CServeCore::NextDeadlineMs() const
{
    ULONGLONG next = m_guard.NextSummaryMs();
    for (const auto& transfer : m_transfers)
        next = std::min(next, transfer->NextDeadlineMs());
    return next;
}

const std::vector<ServeRow>& CServeCore::Rows() const
{
    m_bPosted = false;
    m_rows.assign(m_finished.begin(), m_finished.end());
    for (const auto& transfer : m_transfers)
        if (transfer->Row().state == ServeState::running)
            m_rows.push_back(transfer->Row());
    std::sort(m_rows.begin(), m_rows.end(), [](const ServeRow& a, const ServeRow& b) { return a.nId < b.nId; });
    return m_rows;
}

void CServeCore::ClearFinished()
{
    m_finished.clear();
    Changed();
}

size_t CServeCore::Running() const
{
    return static_cast<size_t>(std::count_if(m_transfers.begin(), m_transfers.end(),
                                             [](const auto& transfer) { return transfer->IsRunning(); }));
}
