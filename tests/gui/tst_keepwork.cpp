#include "core/TaskListFixture.h"
#include "dialogs/uFrmDetails.h"
#include "dialogs/uFrmProgress.h"
#include "document/ListRecovery.h"
#include "gui/DialogDriver.h"
#include "report/uQRptTasks.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "storage/DataPacket.h"
#include "storage/RecoveryStore.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "view/TaskGrid.h"
#include "view/uFrTasks.h"

#include <QAction>
#include <QApplication>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>

using namespace TaskRecord;

namespace {

const QString Typed = QStringLiteral("Renamed task");

// The task of the first row as the list holds it.
QString firstTask(const DataTable& table) {
    return table.textOf(table.rowDataAt(0), table.fieldIndex(Task));
}

// Every recovery copy under the recovery folder, set-aside ones included.
QStringList recoveryCopies() {
    QStringList copies;
    QDirIterator it(RecoveryStore::defaultRoot(), {QStringLiteral("*.cv1")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        copies << it.next();
    return copies;
}

} // namespace

// What the user typed or changed survives every way a list is saved, closed, switched, printed
// or lost: the cell being edited, the windows' Cancel, other programs, a crash.
class TestKeepWork : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openEditorBeforeCommands_data();
    void openEditorBeforeCommands();
    void progressWindowClosedChangesNothing_data();
    void progressWindowClosedChangesNothing();
    void detailsCancelKeepsTheSavedState();
    void fileChangedByAnotherProgram_data();
    void fileChangedByAnotherProgram();
    void recoveryAfterAKill();
    void unwritableRecoveryIsToldOnce();
    void unreadableRecoveryCopyIsKeptAside_data();
    void unreadableRecoveryCopyIsKeptAside();

private:
    QString makeList(const QString& name, const QStringList& tasks);
    void trigger(const QString& name) const;
    TfrTasks* view() const { return m_main->ActiveTaskView(); }
    TaskGrid* grid(TfrTasks* of) const {
        return of->findChild<TaskGrid*>(QStringLiteral("DBGrid1"));
    }
    void open(const QString& fileName);
    void typeIntoCell(const QString& title, const QString& text);

    QTemporaryDir m_dataHome;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<ScriptedPrompt> m_prompt;
    std::unique_ptr<TfrmMain> m_main;
};

void TestKeepWork::initTestCase() {
    PinLocaleAndClock();
    // Recovery copies go to a folder of this run only.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome.path()));
}

void TestKeepWork::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    m_prompt = std::make_unique<ScriptedPrompt>();
    m_main = StartCorvantis(m_folder->path() + u'/');
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
}

void TestKeepWork::cleanup() {
    m_main.reset();
    m_prompt.reset();
    m_folder.reset();
    QDir(RecoveryStore::defaultRoot()).removeRecursively();
    QFile::remove(RecoveryStore::defaultRoot()); // a file put in its place
    ListRecovery::setDelayForTesting(30 * 1000);
}

QString TestKeepWork::makeList(const QString& name, const QStringList& tasks) {
    TaskListFixture list;
    for (const QString& task : tasks)
        list.add(QStringLiteral("Task=") + task);
    const QString fileName = m_folder->filePath(name);
    DataPacket::SaveToFile(list.table, fileName);
    return fileName;
}

void TestKeepWork::trigger(const QString& name) const {
    auto* action = m_main->findChild<QAction*>(name);
    if (!action)
        qFatal("no action %s", qPrintable(name));
    action->trigger();
}

void TestKeepWork::open(const QString& fileName) {
    m_prompt->openNames << fileName;
    trigger(QStringLiteral("actOpen"));
}

// Clicks the cell of the first task in the column and types, leaving the editor open.
void TestKeepWork::typeIntoCell(const QString& title, const QString& text) {
    TaskGrid* g = grid(view());
    int column = 0;
    while (g->model()->headerData(column, Qt::Horizontal).toString() != title)
        ++column;
    g->setFocus();
    g->setCurrentIndex(g->model()->index(0, column));
    QTest::keyClicks(g, text.left(1)); // the first key opens the editor
    QTest::keyClicks(QApplication::focusWidget(), text.mid(1));
}

void TestKeepWork::openEditorBeforeCommands_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("questions");
    for (const char* path : {"Save", "Save As", "Close All", "Print", "Details", "tab switch"})
        QTest::newRow(path) << QString::fromLatin1(path) << QStringList();
    QTest::newRow("Close") << "Close" << QStringList{"Save changes ?"};
    QTest::newRow("F10") << "F10" << QStringList{"A * - Save changes ?"};
    QTest::newRow("close box") << "close box" << QStringList{"A * - Save changes ?"};
    QTest::newRow("refused value") << "refused value" << QStringList();
}

void TestKeepWork::openEditorBeforeCommands() {
    QFETCH(QString, path);
    QFETCH(QStringList, questions);
    const QString second = makeList(QStringLiteral("B.cv1"), {QStringLiteral("other")});
    if (path == u"tab switch")
        open(second);
    const QString file = makeList(QStringLiteral("A.cv1"), {"task 1", "task 2"});
    const QByteArray before = ReadFileBytes(file);
    open(file);
    const bool refused = path == u"refused value";
    typeIntoCell(refused ? QStringLiteral("Progress") : QStringLiteral("Task"),
                 refused ? QStringLiteral("abc") : Typed);
    QVERIFY(grid(view())->isEditingCell());
    // Typing marks the list unsaved at once.
    QVERIFY(view()->Unsaved());
    QCOMPARE(m_main->PageControl()->tabText(m_main->PageControl()->currentIndex()),
             QStringLiteral("A *"));

    TfrTasks* edited = view();
    QString shown; // what a print or a window saw of the task
    QString target = file;
    m_prompt->answers << true;
    if (path == u"Save" || refused) {
        trigger(QStringLiteral("actSave"));
    } else if (path == u"Save As") {
        target = m_folder->filePath(QStringLiteral("C.cv1"));
        m_prompt->saveNames << target;
        trigger(QStringLiteral("actSaveAs"));
    } else if (path == u"Close") {
        trigger(QStringLiteral("actClose"));
    } else if (path == u"Close All") {
        trigger(QStringLiteral("CloseAll1"));
    } else if (path == u"F10") {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10);
    } else if (path == u"close box") {
        QVERIFY(m_main->close());
    } else if (path == u"Print") {
        TQRptTasks::setPreviewRunnerForTesting(
            [&](QPrintPreviewDialog&) { shown = firstTask(*edited->cdsTasks()); });
        trigger(QStringLiteral("Print1"));
        TQRptTasks::setPreviewRunnerForTesting(nullptr);
    } else if (path == u"Details") {
        QTimer::singleShot(0, [&] {
            auto* window = qobject_cast<TfrmDetails*>(QApplication::activeModalWidget());
            QVERIFY(window);
            shown = window->findChild<QLineEdit*>(QStringLiteral("edt1"))->text();
            window->reject();
        });
        trigger(QStringLiteral("DetailView1"));
    } else if (path == u"tab switch") {
        QTabBar* tabs = m_main->PageControl()->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        QCOMPARE(m_main->PageControl()->currentIndex(), 0);
        QCOMPARE(m_main->PageControl()->tabText(1), QStringLiteral("A *"));
        shown = firstTask(*edited->cdsTasks());
    }

    QCOMPARE(m_prompt->questions, questions);
    if (refused) {
        // The command stops with the field's message; the file and the editor keep their text.
        QCOMPARE(m_prompt->errors,
                 QStringList{"'abc' is not a valid integer value for field 'Progress'"});
        m_prompt->errors.clear();
        QCOMPARE(ReadFileBytes(file), before);
        QVERIFY(grid(edited)->isEditingCell());
        QCOMPARE(qobject_cast<QLineEdit*>(grid(edited)->cellEditor())->text(),
                 QStringLiteral("abc"));
        return;
    }
    QVERIFY2(m_prompt->errors.isEmpty(), qPrintable(m_prompt->errors.join(u'\n')));
    if (!shown.isEmpty() || path == u"Print" || path == u"Details" || path == u"tab switch") {
        QCOMPARE(shown, Typed);
        return;
    }
    QVERIFY(ReadFileBytes(target).contains(Typed.toUtf8()));
}

void TestKeepWork::progressWindowClosedChangesNothing_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("changes");
    QTest::newRow("close box") << "close" << false;
    QTest::newRow("Escape") << "escape" << false;
    QTest::newRow("a preset") << "btn50" << true;
}

void TestKeepWork::progressWindowClosedChangesNothing() {
    QFETCH(QString, how);
    QFETCH(bool, changes);
    open(makeList(QStringLiteral("P.cv1"), {"one"}));
    auto* window = m_main->findChild<TfrmProgress*>();
    WhenShown(window, [&] { CloseBy(*window, how); });
    view()->acSetProgressExecute();
    DataTable* table = view()->cdsTasks();
    QCOMPARE(table->asString(Status), changes ? InProgress : NotStarted);
    QCOMPARE(table->isNull(LastActioned), !changes);
    QCOMPARE(view()->Unsaved(), changes);
    QCOMPARE(m_main->PageControl()->tabText(0), QString(changes ? "P *" : "P"));
}

void TestKeepWork::detailsCancelKeepsTheSavedState() {
    open(makeList(QStringLiteral("D.cv1"), {"one"}));
    QTimer::singleShot(0, [] {
        auto* window = qobject_cast<TfrmDetails*>(QApplication::activeModalWidget());
        QVERIFY(window);
        auto* task = window->findChild<QLineEdit*>(QStringLiteral("edt1"));
        task->setFocus();
        QTest::keyClicks(task, QStringLiteral(" changed"));
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnCancel")),
                          Qt::LeftButton);
    });
    trigger(QStringLiteral("DetailView1"));
    QCOMPARE(view()->cdsTasks()->asString(Task), QStringLiteral("one"));
    QVERIFY(!view()->Unsaved());
    QCOMPARE(m_main->PageControl()->tabText(0), QStringLiteral("D"));
}

void TestKeepWork::fileChangedByAnotherProgram_data() {
    QTest::addColumn<QString>("change"); // what the other program does to the file
    QTest::addColumn<bool>("overwrite"); // the answer to the question
    QTest::newRow("bytes and time, Cancel") << "rewrite" << false;
    QTest::newRow("bytes and time, Overwrite") << "rewrite" << true;
    QTest::newRow("same size and time, Cancel") << "same size and time" << false;
    QTest::newRow("deleted: written again") << "delete" << true;
    QTest::newRow("unchanged: no question") << "none" << true;
}

void TestKeepWork::fileChangedByAnotherProgram() {
    QFETCH(QString, change);
    QFETCH(bool, overwrite);
    const QString file = makeList(QStringLiteral("Shared.cv1"), {"first"});
    open(file);
    view()->cdsTasks()->append();
    view()->cdsTasks()->setString(Task, QStringLiteral("ours"));
    view()->cdsTasks()->post();

    QByteArray theirs = ReadFileBytes(file);
    if (change == u"rewrite") {
        theirs = ReadFileBytes(makeList(QStringLiteral("Other.cv1"), {"theirs", "more"}));
        QVERIFY(WriteFileBytes(file, theirs));
    } else if (change == u"same size and time") {
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        theirs.replace("first", "FIRST");
        QVERIFY(WriteFileBytes(file, theirs));
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
    } else if (change == u"delete") {
        QVERIFY(QFile::remove(file));
    }
    m_prompt->choices << (overwrite ? 0 : 2); // Overwrite, Merge, Cancel
    trigger(QStringLiteral("actSave"));

    const bool asked = change == u"rewrite" || change == u"same size and time";
    QCOMPARE(m_prompt->questions,
             asked ? QStringList{QDir::toNativeSeparators(file) +
                                 " was changed by another program since it was opened. "
                                 "Overwrite it with this list?"}
                   : QStringList());
    if (asked && !overwrite) {
        QCOMPARE(ReadFileBytes(file), theirs);
        QVERIFY(view()->Unsaved());
        return;
    }
    QVERIFY(ReadFileBytes(file).contains("ours"));
    QVERIFY(!view()->Unsaved());
    // The fingerprint follows the save: the next save asks nothing.
    trigger(QStringLiteral("actSave"));
    QCOMPARE(m_prompt->questions.size(), asked ? 1 : 0);
}

// A child program makes a change, waits for its recovery copy and is killed; the next start
// offers the list, whose Save writes the original file and removes the copy.
void TestKeepWork::recoveryAfterAKill() {
    const QString file = makeList(QStringLiteral("Kept.cv1"), {"before"});
    m_main.reset(); // the child is the running program now
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QStringLiteral("--recovery-child"), m_folder->path() + u'/', file});
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start();
    QVERIFY(child.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!recoveryCopies().isEmpty(), 30000);
    QTest::qWait(200); // the copy is complete once its rename is done; let the writer finish
    child.kill();      // SIGKILL: nothing of the program's own ending runs
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    m_main = StartCorvantis(m_folder->path() + u'/');
    QCOMPARE(m_prompt->notices,
             QStringList{"Corvantis did not end normally. Unsaved changes to 1 list(s) "
                         "were recovered."});
    QCOMPARE(m_main->PageControl()->count(), 1);
    QCOMPARE(m_main->PageControl()->tabText(0), QStringLiteral("Kept *"));
    QCOMPARE(view()->ListFileName(), file);
    DataTable* table = view()->cdsTasks();
    QCOMPARE(table->recordCount(), 2);
    table->last();
    QCOMPARE(table->asString(Task), QStringLiteral("added before the crash"));
    trigger(QStringLiteral("actSave"));
    QVERIFY(m_prompt->questions.isEmpty());
    QVERIFY(ReadFileBytes(file).contains("added before the crash"));
    QVERIFY(recoveryCopies().isEmpty());
}

// Work goes on when no copy can be written, but the user learns once that it is unprotected.
void TestKeepWork::unwritableRecoveryIsToldOnce() {
    m_main.reset();
    const QString root = RecoveryStore::defaultRoot();
    QVERIFY(QDir().mkpath(QFileInfo(root).path()));
    QVERIFY(WriteFileBytes(root, "a file where the folder goes"));
    ListRecovery::setDelayForTesting(0);
    m_main = StartCorvantis(m_folder->path() + u'/');
    for (const QString& task : {QStringLiteral("one"), QStringLiteral("two")}) {
        trigger(QStringLiteral("actNew"));
        view()->cdsTasks()->append();
        view()->cdsTasks()->setString(Task, task);
        view()->cdsTasks()->post();
    }
    QTRY_COMPARE(m_prompt->notices.size(), 1);
    QTest::qWait(100); // the other list's copy fails too
    QCOMPARE(m_prompt->notices.size(), 1);
    QVERIFY(m_prompt->notices.first().contains(QDir::toNativeSeparators(root)));
    const auto* label = m_main->findChild<QLabel*>(QStringLiteral("RecoveryWarning"));
    QVERIFY(label && label->isVisible());
    QVERIFY(label->text().contains(QStringLiteral("not protected")));
    QCOMPARE(m_main->PageControl()->count(), 2);
}

void TestKeepWork::unreadableRecoveryCopyIsKeptAside_data() {
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<bool>("readable"); // the copy itself
    QTest::addColumn<QString>("told");  // how the message begins
    QTest::newRow("new list, not a list") << QByteArray(R"({"file":"","new":true})") << false
                                          << "A recovery copy could not be read. It was kept in";
    QTest::newRow("names its file")
        << QByteArray(R"({"file":"/lists/Week.cv1","new":false})") << false
        << "A recovery copy of /lists/Week.cv1 could not be read. It was kept in";
    QTest::newRow("relative path")
        << QByteArray(R"({"file":"Week.cv1","new":false})") << true
        << "A recovery copy of Week.cv1 could not be read. It was kept in";
}

void TestKeepWork::unreadableRecoveryCopyIsKeptAside() {
    QFETCH(QByteArray, note);
    QFETCH(bool, readable);
    QFETCH(QString, told);
    m_main.reset();
    const QByteArray copy =
        readable ? ReadFileBytes(makeList(QStringLiteral("Week.cv1"), {"x"})) : "not a list";
    const QString session = RecoveryStore::defaultRoot() + QStringLiteral("/left-by-a-crash");
    QVERIFY(QDir().mkpath(session));
    QVERIFY(WriteFileBytes(session + QStringLiteral("/broken.note"), note));
    QVERIFY(WriteFileBytes(session + QStringLiteral("/broken.cv1"), copy));
    m_main = StartCorvantis(m_folder->path() + u'/');
    QCOMPARE(m_main->PageControl()->count(), 0);
    QCOMPARE(m_prompt->notices.size(), 1);
    QVERIFY2(m_prompt->notices.first().startsWith(told), qPrintable(m_prompt->notices.first()));
    const QString aside = RecoveryStore::defaultRoot() + QStringLiteral("/unreadable/broken.cv1");
    QVERIFY(m_prompt->notices.first().contains(aside));
    QCOMPARE(ReadFileBytes(aside), copy);
}

namespace {

// The child of recoveryAfterAKill: the program on a list, a task added, copies every 100 ms.
int recoveryChild(int argc, char** argv) {
    QApplication app(argc, argv);
    PinLocaleAndClock();
    ListRecovery::setDelayForTesting(100);
    const auto window =
        StartCorvantis(QString::fromLocal8Bit(argv[2]), {QString::fromLocal8Bit(argv[3])});
    DataTable* table = window->ActiveTaskView()->cdsTasks();
    table->append();
    table->setString(Task, QStringLiteral("added before the crash"));
    table->post();
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && qstrcmp(argv[1], "--recovery-child") == 0)
        return recoveryChild(argc, argv);
    QApplication app(argc, argv);
    TestKeepWork test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keepwork.moc"
