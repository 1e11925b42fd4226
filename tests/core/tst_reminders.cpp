#include "core/TaskListFixture.h"
#include "model/FieldValues.h"
#include "reminders/DueDateIndex.h"
#include "reminders/ReminderLog.h"
#include "reminders/ReminderPlanner.h"
#include "reminders/ReminderSettings.h"
#include "reminders/ReminderStore.h"
#include "storage/DataPacket.h"
#include "support/FileBytes.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace TaskRecord;

namespace {

DataTable::RowId rowOfTask(const DataTable& table, const QString& text) {
    const int field = table.fieldIndex(Task);
    for (const DataTable::RowId row : table.allRows())
        if (table.textOf(table.rowData(row), field) == text)
            return row;
    return -1;
}

// "Task=a|DueDate=today;Task=b|..." added in order.
void addTasks(TaskListFixture& list, const QString& tasks) {
    for (const QString& task : tasks.split(u';', Qt::SkipEmptyParts))
        list.add(task);
}

// "a:Field=value|..." : the task named a edited and stored.
void change(TaskListFixture& list, const QString& edit) {
    list.table.goToRow(rowOfTask(list.table, edit.section(u':', 0, 0)));
    list.table.edit();
    list.write(edit.section(u':', 1));
    list.table.post();
}

// The open dated tasks found by reading every row, as the index must give them.
QStringList dueByScan(const DataTable& table) {
    std::vector<std::pair<qint64, DataTable::RowId>> found;
    const int due = table.fieldIndex(DueDate);
    for (const DataTable::RowId row : table.allRows()) {
        const RowData& data = table.rowData(row);
        const QDate day = FieldValues::toDate(table.fields()[std::size_t(due)], data, due);
        const QString status = table.textOf(data, table.fieldIndex(Status));
        if (day.isValid() && status != Complete && status != Cancelled)
            found.emplace_back(day.toJulianDay(), row);
    }
    std::sort(found.begin(), found.end());
    QStringList rows;
    for (const auto& [day, row] : found)
        rows << QStringLiteral("%1@%2").arg(row).arg(
            QDate::fromJulianDay(day).toString(Qt::ISODate));
    return rows;
}

QStringList dueByIndex(const DueDateIndex& index) {
    QStringList rows;
    for (const DueDateIndex::Entry& entry : index.dueBy(QDate(9999, 12, 31)))
        rows << QStringLiteral("%1@%2").arg(entry.row).arg(entry.mark.due.toString(Qt::ISODate));
    return rows;
}

} // namespace

class TestReminders : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }

    void whatIsDue_data();
    void whatIsDue();
    void indexFollowsTheTable_data();
    void indexFollowsTheTable();
    void notices_data();
    void notices();
    void storeKeepsAcrossRuns();
    void storeStartsAfresh_data();
    void storeStartsAfresh();
    void settings_data();
    void settings();
};

void TestReminders::whatIsDue_data() {
    QTest::addColumn<QString>("tasks");
    QTest::addColumn<QString>("log");    // "remind a <day>" / "snooze a <until>", comma-separated
    QTest::addColumn<QString>("change"); // made after the log: "a:Field=value|..."
    QTest::addColumn<QString>("due");    // the texts of the due tasks, in order

    const char* one = "Task=a|DueDate=yesterday";
    AddTextRows({
        {"due today and overdue, earliest first",
         "Task=a|DueDate=today;Task=b|DueDate=2025-03-01;Task=c|DueDate=yesterday", "", "",
         "b,c,a"},
        {"complete and cancelled are not due",
         "Task=a|DueDate=today|Status=Complete;Task=b|DueDate=yesterday|Status=Cancelled", "", "",
         ""},
        {"undated and future are not due", "Task=a;Task=b|DueDate=tomorrow", "", "", ""},
        {"every open status is due",
         "Task=a|DueDate=today|Status=Paused;Task=b|DueDate=today|Status=In progress;"
         "Task=c|DueDate=today|Status=Not Started",
         "", "", "a,b,c"},
        {"reminded today", one, "remind a today", "", ""},
        {"reminded yesterday", one, "remind a yesterday", "", "a"},
        {"due date changed since the reminder", one, "remind a today", "a:DueDate=2025-03-10", "a"},
        {"status changed since the reminder", one, "remind a today", "a:Status=Paused", "a"},
        {"completed since the reminder", one, "remind a today", "a:Status=Complete", ""},
        {"other fields changed since the reminder", one, "remind a today", "a:Priority=High", ""},
        {"snoozed until tomorrow", one, "snooze a tomorrow", "", ""},
        {"snooze ends today", one, "snooze a today", "", "a"},
        {"snoozed, then the due date changed", one, "snooze a tomorrow", "a:DueDate=today", "a"},
    });
}

void TestReminders::whatIsDue() {
    QFETCH(QString, tasks);
    QFETCH(QString, log);
    QFETCH(QString, change);
    QFETCH(QString, due);

    TaskListFixture list;
    addTasks(list, tasks);
    const DueDateIndex index(&list.table);
    ReminderLog reminders;
    for (const QString& op : log.split(u',', Qt::SkipEmptyParts)) {
        const QStringList words = op.split(u' ');
        const auto task = ReminderPlanner::TaskAt(list.table, rowOfTask(list.table, words[1]));
        if (words[0] == u"remind")
            reminders.markReminded(task.mark, TaskListFixture::day(words[2]));
        else
            reminders.snooze(task.mark, TaskListFixture::day(words[2]));
    }
    if (!change.isEmpty())
        ::change(list, change);

    QStringList texts;
    for (const auto& task : ReminderPlanner::DueTasks(index, reminders, uGeneral::Today()))
        texts << ReminderPlanner::TaskAt(list.table, task.row).text;
    QCOMPARE(texts.join(u','), due);
}

void TestReminders::indexFollowsTheTable_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("mayOwe"); // the index tells that a reminder may be owed
    for (const char* op :
         {"edit due date", "reopen", "add", "undo an edit", "cancelled batch", "read a list file"})
        QTest::newRow(op) << QString::fromUtf8(op) << true;
    for (const char* op : {"clear due date", "complete", "delete", "edit another field", "close"})
        QTest::newRow(op) << QString::fromUtf8(op) << false;
}

void TestReminders::indexFollowsTheTable() {
    QFETCH(QString, operation);
    QFETCH(bool, mayOwe);
    TaskListFixture list;
    addTasks(list, "Task=a|DueDate=today;Task=b|DueDate=2025-03-01;Task=c;"
                   "Task=d|DueDate=tomorrow|Status=Complete;Task=e|DueDate=yesterday");
    const DueDateIndex index(&list.table);
    QCOMPARE(dueByIndex(index), dueByScan(list.table));
    QSignalSpy told(&index, &DueDateIndex::entriesChanged);

    if (operation == u"edit due date") {
        change(list, "a:DueDate=2025-02-01");
    } else if (operation == u"clear due date") {
        change(list, "b:DueDate=<null>");
    } else if (operation == u"complete") {
        change(list, "e:Status=Complete");
    } else if (operation == u"reopen") {
        change(list, "d:Status=Paused");
    } else if (operation == u"delete") {
        list.table.goToRow(rowOfTask(list.table, "b"));
        list.table.remove();
    } else if (operation == u"add") {
        list.add("Task=f|DueDate=2025-01-01");
    } else if (operation == u"undo an edit") {
        const DataTable::RowId row = rowOfTask(list.table, "a");
        const auto before = std::uint32_t(list.table.currentVersionOf(row));
        change(list, "a:DueDate=2025-02-01");
        list.table.applyChanges({{DataTable::RowChange::Store, row, before}});
    } else if (operation == u"cancelled batch") {
        list.table.appendRows(
            5000, [&](int) { list.table.setDate(DueDate, uGeneral::Today()); },
            [](int, int) { return false; });
    } else if (operation == u"read a list file") {
        TaskListFixture other;
        addTasks(other, "Task=g|DueDate=yesterday;Task=h;Task=i|DueDate=today;Task=j;Task=k;"
                        "Task=l|DueDate=2025-01-01|Status=Paused");
        change(other, "h:DueDate=today");
        DataPacket::Read(list.table, DataPacket::Write(other.table));
    } else if (operation == u"edit another field") {
        change(list, "b:Comments=later");
    } else if (operation == u"close") {
        list.table.close();
        QCOMPARE(index.size(), 0);
        QCOMPARE(told.isEmpty(), !mayOwe);
        return;
    }
    QCOMPARE(dueByIndex(index), dueByScan(list.table));
    QCOMPARE(told.isEmpty(), !mayOwe);
}

void TestReminders::notices_data() {
    QTest::addColumn<QString>("dues");    // one due date per task, named a, b, c, ...; all due
    QTest::addColumn<QString>("notices"); // summary|body, separated by ";"

    AddTextRows({
        {"due today", "today", "Due today|a\nWeek plan"},
        {"overdue", "2025-03-01", "Overdue: due 3/1/2025|a\nWeek plan"},
        {"five give five", "today,today,today,today,today",
         "Due today|a\nWeek plan;Due today|b\nWeek plan;Due today|c\nWeek plan;"
         "Due today|d\nWeek plan;Due today|e\nWeek plan"},
        {"past five, one summary, earliest first", "today,today,yesterday,today,today,today,today",
         "7 tasks are due in Week plan|c\na\nb\nd\ne\nand 2 more"},
    });
}

void TestReminders::notices() {
    QFETCH(QString, dues);
    QFETCH(QString, notices);
    TaskListFixture list;
    for (const QString& due : dues.split(u','))
        list.add(
            QStringLiteral("Task=%1|DueDate=%2").arg(QChar(u'a' + list.table.recordCount()), due));
    const DueDateIndex index(&list.table);
    QStringList texts;
    for (const auto& notice : ReminderPlanner::Notices(
             list.table, ReminderPlanner::DueTasks(index, {}, uGeneral::Today()), "Week plan",
             uGeneral::Today()))
        texts << notice.summary + u'|' + notice.body;
    QCOMPARE(texts.join(u';'), notices);
}

void TestReminders::storeKeepsAcrossRuns() {
    QTemporaryDir dir;
    const QString root = dir.filePath("data/reminders");
    const QString listFile = dir.filePath("Week plan.cv1");
    const QDate today = uGeneral::Today();
    const auto status = [](const QString& text) {
        return ReminderLog::statusHash(text.toStdString());
    };
    const ReminderLog::Task first{1, today, status(NotStarted)};
    const ReminderLog::Task second{2, today.addDays(-1), status(Paused)};
    const ReminderLog::Task unkept{ReminderLog::RowKeyBase + 4, today, status(NotStarted)};
    QVERIFY(WriteFileBytes(listFile, "list"));
    QVERIFY(QFile::link(listFile, dir.filePath("link.cv1")));
    QVERIFY(QFile::link(dir.path(), dir.filePath("folder link")));

    // Two runs of the same list, each noting its own reminder: neither loses the other's.
    ReminderLog run1 = ReminderStore(root).load(listFile);
    ReminderLog run2 = ReminderStore(root).load(listFile);
    run1.markReminded(first, today);
    run1.markReminded(unkept, today);
    ReminderStore(root).update(listFile, run1, today);
    run2.snooze(second, today.addDays(2));
    ReminderStore(root).update(listFile, run2, today);

    // The next run finds the list by another spelling of its path, or through a link.
    for (const char* spelling : {"data/../Week plan.cv1", "link.cv1", "folder link/link.cv1"}) {
        const ReminderLog next = ReminderStore(root).load(dir.filePath(spelling));
        QVERIFY2(next.isQuiet(first, today) && next.isQuiet(second, today), spelling);
        QVERIFY(!next.isQuiet(unkept, today));
    }

    struct stat folder {
    }, file{};
    QCOMPARE(::stat(QFile::encodeName(root).constData(), &folder), 0);
    QCOMPARE(::stat(QFile::encodeName(ReminderStore(root).fileFor(listFile)).constData(), &file),
             0);
    QCOMPARE(folder.st_mode & 0777, 0700u);
    QCOMPARE(file.st_mode & 0777, 0600u);

    // A day later the reminder counts no more, the snooze still does; once that is over too, the
    // log is gone.
    ReminderLog later = ReminderStore(root).load(listFile);
    ReminderStore(root).update(listFile, later, today.addDays(1));
    QCOMPARE(later.size(), 1);
    ReminderStore(root).update(listFile, later, today.addDays(2));
    QVERIFY(!QFileInfo::exists(ReminderStore(root).fileFor(listFile)));
}

void TestReminders::storeStartsAfresh_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("another list's") << QByteArray("Corvantis reminders 1\n/elsewhere/other.cv1\n"
                                                  "1 2460747 - 2460747 12\n");
    QTest::newRow("line cut short") << QByteArray("Corvantis reminders 1\n%LIST%\n1 2460747 -\n");
    QTest::newRow("not a number") << QByteArray("Corvantis reminders 1\n%LIST%\n1 x - 5 12\n");
    QTest::newRow("a later format") << QByteArray("Corvantis reminders 2\n%LIST%\n");
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe garbage", 12);
}

void TestReminders::storeStartsAfresh() {
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const ReminderStore store(dir.filePath("reminders"));
    const QString listFile = dir.filePath("list.cv1");
    QVERIFY(QDir().mkpath(store.root()));
    WriteFileBytes(store.fileFor(listFile), QByteArray(bytes).replace("%LIST%", listFile.toUtf8()));

    ReminderLog log = store.load(listFile);
    QVERIFY(log.isEmpty());
    // The damaged log is replaced by the next reminder.
    const ReminderLog::Task task{1, uGeneral::Today(), ReminderLog::statusHash("Not Started")};
    log.markReminded(task, uGeneral::Today());
    store.update(listFile, log, uGeneral::Today());
    QVERIFY(store.load(listFile).isQuiet(task, uGeneral::Today()));
}

void TestReminders::settings_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("time");

    QTest::newRow("no file") << QByteArray() << true << "09:00";
    QTest::newRow("no section") << QByteArray("[Category]\nLine0=Home\n") << true << "09:00";
    QTest::newRow("off at half past seven")
        << QByteArray("[Reminders]\nEnabled=0\nTime=07:30\n") << false << "07:30";
    QTest::newRow("hour of one digit") << QByteArray("[Reminders]\nTime=7:05\n") << true << "07:05";
    QTest::newRow("values that mean nothing")
        << QByteArray("[Reminders]\nEnabled=maybe\nTime=25:99\n") << true << "09:00";
}

void TestReminders::settings() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, enabled);
    QFETCH(QString, time);
    QTemporaryDir dir;
    const QString fileName = dir.filePath("Corvantis.ini");
    if (!bytes.isEmpty())
        WriteFileBytes(fileName, bytes);

    const ReminderSettings::Options read = ReminderSettings::Read(fileName);
    QCOMPARE(read.enabled, enabled);
    QCOMPARE(read.time.toString("HH:mm"), time);

    // Written back changed, the other sections keep their bytes.
    ReminderSettings::Save(fileName, {!enabled, QTime(18, 45)});
    const ReminderSettings::Options back = ReminderSettings::Read(fileName);
    QCOMPARE(back.enabled, !enabled);
    QCOMPARE(back.time, QTime(18, 45));
    if (!bytes.contains("[Reminders]"))
        QVERIFY(ReadFileBytes(fileName).startsWith(bytes));
}

QTEST_GUILESS_MAIN(TestReminders)
#include "tst_reminders.moc"
