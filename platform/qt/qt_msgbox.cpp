// SPDX-License-Identifier: MIT
#include "qt_msgbox.h"

#include <QApplication>
#include <QMessageBox>

#include "dialog.h"
#include "program_end.h"
#include "winapp.h"

CQtMessageBoxHandler::CQtMessageBoxHandler() : m_pPrevious(AfxSetMessageBoxHandler(this)) {}

CQtMessageBoxHandler::~CQtMessageBoxHandler()
{
    AfxSetMessageBoxHandler(m_pPrevious);
}

int CQtMessageBoxHandler::Show(std::string_view text, UINT nType)
{
    // The program is ending: nobody would answer.
    if (AfxIsProgramEnding())
        return IDCANCEL;
    QMessageBox::Icon icon = QMessageBox::Warning;
    switch (nType & MB_ICONMASK) {
    case MB_ICONHAND:
        icon = QMessageBox::Critical;
        break;
    case MB_ICONQUESTION:
        icon = QMessageBox::Question;
        break;
    case MB_ICONINFORMATION:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    const UINT type = nType & MB_TYPEMASK;
    const bool withCancel = type == MB_OKCANCEL;
    const bool yesNo = type == MB_YESNO;
    // Over the window in front, or the main window when the program is not in front.
    QWidget* owner = QApplication::activeWindow();
    if (const auto* main = AfxGetApp() != nullptr ? dynamic_cast<CDialog*>(AfxGetApp()->m_pMainWnd) : nullptr;
        owner == nullptr && main != nullptr)
        owner = main->GetSafeHwnd();
    const QMessageBox::StandardButton first = yesNo ? QMessageBox::Yes : QMessageBox::Ok;
    const QMessageBox::StandardButton second = yesNo ? QMessageBox::No : QMessageBox::Cancel;
    QMessageBox box(icon, QString::fromStdString(AfxGetAppTitle()), QString(),
                    withCancel || yesNo ? first | second : first, owner);
    // Server and user words pass through here: never rich text.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    box.setDefaultButton((nType & MB_DEFMASK) == MB_DEFBUTTON2 && (withCancel || yesNo) ? second : first);
    box.setEscapeButton(withCancel || yesNo ? second : first);
    const int answer = box.exec();
    if (yesNo)
        return answer == QMessageBox::Yes ? IDYES : IDNO;
    return answer == QMessageBox::Ok ? IDOK : IDCANCEL;
}
