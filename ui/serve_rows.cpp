// SPDX-License-Identifier: MIT
// The Serve window's list: a row per transfer, newest first, and what a
// refused row advises.
#include <QTreeWidget>

#include <algorithm>
#include <map>
#include <set>

#include "log_dlg.h"
#include "platform/core/format.h"
#include "protocol/host_address.h"
#include "res/resource.h"
#include "res/strings.h"
#include "serve_dlg.h"
#include "server/serve_names.h"
#include "transfer_meter.h"

namespace {

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

void CServeDlg::OnClear()
{
    if (m_pServer != nullptr)
        m_pServer->ClearFinished();
    auto* rows = qobject_cast<QTreeWidget*>(GetDlgItem(IDC_SERVE_TRANSFERS));
    for (int i = rows->topLevelItemCount() - 1; i >= 0; --i)
        if (rows->topLevelItem(i)->data(kState, Qt::UserRole).toBool())
            delete rows->takeTopLevelItem(i);
}

std::string CServeDlg::RowReason(const ServeRow& row)
{
    const std::string& reason = row.reason;
    // The advice of a refusal: which box to tick, or the name that exists.
    switch (row.reasonCode) {
    case ServeReason::uploadsOff:
        return reason + "; " + AfxLoadString(IDS_SERVE_TICK_UPLOAD);
    case ServeReason::createOff:
        return reason + "; " + AfxLoadString(IDS_SERVE_TICK_CREATE);
    case ServeReason::exists:
        return row.state == ServeState::refused ? reason + "; " + AfxLoadString(IDS_SERVE_TICK_REPLACE) : reason;
    case ServeReason::notFound:
        break;
    default:
        return reason;
    }
    // A name that differs only in case (or by a backslash) is looked for
    // once, and only where the server itself would not find it.
    if (m_settings.bIgnoreCase || row.wDirection != DIRECTION_GET || m_nFolderFd < 0)
        return reason;
    const auto found = m_hints.find(row.file);
    if (found != m_hints.end())
        return found->second.empty() ? reason : reason + "; " + found->second;
    std::string hint;
    const ServeName name = NormalizeServeName(row.file, true);
    if (name.wErrorCode == 0)
        if (const std::optional<std::string> match = FindCaseMatch(m_nFolderFd, name.relative))
            hint = AfxFormatString(AfxFindString(IDS_SERVE_CASE_HINT), row.file.c_str(), match->c_str());
    if (!hint.empty() && g_pLogDlg != nullptr)
        g_pLogDlg->LogLine(hint);
    m_hints[row.file] = hint;
    return hint.empty() ? reason : reason + "; " + hint;
}

void CServeDlg::ShowRows()
{
    m_bRowsChanged = false;
    if (m_pServer == nullptr)
        return;
    auto* view = qobject_cast<QTreeWidget*>(GetDlgItem(IDC_SERVE_TRANSFERS));
    std::map<unsigned, QTreeWidgetItem*> shown;
    for (int i = 0; i < view->topLevelItemCount(); ++i)
        shown[view->topLevelItem(i)->data(kClient, Qt::UserRole).toUInt()] = view->topLevelItem(i);
    const NumberStyle numbers;
    const ULONGLONG now = NowMs();
    std::set<std::string> names;
    for (const ServeRow& row : m_pServer->Rows()) {
        m_bRequestSeen = true;
        names.insert(row.file);
        QTreeWidgetItem* item = shown.count(row.nId) != 0 ? shown[row.nId] : nullptr;
        if (item == nullptr) {
            item = new QTreeWidgetItem;
            item->setData(kClient, Qt::UserRole, row.nId);
            view->insertTopLevelItem(0, item); // newest first
        }
        const bool finished = row.state != ServeState::running;
        const ULONGLONG elapsed = std::max<ULONGLONG>((finished ? row.nEndMs : now) - row.nStartMs, 1);
        const char* states[] = {"running", "done", "failed", "refused", "size query"};
        std::string state = states[static_cast<int>(row.state)];
        const std::string reason = RowReason(row);
        if (!reason.empty())
            state += ": " + reason;
        const std::string bytes = FormatCount(row.nBytes, numbers) +
                                  (row.bSizeKnown ? " / " + FormatCount(row.nSize, numbers) : std::string());
        const std::string texts[kColumns] = {AddressText(row.client),
                                             row.file,
                                             row.wDirection == DIRECTION_GET ? "get" : "put",
                                             row.granted,
                                             bytes,
                                             "",
                                             FormatRate(row.nBytes * 8000 / elapsed, numbers),
                                             std::to_string(row.nResends),
                                             state};
        // What a narrow column cuts is in its tooltip.
        for (int column = 0; column < kColumns; ++column) {
            item->setText(column, Text(texts[column]));
            item->setToolTip(column, Text(texts[column]));
        }
        item->setData(kProgress, Qt::UserRole,
                      row.bSizeKnown && row.nSize > 0
                          ? static_cast<int>(std::min<ULONGLONG>(row.nBytes * 100 / row.nSize, 100))
                      : finished && row.state == ServeState::done ? 100
                                                                  : -1);
        item->setData(kState, Qt::UserRole, finished);
        shown.erase(row.nId);
    }
    // What the server no longer keeps goes from the list too, and with it
    // the hints of names no row shows.
    for (const auto& [id, item] : shown)
        delete item;
    std::erase_if(m_hints, [&names](const auto& hint) { return names.count(hint.first) == 0; });
}
