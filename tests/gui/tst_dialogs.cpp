#include "base/DatesAndClock.h"
#include "core/TaskListFixture.h"
#include "dialogs/uAbout.h"
#include "dialogs/uFrmComments.h"
#include "dialogs/uFrmDetails.h"
#include "dialogs/uFrmProgress.h"
#include "dialogs/ufrmDateSelect.h"
#include "gui/DialogDriver.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "widgets/DesktopShell.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

template <typename T> T* child(QWidget& window, const QString& name) {
    T* found = window.findChild<T*>(name);
    if (!found)
        qFatal("no child %s", qPrintable(name));
    return found;
}

void click(QWidget& window, const QString& name) {
    QTest::mouseClick(child<QAbstractButton>(window, name), Qt::LeftButton);
}

void grabTo(QWidget& window, const char* name) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.grab().save(QDir::temp().filePath(QLatin1String(name))));
    window.hide();
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }

    void progressLayout();
    void progressButtons_data();
    void progressButtons();
    void progressApply_data();
    void progressApply();
    void progressArrows_data();
    void progressArrows();
    void progressKeepsSpecifyText();

    void dateSelectStart();
    void dateSelect_data();
    void dateSelect();
    void dateSelectKeepsChoices();

    void commentsEdit_data();
    void commentsEdit();
    void commentsOnEmptyList();
    void commentsPostsPendingEdit();
    void commentsWithoutField();

    void about();
    void outerSizes_data();
    void outerSizes();
};

// The resizable windows start at their outer size, frame included.
void TestDialogs::outerSizes_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QSize>("outer");
    QTest::newRow("Details") << "Details" << QSize(694, 656);
    QTest::newRow("Comments") << "Comments" << QSize(454, 399);
}

void TestDialogs::outerSizes() {
    QFETCH(QString, window);
    QFETCH(QSize, outer);
    std::unique_ptr<QDialog> dialog;
    if (window == u"Details")
        dialog = std::make_unique<TfrmDetails>();
    else
        dialog = std::make_unique<TfrmComments>();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QVERIFY(dialog->frameGeometry().size() != dialog->size()); // the frame is there
    QCOMPARE(dialog->frameGeometry().size(), outer);
    // A size the user gives it is kept from one showing to the next.
    dialog->resize(500, 300);
    dialog->hide();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(dialog->size(), QSize(500, 300));
}

// --- Progress --------------------------------------------------------------------------------

void TestDialogs::progressLayout() {
    TfrmProgress window;
    grabTo(window, "corvantis-progress.png");
    // Its title bar has room for "Progress" in a title bar's bold face beside the close box.
    QFont title = QApplication::font();
    title.setBold(true);
    title.setPointSize(11);
    QVERIFY(window.width() >= QFontMetrics(title).horizontalAdvance(window.windowTitle()) + 64);
}

void TestDialogs::progressButtons_data() {
    QTest::addColumn<QString>("action"); // a button's name, or "close" / "escape"
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("accepted");
    const int presets[] = {10, 25, 33, 50, 66, 75};
    for (int preset : presets)
        QTest::addRow("%d%%", preset) << QStringLiteral("btn%1").arg(preset) << preset << true;
    QTest::newRow("close box keeps the start") << "close" << 40 << false;
    QTest::newRow("escape keeps the start") << "escape" << 40 << false;
}

void TestDialogs::progressButtons() {
    QFETCH(QString, action);
    QFETCH(int, value);
    QFETCH(bool, accepted);
    ScriptedPrompt prompt;
    TfrmProgress window;
    WhenShown(&window, [&] { CloseBy(window, action); });
    QCOMPARE(window.ask(40), value);
    QCOMPARE(window.result() == QDialog::Accepted, accepted);
    QVERIFY(prompt.errors.isEmpty());
}

void TestDialogs::progressApply_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("error");
    QTest::newRow("in range") << "60" << 60 << "";
    QTest::newRow("above 100 taken as typed") << "150" << 150 << "";
    QTest::newRow("negative taken as typed") << "-5" << -5 << "";
    QTest::newRow("plus sign") << "+7" << 7 << "";
    QTest::newRow("letters") << "abc" << 40 << "'abc' is not a valid integer value.";
    QTest::newRow("empty") << "" << 40 << "'' is not a valid integer value.";
    QTest::newRow("fraction") << "1.5" << 40 << "'1.5' is not a valid integer value.";
    QTest::newRow("too large for an integer")
        << "3000000000" << 40 << "'3000000000' is not a valid integer value.";
    QTest::newRow("sign alone") << "-" << 40 << "'-' is not a valid integer value.";
}

void TestDialogs::progressApply() {
    QFETCH(QString, typed);
    QFETCH(int, value);
    QFETCH(QString, error);
    ScriptedPrompt prompt;
    TfrmProgress window;
    WhenShown(&window, [&] {
        auto* box = child<QLineEdit>(window, QStringLiteral("edtSpecify"));
        box->setFocus();
        box->selectAll();
        if (typed.isEmpty())
            QTest::keyClick(box, Qt::Key_Delete);
        else
            QTest::keyClicks(box, typed);
        click(window, QStringLiteral("btnApply"));
    });
    QCOMPARE(window.ask(40), value);
    // A refused text still closes the window with OK.
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QCOMPARE(prompt.errors, error.isEmpty() ? QStringList() : QStringList{error});
}

void TestDialogs::progressArrows_data() {
    QTest::addColumn<QString>("typed"); // empty: the box as it starts
    QTest::addColumn<QString>("keys");  // u: up arrow button, d: down, U / D: the arrow keys
    QTest::addColumn<QString>("shown");
    QTest::newRow("starts at 85, up") << ""
                                      << "u"
                                      << "86";
    QTest::newRow("down twice") << ""
                                << "dd"
                                << "83";
    QTest::newRow("never above 100") << "99"
                                     << "uuu"
                                     << "100";
    QTest::newRow("never below 0") << "1"
                                   << "ddd"
                                   << "0";
    QTest::newRow("typed 150 then up") << "150"
                                       << "u"
                                       << "100";
    QTest::newRow("typed 150 then down") << "150"
                                         << "d"
                                         << "99";
    QTest::newRow("typed -5 then up") << "-5"
                                      << "u"
                                      << "1";
    QTest::newRow("arrow keys in the box") << "50"
                                           << "UUD"
                                           << "51";
    QTest::newRow("no number: from the arrows' own place") << "x"
                                                           << "u"
                                                           << "86";
}

void TestDialogs::progressArrows() {
    QFETCH(QString, typed);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    TfrmProgress window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* box = child<QLineEdit>(window, QStringLiteral("edtSpecify"));
    QCOMPARE(box->text(), QStringLiteral("85"));
    if (!typed.isEmpty())
        box->setText(typed);
    box->setFocus();
    for (QChar key : keys) {
        if (key == u'u')
            click(window, QStringLiteral("udSpecifyUp"));
        else if (key == u'd')
            click(window, QStringLiteral("udSpecifyDown"));
        else
            QTest::keyClick(box, key == u'U' ? Qt::Key_Up : Qt::Key_Down);
    }
    QCOMPARE(box->text(), shown);
}

void TestDialogs::progressKeepsSpecifyText() {
    ScriptedPrompt prompt;
    TfrmProgress window;
    auto* box = child<QLineEdit>(window, QStringLiteral("edtSpecify"));
    WhenShown(&window, [&] {
        box->setText(QStringLiteral("12"));
        CloseBy(window, QStringLiteral("close"));
    });
    QCOMPARE(window.ask(3), 3);
    WhenShown(&window, [&] {
        QCOMPARE(box->text(), QStringLiteral("12"));
        click(window, QStringLiteral("btnApply"));
    });
    QCOMPARE(window.ask(3), 12);
}

// --- Date Select -----------------------------------------------------------------------------

void TestDialogs::dateSelectStart() {
    TfrmDateSelect window;
    auto* list = child<QComboBox>(window, QStringLiteral("cbDateField"));
    QCOMPARE(list->currentIndex(), -1);
    QCOMPARE(list->count(), 5);
    QCOMPARE(child<QCalendarWidget>(window, QStringLiteral("Calendar1"))->selectedDate(),
             uGeneral::Today());
    for (int entry = 0; entry < 5; ++entry)
        QCOMPARE(window.storedDate(entry), QDate(1899, 12, 30));
    QCOMPARE(window.storedDate(5), QDate());
    QCOMPARE(window.chosenEntry(), -1);
    grabTo(window, "corvantis-dateselect.png");
}

void TestDialogs::dateSelect_data() {
    QTest::addColumn<int>("entry"); // -1: none chosen
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QStringList>("notices");
    const QStringList none;
    QTest::newRow("Due Date applied") << 2 << "btnApply" << true << true << none;
    QTest::newRow("Last Actioned applied") << 0 << "btnApply" << true << true << none;
    QTest::newRow("Created applied") << 4 << "btnApply" << true << true << none;
    QTest::newRow("no entry applied")
        << -1 << "btnApply" << true << false << QStringList{"Date not selected"};
    QTest::newRow("cancel stores nothing") << 2 << "btnCancel" << false << false << none;
    QTest::newRow("close box stores nothing") << 3 << "close" << false << false << none;
    QTest::newRow("escape stores nothing") << 1 << "escape" << false << false << none;
}

void TestDialogs::dateSelect() {
    QFETCH(int, entry);
    QFETCH(QString, action);
    QFETCH(bool, applied);
    QFETCH(bool, stored);
    QFETCH(QStringList, notices);
    ScriptedPrompt prompt;
    TfrmDateSelect window;
    const QDate day(2025, 4, 18);
    WhenShown(&window, [&] {
        auto* list = child<QComboBox>(window, QStringLiteral("cbDateField"));
        if (entry >= 0) {
            list->setFocus();
            for (int i = 0; i <= entry; ++i)
                QTest::keyClick(list, Qt::Key_Down);
            QCOMPARE(list->currentIndex(), entry);
        }
        child<QCalendarWidget>(window, QStringLiteral("Calendar1"))->setSelectedDate(day);
        CloseBy(window, action);
    });
    const TaskCommands::DateSelection selection = window.ask();
    QCOMPARE(selection.applied, applied);
    QCOMPARE(selection.entry, entry);
    QCOMPARE(selection.date, entry < 0 ? QDate() : stored ? day : QDate(1899, 12, 30));
    for (int other = 0; other < 5; ++other)
        if (other != entry || !stored)
            QCOMPARE(window.storedDate(other), QDate(1899, 12, 30));
    QCOMPARE(prompt.notices, notices);
}

void TestDialogs::dateSelectKeepsChoices() {
    ScriptedPrompt prompt;
    TfrmDateSelect window;
    auto* list = child<QComboBox>(window, QStringLiteral("cbDateField"));
    auto* calendar = child<QCalendarWidget>(window, QStringLiteral("Calendar1"));
    WhenShown(&window, [&] {
        list->setCurrentIndex(2);
        calendar->setSelectedDate(QDate(2025, 5, 1));
        click(window, QStringLiteral("btnApply"));
    });
    QVERIFY(window.ask().applied);
    WhenShown(&window, [&] {
        QCOMPARE(list->currentText(), QStringLiteral("Due Date"));
        QCOMPARE(calendar->selectedDate(), QDate(2025, 5, 1));
        list->setCurrentIndex(3);
        calendar->setSelectedDate(QDate(2025, 6, 2));
        click(window, QStringLiteral("btnApply"));
    });
    const TaskCommands::DateSelection second = window.ask();
    QCOMPARE(second.entry, 3);
    QCOMPARE(second.date, QDate(2025, 6, 2));
    // Each entry keeps the day last applied to it.
    QCOMPARE(window.storedDate(2), QDate(2025, 5, 1));
    QCOMPARE(window.storedDate(3), QDate(2025, 6, 2));
}

// --- Comments --------------------------------------------------------------------------------

void TestDialogs::commentsEdit_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("typed"); // "\n": Enter
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("marked");
    QTest::newRow("typed after the old text") << "Old"
                                              << " and new"
                                              << "Old and new" << true;
    QTest::newRow("line breaks kept") << ""
                                      << "one\ntwo"
                                      << "one\ntwo" << true;
    QTest::newRow("300 characters cut to 255")
        << "" << QString(300, u'c') << QString(255, u'c') << true;
    QTest::newRow("nothing typed changes nothing") << "Kept"
                                                   << ""
                                                   << "Kept" << false;
}

void TestDialogs::commentsEdit() {
    QFETCH(QString, before);
    QFETCH(QString, typed);
    QFETCH(QString, after);
    QFETCH(bool, marked);
    ScriptedPrompt prompt;
    TaskListFixture list;
    list.add(QStringLiteral("Task=First|Comments=") + before);
    list.add(QStringLiteral("Task=Second|Comments=other"));
    list.table.first();
    const int marks = list.hookMarks;
    const std::size_t versions = list.table.versionCount();

    TfrmComments window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Comments"));
    QCOMPARE(window.size(), QSize(454, 399));
    auto* box = child<QPlainTextEdit>(window, QStringLiteral("memComments"));
    WhenShown(&window, [&] {
        QCOMPARE(box->toPlainText(), before);
        box->setFocus();
        box->moveCursor(QTextCursor::End);
        for (const QString& line : typed.split(u'\n')) {
            if (box->toPlainText().size() > before.size())
                QTest::keyClick(box, Qt::Key_Return);
            QTest::keyClicks(box, line);
        }
        // The first change already put the table into editing and marked the list.
        QCOMPARE(list.table.isEditing(), marked);
        CloseBy(window, QStringLiteral("close"));
    });
    window.execute(list.table);
    QVERIFY(prompt.errors.isEmpty());
    QVERIFY(!list.table.isEditing());
    QCOMPARE(list.table.asString(TaskRecord::Task), QStringLiteral("First"));
    QCOMPARE(list.table.asString(TaskRecord::Comments), after);
    QCOMPARE(list.hookMarks - marks, marked ? 1 : 0);
    QCOMPARE(list.table.versionCount() - versions, std::size_t(marked ? 1 : 0));
}

void TestDialogs::commentsOnEmptyList() {
    ScriptedPrompt prompt;
    TaskListFixture list;
    TfrmComments window;
    WhenShown(&window, [&] {
        auto* box = child<QPlainTextEdit>(window, QStringLiteral("memComments"));
        QVERIFY(box->toPlainText().isEmpty());
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("note"));
        QVERIFY(
            window.grab().save(QDir::temp().filePath(QStringLiteral("corvantis-comments.png"))));
        window.accept();
    });
    window.execute(list.table);
    // Typing on an empty list starts a new task, stored with its defaults and the comment.
    QCOMPARE(list.table.recordCount(), 1);
    QCOMPARE(list.table.asString(TaskRecord::Comments), QStringLiteral("note"));
    QCOMPARE(list.table.asString(TaskRecord::Status), QStringLiteral("Not Started"));
    QCOMPARE(list.table.asInteger(TaskRecord::ID), std::int64_t(1));
}

void TestDialogs::commentsPostsPendingEdit() {
    ScriptedPrompt prompt;
    TaskListFixture list;
    list.add(QStringLiteral("Task=A"));
    list.table.edit();
    list.table.setString(TaskRecord::Task, QStringLiteral("A changed in the grid"));
    TfrmComments window;
    WhenShown(&window, [&] { window.reject(); });
    window.execute(list.table);
    QVERIFY(!list.table.isEditing());
    QCOMPARE(list.visible(), QStringList{"A changed in the grid"});
}

void TestDialogs::commentsWithoutField() {
    FieldList fields;
    for (const FieldDef& def : TaskRecord::Fields())
        if (def.name != TaskRecord::Comments)
            fields.push_back(def);
    TaskListFixture list(fields);
    TfrmComments window;
    QCOMPARE(errorOf([&] { window.execute(list.table); }),
             QStringLiteral("cdsTasks: Field 'Comments' not found"));
    QVERIFY(!window.isVisible());
}

// --- About -----------------------------------------------------------------------------------

void TestDialogs::about() {
    TfrmAbout window;
    QVERIFY(window.findChildren<QAbstractButton*>().isEmpty());
    auto* link = child<QLabel>(window, QStringLiteral("lblWebAddress"));
    QCOMPARE(link->text(), TfrmAbout::webAddress());
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);

    QList<QUrl> opened;
    DesktopShell::SetOpenerForTesting([&](const QUrl& url) { opened << url; });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(child<QLabel>(window, QStringLiteral("lblVersion")), Qt::LeftButton);
    QVERIFY(opened.isEmpty());
    QTest::mouseClick(link, Qt::LeftButton);
    DesktopShell::SetOpenerForTesting(nullptr);
    QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.corvantis.org"))});
    QVERIFY(window.isVisible());
    QVERIFY(window.grab().save(QDir::temp().filePath(QStringLiteral("corvantis-about.png"))));
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
