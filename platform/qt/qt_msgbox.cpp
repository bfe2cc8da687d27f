// SPDX-License-Identifier: MIT
#include "qt_msgbox.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialog.h"
#include "program_end.h"
#include "winapp.h"

namespace {

// The text of a box with commands: its paragraphs as labels, in order, and
// each command (a line that begins with a tab) in a field of its own, whole,
// with a Copy button. It stands where the box's own label stood.
void ShowCommands(QMessageBox& box, const QString& text)
{
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (label == nullptr || grid == nullptr || grid->indexOf(label) < 0)
        return;
    auto* body = new QWidget(&box);
    // Wide enough that a paragraph reads as one, not as a column of words.
    body->setMinimumWidth(body->fontMetrics().averageCharWidth() * 64);
    auto* lines = new QVBoxLayout(body);
    lines->setContentsMargins(0, 0, 0, 0);
    QStringList paragraph;
    const auto endParagraph = [&] {
        // The blank lines around a command are the layout's spacing.
        while (!paragraph.isEmpty() && paragraph.constLast().isEmpty())
            paragraph.removeLast();
        while (!paragraph.isEmpty() && paragraph.constFirst().isEmpty())
            paragraph.removeFirst();
        if (!paragraph.isEmpty()) {
            auto* words = new QLabel(paragraph.join(QLatin1Char('\n')), body);
            words->setTextFormat(Qt::PlainText);
            words->setWordWrap(true);
            words->setTextInteractionFlags(Qt::TextSelectableByMouse);
            lines->addWidget(words);
        }
        paragraph.clear();
    };
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char('\t'))) {
            paragraph.append(line);
            continue;
        }
        endParagraph();
        const QString command = line.mid(1);
        auto* row = new QHBoxLayout;
        auto* field = new QLineEdit(command, body);
        field->setReadOnly(true);
        field->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        field->setCursorPosition(0);
        field->setAccessibleName(QStringLiteral("Command"));
        field->setMinimumWidth(field->fontMetrics().horizontalAdvance(command) + 16);
        auto* copy = new QPushButton(QStringLiteral("Copy"), body);
        copy->setAutoDefault(false);
        copy->setAccessibleDescription(command);
        QObject::connect(copy, &QPushButton::clicked, body,
                         [command] { QGuiApplication::clipboard()->setText(command); });
        row->addWidget(field, 1);
        row->addWidget(copy);
        lines->addLayout(row);
    }
    endParagraph();
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(grid->indexOf(label), &row, &column, &rows, &columns);
    label->hide();
    grid->addWidget(body, row, column, rows, columns);
}

} // namespace

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
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    box.setText(shown);
    if (shown.startsWith(QLatin1Char('\t')) || shown.contains(QLatin1String("\n\t")))
        ShowCommands(box, shown);
    box.setDefaultButton((nType & MB_DEFMASK) == MB_DEFBUTTON2 && (withCancel || yesNo) ? second : first);
    box.setEscapeButton(withCancel || yesNo ? second : first);
    const int answer = box.exec();
    if (yesNo)
        return answer == QMessageBox::Yes ? IDYES : IDNO;
    return answer == QMessageBox::Ok ? IDOK : IDCANCEL;
}
