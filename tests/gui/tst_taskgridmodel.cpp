#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/TaskGridModel.h"

#include <QAbstractItemModelTester>
#include <QTest>

using namespace TaskRecord;

// The grid model must follow every kind of change of the table row by row; the model tester
// checks each signal against the model's answers.
class TestTaskGridModel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void followsEveryChange();
    void columnsFollowTheFields();
    void editingThroughTheModel();
    void editableCells_data();
    void editableCells();
};

void TestTaskGridModel::followsEveryChange() {
    DataTable table;
    TaskTable::CreateEmpty(table);
    table.setAfterInsert([&] { TaskTable::ApplyNewRowDefaults(table); });
    TaskGridModel model(&table);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    table.setIndexName(TaskTable::IndexTaskName);
    for (const char* name : {"m", "c", "x", "a"}) {
        table.append();
        table.setString(Task, QString::fromLatin1(name));
        table.post();
    }
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.index(0, 1).data().toString(), QStringLiteral("a"));
    table.moveToPosition(1);
    table.insert();
    QCOMPARE(model.rowCount(), 5);
    table.setString(Task, QStringLiteral("zz"));
    QCOMPARE(model.index(1, 1).data().toString(), QStringLiteral("zz"));
    table.first(); // stores the inserted row, which moves to the end
    QCOMPARE(model.index(4, 1).data().toString(), QStringLiteral("zz"));
    table.edit();
    table.setString(Task, QStringLiteral("n"));
    table.post();
    table.setFilter(QStringLiteral("Task LIKE '%z%'"));
    table.setFiltered(true);
    QCOMPARE(model.rowCount(), 1);
    table.edit();
    table.setString(Task, QStringLiteral("q"));
    table.post(); // leaves the filtered view
    QCOMPARE(model.rowCount(), 0);
    table.setFiltered(false);
    table.last();
    table.remove();
    table.append();
    table.cancel();
    QCOMPARE(model.rowCount(), table.visibleRowCount());
    table.setIndexName(QString());
    QCOMPARE(model.index(0, 5).data().toString(), QStringLiteral("0"));
    QCOMPARE(model.index(0, 13).data().toString(), QStringLiteral("No"));
}

void TestTaskGridModel::columnsFollowTheFields() {
    DataTable table;
    TaskTable::Configure(table);
    FieldList fields = TaskRecord::Fields();
    fields.erase(fields.begin() + 15); // GroupNo
    table.createEmpty(fields);
    TaskGridModel model(&table);
    QCOMPARE(model.columnCount(), 24);
    QCOMPARE(model.columnOfField(GroupNo), -1);
    // A value worked out from Properties has a column of its own, at the end.
    QCOMPARE(model.headerData(22, Qt::Horizontal).toString(), QStringLiteral("Repeat"));
    QCOMPARE(model.headerData(23, Qt::Horizontal).toString(), SubtasksColumn);
    QCOMPARE(model.headerData(12, Qt::Horizontal).toString(), QStringLiteral("Time Taken"));
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("ID"));
}

namespace {

QStringList column(const TaskGridModel& model, int c) {
    QStringList texts;
    for (int r = 0; r < model.rowCount(); ++r)
        texts << model.index(r, c).data().toString();
    return texts;
}

} // namespace

// Cells written through the model follow the one-pending-row rule: writing another row first
// stores (or drops) the pending one, which may move it, and the written task is found by
// identity. The tester checks every signal on the way.
void TestTaskGridModel::editingThroughTheModel() {
    ScriptedPrompt prompt;
    DataTable table;
    TaskTable::CreateEmpty(table);
    table.setAfterInsert([&] { TaskTable::ApplyNewRowDefaults(table); });
    TaskGridModel model(&table);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (const char* name : {"b", "c", "d"}) {
        table.append();
        table.setString(Task, QString::fromLatin1(name));
        table.post();
    }
    table.setIndexName(TaskTable::IndexTaskName);
    const int task = model.columnOfField(Task);

    QVERIFY(model.setData(model.index(0, task), QStringLiteral("z")));
    QVERIFY(table.isEditing());
    QCOMPARE(column(model, task), (QStringList{"z", "c", "d"}));
    QVERIFY(model.setData(model.index(1, task), QStringLiteral("cc"))); // "c"
    QCOMPARE(table.asString(Task), QStringLiteral("cc"));
    QCOMPARE(table.asString(ID), QStringLiteral("2"));
    table.post();
    QCOMPARE(column(model, task), (QStringList{"cc", "d", "z"}));

    // A pending new row is a row of the model; written, it is stored when another row is.
    table.moveToPosition(1);
    table.insert();
    QCOMPARE(model.rowCount(), 4);
    QVERIFY(model.setData(model.index(1, task), QStringLiteral("a")));
    QVERIFY(model.setData(model.index(0, task), QStringLiteral("cc2")));
    QCOMPARE(column(model, task), (QStringList{"a", "cc2", "d", "z"}));
    QCOMPARE(model.index(0, model.columnOfField(ID)).data().toString(), QStringLiteral("4"));
    table.post();

    // A new row left without typing is stored with its defaults when another row is written.
    table.moveToPosition(0);
    table.insert();
    QCOMPARE(model.rowCount(), 5);
    QVERIFY(model.setData(model.index(4, task), QStringLiteral("y")));
    QCOMPARE(table.recordCount(), 5);
    QCOMPARE(table.asString(Task), QStringLiteral("y"));
    table.post();
    QCOMPARE(column(model, task), (QStringList{"", "a", "cc2", "d", "y"}));

    // A refused value is reported; the cell keeps its value.
    const int progress = model.columnOfField(Progress);
    QVERIFY(!model.setData(model.index(0, progress), QStringLiteral("lots")));
    QCOMPARE(prompt.errors,
             QStringList{"'lots' is not a valid integer value for field 'Progress'"});
    QCOMPARE(model.index(0, progress).data().toString(), QStringLiteral("0"));

    // The same text again is no edit at all.
    table.cancel();
    QVERIFY(model.setData(model.index(0, task), model.index(0, task).data()));
    QVERIFY(!table.isEditing());

    // A row leaving the filter when stored.
    table.setFilter(QStringLiteral("Task LIKE '%c%'"));
    table.setFiltered(true);
    QCOMPARE(model.rowCount(), 1);
    QVERIFY(model.setData(model.index(0, task), QStringLiteral("q")));
    table.post();
    QCOMPARE(model.rowCount(), 0);
}

void TestTaskGridModel::editableCells_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QString>("editText");
    QTest::newRow("ID") << ID << false << "1";
    QTest::newRow("Task") << Task << true << "t";
    QTest::newRow("Bookmarked") << Bookmarked << true << "True";
    QTest::newRow("CreatedDate") << CreatedDate << true << "3/12/2025";
    QTest::newRow("DueDate") << DueDate << true << "";
}

void TestTaskGridModel::editableCells() {
    QFETCH(QString, field);
    QFETCH(bool, editable);
    QFETCH(QString, editText);
    DataTable table;
    TaskTable::CreateEmpty(table);
    table.append();
    table.setString(Task, QStringLiteral("t"));
    table.setDate(CreatedDate, uGeneral::Today());
    table.setBoolean(Bookmarked, true);
    table.post();
    TaskGridModel model(&table);
    const QModelIndex cell = model.index(0, model.columnOfField(field));
    QCOMPARE(bool(model.flags(cell) & Qt::ItemIsEditable), editable);
    QCOMPARE(cell.data(Qt::EditRole).toString(), editText);
}

QTEST_MAIN(TestTaskGridModel)
#include "tst_taskgridmodel.moc"
