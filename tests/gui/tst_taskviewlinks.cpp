#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "core/TaskListFixture.h"
#include "document/ListDocument.h"
#include "gui/ViewHost.h"
#include "widgets/DesktopShell.h"

#include <QAction>
#include <QApplication>
#include <QTemporaryDir>
#include <QToolButton>

using namespace TaskRecord;

// The links of a task and the commands that reach the program's other windows, with fake
// windows, a fake desktop opener and scripted file dialogs.
class TestTaskViewLinks : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { m_opened.clear(); }
    void linkFiles_data();
    void linkFiles();
    void dialogsStartWhereTheyEnded();
    void cancelledDialogChangesNothing();
    void linkOnEmptyList();
    void linkUrl();
    void openLinks_data();
    void openLinks();
    void openLinkedListTwice();
    void openFailureRestoresCursor();
    void windowsOfOtherParts();

private:
    void trigger(ViewHost& host, const QString& name) {
        if (auto* action = host.view->findChild<QAction*>(name)) {
            action->trigger();
            return;
        }
        QTest::mouseClick(host.child<QToolButton>(name), Qt::LeftButton);
    }

    QList<QUrl> m_opened;
    QList<bool> m_busyWhileOpening;
};

void TestTaskViewLinks::initTestCase() {
    PinLocaleAndClock();
    DesktopShell::SetOpenerForTesting([this](const QUrl& url) {
        m_opened << url;
        m_busyWhileOpening << (QApplication::overrideCursor() &&
                               QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    });
}

void TestTaskViewLinks::linkFiles_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("dated");
    QTest::newRow("context menu: related file") << "LinktoFile1"
                                                << "RelatedFile"
                                                << "All Files (*.*)|*.*" << false;
    QTest::newRow("toolbar: related file") << "tbLinkFile"
                                           << "RelatedFile"
                                           << "All Files (*.*)|*.*" << false;
    QTest::newRow("context menu: task list") << "Link1"
                                             << "LinkedList"
                                             << "Corvantis List|*.cv1" << false;
    QTest::newRow("toolbar: task list") << "ToolButton9"
                                        << "LinkedList"
                                        << "All Files (*.*)|*.*" << true;
}

void TestTaskViewLinks::linkFiles() {
    QFETCH(QString, command);
    QFETCH(QString, field);
    QFETCH(QString, filter);
    QFETCH(bool, dated);
    ViewHost host;
    host.add({"one", "two"});
    host.view->MarkSaved();
    host.prompt.openNames << QStringLiteral("/home/u/notes/plan.cv1");
    trigger(host, command);
    QCOMPARE(host.prompt.openRequests.size(), 1);
    QCOMPARE(host.prompt.openRequests.constFirst().filter, filter);
    QCOMPARE(host.table().asString(field), QStringLiteral("/home/u/notes/plan.cv1"));
    QCOMPARE(host.table().asDate(LastActioned), dated ? uGeneral::Today() : QDate());
    QVERIFY(!host.table().isEditing());
    QVERIFY(host.view->Unsaved());
    QCOMPARE(host.currentTask(), QStringLiteral("two"));
}

void TestTaskViewLinks::dialogsStartWhereTheyEnded() {
    ViewHost host;
    host.add({"one"});
    host.prompt.openNames << QStringLiteral("/a/b/file.txt") << QStringLiteral("/c/list.cv1")
                          << QString() << QString();
    host.view->LinktoFile1Click();
    host.view->Link1Click();
    host.view->ToolButton9Click(); // the all-files dialog again
    host.view->Link1Click();
    const QList<FileDialogRequest>& asked = host.prompt.openRequests;
    QCOMPARE(asked.size(), 4);
    QCOMPARE(asked.at(0).directory, QString());
    QCOMPARE(asked.at(1).directory, QString());
    QCOMPARE(asked.at(2).directory, QStringLiteral("/a/b/"));
    QCOMPARE(asked.at(3).directory, QStringLiteral("/c/"));
}

void TestTaskViewLinks::cancelledDialogChangesNothing() {
    ViewHost host;
    host.add({"one"});
    host.view->MarkSaved();
    host.view->LinktoFile1Click();
    host.view->ToolButton9Click();
    host.view->LinktoURL1Click(); // no URL window: nothing
    TaskViewServices services;
    services.askUrl = [] { return std::optional<QString>(); };
    host.view->SetServices(services);
    host.view->LinktoURL1Click();
    QVERIFY(host.table().isNull(RelatedFile));
    QVERIFY(host.table().isNull(LinkedList));
    QVERIFY(host.table().isNull(URL));
    QVERIFY(!host.view->Unsaved());
    QCOMPARE(host.view->StatusPanelText(1), QStringLiteral("Saved"));
}

void TestTaskViewLinks::linkOnEmptyList() {
    ViewHost host;
    host.prompt.openNames << QStringLiteral("/x/y.doc");
    host.view->LinktoFile1Click();
    QCOMPARE(host.table().recordCount(), 1);
    QCOMPARE(host.table().asString(RelatedFile), QStringLiteral("/x/y.doc"));
    QCOMPARE(host.table().asString(Status), QStringLiteral("Not Started"));
    QCOMPARE(host.table().asString(ID), QStringLiteral("1"));
}

void TestTaskViewLinks::linkUrl() {
    ViewHost host;
    host.add({"one"});
    host.view->MarkSaved();
    int asked = 0;
    TaskViewServices services;
    services.askUrl = [&] {
        ++asked;
        return std::optional<QString>(QStringLiteral("  example.org/page"));
    };
    host.view->SetServices(services);
    host.grid()->setFocus();
    QTest::keyClick(host.grid(), Qt::Key_U, Qt::ControlModifier);
    QCOMPARE(asked, 1);
    QCOMPARE(host.table().asString(URL), QStringLiteral("  example.org/page"));
    QVERIFY(host.view->Unsaved());
    QTest::mouseClick(host.child<QToolButton>(QStringLiteral("tbLinkURL")), Qt::LeftButton);
    QCOMPARE(asked, 2);
}

void TestTaskViewLinks::openLinks_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("opened"); // empty: nothing opened
    QTest::addColumn<QString>("asked");  // the question, answered Yes when something opens
    QTest::addColumn<QString>("error");  // a part of the error shown
    AddTextRows({
        {"related file, leading blanks", "OpenRelatedFile1", "RelatedFile", "  /tmp/a b.txt",
         "file:///tmp/a b.txt", "", ""},
        {"related file from the toolbar", "tbOpenFile", "RelatedFile", "/tmp/x.pdf",
         "file:///tmp/x.pdf", "", ""},
        {"empty related file", "OpenRelatedFile1", "RelatedFile", "", "", "", ""},
        {"url", "OpenURL1", "URL", "https://example.org/x", "https://example.org/x", "", ""},
        {"url from the toolbar", "tbOpenURL", "URL", " https://example.org/",
         "https://example.org/", "", ""},
        {"url of blanks", "OpenURL1", "URL", "   ", "", "", ""},
        {"related file beside the list", "OpenRelatedFile1", "RelatedFile", "notes/a.txt",
         "file:///lists/notes/a.txt", "", ""},
        {"other scheme refused", "OpenURL1", "URL", "javascript:alert(1)", "", "",
         "only http, https, ftp, mailto and file"},
        {"program declined", "OpenRelatedFile1", "RelatedFile", "/bin/sh", "",
         "/bin/sh runs a program. Open it anyway?", ""},
        {"launcher agreed", "OpenURL1", "URL", "file:///tmp/x.desktop", "file:///tmp/x.desktop",
         "/tmp/x.desktop runs a program. Open it anyway?", ""},
        // What the desktop runs through an interpreter, Java or Wine is a program too.
        {"script declined", "OpenRelatedFile1", "RelatedFile", "/tmp/tool.py", "",
         "/tmp/tool.py runs a program. Open it anyway?", ""},
        {"java archive declined", "OpenRelatedFile1", "RelatedFile", "/tmp/app.jar", "",
         "/tmp/app.jar runs a program. Open it anyway?", ""},
        {"windows program agreed", "OpenRelatedFile1", "RelatedFile", "/tmp/setup.exe",
         "file:///tmp/setup.exe", "/tmp/setup.exe runs a program. Open it anyway?", ""},
        {"data opens unasked", "OpenRelatedFile1", "RelatedFile", "/tmp/data.json",
         "file:///tmp/data.json", "", ""},
        {"nothing opens it", "OpenURL1", "URL", "mailto:a@example.org", "", "",
         "No program could open mailto:a@example.org."},
    });
}

void TestTaskViewLinks::openLinks() {
    QFETCH(QString, command);
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, opened);
    QFETCH(QString, asked);
    QFETCH(QString, error);
    ViewHost host;
    host.add({"one"});
    // The list is saved in a folder that stands for "/lists" in the rows.
    QTemporaryDir lists;
    host.view->document()->save(lists.filePath(QStringLiteral("Week.cv1")), true);
    opened.replace(QLatin1String("/lists"), lists.path());
    host.table().edit();
    host.table().setString(field, value);
    host.table().post();
    host.view->MarkSaved();
    m_busyWhileOpening.clear();
    host.prompt.answers << !opened.isEmpty();
    const bool fails = !error.isEmpty() && value.startsWith(QLatin1String("mailto"));
    if (fails)
        DesktopShell::SetOpenerForTesting([](const QUrl&) {}, false);
    trigger(host, command);
    if (fails)
        initTestCase();
    if (opened.isEmpty()) {
        QVERIFY(m_opened.isEmpty());
    } else {
        QCOMPARE(m_opened, QList<QUrl>{QUrl(opened)});
        QCOMPARE(m_busyWhileOpening, QList<bool>{true});
    }
    QCOMPARE(host.prompt.questions, asked.isEmpty() ? QStringList() : QStringList{asked});
    QCOMPARE(host.prompt.errors.size(), error.isEmpty() ? 0 : 1);
    if (!error.isEmpty())
        QVERIFY2(host.prompt.errors.first().contains(error),
                 qPrintable(host.prompt.errors.first()));
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!host.view->Unsaved());
}

void TestTaskViewLinks::openLinkedListTwice() {
    ViewHost host;
    host.add({"one"});
    QStringList lists;
    bool busy = false;
    TaskViewServices services;
    services.openTaskList = [&](const QString& fileName) {
        lists << fileName;
        busy = QApplication::overrideCursor() != nullptr;
    };
    host.view->SetServices(services);
    host.view->OpenLinkedTaskList1Click(); // nothing linked: nothing opened
    host.table().edit();
    host.table().setString(LinkedList, QStringLiteral(" /lists/other.cv1\t"));
    host.table().post();
    host.view->OpenLinkedTaskList1Click();
    QTest::mouseClick(host.child<QToolButton>(QStringLiteral("tbOpenList")), Qt::LeftButton);
    QCOMPARE(lists, (QStringList{"/lists/other.cv1", "/lists/other.cv1"}));
    QVERIFY(busy);
    QVERIFY(!QApplication::overrideCursor());
}

void TestTaskViewLinks::openFailureRestoresCursor() {
    ViewHost host;
    host.add({"one"});
    host.table().edit();
    host.table().setString(LinkedList, QStringLiteral("/gone.cv1"));
    host.table().post();
    TaskViewServices services;
    services.openTaskList = [](const QString&) {
        throw CorvantisError(QStringLiteral("Cannot open file \"/gone.cv1\"."));
    };
    host.view->SetServices(services);
    host.view->OpenLinkedTaskList1Click();
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(host.prompt.errors, QStringList{"Cannot open file \"/gone.cv1\"."});
}

void TestTaskViewLinks::windowsOfOtherParts() {
    ViewHost host;
    host.add({"one", "two"});
    int startedAt = -1;
    int details = 0;
    TaskViewServices services;
    services.askProgress = [&](int start) {
        startedAt = start;
        return 40;
    };
    services.askDate = [] {
        TaskCommands::DateSelection selection;
        selection.applied = true;
        selection.entry = 2; // Due Date
        selection.date = QDate(2025, 4, 1);
        return selection;
    };
    services.editComments = [](DataTable& table) {
        table.edit();
        table.setString(Comments, QStringLiteral("noted"));
    };
    services.showDetails = [&](DataTable&) { return ++details > 0; };
    host.view->SetServices(services);

    host.view->acSetProgressExecute();
    QCOMPARE(startedAt, 0);
    QCOMPARE(host.table().asString(Progress), QStringLiteral("40"));
    QCOMPARE(host.table().asString(Status), QStringLiteral("In progress"));
    QTest::mouseClick(host.child<QToolButton>(QStringLiteral("tbSetProgress")), Qt::LeftButton);
    QCOMPARE(startedAt, 40);

    QTest::mouseClick(host.child<QToolButton>(QStringLiteral("tbSetDate")), Qt::LeftButton);
    QCOMPARE(host.table().asDate(DueDate), QDate(2025, 4, 1));

    host.view->findChild<QAction*>(QStringLiteral("Comments1"))->trigger();
    QCOMPARE(host.table().asString(Comments), QStringLiteral("noted"));
    QVERIFY(!host.table().isEditing()); // what the window wrote was stored

    host.view->findChild<QAction*>(QStringLiteral("Details1"))->trigger();
    host.view->Details1Click();
    QCOMPARE(details, 2);
    QCOMPARE(host.currentTask(), QStringLiteral("two"));
}

QTEST_MAIN(TestTaskViewLinks)
#include "tst_taskviewlinks.moc"
