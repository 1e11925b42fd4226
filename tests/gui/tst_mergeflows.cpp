#include "dialogs/uFrmConflicts.h"
#include "document/ListDocument.h"
#include "document/ListFileWatcher.h"
#include "gui/DialogDriver.h"
#include "model/TaskRecord.h"
#include "shell/MergeCenter.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/ChangedOnDiskBar.h"
#include "view/TaskGrid.h"
#include "view/uFrTasks.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace TaskRecord;

namespace {

using Change = std::function<void(DataTable&)>;

void Add(DataTable& table, const QString& task) {
    table.append();
    table.setString(Task, task);
    table.post();
}

void Set(DataTable& table, int position, const QString& field, const QString& value) {
    table.moveToPosition(position);
    table.edit();
    table.setString(field, value);
    table.post();
}

// What another program does: reads the file, changes it and saves it over the file.
void ChangeFile(const QString& file, const Change& change) {
    ListDocument other;
    QVERIFY(other.load(file));
    change(*other.table());
    other.save(file, true);
}

QStringList Tasks(const DataTable& table, const QString& field = Task) {
    QStringList tasks;
    for (DataTable::RowId row : table.allRows())
        tasks << table.textOf(table.rowData(row), table.fieldIndex(field));
    tasks.sort();
    return tasks;
}

QStringList TasksIn(const QString& file) {
    ListDocument list;
    return list.load(file) ? Tasks(*list.table()) : QStringList();
}

} // namespace

// Copies of a list that went their own ways, brought together through the main window: the
// Save question's Merge, the open file changed on disk, a sync tool's conflict copy, and
// Merge With....
class TestMergeFlows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void saveOverAChangedFile_data();
    void saveOverAChangedFile();
    void fileChangedOnDisk_data();
    void fileChangedOnDisk();
    void conflictOnDiskShowsTheBar();
    void conflictCopyMergedThenTrashed_data();
    void conflictCopyMergedThenTrashed();
    void mergeWith();
    void twoWindowsOnOneFile();
    void closeAnsweredYes_data();
    void closeAnsweredYes();

private:
    QString makeList(const QString& name, const QStringList& tasks) const;
    void trigger(const QString& name) const;
    void open(const QString& file);
    TfrTasks* view() const { return m_main->ActiveTaskView(); }
    DataTable& table() const { return *view()->cdsTasks(); }
    TaskGrid* grid() const { return view()->findChild<TaskGrid*>(QStringLiteral("DBGrid1")); }
    MergeCenter* center() const { return m_main->findChild<MergeCenter*>(); }
    // Answers the Conflicts window, when it comes, with these buttons.
    void answerConflicts(const QStringList& buttons) const;

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<ScriptedPrompt> m_prompt;
    std::unique_ptr<TfrmMain> m_main;
};

void TestMergeFlows::initTestCase() {
    PinLocaleAndClock();
    // The trash and the recovery copies of this run only, on the lists' own file system.
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("data"))));
}

void TestMergeFlows::init() {
    m_folder = std::make_unique<QTemporaryDir>(m_home.filePath(QStringLiteral("lists-XXXXXX")));
    m_prompt = std::make_unique<ScriptedPrompt>();
    m_main = StartCorvantis(m_folder->path() + u'/');
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
}

void TestMergeFlows::cleanup() {
    QVERIFY2(m_prompt->errors.isEmpty(), qPrintable(m_prompt->errors.join(u'\n')));
    m_main.reset();
    m_prompt.reset();
    m_folder.reset();
    QDir(m_home.filePath(QStringLiteral("data/Trash"))).removeRecursively();
}

QString TestMergeFlows::makeList(const QString& name, const QStringList& tasks) const {
    const QString file = m_folder->filePath(name);
    ListDocument list;
    list.createNew();
    for (const QString& task : tasks)
        Add(*list.table(), task);
    list.save(file, true);
    return file;
}

void TestMergeFlows::trigger(const QString& name) const {
    auto* action = m_main->findChild<QAction*>(name);
    QVERIFY2(action, qPrintable(name));
    action->trigger();
}

void TestMergeFlows::open(const QString& file) {
    m_prompt->openNames << file;
    trigger(QStringLiteral("actOpen"));
    QCOMPARE(view()->ListFileName(), file);
}

void TestMergeFlows::answerConflicts(const QStringList& buttons) const {
    TfrmConflicts* window = center()->ConflictsWindow();
    WhenShown(window, [window, buttons] {
        for (const QString& button : buttons)
            CloseBy(*window, button);
    });
}

void TestMergeFlows::saveOverAChangedFile_data() {
    QTest::addColumn<int>("choice");            // Overwrite, Merge, Cancel
    QTest::addColumn<QStringList>("conflicts"); // the Conflicts window's buttons; empty: none
    QTest::addColumn<QStringList>("saved");     // the file's tasks afterwards
    QTest::addColumn<bool>("laterChange");      // the file changes again while conflicts are asked
    QTest::newRow("Overwrite") << 0 << QStringList() << QStringList{"ours", "shared"} << false;
    QTest::newRow("Merge") << 1 << QStringList() << QStringList{"ours", "shared", "theirs"}
                           << false;
    QTest::newRow("Cancel") << 2 << QStringList() << QStringList{"shared", "theirs"} << false;
    QTest::newRow("Merge, conflict: the other copy's value")
        << 1 << QStringList{"btnAllOther", "btnOK"}
        << QStringList{"ours", "shared (theirs)", "theirs"} << false;
    QTest::newRow("Merge, conflict: Cancel")
        << 1 << QStringList{"btnCancel"} << QStringList{"shared (theirs)", "theirs"} << false;
    QTest::newRow("Merge, the file changed again while asked")
        << 1 << QStringList{"btnAllOther", "btnOK"}
        << QStringList{"later", "ours", "shared (theirs)", "theirs"} << true;
}

// Both sides' work survives a Merge, and only a true conflict is asked.
void TestMergeFlows::saveOverAChangedFile() {
    QFETCH(int, choice);
    QFETCH(QStringList, conflicts);
    QFETCH(QStringList, saved);
    QFETCH(bool, laterChange);
    const QString file = makeList(QStringLiteral("Shared.cv1"), {"shared"});
    open(file);
    Add(table(), QStringLiteral("ours"));
    if (!conflicts.isEmpty())
        Set(table(), 0, Task, QStringLiteral("shared (ours)"));
    ChangeFile(file, [&](DataTable& t) {
        Add(t, QStringLiteral("theirs"));
        if (!conflicts.isEmpty())
            Set(t, 0, Task, QStringLiteral("shared (theirs)"));
    });
    if (!conflicts.isEmpty()) {
        TfrmConflicts* window = center()->ConflictsWindow();
        WhenShown(window, [window, conflicts, laterChange, file] {
            if (laterChange)
                ChangeFile(file, [](DataTable& t) { Add(t, QStringLiteral("later")); });
            for (const QString& button : conflicts)
                CloseBy(*window, button);
        });
    }
    m_prompt->choices << choice;
    trigger(QStringLiteral("actSave"));

    QCOMPARE(m_prompt->questions,
             QStringList{QDir::toNativeSeparators(file) +
                         " was changed by another program since it was opened. Overwrite it "
                         "with this list?"});
    QCOMPARE(m_prompt->cautious, m_prompt->questions); // Enter overwrites nothing
    QCOMPARE(TasksIn(file), saved);
    const bool written = choice == 0 || (choice == 1 && !conflicts.contains("btnCancel"));
    QCOMPARE(view()->Unsaved(), !written);
    if (written) // the list is what was saved
        QCOMPARE(Tasks(table()), saved);
}

void TestMergeFlows::fileChangedOnDisk_data() {
    QTest::addColumn<bool>("unsaved");    // the list holds a change of its own
    QTest::addColumn<bool>("editorOpen"); // a cell editor is open when the change comes
    QTest::addColumn<QString>("note");
    const QString read = QStringLiteral("Watched.cv1 was changed on disk and read again.");
    const QString merged =
        QStringLiteral("Watched.cv1 was changed on disk; its changes were merged in "
                       "(1 added, 0 changed, 1 deleted).");
    QTest::newRow("no unsaved changes: read again") << false << false << read;
    QTest::newRow("read again once the cell editor closes") << false << true << read;
    QTest::newRow("unsaved changes: merged in") << true << false << merged;
}

// The open list takes in what another program saved over its file, and the user stays on the
// same task where the grid was scrolled to.
void TestMergeFlows::fileChangedOnDisk() {
    QFETCH(bool, unsaved);
    QFETCH(bool, editorOpen);
    QFETCH(QString, note);
    QStringList numbered;
    for (int n = 1; n <= 60; ++n)
        numbered << QStringLiteral("task %1").arg(n, 2, 10, QLatin1Char('0'));
    const QString file = makeList(QStringLiteral("Watched.cv1"), numbered);
    open(file);
    if (unsaved)
        Set(table(), 5, Task, QStringLiteral("ours"));
    int taskColumn = 0;
    while (grid()->model()->headerData(taskColumn, Qt::Horizontal).toString() != Task)
        ++taskColumn;
    grid()->setFocus();
    grid()->setCurrentIndex(grid()->model()->index(40, taskColumn));
    grid()->verticalScrollBar()->setValue(30);
    const qint64 current = table().asInteger(ID);
    if (editorOpen)
        QVERIFY(grid()->editCurrentCell());
    QVERIFY(!view()->Unsaved() || unsaved);

    QSignalSpy told(&center()->Watcher(), &ListFileWatcher::changedOnDisk);
    ChangeFile(file, [](DataTable& t) {
        t.moveToPosition(0);
        t.remove();
        Add(t, QStringLiteral("theirs"));
    });
    QTRY_COMPARE(told.count(), 1);
    if (editorOpen) {
        QVERIFY(view()->NoteText().isEmpty());
        QCOMPARE(table().recordCount(), 60);
        QTest::keyClick(grid()->cellEditor(), Qt::Key_Escape);
    }
    QTRY_COMPARE(view()->NoteText(), note);
    const QStringList tasks = Tasks(table());
    QVERIFY(tasks.contains("theirs") && !tasks.contains("task 01"));
    QCOMPARE(tasks.contains("ours"), unsaved);
    QCOMPARE(view()->Unsaved(), unsaved);
    QCOMPARE(table().asInteger(ID), current);
    QCOMPARE(grid()->verticalScrollBar()->value(), 30);
    // What is on disk is in the list: a save asks nothing.
    trigger(QStringLiteral("actSave"));
    QCOMPARE(m_prompt->questions, QStringList());
}

// Both sides changed one task: the bar above the grid offers the merge, whose conflicts the
// Conflicts window asks.
void TestMergeFlows::conflictOnDiskShowsTheBar() {
    const QString file = makeList(QStringLiteral("Bar.cv1"), {"one", "two"});
    open(file);
    Set(table(), 0, Comments, QStringLiteral("ours"));
    ChangeFile(file, [](DataTable& t) {
        Set(t, 0, Comments, QStringLiteral("theirs"));
        Add(t, QStringLiteral("three"));
    });
    ChangedOnDiskBar* bar = view()->DiskBar();
    QTRY_VERIFY(bar->isVisible());
    QCOMPARE(Tasks(table()), QStringList({"one", "two"}));

    answerConflicts({"btnAllOther", "btnOK"});
    QTest::mouseClick(bar->findChild<QPushButton*>(QStringLiteral("btnMergeChanges")),
                      Qt::LeftButton);
    QVERIFY(!bar->isVisible());
    QCOMPARE(Tasks(table()), QStringList({"one", "three", "two"}));
    QCOMPARE(Tasks(table(), Comments), QStringList({"", "", "theirs"}));
    QVERIFY(view()->Unsaved());
    trigger(QStringLiteral("actSave"));
    QCOMPARE(m_prompt->questions, QStringList());
}

void TestMergeFlows::conflictCopyMergedThenTrashed_data() {
    QTest::addColumn<bool>("undo"); // the merge is undone before the save
    QTest::newRow("merged, saved, trashed") << false;
    QTest::newRow("merge undone: the copy stays") << true;
}

// A sync tool's conflict copy beside the list is offered when the list opens, merged, and moved
// to the trash once the merged list is saved; not when the merge was undone.
void TestMergeFlows::conflictCopyMergedThenTrashed() {
    QFETCH(bool, undo);
    const QString file = makeList(QStringLiteral("Home.cv1"), {"one"});
    const QString copy =
        m_folder->filePath(QStringLiteral("Home.sync-conflict-20250312-140509-ABCDEFG.cv1"));
    QVERIFY(QFile::copy(file, copy));
    ChangeFile(copy, [](DataTable& t) { Add(t, QStringLiteral("from the laptop")); });
    ChangeFile(file, [](DataTable& t) { Add(t, QStringLiteral("from the desk")); });

    m_prompt->choices << 0 << 0; // Merge, then Move to Trash
    open(file);
    QCOMPARE(m_prompt->questions.size(), 1);
    QVERIFY(m_prompt->questions[0].contains(
        "Home.sync-conflict-20250312-140509-ABCDEFG.cv1 (Syncthing)"));
    QStringList merged{"from the desk", "from the laptop", "one"};
    QCOMPARE(Tasks(table()), merged);
    QVERIFY(view()->Unsaved());
    if (undo) {
        trigger(QStringLiteral("actUndo"));
        merged.removeOne("from the laptop");
    }

    trigger(QStringLiteral("actSave"));
    QCOMPARE(TasksIn(file), merged);
    QCOMPARE(m_prompt->questions.size(), undo ? 1 : 2);
    QCOMPARE(QFileInfo::exists(copy), undo);
    QCOMPARE(QFileInfo::exists(m_home.filePath(QStringLiteral("data/Trash/files/")) +
                               QFileInfo(copy).fileName()),
             !undo);
    // Asked once: the next save asks nothing.
    trigger(QStringLiteral("actSave"));
    QCOMPARE(m_prompt->questions.size(), undo ? 1 : 2);
}

// File > Merge With... brings another copy in as one undo step.
void TestMergeFlows::mergeWith() {
    const QString file = makeList(QStringLiteral("Desk.cv1"), {"one"});
    const QString laptop = m_folder->filePath(QStringLiteral("Laptop.cv1"));
    QVERIFY(QFile::copy(file, laptop));
    ChangeFile(laptop, [](DataTable& t) { Add(t, QStringLiteral("two")); });
    open(file);
    Add(table(), QStringLiteral("three"));

    m_prompt->openNames << laptop;
    trigger(QStringLiteral("actMergeWith"));
    QCOMPARE(Tasks(table()), QStringList({"one", "three", "two"}));
    QCOMPARE(view()->NoteText(),
             QStringLiteral("Merged Laptop.cv1 (1 added, 0 changed, 0 deleted)."));
    QCOMPARE(m_main->findChild<QAction*>(QStringLiteral("actUndo"))->text(),
             QStringLiteral("&Undo Merge"));
    trigger(QStringLiteral("actUndo"));
    QCOMPARE(Tasks(table()), QStringList({"one", "three"}));
}

// Two running programs on one list, each saving in turn: nothing is lost and nothing is asked.
void TestMergeFlows::twoWindowsOnOneFile() {
    const QString file = makeList(QStringLiteral("Both.cv1"), {"one", "two"});
    QTemporaryDir otherFolder;
    const std::unique_ptr<TfrmMain> laptop = StartCorvantis(otherFolder.path() + u'/', {file});
    open(file);
    TfrTasks* there = laptop->ActiveTaskView();
    Add(table(), QStringLiteral("desk"));
    Add(*there->cdsTasks(), QStringLiteral("laptop"));
    Set(*there->cdsTasks(), 1, Comments, QStringLiteral("from the laptop"));
    laptop->findChild<QAction*>(QStringLiteral("actSave"))->trigger();

    const QStringList all{"desk", "laptop", "one", "two"};
    QTRY_COMPARE(Tasks(table()), all);
    trigger(QStringLiteral("actSave"));
    QTRY_COMPARE(Tasks(*there->cdsTasks()), all);
    QVERIFY(!there->Unsaved() && !view()->Unsaved());
    QCOMPARE(Tasks(*there->cdsTasks(), Comments), Tasks(table(), Comments));
    QCOMPARE(TasksIn(file), all);
    QCOMPARE(m_prompt->questions, QStringList());
}

void TestMergeFlows::closeAnsweredYes_data() {
    QTest::addColumn<QString>("before");     // what made the list unsaved
    QTest::addColumn<QList<int>>("answers"); // Save changes ? first, then what the save asks
    QTest::addColumn<QStringList>("saved");  // the file's tasks afterwards
    QTest::addColumn<bool>("closed");
    QTest::newRow("a task added") << "add" << QList<int>{0} << QStringList{"ours", "shared"}
                                  << true;
    QTest::newRow("a conflict copy merged, kept")
        << "copy" << QList<int>{0, 1} << QStringList{"from the laptop", "shared"} << true;
    QTest::newRow("its file changed, merged at the save")
        << "changed" << QList<int>{0, 1} << QStringList{"ours", "shared", "theirs"} << true;
    QTest::newRow("its file changed, save cancelled")
        << "changed" << QList<int>{0, 2} << QStringList{"shared", "theirs"} << false;
}

// Close answered Yes saves the list and closes it, whatever the save asks on its way; a save
// cancelled keeps it open.
void TestMergeFlows::closeAnsweredYes() {
    QFETCH(QString, before);
    QFETCH(QList<int>, answers);
    QFETCH(QStringList, saved);
    QFETCH(bool, closed);
    const QString file = makeList(QStringLiteral("Shared.cv1"), {"shared"});
    if (before == u"copy") {
        const QString copy =
            m_folder->filePath(QStringLiteral("Shared.sync-conflict-20250312-140509-ABCDEFG.cv1"));
        QVERIFY(QFile::copy(file, copy));
        ChangeFile(copy, [](DataTable& t) { Add(t, QStringLiteral("from the laptop")); });
        m_prompt->choices << 0; // Merge
    }
    open(file);
    if (before != u"copy")
        Add(table(), QStringLiteral("ours"));
    if (before == u"changed")
        ChangeFile(file, [](DataTable& t) { Add(t, QStringLiteral("theirs")); });
    QVERIFY(view()->Unsaved());
    for (const int answer : answers)
        m_prompt->choices << answer;
    trigger(QStringLiteral("actClose"));
    QVERIFY(m_prompt->choices.isEmpty());
    QCOMPARE(TasksIn(file), saved);
    QCOMPARE(m_main->PageControl()->count(), closed ? 0 : 1);
}

QTEST_MAIN(TestMergeFlows)
#include "tst_mergeflows.moc"
