#include "core/RunTool.h"
#include "core/TaskListFixture.h"
#include "dialogs/ufrmReOpen.h"
#include "shell/SingleInstance.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "storage/DataPacket.h"
#include "storage/RecentLists.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "view/uFrTasks.h"

#include <QAction>
#include <QCalendarWidget>
#include <QDir>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMenu>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QtEndian>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The program as the desktop starts it: the command line, where its own files go, and the
// pictures on its buttons and menu entries.
class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void commandLineOpensEachList();
    void commandLineNames_data();
    void commandLineNames();
    void textOptions_data();
    void textOptions();
    void programFilesFolder_data();
    void programFilesFolder();
    void everyButtonAndEntryHasAPicture();
    void secondStartHandsOverItsLists();
    void socketOfAnEndedProgramIsTakenOver();
    void socketKeepsNoStrayConnections();

private:
    QString writeList(const QString& name, const QStringList& tasks) const;
    // The built program, started offscreen with its runtime folder (and nothing else of the
    // user's) in the test's folders.
    void startProgram(QProcess& program, const QStringList& arguments) const;
    QTemporaryDir m_runtime;
    QTemporaryDir m_folder;
};

void TestDesktop::initTestCase() {
    PinLocaleAndClock();
    QStandardPaths::setTestModeEnabled(true);
}

QString TestDesktop::writeList(const QString& name, const QStringList& tasks) const {
    TaskListFixture list;
    for (const QString& task : tasks) {
        list.table.append();
        list.table.setString(TaskRecord::Task, task);
        list.table.post();
    }
    const QString fileName = m_folder.filePath(name);
    DataPacket::SaveToFile(list.table, fileName);
    return fileName;
}

void TestDesktop::commandLineOpensEachList() {
    const QString home = writeList(QStringLiteral("Home.cv1"), {"Paint the fence", "Fix the tap"});
    const QString missing = m_folder.filePath(QStringLiteral("Gone.cv1"));
    const QString damaged = m_folder.filePath(QStringLiteral("Damaged.cv1"));
    QVERIFY(WriteFileBytes(damaged, "hello"));
    const QString work = writeList(QStringLiteral("Work.cv1"), {"Send the report"});
    QTemporaryDir programFolder;
    ScriptedPrompt prompt;
    const auto main = StartCorvantis(programFolder.path(), {home, missing, damaged, work});

    // Each file as Open opens it: missing and damaged ones are told about, in order, and the
    // damaged one gets no page, as after Open.
    QCOMPARE(
        prompt.errors,
        QStringList(
            {QStringLiteral("Cannot open file \"%1\". No such file or directory.").arg(missing),
             damaged + QStringLiteral(":\nMismatch in datapacket.")}));
    QTabWidget* tabs = main->PageControl();
    QVERIFY(tabs->isVisible());
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Home"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Work"));
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(main->windowTitle(), QStringLiteral("Corvantis - Work"));
    auto tasksOn = [tabs](int index) {
        return tabs->widget(index)->findChild<TfrTasks*>()->cdsTasks()->recordCount();
    };
    QCOMPARE(tasksOn(0), 2);
    QCOMPARE(tasksOn(1), 1);
    const RecentLists& recent = main->ReOpenWindow()->store();
    QVERIFY(recent.contains(home));
    QVERIFY(recent.contains(work));
    QVERIFY(!recent.contains(missing));
    QVERIFY(!recent.contains(damaged));
}

void TestDesktop::commandLineNames_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("newWindow");
    const QString here = QDir::currentPath();
    QTest::newRow("none") << QStringList{} << QStringList{} << false;
    QTest::newRow("relative names")
        << QStringList{"Week.cv1", "lists/Home.cv1"}
        << QStringList{here + "/Week.cv1", here + "/lists/Home.cv1"} << false;
    QTest::newRow("a path with ..")
        << QStringList{"/srv/lists/../Old.cv1"} << QStringList{"/srv/Old.cv1"} << false;
    QTest::newRow("after --") << QStringList{"--", "-dash.cv1"} << QStringList{here + "/-dash.cv1"}
                              << false;
    QTest::newRow("a window of its own")
        << QStringList{"--new-window", "/srv/Old.cv1"} << QStringList{"/srv/Old.cv1"} << true;
}

void TestDesktop::commandLineNames() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);
    QFETCH(bool, newWindow);
    const CommandLine line = ReadCommandLine(QStringList{QStringLiteral("Corvantis")} + arguments);
    QCOMPARE(line.files, files);
    QCOMPARE(line.newWindow, newWindow);
}

void TestDesktop::textOptions_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::newRow("version") << QStringLiteral("--version") << 0
                             << QStringLiteral("Corvantis " CORVANTIS_VERSION "\n");
    QTest::newRow("help") << QStringLiteral("--help") << 0 << QStringLiteral("[options] [FILE...]");
    QTest::newRow("unknown option")
        << QStringLiteral("--colour") << 1 << QStringLiteral("Unknown option 'colour'.");
}

void TestDesktop::textOptions() {
    QFETCH(QString, option);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    // Texts need no window system; an unknown option is found once the program has one.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (exitCode == 0)
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const ToolRun run = RunTool(QStringLiteral(CORVANTIS_PROGRAM), {option}, environment);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.all().contains(says), qPrintable(run.all()));
}

void TestDesktop::programFilesFolder_data() {
    QTest::addColumn<QString>("executableFolder");
    QTest::addColumn<bool>("ownFolder");
    const QString unpacked = m_folder.filePath(QStringLiteral("unpacked"));
    const QString userBin = m_folder.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(unpacked) && QDir().mkpath(userBin));
    QVERIFY(WriteFileBytes(unpacked + QStringLiteral("/Corvantis.portable"), ""));
    QTest::newRow("the build folder")
        << QFileInfo(QStringLiteral(CORVANTIS_PROGRAM)).absolutePath() << true;
    QTest::newRow("an unpacked copy that says so") << unpacked << true;
    QTest::newRow("installed for the user") << userBin << false;
    QTest::newRow("installed for the system") << QStringLiteral("/usr/bin") << false;
    QTest::newRow("a folder that is gone") << m_folder.filePath(QStringLiteral("gone")) << false;
}

void TestDesktop::programFilesFolder() {
    QFETCH(QString, executableFolder);
    QFETCH(bool, ownFolder);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir(config).removeRecursively();
    const QString chosen = ProgramFilesFolder(executableFolder);
    QCOMPARE(chosen, ownFolder ? executableFolder : config);
    QVERIFY(QFileInfo(chosen).isDir());
}

void TestDesktop::everyButtonAndEntryHasAPicture() {
    QTemporaryDir programFolder;
    ScriptedPrompt prompt;
    const auto main = StartCorvantis(programFolder.path());
    main->findChild<QAction*>(QStringLiteral("actNew"))->trigger();

    QList<QPair<QString, QIcon>> shown;
    // Qt's own parts (scroll arrows, overflow buttons, a calendar's month list) draw the style's
    // pictures or none.
    auto qtsOwn = [](const QObject* widget) {
        for (const QObject* above = widget->parent(); above; above = above->parent())
            if (qobject_cast<const QCalendarWidget*>(above))
                return true;
        return widget->objectName().startsWith(u"qt_") ||
               qobject_cast<const QTabBar*>(widget->parent());
    };
    for (const QToolButton* button : main->findChildren<QToolButton*>()) {
        if (button->arrowType() == Qt::NoArrow && !qtsOwn(button))
            shown.append({button->objectName(), button->icon()});
    }
    QList<QAction*> entries = main->findChild<QLineEdit*>(QStringLiteral("Edit2"))->actions();
    for (const QMenu* menu : main->findChildren<QMenu*>()) {
        if (!qtsOwn(menu))
            entries << menu->actions();
    }
    for (const QAction* entry : entries) {
        if (!entry->isSeparator() && !entry->menu())
            shown.append({entry->objectName(), entry->icon()});
    }
    QVERIFY(shown.size() > 60);

    // Each picture is a named icon that some theme (or our own set) draws.
    QStringList faults;
    for (const auto& [name, icon] : shown) {
        if (icon.isNull() || icon.name().isEmpty() || !QIcon::hasThemeIcon(icon.name()) ||
            icon.pixmap(16, 16).isNull())
            faults << name + u' ' + icon.name();
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral(", "))));
}

void TestDesktop::startProgram(QProcess& program, const QStringList& arguments) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(QStringLiteral("data")));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(m_folder.path());
    program.start(QStringLiteral(CORVANTIS_PROGRAM), arguments);
    QVERIFY(program.waitForStarted());
}

// The program's own files tell running programs apart: the built one keeps them beside it.
static QString builtProgramFolder() {
    return QFileInfo(QStringLiteral(CORVANTIS_PROGRAM)).absolutePath();
}

void TestDesktop::secondStartHandsOverItsLists() {
    const QString home = writeList(QStringLiteral("Home.cv1"), {"Paint the fence"});
    writeList(QStringLiteral("Work.cv1"), {"Send the report", "Book the room"});
    const QString gone = m_folder.filePath(QStringLiteral("Gone.cv1"));
    // This test is the running program; the built one is started a second time.
    SingleInstance running(m_runtime.path(), builtProgramFolder());
    QCOMPARE(running.start({}), SingleInstance::Role::Primary);
    QTemporaryDir programFolder;
    ScriptedPrompt prompt;
    const auto main = StartCorvantis(programFolder.path(), {home});
    ReceiveHandedOverLists(running, *main);

    // A name relative to where the second start ran, a file that is gone, one open already.
    QProcess second;
    startProgram(second, {QStringLiteral("Work.cv1"), gone, home});
    QTRY_COMPARE(second.state(), QProcess::NotRunning);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardError(), QByteArray());

    QTabWidget* tabs = main->PageControl();
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(1), QStringLiteral("Work"));
    QCOMPARE(tabs->widget(1)->findChild<TfrTasks*>()->cdsTasks()->recordCount(), 2);
    QCOMPARE(tabs->currentIndex(), 0); // the file open already: its tab is shown
    QCOMPARE(main->windowTitle(), QStringLiteral("Corvantis - Home"));
    QCOMPARE(prompt.errors,
             QStringList{
                 QStringLiteral("Cannot open file \"%1\". No such file or directory.").arg(gone)});
    QVERIFY(main->ReOpenWindow()->store().contains(m_folder.filePath(QStringLiteral("Work.cv1"))));
}

void TestDesktop::socketOfAnEndedProgramIsTakenOver() {
    const QString home = writeList(QStringLiteral("Home.cv1"), {"Paint the fence"});
    const QString socketName = SingleInstance(m_runtime.path(), builtProgramFolder()).socketName();
    // What a program killed while it ran leaves: the socket file, and no one listening on it.
    {
        const int left = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(socketName);
        std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
        QCOMPARE(::bind(left, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(left);
    }
    QProcess first;
    startProgram(first, {home});
    const auto listening = [&] {
        QLocalSocket probe;
        probe.connectToServer(socketName);
        return probe.waitForConnected(100);
    };
    QTRY_VERIFY_WITH_TIMEOUT(listening() || first.state() == QProcess::NotRunning, 30000);
    QCOMPARE(first.state(), QProcess::Running);

    // The program that took the socket over answers the next start.
    QProcess second;
    startProgram(second, {home});
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 30000);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardError(), QByteArray());
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

// Anything but a socket at the socket's path stays; a connection that sends nothing, half a
// message or more than one is closed without handing anything over.
void TestDesktop::socketKeepsNoStrayConnections() {
    QTemporaryDir runtime;
    {
        SingleInstance blocked(runtime.path(), m_folder.path());
        QVERIFY(WriteFileBytes(blocked.socketName(), "not a socket"));
        QCOMPARE(blocked.start({}), SingleInstance::Role::Alone);
        QCOMPARE(ReadFileBytes(blocked.socketName()), QByteArray("not a socket"));
        QVERIFY(QFile::remove(blocked.socketName()));
    }
    SingleInstance::setConnectionTimeoutForTesting(300);
    SingleInstance running(runtime.path(), m_folder.path());
    QCOMPARE(running.start({}), SingleInstance::Role::Primary);
    QSignalSpy handedOver(&running, &SingleInstance::filesHandedOver);
    const QByteArray message = SingleInstance::encode({m_folder.filePath("Home.cv1")});
    QByteArray framed(4, '\0');
    qToBigEndian(quint32(message.size()), framed.data());
    for (const QByteArray& sent :
         {QByteArray(), (framed + message).left(9), framed + message + "x"}) {
        QLocalSocket client;
        client.connectToServer(running.socketName());
        QVERIFY(client.waitForConnected(1000));
        client.write(sent);
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 3000);
    }
    QCOMPARE(handedOver.count(), 0);
    SingleInstance::setConnectionTimeoutForTesting(10000);
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
