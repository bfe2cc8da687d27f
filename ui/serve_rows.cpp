// SPDX-License-Identifier: MIT
// The Serve window's list: a row per transfer, newest first, and what a
// refused row advises.
#include <fcntl.h>
#include <sys/stat.h>

#include <QTreeWidget>

#include <algorithm>
#include <map>
#include <set>

#include "log_dlg.h"
#include "platform/core/format.h"
#include "res/resource.h"
#include "res/strings.h"
#include "serve_dlg.h"
#include "server/serve_names.h"
#include "transfer_meter.h"

namespace {

// The finished rows the list keeps, over every run; the oldest go first.
constexpr size_t kFinishedRowsKept = 1000;

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// Whether relative, beneath the folder, is a folder itself.
bool IsFolderBeneath(int folderFd, const std::string& relative)
{
    struct stat status {};
    return ::fstatat(folderFd, relative.c_str(), &status, 0) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

void CServeDlg::OnClear()
{
    std::erase_if(m_rows, [](const auto& shown) { return shown.second.row.state != ServeState::running; });
    auto* rows = qobject_cast<QTreeWidget*>(GetDlgItem(IDC_SERVE_TRANSFERS));
    for (int i = rows->topLevelItemCount() - 1; i >= 0; --i)
        if (rows->topLevelItem(i)->data(kState, Qt::UserRole).toBool())
            delete rows->takeTopLevelItem(i);
    ShowCount();
}

std::string CServeDlg::RowReason(const ServeRow& row, const std::string& client)
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
    case ServeReason::accessDenied:
        break;
    default:
        return reason;
    }
    const std::pair<ServeReason, std::string> key(row.reasonCode, row.file);
    auto found = m_hints.find(key);
    if (found == m_hints.end()) {
        found = m_hints.emplace(key, NameHint(row)).first;
        // The log says whose request it was: the hint alone would say little.
        if (!found->second.empty() && g_pLogDlg != nullptr)
            g_pLogDlg->LogLine(client + " \"" + row.file + "\": " + reason + "; " + found->second);
    }
    return found->second.empty() ? reason : reason + "; " + found->second;
}

std::string CServeDlg::NameHint(const ServeRow& row)
{
    if (row.wDirection != DIRECTION_GET || m_nFolderFd < 0)
        return {};
    const ServeName name = NormalizeServeName(row.file, m_settings.bBackslashIsSlash);
    if (name.wErrorCode != 0)
        return {};
    if (IsFolderBeneath(m_nFolderFd, name.relative))
        return AfxFormatString(AfxFindString(IDS_SERVE_IS_FOLDER), row.file.c_str());
    // A name that differs only in case (or by a backslash) is looked for
    // only for a file not found, and only where the server itself would not
    // find it.
    if (row.reasonCode != ServeReason::notFound || m_settings.bIgnoreCase)
        return {};
    const std::optional<std::string> match = FindCaseMatch(m_nFolderFd, name.relative);
    if (!match || *match == name.relative)
        return {};
    if (IsFolderBeneath(m_nFolderFd, *match))
        return AfxFormatString(AfxFindString(IDS_SERVE_IS_FOLDER), match->c_str());
    return AfxFormatString(AfxFindString(IDS_SERVE_CASE_HINT), row.file.c_str(), match->c_str());
}

void CServeDlg::ShowRows()
{
    m_bRowsChanged = false;
    // The finished rows kept: the newest; running ones always.
    size_t finished = 0;
    for (const auto& [key, shown] : m_rows)
        finished += shown.row.state != ServeState::running ? 1 : 0;
    for (auto it = m_rows.begin(); finished > kFinishedRowsKept && it != m_rows.end();) {
        if (it->second.row.state != ServeState::running) {
            it = m_rows.erase(it);
            --finished;
        } else {
            ++it;
        }
    }
    auto* view = qobject_cast<QTreeWidget*>(GetDlgItem(IDC_SERVE_TRANSFERS));
    std::map<qulonglong, QTreeWidgetItem*> listed;
    for (int i = 0; i < view->topLevelItemCount(); ++i)
        listed[view->topLevelItem(i)->data(kClient, Qt::UserRole).toULongLong()] = view->topLevelItem(i);
    const NumberStyle numbers;
    const ULONGLONG now = NowMs();
    std::set<std::string> names;
    for (const auto& [key, shown] : m_rows) {
        const ServeRow& row = shown.row;
        const qulonglong id = (static_cast<qulonglong>(key.first) << 32) | key.second;
        names.insert(row.file);
        const auto found = listed.find(id);
        QTreeWidgetItem* item = found != listed.end() ? found->second : nullptr;
        if (item == nullptr) {
            item = new QTreeWidgetItem;
            item->setData(kClient, Qt::UserRole, id);
            view->insertTopLevelItem(0, item); // newest first
        } else {
            listed.erase(found);
        }
        const bool ended = row.state != ServeState::running;
        const ULONGLONG elapsed =
            std::max<ULONGLONG>((ended ? row.nEndMs : std::max(now, row.nStartMs)) - row.nStartMs, 1);
        const char* states[] = {"running", "done", "failed", "refused", "size query"};
        std::string state = states[static_cast<int>(row.state)];
        const std::string reason = RowReason(row, shown.client);
        if (!reason.empty())
            state += ": " + reason;
        const std::string bytes = FormatCount(row.nBytes, numbers) +
                                  (row.bSizeKnown ? " / " + FormatCount(row.nSize, numbers) : std::string());
        const std::string direction = row.wDirection == DIRECTION_GET ? "get" : "put";
        const bool boot = shown.kind == ShownRow::Kind::boot;
        // A boot is a machine told its file: no bytes, no rate, no resends.
        const std::string texts[kColumns] = {shown.client,
                                             row.file,
                                             boot                                 ? "boot"
                                             : shown.kind == ShownRow::Kind::http ? "HTTP " + direction
                                                                                  : direction,
                                             row.granted,
                                             boot ? "" : bytes,
                                             "",
                                             boot ? "" : FormatRate(row.nBytes * 8000 / elapsed, numbers),
                                             boot ? "" : std::to_string(row.nResends),
                                             boot ? "answered" : state};
        // What a narrow column cuts is in its tooltip.
        for (int column = 0; column < kColumns; ++column) {
            item->setText(column, Text(texts[column]));
            item->setToolTip(column, Text(texts[column]));
        }
        item->setData(kProgress, Qt::UserRole,
                      boot ? -1
                      : row.bSizeKnown && row.nSize > 0
                          ? static_cast<int>(std::min<ULONGLONG>(row.nBytes * 100 / row.nSize, 100))
                      : ended && row.state == ServeState::done ? 100
                                                               : -1);
        item->setData(kState, Qt::UserRole, ended);
        // A boot is no transfer: the count leaves it out.
        item->setData(kState, Qt::UserRole + 1, boot ? -1 : static_cast<int>(row.state));
    }
    // What the window no longer keeps goes from the list too, and with it
    // the hints of names no row shows.
    for (const auto& [id, item] : listed)
        delete item;
    std::erase_if(m_hints, [&names](const auto& hint) { return names.count(hint.first.second) == 0; });
    ShowCount();
}
