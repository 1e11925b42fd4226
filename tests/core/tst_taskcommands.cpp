#include "core/TaskListFixture.h"
#include "model/TaskCommands.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace TaskRecord;
using namespace TaskCommands;

namespace {

// Runs a command by the name a data row gives it.
void Run(const QString& command, TaskListFixture& list) {
    const auto mark = list.markUnsaved();
    if (command == u"cancel")
        CancelTask(list.table, mark);
    else if (command == u"pause")
        PauseTask(list.table, mark);
    else if (command == u"start")
        StartTask(list.table, mark);
    else if (command == u"complete")
        CompleteTask(list.table, mark);
    else if (command == u"bookmark")
        BookmarkTask(list.table, mark);
    else if (command == u"lastNow")
        LastActionedNow(list.table, mark);
    else if (command.startsWith(u"progress "))
        SetProgress(list.table, mark, command.mid(9).toInt());
    else if (command.startsWith(u"date ")) // "date <entry index> <ISO date>"
        SetDate(list.table, mark,
                {true, command.section(u' ', 1, 1).toInt(),
                 TaskListFixture::day(command.section(u' ', 2, 2))});
    else
        QFAIL("unknown command");
}

const QString OldTask = QStringLiteral("Task=Write report|Status=In progress|Priority=Urgent|"
                                       "Progress=40|Difficulty=Hard|LastActioned=2025-01-02|"
                                       "StartDate=2025-01-02|Category=Work|Bookmarked=False");

} // namespace

class TestTaskCommands : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void cleanup() { uGeneral::SetCurrentUserNameForTesting(nullptr); }

    void stateCommandWrites_data();
    void stateCommandWrites();
    void stateCommandJoinsPendingEdit();
    void quickAdd_data();
    void quickAdd();
    void failuresLeaveEarlierWritesPending_data();
    void failuresLeaveEarlierWritesPending();
    void setDateNotApplied();
    void deleteTask_data();
    void deleteTask();
    void copyText_data();
    void copyText();
    void progressWindowValue();
};

void TestTaskCommands::stateCommandWrites_data() {
    QTest::addColumn<QString>("before"); // the task's values; "<empty list>" for no task
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("changes"); // every field expected to differ afterwards

    const QString empty = QStringLiteral("<empty list>");
    QTest::newRow("cancel urgent") << OldTask << "cancel"
                                   << "Status=Cancelled|Priority=Low|LastActioned=today";
    QTest::newRow("pause urgent") << OldTask << "pause"
                                  << "Status=Paused|Priority=Low|LastActioned=today";
    QTest::newRow("start keeps 40") << "Task=a|Progress=40|Status=Paused|StartDate=2024-12-01"
                                    << "start"
                                    << "Status=In progress|LastActioned=today|StartDate=today";
    QTest::newRow("start from 0") << "Task=a|Progress=0"
                                  << "start"
                                  << "Status=In progress|Progress=1|LastActioned=today|"
                                     "StartDate=today";
    QTest::newRow("start from empty progress")
        << "Task=a|Progress=<null>"
        << "start"
        << "Status=In progress|Progress=1|LastActioned=today|StartDate=today";
    QTest::newRow("start after complete keeps 100 and completion")
        << "Task=a|Status=Complete|Progress=100|CompletedDate=2025-03-01"
        << "start"
        << "Status=In progress|LastActioned=today|StartDate=today";
    QTest::newRow("complete overwrites completion")
        << "Task=a|Progress=10|CompletedDate=2024-05-05"
        << "complete"
        << "CompletedDate=today|LastActioned=today|Progress=100|Status=Complete";
    QTest::newRow("complete cancelled keeps priority")
        << "Task=a|Status=Cancelled|Priority=Low"
        << "complete"
        << "CompletedDate=today|LastActioned=today|Progress=100|Status=Complete";
    QTest::newRow("bookmark") << OldTask << "bookmark"
                              << "Bookmarked=True|LastActioned=today";
    QTest::newRow("bookmark again") << "Task=a|Bookmarked=True|LastActioned=today"
                                    << "bookmark"
                                    << "";
    QTest::newRow("last actioned now") << OldTask << "lastNow"
                                       << "LastActioned=today";
    QTest::newRow("progress on complete task")
        << "Task=a|Status=Complete|Progress=100|CompletedDate=2025-03-01"
        << "progress 33"
        << "LastActioned=today|Progress=33|Status=In progress";
    QTest::newRow("progress 100 does not complete") << OldTask << "progress 100"
                                                    << "LastActioned=today|Progress=100";
    QTest::newRow("progress beyond 100") << OldTask << "progress 150"
                                         << "LastActioned=today|Progress=150";
    QTest::newRow("date last actioned") << OldTask << "date 0 2024-07-08"
                                        << "LastActioned=2024-07-08";
    QTest::newRow("date started") << OldTask << "date 1 2024-07-08"
                                  << "StartDate=2024-07-08";
    QTest::newRow("date due") << OldTask << "date 2 2024-07-08"
                              << "DueDate=2024-07-08";
    QTest::newRow("date completed") << OldTask << "date 3 2024-07-08"
                                    << "CompletedDate=2024-07-08";
    QTest::newRow("date created") << OldTask << "date 4 2024-07-08"
                                  << "CreatedDate=2024-07-08";
    QTest::newRow("date without entry") << OldTask << "date -1 2024-07-08"
                                        << "";
    QTest::newRow("date with an index past the entries") << OldTask << "date 5 2024-07-08"
                                                         << "";

    // On an empty view the command adds a task with the new-row defaults and its own writes.
    QTest::newRow("empty list cancel")
        << empty << "cancel"
        << "ID=1|Status=Cancelled|Priority=Low|LastActioned=today|CreatedDate=today|Progress=0";
    QTest::newRow("empty list start")
        << empty << "start"
        << "ID=1|Status=In progress|Progress=1|LastActioned=today|StartDate=today|"
           "CreatedDate=today";
    QTest::newRow("empty list complete")
        << empty << "complete"
        << "ID=1|Status=Complete|Progress=100|CompletedDate=today|LastActioned=today|"
           "CreatedDate=today";
    QTest::newRow("empty list bookmark")
        << empty << "bookmark"
        << "ID=1|Status=Not Started|Progress=0|Bookmarked=True|LastActioned=today|"
           "CreatedDate=today";
    QTest::newRow("empty list date without entry")
        << empty << "date -1 2024-07-08"
        << "ID=1|Status=Not Started|Progress=0|CreatedDate=today";
}

void TestTaskCommands::stateCommandWrites() {
    QFETCH(QString, before);
    QFETCH(QString, command);
    QFETCH(QString, changes);

    TaskListFixture list;
    const bool emptyList = before == u"<empty list>";
    QMap<QString, QString> expected;
    if (emptyList) {
        for (const FieldDef& def : list.table.fields())
            expected.insert(def.name, QString());
    } else {
        list.add(before);
        list.add(QStringLiteral("Task=other"));
        list.table.first();
        expected = list.current();
    }
    const std::size_t versions = list.table.versionCount();
    list.hookMarks = 0;

    Run(command, list);

    const QMap<QString, QString> changed = list.parse(changes);
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        expected[it.key()] = it.value();
    QCOMPARE(list.table.state(), DataTable::State::Browse);
    QCOMPARE(list.current(), expected);
    QCOMPARE(list.table.recordCount(), emptyList ? 1 : 2);
    QCOMPARE(list.commandMarks, 1);
    // Exactly one stored version more: the task was stored once, also without any change.
    QCOMPARE(list.table.versionCount(), versions + (changes.isEmpty() && !emptyList ? 0 : 1));
    QCOMPARE(list.hookMarks, 1); // the edit (or the new task) marked the list too
}

void TestTaskCommands::stateCommandJoinsPendingEdit() {
    // An unfinished grid edit is stored together with the command's writes, as one version.
    TaskListFixture list;
    list.add(QStringLiteral("Task=draft"));
    list.table.edit();
    list.table.setString(Task, QStringLiteral("final"));
    const std::size_t versions = list.table.versionCount();
    CompleteTask(list.table, list.markUnsaved());
    QCOMPARE(list.table.versionCount(), versions + 1);
    QCOMPARE(list.table.asString(Task), QStringLiteral("final"));
    QCOMPARE(list.table.asString(Status), Complete);
    QCOMPARE(list.hookMarks, 2); // the insert and the grid's edit; the command started no edit
}

void TestTaskCommands::quickAdd_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("priority");
    QTest::addColumn<QString>("difficulty");
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("task");     // empty: nothing is added
    QTest::addColumn<QString>("stored");   // Category and AssignedTo as stored
    QTest::addColumn<QString>("afterBar"); // text|priority|difficulty|category

    const QString longText(300, u'x');
    QTest::newRow("blanks around") << "  Buy milk  "
                                   << "High"
                                   << "Moderate"
                                   << "Home"
                                   << "sam"
                                   << "Buy milk"
                                   << "Home|sam"
                                   << "|Normal|Easy|Home";
    QTest::newRow("control characters around") << "\t\r\nCall  Bob\x01\n"
                                               << "Low"
                                               << "Hard"
                                               << ""
                                               << "sam"
                                               << "Call  Bob"
                                               << "|sam"
                                               << "|Normal|Easy|";
    QTest::newRow("long text and login name cut")
        << longText << "Normal"
        << "Easy"
        << "Ideas  " << QString(40, u'u') << longText.left(255) << "Ideas|" + QString(30, u'u')
        << "|Normal|Easy|Ideas  ";
    QTest::newRow("typed category kept with its leading blank") << "x"
                                                                << "Normal"
                                                                << "Easy"
                                                                << " New cat"
                                                                << "sam"
                                                                << "x"
                                                                << " New cat|sam"
                                                                << "|Normal|Easy| New cat";
    QTest::newRow("only blanks") << " \t  "
                                 << "High"
                                 << "Hard"
                                 << "Home"
                                 << "sam"
                                 << ""
                                 << ""
                                 << " \t  |High|Hard|Home";
    QTest::newRow("nothing typed") << ""
                                   << "High"
                                   << "Hard"
                                   << ""
                                   << "sam"
                                   << ""
                                   << ""
                                   << "|High|Hard|";
}

void TestTaskCommands::quickAdd() {
    QFETCH(QString, typed);
    QFETCH(QString, priority);
    QFETCH(QString, difficulty);
    QFETCH(QString, category);
    QFETCH(QString, userName);
    QFETCH(QString, task);
    QFETCH(QString, stored);
    QFETCH(QString, afterBar);

    uGeneral::SetCurrentUserNameForTesting([userName] { return userName; });
    TaskListFixture list;
    list.add(QStringLiteral("Task=earlier"));
    list.hookMarks = 0;
    const QuickAddBar after =
        QuickAdd(list.table, list.markUnsaved(), {typed, priority, difficulty, category});

    QCOMPARE((QStringList{after.text, after.priority, after.difficulty, after.category}),
             afterBar.split(u'|'));
    if (task.isEmpty()) {
        QCOMPARE(list.table.recordCount(), 1);
        QCOMPARE(list.commandMarks + list.hookMarks, 0);
        return;
    }
    QCOMPARE(list.table.state(), DataTable::State::Browse);
    QCOMPARE(list.table.recordCount(), 2);
    QCOMPARE(list.commandMarks, 1);
    QCOMPARE(list.table.asInteger(ID), 2);
    QCOMPARE(list.table.asString(Task), task);
    QCOMPARE(list.table.asString(Status), NotStarted);
    QCOMPARE(list.table.asString(Progress), QStringLiteral("0"));
    QCOMPARE(list.table.asString(Time), QStringLiteral("0"));
    QCOMPARE(list.table.asString(Bookmarked), FalseText);
    QCOMPARE(list.table.asDate(CreatedDate), uGeneral::Today());
    QCOMPARE(list.table.asString(Priority), priority);
    QCOMPARE(list.table.asString(Difficulty), difficulty);
    QCOMPARE(list.table.asString(Category) + u'|' + list.table.asString(AssignedTo), stored);
    QVERIFY(!list.table.isNull(Category)); // an empty box stores the empty text
    QVERIFY(list.table.isNull(LastActioned));
}

void TestTaskCommands::failuresLeaveEarlierWritesPending_data() {
    QTest::addColumn<bool>("withPriority");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("pending"); // values the pending task must hold
    QTest::addColumn<QString>("unwritten");

    const QString noPriority = QStringLiteral("cdsTasks: Field 'Priority' not found");
    QTest::newRow("cancel") << false << "cancel" << noPriority << "Task=old|Status=Cancelled"
                            << "LastActioned";
    QTest::newRow("pause") << false << "pause" << noPriority << "Task=old|Status=Paused"
                           << "LastActioned";
    QTest::newRow("quick add") << false << "quick add" << noPriority
                               << "Task=new one|Status=Not Started|Progress=0|CreatedDate=today"
                               << "Difficulty";
    QTest::newRow("quick add without login name")
        << true << "quick add" << uGeneral::SystemErrorMessage(2)
        << "Task=new one|Priority=High|Difficulty=Hard|Bookmarked=False|Time=0"
        << "AssignedTo";
}

void TestTaskCommands::failuresLeaveEarlierWritesPending() {
    QFETCH(bool, withPriority);
    QFETCH(QString, command);
    QFETCH(QString, message);
    QFETCH(QString, pending);
    QFETCH(QString, unwritten);

    FieldList fields = TaskRecord::Fields();
    if (!withPriority)
        fields.erase(fields.begin() + 3);
    QCOMPARE(fields[3].name == Priority, withPriority);
    TaskListFixture list(fields);
    list.add(QStringLiteral("Task=old"));
    uGeneral::SetCurrentUserNameForTesting(
        []() -> QString { throw CorvantisError(uGeneral::SystemErrorMessage(2)); });

    QString error;
    if (command == u"quick add")
        error = ErrorOf([&] {
            QuickAdd(list.table, list.markUnsaved(),
                     {QStringLiteral("new one"), High, Hard, QStringLiteral("Work")});
        });
    else
        error = ErrorOf([&] { Run(command, list); });

    QCOMPARE(error, message);
    QVERIFY(list.table.isEditing());
    QCOMPARE(list.commandMarks, 0);
    const QMap<QString, QString> expected = list.parse(pending);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(list.table.asString(it.key()), it.value());
    QVERIFY(list.table.isNull(unwritten));
}

void TestTaskCommands::setDateNotApplied() {
    TaskListFixture list;
    list.add(OldTask);
    const auto before = list.current();
    list.hookMarks = 0;
    SetDate(list.table, list.markUnsaved(), {false, 2, QDate(2024, 7, 8)});
    QCOMPARE(list.current(), before);
    QCOMPARE(list.table.state(), DataTable::State::Browse);
    QCOMPARE(list.commandMarks + list.hookMarks, 0);
}

void TestTaskCommands::deleteTask_data() {
    QTest::addColumn<int>("tasks");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("remaining");
    QTest::addColumn<QString>("error");

    QTest::newRow("yes") << 3 << true << "t1,t3"
                         << "";
    QTest::newRow("no") << 3 << false << "t1,t2,t3"
                        << "";
    QTest::newRow("yes on empty list")
        << 0 << true << ""
        << "cdsTasks: Cannot perform this operation on an empty dataset";
    QTest::newRow("no on empty list") << 0 << false << ""
                                      << "";
}

void TestTaskCommands::deleteTask() {
    QFETCH(int, tasks);
    QFETCH(bool, answer);
    QFETCH(QString, remaining);
    QFETCH(QString, error);

    TaskListFixture list;
    for (int i = 1; i <= tasks; ++i)
        list.add(QStringLiteral("Task=t%1").arg(i));
    if (tasks > 0)
        list.table.moveToPosition(1);
    QStringList asked;
    bool deleted = false;
    const QString message = ErrorOf([&] {
        deleted = DeleteTask(list.table, list.markUnsaved(), [&](const QString& question) {
            asked << question;
            return answer;
        });
    });

    QCOMPARE(asked, QStringList{QStringLiteral("Delete current task ?")});
    QCOMPARE(message, error);
    QCOMPARE(list.visible().join(u','), remaining);
    QCOMPARE(deleted, answer && error.isEmpty());
    QCOMPARE(list.commandMarks, deleted ? 1 : 0);
    if (deleted) // a neighbouring task becomes current
        QCOMPARE(list.table.asString(Task), QStringLiteral("t3"));
}

void TestTaskCommands::copyText_data() {
    QTest::addColumn<QString>("values");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("copied"); // "<nothing>": nothing is copied

    QTest::newRow("progress") << "Progress=50"
                              << "Progress"
                              << "50";
    QTest::newRow("negative time") << "Time=-7"
                                   << "Time"
                                   << "-7";
    QTest::newRow("id") << ""
                        << "ID"
                        << "1";
    QTest::newRow("text as stored") << "Task=  Ship it"
                                    << "Task"
                                    << "  Ship it";
    QTest::newRow("memo keeps lines") << "Details=a\nb"
                                      << "Details"
                                      << "a\nb";
    QTest::newRow("date") << "DueDate=2025-02-06"
                          << "DueDate"
                          << "2/6/2025";
    QTest::newRow("empty date") << ""
                                << "DueDate"
                                << "";
    QTest::newRow("bookmarked") << "Bookmarked=True"
                                << "Bookmarked"
                                << "True";
    QTest::newRow("not bookmarked") << "Bookmarked=False"
                                    << "Bookmarked"
                                    << "False";
    QTest::newRow("bookmark never set") << ""
                                        << "Bookmarked"
                                        << "";
    QTest::newRow("empty integer") << ""
                                   << "GroupNo"
                                   << "";
    QTest::newRow("no column") << "Task=x"
                               << ""
                               << "<nothing>";
}

void TestTaskCommands::copyText() {
    QFETCH(QString, values);
    QFETCH(QString, field);
    QFETCH(QString, copied);

    TaskListFixture list;
    list.add(values);
    const std::size_t versions = list.table.versionCount();
    const std::optional<QString> text = CopyText(list.table, field);
    QCOMPARE(text.value_or(QStringLiteral("<nothing>")), copied);
    QCOMPARE(list.table.versionCount(), versions);
    QCOMPARE(list.commandMarks, 0);
}

void TestTaskCommands::progressWindowValue() {
    TaskListFixture list;
    QCOMPARE(ProgressWindowValue(list.table), 0); // no task in view
    list.add(QStringLiteral("Task=a|Progress=40"));
    QCOMPARE(ProgressWindowValue(list.table), 40);
    list.add(QStringLiteral("Task=b|Progress=<null>"));
    QCOMPARE(ProgressWindowValue(list.table), 0);
}

QTEST_GUILESS_MAIN(TestTaskCommands)
#include "tst_taskcommands.moc"
