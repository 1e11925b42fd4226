#include "document/TaskUndo.h"
#include "gui/ViewHost.h"
#include "model/OutlineCommands.h"
#include "report/uQRptTasks.h"
#include "view/TaskGridDelegate.h"
#include "view/TaskGridModel.h"
#include "widgets/ProgramColours.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>

using namespace TaskRecord;

namespace {

// The rows shown, indented by "-" per level of the Task cell.
QString Outline(const ViewHost& host) {
    QStringList rows;
    const QAbstractItemModel* model = host.grid()->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        const QModelIndex task = host.cell(r, QStringLiteral("Task"));
        rows << QString(task.data(TaskGridModel::OutlineDepthRole).toInt(), u'-') +
                    task.data().toString();
    }
    return rows.join(u',');
}

int RowOfTask(const ViewHost& host, const QString& task) {
    return host.shownTasks().indexOf(task);
}

void Key(ViewHost& host, const QString& task, int key, Qt::KeyboardModifiers modifiers) {
    host.focusCell(RowOfTask(host, task), QStringLiteral("Task"));
    QTest::keyClick(host.grid(), Qt::Key(key), modifiers);
}

} // namespace

class TestOutlineView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void byKeys();
    void expandersAndKeys();
    void dropOntoATask();
    void questionsAndLooks();
};

// A task broken into subtasks two levels deep by the keyboard alone: Shift+Enter in the Add
// Task box, New Subtask typed into its own cell, Indent and Outdent; each one undo step.
void TestOutlineView::byKeys() {
    ViewHost host;
    host.add({QStringLiteral("Trip"), QStringLiteral("Tickets")});
    auto* edit2 = host.child<QLineEdit>(QStringLiteral("Edit2"));
    host.table().goToRow(host.table().rowOfKey(1));
    edit2->setText(QStringLiteral("Pack"));
    QTest::keyClick(edit2, Qt::Key_Return, Qt::ShiftModifier);
    edit2->setText(QStringLiteral("Book hotel"));
    QTest::keyClick(edit2, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(Outline(host), QStringLiteral("Trip,-Pack,-Book hotel,Tickets"));
    QCOMPARE(host.currentTask(), QStringLiteral("Trip"));
    QCOMPARE(host.view->StatusPanelText(0), QStringLiteral("Items 4"));

    // New Subtask: a new row under Pack, its Task cell open for typing.
    Key(host, QStringLiteral("Pack"), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(host.grid()->cellEditor());
    QTest::keyClicks(host.grid()->cellEditor(), QStringLiteral("Socks"));
    QTest::keyClick(host.grid()->cellEditor(), Qt::Key_Return);
    QApplication::processEvents(); // the editor writes its text once Enter is through
    host.table().first();          // moving on stores it
    QCOMPARE(Outline(host), QStringLiteral("Trip,-Pack,--Socks,-Book hotel,Tickets"));
    // A second one, interrupted: Escape twice leaves nothing behind.
    Key(host, QStringLiteral("Pack"), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(host.grid()->cellEditor(), Qt::Key_Escape);
    QTest::keyClick(host.grid(), Qt::Key_Escape);
    QCOMPARE(Outline(host), QStringLiteral("Trip,-Pack,--Socks,-Book hotel,Tickets"));

    TaskUndo& undo = *host.view->UndoHistory();
    const int steps = undo.count();
    Key(host, QStringLiteral("Trip"), Qt::Key_Right, Qt::AltModifier | Qt::ShiftModifier);
    QCOMPARE(Outline(host), QStringLiteral("Trip,-Pack,--Socks,-Book hotel,Tickets"));
    QCOMPARE(undo.count(), steps); // nothing above it at its level: nothing done
    Key(host, QStringLiteral("Book hotel"), Qt::Key_Right, Qt::AltModifier | Qt::ShiftModifier);
    QCOMPARE(Outline(host), QStringLiteral("Trip,-Pack,--Book hotel,--Socks,Tickets"));
    QCOMPARE(host.currentTask(), QStringLiteral("Book hotel"));
    QTest::keyClick(host.grid(), Qt::Key_Left, Qt::AltModifier | Qt::ShiftModifier);
    QCOMPARE(Outline(host), QStringLiteral("Trip,-Pack,--Socks,-Book hotel,Tickets"));
    QCOMPARE(undo.count(), steps + 2);
    QCOMPARE(undo.undoText(), QStringLiteral("Outdent"));
    host.view->Undo1Click();
    QCOMPARE(Outline(host), QStringLiteral("Trip,-Pack,--Book hotel,--Socks,Tickets"));
    // The menu shows the keys it answers to.
    QCOMPARE(host.view->findChild<QAction*>(QStringLiteral("Indent1"))->shortcut(),
             QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Right));
}

void TestOutlineView::expandersAndKeys() {
    ViewHost host;
    host.add({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});
    DataTable& t = host.table();
    OutlineCommands::MakeSubtaskOf(t, t.rowOfKey(2), t.rowOfKey(1), {});
    OutlineCommands::MakeSubtaskOf(t, t.rowOfKey(3), t.rowOfKey(2), {});
    QCOMPARE(Outline(host), QStringLiteral("a,-b,--c,d"));
    const int steps = host.view->UndoHistory()->count();
    // A click on a's expander folds it; b and c go, d stays current where it was.
    host.focusCell(RowOfTask(host, QStringLiteral("d")), QStringLiteral("Task"));
    const QModelIndex a = host.cell(0, QStringLiteral("Task"));
    const QRect expander = TaskGridDelegate::expanderRect(a, host.grid()->visualRect(a));
    QVERIFY(!expander.isEmpty());
    QTest::mouseClick(host.grid()->viewport(), Qt::LeftButton, {}, expander.center());
    QCOMPARE(Outline(host), QStringLiteral("a,d"));
    QCOMPARE(host.currentTask(), QStringLiteral("d"));
    QCOMPARE(host.view->StatusPanelText(0), QStringLiteral("Items 2"));
    QCOMPARE(a.data(TaskGridModel::OutlineExpanderRole).toInt(), int(TaskGridModel::Collapsed));
    // Ctrl+Right opens it again, Collapse on a subtask folds its parent.
    Key(host, QStringLiteral("a"), Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(Outline(host), QStringLiteral("a,-b,--c,d"));
    Key(host, QStringLiteral("c"), Qt::Key_Left, Qt::ControlModifier);
    QCOMPARE(Outline(host), QStringLiteral("a,-b,d"));
    QCOMPARE(host.currentTask(), QStringLiteral("b"));
    host.view->CollapseAll1Click();
    QCOMPARE(Outline(host), QStringLiteral("a,d"));
    host.view->ExpandAll1Click();
    QCOMPARE(Outline(host), QStringLiteral("a,-b,--c,d"));
    // Folding is no change of the list.
    QCOMPARE(host.view->UndoHistory()->count(), steps);
}

// A row dropped onto a task becomes its subtask (one undo step); a drop onto a task under it,
// or onto itself, is refused; a drop below the rows goes to the top level.
void TestOutlineView::dropOntoATask() {
    ViewHost host;
    host.add({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    QAbstractItemModel* model = host.grid()->model();
    auto drop = [&](const QString& task, const QString& onto) {
        std::unique_ptr<QMimeData> data(
            model->mimeData({host.cell(RowOfTask(host, task), QStringLiteral("Task"))}));
        const QModelIndex target =
            onto.isEmpty() ? QModelIndex() : host.cell(RowOfTask(host, onto), QStringLiteral("ID"));
        if (!model->canDropMimeData(data.get(), Qt::MoveAction, -1, -1, target))
            return false;
        return model->dropMimeData(data.get(), Qt::MoveAction, -1, -1, target);
    };
    QVERIFY(drop(QStringLiteral("c"), QStringLiteral("b")));
    QVERIFY(drop(QStringLiteral("b"), QStringLiteral("a")));
    QCOMPARE(Outline(host), QStringLiteral("a,-b,--c"));
    QVERIFY(!drop(QStringLiteral("a"), QStringLiteral("c")));
    QVERIFY(!drop(QStringLiteral("b"), QStringLiteral("b")));
    QVERIFY(drop(QStringLiteral("c"), QString()));
    QCOMPARE(Outline(host), QStringLiteral("a,-b,c"));
    QCOMPARE(host.view->UndoHistory()->undoText(), QStringLiteral("Move to Top Level"));
    host.view->Undo1Click();
    QCOMPARE(Outline(host), QStringLiteral("a,-b,--c"));
    // Another list's drag is not taken.
    ViewHost other;
    other.add({QStringLiteral("z")});
    std::unique_ptr<QMimeData> foreign(
        other.grid()->model()->mimeData({other.cell(0, QStringLiteral("Task"))}));
    QVERIFY(!model->canDropMimeData(foreign.get(), Qt::MoveAction, -1, -1,
                                    host.cell(0, QStringLiteral("Task"))));
}

// Complete and Delete ask about subtasks; a filter shows its matches' parents in grey; the
// Subtasks column counts.
void TestOutlineView::questionsAndLooks() {
    ViewHost host;
    host.add({QStringLiteral("Move"), QStringLiteral("Boxes"), QStringLiteral("Van")});
    DataTable& t = host.table();
    OutlineCommands::MakeSubtaskOf(t, t.rowOfKey(2), t.rowOfKey(1), {});
    OutlineCommands::MakeSubtaskOf(t, t.rowOfKey(3), t.rowOfKey(1), {});
    QCOMPARE(host.cell(0, SubtasksColumn).data().toString(), QStringLiteral("0/2"));
    QCOMPARE(host.cell(1, SubtasksColumn).data().toString(), QString());

    const int steps = host.view->UndoHistory()->count();
    host.prompt.choices.enqueue(2); // Cancel
    host.focusCell(0, QStringLiteral("Task"));
    host.view->actCompleteExecute();
    QCOMPARE(host.prompt.questions.last(), QStringLiteral("Complete its 2 open subtasks too?"));
    QCOMPARE(host.cell(0, SubtasksColumn).data().toString(), QStringLiteral("0/2"));
    QCOMPARE(host.view->UndoHistory()->count(), steps);
    host.prompt.choices.enqueue(0); // Yes
    host.view->actCompleteExecute();
    QCOMPARE(host.cell(0, SubtasksColumn).data().toString(), QStringLiteral("2/2"));

    host.child<QLineEdit>(QStringLiteral("edSearch"))->setText(QStringLiteral("Van"));
    host.view->bnSearchClick();
    QCOMPARE(Outline(host), QStringLiteral("Move,-Van"));
    const QColor parentText =
        host.cell(0, QStringLiteral("Status")).data(Qt::ForegroundRole).value<QBrush>().color();
    const QColor matchText =
        host.cell(1, QStringLiteral("Status")).data(Qt::ForegroundRole).value<QBrush>().color();
    QCOMPARE(parentText, ProgramColours::ContextText);
    QCOMPARE(matchText, QColor(Qt::black));
    host.view->bnCancelFilterClick();

    host.prompt.choices.enqueue(1); // keep the subtasks
    host.focusCell(0, QStringLiteral("Task"));
    host.view->actDeleteExecute();
    QCOMPARE(Outline(host), QStringLiteral("Boxes,Van"));
    host.view->Undo1Click();
    QCOMPARE(Outline(host), QStringLiteral("Move,-Boxes,-Van"));
    for (int id = 1; id <= 3; ++id)
        QVERIFY(t.rowOfKey(id) >= 0); // back under their own IDs

    // Print indents the subtasks' Task column by their level.
    TQRptTasks report;
    report.fill(t);
    QStringList tasks;
    for (const TQRptTasks::TextElement& text : report.layoutPage(0).texts)
        if (text.text == u"Move" || text.text == u"Van")
            tasks << QStringLiteral("%1 %2").arg(text.text).arg(text.left - TQRptTasks::MarginMm);
    QCOMPARE(tasks, QStringList({QStringLiteral("Move 8.5"), QStringLiteral("Van 11.5")}));
}

QTEST_MAIN(TestOutlineView)
#include "tst_outlineview.moc"
