// SPDX-License-Identifier: MIT
#include "log_dlg.h"

#include <QListWidget>
#include <QTime>

#include "res/resource.h"

CLogDlg* g_pLogDlg = nullptr;
BOOL g_bLogVisible = FALSE;

BEGIN_MESSAGE_MAP(CLogDlg, CDialog)
END_MESSAGE_MAP()

CLogDlg::CLogDlg(CWnd* pParent) : CDialog(IDD_LOG, pParent) {}

CLogDlg::~CLogDlg() = default;

void CLogDlg::ClearLog()
{
    if (auto* list = qobject_cast<QListWidget*>(GetDlgItem(IDC_LOG_LIST)))
        list->clear();
}

void CLogDlg::LogLine(std::string_view line)
{
    auto* list = qobject_cast<QListWidget*>(GetDlgItem(IDC_LOG_LIST));
    if (list == nullptr || !g_bLogVisible)
        return;
    const QString stamp = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    list->addItem(stamp + QLatin1Char(' ') + QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    list->scrollToBottom();
}
