// SPDX-License-Identifier: MIT
// The help window: the help file at one topic, with a find bar.
#pragma once

#include <QWidget>

class QLineEdit;
class QTextBrowser;
class QUrl;

// A window of its own that scrolls by keyboard and wheel. Escape or Ctrl+W
// closes it; it is hidden, not deleted, and shows the next topic asked for.
// Ctrl+F opens the find bar: Enter or F3 finds the next match, Shift+Enter
// or Shift+F3 the one before, going round at either end; Escape in the bar
// closes the bar.
class CHelpWindow : public QWidget {
public:
    explicit CHelpWindow(QWidget* parent);

    // Shows the file at the URL's fragment, or at its top when the file has
    // no such anchor, and brings the window to the front. A window not shown
    // yet is placed over the window that asked, wholly on its screen.
    void ShowTopic(const QUrl& url);

    QTextBrowser* Browser() const { return m_pBrowser; }
    QLineEdit* FindBar() const { return m_pFind; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void PlaceOnScreen();
    // Selects the next match of the bar's text; false when there is none.
    bool Find(bool bBackward);

    QTextBrowser* m_pBrowser;
    QLineEdit* m_pFind;
};
