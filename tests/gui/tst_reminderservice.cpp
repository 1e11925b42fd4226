#include "core/TaskListFixture.h"
#include "document/ListDocument.h"
#include "document/TaskUndo.h"
#include "model/TaskCommands.h"
#include "reminders/DesktopNotifier.h"
#include "shell/ReminderCenter.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "storage/DataPacket.h"
#include "storage/RecoveryStore.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/uFrTasks.h"
#include "widgets/ElidedLabel.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace TaskRecord;

namespace {

// Set in the test run under the private bus: "1", or "none" where no bus could be made.
const char* PrivateBusVariable = "CORVANTIS_TEST_PRIVATE_BUS";
const char* BusRunner = "/usr/bin/dbus-run-session";

// A session bus of the test's own: only what the test starts answers on it, and nothing is
// started on demand (the machine's notification daemon must not come up).
QByteArray busConfig(const QString& folder) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:dir=" +
           folder.toUtf8() +
           "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

// Runs this test program again under a private session bus and returns its exit code.
int RunUnderPrivateBus(int argc, char** argv) {
    if (::access(BusRunner, X_OK) != 0) {
        ::setenv(PrivateBusVariable, "none", 1);
        return -1;
    }
    QTemporaryDir dir;
    const QString config = dir.filePath("bus.conf");
    if (!dir.isValid() || !WriteFileBytes(config, busConfig(dir.path())))
        return 1;
    ::setenv(PrivateBusVariable, "1", 1);
    const QByteArray configArgument = "--config-file=" + QFile::encodeName(config);
    std::vector<char*> args{const_cast<char*>(BusRunner), const_cast<char*>(configArgument.data()),
                            const_cast<char*>("--")};
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execv(BusRunner, args.data());
        ::_exit(127);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// One Notify call of the service's log: summary|body|actions (comma-separated).
QStringList notifyCalls(const QString& logFile) {
    const QString log = QString::fromUtf8(ReadFileBytes(logFile));
    static const QRegularExpression notify(
        R"re(^\d+\.\d+ Notify "Corvantis" 0 "org\.corvantis\.Corvantis" "(.*?)" "(.*?)" \[(.*?)\] \{)re",
        QRegularExpression::MultilineOption | QRegularExpression::DotMatchesEverythingOption);
    QStringList calls;
    for (auto it = notify.globalMatch(log); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QString actions = match.captured(3);
        actions.remove(u'"');
        calls << match.captured(1) + u'|' + match.captured(2) + u'|' +
                     actions.split(QStringLiteral(", ")).join(u',');
    }
    return calls;
}

const QString TaskActions = "default,,complete,Complete,tomorrow,Tomorrow";

// An open list as the main window hands it over: its table, its undo history and what the
// reminders asked of it.
struct OpenList {
    TaskListFixture list;
    TaskUndo undo{&list.table};
    QString caption;
    QString fileName;
    QList<DataTable::RowId> shown;

    OpenList(const QString& name, const QString& folder)
        : caption(name), fileName(folder + u'/' + name + QStringLiteral(".cv1")) {}

    ReminderCenter::List handle() {
        ReminderCenter::List handle;
        handle.table = &list.table;
        handle.caption = [this] { return caption; };
        handle.fileName = [this] { return fileName; };
        handle.completeTask = [this](DataTable::RowId row) {
            const TaskUndo::Step step(undo);
            list.table.goToRow(row);
            TaskCommands::CompleteTask(list.table, list.markUnsaved());
        };
        handle.showTask = [this](DataTable::RowId row) { shown << row; };
        return handle;
    }
    QString statusOf(const QString& task) const {
        for (const DataTable::RowId row : list.table.allRows())
            if (list.table.textOf(list.table.rowData(row), list.table.fieldIndex(Task)) == task)
                return list.table.textOf(list.table.rowData(row), list.table.fieldIndex(Status));
        return QString();
    }
};

} // namespace

class TestReminderService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void notifications_data();
    void notifications();
    void actions_data();
    void actions();
    void throughTheMainWindow();
    void tomorrowSkipsTheNextDay();
    void noSecondReminderAfterRestart();
    void reminderTimeCrossedWhileRunning();
    void withoutService_data();
    void withoutService();
    void comesDueLater_data();
    void comesDueLater();
    void remindedWhileTheRecoveryIsTold();
    void withoutServiceInTheWindow_data();
    void withoutServiceInTheWindow();
    void optionsTellWithoutService_data();
    void optionsTellWithoutService();

private:
    void startService(const QString& capabilities = "actions body");
    void stopService();
    std::unique_ptr<ReminderCenter> makeCenter(const QDBusConnection& bus);
    void invoke(quint32 id, const QString& action);
    void setClock(const QString& dateTime) { m_now = QDateTime::fromString(dateTime, Qt::ISODate); }
    QStringList calls() const { return notifyCalls(m_log); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess* m_service = nullptr;
    QString m_log;
    QDateTime m_now;
    QStringList m_status;
};

void TestReminderService::initTestCase() {
    if (qgetenv(PrivateBusVariable) != "1")
        QSKIP("dbus-run-session is not installed");
    if (QProcess::execute("/usr/bin/python3", {"-c", "import dbusmock"}) != 0)
        QSKIP("python3-dbusmock is not installed");
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    PinLocaleAndClock();
    uGeneral::SetClockForTesting([this] { return m_now; });
}

void TestReminderService::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    // The program's own data (reminder logs, recovery copies) in the test's folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath("data")));
    m_log = m_dir->filePath("notifications.log");
    m_status.clear();
    setClock("2025-03-12T10:00:00");
}

void TestReminderService::cleanup() {
    stopService();
}

void TestReminderService::startService(const QString& capabilities) {
    m_service = new QProcess(this);
    QStringList args{"-m", "dbusmock", "--template", "notification_daemon", "-l", m_log};
    if (!capabilities.isEmpty())
        args << "-p" << QStringLiteral(R"({"capabilities": "%1"})").arg(capabilities);
    m_service->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_service->start("/usr/bin/python3", args);
    QVERIFY(m_service->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                 DesktopNotifier::ServiceName),
                             20000);
}

void TestReminderService::stopService() {
    if (!m_service)
        return;
    ::kill(pid_t(m_service->processId()), SIGCONT);
    m_service->kill();
    m_service->waitForFinished();
    delete m_service;
    m_service = nullptr;
}

std::unique_ptr<ReminderCenter> TestReminderService::makeCenter(const QDBusConnection& bus) {
    auto center = std::make_unique<ReminderCenter>(m_dir->filePath("Corvantis.ini"),
                                                   m_dir->filePath("reminders"), bus);
    center->setStatusMessage([this](const QString& text) { m_status << text; });
    return center;
}

void TestReminderService::invoke(quint32 id, const QString& action) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(DesktopNotifier::ServiceName, DesktopNotifier::ObjectPath,
                                       "org.freedesktop.DBus.Mock", "EmitSignal");
    call << DesktopNotifier::Interface << QString("ActionInvoked") << QString("us")
         << QVariantList{uint(id), action};
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

void TestReminderService::notifications_data() {
    QTest::addColumn<QString>("capabilities"); // empty: the service's own (markup, no actions)
    QTest::addColumn<QString>("tasks");
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("due, overdue, complete, cancelled, undated")
        << "actions body"
        << "Task=a|DueDate=today;Task=b|DueDate=2025-03-01;Task=c|DueDate=today|Status=Complete;"
           "Task=d|DueDate=yesterday|Status=Cancelled;Task=e"
        << QStringList{"Overdue: due 3/1/2025|b\nWeek plan|" + TaskActions,
                       "Due today|a\nWeek plan|" + TaskActions};
    QTest::newRow("no actions offered, markup read")
        << ""
        << "Task=Milk & <eggs>|DueDate=today"
        << QStringList{"Due today|Milk &amp; &lt;eggs&gt;\nWeek plan|"};
    // Some services read markup without offering it: the text must arrive as text all the same.
    QTest::newRow("markup read unannounced")
        << "actions"
        << "Task=Salt & <b>pepper</b>|DueDate=today"
        << QStringList{"Due today|Salt &amp; &lt;b&gt;pepper&lt;/b&gt;\nWeek plan|" + TaskActions};
    QString seven;
    for (int i = 1; i <= 7; ++i)
        seven += QStringLiteral("Task=t%1|DueDate=today;").arg(i);
    QTest::newRow("past five, one summary")
        << "actions body" << seven
        << QStringList{"7 tasks are due in Week plan|t1\nt2\nt3\nt4\nt5\nand 2 more|"
                       "default,,tomorrow,Tomorrow"};
}

void TestReminderService::notifications() {
    QFETCH(QString, capabilities);
    QFETCH(QString, tasks);
    QFETCH(QStringList, sent);
    startService(capabilities);
    OpenList open("Week plan", m_dir->path());
    for (const QString& task : tasks.split(u';', Qt::SkipEmptyParts))
        open.list.add(task);

    const auto center = makeCenter(QDBusConnection::sessionBus());
    center->addList(open.handle());
    center->start();
    QTRY_COMPARE(calls(), sent);
}

void TestReminderService::actions_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("complete") << "complete";
    QTest::newRow("click") << "default";
}

void TestReminderService::actions() {
    QFETCH(QString, action);
    startService();
    OpenList open("Week plan", m_dir->path());
    open.list.add("Task=a|DueDate=yesterday");
    open.list.add("Task=b|DueDate=today|Status=Paused");
    const auto center = makeCenter(QDBusConnection::sessionBus());
    center->addList(open.handle());
    center->start();
    QTRY_COMPARE(calls().size(), 2);

    const int steps = open.undo.count();
    invoke(2, action); // b's
    if (action == u"complete") {
        QTRY_COMPARE(open.statusOf("b"), Complete);
        QCOMPARE(open.statusOf("a"), NotStarted);
        QCOMPARE(open.list.commandMarks, 1);
        QCOMPARE(open.undo.count(), steps + 1);
        open.undo.undo();
        QCOMPARE(open.statusOf("b"), Paused);
    } else {
        QTRY_COMPARE(open.shown.size(), 1);
        QCOMPARE(open.list.table.textOf(open.list.table.rowData(open.shown[0]),
                                        open.list.table.fieldIndex(Task)),
                 "b");
        QCOMPARE(open.statusOf("b"), Paused);
    }
}

// The real window: a due task hidden by a filter in the second tab is completed from its
// notification as the task bar completes it, one step Undo takes back; a click shows it.
void TestReminderService::throughTheMainWindow() {
    startService();
    const QString file = m_dir->filePath("Week plan.cv1");
    {
        ListDocument made;
        made.createNew();
        for (const char* task : {"a", "b"}) {
            made.table()->append();
            made.table()->setString(Task, QString::fromLatin1(task));
            if (task == QByteArray("b"))
                made.table()->setDate(DueDate, uGeneral::Today());
            made.table()->post();
        }
        made.save(file, true);
    }
    ScriptedPrompt prompt;
    const QString folder = m_dir->filePath("program/");
    QDir().mkpath(folder);
    const auto main = StartCorvantis(folder, {file});
    main->actNewExecute();
    TfrTasks* view = qobject_cast<TfrTasks*>(
        main->PageControl()->widget(0)->findChild<TfrTasks*>(QStringLiteral("frTasks")));
    QTRY_COMPARE(calls().size(), 1);
    view->cdsTasks()->setFilter(QStringLiteral("Task = 'a'"));
    view->cdsTasks()->setFiltered(true);

    invoke(1, "default");
    QTRY_COMPARE(main->PageControl()->currentIndex(), 0);
    QCOMPARE(view->cdsTasks()->asString(Task), QStringLiteral("b"));
    QVERIFY(!view->cdsTasks()->filtered());

    view->cdsTasks()->setFiltered(true); // hidden again: Complete must still find it
    main->PageControl()->setCurrentIndex(1);
    invoke(1, "complete");
    QTRY_COMPARE(view->cdsTasks()->asString(Status), Complete);
    QCOMPARE(view->cdsTasks()->asString(Task), QStringLiteral("b"));
    QVERIFY(view->Unsaved());
    main->PageControl()->setCurrentIndex(0);
    main->findChild<QAction*>(QStringLiteral("actUndo"))->trigger();
    QCOMPARE(view->cdsTasks()->asString(Status), NotStarted);
    QVERIFY(prompt.errors.isEmpty());
}

void TestReminderService::tomorrowSkipsTheNextDay() {
    startService();
    OpenList open("Week plan", m_dir->path());
    open.list.add("Task=a|DueDate=yesterday");
    const auto center = makeCenter(QDBusConnection::sessionBus());
    center->addList(open.handle());
    center->start();
    QTRY_COMPARE(calls().size(), 1);

    // The notification stayed overnight; Tomorrow the next morning skips that day's reminder.
    setClock("2025-03-13T08:00:00");
    invoke(1, "tomorrow");
    QTRY_VERIFY(QString::fromUtf8(ReadFileBytes(m_log)).contains("CloseNotification 1"));
    setClock("2025-03-13T09:00:00");
    center->checkClock();
    setClock("2025-03-14T09:00:00");
    center->checkClock();
    QTRY_COMPARE(calls().size(), 2);
    QCOMPARE(calls().last(), "Overdue: due 3/11/2025|a\nWeek plan|" + TaskActions);
    QCOMPARE(open.statusOf("a"), NotStarted);
}

void TestReminderService::noSecondReminderAfterRestart() {
    startService();
    auto open = std::make_unique<OpenList>("Week plan", m_dir->path());
    open->list.add("Task=a|DueDate=today");
    auto center = makeCenter(QDBusConnection::sessionBus());
    center->addList(open->handle());
    center->start();
    QTRY_COMPARE(calls().size(), 1);
    center.reset();

    // The program again, the same day, the same list read afresh, and another list: only the
    // other list's task is new.
    open = std::make_unique<OpenList>("Week plan", m_dir->path());
    open->list.add("Task=a|DueDate=today");
    OpenList other("Home", m_dir->path());
    other.list.add("Task=x|DueDate=today");
    center = makeCenter(QDBusConnection::sessionBus());
    center->addList(open->handle());
    center->addList(other.handle());
    center->start();
    QTRY_COMPARE(calls().size(), 2);
    QCOMPARE(calls().last(), "Due today|x\nHome|" + TaskActions);
}

void TestReminderService::reminderTimeCrossedWhileRunning() {
    startService();
    setClock("2025-03-12T08:59:00");
    OpenList open("Week plan", m_dir->path());
    open.list.add("Task=a|DueDate=today");
    const auto center = makeCenter(QDBusConnection::sessionBus());
    center->addList(open.handle());
    center->start();
    center->checkClock();
    setClock("2025-03-12T09:00:00");
    center->checkClock();
    center->checkClock();
    QTRY_COMPARE(calls().size(), 1);

    // Off, the day's time passing reminds of nothing; on again, the reminders follow.
    center->setOptions({false, QTime(9, 0)});
    setClock("2025-03-13T09:30:00");
    center->checkClock();
    center->setOptions({true, QTime(9, 45)});
    center->checkClock();
    setClock("2025-03-13T09:45:00");
    center->checkClock();
    QTRY_COMPARE(calls().size(), 2);
    QCOMPARE(ReminderSettings::Read(m_dir->filePath("Corvantis.ini")).time, QTime(9, 45));
}

void TestReminderService::withoutService_data() {
    QTest::addColumn<QString>("service");
    QTest::newRow("none on the bus") << "none";
    QTest::newRow("hung") << "hung";
    QTest::newRow("no bus") << "no bus";
}

void TestReminderService::withoutService() {
    QFETCH(QString, service);
    if (service == u"hung") {
        startService();
        ::kill(pid_t(m_service->processId()), SIGSTOP);
    }
    const QDBusConnection bus =
        service == u"no bus"
            ? QDBusConnection::connectToBus(
                  QStringLiteral("unix:path=%1").arg(m_dir->filePath("none")), "nowhere")
            : QDBusConnection::sessionBus();
    OpenList open("Week plan", m_dir->path());
    open.list.add("Task=a|DueDate=today");
    const auto center = makeCenter(bus);
    center->notifier().setTimeoutMs(300);
    center->addList(open.handle());
    center->start();
    center->checkClock();
    // The look at the clock returned before any answer: the window goes on meanwhile.
    QVERIFY(m_status.isEmpty());
    QTRY_COMPARE(m_status, QStringList{"Due today: a - Week plan"});
}

void TestReminderService::comesDueLater_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("reminded"); // the reminder it brings; empty: none
    QTest::newRow("due date set to today") << "a:DueDate=today"
                                           << "Due today|a\nWeek plan";
    QTest::newRow("reopened") << "b:Status=Paused"
                              << "Due today|b\nWeek plan";
    QTest::newRow("new task") << "+Task=d|DueDate=yesterday"
                              << "Overdue: due 3/11/2025|d\nWeek plan";
    QTest::newRow("file read again")
        << "file:Task=a|DueDate=2025-03-01;Task=b|DueDate=today|Status=Complete;"
           "Task=c|DueDate=today"
        << "Overdue: due 3/1/2025|a\nWeek plan";
    QTest::newRow("another field") << "c:Comments=later"
                                   << "";
    QTest::newRow("due later") << "a:DueDate=tomorrow"
                               << "";
}

// A task that comes due after the day's look is reminded of at once, and only that task.
void TestReminderService::comesDueLater() {
    QFETCH(QString, change);
    QFETCH(QString, reminded);
    startService();
    OpenList open("Week plan", m_dir->path());
    open.list.add("Task=a");
    open.list.add("Task=b|DueDate=today|Status=Complete");
    open.list.add("Task=c|DueDate=today");
    const auto center = makeCenter(QDBusConnection::sessionBus());
    center->addList(open.handle());
    center->start();
    QTRY_COMPARE(calls().size(), 1);

    DataTable& table = open.list.table;
    const QString target = change.section(u':', 0, 0);
    const QString values = change.section(u':', 1);
    if (target == u"file") {
        TaskListFixture other;
        for (const QString& task : values.split(u';'))
            other.add(task);
        DataPacket::Read(table, DataPacket::Write(other.table));
    } else if (target.startsWith(u'+')) {
        open.list.add(change.mid(1));
    } else {
        for (const DataTable::RowId row : table.allRows())
            if (table.textOf(table.rowData(row), table.fieldIndex(Task)) == target)
                table.goToRow(row);
        table.edit();
        open.list.write(values);
        table.post();
    }
    if (reminded.isEmpty()) {
        QTest::qWait(300);
        QCOMPARE(calls().size(), 1);
    } else {
        QTRY_COMPARE(calls().size(), 2);
        QCOMPARE(calls().last().section(u'|', 0, 1), reminded);
    }
}

// After a crash the message about the recovered lists waits for the user; their reminders do not.
void TestReminderService::remindedWhileTheRecoveryIsTold() {
    startService();
    {
        TaskListFixture left;
        left.add("Task=a|DueDate=today");
        RecoveryStore::Note note;
        note.originalFile = m_dir->filePath("Week plan.cv1");
        // Dropped without Close, as a program killed leaves its copies.
        RecoveryStore(RecoveryStore::defaultRoot()).write(RecoveryStore::newId(), left.table, note);
    }
    ScriptedPrompt prompt;
    QStringList whileShown;
    prompt.whileNoticeShown = [&](const QString&) {
        QTRY_COMPARE(calls().size(), 1);
        whileShown = calls();
    };
    const QString folder = m_dir->filePath("program/");
    QDir().mkpath(folder);
    const auto main = StartCorvantis(folder);
    QCOMPARE(prompt.notices.size(), 1);
    QCOMPARE(whileShown, QStringList{"Due today|a\nWeek plan|" + TaskActions});
    QVERIFY(prompt.errors.isEmpty());
}

void TestReminderService::withoutServiceInTheWindow_data() {
    QTest::addColumn<QStringList>("tasks");
    QTest::newRow("one, shown whole") << QStringList{"Pay the rent"};
    QStringList long3;
    for (int i = 1; i <= 3; ++i)
        long3 << QStringLiteral("Prepare the slides for the meeting of the whole department "
                                "number %1")
                     .arg(i);
    QTest::newRow("three, as much as fits") << long3;
}

// Without a service the reminders wait at the foot of the window: as much as fits, and each one
// in the hint when not all fits.
void TestReminderService::withoutServiceInTheWindow() {
    QFETCH(QStringList, tasks);
    const QString file = m_dir->filePath("Week plan.cv1");
    {
        TaskListFixture list;
        for (const QString& task : tasks)
            list.add(QStringLiteral("Task=%1|DueDate=today").arg(task));
        DataPacket::SaveToFile(list.table, file);
    }
    ScriptedPrompt prompt;
    const QString folder = m_dir->filePath("program/");
    QDir().mkpath(folder);
    const auto main = StartCorvantis(folder, {file});
    main->Reminders()->notifier().setTimeoutMs(300);
    auto* label = main->findChild<ElidedLabel*>(QStringLiteral("lblReminders"));
    QTRY_VERIFY(!label->text().isEmpty());
    QTest::qWait(50); // laid out for its text
    QStringList lines;
    for (const QString& task : tasks)
        lines << QStringLiteral("Due today: %1 - Week plan").arg(task);
    if (tasks.size() == 1) {
        QCOMPARE(label->text(), lines.first());
        QCOMPARE(label->toolTip(), QString());
    } else {
        QCOMPARE(label->toolTip(), lines.join(u'\n'));
        QVERIFY(label->text().endsWith(QChar(0x2026)));
    }
    QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width());
    QVERIFY(label->mapTo(main.get(), QPoint(label->width(), 0)).x() <= main->width());
    QVERIFY(main->width() <= main->screen()->availableGeometry().width());
}

void TestReminderService::optionsTellWithoutService_data() {
    QTest::addColumn<bool>("service");
    QTest::newRow("a service") << true;
    QTest::newRow("none") << false;
}

void TestReminderService::optionsTellWithoutService() {
    QFETCH(bool, service);
    if (service)
        startService();
    ScriptedPrompt prompt;
    const QString folder = m_dir->filePath("program/");
    QDir().mkpath(folder);
    const auto main = StartCorvantis(folder);
    main->Reminders()->notifier().setTimeoutMs(300);
    QLabel* told = nullptr;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(window);
        told = window->findChild<QLabel*>(QStringLiteral("lblService"));
        QTest::qWait(1000); // the service has answered, or the wait for it is over
        QCOMPARE(told->isVisible(), !service);
        QVERIFY(!told->isVisible() || told->text().startsWith("No notification service"));
        window->reject();
    });
    main->findChild<QAction*>(QStringLiteral("actReminders"))->trigger();
    QVERIFY(told);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty(PrivateBusVariable)) {
        const int code = RunUnderPrivateBus(argc, argv);
        if (code >= 0)
            return code;
    }
    QApplication app(argc, argv);
    TestReminderService test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_reminderservice.moc"
