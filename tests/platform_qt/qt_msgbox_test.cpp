// SPDX-License-Identifier: MIT
#include "platform/qt/qt_msgbox.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "platform/qt/winapp.h"

namespace {

struct Seen {
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
};

// Shows a box through the program's message-box service and answers it.
int ShowAndAnswer(const char* text, UINT type, bool cancel, Seen* seen)
{
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        *seen = Seen{box->windowTitle(), box->text(), box->textFormat(), box->icon(),
                     static_cast<int>(box->buttons().size())};
        box->button(cancel ? QMessageBox::Cancel : QMessageBox::Ok)->click();
    });
    return AfxMessageBox(text, type);
}

TEST(QtMessageBox, PlainTextCaptionIconAndButtons)
{
    CQtMessageBoxHandler handler;
    struct Row {
        const char* text;
        UINT type;
        bool cancel;
        QMessageBox::Icon icon;
        int buttons;
        int answer;
    };
    const Row rows[] = {
        {"<b>denied</b> <a href='x'>%s</a>", MB_OK, false, QMessageBox::Warning, 1, IDOK},
        {"Disk full while accessing /x.", MB_OK | MB_ICONSTOP, false, QMessageBox::Critical, 1, IDOK},
        {"Please confirm?", MB_OKCANCEL | MB_ICONQUESTION, true, QMessageBox::Question, 2, IDCANCEL},
        {"Overwrite?", MB_OKCANCEL, false, QMessageBox::Warning, 2, IDOK},
    };
    for (const Row& row : rows) {
        Seen seen;
        EXPECT_EQ(ShowAndAnswer(row.text, row.type, row.cancel, &seen), row.answer) << row.text;
        EXPECT_EQ(seen.text, QString::fromUtf8(row.text));
        EXPECT_EQ(seen.format, Qt::PlainText);
        EXPECT_EQ(seen.title.toStdString(), AfxGetAppTitle());
        EXPECT_EQ(seen.icon, row.icon);
        EXPECT_EQ(seen.buttons, row.buttons);
    }
}

// A command (a line that begins with a tab) stands whole, in the text's
// order, with a button that copies it; the text around it is as written.
TEST(QtMessageBox, EachCommandHasACopyButton)
{
    CQtMessageBoxHandler handler;
    QStringList shown, copied;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        for (QWidget* part : box->findChildren<QWidget*>()) {
            if (const auto* label = qobject_cast<QLabel*>(part);
                label != nullptr && label->isVisibleTo(box) && !label->text().isEmpty())
                shown.append(label->text());
            if (const auto* field = qobject_cast<QLineEdit*>(part))
                shown.append(QStringLiteral("[") + field->text() + QStringLiteral("]"));
        }
        for (QPushButton* copy : box->findChildren<QPushButton*>())
            if (copy->text() == QStringLiteral("Copy")) {
                copy->click();
                copied.append(QGuiApplication::clipboard()->text());
            }
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(AfxMessageBox("Port 69 needs the group.\nThe command:\n\tsudo adduser alice tarnwick\n\nOn port "
                            "6969:\n\tsetenv tftpdstp 6969\nPXE asks port 69.",
                            MB_OK),
              IDOK);
    EXPECT_EQ(shown, QStringList({"Port 69 needs the group.\nThe command:", "[sudo adduser alice tarnwick]",
                                  "On port 6969:", "[setenv tftpdstp 6969]", "PXE asks port 69."}));
    EXPECT_EQ(copied, QStringList({"sudo adduser alice tarnwick", "setenv tftpdstp 6969"}));
}

TEST(AppTitle, IsTheProgramFileNameWithoutExtension)
{
    EXPECT_EQ(AfxAppTitleFromPath("/usr/bin/tarnwick"), "tarnwick");
    EXPECT_EQ(AfxAppTitleFromPath("./Tarnwick.bin"), "Tarnwick");
    EXPECT_EQ(AfxAppTitleFromPath("tftp.client.exe"), "tftp.client");
    EXPECT_EQ(AfxAppTitleFromPath("/opt/.hidden"), ".hidden");
}

} // namespace
