// SPDX-License-Identifier: MIT
#include "log_dlg.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QAction>
#include <QBoxLayout>
#include <QClipboard>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTime>

#include "platform/core/format.h"
#include "platform/core/msgbox.h"
#include "platform/core/replace_file.h"
#include "res/resource.h"
#include "res/strings.h"

CLogDlg* g_pLogDlg = nullptr;
BOOL g_bLogVisible = FALSE;

BEGIN_MESSAGE_MAP(CLogDlg, CDialog)
ON_BN_CLICKED(IDC_LOG_SAVE, OnSave)
END_MESSAGE_MAP()

namespace {

// Writes all of text to fd; 0 or the errno of the failure.
int WriteAll(int fd, const QByteArray& text)
{
    const char* next = text.constData();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        next += written;
        left -= written;
    }
    return 0;
}

} // namespace

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

    // Long lines deserve a wider window: the list takes whatever room the
    // user gives, with the template's margins, and Save keeps its size.
    QDialog* window = GetSafeHwnd();
    auto* layout = new QVBoxLayout(window);
    const QRect margin = MapDialogRect(QRect(0, 0, 7, 4));
    layout->setContentsMargins(margin.width(), margin.width(), margin.width(), margin.width());
    layout->setSpacing(margin.height());
    layout->addWidget(list, 1);
    if (QWidget* save = GetDlgItem(IDC_LOG_SAVE)) {
        save->setFixedSize(save->size());
        layout->addWidget(save, 0, Qt::AlignRight);
    }
    MakeResizable();
    return TRUE;
}

void CLogDlg::MakeResizable()
{
    // Room for Save and a few lines at the least.
    GetSafeHwnd()->setMinimumSize(MapDialogRect(QRect(0, 0, 160, 60)).size());
    GetSafeHwnd()->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
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

int CLogDlg::SaveLog(const std::string& path) const
{
    QByteArray text;
    for (int row = 0; List() != nullptr && row < List()->count(); ++row) {
        QString line = List()->item(row)->text();
        // A line of the list stays one line of the file, whatever a peer's
        // words carried.
        for (QChar& c : line)
            if (c.category() == QChar::Other_Control)
                c = QLatin1Char(' ');
        text += line.toUtf8() + '\n';
    }
    ReplacementFile replacement;
    bool openInPlace = false;
    if (const int error = AfxBeginReplacement(path, &replacement, &openInPlace); error != 0)
        return error;
    if (openInPlace) { // a device, such as a terminal: written where it is
        const int fd = ::open(replacement.targetPath.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return errno;
        const int error = WriteAll(fd, text);
        ::close(fd);
        return error;
    }
    int error = WriteAll(replacement.fd, text);
    if (error == 0)
        error = AfxCommitReplacement(replacement);
    else
        ::close(replacement.fd);
    if (error != 0)
        ::unlinkat(replacement.dirFd, replacement.tempPath.c_str(), 0);
    return error;
}

std::string CLogDlg::AskSaveName()
{
    const std::string proposed =
        AfxFormatString(AfxFindString(IDS_LOG_SAVE_NAME),
                        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm")).toUtf8().constData());
    const QString chosen =
        QFileDialog::getSaveFileName(GetSafeHwnd(), QString::fromStdString(AfxLoadString(IDS_LOG_SAVE_TITLE)),
                                     QDir::current().filePath(QString::fromStdString(proposed)));
    return QFile::encodeName(chosen).toStdString(); // a file name is bytes
}

void CLogDlg::OnSave()
{
    const std::string path = AskSaveName();
    if (path.empty())
        return;
    if (const int error = SaveLog(path); error != 0)
        AfxMessageBox(AfxFormatString(AfxFindString(IDS_LOG_SAVE_FAILED), path.c_str(), std::strerror(error)), MB_OK);
}

void CLogDlg::ShowBelow(const QRect& frame)
{
    QDialog* window = GetSafeHwnd();
    if (window == nullptr)
        return;
    if (!m_bPlaced) {
        MoveWindow(frame.left(), frame.bottom() + 1, frame.width(), 180);
        MakeResizable(); // placed, not fixed
        m_bPlaced = true;
    } else {
        window->move(frame.left(), frame.bottom() + 1);
    }
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    ShowWindow(SW_SHOW);
    window->raise();
}
