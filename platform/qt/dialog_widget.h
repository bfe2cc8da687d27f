// SPDX-License-Identifier: MIT
// The Qt side of a CDialog: turns Qt's events into the dialog's messages.
#pragma once

#include <QDialog>

class CDialog;

// Timer events become WM_TIMER, the close button WM_CLOSE, Escape IDCANCEL,
// Enter the default button (or IDOK), F1 the window's help topic, a right
// click on the background, Alt+Space, F10 or the Menu key the system menu. It
// is installed as the event filter of the dialog's controls for the keys that
// must work from any of them.
class CDialogWidget : public QDialog {
public:
    CDialogWidget(CDialog& owner, QWidget* parent);

    void reject() override;

protected:
    void timerEvent(QTimerEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CDialog& m_owner;
};
