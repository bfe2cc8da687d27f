// SPDX-License-Identifier: MIT
#include "help_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

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
    if (!isVisible())
        PlaceOnScreen();
    show();
    raise();
    activateWindow();
    m_pBrowser->setFocus();
}

void CHelpWindow::PlaceOnScreen()
{
    // Over the middle of the window that asked (the one in front), else of
    // the window it belongs to, and wholly on that window's screen.
    const QWidget* asking = QApplication::activeWindow();
    if (asking == nullptr || asking == this)
        asking = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    const QScreen* screen = asking != nullptr ? asking->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect available = screen->availableGeometry();
    // The frame of a window not yet shown is not known: the asking window's
    // frame is the same kind.
    const QMargins frame = asking != nullptr ? QMargins(asking->geometry().left() - asking->frameGeometry().left(),
                                                        asking->geometry().top() - asking->frameGeometry().top(),
                                                        asking->frameGeometry().right() - asking->geometry().right(),
                                                        asking->frameGeometry().bottom() - asking->geometry().bottom())
                                             : QMargins();
    const QSize room = available.marginsRemoved(frame).size();
    resize(size().boundedTo(room));
    QRect placed(QPoint(0, 0), size().grownBy(frame));
    placed.moveCenter(asking != nullptr ? asking->frameGeometry().center() : available.center());
    placed.moveLeft(std::clamp(placed.left(), available.left(),
                               std::max(available.left(), available.right() + 1 - placed.width())));
    placed.moveTop(
        std::clamp(placed.top(), available.top(), std::max(available.top(), available.bottom() + 1 - placed.height())));
    move(placed.topLeft());
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
