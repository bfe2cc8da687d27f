// SPDX-License-Identifier: MIT
#include "ui/transfer_dlg.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <filesystem>

#include "platform/core/msgbox.h"
#include "res/dialogs.h"
#include "res/resource.h"
#include "tests/support/msgbox_recorder.h"
#include "tests/support/temp_dir.h"

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(dir / "alpha");
        std::filesystem::create_directory(dir / "Beta");
        std::filesystem::create_directory(dir / ".hidden");
        WriteFileBytes(dir / "b.txt", {'b'});
        WriteFileBytes(dir / "A.txt", {'a', 'a'});
        WriteFileBytes(dir / ".secret", {'s'});
        WriteFileBytes(dir / "Mixed.Case.BIN", std::vector<BYTE>(1234, 'm'));
        // Each test starts in its own folder, not in one an earlier test's window remembered.
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarnwick"), QStringLiteral("Tarnwick"))
            .remove(QStringLiteral("State"));
        ASSERT_TRUE(dlg.Create(IDD_MAIN));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.GetSafeHwnd()));
    }

    template <class T> T* Item(int id) { return qobject_cast<T*>(dlg.GetDlgItem(id)); }

    std::vector<std::string> Entries(int id)
    {
        std::vector<std::string> entries;
        auto* list = Item<QListWidget>(id);
        entries.reserve(static_cast<size_t>(list->count()));
        for (int row = 0; row < list->count(); ++row)
            entries.push_back(list->item(row)->text().toStdString());
        return entries;
    }

    void Select(int id, const std::string& text)
    {
        auto* list = Item<QListWidget>(id);
        const auto found = list->findItems(QString::fromStdString(text), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << text;
        list->setCurrentItem(found[0]);
    }

    // A double click on the entry, as the user makes it.
    void DoubleClick(int id, const std::string& text)
    {
        Select(id, text);
        auto* list = Item<QListWidget>(id);
        const QRect rect = list->visualItemRect(list->currentItem());
        // A double click begins with a single one.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }

    std::string Status() { return dlg.GetDlgItemText(IDC_STATUS_VALUES); }
    std::string Cwd() { return std::filesystem::current_path().string(); }

    TempDir dir;
    CMessageBoxRecorder boxes;
    CTransferDlg dlg;
};

TEST_F(MainWindow, ControlsStandWhereTheTemplateSays)
{
    const DialogTemplate* dialogTemplate = AfxFindDialogTemplate(IDD_MAIN);
    ASSERT_NE(dialogTemplate, nullptr);
    QDialog* window = dlg.GetSafeHwnd();
    const DialogBaseUnits units = AfxGetDialogBaseUnits(window->font());
    const auto toPixels = [&](int x, int y) {
        // Rounded to the nearest pixel, as the platform maps dialog units
        // (its base units are in sixteenths of a pixel).
        return QPoint((x * units.cx + 32) / 64, (y * units.cy + 64) / 128);
    };
    EXPECT_EQ(window->size(), QSize(toPixels(327, 222).x(), toPixels(327, 222).y()));
    EXPECT_EQ(window->windowTitle(), "Tarnwick");

    int groupBoxes = 0;
    for (size_t i = 0; i < dialogTemplate->nControls; ++i) {
        const DialogControl& control = dialogTemplate->controls[i];
        const QRect expected(toPixels(control.x, control.y),
                             toPixels(control.x + control.cx, control.y + control.cy) - QPoint(1, 1));
        if (control.nID == IDC_STATIC) {
            const auto groups = window->findChildren<QGroupBox*>();
            const bool found = std::any_of(groups.begin(), groups.end(), [&](QGroupBox* group) {
                return group->title() == QString::fromUtf8(control.text) && group->geometry() == expected;
            });
            EXPECT_TRUE(found) << control.text;
            ++groupBoxes;
            continue;
        }
        QWidget* widget = dlg.GetDlgItem(control.nID);
        ASSERT_NE(widget, nullptr) << control.nID;
        EXPECT_EQ(widget->geometry(), expected) << control.nID;
    }
    EXPECT_EQ(groupBoxes, 6);
    EXPECT_GT(dlg.GetDlgItem(ID_HELP)->x(), dlg.GetDlgItem(IDOK)->geometry().right() + 1); // Exit and Help do not touch

    struct Expect {
        int id;
        const char* kind;
        const char* text;
        bool enabled;
    };
    const Expect expects[] = {
        {IDC_DIR_LIST, "QListWidget", "", true},
        {IDC_FILE_LIST, "QListWidget", "", true},
        {IDC_REMOTE_FILE, "QLineEdit", "", true},
        {IDC_REMOTE_HOST, "QLineEdit", "", true},
        {IDC_MODE_ASCII, "QRadioButton", "Ascii", true},
        {IDC_MODE_BINARY, "QRadioButton", "Binary", true},
        {IDC_PUT, "QPushButton", "-->", false},
        {IDC_GET, "QPushButton", "<--", false},
        {IDC_ABORT, "QPushButton", "Abort", false},
        {IDOK, "QPushButton", "Exit", true},
        {ID_HELP, "QPushButton", "&Help", true},
        {IDC_PROGRESS, "QProgressBar", "", true},
        {IDC_STATUS_LABELS, "QLabel", "Status:\nFile Size:\nSent (bytes):\nTransmission Rate:", true},
    };
    for (const Expect& expect : expects) {
        QWidget* widget = dlg.GetDlgItem(expect.id);
        EXPECT_STREQ(widget->metaObject()->className(), expect.kind) << expect.id;
        if (*expect.text != '\0') {
            EXPECT_EQ(dlg.GetDlgItemText(expect.id), expect.text) << expect.id;
        }
        EXPECT_EQ(widget->isEnabled(), expect.enabled) << expect.id;
    }
    EXPECT_TRUE(Item<QPushButton>(IDC_PUT)->isDefault());
    EXPECT_TRUE(Item<QRadioButton>(IDC_MODE_BINARY)->isChecked());
    EXPECT_FALSE(Item<QRadioButton>(IDC_MODE_ASCII)->isChecked());
    EXPECT_EQ(Item<QProgressBar>(IDC_PROGRESS)->value(), 0);
    EXPECT_EQ(Status(), "Idle\n0\n0\n0 bps");
    EXPECT_TRUE(Item<QLineEdit>(IDC_REMOTE_HOST)
                    ->toolTip()
                    .startsWith("Host name or IP address of destination device\ntftp.example.com, 192.0.2.7:6969, "
                                "2001:db8::5, [2001:db8::5]:6969, fe80::1%eth0"));
    EXPECT_EQ(Item<QPushButton>(IDC_GET)->toolTip(), "Retrieve File (Get)");
}

TEST_F(MainWindow, EveryControlHasANameForScreenReaders)
{
    EXPECT_EQ(Item<QPushButton>(IDC_PUT)->accessibleName(), "Put (send the selected file)");
    EXPECT_EQ(Item<QPushButton>(IDC_GET)->accessibleName(), "Get (retrieve the remote file)");
    // A control that shows no text of its own carries a name.
    for (QWidget* control : dlg.GetSafeHwnd()->findChildren<QWidget*>()) {
        const auto* button = qobject_cast<QAbstractButton*>(control);
        const bool named = !control->accessibleName().isEmpty() ||
                           (button != nullptr && button->text().contains(QRegularExpression("[A-Za-z]")));
        if (qobject_cast<QLineEdit*>(control) || qobject_cast<QListWidget*>(control) ||
            qobject_cast<QProgressBar*>(control) || button != nullptr) {
            EXPECT_TRUE(named) << control->metaObject()->className() << " " << control->objectName().toStdString();
        }
    }
}

TEST(MainWindowFont, TheWindowGrowsWithTheDesktopsFontAndALongPathLosesItsMiddle)
{
    const QFont desktop = QApplication::font();
    QSize sizes[2];
    const double points[2] = {8, 12};
    for (int i = 0; i < 2; ++i) {
        QFont font = desktop;
        font.setPointSizeF(points[i]);
        QApplication::setFont(font);
        CTransferDlg window;
        ASSERT_TRUE(window.Create(IDD_MAIN));
        sizes[i] = window.GetSafeHwnd()->size();
        EXPECT_EQ(window.GetSafeHwnd()->font().pointSizeF(), points[i]);
        if (i == 1) {
            // A path wider than its line: drawn with an ellipsis, whole in the tooltip.
            auto* path = qobject_cast<QLabel*>(window.GetDlgItem(IDC_CURRENT_DIR));
            const QString longPath = QStringLiteral("/srv/tftp/") + QString(40, QLatin1Char('d')) +
                                     QStringLiteral("/firmware/release-candidate/board.bin");
            path->setText(longPath);
            (void)path->grab();
            EXPECT_EQ(path->text(), longPath);
            EXPECT_EQ(path->toolTip(), longPath);
            path->setText(QStringLiteral("/srv"));
            (void)path->grab();
            EXPECT_TRUE(path->toolTip().isEmpty());
            EXPECT_GE(path->contentsRect().height() + 2, QFontMetrics(path->font()).height());
        }
    }
    QApplication::setFont(desktop);
    // In proportion, but for each edge's rounding to whole pixels.
    EXPECT_NEAR(static_cast<double>(sizes[1].width()) / sizes[0].width(), 1.5, 0.08);
    EXPECT_NEAR(static_cast<double>(sizes[1].height()) / sizes[0].height(), 1.5, 0.08);
}

TEST_F(MainWindow, TabOrderFollowsTheEyeFromRemoteFile)
{
    // The tab stops, in the order the focus chain visits them, from where
    // the focus starts.
    const std::vector<int> visual = {IDC_REMOTE_FILE, IDC_REMOTE_HOST, IDC_DIR_LIST, IDC_FILE_LIST, IDC_MODE_ASCII,
                                     IDC_MODE_BINARY, IDC_PUT,         IDC_GET,      IDC_ABORT,     IDOK,
                                     ID_HELP,         IDC_MENU_BUTTON};
    std::vector<int> order;
    QWidget* first = dlg.GetSafeHwnd()->focusWidget();
    ASSERT_EQ(first, dlg.GetDlgItem(IDC_REMOTE_FILE));
    QWidget* widget = first;
    do {
        for (int id : visual)
            if ((widget->focusPolicy() & Qt::TabFocus) && dlg.GetDlgItem(id) == widget)
                order.push_back(id);
        widget = widget->nextInFocusChain();
    } while (widget != first);
    EXPECT_EQ(order, visual);
}

TEST_F(MainWindow, ListsShowSortedEntriesWithoutHiddenOnes)
{
    EXPECT_EQ(Entries(IDC_DIR_LIST), (std::vector<std::string>{"[..]", "[alpha]", "[Beta]"}));
    EXPECT_EQ(Entries(IDC_FILE_LIST), (std::vector<std::string>{"A.txt", "b.txt", "Mixed.Case.BIN"}));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_CURRENT_DIR), dir.Path().string());
}

TEST_F(MainWindow, BrowsingIntoADirectoryAndBack)
{
    WriteFileBytes(dir / "alpha/inner.cfg", {'i'});
    DoubleClick(IDC_DIR_LIST, "[alpha]");
    EXPECT_EQ(Cwd(), dir / "alpha");
    EXPECT_EQ(dlg.GetDlgItemText(IDC_CURRENT_DIR), dir / "alpha");
    EXPECT_EQ(Entries(IDC_FILE_LIST), std::vector<std::string>{"inner.cfg"});
    EXPECT_EQ(Entries(IDC_DIR_LIST), std::vector<std::string>{"[..]"});

    // Enter in the list goes too.
    Select(IDC_DIR_LIST, "[..]");
    QTest::keyClick(Item<QListWidget>(IDC_DIR_LIST), Qt::Key_Return);
    EXPECT_EQ(Cwd(), dir.Path().string());
    EXPECT_EQ(Entries(IDC_DIR_LIST), (std::vector<std::string>{"[..]", "[alpha]", "[Beta]"}));
    EXPECT_TRUE(boxes.boxes.empty()); // Enter did not press the default button
}

TEST_F(MainWindow, TheRootHasNoParentEntry)
{
    ASSERT_EQ(::chdir("/"), 0);
    DoubleClick(IDC_DIR_LIST, "[..]"); // the root's parent is the root
    EXPECT_EQ(Cwd(), "/");
    const auto entries = Entries(IDC_DIR_LIST);
    EXPECT_TRUE(std::find(entries.begin(), entries.end(), "[..]") == entries.end());
    EXPECT_TRUE(std::find(entries.begin(), entries.end(), "[tmp]") != entries.end());
    EXPECT_EQ(dlg.GetDlgItemText(IDC_CURRENT_DIR), "/");
}

TEST_F(MainWindow, ARefusedChangeShowsTheCurrentDirectoryAgain)
{
    std::filesystem::remove(dir / "alpha");
    DoubleClick(IDC_DIR_LIST, "[alpha]");
    EXPECT_EQ(Cwd(), dir.Path().string());
    EXPECT_EQ(Entries(IDC_DIR_LIST), (std::vector<std::string>{"[..]", "[Beta]"}));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_CURRENT_DIR), dir.Path().string());
}

TEST_F(MainWindow, ChoosingAFileShowsItsPathAndSize)
{
    // A screen reader hears the path and the figures, not only their names.
    EXPECT_EQ(dlg.GetDlgItem(IDC_CURRENT_DIR)->accessibleDescription().toStdString(), dir.Path().string());
    Select(IDC_FILE_LIST, "Mixed.Case.BIN");
    EXPECT_EQ(dlg.GetDlgItemText(IDC_CURRENT_DIR), dir / "Mixed.Case.BIN");
    EXPECT_EQ(dlg.GetDlgItem(IDC_CURRENT_DIR)->accessibleDescription().toStdString(), dir / "Mixed.Case.BIN");
    EXPECT_EQ(Status(), "Idle\n1,234\n0\n0 bps");
    EXPECT_EQ(dlg.GetDlgItem(IDC_STATUS_VALUES)->accessibleDescription(),
              "Status: Idle, File Size: 1,234, Sent (bytes): 0, Transmission Rate: 0 bps");
    Select(IDC_FILE_LIST, "A.txt");
    EXPECT_EQ(Status(), "Idle\n2\n0\n0 bps");
}

TEST_F(MainWindow, TabbingIntoTheFileListChoosesNothing)
{
    dlg.GetDlgItem(IDC_REMOTE_HOST)->setFocus();
    qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_REMOTE_HOST))->setText("h");
    dlg.GetDlgItem(IDC_DIR_LIST)->setFocus();
    QTest::keyClick(dlg.GetDlgItem(IDC_DIR_LIST), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(IDC_FILE_LIST));
    EXPECT_FALSE(dlg.IsWindowEnabled(IDC_PUT));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_CURRENT_DIR), dir.Path().string());

    // An arrow key does choose.
    QTest::keyClick(dlg.GetDlgItem(IDC_FILE_LIST), Qt::Key_Down);
    EXPECT_TRUE(dlg.IsWindowEnabled(IDC_PUT));
}

// Enter never sends a file by itself: only "-->" with the focus does. In the
// remote boxes it asks for the Get they imply.
TEST_F(MainWindow, EnterStartsNoPutUnlessPutHasTheFocus)
{
    auto* host = Item<QLineEdit>(IDC_REMOTE_HOST);
    host->setText("192.0.2.7");
    Select(IDC_FILE_LIST, "b.txt");
    ASSERT_TRUE(dlg.IsWindowEnabled(IDC_PUT));
    boxes.answers = {IDCANCEL, IDCANCEL, IDCANCEL};
    struct Row {
        int nFocus;
        const char* remote; // typed in Remote File first
        const char* asked;  // the start of the confirmation, or nothing
    };
    const Row rows[] = {
        {IDC_REMOTE_FILE, "", nullptr},
        {IDC_REMOTE_HOST, "", nullptr},
        {IDC_FILE_LIST, "", nullptr},
        {IDC_MODE_BINARY, "", nullptr},
        {IDC_REMOTE_FILE, "backup.cfg", "Please confirm the following operation:\nRetrieve file:\tbackup.cfg"},
        {IDC_REMOTE_HOST, "backup.cfg", "Please confirm the following operation:\nRetrieve file:\tbackup.cfg"},
        {IDC_PUT, "", "Please confirm the following operation:\nSend file:"},
    };
    for (const Row& row : rows) {
        Item<QLineEdit>(IDC_REMOTE_FILE)->setText(row.remote);
        boxes.boxes.clear();
        QWidget* focus = dlg.GetDlgItem(row.nFocus);
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Return);
        QCoreApplication::processEvents(); // a Get is posted, not sent
        if (row.asked == nullptr) {
            EXPECT_TRUE(boxes.boxes.empty()) << row.nFocus;
        } else {
            ASSERT_EQ(boxes.boxes.size(), 1u) << row.nFocus;
            EXPECT_EQ(boxes.boxes[0].text.rfind(row.asked, 0), 0u) << boxes.boxes[0].text;
        }
    }
}

TEST_F(MainWindow, EnablingRules)
{
    auto* remote = Item<QLineEdit>(IDC_REMOTE_FILE);
    auto* host = Item<QLineEdit>(IDC_REMOTE_HOST);
    const auto enabled = [&](int id) { return dlg.IsWindowEnabled(id) != FALSE; };

    QTest::keyClicks(remote, "f");
    EXPECT_FALSE(enabled(IDC_GET));
    QTest::keyClicks(host, "h");
    EXPECT_TRUE(enabled(IDC_GET));
    EXPECT_FALSE(enabled(IDC_PUT));
    QTest::keyClick(remote, Qt::Key_Backspace);
    EXPECT_FALSE(enabled(IDC_GET));

    // Put needs a host and a chosen file, not a remote name.
    Select(IDC_FILE_LIST, "b.txt");
    EXPECT_TRUE(enabled(IDC_PUT));
    QTest::keyClick(host, Qt::Key_Backspace);
    EXPECT_FALSE(enabled(IDC_PUT));
    QTest::keyClicks(host, "10.0.0.1");
    EXPECT_TRUE(enabled(IDC_PUT));
    EXPECT_FALSE(enabled(IDC_ABORT));

    // Any double click drops the file choice, even without a change.
    std::filesystem::remove(dir / "Beta");
    DoubleClick(IDC_DIR_LIST, "[Beta]");
    EXPECT_FALSE(enabled(IDC_PUT));
    EXPECT_EQ(Status(), "Idle\n0\n0\n0 bps");
    EXPECT_EQ(dlg.GetDlgItemText(IDC_CURRENT_DIR), dir.Path().string());
}

} // namespace
