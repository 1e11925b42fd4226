#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "base/LoginName.h"
#include "core/TaskListFixture.h"
#include "gui/ViewHost.h"
#include "model/ListViews.h"
#include "model/TaskTable.h"
#include "storage/Import.h"
#include "view/TaskGrid.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

using namespace TaskRecord;

// Drives a task-list view offscreen the way a user does: by keys, clicks and wheel turns on
// the widgets named in the design.
class TestTaskView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void cleanup() { QApplication::clipboard()->clear(); }
    void startState();
    void toolbarAndMenu();
    void quickAddByEnter();
    void longListShowsItsTasks();
    void editorOpenWhileItsTaskIsDeleted();
    void stateCommandFromContextMenu();
    void presetsAndSearch();
    void titleClick_data();
    void titleClick();
    void datePicker();
    void keys();
    void editingInPlace();
    void editorsHoldTheFieldsWidth_data();
    void editorsHoldTheFieldsWidth();
    void pickLists();
    void bookmarkedTyped_data();
    void bookmarkedTyped();
    void movingOffStoresByIdentity();
    void wheelMovesOneTask();
    void shortcutsWhileEditing();
    void paintsByTheRules();
    void currentCellShows_data();
    void currentCellShows();
    void barsHavePictures_data();
    void barsHavePictures();
    void bulkAdd_data();
    void bulkAdd();
    void itemCountIsTheTasksShown_data();
    void itemCountIsTheTasksShown();
};

namespace {

void choose(QComboBox* box, const QString& text) {
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// Clicks the picker's drop-down button.
void openCalendar(QDateEdit* picker) {
    QTest::mouseClick(picker, Qt::LeftButton, {},
                      QPoint(picker->width() - 6, picker->height() / 2));
}

void wheel(QWidget* target, int delta) {
    const QPointF at(5, 5);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

} // namespace

void TestTaskView::startState() {
    ViewHost host;
    auto shown = [&](const char* box) {
        return host.child<QComboBox>(QLatin1String(box))->currentText();
    };
    QCOMPARE(QStringList({shown("cbOrder"), shown("cbShow"), shown("cbDifficulty"),
                          shown("cbPriority"), shown("cbCat")})
                 .join(u'|'),
             QStringLiteral("ID|All|Moderate|Normal|"));
    QCOMPARE(host.table().indexName(), TaskTable::IndexID);
    QCOMPARE(QApplication::focusWidget(), host.child<QLineEdit>(QStringLiteral("Edit2")));
    QVERIFY(host.child<QToolButton>(QStringLiteral("bnCancelFilter"))->isChecked());
    QVERIFY(!host.child<QToolButton>(QStringLiteral("bnSearch"))->isChecked());
    QCOMPARE(host.view->StatusPanelText(0) + u'|' + host.view->StatusPanelText(1),
             QStringLiteral("Items 0|Unsaved"));
    QVERIFY(host.child<QDateEdit>(QStringLiteral("DateTimePicker1"))->isHidden());

    TaskGrid* grid = host.grid();
    QCOMPARE(grid->model()->columnCount(), 25); // the fields' 23, Repeat and Subtasks
    QVERIFY(grid->isColumnHidden(host.column(QStringLiteral("Details"))));
    // Listed widths are the cells' own; the grid line comes on top.
    QCOMPARE(grid->columnWidth(host.column(QStringLiteral("Progress"))), 121);
    QCOMPARE(grid->columnWidth(host.column(QStringLiteral("ID"))), 24);

    const struct {
        const char* name;
        int x, width;
        const char* hint;
    } placed[] = {
        {"edSearch", 64, 337, ""},
        {"bnSearch", 407, 23, "Filter"},
        {"bnCancelFilter", 432, 23, "Undoc Filter (Show All)"},
        {"cbShow", 528, 161, ""},
        {"cbOrder", 744, 97, ""},
        {"Edit2", 72, 465, ""},
        {"cbDifficulty", 544, 89, "Difficulty"},
        {"cbPriority", 640, 89, "Priority"},
        {"cbCat", 736, 145, "Category"},
        {"btnQuickAdd", 889, 58, "Add Task (ENTER key)"},
        {"StatusPanel1", 0, 150, ""},
        {"StatusPanel2", 152, 50, ""},
    };
    for (const auto& place : placed) {
        const QWidget* widget = host.child<QWidget>(QLatin1String(place.name));
        QCOMPARE(QStringList({place.name, QString::number(widget->x()),
                              QString::number(widget->width()), widget->toolTip()}),
                 QStringList({place.name, QString::number(place.x), QString::number(place.width),
                              QString::fromUtf8(place.hint)}));
    }
    QCOMPARE(QList<int>({host.child<QWidget>(QStringLiteral("pnlFilter"))->height(),
                         host.child<QWidget>(QStringLiteral("pnlToolBar"))->height(),
                         host.child<QWidget>(QStringLiteral("pnlQuickAdd"))->height(),
                         host.child<QWidget>(QStringLiteral("StatusBar1"))->height()}),
             QList<int>({33, 29, 42, 19}));
}

void TestTaskView::toolbarAndMenu() {
    ViewHost host;
    auto* toolBar = host.child<QToolBar>(QStringLiteral("ToolBar1"));
    QStringList hints;
    for (QAction* item : toolBar->actions()) {
        const QWidget* button = toolBar->widgetForAction(item);
        hints << (item->isSeparator() ? QStringLiteral("-") : button->toolTip());
        QVERIFY(item->isSeparator() || button->size() == QSize(25, 24));
    }
    QCOMPARE(hints.join(u'/'),
             QStringLiteral("Add Task/-/Set Cancelled /Set Paused/Set to Started/"
                            "Set to Complete /-/Delete Task/Set Task Progress/Bookmark Task/"
                            "Date /-/Link Task List/Link to Related File/Link to URL/-/"
                            "Open linked List/Open Linked File/Open URL/-"));
    QStringList entries;
    for (QAction* action : host.child<QMenu>(QStringLiteral("PopupMenu1"))->actions())
        entries << (action->isSeparator() ? QStringLiteral("-")
                                          : action->text() + u' ' + action->shortcut().toString());
    QCOMPARE(entries.join(u'/'),
             QStringLiteral("Cancel Task /Pause Task /Start Task /Complete Task /Skip Occurrence /"
                            "Delete Task Del/"
                            "-/New Subtask Ctrl+Shift+N/Make Subtask Of... /Indent Alt+Shift+Right/"
                            "Outdent Alt+Shift+Left/Expand Ctrl+Right/Collapse Ctrl+Left/"
                            "Expand All /Collapse All /"
                            "-/Progress /Set Date /Repeat... /Bookmark Task /Last Actioned Now /-/"
                            "Link to Task List /Link to Related File Ctrl+F/Link to URL Ctrl+U/"
                            "Open Linked Task List /Open Related File /Open URL /-/Copy Ctrl+C/"
                            "-/Comments /Details F12/History... Ctrl+H"));
}

void TestTaskView::quickAddByEnter() {
    ViewHost host;
    auto* edit = host.child<QLineEdit>(QStringLiteral("Edit2"));
    auto* difficulty = host.child<QComboBox>(QStringLiteral("cbDifficulty"));
    auto* priority = host.child<QComboBox>(QStringLiteral("cbPriority"));
    auto* category = host.child<QComboBox>(QStringLiteral("cbCat"));
    host.view->MarkSaved();

    // Enter in an empty box is swallowed and adds nothing.
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(host.table().recordCount(), 0);
    QCOMPARE(host.view->StatusPanelText(1), QStringLiteral("Saved"));

    choose(priority, QStringLiteral("High"));
    category->setCurrentText(QStringLiteral("Not listed"));
    QTest::keyClicks(edit, QStringLiteral("  Buy milk  "));
    QTest::keyClick(edit, Qt::Key_Enter);
    QCOMPARE(host.shownTasks(), QStringList{"Buy milk"});
    QCOMPARE(host.table().asString(Priority) + u'|' + host.table().asString(Category),
             QStringLiteral("High|Not listed"));
    QCOMPARE(QStringList({edit->text(), priority->currentText(), difficulty->currentText(),
                          category->currentText()}),
             QStringList({"", "Normal", "Easy", "Not listed"}));
    QCOMPARE(host.tabs.tabText(0), QStringLiteral("New *"));

    // The Add button and the toolbar's Add Task do the same.
    edit->setText(QStringLiteral("second"));
    QTest::mouseClick(host.child<QPushButton>(QStringLiteral("btnQuickAdd")), Qt::LeftButton);
    edit->setText(QStringLiteral("third"));
    QTest::mouseClick(host.child<QToolButton>(QStringLiteral("tbAddTask")), Qt::LeftButton);
    QCOMPARE(host.shownTasks(), (QStringList{"Buy milk", "second", "third"}));

    // A failing quick add leaves the bar as it was.
    uGeneral::SetCurrentUserNameForTesting(
        []() -> QString { throw CorvantisError(QStringLiteral("System Error.  Code: 5.")); });
    choose(priority, QStringLiteral("Low"));
    edit->setText(QStringLiteral("fails"));
    QTest::keyClick(edit, Qt::Key_Return);
    uGeneral::SetCurrentUserNameForTesting({});
    QCOMPARE(host.prompt.errors, QStringList{"System Error.  Code: 5."});
    QCOMPARE(edit->text() + u'|' + priority->currentText(), QStringLiteral("fails|Low"));

    // The text box's own context menu pastes at the caret.
    QApplication::clipboard()->setText(QStringLiteral(" pasted"));
    edit->setText(QStringLiteral("ab"));
    edit->setCursorPosition(1);
    QCOMPARE(edit->actions().size(), 1);
    QCOMPARE(edit->actions().constFirst()->text(), QStringLiteral("Paste"));
    edit->actions().constFirst()->trigger();
    QCOMPARE(edit->text(), QStringLiteral("a pastedb"));
}

// A task added at the end of a long sorted list takes its place near the top: the grid follows.
// IDs are right-aligned and clipped on the left: the column grows so none is cut.
void TestTaskView::longListShowsItsTasks() {
    ViewHost host;
    host.tester.reset(); // its checks on every row would take most of the time
    QStringList tasks;
    for (int i = 0; i < 300; ++i)
        tasks << QStringLiteral("task %1").arg(i, 3, 10, QLatin1Char('0'));
    host.add(tasks);
    host.table().setIndexName(TaskTable::IndexTaskName);
    auto* edit = host.child<QLineEdit>(QStringLiteral("Edit2"));
    QTest::keyClicks(edit, QStringLiteral("a first task"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(host.grid()->currentIndex().row(), 0);
    QVERIFY(host.grid()->viewport()->rect().contains(
        host.grid()->visualRect(host.grid()->currentIndex())));

    // The thousandth task's ID is wider than the column's own width.
    host.add(QStringList(700, QStringLiteral("more")));
    QFont bold = host.grid()->font();
    bold.setBold(true);
    QVERIFY(host.grid()->columnWidth(0) >
            QFontMetrics(bold).horizontalAdvance(host.table().asString(ID)) + 5);
}

// An editor can open while a question of Ctrl+Del is shown (the grid's delayed edit on a second
// click): deleting the task then must neither write the editor's text anywhere nor leave an edit
// of the deleted task pending.
void TestTaskView::editorOpenWhileItsTaskIsDeleted() {
    ViewHost host;
    host.add({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    host.grid()->setCurrentIndex(host.cell(1, QStringLiteral("Task")));
    QVERIFY(host.grid()->editCurrentCell());
    auto* editor = qobject_cast<QLineEdit*>(host.grid()->cellEditor());
    QVERIFY(editor);
    editor->setText(QStringLiteral("typed"));
    host.table().remove();
    host.table().settle();
    QCOMPARE(host.shownTasks(), (QStringList{"a", "c"}));
}

void TestTaskView::stateCommandFromContextMenu() {
    ViewHost host;
    host.add({"first", "second", "third"});
    host.view->MarkSaved();
    const QModelIndex target = host.cell(1, QStringLiteral("Task"));
    QWidget* viewport = host.grid()->viewport();
    QTest::mouseClick(viewport, Qt::RightButton, {}, host.centre(target));
    QContextMenuEvent request(QContextMenuEvent::Mouse, host.centre(target),
                              viewport->mapToGlobal(host.centre(target)));
    QApplication::sendEvent(viewport, &request);
    auto* menu = host.child<QMenu>(QStringLiteral("PopupMenu1"));
    // The right click chose the task; the menu stands ready.
    QCOMPARE(host.currentTask(), QStringLiteral("second"));
    QTRY_VERIFY(menu->isVisible());
    QAction* complete = host.view->findChild<QAction*>(QStringLiteral("actComplete"));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(complete).center());
    QTRY_VERIFY(!menu->isVisible());
    QCOMPARE(host.table().asString(Status), QStringLiteral("Complete"));
    QCOMPARE(host.view->StatusPanelText(1), QStringLiteral("Unsaved"));

    // The toolbar gives the same commands.
    QTest::mouseClick(host.child<QToolButton>(QStringLiteral("tbPauseTask")), Qt::LeftButton);
    QCOMPARE(host.table().asString(Status), QStringLiteral("Paused"));
    QCOMPARE(host.currentTask(), QStringLiteral("second"));

    // Delete asks first.
    host.prompt.answers << false << true;
    host.view->findChild<QAction*>(QStringLiteral("actDelete"))->trigger();
    QCOMPARE(host.table().recordCount(), 3);
    QTest::mouseClick(host.child<QToolButton>(QStringLiteral("tbDeleteTask")), Qt::LeftButton);
    QCOMPARE(host.prompt.questions,
             (QStringList{"Delete current task ?", "Delete current task ?"}));
    QCOMPARE(host.shownTasks(), (QStringList{"first", "third"}));
}

void TestTaskView::presetsAndSearch() {
    ViewHost host;
    host.add({"Write report", "write letter", "Call"});
    auto* show = host.child<QComboBox>(QStringLiteral("cbShow"));
    auto* search = host.child<QLineEdit>(QStringLiteral("edSearch"));
    auto* searchButton = host.child<QToolButton>(QStringLiteral("bnSearch"));
    auto* cancelButton = host.child<QToolButton>(QStringLiteral("bnCancelFilter"));

    const int taskColumn = host.column(QStringLiteral("Task"));
    host.grid()->setColumnWidth(taskColumn, 200); // as if dragged

    // Enter searches, inserts nothing and leaves the pressed button alone.
    QTest::keyClicks(search, QStringLiteral("rit"));
    QTest::keyClick(search, Qt::Key_Return);
    QCOMPARE(search->text(), QStringLiteral("rit"));
    QCOMPARE(host.shownTasks(), (QStringList{"Write report", "write letter"}));
    QCOMPARE(host.view->StatusPanelText(0), QStringLiteral("Items 2"));
    QVERIFY(cancelButton->isChecked());

    // A preset replaces the search; the search box keeps its text.
    choose(show, QStringLiteral("In progress"));
    QCOMPARE(host.shownTasks(), QStringList());
    QCOMPARE(search->text(), QStringLiteral("rit"));
    choose(show, QStringLiteral("All"));
    QVERIFY(!host.table().filtered());

    // A click presses its button and releases the other; a pressed one stays pressed.
    search->setText(QStringLiteral("it's"));
    QTest::mouseClick(searchButton, Qt::LeftButton);
    QVERIFY(host.prompt.errors.isEmpty()); // the quote is a character of the text
    QTest::mouseClick(searchButton, Qt::LeftButton);
    QVERIFY(searchButton->isChecked() && !cancelButton->isChecked());
    QCOMPARE(host.shownTasks(), QStringList());
    QTest::mouseClick(cancelButton, Qt::LeftButton);
    QVERIFY(!searchButton->isChecked() && cancelButton->isChecked());
    QCOMPARE(search->text(), QString());
    QCOMPARE(host.shownTasks().size(), 3);
    QCOMPARE(show->currentText(), QStringLiteral("All"));

    choose(host.child<QComboBox>(QStringLiteral("cbOrder")), QStringLiteral("Task"));
    QCOMPARE(host.shownTasks(), (QStringList{"Call", "write letter", "Write report"}));
    QCOMPARE(host.grid()->columnWidth(taskColumn), 200); // kept through filters and orders
}

void TestTaskView::titleClick_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("first");
    AddTextRows({
        {"Last Actioned", "Last Actioned", "cdsTasksIndexLastActioned", "Last Actioned", "c"},
        {"Group No", "Group No", "cdsTasksGroupNo", "Group No", "b"},
        {"Task", "Task", "cdsTasksIndexTaskName", "Task", "a"},
        {"Created Date", "Created Date", "cdsTasksIndexID", "", "b"},
    });
}

void TestTaskView::titleClick() {
    QFETCH(QString, title);
    QFETCH(QString, index);
    QFETCH(QString, shown);
    QFETCH(QString, first);
    ViewHost host;
    host.add({"b", "c", "a"});
    host.table().moveToPosition(1);
    host.table().edit();
    host.table().setDate(LastActioned, uGeneral::Today());
    host.table().post();
    auto* order = host.child<QComboBox>(QStringLiteral("cbOrder"));
    QHeaderView* header = host.grid()->horizontalHeader();
    const int section = host.column(title);
    host.grid()->scrollTo(host.cell(0, title));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
    QCOMPARE(host.table().indexName(), index);
    QCOMPARE(order->currentText(), shown);
    QCOMPARE(order->currentIndex() < 0, shown.isEmpty());
    QCOMPARE(host.shownTasks().constFirst(), first);
    // The selection stays one cell.
    QCOMPARE(host.grid()->selectionModel()->selectedIndexes().size(), 1);
}

void TestTaskView::datePicker() {
    ViewHost host;
    host.add({"one", "two"});
    auto* picker = host.child<QDateEdit>(QStringLiteral("DateTimePicker1"));
    TaskGrid* grid = host.grid();

    // Not over a Task cell.
    const QModelIndex task = host.cell(0, QStringLiteral("Task"));
    host.click(task);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, host.centre(task));
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QVERIFY(picker->isHidden());
    QVERIFY(!grid->isEditingCell());

    // Over an empty Due Date cell, with today's date.
    const QModelIndex due = host.cell(1, QStringLiteral("Due Date"));
    host.click(due);
    host.view->MarkSaved();
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, host.centre(due));
    QTRY_VERIFY(picker->isVisible());
    const QRect cell = grid->visualRect(due);
    QCOMPARE(picker->pos(), grid->viewport()->mapTo(host.view, cell.topLeft()));
    QCOMPARE(picker->width(), cell.width());
    QCOMPARE(picker->height(), 21);
    QCOMPARE(picker->date(), uGeneral::Today());
    QVERIFY(picker->hasFocus());
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QVERIFY(!grid->isEditingCell()); // the double click opened no cell editor under it
    QCOMPARE(host.currentTask(), QStringLiteral("two"));

    // Dismissing the calendar writes nothing and hides the picker.
    openCalendar(picker);
    QCalendarWidget* calendar = picker->calendarWidget();
    QTRY_VERIFY(calendar->isVisible());
    QTest::keyClick(calendar->window(), Qt::Key_Escape);
    QTRY_VERIFY(picker->isHidden());
    QVERIFY(host.table().isNull(DueDate));
    QCOMPARE(host.view->StatusPanelText(1), QStringLiteral("Saved"));

    // Choosing a day writes it.
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, host.centre(due));
    QTRY_VERIFY(picker->isVisible());
    openCalendar(picker);
    QTRY_VERIFY(calendar->isVisible());
    const QDate chosen = uGeneral::Today().addDays(3);
    calendar->setSelectedDate(chosen);
    emit calendar->clicked(chosen);
    QTRY_VERIFY(picker->isHidden());
    QCOMPARE(host.table().asDate(DueDate), chosen);
    QVERIFY(!host.table().isEditing());
    QVERIFY(host.view->Unsaved());
    QCOMPARE(host.currentTask(), QStringLiteral("two"));

    // A set date is where the picker starts; entering a non-date column hides it.
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, host.centre(due));
    QTRY_VERIFY(picker->isVisible());
    QCOMPARE(picker->date(), chosen);
    grid->setCurrentIndex(host.cell(1, QStringLiteral("Task")));
    QVERIFY(picker->isHidden());
}

void TestTaskView::keys() {
    ViewHost host;
    host.add({"one", "two"});
    TaskGrid* grid = host.focusCell(1, QStringLiteral("Task"));

    // Down on the last task adds nothing.
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(grid->model()->rowCount(), 2);
    QCOMPARE(host.currentTask(), QStringLiteral("two"));
    QTest::keyClick(grid, Qt::Key_Up);
    QCOMPARE(host.currentTask(), QStringLiteral("one"));

    // Insert adds a task before the current one with the new-row defaults; Escape drops it.
    host.view->MarkSaved();
    QTest::keyClick(grid, Qt::Key_Insert);
    QCOMPARE(grid->model()->rowCount(), 3);
    QCOMPARE(grid->currentIndex().row(), 0);
    QCOMPARE(host.table().asString(Status), QStringLiteral("Not Started"));
    QVERIFY(host.view->Unsaved());
    QTest::keyClick(grid, Qt::Key_Escape);
    QCOMPARE(grid->model()->rowCount(), 2);
    QCOMPARE(host.currentTask(), QStringLiteral("one"));

    // Insert, then moving off stores the untouched task with its defaults.
    QTest::keyClick(grid, Qt::Key_Insert);
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(host.table().recordCount(), 3);
    QCOMPARE(host.table().asString(Task), QStringLiteral("one"));

    // Typing into the Status column changes nothing.
    grid->setCurrentIndex(host.cell(grid->currentIndex().row(), QStringLiteral("Status")));
    QTest::keyClicks(grid, QStringLiteral("xy"));
    QTest::keyClick(grid, Qt::Key_Return);
    QVERIFY(!grid->isEditingCell());
    QVERIFY(!host.table().isEditing());

    // Ctrl+Del asks its own question and deletes.
    host.view->MarkSaved();
    host.prompt.answers << false << true;
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(host.table().recordCount(), 3);
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(host.prompt.confirmations, (QStringList{"Delete record?", "Delete record?"}));
    QVERIFY(host.prompt.questions.isEmpty());
    QCOMPARE(host.table().recordCount(), 2);
    QVERIFY(host.view->Unsaved());

    // Del is the context menu's Delete Task.
    host.prompt.answers << false;
    QTest::keyClick(grid, Qt::Key_Delete);
    QCOMPARE(host.prompt.questions.constLast(), QStringLiteral("Delete current task ?"));

    // Ctrl+C copies the cell's value as text; F12 runs Details.
    int details = 0;
    TaskViewServices services;
    services.showDetails = [&](DataTable&) { return ++details > 0; };
    host.view->SetServices(services);
    grid->setCurrentIndex(host.cell(grid->currentIndex().row(), QStringLiteral("Progress")));
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("0"));
    QTest::keyClick(grid, Qt::Key_F12);
    QCOMPARE(details, 1);
}

// A text typed into a cell is never longer than its field holds, so nothing is cut off unseen.
void TestTaskView::editorsHoldTheFieldsWidth_data() {
    QTest::addColumn<QString>("column");
    QTest::addColumn<int>("width");
    QTest::newRow("Task") << "Task" << 255;
    QTest::newRow("Category, typed into its pick list") << "Category" << 30;
    QTest::newRow("Assigned To") << "Assigned To" << 30;
}

void TestTaskView::editorsHoldTheFieldsWidth() {
    QFETCH(QString, column);
    QFETCH(int, width);
    ViewHost host;
    host.add({"one"});
    TaskGrid* grid = host.focusCell(0, column);
    QTest::keyClick(grid, Qt::Key_F2);
    QVERIFY(grid->isEditingCell());
    QWidget* typedInto = QApplication::focusWidget();
    auto* pickList = qobject_cast<QComboBox*>(typedInto);
    auto* editor = pickList ? pickList->lineEdit() : qobject_cast<QLineEdit*>(typedInto);
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(typedInto, QString(width + 10, u'x'));
    QCOMPARE(editor->text().size(), width);
}

void TestTaskView::editingInPlace() {
    ViewHost host;
    host.add({"one", "two"});
    TaskGrid* grid = host.focusCell(0, QStringLiteral("Task"));
    host.view->MarkSaved();

    // Enter opens the editor, Enter closes it: the row is pending until the row changes.
    QTest::keyClick(grid, Qt::Key_Return);
    QVERIFY(grid->isEditingCell());
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(editor && editor != grid);
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, QStringLiteral("uno"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(!grid->isEditingCell());
    QVERIFY(host.table().isEditing());
    QVERIFY(host.view->Unsaved());
    QCOMPARE(host.cell(0, QStringLiteral("Task")).data().toString(), QStringLiteral("uno"));
    QTest::keyClick(grid, Qt::Key_Down);
    QVERIFY(!host.table().isEditing());
    QCOMPARE(host.shownTasks(), (QStringList{"uno", "two"}));

    // Typing starts the editor with the typed text; Escape drops the text, a second Escape
    // the row's changes.
    QTest::keyClicks(grid, QStringLiteral("z"));
    QVERIFY(grid->isEditingCell());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("z"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_VERIFY(!grid->isEditingCell());
    QCOMPARE(host.cell(1, QStringLiteral("Task")).data().toString(), QStringLiteral("zz"));
    QTest::keyClick(grid, Qt::Key_F2);
    QVERIFY(grid->isEditingCell());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("yy"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!grid->isEditingCell());
    QCOMPARE(host.cell(1, QStringLiteral("Task")).data().toString(), QStringLiteral("zz"));
    QTest::keyClick(grid, Qt::Key_Escape);
    QVERIFY(!host.table().isEditing());
    QCOMPARE(host.cell(1, QStringLiteral("Task")).data().toString(), QStringLiteral("two"));

    // F2 closes an open editor and keeps its text.
    QTest::keyClick(grid, Qt::Key_F2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("!"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
    QVERIFY(!grid->isEditingCell());
    QCOMPARE(host.cell(1, QStringLiteral("Task")).data().toString(), QStringLiteral("two!"));

    // A refused value is reported and the field keeps its value.
    host.table().post();
    grid->setCurrentIndex(host.cell(1, QStringLiteral("Progress")));
    QTest::keyClicks(grid, QStringLiteral("x"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("5"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_VERIFY(!grid->isEditingCell());
    QCOMPARE(host.prompt.errors,
             QStringList{"'x5' is not a valid integer value for field 'Progress'"});
    QCOMPARE(host.cell(1, QStringLiteral("Progress")).data().toString(), QStringLiteral("0"));

    // The ID takes no typing, and typing there moves nowhere.
    grid->setCurrentIndex(host.cell(1, QStringLiteral("ID")));
    QTest::keyClicks(grid, QStringLiteral("1"));
    QVERIFY(!grid->isEditingCell());
    QCOMPARE(grid->currentIndex().row(), 1);
}

void TestTaskView::pickLists() {
    ViewHost host;
    host.add({"one"});
    QStringList categories{"Home", "Work"};
    TaskViewServices services;
    services.categoryLines = [&] { return categories; };
    host.view->SetServices(services);
    TaskGrid* grid = host.grid();
    grid->setFocus();

    grid->setCurrentIndex(host.cell(0, QStringLiteral("Status")));
    QTest::keyClick(grid, Qt::Key_F2);
    auto* pick = qobject_cast<QComboBox*>(grid->indexWidget(grid->currentIndex()));
    QVERIFY(pick);
    QCOMPARE(pick->objectName(), QStringLiteral("PickList"));
    QVERIFY(!pick->isEditable());
    QCOMPARE(pick->count(), 5);
    QCOMPARE(pick->itemText(2), QStringLiteral("In progress"));
    QCOMPARE(pick->currentText(), QStringLiteral("Not Started"));
    QTest::keyClicks(pick, QStringLiteral("Ca")); // typed characters are discarded
    QCOMPARE(pick->currentText(), QStringLiteral("Not Started"));
    QTest::keyClick(pick, Qt::Key_Return);
    QVERIFY(grid->isEditingCell());
    pick->setCurrentIndex(3);
    emit pick->activated(3); // chosen from the drop-down
    QTRY_VERIFY(!grid->isEditingCell());
    QCOMPARE(host.table().asString(Status), QStringLiteral("Complete"));
    QVERIFY(host.table().isEditing());

    grid->setCurrentIndex(host.cell(0, QStringLiteral("Priority")));
    QTest::keyClick(grid, Qt::Key_F2);
    QVERIFY((pick = qobject_cast<QComboBox*>(grid->indexWidget(grid->currentIndex()))));
    QCOMPARE(pick->itemText(1), QStringLiteral("Urgent"));
    QTest::keyClick(pick, Qt::Key_Escape);
    QVERIFY(!grid->isEditingCell());

    // The Category list is read again each time its column is entered; any text goes.
    grid->setCurrentIndex(host.cell(0, QStringLiteral("Category")));
    categories << QStringLiteral("Garden");
    grid->setCurrentIndex(host.cell(0, QStringLiteral("Task")));
    grid->setCurrentIndex(host.cell(0, QStringLiteral("Category")));
    QTest::keyClick(grid, Qt::Key_F2);
    QVERIFY((pick = qobject_cast<QComboBox*>(grid->indexWidget(grid->currentIndex()))));
    QVERIFY(pick->isEditable());
    QCOMPARE(pick->count(), 3);
    QCOMPARE(pick->itemText(2), QStringLiteral("Garden"));
    pick->setEditText(QStringLiteral("Elsewhere"));
    QTest::keyClick(pick->lineEdit(), Qt::Key_Return);
    QTRY_VERIFY(!grid->isEditingCell());
    QCOMPARE(host.table().asString(Category), QStringLiteral("Elsewhere"));
}

void TestTaskView::bookmarkedTyped_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("error");
    QTest::newRow("t") << "t"
                       << "Yes"
                       << "";
    QTest::newRow("FAL") << "FAL"
                         << "No"
                         << "";
    QTest::newRow("Yes") << "Yes"
                         << "No"
                         << "'Yes' is not a valid boolean value for field 'Bookmarked'";
    QTest::newRow("No") << "No"
                        << "No"
                        << "'No' is not a valid boolean value for field 'Bookmarked'";
}

void TestTaskView::bookmarkedTyped() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, error);
    ViewHost host;
    host.add({"one"});
    TaskGrid* grid = host.grid();
    grid->setFocus();
    const QModelIndex cell = host.cell(0, QStringLiteral("Bookmarked"));
    QCOMPARE(cell.data().toString(), QStringLiteral("No"));
    grid->setCurrentIndex(cell);
    QTest::keyClicks(grid, typed.left(1)); // the first key opens the editor
    QTest::keyClicks(QApplication::focusWidget(), typed.mid(1));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_VERIFY(!grid->isEditingCell());
    QCOMPARE(cell.data().toString(), shown);
    QCOMPARE(host.prompt.errors, error.isEmpty() ? QStringList() : QStringList{error});
}

void TestTaskView::movingOffStoresByIdentity() {
    ViewHost host;
    host.add({"b", "c", "d"});
    choose(host.child<QComboBox>(QStringLiteral("cbOrder")), QStringLiteral("Task"));
    TaskGrid* grid = host.focusCell(0, QStringLiteral("Task"));
    QTest::keyClick(grid, Qt::Key_F2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("z"));
    // Clicking "c" stores "z", which moves to the end: "c" is still the task clicked.
    host.click(host.cell(1, QStringLiteral("Task")));
    QCOMPARE(host.shownTasks(), (QStringList{"c", "d", "z"}));
    QCOMPARE(host.currentTask(), QStringLiteral("c"));
    QCOMPARE(grid->currentIndex().row(), 0);
    QCOMPARE(grid->currentIndex().column(), host.column(QStringLiteral("Task")));

    // A command while a cell is being edited takes the typed text with it.
    QTest::keyClick(grid, Qt::Key_F2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("e"));
    host.view->actBookmarkExecute();
    QCOMPARE(host.shownTasks(), (QStringList{"d", "e", "z"}));
    QCOMPARE(host.currentTask(), QStringLiteral("e"));
    QVERIFY(host.table().asBoolean(Bookmarked));
    QVERIFY(!host.table().isEditing());
}

void TestTaskView::wheelMovesOneTask() {
    ViewHost host;
    host.add({"one", "two", "three"});
    host.table().first();
    auto* show = host.child<QComboBox>(QStringLiteral("cbShow"));
    wheel(host.child<QLineEdit>(QStringLiteral("Edit2")), -120);
    QCOMPARE(host.currentTask(), QStringLiteral("two"));
    wheel(host.grid()->viewport(), -480); // one task, whatever the delta
    QCOMPARE(host.currentTask(), QStringLiteral("three"));
    wheel(show, 120);
    QCOMPARE(host.currentTask(), QStringLiteral("two"));
    QCOMPARE(show->currentText(), QStringLiteral("All")); // the box did not scroll
    wheel(host.grid()->viewport(), 0);
    QCOMPARE(host.currentTask(), QStringLiteral("two"));
    QCOMPARE(host.grid()->currentIndex().row(), 1);
    QCOMPARE(host.grid()->verticalScrollBar()->value(), 0);
}

void TestTaskView::shortcutsWhileEditing() {
    ViewHost host;
    host.add({"one", "two"});
    TaskGrid* grid = host.focusCell(0, QStringLiteral("Task"));
    QTest::keyClick(grid, Qt::Key_F2);
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(editor && editor != grid);
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("one"));
    host.prompt.answers << true;
    QTest::keyClick(editor, Qt::Key_Delete);
    QCOMPARE(host.prompt.questions, QStringList{"Delete current task ?"});
    QCOMPARE(host.shownTasks(), QStringList{"two"});
    QCOMPARE(host.prompt.errors, QStringList());
}

void TestTaskView::paintsByTheRules() {
    ViewHost host;
    host.add({"plain", "done", "stopped", "odd"});
    host.table().moveToPosition(1);
    host.view->actCompleteExecute();
    host.table().moveToPosition(2);
    host.view->actCancelExecute();
    host.grid()->setCurrentIndex(host.cell(3, QStringLiteral("ID")));
    QApplication::processEvents();
    const QImage image = host.grid()->viewport()->grab().toImage();
    auto colourAt = [&](int row, const QString& title) {
        const QRect cell = host.grid()->visualRect(host.cell(row, title));
        return QColor(image.pixel(cell.right() - 2, cell.top() + 1));
    };
    image.save(QStringLiteral("/tmp/taskview-painting.png"));
    QCOMPARE(colourAt(0, QStringLiteral("Task")), QColor(Qt::white));
    QCOMPARE(colourAt(1, QStringLiteral("Task")), QColor(119, 171, 110));
    QCOMPARE(colourAt(2, QStringLiteral("Task")), QColor(255, 240, 172));
    QCOMPARE(colourAt(3, QStringLiteral("Task")), QColor(232, 232, 236));
    QCOMPARE(colourAt(3, QStringLiteral("ID")), QColor(0, 0, 128));
    // The completed task's bar is full; the plain one's frame is empty inside.
    const QRect bar = host.grid()->visualRect(host.cell(1, QStringLiteral("Progress")));
    QCOMPARE(QColor(image.pixel(bar.left() + 5, bar.top() + 3)), QColor(105, 161, 227));
    const QRect empty = host.grid()->visualRect(host.cell(0, QStringLiteral("Progress")));
    QCOMPARE(QColor(image.pixel(empty.left() + 5, empty.top() + 3)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(empty.left() + 1, empty.top() + 1)), QColor(128, 128, 128));
}

void TestTaskView::currentCellShows_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("values"); // Field=value|..., dates ISO
    QTest::addColumn<QString>("column");
    QTest::newRow("plain") << 0 << ""
                           << "Task";
    QTest::newRow("even row") << 1 << ""
                              << "Task";
    QTest::newRow("in progress") << 0 << "Status=In progress"
                                 << "Task";
    QTest::newRow("high") << 0 << "Priority=High"
                          << "Task";
    QTest::newRow("urgent") << 0 << "Priority=Urgent"
                            << "Task";
    QTest::newRow("half done") << 0 << "Progress=60"
                               << "Task";
    QTest::newRow("overdue") << 0 << "DueDate=2020-01-01"
                             << "Task";
    QTest::newRow("complete") << 0 << "Status=Complete"
                              << "Task";
    QTest::newRow("cancelled") << 0 << "Status=Cancelled"
                               << "Task";
    QTest::newRow("paused") << 0 << "Status=Paused"
                            << "Task";
    QTest::newRow("paused, its bar") << 0 << "Status=Paused|Progress=30"
                                     << "Progress";
    QTest::newRow("paused, bookmarked") << 0 << "Status=Paused|Bookmarked=True"
                                        << "Bookmarked";
}

// Whatever the row's state, the current cell looks other than the same cell not current.
void TestTaskView::currentCellShows() {
    QFETCH(int, row);
    QFETCH(QString, values);
    QFETCH(QString, column);
    ViewHost host;
    host.add({"one", "two"});
    DataTable& table = host.table();
    table.moveToPosition(row);
    table.edit();
    for (const QString& pair : values.split(u'|', Qt::SkipEmptyParts)) {
        const QString field = pair.section(u'=', 0, 0);
        const QString value = pair.section(u'=', 1);
        if (field == u"DueDate")
            table.setDate(field, QDate::fromString(value, Qt::ISODate));
        else
            table.setString(field, value);
    }
    table.post();
    const QModelIndex cell = host.cell(row, column);
    const auto painted = [&](const QModelIndex& current) {
        host.grid()->setCurrentIndex(current);
        QApplication::processEvents();
        return host.grid()->viewport()->grab(host.grid()->visualRect(cell)).toImage();
    };
    const QImage current = painted(cell);
    QVERIFY(current != painted(host.cell(row, QStringLiteral("ID"))));
}

void TestTaskView::barsHavePictures_data() {
    QTest::addColumn<QString>("bar");
    for (const char* bar : {"pnlFilter", "pnlToolBar", "pnlQuickAdd"})
        QTest::newRow(bar) << bar;
}

// Each bar has a stretched picture of its own: its background is not one flat colour.
void TestTaskView::barsHavePictures() {
    QFETCH(QString, bar);
    ViewHost host;
    QWidget* widget = host.child<QWidget>(bar);
    const QImage image = widget->grab().toImage();
    // Along the bottom edge, under the controls and clear of the bevel, right to left.
    const int y = widget->height() - 3;
    QSet<QRgb> colours;
    for (int x = 2; x < image.width() - 2; x += 40)
        colours << image.pixel(x, y);
    QVERIFY2(colours.size() > 3, qPrintable(QString::number(colours.size())));
    const QColor right(image.pixel(image.width() - 3, y));
    QVERIFY(right != QColor(208, 208, 216));
}

void TestTaskView::bulkAdd_data() {
    QTest::addColumn<bool>("cancel");
    QTest::newRow("runs to its end") << false;
    QTest::newRow("cancelled") << true;
}

void TestTaskView::bulkAdd() {
    QFETCH(bool, cancel);
    ViewHost host;
    host.add({QStringLiteral("a"), QStringLiteral("b")});
    host.view->MarkSaved();
    host.table().first();
    const QString panels = host.view->StatusPanelText(0) + u'|' + host.view->StatusPanelText(1);
    QStringList lines;
    for (int i = 0; i < 5000; ++i)
        lines << QStringLiteral("task %1").arg(i);

    QProgressDialog* window = nullptr;
    const bool finished = host.view->AddTasksInBulk([&](const DataTable::Progress& progress) {
        return Import::BatchInsert(host.table(), lines.join(u'\n'), [&](int done, int total) {
            QTest::qSleep(300); // as on a slow machine: the window must show
            const bool goOn = progress(done, total);
            window = host.view->findChild<QProgressDialog*>(QStringLiteral("BulkProgress"));
            if (window && cancel)
                QTest::mouseClick(window->findChild<QPushButton*>(), Qt::LeftButton);
            return goOn;
        });
    });

    QVERIFY(window);
    QCOMPARE(finished, !cancel);
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(host.grid()->model()->rowCount(), cancel ? 2 : 5002);
    QCOMPARE(host.view->Unsaved(), !cancel);
    QCOMPARE(host.tabs.tabText(0), cancel ? QStringLiteral("New") : QStringLiteral("New *"));
    QCOMPARE(host.view->StatusPanelText(0) + u'|' + host.view->StatusPanelText(1),
             cancel ? panels : QStringLiteral("Items 5002|"));
    QCOMPARE(host.currentTask(), cancel ? QStringLiteral("a") : QStringLiteral("task 4999"));
    QCOMPARE(host.grid()->currentIndex().row(), cancel ? 0 : 5001);
}

void TestTaskView::itemCountIsTheTasksShown_data() {
    QTest::addColumn<QString>("command");
    for (const char* command : {"quick add", "batch insert", "delete"})
        QTest::newRow(command) << QString::fromLatin1(command);
}

void TestTaskView::itemCountIsTheTasksShown() {
    QFETCH(QString, command);
    ViewHost host;
    host.add({"one", "two"});
    if (command == u"quick add") {
        host.child<QLineEdit>(QStringLiteral("Edit2"))->setText(QStringLiteral("three"));
        host.view->btnQuickAddClick();
    } else if (command == u"batch insert") {
        host.view->AddTasksInBulk([&](const DataTable::Progress& progress) {
            return Import::BatchInsert(host.table(), QStringLiteral("a\nb"), progress);
        });
    } else {
        host.prompt.answers << true;
        host.view->actDeleteExecute();
    }
    QCOMPARE(host.view->StatusPanelText(0),
             QStringLiteral("Items %1").arg(host.shownTasks().size()));
}

QTEST_MAIN(TestTaskView)
#include "tst_taskview.moc"
