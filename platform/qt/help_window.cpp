// SPDX-License-Identifier: MIT
#include "help_window.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextBrowser>
#include <QVBoxLayout>

CHelpWindow::CHelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), m_pBrowser(new QTextBrowser(this)), m_pFind(new QLineEdit(this))
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pBrowser);
    layout->addWidget(m_pFind);
    m_pBrowser->setOpenExternalLinks(false);
    m_pFind->setClearButtonEnabled(true);
    m_pFind->hide();
    setFocusProxy(m_pBrowser);
    resize(560, 480);
}

void CHelpWindow::ShowTopic(const QUrl& url)
{
    // Scrolling to an anchor the file lacks leaves the view at the top.
    m_pBrowser->verticalScrollBar()->setValue(0);
    m_pBrowser->setSource(url);
    show();
    raise();
    activateWindow();
    m_pBrowser->setFocus();
}

bool CHelpWindow::Find(bool bBackward)
{
    const QString text = m_pFind->text();
    if (text.isEmpty())
        return false;
    const QTextDocument::FindFlags flags = bBackward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (m_pBrowser->find(text, flags))
        return true;
    // Round from the end to the start, or back from the start to the end.
    QTextCursor cursor = m_pBrowser->textCursor();
    cursor.movePosition(bBackward ? QTextCursor::End : QTextCursor::Start);
    m_pBrowser->setTextCursor(cursor);
    return m_pBrowser->find(text, flags);
}

void CHelpWindow::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool inBar = focusWidget() == m_pFind;
    const bool enterInBar = (key == Qt::Key_Return || key == Qt::Key_Enter) && inBar;
    if (key == Qt::Key_F && modifiers == Qt::ControlModifier) {
        m_pFind->show();
        m_pFind->setFocus();
        m_pFind->selectAll();
    } else if ((key == Qt::Key_F3 || enterInBar) && (modifiers & ~Qt::ShiftModifier) == Qt::NoModifier) {
        const bool found = Find(modifiers == Qt::ShiftModifier);
        m_pFind->setStyleSheet(found || m_pFind->text().isEmpty() ? QString()
                                                                  : QStringLiteral("QLineEdit { color: #c00000; }"));
    } else if (key == Qt::Key_Escape && inBar) {
        m_pFind->hide();
        m_pBrowser->setFocus();
    } else if ((key == Qt::Key_Escape && modifiers == Qt::NoModifier) ||
               (key == Qt::Key_W && modifiers == Qt::ControlModifier)) {
        close();
    } else {
        QWidget::keyPressEvent(event);
    }
}
