#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
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
    QCOMPARE(model.columnCount(), 22);
    QCOMPARE(model.columnOfField(GroupNo), -1);
    QCOMPARE(model.headerData(12, Qt::Horizontal).toString(), QStringLiteral("Time Taken"));
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("ID"));
}

QTEST_MAIN(TestTaskGridModel)
#include "tst_taskgridmodel.moc"
