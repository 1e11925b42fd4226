#include "core/TaskListFixture.h"
#include "document/ListMerge.h"
#include "storage/DataPacket.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <map>
#include <memory>

using namespace TaskRecord;
using Side = MergeConflict::Side;

namespace {

// The list both copies start from: four tasks, bravo edited once, echo added and deleted (so the
// counter stands at 6).
QByteArray CommonList() {
    TaskListFixture list;
    for (const char* task : {"alpha", "bravo", "charlie", "delta", "echo"})
        list.add(QStringLiteral("Task=%1").arg(QLatin1String(task)));
    list.table.moveToPosition(1);
    list.table.edit();
    list.write(QStringLiteral("Priority=High"));
    list.table.post();
    list.table.last();
    list.table.remove();
    return DataPacket::Write(list.table);
}

// A copy of a list, open as a view opens it (new tasks get their defaults).
struct Copy {
    TaskListFixture list;

    explicit Copy(const QByteArray& bytes) {
        DataPacket::Read(list.table, bytes);
        list.table.setIndexName(TaskTable::IndexID);
    }
    void load(const QString& fileName) {
        DataPacket::LoadFromFile(list.table, fileName);
        list.table.setIndexName(TaskTable::IndexID);
    }

    DataTable::RowId rowOfId(int id) const {
        const int field = list.table.fieldIndex(ID);
        for (DataTable::RowId row : list.table.allRows())
            if (list.table.rowData(row).int32(field) == id)
                return row;
        return -1;
    }

    // "edit 2 Progress=40|Comments=x; add Task=fox; delete 3", as a user does them.
    void run(const QString& script) {
        DataTable& table = list.table;
        for (const QString& command : script.split(u';', Qt::SkipEmptyParts)) {
            const QStringList words = command.trimmed().split(u' ');
            const QString rest = command.trimmed().section(u' ', words.first() == u"add" ? 1 : 2);
            if (words.first() == u"add") {
                list.add(rest);
                continue;
            }
            table.goToRow(rowOfId(words.at(1).toInt()));
            if (words.first() == u"delete") {
                table.remove();
            } else {
                table.edit();
                list.write(rest);
                table.post();
            }
        }
    }

    // "1 alpha Not Started 0 High|2 ...": ID, Task, Status, Progress, Priority and Comments of
    // every task in ID order, empty values left out.
    QString tasks() const {
        QStringList lines;
        for (DataTable::RowId row : list.table.allRows()) {
            QStringList values;
            for (const QString& field : {ID, Task, Status, Progress, Priority, Comments}) {
                const QString text =
                    list.table.textOf(list.table.rowData(row), list.table.fieldIndex(field));
                if (!text.isEmpty())
                    values << text;
            }
            lines << values.join(u' ');
        }
        return lines.join(u'|');
    }
};

// "1 alpha Progress 0/30/60|2 bravo deleted: Deleted/Changed: Progress".
QString Describe(const std::vector<MergeConflict>& conflicts) {
    QStringList lines;
    for (const MergeConflict& c : conflicts)
        lines << QStringLiteral("%1 %2 %3%4/%5/%6")
                     .arg(c.taskId)
                     .arg(c.task,
                          c.kind == MergeConflict::Kind::Field ? c.field + u' '
                                                               : QStringLiteral("deleted: "),
                          c.base, c.thisCopy, c.otherCopy);
    return lines.join(u'|');
}

// A version's values but its ID, as text.
QString ValuesOf(const DataTable& table, std::size_t version) {
    QStringList values;
    for (int f = 0; f < int(table.fields().size()); ++f)
        if (f != table.autoIncField())
            values << table.textOf(table.versionData(version), f);
    return values.join(u'\t');
}

// Whether every version `from` holds is held by `into` too, whatever its ID there.
bool HoldsEveryVersion(const DataTable& into, const DataTable& from) {
    QSet<QString> held;
    for (std::size_t v = 0; v < into.versionCount(); ++v)
        held.insert(ValuesOf(into, v));
    for (std::size_t v = 0; v < from.versionCount(); ++v)
        if (!held.contains(ValuesOf(from, v)))
            return false;
    return true;
}

// "TO": this copy for the first conflict, the other copy for the second.
MergeChoices Choices(const QString& letters) {
    MergeChoices choices;
    for (const QChar letter : letters)
        choices.push_back(letter == u'O' ? Side::OtherCopy : Side::ThisCopy);
    return choices;
}

} // namespace

class TestListMerge : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void scenarios_data();
    void scenarios();
    void mergedAgain_data();
    void mergedAgain();
    void refusesAnotherList_data();
    void refusesAnotherList();
    void fieldMergeOverAnyValues();
    void copiesMergeTheSameBothWays();
};

void TestListMerge::scenarios_data() {
    QTest::addColumn<QString>("here");
    QTest::addColumn<QString>("there");
    QTest::addColumn<QString>("conflicts");
    QTest::addColumn<QString>("choices");
    QTest::addColumn<QString>("tasks");
    // The same result made by hand on the common list ("-": IDs no user can give by hand).
    QTest::addColumn<QString>("byHand");
    const char* common = "1 alpha Not Started 0|2 bravo Not Started 0 High|3 charlie Not Started "
                         "0|4 delta Not Started 0";
    AddTextRows({
        {"other copy unchanged", "edit 2 Progress=40", "", "", "",
         "1 alpha Not Started 0|2 bravo Not Started 40 High|3 charlie Not Started 0|4 delta Not "
         "Started 0",
         "edit 2 Progress=40"},
        {"neither changed", "", "", "", "", common, ""},
        {"edits there only", "", "edit 2 Progress=40; edit 2 Comments=x; edit 4 Status=Paused", "",
         "",
         "1 alpha Not Started 0|2 bravo Not Started 40 High x|3 charlie Not Started 0|4 delta "
         "Paused 0",
         "edit 2 Progress=40; edit 2 Comments=x; edit 4 Status=Paused"},
        {"edits, an add and a delete there, an edit here", "edit 1 Progress=30",
         "edit 2 Comments=x; add Task=india; delete 3", "", "",
         "1 alpha Not Started 30|2 bravo Not Started 0 High x|4 delta Not Started 0|6 india Not "
         "Started 0",
         "edit 1 Progress=30; edit 2 Comments=x; add Task=india; delete 3"},
        {"other fields of one task", "edit 1 Progress=30", "edit 1 Comments=hi|Priority=Low", "",
         "",
         "1 alpha Not Started 30 Low hi|2 bravo Not Started 0 High|3 charlie Not Started 0|4 "
         "delta Not Started 0",
         // The other copy's version is kept before the merged one.
         "edit 1 Progress=30; edit 1 Progress=0|Comments=hi|Priority=Low; edit 1 Progress=30"},
        {"the day last acted on: the later one, unasked", "edit 1 LastActioned=2025-03-10",
         "edit 1 LastActioned=2025-03-11|Progress=5", "", "",
         "1 alpha Not Started 5|2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not "
         "Started 0",
         "edit 1 LastActioned=2025-03-10; edit 1 LastActioned=2025-03-11|Progress=5"},
        {"the day last acted on: this copy's later one", "edit 1 LastActioned=2025-03-11",
         "edit 1 LastActioned=2025-03-10|Progress=5", "", "",
         "1 alpha Not Started 5|2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not "
         "Started 0",
         "edit 1 LastActioned=2025-03-11; edit 1 LastActioned=2025-03-10|Progress=5; edit 1 "
         "LastActioned=2025-03-11"},
        {"the same change on both sides", "edit 1 Status=Paused", "edit 1 Status=Paused", "", "",
         "1 alpha Paused 0|2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not Started "
         "0",
         "edit 1 Status=Paused"},
        {"conflict, this copy", "edit 1 Progress=30", "edit 1 Progress=60",
         "1 alpha Progress 0/30/60", "T",
         "1 alpha Not Started 30|2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not "
         "Started 0",
         "edit 1 Progress=30; edit 1 Progress=60; edit 1 Progress=30"},
        {"conflict, other copy", "edit 1 Progress=30", "edit 1 Progress=60",
         "1 alpha Progress 0/30/60", "O",
         "1 alpha Not Started 60|2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not "
         "Started 0",
         "edit 1 Progress=30; edit 1 Progress=60"},
        {"conflicts chosen each way, a field taken silently",
         "edit 2 Priority=Low|Comments=mine|Status=Paused",
         "edit 2 Priority=Urgent|Comments=theirs|Progress=10",
         "2 bravo Priority High/Low/Urgent|2 bravo Comments /mine/theirs", "OT",
         "1 alpha Not Started 0|2 bravo Paused 10 Urgent mine|3 charlie Not Started 0|4 delta Not "
         "Started 0",
         "edit 2 Priority=Low|Comments=mine|Status=Paused; edit 2 "
         "Priority=Urgent|Comments=theirs|Status=Not Started|Progress=10; edit 2 "
         "Comments=mine|Status=Paused"},
        {"adds on both sides, colliding IDs", "add Task=fox",
         "add Task=golf; add Task=hotel; delete 7", "", "",
         "1 alpha Not Started 0|2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not "
         "Started 0|6 fox Not Started 0|8 golf Not Started 0",
         "-"},
        {"an ID free here is kept", "add Task=fox", "add Task=golf; add Task=hotel; delete 6", "",
         "",
         "1 alpha Not Started 0|2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not "
         "Started 0|6 fox Not Started 0|7 hotel Not Started 0",
         "-"},
        {"an ID given out here and deleted is not used again", "add Task=fox; delete 6",
         "add Task=golf", "", "",
         "1 alpha Not Started 0|2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not "
         "Started 0|7 golf Not Started 0",
         "add Task=fox; delete 6; add Task=golf"},
        {"deleted here, edited there, kept", "delete 2", "edit 2 Progress=70",
         "2 bravo deleted: /Deleted/Changed: Progress", "O",
         "1 alpha Not Started 0|2 bravo Not Started 70 High|3 charlie Not Started 0|4 delta Not "
         "Started 0",
         "-"},
        {"deleted here, edited there, deleted", "delete 2", "edit 2 Progress=70",
         "2 bravo deleted: /Deleted/Changed: Progress", "T",
         "1 alpha Not Started 0|3 charlie Not Started 0|4 delta Not Started 0", "-"},
        {"edited here, deleted there, kept", "edit 2 Progress=70", "delete 2",
         "2 bravo deleted: /Changed: Progress/Deleted", "T",
         "1 alpha Not Started 0|2 bravo Not Started 70 High|3 charlie Not Started 0|4 delta Not "
         "Started 0",
         "-"},
        {"edited here, deleted there, deleted", "edit 2 Progress=70", "delete 2",
         "2 bravo deleted: /Changed: Progress/Deleted", "O",
         "1 alpha Not Started 0|3 charlie Not Started 0|4 delta Not Started 0",
         "edit 2 Progress=70; delete 2"},
        {"deleted on both sides", "delete 3", "delete 3; delete 4", "", "",
         "1 alpha Not Started 0|2 bravo Not Started 0 High", "delete 3; delete 4"},
        {"changed there and back, deleted here", "delete 1", "edit 1 Progress=5; edit 1 Progress=0",
         "", "", "2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not Started 0", "-"},
    });
}

// Two tables make the copies from one saved list, each saved as a real file and read back; the
// other copy is merged into this one, then the merge is saved and read back too.
void TestListMerge::scenarios() {
    QFETCH(QString, here);
    QFETCH(QString, there);
    QFETCH(QString, conflicts);
    QFETCH(QString, choices);
    QFETCH(QString, tasks);
    QFETCH(QString, byHand);

    const QByteArray common = CommonList();
    QTemporaryDir dir;
    const QString herePath = dir.filePath(QStringLiteral("list.cv1"));
    const QString therePath = dir.filePath(QStringLiteral("list.sync-conflict.cv1"));
    {
        Copy mine(common), theirs(common);
        mine.run(here);
        theirs.run(there);
        DataPacket::SaveToFile(mine.list.table, herePath);
        DataPacket::SaveToFile(theirs.list.table, therePath);
    }
    Copy mine(common), theirs(common);
    mine.load(herePath);
    theirs.load(therePath);
    const QByteArray before = DataPacket::Write(mine.list.table);

    const ListMerge::Plan plan = ListMerge::Prepare(mine.list.table, theirs.list.table, therePath);
    QCOMPARE(Describe(plan.conflicts), conflicts);
    QCOMPARE(DataPacket::Write(mine.list.table), before); // nothing changes before Apply
    ListMerge::Apply(mine.list.table, plan, Choices(choices));
    QCOMPARE(mine.tasks(), tasks);
    QVERIFY(HoldsEveryVersion(mine.list.table, theirs.list.table));
    QVERIFY(mine.list.table.autoIncValue() >= theirs.list.table.autoIncValue());

    // Merged again, the same copy changes nothing and asks nothing, whatever was answered, and
    // also once every task here was edited since.
    QVERIFY(ListMerge::Prepare(mine.list.table, theirs.list.table, therePath).isEmpty());
    const QByteArray merged = DataPacket::Write(mine.list.table);
    Copy edited(merged);
    for (DataTable::RowId row : std::vector<DataTable::RowId>(edited.list.table.allRows())) {
        edited.list.table.goToRow(row);
        edited.list.table.edit();
        edited.list.write(QStringLiteral("Comments=later"));
        edited.list.table.post();
    }
    QVERIFY(ListMerge::Prepare(edited.list.table, theirs.list.table, therePath).isEmpty());

    Copy reloaded(merged);
    QCOMPARE(DataPacket::Write(reloaded.list.table), merged);
    if (byHand != u"-") {
        Copy hand(common);
        hand.run(byHand);
        QCOMPARE(DataPacket::Write(hand.list.table), merged);
    }
}

void TestListMerge::mergedAgain_data() {
    QTest::addColumn<QString>("here");
    QTest::addColumn<QString>("there");
    QTest::addColumn<QString>("thereLater");
    QTest::addColumn<QString>("tasksThere"); // the merge brought there
    QTest::addColumn<QString>("tasksHere");  // the later copy merged here again
    AddTextRows({
        {"edits and adds", "edit 1 Progress=30; add Task=fox", "edit 2 Comments=x; add Task=golf",
         "edit 2 Comments=y; edit 6 Progress=5",
         "1 alpha Not Started 30|2 bravo Not Started 0 High y|3 charlie Not Started 0|4 delta Not "
         "Started 0|6 golf Not Started 5|8 fox Not Started 0",
         "1 alpha Not Started 30|2 bravo Not Started 0 High y|3 charlie Not Started 0|4 delta Not "
         "Started 0|6 fox Not Started 0|7 golf Not Started 5"},
        {"a task added there, merged here, then deleted there", "edit 1 Progress=30",
         "add Task=golf", "delete 6",
         "1 alpha Not Started 30|2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not "
         "Started 0",
         "1 alpha Not Started 30|2 bravo Not Started 0 High|3 charlie Not Started 0|4 delta Not "
         "Started 0"},
    });
}

// The other machine goes on from its copy while this one merges it; each then merges the other's
// list again. What an earlier merge brought over is the same task and the same change, not a new
// one or a conflict.
void TestListMerge::mergedAgain() {
    QFETCH(QString, here);
    QFETCH(QString, there);
    QFETCH(QString, thereLater);
    QFETCH(QString, tasksThere);
    QFETCH(QString, tasksHere);
    const QByteArray common = CommonList();
    Copy merged(common), copy(common);
    merged.run(here);
    copy.run(there);
    const auto merge = [](Copy& into, Copy& from) {
        const ListMerge::Plan plan =
            ListMerge::Prepare(into.list.table, from.list.table, QString());
        QCOMPARE(Describe(plan.conflicts), QString());
        ListMerge::Apply(into.list.table, plan, {});
    };
    merge(merged, copy);
    QVERIFY(ListMerge::Prepare(merged.list.table, copy.list.table, QString()).isEmpty());

    copy.run(thereLater);
    Copy later(DataPacket::Write(copy.list.table));
    merge(copy, merged);
    QCOMPARE(copy.tasks(), tasksThere);
    merge(merged, later);
    QCOMPARE(merged.tasks(), tasksHere);
}

void TestListMerge::refusesAnotherList_data() {
    QTest::addColumn<QByteArray>("other");
    {
        TaskListFixture list;
        list.add(QStringLiteral("Task=zulu"));
        QTest::newRow("another list") << DataPacket::Write(list.table);
    }
    {
        FieldList fields = TaskRecord::Fields();
        fields.pop_back();
        TaskListFixture list(fields);
        QTest::newRow("other fields") << DataPacket::Write(list.table);
    }
    {
        TaskListFixture list;
        QTest::newRow("an empty list") << DataPacket::Write(list.table);
    }
}

void TestListMerge::refusesAnotherList() {
    QFETCH(QByteArray, other);
    Copy mine(CommonList()), theirs(other);
    QCOMPARE(errorOf([&] {
                 ListMerge::Prepare(mine.list.table, theirs.list.table,
                                    QStringLiteral("/lists/zulu.cv1"));
             }),
             QStringLiteral("zulu.cv1 is not a copy of this list."));
}

// The rule the calendar sync shares, over values of its own kind.
void TestListMerge::fieldMergeOverAnyValues() {
    const QStringList base{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                           QStringLiteral("d"), QStringLiteral("e")};
    const QStringList mine{QStringLiteral("a"), QStringLiteral("B"), QStringLiteral("c"),
                           QStringLiteral("D"), QStringLiteral("E1")};
    const QStringList theirs{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("C"),
                             QStringLiteral("D"), QStringLiteral("E2")};
    const auto merged = ListMerge::MergeFields(std::vector<QString>(base.begin(), base.end()),
                                               std::vector<QString>(mine.begin(), mine.end()),
                                               std::vector<QString>(theirs.begin(), theirs.end()));
    QCOMPARE(QStringList(merged.merged.begin(), merged.merged.end()),
             QStringList({"a", "B", "C", "D", "E1"}));
    QCOMPARE(merged.conflicts, std::vector<int>{4});
}

namespace {

// A random user's commands on a copy: edits of a few fields to a few values, adds and deletes.
void RandomCommands(Copy& copy, QRandomGenerator& random, const QString& side) {
    static const QStringList edits{
        QStringLiteral("Status=Paused"), QStringLiteral("Status=Complete"),
        QStringLiteral("Priority=Low"),  QStringLiteral("Priority=Urgent"),
        QStringLiteral("Progress=10"),   QStringLiteral("Progress=90"),
        QStringLiteral("Comments=one"),  QStringLiteral("Comments=two"),
        QStringLiteral("Category=Home"), QStringLiteral("Details=line 1\r\nline 2"),
    };
    DataTable& table = copy.list.table;
    const int commands = int(random.bounded(7));
    for (int i = 0; i < commands; ++i) {
        const quint32 pick = random.bounded(10);
        if (pick < 2 || table.recordCount() == 0) {
            copy.list.add(QStringLiteral("Task=new %1 %2").arg(side).arg(i));
            continue;
        }
        table.moveToPosition(int(random.bounded(table.recordCount())));
        if (pick < 3) {
            table.remove();
        } else {
            table.edit();
            copy.list.write(edits.at(int(random.bounded(edits.size()))));
            table.post();
        }
    }
}

// Every task's values but its ID, sorted: what two merges must agree on.
QStringList TasksWithoutIds(const DataTable& table) {
    QStringList tasks;
    for (DataTable::RowId row : table.allRows()) {
        QStringList values;
        for (int f = 0; f < int(table.fields().size()); ++f)
            if (table.fields()[std::size_t(f)].kind != FieldKind::AutoInc)
                values << table.textOf(table.rowData(row), f);
        tasks << values.join(u'\t');
    }
    tasks.sort();
    return tasks;
}

// The live tasks by ID.
std::map<int, const RowData*> ById(const DataTable& table) {
    std::map<int, const RowData*> tasks;
    const int id = table.fieldIndex(ID);
    for (DataTable::RowId row : table.allRows())
        tasks[table.rowData(row).int32(id)] = &table.rowData(row);
    return tasks;
}

// Whether every change one copy made to a task of the common list, and the other did not, is in
// the merge; and every task either copy added.
void CheckOneSidedChanges(const DataTable& common, const DataTable& a, const DataTable& b,
                          const DataTable& merged) {
    const auto base = ById(common), inA = ById(a), inB = ById(b), result = ById(merged);
    for (const auto& [id, values] : base) {
        const RowData* va = inA.count(id) ? inA.at(id) : nullptr;
        const RowData* vb = inB.count(id) ? inB.at(id) : nullptr;
        const RowData* vm = result.count(id) ? result.at(id) : nullptr;
        const bool sameA = va && ListMerge::SameValues(*va, *values);
        const bool sameB = vb && ListMerge::SameValues(*vb, *values);
        if ((!va && sameB) || (!vb && sameA)) {
            QVERIFY2(!vm, qPrintable(QStringLiteral("task %1 deleted on one side").arg(id)));
            continue;
        }
        if (!va || !vb)
            continue;
        QVERIFY2(vm, qPrintable(QStringLiteral("task %1 kept on both sides").arg(id)));
        for (int f = 0; f < values->fieldCount(); ++f) {
            const auto same = [f](const RowData* x, const RowData* y) {
                return x->isNull(f) == y->isNull(f) && x->raw(f) == y->raw(f);
            };
            if (same(va, values) && !same(vb, values))
                QVERIFY2(same(vm, vb),
                         qPrintable(QStringLiteral("task %1 field %2").arg(id).arg(f)));
            if (same(vb, values) && !same(va, values))
                QVERIFY2(same(vm, va),
                         qPrintable(QStringLiteral("task %1 field %2").arg(id).arg(f)));
        }
    }
    const QStringList tasks = TasksWithoutIds(merged);
    for (const DataTable* side : {&a, &b}) {
        const int task = side->fieldIndex(Task);
        for (DataTable::RowId row : side->allRows()) {
            const QString text = side->textOf(side->rowData(row), task);
            if (text.startsWith(u"new "))
                QVERIFY2(tasks.join(u'\n').contains(text), qPrintable(text));
        }
    }
}

} // namespace

// From one list, random commands on two copies; merged either way round, with every conflict
// settled for the first copy's side, they give the same tasks.
void TestListMerge::copiesMergeTheSameBothWays() {
    const QByteArray common = CommonList();
    const Copy start(common);
    for (quint32 seed = 1; seed <= 300; ++seed) {
        QRandomGenerator random(seed);
        Copy a(common), b(common);
        RandomCommands(a, random, QStringLiteral("A"));
        RandomCommands(b, random, QStringLiteral("B"));

        Copy ab(DataPacket::Write(a.list.table)), ba(DataPacket::Write(b.list.table));
        const ListMerge::Plan intoA = ListMerge::Prepare(ab.list.table, b.list.table, QString());
        ListMerge::Apply(ab.list.table, intoA,
                         MergeChoices(intoA.conflicts.size(), Side::ThisCopy));
        const ListMerge::Plan intoB = ListMerge::Prepare(ba.list.table, a.list.table, QString());
        ListMerge::Apply(ba.list.table, intoB,
                         MergeChoices(intoB.conflicts.size(), Side::OtherCopy));
        QCOMPARE(intoA.conflicts.size(), intoB.conflicts.size());

        CheckOneSidedChanges(start.list.table, a.list.table, b.list.table, ab.list.table);
        CheckOneSidedChanges(start.list.table, a.list.table, b.list.table, ba.list.table);
        QCOMPARE(TasksWithoutIds(ab.list.table), TasksWithoutIds(ba.list.table));
        const QByteArray merged = DataPacket::Write(ab.list.table);
        Copy reloaded(merged);
        QCOMPARE(DataPacket::Write(reloaded.list.table), merged);
        if (QTest::currentTestFailed()) {
            qWarning("seed %u", seed);
            return;
        }
    }
}

QTEST_GUILESS_MAIN(TestListMerge)
#include "tst_listmerge.moc"
