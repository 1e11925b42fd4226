#include "dialogs/uFrmConflicts.h"
#include "document/ListMerge.h"
#include "document/TaskUndo.h"
#include "gui/DialogDriver.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QTest>
#include <QUndoStack>

using Side = MergeConflict::Side;

namespace {

std::vector<MergeConflict> SomeConflicts() {
    MergeConflict progress;
    progress.taskId = 7;
    progress.task = QStringLiteral("Pay the rent");
    progress.field = QStringLiteral("Progress");
    progress.base = QStringLiteral("0");
    progress.thisCopy = QStringLiteral("30");
    progress.otherCopy = QStringLiteral("60");
    MergeConflict comments = progress;
    comments.field = QStringLiteral("Comments");
    comments.base.clear();
    comments.thisCopy = QStringLiteral("mine");
    comments.otherCopy = QStringLiteral("theirs");
    MergeConflict deleted;
    deleted.kind = MergeConflict::Kind::DeletedVsEdited;
    deleted.deletedInThisCopy = true;
    deleted.taskId = 9;
    deleted.task = QStringLiteral("Call the bank");
    deleted.thisCopy = QStringLiteral("Deleted");
    deleted.otherCopy = QStringLiteral("Changed: Status");
    return {progress, comments, deleted};
}

QStringList Line(QTableWidget* grid, int line) {
    QStringList texts;
    for (int column = 0; column < grid->columnCount() - 1; ++column)
        texts << grid->item(line, column)->text();
    texts
        << qobject_cast<QComboBox*>(grid->cellWidget(line, grid->columnCount() - 1))->currentText();
    return texts;
}

// Every task's values but its ID (an undone delete adds the task again under a new one).
QStringList Tasks(const DataTable& table) {
    QStringList tasks;
    for (DataTable::RowId row : table.allRows()) {
        QStringList values;
        for (int f = 1; f < int(table.fields().size()); ++f)
            values << table.textOf(table.rowData(row), f);
        tasks << values.join(u'|');
    }
    return tasks;
}

void Edit(DataTable& table, int position, const QString& field, const QString& value) {
    table.moveToPosition(position);
    table.edit();
    table.setString(field, value);
    table.post();
}

} // namespace

class TestMerge : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void conflictsWindow_data();
    void conflictsWindow();
    void conflictsReadWhole();
    void mergeIsOneUndoStep();
};

void TestMerge::conflictsWindow_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("chosen"); // "-": cancelled
    QTest::newRow("OK at once") << "btnOK"
                                << "TTT";
    QTest::newRow("one line changed") << "line 1"
                                      << "TOT";
    QTest::newRow("all from the other copy") << "btnAllOther"
                                             << "OOO";
    QTest::newRow("all from the other, then all from this") << "btnAllThis"
                                                            << "TTT";
    QTest::newRow("Cancel") << "btnCancel"
                            << "-";
    QTest::newRow("Escape") << "escape"
                            << "-";
}

void TestMerge::conflictsWindow() {
    QFETCH(QString, how);
    QFETCH(QString, chosen);
    TfrmConflicts window;
    auto* grid = window.findChild<QTableWidget*>(QStringLiteral("grdConflicts"));
    std::optional<MergeChoices> result;
    WhenShown(&window, [&] {
        QCOMPARE(grid->rowCount(), 3);
        QCOMPARE(Line(grid, 1), QStringList({"7", "Pay the rent", "Comments", "(empty)", "mine",
                                             "theirs", "This copy"}));
        QCOMPARE(Line(grid, 2), QStringList({"9", "Call the bank", "(whole task)", "", "Deleted",
                                             "Changed: Status", "Delete the task"}));
        QVERIFY(grid->item(0, 4)->font().bold() && !grid->item(0, 5)->font().bold());
        if (how == u"line 1") {
            auto* keep = window.findChild<QComboBox*>(QStringLiteral("cbKeep1"));
            keep->setCurrentIndex(1);
            QVERIFY(grid->item(1, 5)->font().bold() && !grid->item(1, 4)->font().bold());
            how = QStringLiteral("btnOK");
        } else if (how == u"btnAllThis") {
            CloseBy(window, QStringLiteral("btnAllOther"));
        }
        if (how.startsWith(u"btnAll")) {
            CloseBy(window, how);
            how = QStringLiteral("btnOK");
        }
        CloseBy(window, how);
    });
    result = window.Execute(SomeConflicts(), QStringLiteral("Home (conflicted copy).cv1"));
    QString letters = QStringLiteral("-");
    if (result) {
        letters.clear();
        for (Side side : *result)
            letters += side == Side::OtherCopy ? u'O' : u'T';
    }
    QCOMPARE(letters, chosen);
}

// Every value compared is read whole, and a wider window gives the values the room.
void TestMerge::conflictsReadWhole() {
    std::vector<MergeConflict> conflicts = SomeConflicts();
    conflicts[0].task = QStringLiteral("Prepare slides for Thursday's meeting with the whole team");
    conflicts[1].thisCopy = QStringLiteral("Call Anna about the venue, then send the agenda to "
                                           "everyone who said they would come");
    conflicts[1].otherCopy = QStringLiteral("Ask the team which day suits them best");
    TfrmConflicts window;
    auto* grid = window.findChild<QTableWidget*>(QStringLiteral("grdConflicts"));
    window.Load(conflicts, QStringLiteral("Home (conflicted copy).cv1"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    int narrow = 0;
    for (const int width : {900, 1400}) {
        window.resize(width, 420);
        QTRY_COMPARE(grid->horizontalHeader()->length(), grid->viewport()->width());
        for (int line = 0; line < grid->rowCount(); ++line)
            for (int column = 1; column < grid->columnCount() - 1; ++column) {
                const QTableWidgetItem* item = grid->item(line, column);
                const QRect cell = grid->visualItemRect(item).adjusted(4, 0, -4, 0);
                const QFont font = item->data(Qt::FontRole).isValid() ? item->font() : grid->font();
                const QRect needed =
                    QFontMetrics(font).boundingRect(cell, Qt::TextWordWrap, item->text());
                QVERIFY2(needed.width() <= cell.width() && needed.height() <= cell.height(),
                         qPrintable(QStringLiteral("%1 wide: %2 (%3 by %4 in %5 by %6)")
                                        .arg(width)
                                        .arg(item->text())
                                        .arg(needed.width())
                                        .arg(needed.height())
                                        .arg(cell.width())
                                        .arg(cell.height())));
            }
        const int value = grid->columnWidth(4);
        QVERIFY2(value > narrow, qPrintable(QString::number(value)));
        narrow = value;
    }
}

// Undo takes the whole merge back in one step, whatever it added, edited or deleted.
void TestMerge::mergeIsOneUndoStep() {
    DataTable common;
    TaskTable::Configure(common);
    TaskTable::CreateEmpty(common);
    for (const char* task : {"alpha", "bravo", "charlie"}) {
        common.append();
        common.setString(TaskRecord::Task, QLatin1String(task));
        common.post();
    }
    const QByteArray bytes = DataPacket::Write(common);
    DataTable mine, theirs;
    for (DataTable* copy : {&mine, &theirs}) {
        TaskTable::Configure(*copy);
        DataPacket::Read(*copy, bytes);
        copy->setIndexName(TaskTable::IndexID);
    }
    Edit(mine, 0, TaskRecord::Progress, QStringLiteral("30"));
    Edit(theirs, 0, TaskRecord::Progress, QStringLiteral("60"));
    Edit(theirs, 1, TaskRecord::Comments, QStringLiteral("theirs"));
    theirs.moveToPosition(2);
    theirs.remove();
    theirs.append();
    theirs.setString(TaskRecord::Task, QStringLiteral("delta"));
    theirs.post();

    TaskUndo undo(&mine);
    const QStringList before = Tasks(mine);
    const ListMerge::Plan plan = ListMerge::Prepare(mine, theirs, QStringLiteral("theirs.cv1"));
    {
        TaskUndo::Step step(undo, QStringLiteral("Merge"));
        ListMerge::Apply(mine, plan, {Side::OtherCopy});
    }
    QCOMPARE(Tasks(mine).size(), 3);
    QCOMPARE(undo.count(), 1);
    undo.undo();
    QCOMPARE(Tasks(mine), before);
}

QTEST_MAIN(TestMerge)
#include "tst_merge.moc"
