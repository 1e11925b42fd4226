#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "core/TaskListFixture.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "support/TestSupport.h"

#include <QCollator>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <numeric>
#include <tuple>

using namespace TaskRecord;

class TestDataTable : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }

    void writeConversions_data();
    void writeConversions();
    void readConversions();
    void fieldNotFoundAndClosedTable();
    void readOnlyIdAfterLoad();
    void idNumbering();
    void keyViolationAndHandSetId();
    void insertLeftEmptyIsStoredOnLeaving();
    void editWithNoVisibleRowActsAsInsert_data();
    void editWithNoVisibleRowActsAsInsert();
    void settlingOnEveryOperation_data();
    void settlingOnEveryOperation();
    void versionsAndChangeLog();
    void historyOffReplacesRows();
    void indexOrders_data();
    void indexOrders();
    void orderKeepsCurrentTask();
    void numberOrderAfterAnotherOrder();
    void naturalOrderFollowsCurrentVersions();
    void filtering();
    void refusedFilterKeepsPrevious();
    void postedRowLeavesFilteredView();
    void notifications();
    void deleteRules();
    void viewSignalsMatchRows();
    void counterRaisedAboveStoredIds();
    void arenaRowsMatchBuiltRows_data();
    void arenaRowsMatchBuiltRows();
    void textOrderIsQtCollation_data();
    void textOrderIsQtCollation();
};

void TestDataTable::writeConversions_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("stored"); // text read back; "<null>" for an empty field
    QTest::addColumn<QString>("error");

    const QString longText = QString(300, u'x');
    QTest::newRow("text cut to width") << Task << "text" << longText << QString(255, u'x') << "";
    QTest::newRow("assigned cut to 30")
        << AssignedTo << "text" << QString(40, u'a') << QString(30, u'a') << "";
    QTest::newRow("trailing blanks dropped, leading kept") << Task << "text"
                                                           << "  milk  "
                                                           << "  milk"
                                                           << "";
    QTest::newRow("empty text stays text") << Comments << "text"
                                           << ""
                                           << ""
                                           << "";
    QTest::newRow("text from integer") << Task << "int"
                                       << "0"
                                       << "0"
                                       << "";
    QTest::newRow("non-BMP kept") << Task << "text" << QString::fromUtf8("a\xF0\x9F\x98\x80")
                                  << QString::fromUtf8("a\xF0\x9F\x98\x80") << "";
    QTest::newRow("memo keeps everything") << Details << "text"
                                           << "line 1\r\nline 2  "
                                           << "line 1\r\nline 2  "
                                           << "";
    QTest::newRow("integer from text") << Progress << "text"
                                       << "42"
                                       << "42"
                                       << "";
    QTest::newRow("integer empty text empties") << Progress << "text"
                                                << ""
                                                << "<null>"
                                                << "";
    QTest::newRow("integer refuses letters")
        << Progress << "text"
        << "4x"
        << ""
        << "'4x' is not a valid integer value for field 'Progress'";
    QTest::newRow("points range high")
        << Points << "int"
        << "65536"
        << ""
        << "65536 is not a valid value for field 'Points'. The allowed range is 0 to 65535";
    QTest::newRow("points range low")
        << Points << "int"
        << "-1"
        << ""
        << "-1 is not a valid value for field 'Points'. The allowed range is 0 to 65535";
    QTest::newRow("points top") << Points << "int"
                                << "65535"
                                << "65535"
                                << "";
    QTest::newRow("i4 range")
        << Progress << "int"
        << "2147483648"
        << ""
        << "2147483648 is not a valid value for field 'Progress'. The allowed range is "
           "-2147483648 to 2147483647";
    QTest::newRow("date from text") << DueDate << "text"
                                    << "3/4/2025"
                                    << "3/4/2025"
                                    << "";
    QTest::newRow("date empty text empties") << DueDate << "text"
                                             << ""
                                             << "<null>"
                                             << "";
    QTest::newRow("date refused") << DueDate << "text"
                                  << "31/31/2025"
                                  << ""
                                  << "'31/31/2025' is not a valid date";
    QTest::newRow("date keeps the day of a date-time") << CreatedDate << "datetime"
                                                       << "2025-03-12T23:59:59"
                                                       << "3/12/2025"
                                                       << "";
    QTest::newRow("year 999") << DueDate << "date"
                              << "0999-03-03"
                              << "3/3/0999"
                              << "";
    QTest::newRow("boolean t") << Bookmarked << "text"
                               << "t"
                               << "True"
                               << "";
    QTest::newRow("boolean FAL") << Bookmarked << "text"
                                 << "FAL"
                                 << "False"
                                 << "";
    QTest::newRow("boolean empty") << Bookmarked << "text"
                                   << ""
                                   << "<null>"
                                   << "";
    QTest::newRow("boolean refuses Yes")
        << Bookmarked << "text"
        << "Yes"
        << ""
        << "'Yes' is not a valid boolean value for field 'Bookmarked'";
    QTest::newRow("boolean refuses No")
        << Bookmarked << "text"
        << "No"
        << ""
        << "'No' is not a valid boolean value for field 'Bookmarked'";
}

void TestDataTable::writeConversions() {
    QFETCH(QString, field);
    QFETCH(QString, how);
    QFETCH(QString, input);
    QFETCH(QString, stored);
    QFETCH(QString, error);

    TaskListFixture t;
    t.table.append();
    const QString before = t.table.asString(field);
    const QString message = errorOf([&] {
        if (how == u"text")
            t.table.setString(field, input);
        else if (how == u"int")
            t.table.setInteger(field, input.toLongLong());
        else if (how == u"date")
            t.table.setDate(field, QDate::fromString(input, Qt::ISODate));
        else
            t.table.setDateTime(field, QDateTime::fromString(input, Qt::ISODate));
    });
    QCOMPARE(message, error);
    if (!error.isEmpty()) {
        QCOMPARE(t.table.asString(field), before);
        return;
    }
    t.table.post();
    if (stored == u"<null>")
        QVERIFY(t.table.isNull(field));
    else
        QCOMPARE(t.table.asString(field), stored);
}

void TestDataTable::readConversions() {
    TaskListFixture t;
    t.table.append();
    QVERIFY(t.table.isNull(Bookmarked));
    QCOMPARE(t.table.displayText(Bookmarked), FieldValues::NoText);
    QCOMPARE(t.table.asString(Bookmarked), QString());
    QCOMPARE(t.table.asInteger(Time), 0);
    QCOMPARE(t.table.asBoolean(Bookmarked), false);
    QVERIFY(!t.table.asDate(DueDate).isValid());
    t.table.setBoolean(Bookmarked, true);
    QCOMPARE(t.table.displayText(Bookmarked), FieldValues::YesText);
    QCOMPARE(t.table.asString(Bookmarked), FieldValues::TrueText);
    t.table.setBoolean(Bookmarked, false);
    QCOMPARE(t.table.displayText(Bookmarked), FieldValues::NoText);
    QCOMPARE(t.table.asString(Bookmarked), FieldValues::FalseText);
    t.table.setDate(DueDate, QDate(2025, 2, 6));
    QCOMPARE(t.table.asString(DueDate), QStringLiteral("2/6/2025"));
    QCOMPARE(t.table.asDate(DueDate), QDate(2025, 2, 6));
}

void TestDataTable::fieldNotFoundAndClosedTable() {
    DataTable table;
    table.setObjectName(TaskTable::Name);
    QCOMPARE(errorOf([&] { table.append(); }),
             QStringLiteral("cdsTasks: Cannot perform this operation on a closed dataset"));
    FieldList fields = TaskRecord::Fields();
    fields.erase(fields.begin() + 22); // Properties
    table.createEmpty(fields);
    table.append();
    QCOMPARE(errorOf([&] { table.setString(Properties, QStringLiteral("a=b")); }),
             QStringLiteral("cdsTasks: Field 'Properties' not found"));
    table.cancel();
    QCOMPARE(errorOf([&] { table.setString(Task, QStringLiteral("x")); }),
             QStringLiteral("cdsTasks: Dataset not in edit or insert mode"));

    DataTable unnamed;
    unnamed.createEmpty(fields);
    QCOMPARE(errorOf([&] { unnamed.setIndexName(QStringLiteral("nope")); }),
             QStringLiteral("Index 'nope' not found"));
}

void TestDataTable::readOnlyIdAfterLoad() {
    // A list created empty lets ID be written, but Post replaces it by the counter.
    TaskListFixture t;
    t.table.append();
    t.table.setInteger(ID, 77);
    t.table.post();
    QCOMPARE(t.table.asInteger(ID), 1);

    // A loaded list marks the auto-increment field read-only.
    DataTable::Content content;
    content.fields = TaskRecord::Fields();
    content.fields[0].flags |= FieldReadOnly;
    content.autoIncValue = 1;
    DataTable loaded;
    TaskTable::Configure(loaded);
    loaded.adopt(std::move(content));
    loaded.append();
    QCOMPARE(errorOf([&] { loaded.setInteger(ID, 5); }),
             QStringLiteral("Field 'ID' cannot be modified"));
}

void TestDataTable::idNumbering() {
    TaskListFixture t;
    t.add(QStringLiteral("Task=a"));
    t.add(QStringLiteral("Task=b"));
    t.add(QStringLiteral("Task=c"));
    QCOMPARE(t.visible(ID), (QStringList{"1", "2", "3"}));
    t.table.last();
    t.table.remove();
    t.add(QStringLiteral("Task=d"));
    QCOMPARE(t.visible(ID), (QStringList{"1", "2", "4"}));
    // A row appended and dropped uses no number.
    t.table.append();
    t.table.cancel();
    t.add(QStringLiteral("Task=e"));
    QCOMPARE(t.visible(ID), (QStringList{"1", "2", "4", "5"}));
    QCOMPARE(t.table.autoIncValue(), 6);
}

void TestDataTable::keyViolationAndHandSetId() {
    // A counter behind a stored ID can only come from a file; the store is refused and the
    // row stays pending.
    TaskListFixture t;
    t.add(QStringLiteral("Task=a"));
    t.add(QStringLiteral("Task=b"));
    // In a list made by New the ID can be typed: a hand-set ID keeps the counter above it.
    t.table.first();
    t.table.edit();
    t.table.setInteger(ID, 10);
    t.table.post();
    QCOMPARE(t.table.autoIncValue(), 11);
    t.add(QStringLiteral("Task=c"));
    QCOMPARE(t.visible(ID), (QStringList{"2", "10", "11"}));
    // Typing the ID of another task is refused.
    t.table.first();
    t.table.edit();
    t.table.setInteger(ID, 11);
    QCOMPARE(errorOf([&] { t.table.post(); }), QStringLiteral("Key violation."));
    QCOMPARE(t.table.state(), DataTable::State::Edit);
    t.table.cancel();
    QCOMPARE(t.visible(ID), (QStringList{"2", "10", "11"}));
}

void TestDataTable::insertLeftEmptyIsStoredOnLeaving() {
    TaskListFixture t;
    t.add(QStringLiteral("Task=a"));
    t.add(QStringLiteral("Task=b"));
    t.table.first();
    t.table.insert();
    QCOMPARE(t.table.currentIndex(), 0);
    QCOMPARE(t.table.visibleRowCount(), 3);
    QCOMPARE(t.table.recordCount(), 2);
    t.table.next(); // moving off stores it with only its defaults
    QCOMPARE(t.table.recordCount(), 3);
    QCOMPARE(t.visible(ID), (QStringList{"1", "2", "3"}));
    t.table.last();
    QCOMPARE(t.table.asString(Status), NotStarted);
    QCOMPARE(t.table.asDate(CreatedDate), uGeneral::Today());
    QCOMPARE(t.table.asInteger(Progress), 0);
    QVERIFY(t.table.isNull(Task));
}

void TestDataTable::editWithNoVisibleRowActsAsInsert_data() {
    QTest::addColumn<bool>("filteredAway");
    QTest::newRow("empty list") << false;
    QTest::newRow("filter shows nothing") << true;
}

void TestDataTable::editWithNoVisibleRowActsAsInsert() {
    QFETCH(bool, filteredAway);
    TaskListFixture t;
    if (filteredAway) {
        t.add(QStringLiteral("Task=a"));
        t.table.setFilter(QStringLiteral("Status = 'Complete'"));
        t.table.setFiltered(true);
        QCOMPARE(t.table.visibleRowCount(), 0);
    }
    const int insertsBefore = t.inserts;
    t.table.edit();
    QCOMPARE(t.table.state(), DataTable::State::Insert);
    QCOMPARE(t.inserts, insertsBefore + 1);
    QCOMPARE(t.edits, 0);
    t.table.setString(Status, Complete);
    t.table.post();
    QCOMPARE(t.table.asString(Status), Complete);
    QCOMPARE(t.table.asDate(CreatedDate), uGeneral::Today());
    QCOMPARE(t.table.recordCount(), 1);
}

void TestDataTable::settlingOnEveryOperation_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("changed");
    const QStringList operations{"first",           "next",   "prior",  "index", "filtered",
                                 "filter-while-on", "append", "insert", "goto"};
    for (const QString& op : operations) {
        QTest::newRow(qPrintable(op + " changed")) << op << true;
        QTest::newRow(qPrintable(op + " unchanged")) << op << false;
    }
}

void TestDataTable::settlingOnEveryOperation() {
    QFETCH(QString, operation);
    QFETCH(bool, changed);
    TaskListFixture t;
    t.add(QStringLiteral("Task=a"));
    t.add(QStringLiteral("Task=b"));
    if (operation == u"filter-while-on") {
        t.table.setFilter(QStringLiteral("Status = 'Not Started'"));
        t.table.setFiltered(true);
    }
    t.table.first();
    const std::size_t versionsBefore = t.table.versionCount();
    t.table.edit();
    if (changed)
        t.table.setString(Task, QStringLiteral("a2"));

    if (operation == u"first")
        t.table.first();
    else if (operation == u"next")
        t.table.next();
    else if (operation == u"prior")
        t.table.prior();
    else if (operation == u"index")
        t.table.setIndexName(TaskTable::IndexTaskName);
    else if (operation == u"filtered")
        t.table.setFiltered(false);
    else if (operation == u"filter-while-on")
        t.table.setFilter(QStringLiteral("Status <> 'Complete'"));
    else if (operation == u"append")
        t.table.append();
    else if (operation == u"insert")
        t.table.insert();
    else
        t.table.goToRow(t.table.rowIdAt(1));

    QCOMPARE(t.table.versionCount(), versionsBefore + (changed ? 1 : 0));
    t.table.cancel();
    QVERIFY(t.visible().contains(changed ? QStringLiteral("a2") : QStringLiteral("a")));
}

void TestDataTable::versionsAndChangeLog() {
    TaskListFixture t;
    t.add(QStringLiteral("Task=one"));
    t.add(QStringLiteral("Task=two"));
    t.add(QStringLiteral("Task=three"));
    QCOMPARE(ChangeLogText(t.table), QStringLiteral("1 0 4 2 0 4 3 0 4"));
    QCOMPARE(VersionStates(t.table), QStringLiteral("4 4 4"));

    // An edit supersedes the version and logs "n p 8"; the new version keeps the insert bit.
    t.table.first();
    t.table.edit();
    t.table.setInteger(Progress, 50);
    t.table.post();
    QCOMPARE(ChangeLogText(t.table), QStringLiteral("1 0 4 2 0 4 3 0 4 4 1 8"));
    QCOMPARE(VersionStates(t.table), QStringLiteral("5 4 4 12"));

    // A post with nothing changed adds nothing; neither does writing the same value.
    t.table.edit();
    t.table.post();
    t.table.edit();
    t.table.setInteger(Progress, 50);
    t.table.post();
    QCOMPARE(t.table.versionCount(), std::size_t(4));

    // Editing the edited row again chains from its current version.
    t.table.edit();
    t.table.setInteger(Progress, 60);
    t.table.post();
    QCOMPARE(VersionStates(t.table), QStringLiteral("5 4 4 13 12"));
    QCOMPARE(ChangeLogText(t.table), QStringLiteral("1 0 4 2 0 4 3 0 4 4 1 8 5 4 8"));

    // A delete marks the current version and logs "p 0 2".
    t.table.first();
    QCOMPARE(t.table.asString(Task), QStringLiteral("one"));
    t.table.remove();
    QCOMPARE(VersionStates(t.table), QStringLiteral("5 4 4 13 14"));
    QVERIFY(ChangeLogText(t.table).endsWith(QStringLiteral("5 0 2")));
    QCOMPARE(t.visible(), (QStringList{"two", "three"}));

    // Versions of a file without history (state 0) gain states as they change.
    DataTable::Content content;
    content.fields = TaskRecord::Fields();
    for (int i = 0; i < 2; ++i) {
        RowBuilder row(25);
        row.setInt32(0, i + 1);
        content.versions.push_back(row.build());
    }
    content.autoIncValue = 3;
    DataTable plain;
    TaskTable::Configure(plain);
    plain.adopt(std::move(content));
    plain.last();
    plain.edit();
    plain.setString(Task, QStringLiteral("x"));
    plain.post();
    QCOMPARE(plain.versionState(0), 0u);
    QCOMPARE(plain.versionState(1), 1u);
    QCOMPARE(plain.versionState(2), 8u);
    QCOMPARE(plain.changeLog(), (std::vector<std::uint32_t>{3, 2, 8}));
}

void TestDataTable::historyOffReplacesRows() {
    DataTable table;
    table.setKeepHistory(false);
    table.createEmpty({{QStringLiteral("File"), FieldKind::String, 255, 0}});
    table.append();
    table.setString(QStringLiteral("File"), QStringLiteral("a"));
    table.post();
    table.edit();
    table.setString(QStringLiteral("File"), QStringLiteral("b"));
    table.post();
    QCOMPARE(table.versionCount(), std::size_t(1));
    QVERIFY(table.changeLog().empty());
    QCOMPARE(table.asString(QStringLiteral("File")), QStringLiteral("b"));
    table.remove();
    QCOMPARE(table.recordCount(), 0);
    QVERIFY(table.changeLog().empty());
}

void TestDataTable::indexOrders_data() {
    QTest::addColumn<QString>("index");
    QTest::addColumn<QStringList>("expected");
    // Tasks are added as: b, B, a, Ä, c (see the test body for their other values).
    QTest::newRow("natural") << QString() << QStringList{"b", "B", "a", "Ä", "c"};
    QTest::newRow("ID") << TaskTable::IndexID << QStringList{"b", "B", "a", "Ä", "c"};
    QTest::newRow("task name, case counts")
        << TaskTable::IndexTaskName << QStringList{"a", "Ä", "b", "B", "c"};
    QTest::newRow("status, case ignored (equal keys keep natural order)")
        << TaskTable::IndexStatus << QStringList{"a", "Ä", "b", "B", "c"};
    QTest::newRow("progress descending")
        << TaskTable::IndexProgress << QStringList{"c", "a", "B", "b", "Ä"};
    QTest::newRow("last actioned, most recent first, empty last")
        << TaskTable::IndexLastActioned << QStringList{"B", "c", "b", "a", "Ä"};
    QTest::newRow("group number, empty first")
        << TaskTable::IndexGroupNo << QStringList{"Ä", "c", "a", "b", "B"};
    QTest::newRow("category, case counts")
        << TaskTable::IndexCategory << QStringList{"a", "Ä", "c", "b", "B"};
}

void TestDataTable::indexOrders() {
    QFETCH(QString, index);
    QFETCH(QStringList, expected);
    TaskListFixture t;
    struct Row {
        const char* task;
        const char* status;
        int progress;
        int lastActionedDay; // 0: empty
        int group;           // -1: empty
        const char* category;
    };
    const Row rows[] = {
        {"b", "Paused", 10, 5, 3, "work"},      {"B", "paused", 20, 9, 4, "Work"},
        {"a", "In progress", 30, 2, 2, "home"}, {"Ä", "In Progress", 0, 0, -1, "home"},
        {"c", "Zzz", 90, 7, 1, "shop"},
    };
    for (const Row& s : rows) {
        t.table.append();
        t.table.setString(Task, QString::fromUtf8(s.task));
        t.table.setString(Status, QString::fromUtf8(s.status));
        t.table.setInteger(Progress, s.progress);
        if (s.lastActionedDay)
            t.table.setDate(LastActioned, QDate(2025, 1, s.lastActionedDay));
        if (s.group >= 0)
            t.table.setInteger(GroupNo, s.group);
        t.table.setString(Category, QString::fromUtf8(s.category));
        t.table.post();
    }
    t.table.setIndexName(index);
    QCOMPARE(t.table.indexName(), index);
    QCOMPARE(t.visible(), expected);
}

void TestDataTable::numberOrderAfterAnotherOrder() {
    // Negative numbers, equal numbers and an edit that moves a task to the end of the natural
    // order; the equal ones then stand in the natural order, whatever order came before.
    TaskListFixture t;
    for (const char* values : {"Task=d|Progress=5", "Task=c|Progress=-7", "Task=b|Progress=5",
                               "Task=a|Progress=2147483647", "Task=e|Progress=-2147483648"})
        t.add(QString::fromLatin1(values));
    t.table.first();
    t.table.edit();
    t.table.setString(Task, QStringLiteral("f"));
    t.table.post();
    t.table.setIndexName(TaskTable::IndexTaskName);
    t.table.setIndexName(TaskTable::IndexProgress); // descending
    QCOMPARE(t.visible(), (QStringList{"a", "b", "f", "c", "e"}));
    t.table.setIndexName(TaskTable::IndexGroupNo); // all empty: the natural order
    QCOMPARE(t.visible(), (QStringList{"c", "b", "a", "e", "f"}));
}

void TestDataTable::orderKeepsCurrentTask() {
    TaskListFixture t;
    for (const char* name : {"c", "a", "b"})
        t.add(QStringLiteral("Task=") + QString::fromLatin1(name));
    t.table.first(); // "c", ID 1
    const int scrolls = t.scrolls;
    t.table.setIndexName(TaskTable::IndexTaskName);
    QCOMPARE(t.table.asString(Task), QStringLiteral("c"));
    QCOMPARE(t.table.currentPosition(), 3);
    QCOMPARE(t.scrolls, scrolls); // a change of order is not a scroll
    // A stored row takes its place in the active order and stays current.
    t.table.append();
    t.table.setString(Task, QStringLiteral("aa"));
    t.table.post();
    QCOMPARE(t.visible(), (QStringList{"a", "aa", "b", "c"}));
    QCOMPARE(t.table.currentPosition(), 2);
    QCOMPARE(errorOf([&] { t.table.setIndexName(QStringLiteral("cdsTasksBogus")); }),
             QStringLiteral("cdsTasks: Index 'cdsTasksBogus' not found"));
    QCOMPARE(t.table.indexName(), TaskTable::IndexTaskName);
}

void TestDataTable::naturalOrderFollowsCurrentVersions() {
    TaskListFixture t;
    for (const char* name : {"a", "b", "c"})
        t.add(QStringLiteral("Task=") + QString::fromLatin1(name));
    t.table.setIndexName(QString());
    QCOMPARE(t.visible(), (QStringList{"a", "b", "c"}));
    // An edited row stands where its newest version stands: last, as after a reload.
    t.table.first();
    t.table.edit();
    t.table.setString(Task, QStringLiteral("a2"));
    t.table.post();
    QCOMPARE(t.visible(), (QStringList{"b", "c", "a2"}));
    QCOMPARE(t.table.asString(Task), QStringLiteral("a2"));
}

void TestDataTable::filtering() {
    TaskListFixture t;
    t.add(QStringLiteral("Task=one|Status=Not Started"));
    t.add(QStringLiteral("Task=two|Status=Complete"));
    t.add(QStringLiteral("Task=three|Status=Not Started"));
    t.table.last();
    // Setting the text while filtering is off only stores it.
    t.table.setFilter(QStringLiteral("Status = 'Not Started' "));
    QCOMPARE(t.table.visibleRowCount(), 3);
    QCOMPARE(t.table.currentPosition(), 3);
    int scrolls = t.scrolls;
    t.table.setFiltered(true);
    QCOMPARE(t.visible(), (QStringList{"one", "three"}));
    QCOMPARE(t.table.currentPosition(), 1);
    QCOMPARE(t.scrolls, scrolls + 1);
    // Already on: still moves to the first visible row.
    t.table.last();
    scrolls = t.scrolls;
    t.table.setFiltered(true);
    QCOMPARE(t.table.currentPosition(), 1);
    QCOMPARE(t.scrolls, scrolls + 1);
    // A new expression while on applies at once.
    t.table.setFilter(QStringLiteral("Status = 'Complete'"));
    QCOMPARE(t.visible(), (QStringList{"two"}));
    QCOMPARE(t.table.recordCount(), 1);
    // Off keeps the text.
    t.table.setFiltered(false);
    QCOMPARE(t.table.filter(), QStringLiteral("Status = 'Complete'"));
    QCOMPARE(t.table.recordCount(), 3);
    // Filter and order are independent.
    t.table.setIndexName(TaskTable::IndexTaskName);
    t.table.setFilter(QStringLiteral("Status = 'Not Started'"));
    t.table.setFiltered(true);
    QCOMPARE(t.visible(), (QStringList{"one", "three"}));
}

void TestDataTable::refusedFilterKeepsPrevious() {
    TaskListFixture t;
    t.add(QStringLiteral("Task=one|Status=Not Started"));
    t.add(QStringLiteral("Task=two|Status=Complete"));
    t.table.setFilter(QStringLiteral("Status = 'Complete'"));
    t.table.setFiltered(true);
    QVERIFY(!errorOf([&] { t.table.setFilter(QStringLiteral("Task LIKE '%it's%'")); }).isEmpty());
    QCOMPARE(t.table.filter(), QStringLiteral("Status = 'Complete'"));
    QCOMPARE(t.visible(), (QStringList{"two"}));
    QCOMPARE(errorOf([&] { t.table.setFilter(QStringLiteral("DueDate < 'soon' ")); }),
             QStringLiteral("'soon' is not a valid date"));
    QCOMPARE(errorOf([&] { t.table.setFilter(QStringLiteral("Nope = 'x'")); }),
             QStringLiteral("cdsTasks: Field 'Nope' not found"));
    QVERIFY(t.table.filtered());
}

void TestDataTable::postedRowLeavesFilteredView() {
    TaskListFixture t;
    t.add(QStringLiteral("Task=one|Status=In progress"));
    t.add(QStringLiteral("Task=two|Status=In progress"));
    t.table.setFilter(QStringLiteral("Status = 'In progress'"));
    t.table.setFiltered(true);
    t.table.edit();
    t.table.setString(Status, Complete);
    t.table.post();
    QCOMPARE(t.visible(), (QStringList{"two"}));
    QCOMPARE(t.table.asString(Task), QStringLiteral("two"));
}

void TestDataTable::notifications() {
    TaskListFixture t;
    // Append: after-insert, then after-scroll.
    QList<QString> order;
    t.table.setAfterInsert([&] {
        order << QStringLiteral("insert");
        TaskTable::ApplyNewRowDefaults(t.table);
    });
    t.table.setAfterScroll([&] { order << QStringLiteral("scroll"); });
    t.table.setAfterEdit([&] { order << QStringLiteral("edit"); });
    t.table.append();
    QCOMPARE(order, (QList<QString>{"insert", "scroll"}));
    order.clear();
    t.table.post(); // storing tells nothing
    QVERIFY(order.isEmpty());
    t.table.edit();
    t.table.edit(); // already pending: nothing
    QCOMPARE(order, (QList<QString>{"edit"}));
    order.clear();
    t.table.cancel();
    t.table.first();
    t.table.next();
    t.table.prior();
    QCOMPARE(order, (QList<QString>{"scroll", "scroll", "scroll"}));
    order.clear();
    t.table.setIndexName(TaskTable::IndexTaskName);
    QVERIFY(order.isEmpty());
    t.table.setFiltered(true);
    t.table.setFiltered(false);
    QCOMPARE(order, (QList<QString>{"scroll", "scroll"}));
    order.clear();
    t.table.remove();
    QCOMPARE(order, (QList<QString>{"scroll"}));
}

void TestDataTable::deleteRules() {
    TaskListFixture t;
    QCOMPARE(errorOf([&] { t.table.remove(); }),
             QStringLiteral("cdsTasks: Cannot perform this operation on an empty dataset"));
    t.add(QStringLiteral("Task=a"));
    t.add(QStringLiteral("Task=b"));
    t.add(QStringLiteral("Task=c"));
    // Delete on a pending new row drops it, as Cancel.
    t.table.append();
    t.table.remove();
    QCOMPARE(t.table.recordCount(), 3);
    QCOMPARE(t.table.versionCount(), std::size_t(3));
    // A neighbour becomes current.
    t.table.moveToPosition(1);
    t.table.remove();
    QCOMPARE(t.table.asString(Task), QStringLiteral("c"));
    t.table.remove();
    QCOMPARE(t.table.asString(Task), QStringLiteral("a"));
    // A pending edit goes with its row.
    t.table.edit();
    t.table.setString(Task, QStringLiteral("changed"));
    t.table.remove();
    QCOMPARE(t.table.recordCount(), 0);
    QCOMPARE(t.table.currentIndex(), -1);
}

// The fine-grained signals must describe exactly how the visible rows change, or an item model
// built on them would go out of step.
void TestDataTable::viewSignalsMatchRows() {
    TaskListFixture t;
    QList<int> shadow; // row ids as a model following the signals would hold them
    std::function<void()> resync = [&] {
        shadow.clear();
        for (int i = 0; i < t.table.visibleRowCount(); ++i)
            shadow << t.table.rowIdAt(i);
    };
    QObject::connect(&t.table, &DataTable::rowInserted,
                     [&](int pos) { shadow.insert(pos, t.table.rowIdAt(pos)); });
    QObject::connect(&t.table, &DataTable::rowRemoved, [&](int pos) { shadow.removeAt(pos); });
    QObject::connect(&t.table, &DataTable::rowMoved,
                     [&](int from, int to) { shadow.move(from, to); });
    QObject::connect(&t.table, &DataTable::resetDone, resync);
    auto check = [&] {
        QCOMPARE(shadow.size(), t.table.visibleRowCount());
        for (int i = 0; i < shadow.size(); ++i)
            QCOMPARE(shadow.at(i), t.table.rowIdAt(i));
    };
    t.table.setIndexName(TaskTable::IndexTaskName);
    for (const char* name : {"m", "c", "x", "a", "q"}) {
        t.add(QStringLiteral("Task=") + QString::fromLatin1(name));
        check();
    }
    t.table.moveToPosition(2);
    t.table.insert();
    check();
    t.table.setString(Task, QStringLiteral("zz"));
    t.table.next();
    check();
    t.table.first();
    t.table.edit();
    t.table.setString(Task, QStringLiteral("p"));
    t.table.post();
    check();
    t.table.setFilter(QStringLiteral("Task LIKE '%p%'"));
    t.table.setFiltered(true);
    check();
    t.table.edit();
    t.table.setString(Task, QStringLiteral("b"));
    t.table.post();
    check();
    t.table.setFiltered(false);
    check();
    t.table.append();
    t.table.cancel();
    check();
}

void TestDataTable::counterRaisedAboveStoredIds() {
    auto load = [](std::optional<std::int64_t> counter) {
        DataTable::Content content;
        content.fields = TaskRecord::Fields();
        for (int id : {3, 7}) {
            RowBuilder row(25);
            row.setInt32(0, id);
            content.versions.push_back(row.build());
            content.states.push_back(4);
        }
        content.autoIncValue = counter;
        auto table = std::make_unique<DataTable>();
        TaskTable::Configure(*table);
        table->adopt(std::move(content));
        return table;
    };
    QCOMPARE(load(std::nullopt)->autoIncValue(), 8);
    QCOMPARE(load(5)->autoIncValue(), 8);
    QCOMPARE(load(20)->autoIncValue(), 20);
    auto table = load(std::nullopt);
    table->append();
    table->post();
    QCOMPARE(table->asInteger(ID), 8);
}

// Rows written straight into an arena (as a loaded list's are), laid out or packed, have the
// bytes of the same rows built one by one, across block boundaries, abandoned rows and rows of
// every size.
void TestDataTable::arenaRowsMatchBuiltRows_data() {
    QTest::addColumn<bool>("packed");
    QTest::newRow("laid out") << false;
    QTest::newRow("packed") << true;
}

void TestDataTable::arenaRowsMatchBuiltRows() {
    QFETCH(bool, packed);
    QRandomGenerator rng(7);
    const int fields = 70; // more than the 64 a byte mask covers
    RowDataStore store(fields);
    RowArena arena;
    ArenaRowWriter writer(packed ? store.memory() : arena, fields,
                          packed ? ArenaRowWriter::Packed : ArenaRowWriter::Rows);
    std::vector<RowData> written;
    std::vector<RowData> built;
    std::vector<int> given;
    std::vector<std::uint32_t> ends;
    for (int r = 0; r < 3000; ++r) {
        RowBuilder builder(fields);
        ArenaRowWriter::Room room = writer.begin();
        std::size_t used = 0;
        given.clear();
        ends.clear();
        for (int f = 0; f < fields; ++f) {
            const int pick = int(rng.bounded(6));
            if (pick < 3)
                continue; // null
            // Mostly short values, now and then one far larger than a first block.
            const std::size_t size = pick == 3               ? 0
                                     : rng.bounded(100) == 0 ? 200000
                                                             : rng.bounded(40);
            std::string value(size, char('a' + f % 26));
            if (!value.empty())
                value[0] = char(r);
            builder.setBytes(f, value);
            if (room.limit - (room.values + used) < std::ptrdiff_t(size + ArenaRowWriter::Slack))
                room = writer.grow(used, size);
            std::memcpy(room.values + used, value.data(), value.size());
            used += size;
            given.push_back(f);
            ends.push_back(std::uint32_t(used));
        }
        if (r % 10 == 9)
            continue; // a row left half way leaves nothing behind
        const ArenaRowWriter::Values values{given.data(), ends.data(), int(given.size())};
        if (packed) {
            store.add(writer.finishPacked(values));
            written.push_back(store.unpack(written.size()));
        } else {
            written.push_back(writer.finish(values));
        }
        built.push_back(builder.build());
        QCOMPARE(writer.rowSize(values), built.back().byteSize());
    }
    QVERIFY((packed ? store.memory() : arena).blockCount() > 3);
    for (std::size_t i = 0; i < written.size(); ++i) {
        QVERIFY2(written[i].sameAs(built[i]), qPrintable(QString::number(i)));
        QCOMPARE(written[i].fieldCount(), fields);
    }
    // A clone owns its memory and outlives the arena.
    RowData copy = written.back().clone();
    written.clear();
    arena = RowArena();
    store = RowDataStore();
    QVERIFY(copy.sameAs(built.back()));
}

// Text indexes order as QCollator does for the default locale and the index's case rule, on
// small lists and on large ones whose keys are made on several threads.
void TestDataTable::textOrderIsQtCollation_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<int>("rows");
    QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedStates) << 400;
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << 400;
    QTest::newRow("Swedish") << QLocale(QLocale::Swedish, QLocale::Sweden) << 400;
    // Locales whose letters contract ("ch", "aa") or stand apart (dotless i).
    QTest::newRow("Czech") << QLocale(QLocale::Czech, QLocale::CzechRepublic) << 400;
    QTest::newRow("Danish") << QLocale(QLocale::Danish, QLocale::Denmark) << 400;
    QTest::newRow("Turkish") << QLocale(QLocale::Turkish, QLocale::Turkey) << 400;
    QTest::newRow("C") << QLocale::c() << 400;
    QTest::newRow("English, large") << QLocale(QLocale::English, QLocale::UnitedStates) << 40000;
}

void TestDataTable::textOrderIsQtCollation() {
    QFETCH(QLocale, locale);
    QFETCH(int, rows);
    QLocale::setDefault(locale);
    struct Restore {
        ~Restore() { PinLocaleAndClock(); }
    } restore;

    // Texts that differ by case, accents, punctuation, digits, blanks and script, empty ones,
    // ignorable, combining, expanding and contracting characters, long runs.
    const QStringList pieces = {
        QStringLiteral("a"),          QStringLiteral("A"),      QStringLiteral("\u00e4"),
        QStringLiteral("\u00c4"),     QStringLiteral("ae"),     QStringLiteral("o"),
        QStringLiteral("\u00f6"),     QStringLiteral("z"),      QStringLiteral("Z"),
        QStringLiteral("\u00df"),     QStringLiteral("ss"),     QStringLiteral("-"),
        QStringLiteral(" "),          QStringLiteral("1"),      QStringLiteral("10"),
        QStringLiteral("2"),          QStringLiteral("\u65e5"), QStringLiteral("\u2192"),
        QStringLiteral("e\u0301"),    QStringLiteral("\u00e9"), QStringLiteral("\ufeff"),
        QStringLiteral("\U0001F600"), QStringLiteral("'"),      QStringLiteral("&"),
        QStringLiteral("\t"),         QStringLiteral("\u0001"), QStringLiteral("ch"),
        QStringLiteral("c"),          QStringLiteral("h"),      QStringLiteral("aa"),
        QStringLiteral("\u00e5"),     QStringLiteral("i"),      QStringLiteral("\u0131"),
        QStringLiteral("\u0130"),     QStringLiteral("\u00e6"), QStringLiteral("\u01c5"),
        QStringLiteral("l\u00b7l"),   QString(30, u'x'),
    };
    QRandomGenerator rng{quint32(rows)};
    DataTable::Content content;
    content.fields = TaskRecord::Fields();
    auto fieldOf = [&](const QString& name) {
        for (std::size_t f = 0; f < content.fields.size(); ++f)
            if (content.fields[f].name == name)
                return int(f);
        return -1;
    };
    const int task = fieldOf(Task);
    const int status = fieldOf(Status);
    QStringList tasks, statuses;
    for (int r = 0; r < rows; ++r) {
        auto text = [&] {
            QString t;
            for (int n = int(rng.bounded(5)); n > 0; --n)
                t += pieces.at(int(rng.bounded(pieces.size())));
            return t;
        };
        tasks << text();
        statuses << text();
        RowBuilder row(int(content.fields.size()));
        row.setInt32(0, r + 1);
        const QByteArray a = tasks.last().toUtf8();
        const QByteArray b = statuses.last().toUtf8();
        row.setBytes(task, std::string_view(a.constData(), std::size_t(a.size())));
        row.setBytes(status, std::string_view(b.constData(), std::size_t(b.size())));
        content.versions.push_back(row.build());
    }
    content.autoIncValue = rows + 1;
    DataTable table;
    TaskTable::Configure(table);
    table.adopt(std::move(content));

    for (const auto& [index, field, texts, rule] :
         {std::tuple{TaskTable::IndexTaskName, task, &tasks, Qt::CaseSensitive},
          std::tuple{TaskTable::IndexStatus, status, &statuses, Qt::CaseInsensitive}}) {
        QCollator collator(locale);
        collator.setCaseSensitivity(rule);
        std::vector<QCollatorSortKey> keys;
        for (const QString& t : *texts)
            keys.push_back(collator.sortKey(t));
        std::vector<int> expected(static_cast<std::size_t>(rows));
        std::iota(expected.begin(), expected.end(), 0);
        std::stable_sort(expected.begin(), expected.end(), [&](int x, int y) {
            return keys[std::size_t(x)].compare(keys[std::size_t(y)]) < 0;
        });
        table.setIndexName(index);
        for (int i = 0; i < rows; ++i)
            QVERIFY2(table.rowDataAt(i).int32(0) == expected[std::size_t(i)] + 1,
                     qPrintable(QStringLiteral("%1, place %2").arg(index).arg(i)));
    }
}

QTEST_GUILESS_MAIN(TestDataTable)
#include "tst_datatable.moc"
