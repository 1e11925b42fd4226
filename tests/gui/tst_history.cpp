#include "base/LoginName.h"
#include "core/TaskListFixture.h"
#include "dialogs/VersionListModel.h"
#include "dialogs/uFrmBatchImport.h"
#include "dialogs/uFrmDeletedTasks.h"
#include "dialogs/uFrmHistory.h"
#include "dialogs/ufrmReOpen.h"
#include "document/TaskUndo.h"
#include "gui/DialogDriver.h"
#include "gui/ViewHost.h"
#include "model/TaskHistory.h"
#include "model/TaskTable.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "storage/DataPacket.h"
#include "storage/Import.h"
#include "storage/RecentLists.h"
#include "support/FileBytes.h"
#include "widgets/ProgramColours.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

using namespace TaskRecord;

namespace {

// A task table wired as a view wires it (new rows get their defaults), read from a file's bytes.
struct ReadList {
    explicit ReadList(const QByteArray& bytes) {
        DataPacket::Read(list.table, bytes);
        list.table.setIndexName(TaskTable::IndexID);
    }
    TaskListFixture list;
};

DataTable::RowId RowOfId(const DataTable& table, int id) {
    const int field = table.fieldIndex(ID);
    for (DataTable::RowId row : table.allRows())
        if (table.rowData(row).int32(field) == id)
            return row;
    qFatal("no task %d", id);
}

// Edits made by hand, ";" between them: "edit ID: Field=value|...", "add: Field=value|...",
// "add like ID" (a new task typed with every value the task of that ID last had) and
// "back ID" (the last version of the task of that ID added again under its own ID, as undo and
// restore bring a task back) and "delete ID". Values are field texts, dates ISO; "<null>"
// empties a field.
void ByHand(DataTable& table, const QString& script) {
    const auto type = [&](const QString& values) {
        for (const QString& pair : values.split(u'|', Qt::SkipEmptyParts)) {
            const QString field = pair.section(u'=', 0, 0).trimmed();
            const QString value = pair.section(u'=', 1);
            const int f = table.fieldIndex(field);
            if (value == u"<null>")
                table.setNull(field);
            else if (table.fields()[std::size_t(f)].kind == FieldKind::Date)
                table.setDate(field, QDate::fromString(value, Qt::ISODate));
            else
                table.setString(field, value);
        }
    };
    for (const QString& step : script.split(u';', Qt::SkipEmptyParts)) {
        const QString head = step.section(u':', 0, 0).trimmed();
        const QString values = step.section(u':', 1);
        const QStringList words = head.split(u' ');
        if (words[0] == u"edit") {
            table.goToRow(RowOfId(table, words[1].toInt()));
            table.edit();
            type(values);
            table.post();
        } else if (words[0] == u"delete") {
            table.goToRow(RowOfId(table, words[1].toInt()));
            table.remove();
        } else if (words[0] == u"back" || words.size() == 3) { // back ID, add like ID
            const int idField = table.fieldIndex(ID);
            std::size_t v = table.versionCount();
            while (v-- > 0 && table.versionData(v).int32(idField) != words.last().toInt()) {
            }
            if (words[0] == u"back") {
                DataTable::RowChange back{DataTable::RowChange::Add, -1, std::uint32_t(v)};
                back.keepId = true;
                table.applyChanges({back});
                continue;
            }
            table.append();
            for (int f = 0; f < int(table.fields().size()); ++f) {
                const QString name = table.fields()[std::size_t(f)].name;
                if (f == idField)
                    continue;
                if (table.versionData(v).isNull(f))
                    table.setNull(name);
                else
                    table.setString(name, table.textOf(table.versionData(v), f));
            }
            table.post();
        } else {
            table.append();
            type(values);
            table.post();
        }
    }
}

// Every shown task's values but its ID, sorted: what a user sees, whichever IDs tasks got.
QStringList Contents(const DataTable& table) {
    QStringList rows;
    for (int i = 0; i < table.visibleRowCount(); ++i) {
        QStringList values;
        for (int f = 1; f < int(table.fields().size()); ++f)
            values << table.textOf(table.rowDataAt(i), f);
        rows << values.join(u'|');
    }
    rows.sort();
    return rows;
}

// A list file of three tasks, one, two and three, then the setup's edits by hand.
QByteArray ThreeTasks(const QString& setup) {
    TaskListFixture list;
    for (const char* task : {"one", "two", "three"})
        list.add(QStringLiteral("Task=") + QLatin1String(task));
    ByHand(list.table, setup);
    return DataPacket::Write(list.table);
}

// The program started in a folder of its own, with a list file opened through Open.
struct OpenedList {
    explicit OpenedList(const QString& file) : main(StartCorvantis(folder.path() + u'/')) {
        prompt.openNames << file;
        action("actOpen")->trigger();
        view = main->ActiveTaskView();
    }
    QAction* action(const char* name) const {
        return main->findChild<QAction*>(QLatin1String(name));
    }
    ScriptedPrompt prompt;
    QTemporaryDir folder;
    std::unique_ptr<TfrmMain> main;
    TfrTasks* view = nullptr;
};

} // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void undoRedoEachKind_data();
    void undoRedoEachKind();
    void historyWindows();
    void whenEachVersionWasMade_data();
    void whenEachVersionWasMade();
    void restoreThroughTheWindowsAsByHand();
    void undoThroughTheMenus();
    void saveCopyWithoutHistory();

private:
    QTemporaryDir m_folder;
};

void TestHistory::initTestCase() {
    PinLocaleAndClock();
    uGeneral::SetCurrentUserNameForTesting([] { return QStringLiteral("tester"); });
}

void TestHistory::undoRedoEachKind_data() {
    QTest::addColumn<QString>("setup");   // edits by hand before the list is opened
    QTest::addColumn<QString>("command"); // what the user does in the view
    QTest::addColumn<QString>("step");    // the step's name
    QTest::addColumn<QString>("undo");    // the same as undo, made by hand
    QTest::addColumn<QString>("redo");    // the same as redo, made by hand
    AddTextRows({
        {"cell edit", "", "cell", "Edit Task", "edit 2: Task=two", "edit 2: Task=changed"},
        {"state command", "", "complete", "Complete",
         "edit 2: CompletedDate=<null>|LastActioned=<null>|Progress=0|Status=Not Started",
         "edit 2: CompletedDate=2025-03-12|LastActioned=2025-03-12|Progress=100|Status=Complete"},
        {"quick add", "", "quick", "Add Task", "delete 4", "back 4"},
        {"delete", "", "delete", "Delete", "back 2", "delete 2"},
        {"restore version", "edit 2: Progress=50|Status=In progress", "history", "Restore Version",
         "edit 2: Progress=50|Status=In progress", "edit 2: Progress=0|Status=Not Started"},
        {"restore deleted", "delete 3", "deleted", "Restore Deleted Tasks", "delete 3", "back 3"},
        {"batch insert", "", "batch", "Add 2 Tasks", "delete 5;delete 4", "back 4;back 5"},
        {"import", "", "import", "Add 2 Tasks", "delete 5;delete 4", "back 4;back 5"},
    });
}

void TestHistory::undoRedoEachKind() {
    QFETCH(QString, setup);
    QFETCH(QString, command);
    QFETCH(QString, step);
    QFETCH(QString, undo);
    QFETCH(QString, redo);
    const QString file = m_folder.filePath(QStringLiteral("three.cv1"));
    QVERIFY(WriteFileBytes(file, ThreeTasks(setup)));
    ViewHost host;
    host.view->InitList(file, false);
    TaskViewServices services;
    services.showHistory = [](const DataTable& table, DataTable::RowId row) {
        return std::optional<std::uint32_t>(TaskHistory::versionsOfRow(table, row)[1].version);
    };
    services.showDeletedTasks = [](const DataTable& table) {
        return std::vector<std::uint32_t>{TaskHistory::deletedTasks(table)[0].version};
    };
    host.view->SetServices(services);
    DataTable& table = host.table();
    const QStringList before = Contents(table);

    table.moveToPosition(1);
    if (command == u"cell") {
        TaskGrid* grid = host.focusCell(1, QStringLiteral("Task"));
        QTest::keyClick(grid, Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("changed"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(grid, Qt::Key_Down);
    } else if (command == u"complete") {
        host.view->actCompleteExecute();
    } else if (command == u"quick") {
        host.child<QLineEdit>(QStringLiteral("Edit2"))->setText(QStringLiteral("four"));
        host.view->btnQuickAddClick();
    } else if (command == u"delete") {
        host.prompt.answers << true;
        host.view->actDeleteExecute();
    } else if (command == u"history") {
        host.view->History1Click();
    } else if (command == u"deleted") {
        host.view->DeletedTasks1Click();
    } else if (command == u"batch") {
        host.view->AddTasksInBulk([&](const DataTable::Progress& progress) {
            return Import::BatchInsert(table, QStringLiteral("a\nb"), progress);
        });
    } else {
        const QString source = m_folder.filePath(QStringLiteral("source.cv1"));
        QVERIFY(WriteFileBytes(source, ThreeTasks(QStringLiteral("delete 1"))));
        host.view->AddTasksInBulk([&](const DataTable::Progress& progress) {
            return Import::ImportTasks(table, source, progress);
        });
    }
    const QStringList after = Contents(table);
    QVERIFY(after != before);
    TaskUndo* stack = host.view->UndoHistory();
    QCOMPARE(stack->count(), 1);
    QCOMPARE(stack->undoText(), step);

    // The saved list is what the same edits made by hand give.
    ReadList replica(DataPacket::Write(table));
    host.view->MarkSaved();
    host.view->Undo1Click();
    QCOMPARE(Contents(table), before);
    QVERIFY(host.view->Unsaved());
    ByHand(replica.list.table, undo);
    QCOMPARE(DataPacket::Write(table), DataPacket::Write(replica.list.table));

    host.view->Redo1Click();
    QCOMPARE(Contents(table), after);
    ByHand(replica.list.table, redo);
    QCOMPARE(DataPacket::Write(table), DataPacket::Write(replica.list.table));
    QCOMPARE(stack->index(), 1);
    QVERIFY(host.prompt.errors.isEmpty());
}

void TestHistory::historyWindows() {
    TaskListFixture list;
    list.add(QStringLiteral("Task=alpha"));
    list.add(QStringLiteral("Task=bravo|Comments=first"));
    ByHand(list.table, QStringLiteral("edit 2: Progress=40;edit 2: LastActioned=2025-03-10|"
                                      "Comments=line 1\r\nline 2;delete 1"));
    TfrmHistory history;
    history.load(list.table, RowOfId(list.table, 2));
    auto* versions = history.findChild<QTableView*>(QStringLiteral("grdVersions"));
    const QAbstractItemModel* model = versions->model();
    QCOMPARE(history.versionCount(), 3);
    // Newest first: the date it carries, the change that made it, and the fields it changed.
    const auto column = [&](int column, int role = Qt::DisplayRole) {
        QStringList cells;
        for (int row = 0; row < model->rowCount(); ++row)
            cells << model->index(row, column).data(role).toString();
        return cells.join(u'|');
    };
    QCOMPARE(column(0), QStringLiteral("3/10/2025|not recorded|3/12/2025"));
    QCOMPARE(column(1), QStringLiteral("4|3|2"));
    QCOMPARE(column(8), QStringLiteral("LastActioned, Comments|Progress|Added"));
    QCOMPARE(column(3) + u'/' + column(3, VersionListModel::ChangedRole) + u'/' +
                 column(7, VersionListModel::ChangedRole),
             QStringLiteral("40|40|0/false|true|false/false|false|false"));
    auto* fields = history.findChild<QTableWidget*>(QStringLiteral("grdFields"));
    const int comments = list.table.fieldIndex(Comments);
    QCOMPARE(fields->item(comments, 1)->text(), QStringLiteral("line 1 line 2"));
    QCOMPARE(fields->item(comments, 1)->background().color(), ProgramColours::ChangedValue);
    auto* restore = history.findChild<QPushButton*>(QStringLiteral("btnRestore"));
    QVERIFY(!restore->isEnabled()); // the newest version is what the task holds

    // The window answers with the version chosen, and nothing when closed otherwise.
    for (const QString& how : {QStringLiteral("btnRestore"), QStringLiteral("escape")}) {
        WhenShown(&history, [&] {
            // Each version's fields are read from the top.
            history.resize(history.width(), 300);
            QTest::qWait(1);
            fields->scrollToBottom();
            QVERIFY(fields->verticalScrollBar()->value() > 0);
            history.selectVersion(2);
            QCOMPARE(fields->verticalScrollBar()->value(), 0);
            QCOMPARE(fields->item(comments, 1)->text(), QStringLiteral("first"));
            CloseBy(history, how);
        });
        const std::optional<std::uint32_t> chosen =
            history.execute(list.table, RowOfId(list.table, 2));
        QCOMPARE(chosen.has_value(), how == u"btnRestore");
        QCOMPARE(history.versionCount(), 0); // the window lets go of the list
        if (chosen)
            QCOMPARE(*chosen,
                     TaskHistory::versionsOfRow(list.table, RowOfId(list.table, 2))[2].version);
    }

    TfrmDeletedTasks deleted;
    list.add(QStringLiteral("Task=charlie"));
    ByHand(list.table, QStringLiteral("delete 3"));
    WhenShown(&deleted, [&] {
        QCOMPARE(deleted.taskCount(), 2);
        deleted.selectTasks({0, 1});
        CloseBy(deleted, QStringLiteral("btnRestore"));
    });
    const std::vector<std::uint32_t> chosen = deleted.execute(list.table);
    QCOMPARE(chosen, (std::vector<std::uint32_t>{0, 4})); // oldest first: alpha, then charlie
    TaskListFixture empty;
    deleted.load(empty.table);
    QCOMPARE(deleted.findChild<QLabel*>(QStringLiteral("lblDeleted"))->text(),
             QStringLiteral("No task has been deleted from this list."));
    QVERIFY(!deleted.findChild<QPushButton*>(QStringLiteral("btnRestore"))->isEnabled());
}

void TestHistory::whenEachVersionWasMade_data() {
    QTest::addColumn<QString>("edits"); // task 1 was added on 3/12/2025
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("when"); // newest first
    QTest::newRow("an edit") << "edit 1: Progress=40" << 1 << "not recorded|3/12/2025";
    QTest::newRow("a state command")
        << "edit 1: Status=In progress|LastActioned=2025-03-11" << 1 << "3/11/2025|3/12/2025";
    QTest::newRow("completed the day it was actioned")
        << "edit 1: LastActioned=2025-03-11;edit 1: Status=Complete|CompletedDate=2025-03-13" << 1
        << "3/13/2025|3/11/2025|3/12/2025";
    QTest::newRow("added without a date")
        << "add: Task=two|CreatedDate=<null>" << 2 << "not recorded";
}

// Each version is dated by what it changed, or said to have no date: never a blank.
void TestHistory::whenEachVersionWasMade() {
    QFETCH(QString, edits);
    QFETCH(int, id);
    QFETCH(QString, when);
    TaskListFixture list;
    list.add(QStringLiteral("Task=one"));
    ByHand(list.table, edits);
    VersionListModel model({{QStringLiteral("When"), VersionListModel::WhenColumn, {}}});
    model.setVersions(list.table, TaskHistory::versionsOfRow(list.table, RowOfId(list.table, id)),
                      true);
    QStringList cells;
    for (int row = 0; row < model.rowCount(); ++row)
        cells << model.index(row, 0).data().toString();
    QCOMPARE(cells.join(u'|'), when);
}

void TestHistory::restoreThroughTheWindowsAsByHand() {
    const QString file = m_folder.filePath(QStringLiteral("restore.cv1"));
    const QByteArray original =
        ThreeTasks(QStringLiteral("edit 2: Progress=50|Comments=half;delete 3"));
    QVERIFY(WriteFileBytes(file, original));
    OpenedList opened(file);
    TfrTasks* view = opened.view;
    const auto& main = opened.main;
    view->cdsTasks()->moveToPosition(1);

    auto* history = main->findChild<TfrmHistory*>();
    WhenShown(history, [&] {
        history->selectVersion(1);
        CloseBy(*history, QStringLiteral("btnRestore"));
    });
    opened.action("actHistory")->trigger();
    QVERIFY(view->Unsaved());
    QCOMPARE(view->cdsTasks()->asString(Progress), QStringLiteral("0"));

    auto* deleted = main->findChild<TfrmDeletedTasks*>();
    WhenShown(deleted, [&] { CloseBy(*deleted, QStringLiteral("btnRestore")); });
    opened.action("actDeletedTasks")->trigger();
    QCOMPARE(view->cdsTasks()->asString(ID) + u' ' + view->cdsTasks()->asString(Task),
             QStringLiteral("3 three")); // back under its own ID
    opened.action("actSave")->trigger();
    QVERIFY(!view->Unsaved());

    // The same two edits by hand, saved: the same bytes, the old deletion still there.
    ReadList byHand(original);
    ByHand(byHand.list.table, QStringLiteral("edit 2: Progress=0|Comments=<null>;back 3"));
    const QString expected = m_folder.filePath(QStringLiteral("byhand.cv1"));
    DataPacket::SaveToFile(byHand.list.table, expected);
    QCOMPARE(ReadFileBytes(file), ReadFileBytes(expected));
    QVERIFY(ReadFileBytes(file).contains("<ROW RowState=\"6\" ID=\"3\" Task=\"three\""));
    QVERIFY(opened.prompt.errors.isEmpty());
}

void TestHistory::undoThroughTheMenus() {
    ScriptedPrompt prompt;
    QTemporaryDir folder;
    const auto main = StartCorvantis(folder.path() + u'/');
    QVERIFY(QTest::qWaitForWindowActive(main.get()));
    const auto action = [&](const char* name) {
        return main->findChild<QAction*>(QLatin1String(name));
    };
    QVERIFY(!action("actUndo")->isEnabled());
    action("actNew")->trigger();
    TfrTasks* view = main->ActiveTaskView();
    QTimer::singleShot(0, [] {
        auto* window = qobject_cast<TfrmBatchImport*>(QApplication::activeModalWidget());
        window->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))
            ->setPlainText(QStringLiteral("a\nb\nc"));
        window->findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
    });
    action("ToolButton5")->trigger();
    QCOMPARE(view->cdsTasks()->recordCount(), 3);
    QCOMPARE(action("actUndo")->text(), QStringLiteral("&Undo Batch Insert"));
    action("actUndo")->trigger();
    QCOMPARE(view->cdsTasks()->recordCount(), 0);
    QCOMPARE(action("actRedo")->text(), QStringLiteral("&Redo Batch Insert"));

    // The keys act on the list from the grid; a text box keeps them to itself, also when it has
    // no typing of its own to undo.
    main->activateWindow(); // the Batch Import window gave the keys back
    QTRY_COMPARE(QApplication::activeWindow(), main.get());
    auto* grid = view->findChild<TaskGrid*>(QStringLiteral("DBGrid1"));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(view->cdsTasks()->recordCount(), 3);
    auto* edit = view->findChild<QLineEdit*>(QStringLiteral("Edit2"));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(view->cdsTasks()->recordCount(), 3);
    QTest::keyClicks(edit, QStringLiteral("xy"));
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(edit->text(), QString());
    QCOMPARE(view->cdsTasks()->recordCount(), 3);
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(view->cdsTasks()->recordCount(), 0);
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(view->cdsTasks()->recordCount(), 3);

    // Each list has its own history.
    action("actNew")->trigger();
    QVERIFY(!action("actUndo")->isEnabled());
    prompt.answers << false;
    action("actClose")->trigger();
    QCOMPARE(main->ActiveTaskView(), view);
    QVERIFY(action("actUndo")->isEnabled());
    QVERIFY(prompt.errors.isEmpty());
}

void TestHistory::saveCopyWithoutHistory() {
    const QString file = m_folder.filePath(QStringLiteral("shared.cv1"));
    QVERIFY(WriteFileBytes(file, ThreeTasks(QStringLiteral("edit 2: Progress=50;delete 1"))));
    OpenedList opened(file);
    TfrTasks* view = opened.view;
    const auto& main = opened.main;
    ScriptedPrompt& prompt = opened.prompt;
    view->cdsTasks()->moveToPosition(0);
    view->actCompleteExecute(); // task 2: unsaved
    const QByteArray listBefore = DataPacket::Write(*view->cdsTasks());

    const QString copy = m_folder.filePath(QStringLiteral("copy.cv1"));
    prompt.saveNames << copy;
    opened.action("actSaveCopy")->trigger();
    ReadList read(ReadFileBytes(copy));
    QCOMPARE(VersionStates(read.list.table), QStringLiteral("4 4"));
    QCOMPARE(ChangeLogText(read.list.table), QStringLiteral("1 0 4 2 0 4"));
    QCOMPARE(read.list.table.autoIncValue(), std::int64_t(4));
    QCOMPARE(read.list.visible(ID), (QStringList{"2", "3"}));
    QCOMPARE(read.list.visible(Status), (QStringList{"Complete", "Not Started"}));

    // The open list is as it was: unsaved, its own file, not the copy.
    QCOMPARE(DataPacket::Write(*view->cdsTasks()), listBefore);
    QVERIFY(view->Unsaved());
    QCOMPARE(view->ListFileName(), file);
    QCOMPARE(main->PageControl()->tabText(0), QStringLiteral("shared *"));
    QVERIFY(!main->ReOpenWindow()->store().contains(copy));

    // Over an existing file only after Yes.
    const QByteArray copied = ReadFileBytes(copy);
    view->actPauseExecute();
    prompt.saveNames << copy;
    prompt.answers << false;
    opened.action("actSaveCopy")->trigger();
    QCOMPARE(prompt.questions.last(), QStringLiteral("File already exists! Overwrite ?"));
    QCOMPARE(ReadFileBytes(copy), copied);
    QVERIFY(prompt.errors.isEmpty());
    QCOMPARE(prompt.saveRequests.last().title, QStringLiteral("Save Copy Without History"));
    QCOMPARE(prompt.saveRequests.last().directory, QFileInfo(file).absolutePath());

    // Never over the file of an open list, its history with it: nothing is asked or written.
    const QByteArray own = ReadFileBytes(file);
    const int asked = prompt.questions.size();
    prompt.saveNames << file;
    opened.action("actSaveCopy")->trigger();
    QCOMPARE(prompt.questions.size(), asked);
    QCOMPARE(prompt.errors.size(), 1);
    QVERIFY(prompt.errors.first().contains(QDir::toNativeSeparators(file)));
    QCOMPARE(ReadFileBytes(file), own);
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
