#include "base/DatesAndClock.h"
#include "core/TaskListFixture.h"
#include "storage/DataPacket.h"
#include "storage/Import.h"
#include "support/FileBytes.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>

using namespace TaskRecord;

namespace {

// The task fields with some changed: "-Name" drops a field, "+Name" adds a text field of width
// 20, "Name:string" makes a field text of width 20.
FieldList FieldsWith(const QStringList& changes) {
    FieldList fields = TaskRecord::Fields();
    for (const QString& change : changes) {
        const bool drop = change.startsWith(u'-');
        const bool add = change.startsWith(u'+');
        const QString name = (drop || add ? change.mid(1) : change).section(u':', 0, 0);
        const FieldDef text{name, FieldKind::String, 20, 0};
        auto it = std::find_if(fields.begin(), fields.end(),
                               [&](const FieldDef& def) { return def.name == name; });
        if (add)
            fields.push_back(text);
        else if (drop)
            fields.erase(it);
        else
            *it = text;
    }
    return fields;
}

// Runs list operations: "add <values>" (fixture form), "edit <ID> <values>", "delete <ID>".
void Apply(TaskListFixture& list, const QStringList& ops) {
    for (const QString& op : ops) {
        const QString verb = op.section(u' ', 0, 0);
        if (verb == u"add") {
            list.add(op.section(u' ', 1));
            continue;
        }
        const int id = op.section(u' ', 1, 1).toInt();
        list.table.first();
        while (list.table.asInteger(ID) != id)
            list.table.next();
        if (verb == u"edit") {
            list.table.edit();
            list.write(op.section(u' ', 2));
            list.table.post();
        } else {
            list.table.remove();
        }
    }
}

QString SaveList(const QTemporaryDir& dir, const QString& name, const QStringList& ops,
                 const FieldList& fields = TaskRecord::Fields()) {
    // Without the new-row defaults: a file holds exactly what the ops wrote.
    TaskListFixture list(fields);
    list.table.setAfterInsert(nullptr);
    Apply(list, ops);
    const QString fileName = dir.filePath(name);
    DataPacket::SaveToFile(list.table, fileName);
    return fileName;
}

// "Task:ID" of every visible row of the target.
QStringList TasksAndIds(const DataTable& table) {
    QStringList result;
    for (int i = 0; i < table.visibleRowCount(); ++i) {
        const RowData& row = table.rowDataAt(i);
        result << table.textOf(row, table.fieldIndex(Task)) + u':' +
                      table.textOf(row, table.fieldIndex(ID));
    }
    return result;
}

// Seven tasks stored and the last three deleted: the next ID is 8.
const QStringList TargetOfFour{"add Task=t1", "add Task=t2", "add Task=t3", "add Task=t4",
                               "add Task=t5", "add Task=t6", "add Task=t7", "delete 5",
                               "delete 6",    "delete 7"};

// A target of four tasks (next ID 8), made here or read from its file (a read-only ID), with
// the counter of the file replaced when one is given.
void MakeTarget(TaskListFixture& target, bool loaded, const QByteArray& counter = {}) {
    if (!loaded) {
        Apply(target, TargetOfFour);
        return;
    }
    QTemporaryDir dir;
    const QString file = SaveList(dir, QStringLiteral("target.cv1"), TargetOfFour);
    if (!counter.isEmpty()) {
        QByteArray bytes = ReadFileBytes(file);
        bytes.replace("AUTOINCVALUE=\"8\"", "AUTOINCVALUE=\"" + counter + '"');
        QVERIFY(WriteFileBytes(file, bytes));
    }
    DataPacket::LoadFromFile(target.table, file);
    target.table.setIndexName(TaskTable::IndexID);
}

const QString CounterExhausted = QStringLiteral("cdsTasks: The ID counter is exhausted");

// The commands as their steps describe them: one Append, field writes through the text forms
// and one Post per task. The batched commands must leave the very same list behind.
void ImportOneByOne(DataTable& target, const QString& fileName) {
    DataTable source;
    DataPacket::LoadFromFile(source, fileName);
    for (int position = 0; position < source.visibleRowCount(); ++position) {
        target.append();
        for (std::size_t f = 0; f < source.fields().size(); ++f) {
            try {
                target.setString(source.fields()[f].name,
                                 source.textOf(source.rowDataAt(position), int(f)));
            } catch (const CorvantisError&) {
            }
        }
        target.post();
    }
}

void BatchInsertOneByOne(DataTable& target, const QString& text) {
    for (const QString& line : Import::TextLines(text)) {
        if (line.isEmpty())
            continue;
        target.append();
        target.setString(Task, line);
        target.post();
    }
}

// What a list and its view show after a command, and what saving it would write.
QString Outcome(TaskListFixture& list) {
    return QStringLiteral("%1 rows %2, current %3, marks %4, scrolls %5\n")
               .arg(list.visible(ID).join(u','))
               .arg(list.table.recordCount())
               .arg(list.table.currentIndex())
               .arg(list.hookMarks)
               .arg(list.scrolls) +
           QString::fromUtf8(DataPacket::Write(list.table));
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }

    void importedRows_data();
    void importedRows();
    void importedValues_data();
    void importedValues();
    void intoItself();
    void unreadableFile_data();
    void unreadableFile();
    void failingPostStops_data();
    void failingPostStops();

    void batchInsert_data();
    void batchInsert();
    void batchInsertWithoutTaskField();
    void sameAsOneByOne_data();
    void sameAsOneByOne();
    void stoppedLeavesListAsItWas();
};

void TestImport::importedRows_data() {
    QTest::addColumn<QStringList>("source");
    QTest::addColumn<bool>("loaded");          // the target was read from its file
    QTest::addColumn<QStringList>("expected"); // visible rows of the target afterwards

    const QStringList abc{"add Task=a", "add Task=b", "add Task=c"};
    QTest::newRow("three tasks take the next IDs")
        << abc << false << QStringList{"t1:1", "t2:2", "t3:3", "t4:4", "a:8", "b:9", "c:10"};
    // The ID of a list read from a file cannot be written: skipped like any refused field.
    QTest::newRow("into a list read from its file")
        << abc << true << QStringList{"t1:1", "t2:2", "t3:3", "t4:4", "a:8", "b:9", "c:10"};
    QTest::newRow("an edited task comes after the tasks added before its edit")
        << abc + QStringList{"edit 1 Task=a2"} << false
        << QStringList{"t1:1", "t2:2", "t3:3", "t4:4", "b:8", "c:9", "a2:10"};
    QTest::newRow("deleted tasks are not imported")
        << abc + QStringList{"delete 2"} << false
        << QStringList{"t1:1", "t2:2", "t3:3", "t4:4", "a:8", "c:9"};
    QTest::newRow("all deleted: nothing")
        << QStringList{"add Task=a", "add Task=b", "delete 1", "delete 2"} << true
        << QStringList{"t1:1", "t2:2", "t3:3", "t4:4"};
}

void TestImport::importedRows() {
    QFETCH(QStringList, source);
    QFETCH(bool, loaded);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString file = SaveList(dir, QStringLiteral("source.cv1"), source);
    TaskListFixture target;
    MakeTarget(target, loaded);
    target.table.moveToPosition(1);
    const int marksBefore = target.hookMarks;
    const std::size_t versionsBefore = target.table.versionCount();

    Import::ImportTasks(target.table, file);

    QCOMPARE(TasksAndIds(target.table), expected);
    const int imported = int(expected.size()) - 4;
    QCOMPARE(target.hookMarks - marksBefore, imported); // each added task marks the list once
    QCOMPARE(target.table.versionCount() - versionsBefore, std::size_t(imported));
    QCOMPARE(target.table.state(), DataTable::State::Browse);
    // Ends on the last imported task; an import of nothing leaves the current task alone.
    QCOMPARE(target.table.asString(Task),
             imported ? expected.last().section(u':', 0, 0) : QStringLiteral("t2"));
}

void TestImport::importedValues_data() {
    QTest::addColumn<QStringList>("sourceFields"); // changes to the task fields
    QTest::addColumn<QString>("values");           // the one source task
    QTest::addColumn<QString>("expected");         // "Field=text|...", "<null>": empty field

    QTest::newRow("every kind through its text")
        << QStringList{}
        << "Task=Write|Status=Complete|Priority=High|Progress=100|CreatedDate=2024-02-29|"
           "Bookmarked=True|Points=65535|Details=line one\nline two|DueDate=2025-12-31"
        << "Task=Write|Status=Complete|Priority=High|Progress=100|CreatedDate=2024-02-29|"
           "Bookmarked=True|Points=65535|Details=line one\nline two|DueDate=2025-12-31";
    // Every field of the file is written, an empty one as the empty text: it clears the
    // defaults of dates and numbers and leaves empty text in text fields.
    QTest::newRow("empty source fields clear the defaults")
        << QStringList{} << "Task=Bare|Status=<null>|CreatedDate=<null>|Progress=<null>"
        << "Task=Bare|Status=|CreatedDate=<null>|Progress=<null>|Priority=|Comments=|"
           "Bookmarked=<null>|Details=|DueDate=<null>";
    QTest::newRow("a file without Properties leaves it empty")
        << QStringList{"-Properties"} << "Task=x"
        << "Task=x|Properties=<null>|Status=|CreatedDate=<null>";
    QTest::newRow("a field only the file has is dropped")
        << QStringList{"+Colour"} << "Task=x|Colour=red"
        << "Task=x|Comments=";
    QTest::newRow("a value the target refuses is dropped, the rest copied")
        << QStringList{"Points:string", "Progress:string"} << "Task=x|Points=70000|Progress=abc"
        << "Task=x|Points=<null>|Progress=0";
    QTest::newRow("a file without the list's defaults fields keeps them")
        << QStringList{"-Status", "-CreatedDate", "-Progress"} << "Task=x"
        << "Task=x|Status=Not Started|CreatedDate=today|Progress=0";
    QTest::newRow("vocabulary outside the lists copied as it is")
        << QStringList{} << "Task=x|Status=in progress|Difficulty=Normal"
        << "Task=x|Status=in progress|Difficulty=Normal";
}

void TestImport::importedValues() {
    QFETCH(QStringList, sourceFields);
    QFETCH(QString, values);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString file = SaveList(dir, QStringLiteral("source.cv1"),
                                  {QStringLiteral("add ") + values}, FieldsWith(sourceFields));
    TaskListFixture target;
    Import::ImportTasks(target.table, file);

    QCOMPARE(target.table.recordCount(), 1);
    QCOMPARE(target.table.asInteger(ID), 1);
    for (const QString& pair : expected.split(u'|')) {
        const QString field = pair.section(u'=', 0, 0);
        const QString value = pair.section(u'=', 1);
        if (value == u"<null>") {
            QVERIFY2(target.table.isNull(field), qPrintable(field));
        } else {
            QVERIFY2(!target.table.isNull(field), qPrintable(field));
            QCOMPARE(target.table.asString(field), target.parse(pair).value(field));
        }
    }
}

void TestImport::intoItself() {
    QTemporaryDir dir;
    TaskListFixture list;
    Apply(list, {"add Task=a|Category=Home", "add Task=b"});
    const QString file = dir.filePath(QStringLiteral("self.cv1"));
    DataPacket::SaveToFile(list.table, file);
    // Changes after the save are not in the file, so they are not copied.
    Apply(list, {"edit 1 Task=a changed"});

    Import::ImportTasks(list.table, file);

    QCOMPARE(TasksAndIds(list.table), (QStringList{"a changed:1", "b:2", "a:3", "b:4"}));
    list.table.moveToPosition(2);
    QCOMPARE(list.table.asString(Category), QStringLiteral("Home"));
}

void TestImport::unreadableFile_data() {
    QTest::addColumn<QByteArray>("bytes"); // "<none>": no such file
    QTest::addColumn<QString>("message");  // "<open>": the open failure with the full name
    QTest::newRow("empty file, no table name")
        << QByteArray() << QStringLiteral("Missing data provider or data packet");
    QTest::newRow("not a list file") << QByteArray("hello") << "Mismatch in datapacket.";
    QTest::newRow("missing file") << QByteArray("<none>") << QStringLiteral("<open>");
}

void TestImport::unreadableFile() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bad.cv1"));
    if (bytes != "<none>")
        QVERIFY(WriteFileBytes(file, bytes));
    TaskListFixture target;
    Apply(target, TargetOfFour);
    const int marks = target.hookMarks;
    const std::size_t versions = target.table.versionCount();

    const QString error = errorOf([&] { Import::ImportTasks(target.table, file); });

    if (message == u"<open>")
        QVERIFY2(
            error.startsWith(
                QStringLiteral("Cannot open file \"%1\". ").arg(QDir::toNativeSeparators(file))),
            qPrintable(error));
    else
        QCOMPARE(error, message);
    QCOMPARE(target.hookMarks, marks);
    QCOMPARE(target.table.versionCount(), versions);
    QCOMPARE(target.table.state(), DataTable::State::Browse);
}

void TestImport::failingPostStops_data() {
    QTest::addColumn<bool>("batch");
    QTest::newRow("import") << false;
    QTest::newRow("batch insert") << true;
}

void TestImport::failingPostStops() {
    // The target's counter hands out its last ID to the first new task: storing the second
    // one fails.
    QFETCH(bool, batch);
    QTemporaryDir dir;
    const QString source =
        SaveList(dir, QStringLiteral("source.cv1"), {"add Task=a", "add Task=b", "add Task=c"});
    TaskListFixture target;
    MakeTarget(target, true, "2147483647");

    QCOMPARE(errorOf([&] {
                 if (batch)
                     Import::BatchInsert(target.table, QStringLiteral("a\nb\nc"));
                 else
                     Import::ImportTasks(target.table, source);
             }),
             CounterExhausted);

    // "a" was stored; "b" stays pending with what was written; "c" was never added.
    QCOMPARE(target.table.recordCount(), 5);
    QCOMPARE(target.table.state(), DataTable::State::Insert);
    QCOMPARE(target.table.asString(Task), QStringLiteral("b"));
    target.table.cancel();
    QCOMPARE(TasksAndIds(target.table).mid(4), QStringList{"a:2147483647"});
}

void TestImport::batchInsert_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("tasks");
    const QString long300 = QString(300, u'x');
    QTest::newRow("empty lines skipped") << "a\n\nb" << QStringList{"a", "b"};
    QTest::newRow("nothing") << QString() << QStringList{};
    QTest::newRow("only line breaks") << "\n\n\n" << QStringList{};
    QTest::newRow("final line break") << "a\nb\n" << QStringList{"a", "b"};
    QTest::newRow("pasted Windows line breaks") << "a\r\nb\r\n\r\nc" << QStringList{"a", "b", "c"};
    QTest::newRow("cut to 255") << long300 << QStringList{long300.left(255)};
    QTest::newRow("blanks give an empty task") << "   " << QStringList{""};
    QTest::newRow("leading blanks kept, trailing dropped")
        << "  lead\ntrail  " << QStringList{"  lead", "trail"};
    QTest::newRow("tabs are characters") << "\t" << QStringList{"\t"};
}

void TestImport::batchInsert() {
    QFETCH(QString, text);
    QFETCH(QStringList, tasks);
    TaskListFixture list;
    list.add(QStringLiteral("Task=existing"));

    Import::BatchInsert(list.table, text);

    QCOMPARE(list.visible(), QStringList{"existing"} + tasks);
    QCOMPARE(list.hookMarks, 1 + int(tasks.size()));
    QCOMPARE(list.table.state(), DataTable::State::Browse);
    for (int i = 0; i < tasks.size(); ++i) {
        list.table.moveToPosition(i + 1);
        QCOMPARE(list.table.asInteger(ID), i + 2);
        QVERIFY(!list.table.isNull(Task));
        QCOMPARE(list.table.asString(Status), NotStarted);
        QCOMPARE(list.table.asDate(CreatedDate), uGeneral::Today());
        QCOMPARE(list.table.asInteger(Progress), 0);
        for (const QString& empty : {Priority, Difficulty, Category, Comments, Bookmarked})
            QVERIFY2(list.table.isNull(empty), qPrintable(empty));
    }
}

void TestImport::batchInsertWithoutTaskField() {
    TaskListFixture list(FieldsWith({"-Task"}));
    QCOMPARE(errorOf([&] { Import::BatchInsert(list.table, QStringLiteral("a")); }),
             QStringLiteral("cdsTasks: Field 'Task' not found"));
    QCOMPARE(list.table.visibleRowCount(), 0);
    QCOMPARE(list.hookMarks, 0);
}

void TestImport::sameAsOneByOne_data() {
    QTest::addColumn<QString>("order");
    QTest::addColumn<QString>("filter"); // empty: none
    QTest::addColumn<bool>("import");    // else batch insert
    QTest::addColumn<int>("more");       // tasks in the list besides the three

    for (const bool import : {true, false}) {
        const char* command = import ? "import" : "batch insert";
        QTest::addRow("%s, ID order", command) << TaskTable::IndexID << QString() << import << 0;
        QTest::addRow("%s, by task", command)
            << TaskTable::IndexTaskName << QString() << import << 0;
        QTest::addRow("%s, by status, filtered", command)
            << TaskTable::IndexStatus << QStringLiteral("Task <> 'zz last'") << import << 0;
        // The last task added is filtered out: the last visible task becomes current.
        QTest::addRow("%s, last added hidden", command)
            << TaskTable::IndexTaskName << QStringLiteral("Task < 'z'") << import << 0;
        // A few tasks into many are placed one by one rather than merged.
        QTest::addRow("%s, by task, long list", command)
            << TaskTable::IndexTaskName << QStringLiteral("Task <> 'l150'") << import << 300;
    }
}

void TestImport::sameAsOneByOne() {
    QFETCH(QString, order);
    QFETCH(QString, filter);
    QFETCH(bool, import);
    QFETCH(int, more);
    // Values that take every way of copying: text cut to a narrower field at a blank, text
    // beyond ASCII, dates, numbers the target refuses, a field of another kind.
    QTemporaryDir dir;
    const QString file =
        SaveList(dir, QStringLiteral("source.cv1"),
                 {"add Task=m \u00e9t\u00e9|Status=Complete|Comments=abcdefghijklmnopqrs tail|"
                  "DueDate=2024-02-29|Points=12|Bookmarked=True|Details=d\r\n  x  ",
                  "add Task=b|Status=Paused|Comments=\u65e5\u672c\u65e5\u672c\u65e5\u672c\u65e5"
                  "\u672c\u65e5\u672c\u65e5\u672c\u65e5\u672c\u65e5\u672c\u65e5\u672c\u65e5"
                  "\u672c\u65e5\u672c|Points=70000|CreatedDate=<null>|Progress=<null>",
                  "add Task=a|Points=abc|Status=In progress|Details=\uFEFFwith a byte-order mark|"
                  "Comments=\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
                  "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\U0001F600 tail",
                  "add Task=zz last|Status=Complete|Details=\u00e9 ends in blanks   "},
                 FieldsWith({"Points:string"}));
    const QString lines = QStringLiteral("m\n\n b  \nzz last\na\r\n");
    int resets = 0;
    auto run = [&](TaskListFixture& list, bool oneByOne) {
        Apply(list, {"add Task=k|Status=Paused", "add Task=c", "add Task=zz"});
        for (int i = 0; i < more; ++i)
            Apply(list, {QStringLiteral("add Task=l%1").arg(i)});
        list.table.setIndexName(order);
        list.table.setFilter(filter);
        list.table.setFiltered(!filter.isEmpty());
        list.table.moveToPosition(1);
        list.table.edit(); // a pending change, stored by the first Append
        list.table.setString(Comments, QStringLiteral("pending"));
        QObject::connect(&list.table, &DataTable::resetDone, [&] { ++resets; });
        if (import)
            oneByOne ? ImportOneByOne(list.table, file)
                     : (void)Import::ImportTasks(list.table, file);
        else
            oneByOne ? BatchInsertOneByOne(list.table, lines)
                     : (void)Import::BatchInsert(list.table, lines);
    };
    const FieldList narrow = FieldsWith({"Comments:string", "Details:string"}); // 20 characters
    TaskListFixture expected(narrow);
    run(expected, true);
    resets = 0;
    TaskListFixture batched(narrow);
    run(batched, false);

    QCOMPARE(Outcome(batched), Outcome(expected));
    QCOMPARE(resets, 1); // a view hears of the whole command once
}

void TestImport::stoppedLeavesListAsItWas() {
    TaskListFixture list;
    list.add(QStringLiteral("Task=kept"));
    list.add(QStringLiteral("Task=current"));
    const QString before = Outcome(list);
    QStringList lines;
    for (int i = 0; i < 5000; ++i)
        lines << QString::number(i);
    int asked = 0;
    const bool finished =
        Import::BatchInsert(list.table, lines.join(u'\n'), [&](int done, int total) {
            ++asked;
            return done < 4000 && total == 5000;
        });
    QVERIFY(!finished);
    QCOMPARE(asked, 2);
    // The notifications ran for the rows made, but the list is as it was.
    list.hookMarks -= 4096;
    list.scrolls -= 4096;
    QCOMPARE(Outcome(list), before);
    list.add(QStringLiteral("Task=next"));
    QCOMPARE(list.visible(ID), (QStringList{"1", "2", "3"}));
}

QTEST_GUILESS_MAIN(TestImport)
#include "tst_import.moc"
