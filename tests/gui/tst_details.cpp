#include "core/TaskListFixture.h"
#include "dialogs/uFrmDetails.h"
#include "gui/DialogDriver.h"
#include "storage/DataPacket.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

namespace {

template <typename T = QWidget> T* control(TfrmDetails& window, const QString& name) {
    return window.findChild<T*>(name);
}

QLineEdit* box(TfrmDetails& window, const QString& field) {
    const int i = window.table()->fieldIndex(field);
    return control<QLineEdit>(window, QStringLiteral("edt%1").arg(i));
}

// Replaces a one-line box's text as a user does: focus, select all, type.
void typeInto(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
    else
        QTest::keyClicks(edit, text);
}

void click(TfrmDetails& window, const char* name) {
    QTest::mouseClick(control<QPushButton>(window, QLatin1String(name)), Qt::LeftButton);
}

QColor base(QWidget* widget) {
    return widget->palette().color(QPalette::Base);
}

// A list of three tasks with the second one current.
struct ThreeTasks : TaskListFixture {
    ThreeTasks() {
        add(QStringLiteral("Task=One|Priority=High|Difficulty=Easy"));
        add(QStringLiteral("Task=Two|Priority=Urgent|Difficulty=Moderate|Status=In progress|"
                           "Progress=40|DueDate=2025-04-01|Details=line 1\nline 2"));
        add(QStringLiteral("Task=Three"));
        table.first();
        table.next();
        marksAtStart = hookMarks;
        versionsAtStart = table.versionCount();
    }
    int marksAtStart = 0;
    std::size_t versionsAtStart = 0;
};

} // namespace

class TestDetails : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void layout_data();
    void layout();
    void pickLists_data();
    void pickLists();
    void editAndOk_data();
    void editAndOk();
    void memoLineBreaks_data();
    void memoLineBreaks();
    void refusedValueKeepsWindowOpen_data();
    void refusedValueKeepsWindowOpen();
    void leavingABoxWritesIt();
    void leavingABoxWithARefusedValue();
    void cancelDropsTheWindowsChanges_data();
    void cancelDropsTheWindowsChanges();
    void cancelKeepsAnEarlierPendingEdit();
    void okWithoutChangesPostsNothing();
    void emptyListStartsATask();
    void narrowWindowFitsWideBoxes();
    void rebuildFollowsTheTable();
};

void TestDetails::layout_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("shown");
    // Lines 20 apart from y 31; Details (18) and Properties (22) are memos 97 high, each pushing
    // the lines after it 76 further down.
    auto top = [](int i) { return 31 + 20 * i + (i > 18 ? 76 : 0) + (i > 22 ? 76 : 0); };
    QTest::newRow("ID") << 0 << "edt0" << QRect(120, top(0), 100, 21) << "2";
    QTest::newRow("Task") << 1 << "edt1" << QRect(120, top(1), 500, 21) << "Two";
    QTest::newRow("Status") << 2 << "cboSta2" << QRect(120, top(2), 100, 21) << "In progress";
    QTest::newRow("Priority") << 3 << "cbopri3" << QRect(120, top(3), 100, 21) << "Urgent";
    QTest::newRow("Progress") << 4 << "edt4" << QRect(120, top(4), 100, 21) << "40";
    QTest::newRow("Difficulty") << 5 << "cboDiff5" << QRect(120, top(5), 100, 21) << "";
    QTest::newRow("CreatedDate") << 6 << "edt6" << QRect(120, top(6), 100, 21) << "3/12/2025";
    QTest::newRow("Bookmarked") << 12 << "edt12" << QRect(120, top(12), 100, 21) << "";
    QTest::newRow("AssignedTo") << 13 << "edt13" << QRect(120, top(13), 100, 21) << "";
    QTest::newRow("DueDate") << 14 << "edt14" << QRect(120, top(14), 100, 21) << "4/1/2025";
    QTest::newRow("Comments") << 16 << "edt16" << QRect(120, top(16), 500, 21) << "";
    QTest::newRow("Details") << 18 << "tbl18" << QRect(120, 391, 500, 97) << "line 1\nline 2";
    QTest::newRow("Category, 96 below the memo's top")
        << 19 << "edt19" << QRect(120, 487, 100, 21) << "";
    QTest::newRow("Properties") << 22 << "tbl22" << QRect(120, top(22), 500, 97) << "";
    QTest::newRow("Points") << 23 << "edt23" << QRect(120, top(23), 100, 21) << "";
    QTest::newRow("URL") << 24 << "edt24" << QRect(120, top(24), 500, 21) << "";
}

void TestDetails::layout() {
    QFETCH(int, field);
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    QFETCH(QString, shown);
    ThreeTasks list;
    TfrmDetails window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Details"));
    QCOMPARE(window.size(), QSize(694, 656));
    window.setTable(&list.table);
    window.Rebuild();

    QWidget* page = control<QScrollArea>(window, QStringLiteral("sbFields"))->widget();
    QCOMPARE(page->findChildren<QLineEdit*>(QRegularExpression(QStringLiteral("^lbl\\d+$"))).size(),
             25);
    auto* caption = control<QLineEdit>(window, QStringLiteral("lbl%1").arg(field));
    QVERIFY(caption);
    QCOMPARE(caption->text(), TaskRecord::Fields()[std::size_t(field)].name);
    QCOMPARE(caption->pos(), QPoint(11, rect.y()));
    QVERIFY(caption->isReadOnly());
    QCOMPARE(base(caption), QColor(215, 215, 215));

    QWidget* value = control(window, name);
    QVERIFY(value);
    QCOMPARE(value->geometry(), rect);
    if (auto* edit = qobject_cast<QLineEdit*>(value)) {
        QCOMPARE(edit->text(), shown);
        QCOMPARE(edit->isReadOnly(), field == 0);
        if (field == 0)
            QCOMPARE(base(edit), QColor(128, 128, 128));
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(value)) {
        QCOMPARE(memo->toPlainText(), shown);
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    } else {
        QCOMPARE(qobject_cast<QComboBox*>(value)->currentText(), shown);
    }
    if (field == 24) {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.grab().save(QDir::temp().filePath(QStringLiteral("corvantis-details.png"))));
    }
}

void TestDetails::pickLists_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("shown");
    const QStringList priorities{"Low", "Normal", "High", "Urgent"};
    const QStringList difficulties{"Easy", "Normal", "Hard"};
    const QStringList states{"Not Started", "Paused", "In progress", "Complete", "Cancelled"};
    QTest::newRow("Urgent") << "Priority"
                            << "Urgent" << priorities << 3;
    QTest::newRow("case ignored") << "Priority"
                                  << "hIGH" << priorities << 2;
    QTest::newRow("Moderate is not offered") << "Difficulty"
                                             << "Moderate" << difficulties << -1;
    QTest::newRow("Normal difficulty") << "Difficulty"
                                       << "Normal" << difficulties << 1;
    QTest::newRow("empty") << "Difficulty"
                           << "<null>" << difficulties << -1;
    QTest::newRow("status") << "Status"
                            << "Cancelled" << states << 4;
}

void TestDetails::pickLists() {
    QFETCH(QString, field);
    QFETCH(QString, stored);
    QFETCH(QStringList, items);
    QFETCH(int, shown);
    TaskListFixture list;
    list.add(field + u'=' + stored);
    TfrmDetails window;
    window.setTable(&list.table);
    window.Rebuild();
    const int i = list.table.fieldIndex(field);
    const QString prefix = field == u"Priority"     ? QStringLiteral("cbopri")
                           : field == u"Difficulty" ? QStringLiteral("cboDiff")
                                                    : QStringLiteral("cboSta");
    auto* pick = control<QComboBox>(window, prefix + QString::number(i));
    QVERIFY(pick);
    QVERIFY(!pick->isEditable());
    QStringList offered;
    for (int k = 0; k < pick->count(); ++k)
        offered << pick->itemText(k);
    QCOMPARE(offered, items);
    QCOMPARE(pick->currentIndex(), shown);
}

void TestDetails::editAndOk_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed"); // "pick:N" chooses item N of a drop-down list
    QTest::addColumn<QString>("stored");
    QTest::newRow("task") << "Task"
                          << "Renamed"
                          << "Renamed";
    QTest::newRow("trailing blanks dropped") << "Owner"
                                             << "Ann  "
                                             << "Ann";
    QTest::newRow("number") << "Progress"
                            << "55"
                            << "55";
    QTest::newRow("number emptied") << "Progress"
                                    << ""
                                    << "";
    QTest::newRow("date") << "DueDate"
                          << "4/18/2025"
                          << "4/18/2025";
    QTest::newRow("two-digit year") << "StartDate"
                                    << "4/18/25"
                                    << "4/18/2025";
    QTest::newRow("flag by a leading part") << "Bookmarked"
                                            << "t"
                                            << "True";
    QTest::newRow("points at the top of their range") << "Points"
                                                      << "65535"
                                                      << "65535";
    QTest::newRow("Normal difficulty chosen") << "Difficulty"
                                              << "pick:1"
                                              << "Normal";
    QTest::newRow("Low priority chosen") << "Priority"
                                         << "pick:0"
                                         << "Low";
    QTest::newRow("status chosen") << "Status"
                                   << "pick:3"
                                   << "Complete";
}

void TestDetails::editAndOk() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    ScriptedPrompt prompt;
    ThreeTasks list;
    TfrmDetails window;
    bool ok = false;
    WhenShown(&window, [&] {
        if (typed.startsWith(u"pick:")) {
            const int i = list.table.fieldIndex(field);
            QComboBox* pick = nullptr;
            for (const char* prefix : {"cbopri", "cboDiff", "cboSta"})
                if (!pick)
                    pick = control<QComboBox>(window, QLatin1String(prefix) + QString::number(i));
            QVERIFY(pick);
            pick->setFocus();
            const int item = typed.mid(5).toInt();
            pick->setCurrentIndex(item);
            emit pick->activated(item);
        } else {
            typeInto(box(window, field), typed);
        }
        // The first change puts the task into editing, which marks the list.
        QVERIFY(list.table.isEditing());
        QCOMPARE(list.hookMarks, list.marksAtStart + 1);
        click(window, "btnOK");
    });
    ok = window.execute(list.table);
    QVERIFY(ok);
    QVERIFY(prompt.errors.isEmpty());
    QVERIFY(!list.table.isEditing());
    QCOMPARE(list.table.asString(TaskRecord::Task), field == u"Task" ? stored : "Two");
    QCOMPARE(list.table.asString(field), stored);
    QCOMPARE(list.table.versionCount(), list.versionsAtStart + 1);
}

void TestDetails::memoLineBreaks_data() {
    QTest::addColumn<bool>("typeInMemo");
    QTest::addColumn<QByteArray>("written"); // in the list file
    QTest::newRow("typed lines end in CR LF") << true << QByteArray("a&#013;&#010;b");
    QTest::newRow("an untouched memo keeps its bytes") << false << QByteArray("line 1&#010;line 2");
}

void TestDetails::memoLineBreaks() {
    QFETCH(bool, typeInMemo);
    QFETCH(QByteArray, written);
    ThreeTasks list; // Two's Details: "line 1", LF, "line 2"
    TfrmDetails window;
    WhenShown(&window, [&] {
        if (typeInMemo) {
            auto* memo = control<QPlainTextEdit>(
                window, QStringLiteral("tbl%1").arg(list.table.fieldIndex(TaskRecord::Details)));
            memo->setFocus();
            QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(memo, QStringLiteral("a"));
            QTest::keyClick(memo, Qt::Key_Return);
            QTest::keyClicks(memo, QStringLiteral("b"));
        } else {
            typeInto(box(window, TaskRecord::Task), QStringLiteral("Two changed"));
        }
        click(window, "btnOK");
    });
    QVERIFY(window.execute(list.table));
    QVERIFY(DataPacket::Write(list.table).contains(written));
}

void TestDetails::refusedValueKeepsWindowOpen_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("error");
    QTest::newRow("letters in a date") << "DueDate"
                                       << "abc"
                                       << "'abc' is not a valid date.";
    QTest::newRow("letters in a number") << "Time"
                                         << "ten"
                                         << "'ten' is not a valid integer value for field 'Time'";
    QTest::newRow("points out of range")
        << "Points"
        << "70000"
        << "70000 is not a valid value for field 'Points'. The allowed range is 0 to 65535.";
    QTest::newRow("Yes is no flag") << "Bookmarked"
                                    << "Yes"
                                    << "'Yes' is not a valid boolean value for field 'Bookmarked'";
}

void TestDetails::refusedValueKeepsWindowOpen() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, error);
    ScriptedPrompt prompt;
    ThreeTasks list;
    TfrmDetails window;
    WhenShown(&window, [&] {
        typeInto(box(window, TaskRecord::Task), QStringLiteral("Also changed"));
        typeInto(box(window, field), typed);
        click(window, "btnOK");
        // One message, though leaving the box for OK also writes it.
        QTest::qWait(10);
        QCOMPARE(prompt.errors, QStringList{error});
        QVERIFY(window.isVisible());
        QVERIFY(box(window, field)->hasFocus());
        QCOMPARE(box(window, field)->text(), typed);
        // Put right, OK goes through.
        typeInto(box(window, field), QString());
        click(window, "btnOK");
    });
    QVERIFY(window.execute(list.table));
    QCOMPARE(list.table.asString(field), QString());
    QCOMPARE(list.table.asString(TaskRecord::Task), QStringLiteral("Also changed"));
}

void TestDetails::leavingABoxWritesIt() {
    ScriptedPrompt prompt;
    ThreeTasks list;
    TfrmDetails window;
    WhenShown(&window, [&] {
        typeInto(box(window, TaskRecord::Task), QStringLiteral("Typed"));
        QCOMPARE(list.table.asString(TaskRecord::Task), QStringLiteral("Two"));
        QTest::keyClick(box(window, TaskRecord::Task), Qt::Key_Tab);
        QTRY_COMPARE(list.table.asString(TaskRecord::Task), QStringLiteral("Typed"));
        QVERIFY(list.table.isEditing());
        // Dates show as the field keeps them once written.
        typeInto(box(window, TaskRecord::DueDate), QStringLiteral("5/6/25"));
        QTest::keyClick(box(window, TaskRecord::DueDate), Qt::Key_Tab);
        QTRY_COMPARE(box(window, TaskRecord::DueDate)->text(), QStringLiteral("5/6/2025"));
        click(window, "btnOK");
    });
    QVERIFY(window.execute(list.table));
    QVERIFY(prompt.errors.isEmpty());
    QCOMPARE(list.table.asString(TaskRecord::Task), QStringLiteral("Typed"));
    QCOMPARE(list.table.asDate(TaskRecord::DueDate), QDate(2025, 5, 6));
}

void TestDetails::leavingABoxWithARefusedValue() {
    ScriptedPrompt prompt;
    ThreeTasks list;
    TfrmDetails window;
    WhenShown(&window, [&] {
        typeInto(box(window, TaskRecord::DueDate), QStringLiteral("soon"));
        box(window, TaskRecord::Owner)->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(prompt.errors, QStringList{"'soon' is not a valid date."});
        // The focus goes back to the box, which keeps the text; the field keeps its value.
        QTRY_VERIFY(box(window, TaskRecord::DueDate)->hasFocus());
        QCOMPARE(box(window, TaskRecord::DueDate)->text(), QStringLiteral("soon"));
        QCOMPARE(list.table.asDate(TaskRecord::DueDate), QDate(2025, 4, 1));
        click(window, "btnCancel");
    });
    QVERIFY(!window.execute(list.table));
    QCOMPARE(prompt.errors.size(), 1);
}

void TestDetails::cancelDropsTheWindowsChanges_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel") << "btnCancel";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("close box") << "close";
}

void TestDetails::cancelDropsTheWindowsChanges() {
    QFETCH(QString, how);
    ScriptedPrompt prompt;
    ThreeTasks list;
    TfrmDetails window;
    WhenShown(&window, [&] {
        typeInto(box(window, TaskRecord::Task), QStringLiteral("Not wanted"));
        QTest::keyClick(box(window, TaskRecord::Task), Qt::Key_Tab);
        QTRY_COMPARE(list.table.asString(TaskRecord::Task), QStringLiteral("Not wanted"));
        auto* status = control<QComboBox>(window, QStringLiteral("cboSta2"));
        status->setCurrentIndex(3);
        emit status->activated(3);
        QCOMPARE(list.table.asString(TaskRecord::Status), QStringLiteral("Complete"));
        typeInto(box(window, TaskRecord::Owner), QStringLiteral("still in the box"));
        CloseBy(window, how);
    });
    QVERIFY(!window.execute(list.table));
    QVERIFY(!list.table.isEditing());
    QCOMPARE(list.table.asString(TaskRecord::Task), QStringLiteral("Two"));
    QCOMPARE(list.table.asString(TaskRecord::Status), QStringLiteral("In progress"));
    QCOMPARE(list.table.asString(TaskRecord::Owner), QString());
    QCOMPARE(list.table.versionCount(), list.versionsAtStart);
    QCOMPARE(list.visible(), (QStringList{"One", "Two", "Three"}));
    // Starting to edit marked the list; that stays as it is.
    QCOMPARE(list.hookMarks, list.marksAtStart + 1);
    // Nothing the closed window still held reaches the table later.
    QTest::qWait(20);
    QVERIFY(!list.table.isEditing());
}

void TestDetails::cancelKeepsAnEarlierPendingEdit() {
    ScriptedPrompt prompt;
    ThreeTasks list;
    // An unfinished edit in the grid.
    list.table.edit();
    list.table.setString(TaskRecord::Category, QStringLiteral("grid"));
    TfrmDetails window;
    WhenShown(&window, [&] {
        QCOMPARE(box(window, TaskRecord::Category)->text(), QStringLiteral("grid"));
        typeInto(box(window, TaskRecord::Category), QStringLiteral("window"));
        typeInto(box(window, TaskRecord::Progress), QStringLiteral("12"));
        typeInto(box(window, TaskRecord::DueDate), QString());
        QTest::keyClick(box(window, TaskRecord::DueDate), Qt::Key_Tab);
        QTRY_VERIFY(list.table.isNull(TaskRecord::DueDate));
        click(window, "btnCancel");
    });
    QVERIFY(!window.execute(list.table));
    // The grid's edit is still pending with its own values; the window's are gone.
    QVERIFY(list.table.isEditing());
    QCOMPARE(list.table.asString(TaskRecord::Category), QStringLiteral("grid"));
    QCOMPARE(list.table.asString(TaskRecord::Progress), QStringLiteral("40"));
    QCOMPARE(list.table.asDate(TaskRecord::DueDate), QDate(2025, 4, 1));
    QVERIFY(prompt.errors.isEmpty());
}

void TestDetails::okWithoutChangesPostsNothing() {
    ScriptedPrompt prompt;
    ThreeTasks list;
    TfrmDetails window;
    WhenShown(&window, [&] {
        box(window, TaskRecord::Task)->setFocus();
        QTest::keyClick(box(window, TaskRecord::Task), Qt::Key_Tab);
        QTest::keyClick(&window, Qt::Key_Return); // OK is the default button
    });
    QVERIFY(window.execute(list.table));
    QVERIFY(!list.table.isEditing());
    QCOMPARE(list.hookMarks, list.marksAtStart);
    QCOMPARE(list.table.versionCount(), list.versionsAtStart);
}

void TestDetails::emptyListStartsATask() {
    ScriptedPrompt prompt;
    TaskListFixture list;
    TfrmDetails window;
    WhenShown(&window, [&] {
        QVERIFY(box(window, TaskRecord::Task)->text().isEmpty());
        QCOMPARE(control<QComboBox>(window, QStringLiteral("cboSta2"))->currentIndex(), -1);
        typeInto(box(window, TaskRecord::Task), QStringLiteral("First"));
        // The new task's defaults show at once.
        QCOMPARE(control<QComboBox>(window, QStringLiteral("cboSta2"))->currentText(),
                 QStringLiteral("Not Started"));
        QCOMPARE(box(window, TaskRecord::CreatedDate)->text(), QStringLiteral("3/12/2025"));
        QCOMPARE(box(window, TaskRecord::Task)->text(), QStringLiteral("First"));
        click(window, "btnOK");
    });
    QVERIFY(window.execute(list.table));
    QCOMPARE(list.table.recordCount(), 1);
    QCOMPARE(list.table.asInteger(TaskRecord::ID), std::int64_t(1));
    QCOMPARE(list.table.asString(TaskRecord::Task), QStringLiteral("First"));
    QCOMPARE(list.table.asInteger(TaskRecord::Progress), std::int64_t(0));
}

void TestDetails::narrowWindowFitsWideBoxes() {
    ScriptedPrompt prompt;
    ThreeTasks list;
    TfrmDetails window;
    window.resize(480, 400);
    WhenShown(&window, [&] {
        const int area = control<QScrollArea>(window, QStringLiteral("sbFields"))->width();
        QCOMPARE(box(window, TaskRecord::Task)->width(), area - 20);
        QCOMPARE(box(window, TaskRecord::URL)->width(), area - 20);
        QCOMPARE(box(window, TaskRecord::Owner)->width(), 100);
        QCOMPARE(control(window, QStringLiteral("tbl18"))->width(), 500);
        window.reject();
    });
    window.execute(list.table);
    // The size the user gave the window is kept for the next opening.
    QCOMPARE(window.width(), 480);
}

void TestDetails::rebuildFollowsTheTable() {
    ScriptedPrompt prompt;
    ThreeTasks full;
    FieldList few{TaskRecord::Fields()[0], TaskRecord::Fields()[1]};
    few.push_back(FieldDef{QStringLiteral("DIFFICULTY"), FieldKind::String, 20, 0});
    few.push_back(FieldDef{QStringLiteral("Notes"), FieldKind::Memo, 0, 0});
    few.push_back(FieldDef{QStringLiteral("Code"), FieldKind::String, 10, FieldReadOnly});
    DataTable small;
    TaskTable::Configure(small);
    small.createEmpty(few);
    small.append();
    small.setString(QStringLiteral("Task"), QStringLiteral("Small"));
    small.setString(QStringLiteral("difficulty"), QStringLiteral("hard"));
    small.post();
    TfrmDetails window;
    window.setTable(&full.table);
    window.Rebuild();
    window.setTable(&small);
    window.Rebuild();
    QWidget* page = control<QScrollArea>(window, QStringLiteral("sbFields"))->widget();
    QStringList names;
    for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        names << w->objectName();
    names.sort();
    QCOMPARE(names, (QStringList{"cboDiff2", "edt0", "edt1", "edt4", "lbl0", "lbl1", "lbl2", "lbl3",
                                 "lbl4", "tbl3"}));
    QCOMPARE(control<QComboBox>(window, QStringLiteral("cboDiff2"))->currentText(),
             QStringLiteral("Hard"));
    QCOMPARE(control(window, QStringLiteral("edt4"))->y(), 31 + 80 + 76);
    QVERIFY(control<QLineEdit>(window, QStringLiteral("edt4"))->isReadOnly());
    QCOMPARE(control<QLineEdit>(window, QStringLiteral("edt4"))->maxLength(), 10);

    // The window holds no table that has gone.
    {
        TaskListFixture gone;
        window.setTable(&gone.table);
    }
    QVERIFY(!window.table());
    window.Rebuild();
    QVERIFY(page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).isEmpty());
}

QTEST_MAIN(TestDetails)
#include "tst_details.moc"
