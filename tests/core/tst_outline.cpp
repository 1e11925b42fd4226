#include "core/TaskListFixture.h"
#include "document/ListDocument.h"
#include "document/ListMerge.h"
#include "document/TaskUndo.h"
#include "model/FilterExpression.h"
#include "model/ListViews.h"
#include "model/OutlineCommands.h"
#include "storage/DataPacket.h"
#include "storage/Import.h"
#include "support/FileBytes.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

#include <functional>
#include <map>

using namespace TaskRecord;
using RowId = DataTable::RowId;

namespace {

// A list from "Field=value|...|Under=<task>" lines, added in order (IDs 1, 2, ...), then each
// Under written as the named task's ID, one edit per task.
void Build(TaskListFixture& list, const QStringList& tasks) {
    std::map<QString, std::int64_t> ids;
    QStringList under;
    for (const QString& line : tasks) {
        QStringList parts = line.split(u'|');
        QString parent;
        for (qsizetype i = parts.size() - 1; i >= 0; --i)
            if (parts[i].startsWith(QStringLiteral("Under=")))
                parent = parts.takeAt(i).mid(6);
        list.add(parts.join(u'|'));
        ids[list.table.asString(Task)] = list.table.asInteger(ID);
        under << parent;
    }
    for (qsizetype i = 0; i < tasks.size(); ++i) {
        if (under[i].isEmpty())
            continue;
        list.table.goToRow(list.table.rowOfKey(std::int32_t(i + 1)));
        list.table.edit();
        list.table.setInteger(ParentID, ids.count(under[i]) ? ids[under[i]] : under[i].toInt());
        list.table.post();
    }
}

// The shown rows as "task" indented by "-" per level, "*" after a row shown as context.
QString Shown(const DataTable& table) {
    QStringList rows;
    for (int i = 0; i < table.visibleRowCount(); ++i) {
        const RowId row = table.rowIdAt(i);
        const TableOutline::Row info = table.outlineOf(row);
        rows << QString(table.outlineDepthAt(i), u'-') +
                    table.textOf(table.rowData(row), table.fieldIndex(Task)) +
                    (info.context ? QStringLiteral("*") : QString());
    }
    return rows.join(u',');
}

RowId RowOf(const DataTable& table, const QString& task) {
    for (const RowId row : table.allRows())
        if (table.textOf(table.rowData(row), table.fieldIndex(Task)) == task)
            return row;
    qFatal("no task %s", qPrintable(task));
}

void GoTo(DataTable& table, const QString& task) {
    table.goToRow(RowOf(table, task));
}

// "ID:ParentID:Status" of every live task by ID: what undo must give back exactly.
QString Tree(const DataTable& table) {
    std::map<int, QString> byId;
    for (const RowId row : table.allRows()) {
        const RowData& data = table.rowData(row);
        byId[data.int32(table.fieldIndex(ID))] = table.textOf(data, table.fieldIndex(ID)) + u':' +
                                                 table.textOf(data, table.fieldIndex(ParentID)) +
                                                 u':' +
                                                 table.textOf(data, table.fieldIndex(Status));
    }
    QStringList all;
    for (const auto& [id, text] : byId)
        all << text;
    return all.join(u' ');
}

// The tree every test starts from: m (1) over c (2) over q (5), m over a (4), x (3) over b (6).
const QStringList Standard{"Task=m|Progress=10",         "Task=c|Under=m|Progress=90",
                           "Task=x|Progress=50",         "Task=a|Under=m|Progress=20",
                           "Task=q|Under=c|Progress=70", "Task=b|Under=x|Progress=30"};

} // namespace

class TestOutline : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }

    void shownOrder_data();
    void shownOrder();
    void badTrees_data();
    void badTrees();
    void keysFarApart();
    void badTreeNoticeLeavesFileAlone();
    void outlineCommandsUndoAsOneStep_data();
    void outlineCommandsUndoAsOneStep();
    void completeAsksAboutOpenSubtasks_data();
    void completeAsksAboutOpenSubtasks();
    void deleteAsksAboutSubtasks_data();
    void deleteAsksAboutSubtasks();
    void refusedMoves();
    void subtaskCounts();
    void importRenumbersTheOutline();
    void batchInsertOutlines_data();
    void batchInsertOutlines();
    void randomEditsKeepTheOutline();
    void mergeKeepsTheOutline_data();
    void mergeKeepsTheOutline();
};

void TestOutline::shownOrder_data() {
    QTest::addColumn<QStringList>("tasks");
    QTest::addColumn<QString>("order");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("collapse");
    QTest::addColumn<QString>("shown");
    using L = QStringList;
    QTest::newRow("ID") << Standard << "ID"
                        << ""
                        << ""
                        << "m,-c,--q,-a,x,-b";
    QTest::newRow("Task") << Standard << "Task"
                          << ""
                          << ""
                          << "m,-a,-c,--q,x,-b";
    // Highest first among siblings; a child's own progress does not lift its parent.
    QTest::newRow("Progress") << Standard << "Progress"
                              << ""
                              << ""
                              << "x,-b,m,-c,--q,-a";
    // The natural order: the parents were written after the tasks were added.
    QTest::newRow("None") << Standard << "None"
                          << ""
                          << ""
                          << "m,-c,--q,-a,x,-b";
    QTest::newRow("a match deep down brings its context") << Standard << "Task"
                                                          << "Task = 'q' "
                                                          << ""
                                                          << "m*,-c*,--q";
    QTest::newRow("a matching parent alone") << Standard << "ID"
                                             << "Task = 'm' "
                                             << ""
                                             << "m";
    QTest::newRow("search, two branches") << Standard << "Task"
                                          << "Task LIKE '%b%'"
                                          << ""
                                          << "x*,-b";
    QTest::newRow("matches at two levels")
        << L{"Task=p|Status=Complete", "Task=k|Under=p", "Task=s|Under=k|Status=Complete"} << "ID"
        << "Status = 'Complete' "
        << ""
        << "p,-k*,--s";
    QTest::newRow("collapsed") << Standard << "ID"
                               << ""
                               << "m"
                               << "m,x,-b";
    QTest::newRow("collapsed inner") << Standard << "Task"
                                     << ""
                                     << "c"
                                     << "m,-a,-c,x,-b";
    // A filter opens the rows above its matches.
    QTest::newRow("a filter expands") << Standard << "ID"
                                      << "Task = 'q' "
                                      << "m,c"
                                      << "m*,-c*,--q";
}

void TestOutline::shownOrder() {
    QFETCH(QStringList, tasks);
    QFETCH(QString, order);
    QFETCH(QString, filter);
    QFETCH(QString, collapse);
    TaskListFixture list;
    Build(list, tasks);
    for (const QString& task : collapse.split(u',', Qt::SkipEmptyParts))
        list.table.setCollapsed(RowOf(list.table, task), true);
    if (!filter.isEmpty()) {
        list.table.setFilter(filter);
        list.table.setFiltered(true);
    }
    ListViews::ApplyOrder(list.table, order);
    QTEST(Shown(list.table), "shown");
    // Sorting again from another order gives the same rows.
    ListViews::ApplyOrder(list.table,
                          order == u"ID" ? QStringLiteral("Task") : QStringLiteral("ID"));
    ListViews::ApplyOrder(list.table, order);
    QTEST(Shown(list.table), "shown");
}

void TestOutline::badTrees_data() {
    QTest::addColumn<QStringList>("tasks");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("problems");
    using L = QStringList;
    QTest::newRow("missing") << L{"Task=a", "Task=b|Under=99"} << "a,b" << 1;

    QTest::newRow("zero is the top") << L{"Task=a", "Task=b|Under=0"} << "a,b" << 0;
    QTest::newRow("itself") << L{"Task=a|Under=a", "Task=b|Under=a"} << "a,-b" << 1;
    QTest::newRow("a loop of two, with a task under it")
        << L{"Task=a|Under=b", "Task=b|Under=a", "Task=c|Under=a"} << "a,-c,b" << 2;
    QTest::newRow("a loop of three")
        << L{"Task=a|Under=c", "Task=b|Under=a", "Task=c|Under=b", "Task=d"} << "a,b,c,d" << 3;
    QTest::newRow("a chain hanging from a loop")
        << L{"Task=a|Under=b", "Task=b|Under=a", "Task=c|Under=b", "Task=d|Under=c"} << "a,b,-c,--d"
        << 2;
}

void TestOutline::badTrees() {
    QFETCH(QStringList, tasks);
    TaskListFixture list;
    Build(list, tasks);
    QTEST(Shown(list.table), "shown");
    QTEST(list.table.outlineProblems(), "problems");
}

// A list whose tasks name a deleted parent and a loop loads with one notice naming it, shows the
// tasks at the top level, and stays saved: nothing is written until the user changes something.
// IDs a file gives far beyond its rows, or below zero, name parents as well as small ones.
void TestOutline::keysFarApart() {
    DataTable::Content content;
    content.fields = TaskRecord::Fields();
    const int task = 1, parent = 11;
    const struct {
        std::int32_t id, parent;
        const char* text;
    } rows[] = {{2000000000, 0, "a"}, {-5, 2000000000, "b"}, {7, -5, "c"}, {8, 0, "d"}};
    for (const auto& r : rows) {
        RowBuilder row(25);
        row.setInt32(0, r.id);
        row.setBytes(task, r.text);
        if (r.parent != 0)
            row.setInt32(parent, r.parent);
        content.versions.push_back(row.build());
        content.states.push_back(DataTable::Inserted);
    }
    DataTable table;
    TaskTable::Configure(table);
    table.adopt(std::move(content));
    QCOMPARE(Shown(table), QStringLiteral("a,-b,--c,d"));
    table.setIndexName(TaskTable::IndexID);
    QCOMPARE(Shown(table), QStringLiteral("d,a,-b,--c"));
}

void TestOutline::badTreeNoticeLeavesFileAlone() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bad.cv1"));
    {
        TaskListFixture list;
        Build(list, {"Task=p", "Task=k|Under=p", "Task=x|Under=y", "Task=y|Under=x"});
        GoTo(list.table, QStringLiteral("p"));
        list.table.remove();
        DataPacket::SaveToFile(list.table, file);
    }
    const QByteArray before = ReadFileBytes(file);
    ListDocument document;
    QVERIFY(document.load(file));
    QVERIFY(document.loadNotice().contains(QStringLiteral("bad.cv1")));
    QVERIFY(document.loadNotice().contains(QStringLiteral("3 tasks name a parent task")));
    QCOMPARE(Shown(*document.table()), QStringLiteral("k,x,y"));
    QVERIFY(!document.isUnsaved());
    QCOMPARE(ReadFileBytes(file), before);
}

void TestOutline::outlineCommandsUndoAsOneStep_data() {
    QTest::addColumn<QString>("task");
    QTest::addColumn<std::function<void(DataTable&)>>("command");
    QTest::addColumn<QString>("after"); // the shown rows, ID order
    using Command = std::function<void(DataTable&)>;
    auto answer = [](OutlineCommands::Answer a) { return [a](const QString&) { return a; }; };
    QTest::newRow("indent") << "x" << Command([](DataTable& t) { OutlineCommands::Indent(t, {}); })
                            << "m,-c,--q,-x,--b,-a";
    QTest::newRow("outdent") << "q"
                             << Command([](DataTable& t) { OutlineCommands::Outdent(t, {}); })
                             << "m,-c,-a,-q,x,-b";
    QTest::newRow("make subtask of (a drop)") << "m" << Command([](DataTable& t) {
        OutlineCommands::MakeSubtaskOf(t, RowOf(t, QStringLiteral("m")),
                                       RowOf(t, QStringLiteral("b")), {});
    }) << "x,-b,--m,---c,----q,---a";
    QTest::newRow("to the top") << "c" << Command([](DataTable& t) {
        OutlineCommands::MakeSubtaskOf(t, RowOf(t, QStringLiteral("c")), -1, {});
    }) << "m,-a,c,-q,x,-b";
    QTest::newRow("new subtask") << "c" << Command([](DataTable& t) {
        QVERIFY(OutlineCommands::BeginSubtask(t));
        t.setString(Task, QStringLiteral("n"));
        t.post();
    }) << "m,-c,--q,--n,-a,x,-b";
    QTest::newRow("quick add subtask") << "x" << Command([](DataTable& t) {
        TaskCommands::QuickAddBar bar;
        bar.text = QStringLiteral("n");
        OutlineCommands::QuickAddSubtask(t, {}, bar);
        QCOMPARE(t.asString(Task), QStringLiteral("x")); // the parent stays current
    }) << "m,-c,--q,-a,x,-b,-n";
    QTest::newRow("delete, keeping subtasks") << "c" << Command([](DataTable& t) {
        OutlineCommands::DeleteRow(t, t.currentRow(), false);
    }) << "m,-a,-q,x,-b";
    QTest::newRow("delete with subtasks")
        << "m" << Command([](DataTable& t) { OutlineCommands::DeleteRow(t, t.currentRow(), true); })
        << "x,-b";
    QTest::newRow("complete with subtasks") << "m" << Command([answer](DataTable& t) {
        OutlineCommands::CompleteTask(t, {}, answer(OutlineCommands::Answer::Yes));
    }) << "m,-c,--q,-a,x,-b";
}

// Each outline command is one step: undo gives back every task as it was (IDs, parents,
// statuses), redo the command's outcome.
void TestOutline::outlineCommandsUndoAsOneStep() {
    QFETCH(QString, task);
    QFETCH(std::function<void(DataTable&)>, command);
    ListDocument document;
    document.createNew();
    DataTable& table = *document.table();
    {
        TaskListFixture list; // the tree, built here and handed to the document's table
        Build(list, Standard);
        table.adopt(list.table.takeContent());
        table.setIndexName(TaskTable::IndexID);
    }
    document.undo()->clear();
    const QString before = Tree(table);
    GoTo(table, task);
    {
        const TaskUndo::Step step(*document.undo());
        command(table);
    }
    table.settle();
    QTEST(Shown(table), "after");
    const QString after = Tree(table);
    QVERIFY(after != before);
    QCOMPARE(document.undo()->count(), 1);
    const std::size_t logged = table.changeLog().size();
    document.undo()->undo();
    QCOMPARE(Tree(table), before);
    QCOMPARE(Shown(table), QStringLiteral("m,-c,--q,-a,x,-b"));
    QVERIFY(table.changeLog().size() > logged); // undone by new changes, never by dropping any
    document.undo()->redo();
    QCOMPARE(Tree(table), after);
}

void TestOutline::completeAsksAboutOpenSubtasks_data() {
    QTest::addColumn<QString>("task");
    QTest::addColumn<int>("answer"); // OutlineCommands::Answer
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("complete"); // the complete tasks afterwards
    const int yes = int(OutlineCommands::Answer::Yes);
    const int no = int(OutlineCommands::Answer::No);
    const int cancel = int(OutlineCommands::Answer::Cancel);
    // m has c, q and a under it; q is cancelled, so two are open.
    QTest::newRow("yes") << "m" << yes << "Complete its 2 open subtasks too?"
                         << "a,c,m";
    QTest::newRow("no") << "m" << no << "Complete its 2 open subtasks too?"
                        << "m";
    QTest::newRow("cancel") << "m" << cancel << "Complete its 2 open subtasks too?"
                            << "";
    QTest::newRow("one open") << "c" << yes << ""
                              << "c";
    QTest::newRow("a leaf asks nothing") << "a" << yes << ""
                                         << "a";
    // The last open subtask completed leaves its parent as it was.
    QTest::newRow("last subtask") << "b" << yes << ""
                                  << "b";
}

void TestOutline::completeAsksAboutOpenSubtasks() {
    QFETCH(QString, task);
    QFETCH(int, answer);
    TaskListFixture list;
    Build(list, Standard);
    GoTo(list.table, QStringLiteral("q"));
    TaskCommands::CancelTask(list.table, {});
    GoTo(list.table, task);
    QStringList asked;
    const bool done =
        OutlineCommands::CompleteTask(list.table, list.markUnsaved(), [&](const QString& q) {
            asked << q;
            return OutlineCommands::Answer(answer);
        });
    QTEST(asked.join(u'/'), "asked");
    QStringList complete;
    for (const RowId row : list.table.allRows())
        if (list.table.textOf(list.table.rowData(row), list.table.fieldIndex(Status)) == Complete)
            complete << list.table.textOf(list.table.rowData(row), list.table.fieldIndex(Task));
    complete.sort();
    QTEST(complete.join(u','), "complete");
    QCOMPARE(done, !complete.isEmpty());
    QCOMPARE(list.commandMarks > 0, done);
    if (done)
        QCOMPARE(list.table.asString(Task), task); // the task stays current
}

void TestOutline::deleteAsksAboutSubtasks_data() {
    QTest::addColumn<QString>("task");
    QTest::addColumn<int>("choice"); // 0 delete all, 1 keep subtasks, 2 cancel; -1 the plain Yes
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("current");
    QTest::newRow("delete all") << "c" << 0 << "m,-a,x,-b"
                                << "a";
    QTest::newRow("keep subtasks") << "c" << 1 << "m,-a,-q,x,-b"
                                   << "q";
    QTest::newRow("keep, at the top") << "m" << 1 << "c,-q,x,-b,a"
                                      << "c";
    QTest::newRow("cancel") << "c" << 2 << "m,-c,--q,-a,x,-b"
                            << "c";
    QTest::newRow("a leaf: the plain question") << "b" << -1 << "m,-c,--q,-a,x"
                                                << "x";
}

void TestOutline::deleteAsksAboutSubtasks() {
    QFETCH(QString, task);
    QFETCH(int, choice);
    TaskListFixture list;
    Build(list, Standard);
    GoTo(list.table, task);
    QStringList plain;
    QStringList three;
    OutlineCommands::DeleteTask(
        list.table, list.markUnsaved(),
        [&](const QString& q) {
            plain << q;
            return true;
        },
        [&](const QString& q, const QStringList& buttons) {
            three << q;
            return buttons == OutlineCommands::DeleteChoices() ? choice : -2;
        });
    QCOMPARE(plain.size(), choice < 0 ? 1 : 0);
    QCOMPARE(three.size(), choice < 0 ? 0 : 1);
    if (choice >= 0)
        QVERIFY(three.front().contains(task == u"m" ? QStringLiteral("3 subtasks")
                                                    : QStringLiteral("a subtask")));
    QTEST(Shown(list.table), "shown");
    QTEST(list.table.asString(Task), "current");
}

// A task never goes under itself or under a task under it: not by a command, not by a drop.
void TestOutline::refusedMoves() {
    TaskListFixture list;
    Build(list, Standard);
    const RowId m = RowOf(list.table, QStringLiteral("m"));
    const RowId q = RowOf(list.table, QStringLiteral("q"));
    QVERIFY(!OutlineCommands::CanStandUnder(list.table, m, m));
    QVERIFY(!OutlineCommands::CanStandUnder(list.table, m, q));
    QVERIFY(OutlineCommands::CanStandUnder(list.table, q, m));
    const std::size_t versions = list.table.versionCount();
    QVERIFY(!errorOf([&] { OutlineCommands::MakeSubtaskOf(list.table, m, q, {}); }).isEmpty());
    // Standing where it stands already changes nothing.
    OutlineCommands::MakeSubtaskOf(list.table, q, RowOf(list.table, QStringLiteral("c")), {});
    QCOMPARE(list.table.versionCount(), versions);
    // Indent with no task above at the same level, outdent at the top: nothing.
    GoTo(list.table, QStringLiteral("c"));
    QVERIFY(!OutlineCommands::Indent(list.table, {}));
    GoTo(list.table, QStringLiteral("x"));
    QVERIFY(!OutlineCommands::Outdent(list.table, {}));
    QCOMPARE(list.table.versionCount(), versions);
}

void TestOutline::subtaskCounts() {
    TaskListFixture list;
    Build(list, Standard);
    GoTo(list.table, QStringLiteral("q"));
    TaskCommands::CompleteTask(list.table, {});
    const auto count = [&](const char* task) {
        return OutlineCommands::SubtaskCountText(list.table,
                                                 RowOf(list.table, QLatin1String(task)));
    };
    QCOMPARE(count("m"), QStringLiteral("1/3"));
    QCOMPARE(count("c"), QStringLiteral("1/1"));
    QCOMPARE(count("b"), QString());
    // The parent's own progress stays its own.
    GoTo(list.table, QStringLiteral("m"));
    QCOMPARE(list.table.asInteger(Progress), 10);
}

// The imported tasks keep their outline under their new IDs, also where a subtask's current
// version comes before its parent's in the file; a parent the file no longer holds is dropped.
void TestOutline::importRenumbersTheOutline() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("source.cv1"));
    {
        TaskListFixture source;
        Build(source, {"Task=p", "Task=k|Under=p", "Task=gone", "Task=orphan|Under=gone"});
        GoTo(source.table, QStringLiteral("gone"));
        source.table.remove();
        GoTo(source.table, QStringLiteral("p")); // p's current version now comes last
        source.table.edit();
        source.table.setString(Comments, QStringLiteral("edited"));
        source.table.post();
        DataPacket::SaveToFile(source.table, file);
    }
    TaskListFixture target;
    Build(target, {"Task=t1", "Task=t2"});
    for (int i = 0; i < 5; ++i) { // the counter runs ahead of the tasks
        target.add(QStringLiteral("Task=tmp"));
        target.table.remove();
    }
    QVERIFY(Import::ImportTasks(target.table, file));
    QCOMPARE(Shown(target.table), QStringLiteral("t1,t2,orphan,p,-k"));
    GoTo(target.table, QStringLiteral("k"));
    QCOMPARE(target.table.asInteger(ID), 8);
    QCOMPARE(target.table.asInteger(ParentID), 10);
    GoTo(target.table, QStringLiteral("orphan"));
    QVERIFY(target.table.isNull(ParentID));
}

void TestOutline::batchInsertOutlines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("tabs") << "a\n\tb\n\t\tc\n\td\ne"
                          << "a,-b,--c,-d,e";
    QTest::newRow("two spaces a level") << "a\n  b\n    c\n  d"
                                        << "a,-b,--c,-d";
    QTest::newRow("a jump of two levels goes one deeper") << "a\n\t\tb\n\tc"
                                                          << "a,-b,-c";
    QTest::newRow("one space is no level") << "a\n b"
                                           << "a, b";
    QTest::newRow("an indented first line is used whole") << "  a\n  b\n    c"
                                                          << "  a,  b,-c";
    QTest::newRow("blank lines stand apart") << "a\n   \n\tb"
                                             << "a,-b,";
    QTest::newRow("no outline") << "x\ny"
                                << "x,y";
}

void TestOutline::batchInsertOutlines() {
    QFETCH(QString, text);
    TaskListFixture list;
    list.add(QStringLiteral("Task=before"));
    QVERIFY(Import::BatchInsert(list.table, text));
    QTEST(Shown(list.table).mid(QStringLiteral("before,").size()), "shown");
}

// Random commands, sorts, filters and collapses on a list: after each, the rows shown are those
// a plain walk of the tree gives (each task followed by the tasks under it, in the order, a
// filter's matches with the tasks above them, nothing under a collapsed task, tasks with a
// missing or looping parent at the top), and the list's history only grew.
void TestOutline::randomEditsKeepTheOutline() {
    QRandomGenerator random(20250312);
    TaskListFixture list;
    for (int i = 0; i < 30; ++i)
        list.add(QStringLiteral("Task=t%1|Progress=%2").arg(i).arg(random.bounded(100)));
    const QStringList orders{"ID", "Task", "Progress", "None", "Status"};
    const QStringList filters{"", "Status = 'Complete' ", "Task LIKE '%1%'"};
    // The reference: the stored ParentIDs followed one task at a time, the tree walked plainly.
    auto expected = [&] {
        const DataTable& t = list.table;
        const int idField = t.fieldIndex(ID);
        const int parentField = t.fieldIndex(ParentID);
        std::map<std::int32_t, RowId> byId;
        for (const RowId row : t.allRows())
            byId[t.rowData(row).int32(idField)] = row;
        auto named = [&](RowId row) -> RowId {
            const RowData& data = t.rowData(row);
            const auto it =
                data.isNull(parentField) ? byId.end() : byId.find(data.int32(parentField));
            return it == byId.end() || it->second == row ? -1 : it->second;
        };
        // A task in a loop stands at the top; one hanging from a loop stays under its parent.
        std::map<RowId, RowId> parentOf;
        for (const RowId row : t.allRows()) {
            RowId up = named(row);
            for (std::size_t steps = 0; up >= 0 && up != row && steps <= byId.size(); ++steps)
                up = named(up);
            parentOf[row] = up == row ? -1 : named(row);
        }
        std::optional<FilterExpression> filter;
        if (t.filtered())
            filter = FilterExpression::compile(t.filter(), t.fields(), QString());
        std::map<RowId, bool> kept;
        std::function<bool(RowId)> keep = [&](RowId row) {
            if (kept.count(row))
                return kept[row];
            bool result = !filter || filter->matches(t.rowData(row));
            for (const auto& [child, parent] : parentOf)
                if (parent == row && keep(child))
                    result = true;
            return kept[row] = result;
        };
        QStringList shown;
        std::function<void(RowId, int)> walk = [&](RowId parent, int depth) {
            for (const RowId row : t.allRows()) {
                if (parentOf[row] != parent || !keep(row))
                    continue;
                shown << QString(depth, u'-') + t.textOf(t.rowData(row), t.fieldIndex(Task));
                if (!t.isCollapsed(row))
                    walk(row, depth + 1);
            }
        };
        walk(-1, 0);
        return shown.join(u',');
    };
    // The rows as a view following the table's signals holds them.
    QList<RowId> shadow;
    const auto visible = [&] {
        QList<RowId> rows;
        for (int i = 0; i < list.table.visibleRowCount(); ++i)
            rows << list.table.rowIdAt(i);
        return rows;
    };
    DataTable* watched = &list.table;
    QObject::connect(watched, &DataTable::rowInserted,
                     [&](int at) { shadow.insert(at, watched->rowIdAt(at)); });
    QObject::connect(watched, &DataTable::rowRemoved, [&](int at) { shadow.removeAt(at); });
    QObject::connect(watched, &DataTable::rowMoved,
                     [&](int from, int to) { shadow.move(from, to); });
    QObject::connect(watched, &DataTable::rowsInserted, [&](int first, int last) {
        for (int i = first; i <= last; ++i)
            shadow.insert(i, watched->rowIdAt(i));
    });
    QObject::connect(watched, &DataTable::rowsRemoved,
                     [&](int first, int last) { shadow.remove(first, last - first + 1); });
    bool sameRows = true; // a rearrangement keeps the rows
    QObject::connect(watched, &DataTable::rearranged, [&] {
        QList<RowId> now = visible();
        std::sort(now.begin(), now.end());
        std::sort(shadow.begin(), shadow.end());
        sameRows = sameRows && now == shadow;
        shadow = visible();
    });
    QObject::connect(watched, &DataTable::resetDone, [&] { shadow = visible(); });
    shadow = visible();
    std::size_t versions = 0;
    std::vector<std::uint32_t> log;
    int deep = 0; // steps that showed a task two levels down, and a task shown as context
    int context = 0;
    for (int step = 0; step < 400; ++step) {
        DataTable& t = list.table;
        const std::vector<RowId>& rows = t.allRows();
        const RowId row = rows[random.bounded(int(rows.size()))];
        const RowId other = rows[random.bounded(int(rows.size()))];
        switch (random.bounded(9)) {
        case 0: // a ParentID written by hand, loops and missing tasks included
            t.goToRow(row);
            if (t.currentRow() == row) {
                t.edit();
                t.setInteger(ParentID, random.bounded(36));
                t.post();
            }
            break;
        case 1:
            if (OutlineCommands::CanStandUnder(t, row, other))
                OutlineCommands::MakeSubtaskOf(t, row, other, {});
            break;
        case 2:
            t.goToRow(row);
            OutlineCommands::Indent(t, {});
            break;
        case 3:
            t.goToRow(row);
            random.bounded(2) ? (void)TaskCommands::CompleteTask(t, {})
                              : (void)OutlineCommands::Outdent(t, {});
            break;
        case 4:
            t.setCollapsed(row, !t.isCollapsed(row));
            break;
        case 5:
            ListViews::ApplyOrder(t, orders[random.bounded(orders.size())]);
            break;
        case 6: {
            const QString filter = filters[random.bounded(filters.size())];
            t.setFilter(filter.isEmpty() ? QStringLiteral("Task LIKE '%'") : filter);
            t.setFiltered(!filter.isEmpty());
            break;
        }
        case 7:
            if (rows.size() > 10) {
                OutlineCommands::DeleteRow(t, row, random.bounded(2));
            }
            break;
        default:
            list.add(QStringLiteral("Task=n%1|ParentID=%2")
                         .arg(step)
                         .arg(OutlineCommands::IdOf(t, other)));
            break;
        }
        QCOMPARE(shadow, visible());
        QVERIFY(sameRows);
        const QString shown = Shown(t);
        QCOMPARE(QString(shown).remove(u'*'), expected());
        deep += shown.contains(QStringLiteral(",--"));
        context += shown.contains(u'*');
        QVERIFY(t.versionCount() >= versions);
        QVERIFY(std::equal(log.begin(), log.end(), t.changeLog().begin()));
        versions = t.versionCount();
        log = t.changeLog();
    }
    QVERIFY(deep > 100);
    QVERIFY(context > 20);
}

void TestOutline::mergeKeepsTheOutline_data() {
    QTest::addColumn<QString>("here");
    QTest::addColumn<QString>("there");
    QTest::addColumn<QString>("conflicts");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("shown");
    // Both copies start from p (1) over k (2), x (3) and y (4).
    QTest::newRow("parent changed on both sides") << "edit 2 ParentID=3"
                                                  << "edit 2 ParentID=4"
                                                  << "2 k ParentID 1/3/4"
                                                  << "O"
                                                  << "p,x,y,-k";
    QTest::newRow("the same parent on both sides") << "edit 2 ParentID=3"
                                                   << "edit 2 ParentID=3"
                                                   << ""
                                                   << ""
                                                   << "p,x,-k,y";
    QTest::newRow("added there under a task deleted here") << "delete 3"
                                                           << "add Task=n|ParentID=3"
                                                           << ""
                                                           << ""
                                                           << "p,-k,y,n";
    QTest::newRow("added here under a task deleted there") << "add Task=n|ParentID=3"
                                                           << "delete 3"
                                                           << ""
                                                           << ""
                                                           << "p,-k,y,n";
    QTest::newRow("a parent deleted there, its subtask left here") << "edit 2 Comments=mine"
                                                                   << "delete 1"
                                                                   << ""
                                                                   << ""
                                                                   << "k,x,y";
    // The other copy's new parent takes another ID here; its new subtask follows it.
    QTest::newRow("renumbered parent") << "add Task=h"
                                       << "add Task=n; add Task=m|ParentID=5"
                                       << ""
                                       << ""
                                       << "p,-k,x,y,h,n,-m";
}

// Another copy of a list merged into this one keeps the outline both made.
void TestOutline::mergeKeepsTheOutline() {
    QFETCH(QString, here);
    QFETCH(QString, there);
    QFETCH(QString, choice);
    auto run = [](TaskListFixture& list, const QString& script) {
        for (const QString& command : script.split(u';', Qt::SkipEmptyParts)) {
            const QStringList words = command.trimmed().split(u' ');
            if (words.first() == u"add") {
                list.add(words.mid(1).join(u' '));
                continue;
            }
            list.table.goToRow(list.table.rowOfKey(words.at(1).toInt()));
            if (words.first() == u"delete") {
                list.table.remove();
                continue;
            }
            list.table.edit();
            list.write(words.mid(2).join(u' '));
            list.table.post();
        }
    };
    QByteArray common;
    {
        TaskListFixture list;
        Build(list, {"Task=p", "Task=k|Under=p", "Task=x", "Task=y"});
        common = DataPacket::Write(list.table);
    }
    TaskListFixture mine;
    TaskListFixture theirs;
    DataPacket::Read(mine.table, common);
    DataPacket::Read(theirs.table, common);
    mine.table.setIndexName(TaskTable::IndexID);
    theirs.table.setIndexName(TaskTable::IndexID);
    run(mine, here);
    run(theirs, there);
    const ListMerge::Plan plan =
        ListMerge::Prepare(mine.table, theirs.table, QStringLiteral("other.cv1"));
    QStringList conflicts;
    MergeChoices choices;
    for (const MergeConflict& c : plan.conflicts) {
        conflicts << QStringLiteral("%1 %2 %3 %4/%5/%6")
                         .arg(c.taskId)
                         .arg(c.task, c.field, c.base, c.thisCopy, c.otherCopy);
        choices.push_back(choice == u"O" ? MergeConflict::Side::OtherCopy
                                         : MergeConflict::Side::ThisCopy);
    }
    QTEST(conflicts.join(u'|'), "conflicts");
    ListMerge::Apply(mine.table, plan, choices);
    QTEST(Shown(mine.table), "shown");
    QCOMPARE(mine.table.outlineProblems(), 0);
}

QTEST_GUILESS_MAIN(TestOutline)
#include "tst_outline.moc"
