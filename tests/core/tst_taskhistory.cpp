#include "core/TaskListFixture.h"
#include "model/TaskHistory.h"
#include "storage/DataPacket.h"

#include <QTest>

using namespace TaskRecord;

namespace {

// A list with a past: bravo edited twice and alpha once, delta deleted, echo added and deleted.
QByteArray ListWithHistory() {
    TaskListFixture list;
    list.add(QStringLiteral("Task=alpha|Priority=High"));
    list.add(QStringLiteral("Task=bravo|Details=line 1\r\nline 2"));
    list.add(QStringLiteral("Task=charlie|Category=Home"));
    list.add(QStringLiteral("Task=delta|DueDate=2025-04-01"));
    const auto editAt = [&](int position, const QString& values) {
        list.table.moveToPosition(position);
        list.table.edit();
        list.write(values);
        list.table.post();
    };
    editAt(1, QStringLiteral("Progress=40|Status=In progress"));
    editAt(1, QStringLiteral("Progress=80|Comments=half way"));
    editAt(0, QStringLiteral("Priority=Low"));
    list.table.moveToPosition(3);
    list.table.remove();
    list.add(QStringLiteral("Task=echo|Category=Work|Bookmarked=True|Comments="));
    list.table.last();
    list.table.remove();
    return DataPacket::Write(list.table);
}

void Load(DataTable& table, const QByteArray& bytes) {
    TaskTable::Configure(table);
    DataPacket::Read(table, bytes);
    table.setIndexName(TaskTable::IndexID);
}

DataTable::RowId RowOfId(const DataTable& table, int id) {
    const int field = table.fieldIndex(ID);
    for (DataTable::RowId row : table.allRows())
        if (table.rowData(row).int32(field) == id)
            return row;
    return -1;
}

// "6@6 5@5": each version's number and the place of its change in the log, both from 1.
QString Describe(const std::vector<TaskHistory::Version>& versions) {
    QStringList parts;
    for (const TaskHistory::Version& v : versions)
        parts << QStringLiteral("%1@%2").arg(v.version + 1).arg(v.change);
    return parts.join(u' ');
}

// Writes every value of a stored version into the pending row, as a user types them.
void TypeValues(DataTable& table, std::uint32_t version) {
    const RowData& values = table.versionData(version);
    for (int f = 0; f < static_cast<int>(table.fields().size()); ++f) {
        const FieldDef& def = table.fields()[static_cast<std::size_t>(f)];
        if (def.kind == FieldKind::AutoInc)
            continue;
        if (values.isNull(f))
            table.setNull(def.name);
        else
            table.setString(def.name, table.textOf(values, f));
    }
}

} // namespace

class TestTaskHistory : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void versionsAndDeletions();
    void changesMatchTheSameByHand_data();
    void changesMatchTheSameByHand();
    void copyWithoutHistory();
    void taskBroughtBackUnderItsId();
};

void TestTaskHistory::versionsAndDeletions() {
    const QByteArray bytes = ListWithHistory();
    DataTable table;
    Load(table, bytes);
    QCOMPARE(Describe(TaskHistory::versionsOfRow(table, RowOfId(table, 2))),
             QStringLiteral("6@6 5@5 2@2"));
    QCOMPARE(Describe(TaskHistory::versionsOfRow(table, RowOfId(table, 1))),
             QStringLiteral("7@7 1@1"));
    QCOMPARE(Describe(TaskHistory::versionsOfRow(table, RowOfId(table, 3))), QStringLiteral("3@3"));
    QCOMPARE(Describe(TaskHistory::deletedTasks(table)), QStringLiteral("8@10 4@8"));
    QStringList changed;
    for (int f : TaskHistory::changedFields(table, 5, 4))
        changed << table.fields()[static_cast<std::size_t>(f)].name;
    QCOMPARE(changed, (QStringList{Progress, Comments}));

    // Without a change log a version is the only one its task has, and the deletions the states
    // mark are still found.
    QByteArray noLog = bytes;
    noLog.replace(QByteArray("CHANGE_LOG=\"") + ChangeLogText(table).toLatin1() + "\" ", "");
    DataTable bare;
    Load(bare, noLog);
    QCOMPARE(bare.changeLog().size(), std::size_t(0));
    QCOMPARE(Describe(TaskHistory::versionsOfRow(bare, RowOfId(bare, 2))), QStringLiteral("6@0"));
    QCOMPARE(Describe(TaskHistory::deletedTasks(bare)), QStringLiteral("8@0 4@0"));
}

void TestTaskHistory::changesMatchTheSameByHand_data() {
    QTest::addColumn<QString>("changes"); // "store ID K": the K-th version back; "delete ID";
                                          // "restore K": the K-th deleted task, latest first
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("shown"); // the tasks the view shows afterwards
    const QString byId = TaskTable::IndexID;
    const QString byName = TaskTable::IndexTaskName;
    QTest::newRow("first version back") << "store 2 2" << byId << ""
                                        << "alpha bravo charlie";
    QTest::newRow("middle version, by name") << "store 2 1" << byName << ""
                                             << "alpha bravo charlie";
    QTest::newRow("current version: nothing") << "store 2 0" << byId << ""
                                              << "alpha bravo charlie";
    QTest::newRow("hidden task comes into the filter")
        << "store 2 2" << byId << "Status = 'Not Started'"
        << "alpha bravo charlie";
    QTest::newRow("deleted task back") << "restore 1" << byId << ""
                                       << "alpha bravo charlie delta";
    QTest::newRow("deleted task back outside the filter")
        << "restore 0" << byId << "Status = 'Complete'"
        << "";
    QTest::newRow("delete") << "delete 3" << byName << ""
                            << "alpha bravo";
    QTest::newRow("several at once")
        << "store 1 1|delete 3|restore 0|restore 1" << TaskTable::IndexPriority << ""
        << "bravo echo delta alpha";
}

void TestTaskHistory::changesMatchTheSameByHand() {
    QFETCH(QString, changes);
    QFETCH(QString, index);
    QFETCH(QString, filter);
    QFETCH(QString, shown);
    // Both tables start from the same file; one takes the changes, the other is edited by hand.
    const QByteArray bytes = ListWithHistory();
    DataTable table;
    Load(table, bytes);
    table.setIndexName(index);
    if (!filter.isEmpty()) {
        table.setFilter(filter);
        table.setFiltered(true);
    }
    DataTable byHand;
    Load(byHand, bytes);

    std::vector<DataTable::RowChange> made;
    std::vector<std::function<void()>> typed;
    const std::vector<TaskHistory::Version> deleted = TaskHistory::deletedTasks(byHand);
    for (const QString& change : changes.split(u'|')) {
        const QStringList words = change.split(u' ');
        const int a = words.value(1).toInt();
        const int b = words.value(2).toInt();
        if (words[0] == u"store") {
            const auto version =
                TaskHistory::versionsOfRow(table, RowOfId(table, a))[std::size_t(b)].version;
            made.push_back({DataTable::RowChange::Store, RowOfId(table, a), version});
            typed.push_back([&byHand, a, version] {
                byHand.goToRow(RowOfId(byHand, a));
                byHand.edit();
                TypeValues(byHand, version);
                byHand.post();
            });
        } else if (words[0] == u"delete") {
            made.push_back({DataTable::RowChange::Delete, RowOfId(table, a), 0});
            typed.push_back([&byHand, a] {
                byHand.goToRow(RowOfId(byHand, a));
                byHand.remove();
            });
        } else {
            const std::uint32_t version = deleted[std::size_t(a)].version;
            made.push_back({DataTable::RowChange::Add, -1, version});
            typed.push_back([&byHand, version] {
                byHand.append();
                TypeValues(byHand, version);
                byHand.post();
            });
        }
    }
    const std::vector<DataTable::RowId> added = table.applyChanges(made);
    for (const auto& type : typed)
        type();

    QCOMPARE(DataPacket::Write(table), DataPacket::Write(byHand));
    QCOMPARE(added.size(), std::size_t(changes.count(QStringLiteral("restore"))));
    QStringList tasks;
    for (int i = 0; i < table.visibleRowCount(); ++i)
        tasks << table.textOf(table.rowDataAt(i), table.fieldIndex(Task));
    QCOMPARE(tasks.join(u' '), shown);
    QCOMPARE(table.recordCount(), table.visibleRowCount());
}

void TestTaskHistory::copyWithoutHistory() {
    DataTable table;
    Load(table, ListWithHistory());
    const QByteArray before = DataPacket::Write(table);

    DataTable copy;
    TaskTable::Configure(copy);
    copy.adopt(TaskHistory::withoutHistory(table));
    DataTable read;
    Load(read, DataPacket::Write(copy));
    QCOMPARE(VersionStates(read), QStringLiteral("4 4 4"));
    QCOMPARE(ChangeLogText(read), QStringLiteral("1 0 4 2 0 4 3 0 4"));
    QCOMPARE(read.autoIncValue(), table.autoIncValue());
    QStringList rows;
    for (int i = 0; i < read.visibleRowCount(); ++i)
        rows << read.textOf(read.rowDataAt(i), read.fieldIndex(ID)) + u'=' +
                    read.textOf(read.rowDataAt(i), read.fieldIndex(Task)) + u'/' +
                    read.textOf(read.rowDataAt(i), read.fieldIndex(Progress));
    QCOMPARE(rows.join(u' '), QStringLiteral("1=alpha/0 2=bravo/80 3=charlie/0"));
    QVERIFY(TaskHistory::deletedTasks(read).empty());
    QCOMPARE(DataPacket::Write(table), before);
}

// Undo of a delete and a restore bring a task back under its own ID: the history runs on across
// the deletion, and the task is no longer offered among the deleted ones.
void TestTaskHistory::taskBroughtBackUnderItsId() {
    DataTable table;
    Load(table, ListWithHistory());
    const std::vector<TaskHistory::Version> deleted = TaskHistory::deletedTasks(table);
    QCOMPARE(deleted.size(), std::size_t(2)); // echo, delta
    DataTable::RowChange back{DataTable::RowChange::Add, -1, deleted[1].version};
    back.keepId = true;
    const DataTable::RowId delta = table.applyChanges({back}).front();
    QCOMPARE(table.rowData(delta).int32(table.fieldIndex(ID)), 4);
    table.goToRow(delta);
    table.edit();
    table.setString(Comments, QStringLiteral("again"));
    table.post();

    // Its two versions since, then the one it had when deleted.
    const std::vector<TaskHistory::Version> versions = TaskHistory::versionsOfRow(table, delta);
    QCOMPARE(versions.size(), std::size_t(3));
    QCOMPARE(versions[2].version, deleted[1].version);
    const std::vector<TaskHistory::Version> still = TaskHistory::deletedTasks(table);
    QCOMPARE(still.size(), std::size_t(1)); // echo only
    QCOMPARE(still[0].version, deleted[0].version);
}

QTEST_GUILESS_MAIN(TestTaskHistory)
#include "tst_taskhistory.moc"
