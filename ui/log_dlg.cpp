// SPDX-License-Identifier: MIT
#include "log_dlg.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QListWidget>
#include <QTime>

#include "res/resource.h"
#include "res/strings.h"

CLogDlg* g_pLogDlg = nullptr;
BOOL g_bLogVisible = FALSE;

BEGIN_MESSAGE_MAP(CLogDlg, CDialog)
END_MESSAGE_MAP()

CLogDlg::CLogDlg(CWnd* pParent) : CDialog(IDD_LOG, pParent) {}

CLogDlg::~CLogDlg() = default;

QListWidget* CLogDlg::List() const
{
    return qobject_cast<QListWidget*>(GetDlgItem(IDC_LOG_LIST));
}

BOOL CLogDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    QListWidget* list = List();
    if (list == nullptr)
        return TRUE;
    const auto add = [list](UINT nText, const QKeySequence& key, auto handler) {
        auto* action = new QAction(QString::fromStdString(AfxLoadString(nText)), list);
        // Only this list's keys: the main window's keys pass on.
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
        QObject::connect(action, &QAction::triggered, list, handler);
        list->addAction(action);
    };
    add(IDS_LOG_COPY, QKeySequence::Copy, [this] { CopySelection(); });
    add(IDS_LOG_SELECT_ALL, QKeySequence::SelectAll, [list] { list->selectAll(); });
    add(IDS_LOG_CLEAR, QKeySequence(), [this] { ClearLog(); });
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    // Every line is one line high: adding one costs the same with 2,000 kept.
    list->setUniformItemSizes(true);
    return TRUE;
}

void CLogDlg::ClearLog()
{
    if (QListWidget* list = List())
        list->clear();
}

void CLogDlg::LogLine(std::string_view line)
{
    QListWidget* list = List();
    if (list == nullptr)
        return;
    const QString stamp = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    list->addItem(stamp + QLatin1Char(' ') + QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    while (list->count() > kMaxLines)
        delete list->takeItem(0);
    list->scrollToBottom();
}

void CLogDlg::CopySelection()
{
    QListWidget* list = List();
    QStringList lines;
    for (int row = 0; list != nullptr && row < list->count(); ++row) {
        if (list->item(row)->isSelected())
            lines.append(list->item(row)->text());
    }
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}
