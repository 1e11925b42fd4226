#include "core/RunTool.h"
#include "core/TaskListFixture.h"
#include "dialogs/uFrmSyncSettings.h"
#include "document/ListDocument.h"
#include "document/TaskUndo.h"
#include "shell/ListSync.h"
#include "shell/Startup.h"
#include "shell/SyncCenter.h"
#include "shell/Unit1.h"
#include "storage/DataPacket.h"
#include "support/AwaitCall.h"
#include "support/DavServer.h"
#include "support/ScriptedHttpServer.h"
#include "support/ScriptedPrompt.h"
#include "sync/SyncPassword.h"
#include "sync/TrustedCertificates.h"
#include "view/uFrTasks.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

using namespace TaskRecord;

namespace {

constexpr int SyncMs = 60000;

// Runs steps once a modal window of that name is shown: a window opened from the program's own
// event loop (the keyring's answer, the network's) cannot be waited for from outside it.
void OnModal(const QString& name, std::function<void(QWidget*)> steps, bool* done) {
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, name, steps, done] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != name)
            return;
        poll->stop();
        poll->deleteLater();
        steps(modal);
        *done = true;
    });
    poll->start();
}

template <class T> T* Child(QWidget* window, const char* name) {
    auto* child = window->findChild<T*>(QLatin1String(name));
    if (!child)
        qFatal("no %s", name);
    return child;
}

} // namespace

// A list synced through the real windows with real servers and another program's client
// (python3-caldav): the settings window, Sync, the sync after a save, a true conflict asked in
// the Conflicts window, and failures that name the server and lose nothing. Runs with a keyring
// of its own (tests/support/keyring-session.sh).
class TestSyncWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listNeverSavedCannotSync();
    void setUpAndSyncBothWays_data() { ServerRows(); }
    void setUpAndSyncBothWays();
    void trueConflictAsked_data();
    void trueConflictAsked();
    void failuresNameTheServerAndLoseNothing_data();
    void failuresNameTheServerAndLoseNothing();
    void busyUntilCancelled();
    void calendarBelongsToItsAddress();
    void refusedPasswordNotKept();
    void plainHttpAskedFirst();
    void untrustedCertificateShown();
    void exportKeepsWhatSyncKeeps();

private:
    static void ServerRows() {
        QTest::addColumn<QString>("server");
        QTest::newRow("radicale") << QStringLiteral("radicale");
        QTest::newRow("xandikos") << QStringLiteral("xandikos");
    }
    bool startServer(const QString& server, const QByteArray& htpasswd = QByteArray());
    QAction* action(const char* name) const {
        return m_main->findChild<QAction*>(QLatin1String(name));
    }
    TfrTasks* view() const { return m_main->ActiveTaskView(); }
    ListSync* sync() const { return SyncCenter::SyncOf(view()); }
    QString makeList(const QString& name, const QStringList& tasks);
    // Sets the list up to sync with a calendar, as the settings window does: by default a new
    // calendar of the test's server.
    void configure(const QString& fileName, QUrl server = QUrl(), QUrl calendar = QUrl());
    void open(const QString& fileName);
    // Another program's client, on the calendar; its output.
    QString other(const QStringList& arguments, const QString& password = QStringLiteral("pw"));
    QString keptPassword();
    // Runs steps in the Sync Settings window opened on the active list, and waits for it.
    void inSettings(std::function<void(TfrmSyncSettings*)> steps);
    QStringList tasks() const;
    // The task's field, as the list holds it.
    QString valueOf(const QString& task, const QString& field) const;
    void edit(const QString& task, const QString& field, const QString& value);

    std::unique_ptr<DavServer> m_dav;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<ScriptedPrompt> m_prompt;
    std::unique_ptr<TfrmMain> m_main;
    QUrl m_calendar;
};

void TestSyncWindow::initTestCase() {
    PinLocaleAndClock();
}

void TestSyncWindow::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    m_prompt = std::make_unique<ScriptedPrompt>();
    m_main = StartCorvantis(m_folder->path() + u'/');
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
}

void TestSyncWindow::cleanup() {
    m_main.reset();
    m_prompt.reset();
    m_dav.reset();
    m_folder.reset();
}

bool TestSyncWindow::startServer(const QString& server, const QByteArray& htpasswd) {
    const DavServer::Kind kind = DavServer::KindNamed(server);
    if (DavServer::Program(kind).isEmpty())
        return false;
    m_dav = std::make_unique<DavServer>(kind, htpasswd);
    return m_dav->isRunning();
}

QString TestSyncWindow::makeList(const QString& name, const QStringList& texts) {
    TaskListFixture list;
    for (const QString& text : texts)
        list.add(QStringLiteral("Task=") + text + QStringLiteral("|Priority=Normal"));
    const QString fileName = m_folder->filePath(name);
    DataPacket::SaveToFile(list.table, fileName);
    return fileName;
}

void TestSyncWindow::configure(const QString& fileName, QUrl server, QUrl calendar) {
    if (server.isEmpty()) {
        CalDavClient client;
        client.setCredentials(QStringLiteral("test"), QStringLiteral("pw"));
        server = m_dav->root();
        calendar = AwaitCall<CalDavClient::Failure, CalDavClient::Calendar>([&](auto done) {
                       client.makeCalendar(m_dav->home(), QStringLiteral("Tasks"), done);
                   }).result.url;
    }
    m_calendar = calendar;
    SyncState state(fileName);
    SyncState::Settings settings;
    settings.server = server;
    settings.calendar = calendar;
    settings.userName = QStringLiteral("test");
    settings.enabled = true;
    state.setSettings(settings);
}

void TestSyncWindow::open(const QString& fileName) {
    m_prompt->openNames << fileName;
    action("actOpen")->trigger();
}

QString TestSyncWindow::other(const QStringList& arguments, const QString& password) {
    QProcess client;
    client.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(CORVANTIS_TEST_SUPPORT "/caldav-client.py"),
                             m_calendar.toString(), QStringLiteral("test"), password} +
                     arguments);
    if (!client.waitForFinished(60000) || client.exitCode() != 0)
        qWarning("the other client failed: %s", client.readAllStandardError().constData());
    return QString::fromUtf8(client.readAllStandardOutput()).trimmed();
}

QString TestSyncWindow::keptPassword() {
    return AwaitCall<QString, QString>([&](auto done) {
               SyncPassword::Read(SyncPassword::Key(QStringLiteral("test"), m_dav->root()),
                                  [done](const QString& error, bool, const QString& password) {
                                      done(error, password);
                                  });
           })
        .result;
}

void TestSyncWindow::inSettings(std::function<void(TfrmSyncSettings*)> steps) {
    bool done = false;
    OnModal(
        QStringLiteral("frmSyncSettings"),
        [&](QWidget* window) { steps(static_cast<TfrmSyncSettings*>(window)); }, &done);
    action("actSyncSettings")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(done, SyncMs);
}

QStringList TestSyncWindow::tasks() const {
    const DataTable& table = *view()->cdsTasks();
    QStringList texts;
    for (const DataTable::RowId row : table.allRows())
        texts << table.textOf(table.rowData(row), table.fieldIndex(Task));
    texts.sort();
    return texts;
}

QString TestSyncWindow::valueOf(const QString& task, const QString& field) const {
    const DataTable& table = *view()->cdsTasks();
    for (const DataTable::RowId row : table.allRows())
        if (table.textOf(table.rowData(row), table.fieldIndex(Task)) == task)
            return table.textOf(table.rowData(row), table.fieldIndex(field));
    return QStringLiteral("(no task %1)").arg(task);
}

void TestSyncWindow::edit(const QString& task, const QString& field, const QString& value) {
    DataTable& table = *view()->cdsTasks();
    for (const DataTable::RowId row : table.allRows())
        if (table.textOf(table.rowData(row), table.fieldIndex(Task)) == task) {
            table.goToRow(row);
            table.edit();
            table.setString(field, value);
            table.post();
            return;
        }
    QFAIL("no such task");
}

void TestSyncWindow::listNeverSavedCannotSync() {
    action("actNew")->trigger();
    action("actSync")->trigger();
    action("actSyncSettings")->trigger();
    QCOMPARE(
        m_prompt->errors,
        QStringList(
            2, QStringLiteral("Save the list first: a list syncs once it has a file of its own.")));
}

void TestSyncWindow::setUpAndSyncBothWays() {
    QFETCH(QString, server);
    if (!startServer(server))
        QSKIP("the CalDAV server is not installed (scripts/setup.sh installs it)");
    const QString list = makeList(QStringLiteral("Groceries.cv1"), {"Milk", "Bread"});
    open(list);
    QSignalSpy synced(sync(), &ListSync::finished);

    // The settings window: the server's address, found calendars, a new one chosen.
    bool set = false;
    OnModal(
        QStringLiteral("frmSyncSettings"),
        [&](QWidget* window) {
            auto* settings = static_cast<TfrmSyncSettings*>(window);
            Child<QLineEdit>(window, "edtServer")->setText(m_dav->root().toString());
            Child<QLineEdit>(window, "edtUserName")->setText(QStringLiteral("test"));
            Child<QLineEdit>(window, "edtPassword")->setText(QStringLiteral("pw"));
            QTest::mouseClick(Child<QPushButton>(window, "btnFindCalendars"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!settings->IsBusy(), SyncMs);
            QVERIFY2(settings->Status().contains(m_dav->root().authority()),
                     qPrintable(settings->Status()));
            m_prompt->inputs << QStringLiteral("Groceries");
            QTest::mouseClick(Child<QPushButton>(window, "btnNewCalendar"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!settings->IsBusy(), SyncMs);
            QCOMPARE(Child<QComboBox>(window, "cbCalendar")->currentText(),
                     QStringLiteral("Groceries"));
            Child<QCheckBox>(window, "cbEnabled")->setChecked(true);
            QTest::mouseClick(Child<QPushButton>(window, "btnOK"), Qt::LeftButton);
        },
        &set);
    action("actSyncSettings")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(set, SyncMs);
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 1, SyncMs);
    QVERIFY2(m_prompt->errors.isEmpty(), qPrintable(m_prompt->errors.join(u'\n')));
    m_calendar = sync()->settings().calendar;
    QCOMPARE(other({"list"}), QStringLiteral("Bread|5||\nMilk|5||"));
    // The password went to the keyring, nowhere else.
    const auto kept = AwaitCall<QString, QString>([&](auto done) {
        SyncPassword::Read(
            SyncPassword::Key(QStringLiteral("test"), m_dav->root()),
            [done](const QString& error, bool, const QString& password) { done(error, password); });
    });
    QCOMPARE(kept.result, QStringLiteral("pw"));

    // Another program edits one task and adds one; Sync brings them, as one undo step.
    other({"set", "Milk", "SUMMARY", "Milk, 2 litres"});
    other({"add", "Eggs", "1"});
    action("actSync")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 2, SyncMs);
    QCOMPARE(tasks(), QStringList({"Bread", "Eggs", "Milk, 2 litres"}));
    QCOMPARE(valueOf(QStringLiteral("Eggs"), Priority), High);
    QVERIFY(view()->Unsaved());
    QCOMPARE(action("actUndo")->text(), QStringLiteral("&Undo Sync"));
    QVERIFY(m_main->findChild<QLabel*>(QStringLiteral("lblSync"))->text().startsWith("Synced"));

    // An edit here goes with the sync after Save; what the other program wrote stays.
    edit(QStringLiteral("Eggs"), Priority, Low);
    action("actSave")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 3, SyncMs);
    QCOMPARE(other({"list"}), QStringLiteral("Bread|5||\nEggs|9||kept\nMilk, 2 litres|5||"));

    // Save As takes the sync along: the list syncs on under its new name, nothing twice.
    m_prompt->saveNames << m_folder->filePath(QStringLiteral("Shopping.cv1"));
    action("actSaveAs")->trigger();
    QSignalSpy moved(sync(), &ListSync::finished);
    edit(QStringLiteral("Bread"), Details, QStringLiteral("wholemeal"));
    action("actSync")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(moved.count(), 1, SyncMs);
    QCOMPARE(other({"list"}),
             QStringLiteral("Bread|5|wholemeal|\nEggs|9||kept\nMilk, 2 litres|5||"));
    QVERIFY2(m_prompt->errors.isEmpty(), qPrintable(m_prompt->errors.join(u'\n')));
}

void TestSyncWindow::trueConflictAsked_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("keep"); // the line's choice: 0 this copy, 1 the calendar's
    QTest::addColumn<QString>("details");
    QTest::newRow("radicale, the calendar's") << "radicale" << 1 << "whole";
    QTest::newRow("xandikos, this list's") << "xandikos" << 0 << "semi-skimmed";
}

void TestSyncWindow::trueConflictAsked() {
    QFETCH(QString, server);
    QFETCH(int, keep);
    QFETCH(QString, details);
    if (!startServer(server))
        QSKIP("the CalDAV server is not installed (scripts/setup.sh installs it)");
    const QString list = makeList(QStringLiteral("Groceries.cv1"), {"Milk"});
    configure(list);
    open(list); // a list that syncs syncs as it opens
    QSignalSpy synced(sync(), &ListSync::finished);
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 1, SyncMs);

    // Both change Details; only the other program changes Priority: one question.
    edit(QStringLiteral("Milk"), Details, QStringLiteral("semi-skimmed"));
    other({"set", "Milk", "DESCRIPTION", "whole"});
    other({"set", "Milk", "PRIORITY", "1"});
    bool asked = false;
    OnModal(
        QStringLiteral("frmConflicts"),
        [&](QWidget* window) {
            auto* keepBox = Child<QComboBox>(window, "cbKeep0");
            QVERIFY(!window->findChild<QComboBox*>(QStringLiteral("cbKeep1")));
            keepBox->setCurrentIndex(keep);
            QTest::mouseClick(Child<QPushButton>(window, "btnOK"), Qt::LeftButton);
        },
        &asked);
    action("actSync")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 2, SyncMs);
    QVERIFY(asked);
    QCOMPARE(valueOf(QStringLiteral("Milk"), Details), details);
    QCOMPARE(valueOf(QStringLiteral("Milk"), Priority), High);
    QCOMPARE(other({"list"}), QStringLiteral("Milk|1|%1|").arg(details));
    QVERIFY2(m_prompt->errors.isEmpty(), qPrintable(m_prompt->errors.join(u'\n')));
}

void TestSyncWindow::failuresNameTheServerAndLoseNothing_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("failure");
    QTest::newRow("password refused") << "radicale"
                                      << "refused the user name or password (401";
    QTest::newRow("server gone") << "xandikos"
                                 << "Cannot connect to the server";
}

void TestSyncWindow::failuresNameTheServerAndLoseNothing() {
    QFETCH(QString, server);
    QFETCH(QString, failure);
    const bool refused = failure.contains(QLatin1String("401"));
    if (!startServer(server, refused ? QByteArray("test:pw\n") : QByteArray()))
        QSKIP("the CalDAV server is not installed (scripts/setup.sh installs it)");
    const QString list = makeList(QStringLiteral("Groceries.cv1"), {"Milk", "Bread"});
    configure(list);
    const QString key = SyncPassword::Key(QStringLiteral("test"), m_dav->root());
    AwaitCall<QString, bool>([&](auto done) {
        SyncPassword::Write(key, QStringLiteral("wrong"),
                            [done](const QString& error) { done(error, true); });
    });
    if (!refused)
        m_dav->stop();

    // The password is asked again in the settings window.
    bool askedAgain = false;
    if (refused)
        OnModal(
            QStringLiteral("frmSyncSettings"),
            [&](QWidget* window) {
                QVERIFY(static_cast<TfrmSyncSettings*>(window)->Status().contains(failure));
                QVERIFY(!view()->Unsaved()); // the refused sync changed nothing
                Child<QLineEdit>(window, "edtPassword")->setText(QStringLiteral("pw"));
                QTest::mouseClick(Child<QPushButton>(window, "btnOK"), Qt::LeftButton);
            },
            &askedAgain);
    open(list);
    QSignalSpy synced(sync(), &ListSync::finished);
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 1, SyncMs);
    QTRY_COMPARE(m_prompt->errors.size(), 1);
    const QString message = m_prompt->errors.constFirst();
    QVERIFY2(message.contains(failure) && message.contains(m_dav->root().authority()),
             qPrintable(message));
    QCOMPARE(tasks(), QStringList({"Bread", "Milk"}));
    // Once the password is given again, the next sync may already have stamped the tasks.
    QVERIFY(refused || !view()->Unsaved());

    if (refused) {
        // The right password syncs, and the keyring keeps it.
        QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 2, SyncMs);
        QVERIFY(askedAgain);
        QCOMPARE(other({"list"}), QStringLiteral("Bread|5||\nMilk|5||"));
    } else {
        // A failure the user asked for is told again; the next sync, once the server is
        // back, gets through.
        action("actSync")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 2, SyncMs);
        QCOMPARE(m_prompt->errors.size(), 2);
        QVERIFY(m_dav->start());
        action("actSync")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 3, SyncMs);
        QCOMPARE(m_prompt->errors.size(), 2);
        QCOMPARE(other({"list"}), QStringLiteral("Bread|5||\nMilk|5||"));
    }
    QCOMPARE(tasks(), QStringList({"Bread", "Milk"}));
}

// A server that never answers keeps the footer busy, the window working, until Cancel, which
// says nothing more and changes nothing.
void TestSyncWindow::busyUntilCancelled() {
    ScriptedHttpServer stalled([](const ScriptedHttpServer::Request&) { return QByteArray(); });
    const QString list = makeList(QStringLiteral("Groceries.cv1"), {"Milk"});
    configure(list, stalled.root(), stalled.root().resolved(QUrl(QStringLiteral("tasks/"))));
    open(list);
    QSignalSpy synced(sync(), &ListSync::finished);
    auto* cancel = m_main->findChild<QToolButton*>(QStringLiteral("btnSyncCancel"));
    QTRY_VERIFY(cancel->isVisible() && !stalled.requests().isEmpty());
    QVERIFY(m_main->findChild<QProgressBar*>(QStringLiteral("pbSync"))->isVisible());
    QVERIFY(m_main->findChild<QLabel*>(QStringLiteral("lblSync"))
                ->text()
                .contains(stalled.root().authority()));
    QTest::mouseClick(cancel, Qt::LeftButton);
    QCOMPARE(synced.count(), 1);
    QVERIFY(!cancel->isVisible());
    QVERIFY(m_main->findChild<QLabel*>(QStringLiteral("lblSync"))->text().contains("cancelled"));
    QCOMPARE(tasks(), QStringList{"Milk"});
    QVERIFY(m_prompt->errors.isEmpty());
}

// A calendar belongs to the address shown: another address forgets the calendars found for the
// old one, and a search there that fails leaves nothing of the old server to save.
void TestSyncWindow::calendarBelongsToItsAddress() {
    if (!startServer(QStringLiteral("radicale")))
        QSKIP("the CalDAV server is not installed (scripts/setup.sh installs it)");
    const QString list = makeList(QStringLiteral("Groceries.cv1"), {"Milk"});
    configure(list);
    open(list);
    QSignalSpy synced(sync(), &ListSync::finished);
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 1, SyncMs);
    const QUrl nowhere(QStringLiteral("http://127.0.0.1:%1/").arg(DavServer::FreePort()));
    inSettings([&](TfrmSyncSettings* window) {
        auto* calendars = Child<QComboBox>(window, "cbCalendar");
        auto* ok = Child<QPushButton>(window, "btnOK");
        QCOMPARE(calendars->count(), 1);
        QVERIFY(ok->isEnabled());
        Child<QLineEdit>(window, "edtServer")->setText(nowhere.toString());
        QCOMPARE(calendars->count(), 0);
        QTest::mouseClick(Child<QPushButton>(window, "btnFindCalendars"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBusy(), SyncMs);
        QVERIFY(window->Status().startsWith(QLatin1String("Cannot connect")));
        QCOMPARE(calendars->count(), 0);
        QVERIFY(!ok->isEnabled());
        // Other credentials may be let in: OK looks again, finds none, and keeps the window open.
        Child<QLineEdit>(window, "edtPassword")->setText(QStringLiteral("other"));
        QVERIFY(ok->isEnabled());
        QTest::mouseClick(ok, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBusy(), SyncMs);
        QVERIFY(window->isVisible());
        QVERIFY(!ok->isEnabled());
        QCOMPARE(window->Chosen().settings.calendar, QUrl());
        // Back at the old address, the calendar must be found there again.
        Child<QLineEdit>(window, "edtServer")->setText(m_dav->root().toString());
        QCOMPARE(calendars->count(), 0);
        static_cast<QDialog*>(window)->reject();
    });
    QCOMPARE(sync()->settings().calendar, m_calendar);
    QVERIFY2(m_prompt->errors.isEmpty(), qPrintable(m_prompt->errors.join(u'\n')));
}

// A password the server refuses does not replace the one in the keyring.
void TestSyncWindow::refusedPasswordNotKept() {
    if (!startServer(QStringLiteral("radicale"), "test:pw\n"))
        QSKIP("the CalDAV server is not installed (scripts/setup.sh installs it)");
    const QString list = makeList(QStringLiteral("Groceries.cv1"), {"Milk"});
    configure(list);
    AwaitCall<QString, bool>([&](auto done) {
        SyncPassword::Write(SyncPassword::Key(QStringLiteral("test"), m_dav->root()),
                            QStringLiteral("pw"),
                            [done](const QString& error) { done(error, true); });
    });
    open(list);
    QSignalSpy synced(sync(), &ListSync::finished);
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 1, SyncMs);
    m_prompt->errors.clear();

    // Typed wrong and OK'd without a search: the sync that follows is refused, and asks again.
    bool askedAgain = false;
    inSettings([&](TfrmSyncSettings* window) {
        Child<QLineEdit>(window, "edtPassword")->setText(QStringLiteral("wrong"));
        OnModal(
            QStringLiteral("frmSyncSettings"),
            [&](QWidget* again) {
                QVERIFY(static_cast<TfrmSyncSettings*>(again)->Status().contains("401"));
                static_cast<QDialog*>(again)->reject();
            },
            &askedAgain);
        QTest::mouseClick(Child<QPushButton>(window, "btnOK"), Qt::LeftButton);
    });
    QTRY_VERIFY_WITH_TIMEOUT(askedAgain, SyncMs);
    QCOMPARE(m_prompt->errors.size(), 1);
    QCOMPARE(keptPassword(), QStringLiteral("pw"));

    // The next sync goes with the kept password again.
    action("actSync")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 3, SyncMs);
    QVERIFY2(sync()->status().startsWith(QLatin1String("Synced")), qPrintable(sync()->status()));
    QCOMPARE(m_prompt->errors.size(), 1);
}

// Plain http to another machine is sent only once the user agreed; to this one, without asking.
void TestSyncWindow::plainHttpAskedFirst() {
    const QString list = makeList(QStringLiteral("Groceries.cv1"), {"Milk"});
    configure(list, QUrl(QStringLiteral("http://127.0.0.1:1/")),
              QUrl(QStringLiteral("http://127.0.0.1:1/cal/")));
    open(list);
    inSettings([&](TfrmSyncSettings* window) {
        Child<QLineEdit>(window, "edtServer")->setText(QStringLiteral("http://192.0.2.7/dav/"));
        QTest::mouseClick(Child<QPushButton>(window, "btnFindCalendars"), Qt::LeftButton);
        QVERIFY(!window->IsBusy()); // not a byte sent: the user said Cancel
        QCOMPARE(m_prompt->questions.size(), 1);
        QVERIFY2(m_prompt->questions.first().contains(QLatin1String("plain http")),
                 qPrintable(m_prompt->questions.first()));
        Child<QLineEdit>(window, "edtServer")
            ->setText(QStringLiteral("http://127.0.0.1:%1/").arg(DavServer::FreePort()));
        QTest::mouseClick(Child<QPushButton>(window, "btnFindCalendars"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBusy(), SyncMs);
        QCOMPARE(m_prompt->questions.size(), 1);
        static_cast<QDialog*>(window)->reject();
    });
}

// A certificate the system does not trust is shown with its fingerprint; trusted, it is kept for
// its server, and the search goes on.
void TestSyncWindow::untrustedCertificateShown() {
    QTemporaryDir temp;
    const QString pem = temp.filePath(QStringLiteral("cert.pem"));
    const QString key = temp.filePath(QStringLiteral("key.pem"));
    if (RunTool(QStringLiteral("openssl"),
                {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                 QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                 QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                 QStringLiteral("-keyout"), key, QStringLiteral("-out"), pem,
                 QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                 QStringLiteral("/CN=127.0.0.1/O=Home server")})
            .exitCode != 0)
        QSKIP("openssl cannot make a test certificate here");
    ScriptedHttpServer server(
        [](const ScriptedHttpServer::Request&) {
            return ScriptedHttpServer::Answer(
                207, "Multi-Status",
                "<D:multistatus xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\">"
                "<D:response><D:href>/cal/</D:href><D:propstat><D:prop><D:resourcetype>"
                "<D:collection/><C:calendar/></D:resourcetype><D:displayname>Home</D:displayname>"
                "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>"
                "</D:multistatus>");
        },
        pem, key);
    QFile file(pem);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QSslCertificate certificate(file.readAll());
    const QString list = makeList(QStringLiteral("Groceries.cv1"), {"Milk"});
    configure(list, server.root(), QUrl());
    open(list);
    bool shown = false;
    inSettings([&](TfrmSyncSettings* window) {
        Child<QLineEdit>(window, "edtServer")
            ->setText(server.root().resolved(QUrl(QStringLiteral("/cal/"))).toString());
        OnModal(
            QStringLiteral("frmCertificate"),
            [&](QWidget* shownWindow) {
                QCOMPARE(Child<QLabel>(shownWindow, "lblFingerprint")->text().replace(u'\n', u':'),
                         TrustedCertificates::Fingerprint(certificate));
                QVERIFY(Child<QLabel>(shownWindow, "lblHolder")->text().contains("Home server"));
                QVERIFY(!Child<QLabel>(shownWindow, "lblReasons")->text().isEmpty());
                // Enter does not trust it; the button does.
                QVERIFY(!Child<QPushButton>(shownWindow, "btnTrust")->isDefault());
                QTest::mouseClick(Child<QPushButton>(shownWindow, "btnTrust"), Qt::LeftButton);
            },
            &shown);
        QTest::mouseClick(Child<QPushButton>(window, "btnFindCalendars"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(shown, SyncMs);
        QTRY_COMPARE_WITH_TIMEOUT(Child<QComboBox>(window, "cbCalendar")->currentText(),
                                  QStringLiteral("Home"), SyncMs);
        static_cast<QDialog*>(window)->reject();
    });
    QCOMPARE(TrustedCertificates::Trusted(server.root()), certificate);
}

// An export of a synced list writes what other clients put on its tasks, as the sync keeps it.
void TestSyncWindow::exportKeepsWhatSyncKeeps() {
    if (!startServer(QStringLiteral("xandikos")))
        QSKIP("the CalDAV server is not installed (scripts/setup.sh installs it)");
    const QString list = makeList(QStringLiteral("Groceries.cv1"), {"Milk"});
    configure(list);
    const QByteArray phone =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Phone//EN\r\nBEGIN:VTODO\r\n"
        "UID:phone-1\r\nDTSTAMP:20250312T120000Z\r\nSUMMARY:Water the plants\r\n"
        "PRIORITY:3\r\nDUE:20250320T170000Z\r\nCATEGORIES:Home,Garden\r\n"
        "RRULE:FREQ=WEEKLY\r\nATTACH:https://example.org/plan.pdf\r\n"
        "RELATED-TO:garden\r\nGEO:48.1;11.5\r\nLOCATION:Balcony\r\nCLASS:PRIVATE\r\n"
        "X-PHONE-LINK;VALUE=URI:https://example.org/?a=1,2\r\nBEGIN:VALARM\r\n"
        "ACTION:DISPLAY\r\nDESCRIPTION:Water\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"
        "END:VTODO\r\nEND:VCALENDAR\r\n";
    CalDavClient client;
    client.setCredentials(QStringLiteral("test"), QStringLiteral("pw"));
    const auto put = AwaitCall<CalDavClient::Failure, QByteArray>([&](auto done) {
        client.put(m_calendar, CalDavClient::HrefFor(m_calendar, QStringLiteral("phone-1")), phone,
                   {}, done);
    });
    QVERIFY(!put.failure);
    open(list);
    QSignalSpy synced(sync(), &ListSync::finished);
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 1, SyncMs);
    QCOMPARE(tasks(), QStringList({"Milk", "Water the plants"}));

    const QString target = m_folder->filePath(QStringLiteral("export.ics"));
    m_prompt->saveNames << target;
    action("actExportICal")->trigger();
    QFile exported(target);
    QVERIFY(exported.open(QIODevice::ReadOnly));
    QByteArray text = exported.readAll();
    text.replace("\r\n ", "");
    // The phone's to-do as the server holds it, every line of it, and the task made here.
    QByteArray held =
        AwaitCall<CalDavClient::Failure, CalDavClient::Resource>([&](auto done) {
            client.get(m_calendar, CalDavClient::HrefFor(m_calendar, QStringLiteral("phone-1")),
                       done);
        }).result.data;
    held.replace("\r\n ", "");
    held = held.mid(held.indexOf("BEGIN:VTODO"));
    held = held.left(held.indexOf("END:VTODO"));
    for (const QByteArray& line : held.split('\n'))
        QVERIFY2(text.contains(line.trimmed() + "\r\n"), line.constData());
    for (const char* line : {"PRIORITY:3", "DUE:20250320T170000Z", "CATEGORIES:Home,Garden",
                             "RRULE:FREQ=WEEKLY", "TRIGGER:-PT15M", "SUMMARY:Milk"})
        QVERIFY2(text.contains(QByteArray(line) + "\r\n"), text.constData());
    QCOMPARE(text.count("BEGIN:VTODO"), 2);
}

QTEST_MAIN(TestSyncWindow)
#include "tst_syncwindow.moc"
