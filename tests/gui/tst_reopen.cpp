#include "base/DatesAndClock.h"
#include "dialogs/ufrmReOpen.h"
#include "model/DataTable.h"
#include "storage/RecentLists.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "widgets/DesktopShell.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QDateTime Noon(QDate(2025, 3, 12), QTime(12, 0));

RecentLists* loadedStore(const QString& folder) {
    auto* store = new RecentLists(folder);
    store->LoadRecent();
    return store;
}

// The window on a store loaded from a program folder, as start-up makes them; the store goes
// with the window.
struct ReopenWindow : TfrmReOpen {
    explicit ReopenWindow(const QString& folder, QWidget* parent = nullptr)
        : TfrmReOpen(*loadedStore(folder), parent) {
        store().setParent(this);
    }
};

QTableView* grid(TfrmReOpen& window) {
    return window.findChild<QTableView*>(QStringLiteral("DBGrid1"));
}

QPushButton* button(TfrmReOpen& window, const char* name) {
    return window.findChild<QPushButton*>(QLatin1String(name));
}

QAction* action(TfrmReOpen& window, const char* name) {
    return window.findChild<QAction*>(QLatin1String(name));
}

QLineEdit* filterBox(TfrmReOpen& window) {
    return window.findChild<QLineEdit*>(QStringLiteral("edFilter"));
}

QStringList shownFiles(TfrmReOpen& window) {
    QStringList files;
    const QAbstractItemModel* model = grid(window)->model();
    for (int row = 0; row < model->rowCount(); ++row)
        files << model->index(row, 0).data().toString();
    return files;
}

// Clicks the grid's row that shows the file.
void clickRow(TfrmReOpen& window, const QString& file) {
    const int row = shownFiles(window).indexOf(file);
    QVERIFY(row >= 0);
    QTableView* view = grid(window);
    const QRect cell = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(window.store().currentFile(), file);
}

// A program folder with list files; the names are added one minute apart, the first oldest.
struct Fixture {
    QTemporaryDir dir;
    QDateTime at = Noon;
    QString path(const QString& name) const { return dir.filePath(name); }
    void addLists(TfrmReOpen& window, const QStringList& names, bool create = true) {
        for (const QString& name : names) {
            if (create)
                QVERIFY(WriteFileBytes(path(name), "list"));
            PinLocaleAndClock(at);
            window.AddRecent(path(name));
            at = at.addSecs(60);
        }
        PinLocaleAndClock(at);
    }
};

} // namespace

class TestReopen : public QObject {
    Q_OBJECT
private slots:
    void init() { PinLocaleAndClock(Noon); }
    void cleanup() { DesktopShell::SetOpenerForTesting(nullptr); }
    void layout();
    void modelContract();
    void openFlow();
    void openMissingFile();
    void openWays_data();
    void openWays();
    void cancelWritesStore();
    void filterButton();
    void struckOutRows();
    void renameFromMenu_data();
    void renameFromMenu();
    void explorerFolder();
    void removeFromMenu();
    void menuWithoutRow();
    void addRecentFailure();
    void loadErrorShownOnce();
    void programEndWrite();
};

void TestReopen::layout() {
    Fixture f;
    ScriptedPrompt prompt;
    ReopenWindow window(f.dir.path());
    f.addLists(window, {"Home.cv1", "Work.cv1"});
    f.addLists(window, {"Gone.cv1"}, false);
    QCOMPARE(window.windowTitle(), QStringLiteral("Reopen"));
    QCOMPARE(window.size(), QSize(660, 437));
    QTableView* view = grid(window);
    QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Database File Name"));
    QCOMPARE(view->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Last Used"));
    QCOMPARE(view->columnWidth(0), 475);
    QVERIFY(view->verticalHeader()->isHidden());
    QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(view->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Filename"));
    QCOMPARE(button(window, "btnFilter")->text(), QStringLiteral("Filter"));
    QCOMPARE(button(window, "btnOpen")->text(), QStringLiteral("Open"));
    QCOMPARE(button(window, "btnCancel")->text(), QStringLiteral("Cancel"));
    QVERIFY(button(window, "btnOpen")->isDefault());
    const QMenu* menu = window.findChild<QMenu*>(QStringLiteral("pmGrid"));
    QStringList entries;
    for (const QAction* entry : menu->actions())
        entries << entry->text();
    QCOMPARE(entries, (QStringList{"Rename", "Explorer Folder", "Remove"}));
    QCOMPARE(window.cdsFiles().objectName(), QStringLiteral("cdsFiles"));
    // The Last Used column shows the locale's date and time.
    QCOMPARE(view->model()->index(0, 1).data().toString(),
             uGeneral::FormatDateTime(Noon.addSecs(120)));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.grab().save(QDir::temp().filePath(QStringLiteral("corvantis-reopen.png"))));
    window.hide();
}

void TestReopen::modelContract() {
    Fixture f;
    ScriptedPrompt prompt;
    ReopenWindow window(f.dir.path());
    QAbstractItemModelTester tester(grid(window)->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    f.addLists(window, {"a.cv1", "b.cv1", "c.cv1"});
    clickRow(window, f.path("a.cv1"));
    window.store().markCurrentUsed(); // a move to the top
    QCOMPARE(shownFiles(window).first(), f.path("a.cv1"));
    window.store().setFilterText(QStringLiteral("b."));
    QCOMPARE(shownFiles(window), QStringList{f.path("b.cv1")});
    window.store().setFilterText(QString());
    window.store().removeCurrent();
    QCOMPARE(shownFiles(window).size(), 2);
}

// Shown the way the main window shows it: exec, then SelectedFile.
void TestReopen::openFlow() {
    Fixture f;
    ScriptedPrompt prompt;
    QWidget owner;
    owner.resize(900, 700);
    owner.show();
    ReopenWindow window(f.dir.path(), &owner);
    f.addLists(window, {"Old.cv1", "Newer.cv1", "Newest.cv1"});
    QCOMPARE(shownFiles(window),
             (QStringList{f.path("Newest.cv1"), f.path("Newer.cv1"), f.path("Old.cv1")}));
    const QDateTime now = uGeneral::Now();
    QTimer::singleShot(0, &window, [&] {
        QCOMPARE(QApplication::activeModalWidget(), &window);
        clickRow(window, f.path("Old.cv1"));
        QTest::mouseClick(button(window, "btnOpen"), Qt::LeftButton);
    });
    QCOMPARE(window.exec(), int(QDialog::Accepted));
    QCOMPARE(window.SelectedFile(), f.path("Old.cv1"));
    QVERIFY(prompt.errors.isEmpty());
    // The row moved to the top with the time it was opened, and the store was written.
    QCOMPARE(shownFiles(window).first(), f.path("Old.cv1"));
    QCOMPARE(window.cdsFiles().asDateTime(QStringLiteral("LastUsed")), now);
    RecentLists reread(f.dir.path());
    QCOMPARE(reread.LoadRecent(), QString());
    QCOMPARE(reread.currentFile(), f.path("Old.cv1"));
    // Kept between showings: the current row and SelectedFile.
    QCOMPARE(window.store().currentFile(), f.path("Old.cv1"));
    QTimer::singleShot(0, &window, [&] { window.reject(); });
    QCOMPARE(window.exec(), int(QDialog::Rejected));
    QCOMPARE(window.SelectedFile(), f.path("Old.cv1"));
}

void TestReopen::openMissingFile() {
    Fixture f;
    ScriptedPrompt prompt;
    ReopenWindow window(f.dir.path());
    f.addLists(window, {"Here.cv1"});
    f.addLists(window, {"Gone.cv1"}, false);
    window.show();
    clickRow(window, f.path("Gone.cv1"));
    const QDateTime before = window.cdsFiles().asDateTime(QStringLiteral("LastUsed"));
    PinLocaleAndClock(Noon.addDays(1));
    QTest::mouseClick(button(window, "btnOpen"), Qt::LeftButton);
    QCOMPARE(prompt.errors, QStringList{"File does not exist in folder."});
    QCOMPARE(window.result(), int(QDialog::Rejected));
    QVERIFY(!window.isVisible());
    QCOMPARE(window.SelectedFile(), QString());
    QCOMPARE(window.cdsFiles().asDateTime(QStringLiteral("LastUsed")), before);

    // With no row at all: the same message, nothing chosen.
    ReopenWindow empty(f.path("other"));
    empty.show();
    QTest::mouseClick(button(empty, "btnOpen"), Qt::LeftButton);
    QCOMPARE(prompt.errors.size(), 2);
    QCOMPARE(empty.result(), int(QDialog::Rejected));
}

void TestReopen::openWays_data() {
    QTest::addColumn<QString>("way");
    QTest::newRow("double click") << "double click";
    QTest::newRow("Enter in the grid") << "enter grid";
    QTest::newRow("Enter in the filter box") << "enter filter";
}

void TestReopen::openWays() {
    QFETCH(QString, way);
    Fixture f;
    ScriptedPrompt prompt;
    ReopenWindow window(f.dir.path());
    f.addLists(window, {"One.cv1", "Two.cv1"});
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    clickRow(window, f.path("One.cv1"));
    QTableView* view = grid(window);
    if (way == QLatin1String("double click")) {
        const QRect cell = view->visualRect(view->model()->index(1, 0));
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    } else if (way == QLatin1String("enter grid")) {
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Return);
    } else {
        filterBox(window)->setFocus();
        QTest::keyClick(filterBox(window), Qt::Key_Return);
    }
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QCOMPARE(window.SelectedFile(), f.path("One.cv1"));
    QVERIFY(prompt.errors.isEmpty());
}

void TestReopen::cancelWritesStore() {
    Fixture f;
    ScriptedPrompt prompt;
    ReopenWindow window(f.dir.path());
    f.addLists(window, {"a.cv1"});
    QVERIFY(!QFile::exists(window.store().fileName()));
    window.show();
    QTest::mouseClick(button(window, "btnCancel"), Qt::LeftButton);
    QCOMPARE(window.result(), int(QDialog::Rejected));
    QVERIFY(QFile::exists(window.store().fileName()));
    // The close box too, and a write that fails is not reported.
    ReopenWindow lost(f.path("gone"));
    lost.AddRecent(f.path("a.cv1"));
    lost.show();
    lost.close();
    QVERIFY(!lost.isVisible());
    QVERIFY(prompt.errors.isEmpty() && prompt.notices.isEmpty());
}

void TestReopen::filterButton() {
    Fixture f;
    ScriptedPrompt prompt;
    ReopenWindow window(f.dir.path());
    f.addLists(window, {"Work.cv1", "work2.cv1", "Home.cv1"});
    window.show();
    QTest::keyClicks(filterBox(window), QStringLiteral("Work"));
    QTest::mouseClick(button(window, "btnFilter"), Qt::LeftButton);
    QCOMPARE(shownFiles(window), QStringList{f.path("Work.cv1")});
    QCOMPARE(window.store().currentFile(), f.path("Work.cv1"));
    // Kept after the window closes and when it is shown again.
    QTest::mouseClick(button(window, "btnCancel"), Qt::LeftButton);
    window.show();
    QCOMPARE(filterBox(window)->text(), QStringLiteral("Work"));
    QCOMPARE(shownFiles(window), QStringList{f.path("Work.cv1")});
    filterBox(window)->clear();
    QTest::mouseClick(button(window, "btnFilter"), Qt::LeftButton);
    QCOMPARE(shownFiles(window).size(), 3);
    QVERIFY(prompt.errors.isEmpty());
}

// The decision is made when a cell is painted, so a file deleted meanwhile shows struck out.
void TestReopen::struckOutRows() {
    Fixture f;
    ScriptedPrompt prompt;
    ReopenWindow window(f.dir.path());
    f.addLists(window, {"Here.cv1", "Soon gone.cv1"});
    f.addLists(window, {"Gone.cv1"}, false);
    QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("Folder.cv1")));
    window.AddRecent(f.path("Folder.cv1"));
    const QAbstractItemModel* model = grid(window)->model();
    auto struck = [&](const QString& name) {
        const int row = shownFiles(window).indexOf(f.path(name));
        const bool first = TfrmReOpen::cellStruckOut(model->index(row, 0));
        // Both columns alike.
        return first && TfrmReOpen::cellStruckOut(model->index(row, 1)) ? 1 : (first ? -1 : 0);
    };
    QCOMPARE(struck(QStringLiteral("Here.cv1")), 0);
    QCOMPARE(struck(QStringLiteral("Gone.cv1")), 1);
    QCOMPARE(struck(QStringLiteral("Folder.cv1")), 1);

    // The same cells painted before and after their file goes: the line through the text appears.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTableView* view = grid(window);
    const int row = shownFiles(window).indexOf(f.path("Soon gone.cv1"));
    const auto cells = [&] {
        const QImage image = view->viewport()->grab().toImage();
        return std::make_pair(image.copy(view->visualRect(model->index(row, 0))),
                              image.copy(view->visualRect(model->index(row, 1))));
    };
    QCOMPARE(struck(QStringLiteral("Soon gone.cv1")), 0);
    const auto before = cells();
    QVERIFY(QFile::remove(f.path("Soon gone.cv1")));
    QCOMPARE(struck(QStringLiteral("Soon gone.cv1")), 1);
    const auto after = cells();
    QVERIFY(before.first != after.first);
    QVERIFY(before.second != after.second);
}

void TestReopen::renameFromMenu_data() {
    QTest::addColumn<QString>("answer"); // "{dir}" stands for the program folder
    QTest::addColumn<bool>("taken");     // the new name is in use already
    QTest::addColumn<QString>("row");    // the row's file afterwards
    QTest::addColumn<bool>("error");

    QTest::newRow("renamed") << "{dir}/Renamed.cv1" << false << "{dir}/Renamed.cv1" << false;
    QTest::newRow("cancelled: the starting text comes back")
        << "<cancel>" << false << "{dir}/List.cv1" << false;
    QTest::newRow("name in use: reported, old name kept")
        << "{dir}/Taken.cv1" << true << "{dir}/List.cv1" << true;
}

void TestReopen::renameFromMenu() {
    QFETCH(QString, answer);
    QFETCH(bool, taken);
    QFETCH(QString, row);
    QFETCH(bool, error);
    Fixture f;
    answer.replace(QStringLiteral("{dir}"), f.dir.path());
    row.replace(QStringLiteral("{dir}"), f.dir.path());
    if (taken)
        QVERIFY(WriteFileBytes(answer, "other"));
    ScriptedPrompt prompt;
    if (answer != QLatin1String("<cancel>"))
        prompt.inputs << answer;
    ReopenWindow window(f.dir.path());
    f.addLists(window, {"List.cv1", "Other.cv1"});
    window.show();
    clickRow(window, f.path("List.cv1"));
    action(window, "Rename1")->trigger();
    QCOMPARE(prompt.inputPrompts, QStringList{"Rename|Enter new name"});
    QCOMPARE(window.store().currentFile(), row);
    QVERIFY(QFile::exists(row));
    QCOMPARE(prompt.errors.size(), error ? 1 : 0);
    if (error) {
        QCOMPARE(prompt.errors.first(), QStringLiteral("Cannot rename file \"%1\" to \"%2\". "
                                                       "Destination file exists.")
                                            .arg(f.path("List.cv1"), answer));
    }
}

void TestReopen::explorerFolder() {
    Fixture f;
    ScriptedPrompt prompt;
    QStringList opened;
    DesktopShell::SetOpenerForTesting([&](const QUrl& url) { opened << url.toLocalFile(); });
    ReopenWindow window(f.dir.path());
    f.addLists(window, {"List.cv1"});
    window.show();
    action(window, "ExplorerFolder1")->trigger();
    QCOMPARE(opened, QStringList{f.dir.path() + u'/'});
}

void TestReopen::removeFromMenu() {
    Fixture f;
    ScriptedPrompt prompt;
    ReopenWindow window(f.dir.path());
    f.addLists(window, {"Keep.cv1", "Drop.cv1"});
    window.show();
    clickRow(window, f.path("Drop.cv1"));
    action(window, "Remove1")->trigger();
    QCOMPARE(shownFiles(window), QStringList{f.path("Keep.cv1")});
    QVERIFY(QFile::exists(f.path("Drop.cv1")));
    QVERIFY(prompt.questions.isEmpty());
}

// With no row to act on, the menu entries do nothing and show nothing.
void TestReopen::menuWithoutRow() {
    Fixture f;
    ScriptedPrompt prompt;
    QStringList opened;
    DesktopShell::SetOpenerForTesting([&](const QUrl& url) { opened << url.toLocalFile(); });
    ReopenWindow window(f.dir.path());
    f.addLists(window, {"Work.cv1"});
    window.show();
    QTest::keyClicks(filterBox(window), QStringLiteral("nothing"));
    QTest::mouseClick(button(window, "btnFilter"), Qt::LeftButton);
    QCOMPARE(shownFiles(window), QStringList{});
    action(window, "Rename1")->trigger();
    action(window, "ExplorerFolder1")->trigger();
    action(window, "Remove1")->trigger();
    QVERIFY(prompt.errors.isEmpty());
    QVERIFY(prompt.inputPrompts.isEmpty());
    QVERIFY(opened.isEmpty());
    QCOMPARE(window.cdsFiles().allRows().size(), std::size_t(1));
}

void TestReopen::addRecentFailure() {
    Fixture f;
    ScriptedPrompt prompt;
    ReopenWindow window(f.dir.path());
    window.cdsFiles().close();
    window.AddRecent(f.path("a.cv1"));
    QCOMPARE(prompt.notices.size(), 1);
    QVERIFY2(
        prompt.notices.first().startsWith(QStringLiteral("Error saving to recent: cdsFiles: ")),
        qPrintable(prompt.notices.first()));
    QVERIFY(prompt.errors.isEmpty());
}

void TestReopen::loadErrorShownOnce() {
    Fixture f;
    QVERIFY(WriteFileBytes(f.path("Recent.XML"), "hello"));
    ScriptedPrompt prompt;
    ReopenWindow window(f.dir.path());
    const QString message = QStringLiteral(
        "The recent lists in \"%1\" cannot be read (Mismatch in datapacket). The file was kept as "
        "\"%1.bak\", and the recent lists start empty.");
    QCOMPARE(prompt.errors, QStringList{message.arg(f.path("Recent.XML"))});
    QCOMPARE(window.store().loadError(), prompt.errors.first());
    QVERIFY(QFile::exists(f.path("Recent.XML.bak")));
    // The table works normally for the rest of the run.
    f.addLists(window, {"a.cv1"});
    QCOMPARE(shownFiles(window), QStringList{f.path("a.cv1")});
    QVERIFY(prompt.notices.isEmpty());
    QCOMPARE(prompt.errors.size(), 1);
    QVERIFY(window.writeRecentAtExit());
    ReopenWindow next(f.dir.path());
    QCOMPARE(prompt.errors.size(), 1);
    QCOMPARE(shownFiles(next), QStringList{f.path("a.cv1")});
}

// A first run without Recent.XML: lists recorded in this run reach the disk at program end even
// when the window was never opened.
void TestReopen::programEndWrite() {
    Fixture f;
    ScriptedPrompt prompt;
    {
        ReopenWindow window(f.dir.path());
        QVERIFY(window.writeRecentAtExit()); // nothing recorded: nothing written
        QVERIFY(!QFile::exists(f.path("Recent.XML")));
        f.addLists(window, {"First.cv1"});
        QVERIFY(window.writeRecentAtExit());
    }
    ReopenWindow next(f.dir.path());
    QCOMPARE(shownFiles(next), QStringList{f.path("First.cv1")});
}

QTEST_MAIN(TestReopen)
#include "tst_reopen.moc"
