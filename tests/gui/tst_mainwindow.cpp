#include "dialogs/uFrmBatchImport.h"
#include "dialogs/ufrmReOpen.h"
#include "gui/DialogDriver.h"
#include "gui/EveryWindow.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "report/uQRptTasks.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "storage/DataPacket.h"
#include "storage/RecentLists.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/uFrTasks.h"
#include "widgets/DesktopShell.h"
#include "widgets/ErrorBox.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

namespace {
const QString OpenFirst = QStringLiteral("Open or create a list first!");
}

// Drives the real main window, started as the program starts it, in a temporary program folder.
class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noListRouting_data();
    void noListRouting();
    void startUp();
    void everyWindowFitsTheScreen_data();
    void everyWindowFitsTheScreen();
    void toolBarHints_data();
    void toolBarHints();
    void titles();
    void unsavedMarks();
    void newThenClose_data();
    void newThenClose();
    void closeAsksForEveryUnsavedList();
    void saveAsOverExistingFile_data();
    void saveAsOverExistingFile();
    void exitWithTwoUnsavedAnsweredNo();
    void exitWithNeverSavedListCancelled();
    void closeBoxAsksLikeExit();
    void strayByteIsToldOnce();
    void textBoxKeepsItsUndoKeys_data();
    void textBoxKeepsItsUndoKeys();
    void saveQuestionDismissedKeepsTheList_data();
    void saveQuestionDismissedKeepsTheList();
    void closeAllStopsAtFailingSave();
    void closeAllAsksForNeverSavedList();
    void sameFileTwice();
    void recentListsAtTheListedMoments();
    void onlyChoosingATabRetitles();
    void everyNewTabFocusesQuickAdd_data();
    void everyNewTabFocusesQuickAdd();
    void missingFileBuildsNoTab();
    void unreadableFileBuildsNoTab_data();
    void unreadableFileBuildsNoTab();
    void markUnsavedWithoutPage();
    void explorerPath();
    void secondaryWindowsInStartUpOrder();
    void listCommandsReachTheView();
    void importAndBatchInsert();
    void printTheActiveList();
    void standardKeys_data();
    void standardKeys();
    void gridKeysStayTheGrids();
    void menuAccelerators();
    void startPageWhileNoListIsOpen();
    void listNamesShowAsTheyAre();

private:
    QAction* action(const QString& name) const;
    void trigger(const QString& name) const { action(name)->trigger(); }
    TfrTasks* view() const { return m_main->ActiveTaskView(); }
    QString tabText(int index) const { return m_main->PageControl()->tabText(index); }
    QString makeList(const QString& name, int tasks);
    void addTask(TfrTasks* view, const QString& text);
    bool recorded(const QString& fileName) const {
        return m_main->ReOpenWindow()->store().contains(fileName);
    }

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<ScriptedPrompt> m_prompt;
    std::unique_ptr<TfrmMain> m_main;
    QList<QUrl> m_opened;
};

void TestMainWindow::initTestCase() {
    PinLocaleAndClock();
    DesktopShell::SetOpenerForTesting([this](const QUrl& url) { m_opened << url; });
}

void TestMainWindow::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    m_prompt = std::make_unique<ScriptedPrompt>();
    m_main = StartCorvantis(m_folder->path() + u'/');
    m_opened.clear();
}

void TestMainWindow::cleanup() {
    m_main.reset();
    QVERIFY2(m_prompt->errors.isEmpty() || QTest::currentTestFailed(),
             qPrintable(m_prompt->errors.join(u'\n')));
    m_prompt.reset();
    m_folder.reset();
}

QAction* TestMainWindow::action(const QString& name) const {
    auto* found = m_main->findChild<QAction*>(name);
    if (!found)
        qFatal("no action %s", qPrintable(name));
    return found;
}

QString TestMainWindow::makeList(const QString& name, int tasks) {
    DataTable table;
    TfrTasks scratch; // a view wires the table as every list is wired
    scratch.InitList(QStringLiteral("New"), true);
    for (int i = 0; i < tasks; ++i)
        addTask(&scratch, QStringLiteral("task %1").arg(i + 1));
    const QString fileName = m_folder->filePath(name);
    DataPacket::SaveToFile(*scratch.cdsTasks(), fileName);
    m_prompt->notices.clear(); // the scratch view has no tab to mark
    return fileName;
}

void TestMainWindow::addTask(TfrTasks* target, const QString& text) {
    DataTable* table = target->cdsTasks();
    table->append();
    table->setString(TaskRecord::Task, text);
    table->post();
}

void TestMainWindow::noListRouting_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("complains");
    for (const char* name :
         {"actSave", "actSaveAs", "actClose", "Close1", "CloseTab1", "DetailView1", "Comments1",
          "ApplyFilter1", "CancelFilter1", "tbImport", "Import1", "ToolButton5"})
        QTest::newRow(name) << QString::fromLatin1(name) << true;
    for (const char* name : {"tbPrint", "Print1", "BatchInsert1", "ExplorerPath1", "CloseAll1"})
        QTest::newRow(name) << QString::fromLatin1(name) << false;
}

void TestMainWindow::noListRouting() {
    QFETCH(QString, name);
    QFETCH(bool, complains);
    trigger(name);
    QCOMPARE(m_prompt->errors, complains ? QStringList{OpenFirst} : QStringList{});
    QVERIFY(m_prompt->saveRequests.isEmpty());
    QCOMPARE(m_main->PageControl()->count(), 0);
    QVERIFY(m_opened.isEmpty());
    m_prompt->errors.clear();
}

void TestMainWindow::startUp() {
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis"));
    // Its first size, narrowed to the test screen's width.
    QCOMPARE(m_main->height(), 622);
    QCOMPARE(m_main->frameGeometry().width(),
             std::min(1138 + m_main->frameGeometry().width() - m_main->width(),
                      m_main->screen()->availableGeometry().width()));
    QVERIFY(!m_main->PageControl()->isVisible());
    QVERIFY(m_main->ReOpenWindow());
    QVERIFY(m_main->CategoriesWindow());
    QCOMPARE(action(QStringLiteral("actExit"))->shortcut(), QKeySequence(Qt::Key_F10));
    QCOMPARE(action(QStringLiteral("tbPrint"))->toolTip(), QStringLiteral("Print Document"));
    QCOMPARE(action(QStringLiteral("tbImport"))->toolTip(), QStringLiteral("Import Doc"));
    trigger(QStringLiteral("actNew"));
    QVERIFY(m_main->PageControl()->isVisible());
    trigger(QStringLiteral("actClose"));
    m_prompt->questions.clear();
    QVERIFY(m_main->PageControl()->isVisible()); // stays visible for good
}

void TestMainWindow::toolBarHints_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("hint");
    for (const char* button : {"tbNew", "tbOpen", "tbReopen", "tbSave", "tbSaveAs", "tbClose",
                               "tbBatchInsert", "tbCategories", "tbExit"})
        QTest::newRow(button) << button << "";
    QTest::newRow("tbPrintButton") << "tbPrintButton"
                                   << "Print Document";
    QTest::newRow("tbImportButton") << "tbImportButton"
                                    << "Import Doc";
}

void TestMainWindow::toolBarHints() {
    QFETCH(QString, button);
    QFETCH(QString, hint);
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    auto* target = m_main->findChild<QWidget*>(button);
    QVERIFY(target);
    QToolTip::hideText();
    const QPoint at = target->rect().center();
    QHelpEvent hover(QEvent::ToolTip, at, target->mapToGlobal(at));
    QApplication::sendEvent(target, &hover);
    QCOMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(), hint);
    QToolTip::hideText();
}

void TestMainWindow::titles() {
    const QString groceries = makeList(QStringLiteral("Groceries.cv1"), 1);
    trigger(QStringLiteral("actNew"));
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - New"));
    m_prompt->openNames << groceries;
    trigger(QStringLiteral("actOpen"));
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - Groceries"));
    QCOMPARE(m_prompt->openRequests.last().directory, m_main->ProgramFolder());
    QCOMPARE(m_prompt->openRequests.last().filter,
             QStringLiteral("Corvantis File v1|*.cv1|All Files (*.*)|*.*"));
    QCOMPARE(m_prompt->openRequests.last().defaultExtension, QStringLiteral("cv1"));
    // Reopen: the window's choice, and the title without a blank before the hyphen.
    QTimer::singleShot(0, [this] {
        TfrmReOpen* reopen = m_main->ReOpenWindow();
        reopen->cdsFiles().first();
        reopen->btnOpenClick();
    });
    trigger(QStringLiteral("actReopen"));
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis- Groceries"));
    QCOMPARE(m_main->PageControl()->count(), 3);
    // Only the user's choice of a tab changes the title; a never-saved list has no name.
    m_main->PageControl1Change(0);
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - "));
    m_main->PageControl1Change(1);
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - Groceries"));
    trigger(QStringLiteral("CloseAll1"));
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - Groceries"));
}

void TestMainWindow::unsavedMarks() {
    trigger(QStringLiteral("actNew"));
    QCOMPARE(tabText(0), QStringLiteral("New *"));
    QCOMPARE(view()->StatusPanelText(1), QStringLiteral("Unsaved"));
    QVERIFY(view()->IsNew());
    const QString target = m_folder->filePath(QStringLiteral("Week.2.cv1"));
    m_prompt->saveNames << target;
    trigger(QStringLiteral("actSave")); // never saved: runs Save As
    QCOMPARE(tabText(0), QStringLiteral("Week.2"));
    QCOMPARE(view()->StatusPanelText(1), QStringLiteral("Saved"));
    QCOMPARE(view()->ListFileName(), target);
    QVERIFY(view()->IsNew());
    addTask(view(), QStringLiteral("a"));
    view()->MarkUnsaved();
    QCOMPARE(tabText(0), QStringLiteral("Week.2 *"));
    view()->cdsTasks()->first(); // moving empties the state word
    QCOMPARE(view()->StatusPanelText(1), QString());
    QCOMPARE(view()->StatusPanelText(0), QStringLiteral("Items 1"));
    trigger(QStringLiteral("actSave"));
    QCOMPARE(tabText(0), QStringLiteral("Week.2"));
    QVERIFY(!view()->Unsaved());
    // The file holds the task.
    DataTable check;
    DataPacket::LoadFromFile(check, target);
    QCOMPARE(check.recordCount(), 1);
}

void TestMainWindow::newThenClose_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes saves and closes") << true;
    QTest::newRow("No closes") << false;
}

void TestMainWindow::newThenClose() {
    QFETCH(bool, yes);
    trigger(QStringLiteral("actNew"));
    m_prompt->answers << yes;
    const QString target = m_folder->filePath(QStringLiteral("Chosen.cv1"));
    m_prompt->saveNames << target;
    trigger(QStringLiteral("actClose"));
    QCOMPARE(m_prompt->questions, QStringList{"Save changes ?"});
    if (!yes) {
        QCOMPARE(m_main->PageControl()->count(), 0);
        QVERIFY(m_prompt->saveRequests.isEmpty());
        return;
    }
    QCOMPARE(m_prompt->saveRequests.size(), 1);
    QCOMPARE(m_prompt->saveRequests.first().filter,
             QStringLiteral("Corvantis|*.cv1|All Files (*.*)|*.*"));
    QCOMPARE(m_main->PageControl()->count(), 0);
    QVERIFY(QFile::exists(target));
    QVERIFY(recorded(target));
}

void TestMainWindow::closeAsksForEveryUnsavedList() {
    const QString file = makeList(QStringLiteral("Home.cv1"), 2);
    m_prompt->openNames << file;
    trigger(QStringLiteral("actOpen"));
    QCOMPARE(tabText(0), QStringLiteral("Home"));
    addTask(view(), QStringLiteral("new one"));
    view()->MarkUnsaved();
    m_prompt->answers << true;
    trigger(QStringLiteral("CloseTab1"));
    QCOMPARE(m_prompt->questions, QStringList{"Save changes ?"});
    QCOMPARE(m_main->PageControl()->count(), 0); // saved and closed
    DataTable check;
    DataPacket::LoadFromFile(check, file);
    QCOMPARE(check.recordCount(), 3);
}

void TestMainWindow::saveAsOverExistingFile_data() {
    QTest::addColumn<bool>("overwrite");
    QTest::newRow("Yes") << true;
    QTest::newRow("No") << false;
}

void TestMainWindow::saveAsOverExistingFile() {
    QFETCH(bool, overwrite);
    const QString existing = makeList(QStringLiteral("Existing.cv1"), 3);
    const QByteArray before = ReadFileBytes(existing);
    trigger(QStringLiteral("actNew"));
    m_prompt->saveNames << existing;
    m_prompt->answers << overwrite;
    trigger(QStringLiteral("actSaveAs"));
    QCOMPARE(m_prompt->questions, QStringList{"File already exists! Overwrite ?"});
    QCOMPARE(ReadFileBytes(existing) == before, !overwrite);
    QCOMPARE(tabText(0), overwrite ? QStringLiteral("Existing") : QStringLiteral("New *"));
    QCOMPARE(recorded(existing), overwrite);
}

void TestMainWindow::exitWithTwoUnsavedAnsweredNo() {
    trigger(QStringLiteral("actNew"));
    trigger(QStringLiteral("actNew"));
    m_prompt->answers << false << false;
    trigger(QStringLiteral("actExit"));
    QCOMPARE(m_prompt->questions,
             (QStringList{"New * - Save changes ?", "New * - Save changes ?"}));
    QVERIFY(!m_main->isVisible());
    QVERIFY(m_prompt->saveRequests.isEmpty());
}

void TestMainWindow::exitWithNeverSavedListCancelled() {
    trigger(QStringLiteral("actNew"));
    m_prompt->answers << true;
    trigger(QStringLiteral("actExit")); // the save dialog is cancelled (no name queued)
    QCOMPARE(m_prompt->saveRequests.size(), 1);
    QVERIFY(m_main->isVisible());
    QVERIFY(view()->Unsaved());
}

void TestMainWindow::closeBoxAsksLikeExit() {
    trigger(QStringLiteral("actNew"));
    m_prompt->answers << true;
    QVERIFY(!m_main->close()); // Yes, then the save dialog is cancelled: keeps running
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_prompt->questions, QStringList{"New * - Save changes ?"});
    const QString target = m_folder->filePath(QStringLiteral("Kept.cv1"));
    m_prompt->answers << true;
    m_prompt->saveNames << target;
    QVERIFY(m_main->close());
    QVERIFY(QFile::exists(target));
    QVERIFY(recorded(target));
}

// One stray byte in a UTF-8 list leaves the rest UTF-8, and the user is told, naming the file.
void TestMainWindow::strayByteIsToldOnce() {
    const QString file = makeList(QStringLiteral("Stray.cv1"), 1);
    QByteArray bytes = ReadFileBytes(file);
    bytes.replace("task 1", "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xff");
    QVERIFY(WriteFileBytes(file, bytes));
    m_prompt->openNames << file;
    trigger(QStringLiteral("actOpen"));
    QCOMPARE(view()->cdsTasks()->asString(TaskRecord::Task),
             QStringLiteral("caf\u00e9 \u65e5\u672c \u00ff"));
    QCOMPARE(m_prompt->notices.size(), 1);
    QVERIFY(m_prompt->notices.first().contains(QStringLiteral("Stray.cv1")));
}

void TestMainWindow::textBoxKeepsItsUndoKeys_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QKeySequence>("keys");
    for (const char* box : {"edSearch", "Edit2"}) {
        QTest::addRow("%s undo", box)
            << QString::fromLatin1(box) << QKeySequence(QKeySequence::Undo);
        QTest::addRow("%s redo", box)
            << QString::fromLatin1(box) << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
        QTest::addRow("%s ctrl+y", box)
            << QString::fromLatin1(box) << QKeySequence(Qt::CTRL | Qt::Key_Y);
    }
}

// Undo typed into a text box undoes the typing, and nothing of the list once the typing is gone.
void TestMainWindow::textBoxKeepsItsUndoKeys() {
    QFETCH(QString, box);
    QFETCH(QKeySequence, keys);
    trigger(QStringLiteral("actNew"));
    addTask(view(), QStringLiteral("A"));
    addTask(view(), QStringLiteral("B"));
    trigger(QStringLiteral("actUndo"));
    m_main->show();
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    auto* edit = view()->findChild<QLineEdit*>(box);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("abc"));
    for (int i = 0; i < 3; ++i)
        QTest::keySequence(edit, keys);
    QCOMPARE(view()->cdsTasks()->recordCount(), 1);
    QVERIFY(action(QStringLiteral("actRedo"))->isEnabled()); // B's add is still to be redone
}

void TestMainWindow::saveQuestionDismissedKeepsTheList_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("dismissal");
    for (const char* command : {"actClose", "actExit", "closeBox"})
        for (const char* dismissal : {"escape", "close"})
            QTest::addRow("%s %s", command, dismissal)
                << QString::fromLatin1(command) << QString::fromLatin1(dismissal);
}

// The real question box: Escape or its close box is Cancel, never No.
void TestMainWindow::saveQuestionDismissedKeepsTheList() {
    QFETCH(QString, command);
    QFETCH(QString, dismissal);
    m_prompt->openNames << makeList(QStringLiteral("Kept.cv1"), 1);
    trigger(QStringLiteral("actOpen"));
    addTask(view(), QStringLiteral("typed"));
    m_main->show();
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    Prompt::SetBackend(nullptr);
    QString asked;
    QTimer::singleShot(0, m_main.get(), [&] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        asked = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text();
        CloseBy(*box, dismissal);
    });
    if (command == u"closeBox")
        QVERIFY(!m_main->close());
    else
        trigger(command);
    Prompt::SetBackend(m_prompt.get());
    QVERIFY(asked.endsWith(QStringLiteral("Save changes ?")));
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_main->PageControl()->count(), 1);
    QVERIFY(view()->Unsaved());
    QCOMPARE(tabText(0), QStringLiteral("Kept *"));
}

void TestMainWindow::closeAllStopsAtFailingSave() {
    QStringList files;
    for (const char* name : {"A.cv1", "B.cv1", "C.cv1"}) {
        files << makeList(QString::fromLatin1(name), 1);
        m_prompt->openNames << files.last();
        trigger(QStringLiteral("actOpen"));
        addTask(view(), QStringLiteral("more"));
        view()->MarkUnsaved();
    }
    // B's file can no longer be written: a folder took its name (the overwrite is confirmed).
    QVERIFY(QFile::remove(files[1]) && QDir().mkdir(files[1]));
    m_prompt->answers << true;
    trigger(QStringLiteral("CloseAll1"));
    QCOMPARE(m_prompt->errors.size(), 1);
    QVERIFY(m_prompt->errors.first().startsWith(QStringLiteral("Cannot create file")));
    m_prompt->errors.clear();
    QCOMPARE(m_main->PageControl()->count(), 2);
    QCOMPARE(tabText(0), QStringLiteral("A *"));
    QCOMPARE(tabText(1), QStringLiteral("B *"));
    QVERIFY(recorded(files[2]));
}

void TestMainWindow::closeAllAsksForNeverSavedList() {
    const QString file = makeList(QStringLiteral("Left.cv1"), 1);
    m_prompt->openNames << file;
    trigger(QStringLiteral("actOpen"));
    trigger(QStringLiteral("actNew"));
    trigger(QStringLiteral("CloseAll1")); // the save dialog is cancelled
    QCOMPARE(m_prompt->saveRequests.size(), 1);
    QCOMPARE(m_main->PageControl()->count(), 2);
    const QString target = m_folder->filePath(QStringLiteral("Named.cv1"));
    m_prompt->saveNames << target;
    trigger(QStringLiteral("CloseAll1"));
    QCOMPARE(m_main->PageControl()->count(), 0);
    QVERIFY(QFile::exists(target));
    QVERIFY(recorded(target));
}

void TestMainWindow::sameFileTwice() {
    const QString file = makeList(QStringLiteral("Twice.cv1"), 2);
    m_prompt->openNames << file << file;
    trigger(QStringLiteral("actOpen"));
    trigger(QStringLiteral("actOpen"));
    QCOMPARE(m_main->PageControl()->count(), 2);
    QCOMPARE(tabText(0), tabText(1));
    addTask(view(), QStringLiteral("only in the second"));
    auto* first = m_main->PageControl()->widget(0)->findChild<TfrTasks*>();
    QCOMPARE(first->cdsTasks()->recordCount(), 2);
    QCOMPARE(view()->cdsTasks()->recordCount(), 3);
    QCOMPARE(m_main->ReOpenWindow()->cdsFiles().recordCount(), 1);
}

void TestMainWindow::recentListsAtTheListedMoments() {
    const QString opened = makeList(QStringLiteral("Opened.cv1"), 1);
    const QString linked = makeList(QStringLiteral("Linked.cv1"), 1);
    trigger(QStringLiteral("actNew"));
    QCOMPARE(m_main->ReOpenWindow()->cdsFiles().recordCount(), 0);
    m_main->OpenTaskList(linked);
    QVERIFY(!recorded(linked));
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - Linked"));
    m_prompt->openNames << opened;
    trigger(QStringLiteral("actOpen"));
    QVERIFY(recorded(opened));
    const QString savedAs = m_folder->filePath(QStringLiteral("SavedAs.cv1"));
    m_prompt->saveNames << savedAs;
    trigger(QStringLiteral("actSaveAs"));
    QVERIFY(recorded(savedAs));
    // Save of the linked list records it.
    m_main->PageControl()->setCurrentIndex(1);
    trigger(QStringLiteral("actSave"));
    QVERIFY(recorded(linked));
    QCOMPARE(m_main->ReOpenWindow()->cdsFiles().recordCount(), 3);
}

void TestMainWindow::missingFileBuildsNoTab() {
    const QString missing = m_folder->filePath(QStringLiteral("Gone.cv1"));
    m_prompt->openNames << missing;
    trigger(QStringLiteral("actOpen"));
    QCOMPARE(
        m_prompt->errors,
        QStringList{
            QStringLiteral("Cannot open file \"%1\". No such file or directory.").arg(missing)});
    m_prompt->errors.clear();
    QCOMPARE(m_main->PageControl()->count(), 0);
    QVERIFY(!recorded(missing));
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis"));
}

void TestMainWindow::unreadableFileBuildsNoTab_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Open") << "Open";
    QTest::newRow("Reopen") << "Reopen";
    QTest::newRow("linked list") << "linked";
}

void TestMainWindow::unreadableFileBuildsNoTab() {
    QFETCH(QString, how);
    const QString bad = m_folder->filePath(QStringLiteral("Bad.cv1"));
    QVERIFY(WriteFileBytes(bad, "hello"));
    trigger(QStringLiteral("actNew"));
    if (how == u"Open") {
        m_prompt->openNames << bad;
        trigger(QStringLiteral("actOpen"));
    } else if (how == u"Reopen") {
        m_main->ReOpenWindow()->AddRecent(bad);
        QTimer::singleShot(0, [this] {
            m_main->ReOpenWindow()->cdsFiles().first();
            m_main->ReOpenWindow()->btnOpenClick();
        });
        trigger(QStringLiteral("actReopen"));
    } else {
        RunGuarded([&] { m_main->OpenTaskList(bad); });
    }
    QCOMPARE(m_prompt->errors, QStringList{"Mismatch in datapacket."});
    m_prompt->errors.clear();
    QVERIFY(!QApplication::overrideCursor()); // the busy cursor is gone after the failure
    QCOMPARE(m_main->PageControl()->count(), 1);
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - New"));
    QCOMPARE(recorded(bad), how == u"Reopen"); // Reopen's file was recorded before
    QCOMPARE(view()->Caption(), QStringLiteral("New *"));
}

void TestMainWindow::onlyChoosingATabRetitles() {
    m_prompt->openNames << makeList(QStringLiteral("Alpha.cv1"), 1)
                        << makeList(QStringLiteral("Beta.cv1"), 1);
    trigger(QStringLiteral("actOpen"));
    trigger(QStringLiteral("actOpen"));
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    QTabBar* bar = m_main->PageControl()->tabBar();
    const auto click = [bar](int index, Qt::MouseButton button) {
        QTest::mouseClick(bar, button, {}, bar->tabRect(index).center());
    };
    // A right click on the other tab opens the tab menu and changes nothing else.
    click(0, Qt::RightButton);
    QCOMPARE(m_main->PageControl()->currentIndex(), 1);
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - Beta"));
    m_main->findChild<QMenu*>(QStringLiteral("pmTabRightClick"))->hide();
    // Save As leaves the title alone, and so does a click on the tab already active.
    m_prompt->saveNames << m_folder->filePath(QStringLiteral("Gamma.cv1"));
    trigger(QStringLiteral("actSaveAs"));
    click(1, Qt::LeftButton);
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - Beta"));
    // The user's choice of another tab, by mouse or keyboard, names its list.
    click(0, Qt::LeftButton);
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - Alpha"));
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Right);
    QCOMPARE(m_main->PageControl()->currentIndex(), 1);
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - Gamma"));
}

void TestMainWindow::everyNewTabFocusesQuickAdd_data() {
    QTest::addColumn<QString>("command");
    for (const char* command : {"actNew", "actOpen", "actReopen", "linked"})
        QTest::newRow(command) << command;
}

void TestMainWindow::everyNewTabFocusesQuickAdd() {
    QFETCH(QString, command);
    const QString file = makeList(QStringLiteral("Chores.cv1"), 1);
    m_main->ReOpenWindow()->AddRecent(file);
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    trigger(QStringLiteral("actNew"));
    if (command == u"linked") {
        m_main->OpenTaskList(file);
    } else {
        m_prompt->openNames << file;
        if (command == u"actReopen")
            WhenShown(m_main->ReOpenWindow(), [this] {
                m_main->ReOpenWindow()->cdsFiles().first();
                m_main->ReOpenWindow()->btnOpenClick();
            });
        trigger(command);
    }
    QCOMPARE(m_main->PageControl()->count(), 2);
    // The window system gives the activation back to the main window once the Reopen window
    // has gone; the offscreen platform leaves that to the test.
    m_main->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), m_main.get());
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus);
    QCOMPARE(focus->objectName(), QStringLiteral("Edit2"));
    QVERIFY(view()->isAncestorOf(focus));
    // What the user types goes in as a task.
    QTest::keyClicks(focus, QStringLiteral("Buy milk"));
    QTest::keyClick(focus, Qt::Key_Return);
    QCOMPARE(view()->cdsTasks()->recordCount(), command == u"actNew" ? 1 : 2);
}

void TestMainWindow::markUnsavedWithoutPage() {
    TfrTasks loose;
    loose.InitList(QStringLiteral("New"), true);
    QCOMPARE(m_prompt->notices, QStringList{"Cannot set unsaved"});
    QVERIFY(loose.Unsaved());
    QCOMPARE(loose.StatusPanelText(1), QStringLiteral("Unsaved"));
}

void TestMainWindow::explorerPath() {
    const QString file = makeList(QStringLiteral("Where.cv1"), 1);
    m_prompt->openNames << file;
    trigger(QStringLiteral("actOpen"));
    trigger(QStringLiteral("ExplorerPath1"));
    QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(m_folder->path() + u'/')});
}

void TestMainWindow::secondaryWindowsInStartUpOrder() {
    QStringList classes;
    for (QObject* child : m_main->children())
        if (child->inherits("QDialog") || child->inherits("TQRptTasks"))
            classes << QString::fromLatin1(child->metaObject()->className());
    QCOMPARE(classes,
             (QStringList{"TfrmReOpen", "TfrmAbout", "TfrmProgress", "TfrmComments",
                          "TfrmDateSelect", "TfrmBatchImport", "TfrmCategories", "TfrmDetails",
                          "TfrmURL", "TfrmHistory", "TfrmDeletedTasks", "TfrmRepeat", "TQRptTasks",
                          "TfrmReminders", "TfrmSyncSettings", "TfrmParentTask"}));
}

// The Edit and Search menus run the active view's commands.
void TestMainWindow::listCommandsReachTheView() {
    const QString file = makeList(QStringLiteral("Search.cv1"), 3);
    m_prompt->openNames << file;
    trigger(QStringLiteral("actOpen"));
    auto* search = view()->findChild<QLineEdit*>(QStringLiteral("edSearch"));
    QVERIFY(search);
    search->setText(QStringLiteral("task 2"));
    trigger(QStringLiteral("ApplyFilter1"));
    QCOMPARE(view()->cdsTasks()->recordCount(), 1);
    trigger(QStringLiteral("CancelFilter1"));
    QCOMPARE(view()->cdsTasks()->recordCount(), 3);
    QVERIFY(search->text().isEmpty());
    // Details over the current task, closed without a change.
    QString shown;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        shown = modal ? QString::fromLatin1(modal->metaObject()->className()) : QString();
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
    trigger(QStringLiteral("DetailView1"));
    QCOMPARE(shown, QStringLiteral("TfrmDetails"));
    QVERIFY(!view()->Unsaved());
}

void TestMainWindow::importAndBatchInsert() {
    const QString source = makeList(QStringLiteral("Source.cv1"), 2);
    trigger(QStringLiteral("actNew"));
    m_prompt->openNames << source;
    trigger(QStringLiteral("tbImport"));
    QCOMPARE(m_prompt->openRequests.last().directory, m_main->ProgramFolder());
    QCOMPARE(view()->cdsTasks()->recordCount(), 2);
    QTimer::singleShot(0, [] {
        auto* window = qobject_cast<TfrmBatchImport*>(QApplication::activeModalWidget());
        QVERIFY(window);
        window->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))
            ->setPlainText(QStringLiteral("a\n\nb"));
        window->findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
    });
    trigger(QStringLiteral("ToolButton5"));
    QCOMPARE(view()->cdsTasks()->recordCount(), 4);
    QCOMPARE(view()->cdsTasks()->asString(TaskRecord::Task), QStringLiteral("b"));
}

void TestMainWindow::printTheActiveList() {
    const QString file = makeList(QStringLiteral("Printed.cv1"), 50);
    m_prompt->openNames << file;
    trigger(QStringLiteral("actOpen"));
    QString title;
    TQRptTasks::setPreviewRunnerForTesting(
        [&](QPrintPreviewDialog& dialog) { title = dialog.windowTitle(); });
    trigger(QStringLiteral("Print1"));
    TQRptTasks::setPreviewRunnerForTesting(nullptr);
    QCOMPARE(title, QStringLiteral("Tasks"));
    QCOMPARE(m_main->Report()->pageCount(), 2);
    QCOMPARE(view()->cdsTasks()->currentPosition(), 50);
    QVERIFY(!view()->Unsaved());
}

void TestMainWindow::standardKeys_data() {
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("entry"); // the menu entry that tells the key
    QTest::newRow("New") << QKeySequence(Qt::CTRL | Qt::Key_N) << "actNew"
                         << "actNew";
    QTest::newRow("Open") << QKeySequence(Qt::CTRL | Qt::Key_O) << "actOpen"
                          << "actOpen";
    QTest::newRow("Save") << QKeySequence(Qt::CTRL | Qt::Key_S) << "actSave"
                          << "actSave";
    QTest::newRow("Save As") << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S) << "actSaveAs"
                             << "actSaveAs";
    QTest::newRow("Close List") << QKeySequence(Qt::CTRL | Qt::Key_W) << "actClose"
                                << "Close1";
    QTest::newRow("Close Tab") << QKeySequence(Qt::CTRL | Qt::Key_W) << "actClose"
                               << "CloseTab1";
    QTest::newRow("Print") << QKeySequence(Qt::CTRL | Qt::Key_P) << "tbPrint"
                           << "Print1";
    QTest::newRow("Quit") << QKeySequence(Qt::CTRL | Qt::Key_Q) << "actExit"
                          << "Exit1";
    QTest::newRow("F10") << QKeySequence(Qt::Key_F10) << "actExit"
                         << "Exit1";
}

void TestMainWindow::standardKeys() {
    QFETCH(QKeySequence, key);
    QFETCH(QString, command);
    QFETCH(QString, entry);
    // The menu tells the key as a key (a screen reader reads it so), not in its text.
    QVERIFY(action(entry)->shortcuts().contains(key));
    QVERIFY2(!action(entry)->text().contains(u'\t'), qPrintable(action(entry)->text()));
    QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    QSignalSpy ran(action(command), &QAction::triggered);
    QTest::keySequence(m_main.get(), key);
    QCOMPARE(ran.size(), 1);
    // With no list open: the list commands say so, Exit ends.
    m_prompt->errors.clear();
}

void TestMainWindow::gridKeysStayTheGrids() {
    // The grid's keys run the grid's commands; the main window takes none of them (Ctrl+H is
    // the History of both).
    trigger(QStringLiteral("actNew"));
    QList<QKeySequence> gridKeys;
    for (const QAction* entry : view()->findChild<QMenu*>(QStringLiteral("PopupMenu1"))->actions())
        gridKeys << entry->shortcuts();
    QVERIFY(gridKeys.size() >= 5);
    QStringList taken;
    for (const QAction* command : m_main->findChildren<QAction*>()) {
        if (view()->isAncestorOf(qobject_cast<QWidget*>(command->parent())) ||
            command->parent() == view() || command->objectName() == u"actHistory")
            continue;
        for (const QKeySequence& key : command->shortcuts())
            if (gridKeys.contains(key))
                taken << command->objectName() + u' ' + key.toString();
    }
    QVERIFY2(taken.isEmpty(), qPrintable(taken.join(u'\n')));
}

void TestMainWindow::menuAccelerators() {
    // Every menu and every entry has an Alt key of its own within its menu.
    const auto letters = [](const QList<QAction*>& entries) {
        QStringList faults;
        QList<QKeySequence> seen;
        for (const QAction* entry : entries) {
            if (entry->isSeparator())
                continue;
            const QKeySequence key = QKeySequence::mnemonic(entry->text());
            if (key.isEmpty() || seen.contains(key))
                faults << entry->text();
            seen << key;
        }
        return faults;
    };
    const QMenuBar* bar = m_main->menuBar();
    QStringList faults = letters(bar->actions());
    for (const QAction* title : bar->actions())
        faults << letters(title->menu()->actions());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

void TestMainWindow::startPageWhileNoListIsOpen() {
    const QString chores = makeList(QStringLiteral("Chores.cv1"), 2);
    const QString gone = makeList(QStringLiteral("Gone.cv1"), 1);
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    auto* page = m_main->findChild<QWidget*>(QStringLiteral("StartPage"));
    QVERIFY(page->isVisible());
    const auto button = [this](const char* name) {
        return m_main->findChild<QToolButton*>(QLatin1String(name));
    };
    QCOMPARE(button("btnStartNew")->text(), QStringLiteral("New (Ctrl+N)"));
    QCOMPARE(button("btnStartOpen")->text(), QStringLiteral("Open (Ctrl+O)"));
    QCOMPARE(button("btnStartReopen")->text(), QStringLiteral("Reopen"));
    // It runs the commands, and makes way for the first tab.
    m_prompt->openNames << chores;
    QTest::mouseClick(button("btnStartOpen"), Qt::LeftButton);
    QCOMPARE(m_main->PageControl()->count(), 1);
    QVERIFY(!page->isVisible());
    trigger(QStringLiteral("actClose"));
    QVERIFY(page->isVisible());

    // The lists used before that are still there, each opened with a click.
    m_main->ReOpenWindow()->AddRecent(gone);
    QVERIFY(QFile::remove(gone));
    page->hide();
    page->show();
    QVERIFY(!button("btnRecent2"));
    QVERIFY(button("btnRecent1")->text().startsWith(u"Chores"));
    QTest::mouseClick(button("btnRecent1"), Qt::LeftButton);
    QCOMPARE(tabText(0), QStringLiteral("Chores"));
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Corvantis - Chores"));
    QVERIFY(!page->isVisible());
}

void TestMainWindow::everyWindowFitsTheScreen_data() {
    QTest::addColumn<int>("window");
    for (int i = 0; i < EveryWindow().size(); ++i)
        QTest::newRow(EveryWindow()[i].name) << i;
}

// The offscreen screen (800 x 600) is smaller than the main window's first size: every window
// stands whole within the screen's free area, its title bar reachable.
void TestMainWindow::everyWindowFitsTheScreen() {
    QFETCH(int, window);
    const WindowShowing& showing = EveryWindow()[window];
    const QString list = m_folder->filePath(QStringLiteral("States.cv1"));
    QVERIFY(QFile::copy(QStringLiteral(CORVANTIS_TEST_DATA "/datapacket/task-history.cv1"), list));
    QFile(list).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    m_main.reset();
    m_main = StartCorvantis(m_folder->path() + u'/',
                            showing.withList ? QStringList{list} : QStringList{});
    QRect frame;
    QRect area;
    QVERIFY(WithWindowShown(*m_main, showing.command, [&](QWidget& shown) {
        frame = shown.frameGeometry();
        area = shown.screen()->availableGeometry();
    }));
    QVERIFY2(area.contains(frame), qPrintable(QStringLiteral("%1,%2 %3x%4 outside %5x%6")
                                                  .arg(frame.x())
                                                  .arg(frame.y())
                                                  .arg(frame.width())
                                                  .arg(frame.height())
                                                  .arg(area.width())
                                                  .arg(area.height())));
}

// No letter of a list's name becomes a key ("R&D" must not read "RD") in its tab, in the
// question that names it, or among the recent lists.
void TestMainWindow::listNamesShowAsTheyAre() {
    const QString file = makeList(QStringLiteral("R&D <v2>.cv1"), 1);
    m_prompt->openNames << file;
    trigger(QStringLiteral("actOpen"));
    QTabBar* tabs = m_main->PageControl()->tabBar();
    QVERIFY(QKeySequence::mnemonic(tabs->tabText(0)).isEmpty());
    QCOMPARE(QAccessible::queryAccessibleInterface(tabs)->child(0)->text(QAccessible::Name),
             QStringLiteral("R&D <v2>"));
    view()->MarkUnsaved();
    QVERIFY(QKeySequence::mnemonic(tabs->tabText(0)).isEmpty());
    m_prompt->answers << false;
    QVERIFY(m_main->QuerySaveAll()); // No: nothing saved, the program may end
    QCOMPARE(m_prompt->questions, QStringList{"R&D <v2> * - Save changes ?"});
    m_prompt->answers << false;
    trigger(QStringLiteral("actClose"));
    auto* recent = m_main->findChild<QToolButton*>(QStringLiteral("btnRecent1"));
    QVERIFY(recent);
    QVERIFY2(QKeySequence::mnemonic(recent->text()).isEmpty(), qPrintable(recent->text()));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
