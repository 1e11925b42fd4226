#include "base/LoginName.h"
#include "core/TaskListFixture.h"
#include "model/TaskCommands.h"
#include "support/TestSupport.h"

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
    else if (command.startsWith(u"date ")) // "date <entry index> <day>"
        SetDate(list.table, mark,
                {true, command.section(u' ', 1, 1).toInt(),
                 TaskListFixture::day(command.section(u' ', 2, 2))});
    else
        QFAIL("unknown command");
}

#define OLD_TASK                                                                                   \
    "Task=Write report|Status=In progress|Priority=Urgent|Progress=40|Difficulty=Hard|"            \
    "LastActioned=2025-01-02|StartDate=2025-01-02|Category=Work|Bookmarked=False"

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
};

void TestTaskCommands::stateCommandWrites_data() {
    QTest::addColumn<QString>("before"); // the task's values; "<empty list>" for no task
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("changes"); // every field expected to differ afterwards

    AddTextRows({
        {"cancel urgent", OLD_TASK, "cancel", "Status=Cancelled|Priority=Low|LastActioned=today"},
        {"pause urgent", OLD_TASK, "pause", "Status=Paused|Priority=Low|LastActioned=today"},
        {"start keeps 40", "Task=a|Progress=40|Status=Paused|StartDate=2024-12-01", "start",
         "Status=In progress|LastActioned=today|StartDate=today"},
        {"start from 0", "Task=a|Progress=0", "start",
         "Status=In progress|Progress=1|LastActioned=today|StartDate=today"},
        {"start from empty progress", "Task=a|Progress=<null>", "start",
         "Status=In progress|Progress=1|LastActioned=today|StartDate=today"},
        {"start after complete keeps 100 and completion",
         "Task=a|Status=Complete|Progress=100|CompletedDate=2025-03-01", "start",
         "Status=In progress|LastActioned=today|StartDate=today"},
        {"complete overwrites completion", "Task=a|Progress=10|CompletedDate=2024-05-05",
         "complete", "CompletedDate=today|LastActioned=today|Progress=100|Status=Complete"},
        {"bookmark", OLD_TASK, "bookmark", "Bookmarked=True|LastActioned=today"},
        {"bookmark again", "Task=a|Bookmarked=True|LastActioned=today", "bookmark", ""},
        {"last actioned now", OLD_TASK, "lastNow", "LastActioned=today"},
        {"progress on complete task", "Task=a|Status=Complete|Progress=100|CompletedDate=today",
         "progress 33", "LastActioned=today|Progress=33|Status=In progress"},
        {"progress 100 does not complete", OLD_TASK, "progress 100",
         "LastActioned=today|Progress=100"},
        {"progress beyond 100", OLD_TASK, "progress 150", "LastActioned=today|Progress=150"},
        {"date last actioned", OLD_TASK, "date 0 2024-07-08", "LastActioned=2024-07-08"},
        {"date started", OLD_TASK, "date 1 2024-07-08", "StartDate=2024-07-08"},
        {"date due", OLD_TASK, "date 2 2024-07-08", "DueDate=2024-07-08"},
        {"date completed", OLD_TASK, "date 3 2024-07-08", "CompletedDate=2024-07-08"},
        {"date created", OLD_TASK, "date 4 2024-07-08", "CreatedDate=2024-07-08"},
        {"date without entry", OLD_TASK, "date -1 2024-07-08", ""},
        {"date with an index past the entries", OLD_TASK, "date 5 2024-07-08", ""},
        // An empty view gets a task with the new-row defaults and the command's writes.
        {"empty list cancel", "<empty list>", "cancel",
         "ID=1|Status=Cancelled|Priority=Low|LastActioned=today|CreatedDate=today|Progress=0"},
        {"empty list start", "<empty list>", "start",
         "ID=1|Status=In progress|Progress=1|LastActioned=today|StartDate=today|"
         "CreatedDate=today"},
        {"empty list bookmark", "<empty list>", "bookmark",
         "ID=1|Status=Not Started|Progress=0|Bookmarked=True|LastActioned=today|"
         "CreatedDate=today"},
        {"empty list date without entry", "<empty list>", "date -1 2024-07-08",
         "ID=1|Status=Not Started|Progress=0|CreatedDate=today"},
    });
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
    QCOMPARE(list.hookMarks, 1); // the edit (or the new task) marked the list too
    // Stored once: one version more, none when nothing changed.
    QCOMPARE(list.table.versionCount(), versions + (changes.isEmpty() && !emptyList ? 0 : 1));
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
    QTest::addColumn<QString>("bar");      // text|priority|difficulty|category before
    QTest::addColumn<QString>("userName"); //
    QTest::addColumn<QString>("stored");   // Task|Category|AssignedTo; empty: nothing added
    QTest::addColumn<QString>("barAfter");

    const QByteArray x300(300, 'x');
    const QByteArray longRow = x300 + "|Normal|Easy|Ideas  ";
    const QByteArray longStored = x300.left(255) + "|Ideas|" + QByteArray(30, 'u');
    const QByteArray longName(40, 'u');
    AddTextRows({
        {"blanks around", "  Buy milk  |High|Moderate|Home", "sam", "Buy milk|Home|sam",
         "|Normal|Easy|Home"},
        {"control characters around", "\t\r\nCall  Bob\x01\n|Low|Hard|", "sam", "Call  Bob||sam",
         "|Normal|Easy|"},
        {"long text and login name cut", longRow.constData(), longName.constData(),
         longStored.constData(), "|Normal|Easy|Ideas  "},
        {"typed category keeps a leading blank", "x|Normal|Easy| New cat", "sam", "x| New cat|sam",
         "|Normal|Easy| New cat"},
        {"only blanks", " \t  |High|Hard|Home", "sam", "", " \t  |High|Hard|Home"},
        {"nothing typed", "|High|Hard|", "sam", "", "|High|Hard|"},
    });
}

void TestTaskCommands::quickAdd() {
    QFETCH(QString, bar);
    QFETCH(QString, userName);
    QFETCH(QString, stored);
    QFETCH(QString, barAfter);

    uGeneral::SetCurrentUserNameForTesting([userName] { return userName; });
    TaskListFixture list;
    list.add(QStringLiteral("Task=earlier"));
    list.hookMarks = 0;
    const QStringList shown = bar.split(u'|');
    const QuickAddBar after =
        QuickAdd(list.table, list.markUnsaved(), {shown[0], shown[1], shown[2], shown[3]});

    QCOMPARE((QStringList{after.text, after.priority, after.difficulty, after.category}),
             barAfter.split(u'|'));
    if (stored.isEmpty()) {
        QCOMPARE(list.table.recordCount(), 1);
        QCOMPARE(list.commandMarks + list.hookMarks, 0);
        return;
    }
    QCOMPARE(list.table.state(), DataTable::State::Browse);
    QCOMPARE(list.commandMarks, 1);
    QCOMPARE(list.table.recordCount(), 2);
    QCOMPARE(list.table.asInteger(ID), 2);
    QCOMPARE(QStringList({list.table.asString(Task), list.table.asString(Category),
                          list.table.asString(AssignedTo)})
                 .join(u'|'),
             stored);
    QVERIFY(!list.table.isNull(Category)); // an empty box stores the empty text
    auto values = list.current();
    values.remove(Task);
    values.remove(Category);
    values.remove(AssignedTo);
    QCOMPARE(values, list.parse(QStringLiteral("ID=2|Status=Not Started|Priority=") + shown[1] +
                                "|Progress=0|Difficulty=" + shown[2] +
                                "|CreatedDate=today|CompletedDate=<null>|LastActioned=<null>|"
                                "StartDate=<null>|Time=0|ParentID=<null>|Bookmarked=False|"
                                "DueDate=<null>|GroupNo=<null>|Comments=<null>|Owner=<null>|"
                                "Details=<null>|RelatedFile=<null>|LinkedList=<null>|"
                                "Properties=<null>|Points=<null>|URL=<null>"));
}

void TestTaskCommands::failuresLeaveEarlierWritesPending_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("pending"); // values the pending task must hold
    QTest::addColumn<QString>("unwritten");

    const QByteArray noLogin = uGeneral::SystemErrorMessage(2).toUtf8();
    const char* noPriority = "cdsTasks: Field 'Priority' not found";
    AddTextRows({
        {"cancel", "cancel", noPriority, "Task=old|Status=Cancelled", "LastActioned"},
        {"pause", "pause", noPriority, "Task=old|Status=Paused", "LastActioned"},
        {"quick add", "quick add", noPriority,
         "Task=new one|Status=Not Started|Progress=0|CreatedDate=today", "Difficulty"},
        {"quick add without login name", "quick add with Priority", noLogin.constData(),
         "Task=new one|Priority=High|Difficulty=Hard|Bookmarked=False|Time=0", "AssignedTo"},
    });
}

void TestTaskCommands::failuresLeaveEarlierWritesPending() {
    QFETCH(QString, command);
    QFETCH(QString, message);
    QFETCH(QString, pending);
    QFETCH(QString, unwritten);

    // A list file may lack fields; the failing user name is the same on every list.
    FieldList fields = TaskRecord::Fields();
    if (!command.endsWith(u"with Priority"))
        fields.erase(fields.begin() + 3);
    TaskListFixture list(fields);
    list.add(QStringLiteral("Task=old"));
    uGeneral::SetCurrentUserNameForTesting(
        []() -> QString { throw CorvantisError(uGeneral::SystemErrorMessage(2)); });

    const QString error = errorOf([&] {
        if (command.startsWith(u"quick add"))
            QuickAdd(list.table, list.markUnsaved(),
                     {QStringLiteral("new one"), High, Hard, QStringLiteral("Work")});
        else
            Run(command, list);
    });

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
    list.add(QStringLiteral(OLD_TASK));
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
    list.table.moveToPosition(1);
    QStringList asked;
    bool deleted = false;
    const QString message = errorOf([&] {
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

    AddTextRows({
        {"progress", "Progress=50", "Progress", "50"},
        {"id", "", "ID", "1"},
        {"text as stored", "Task=  Ship it", "Task", "  Ship it"},
        {"date", "DueDate=2025-02-06", "DueDate", "2/6/2025"},
        {"empty date", "", "DueDate", ""},
        {"bookmarked", "Bookmarked=True", "Bookmarked", "True"},
        {"not bookmarked", "Bookmarked=False", "Bookmarked", "False"},
        {"bookmark never set", "", "Bookmarked", ""},
        {"no column", "Task=x", "", "<nothing>"},
    });
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

QTEST_GUILESS_MAIN(TestTaskCommands)
#include "tst_taskcommands.moc"
