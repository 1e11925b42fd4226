#include "gui/EveryWindow.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/uFrTasks.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Every window as a screen reader finds it through the desktop's accessibility service: the
// window has a name, and so has every control a user can reach (each focusable control, each
// button). Runs in a session of its own (support/atspi-session.sh).
class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyControlHasAName_data();
    void everyControlHasAName();

private:
    QTemporaryDir m_folder;
    QString m_list;
};

void TestAccessibility::initTestCase() {
    PinLocaleAndClock();
    QVERIFY2(qEnvironmentVariable("QT_QPA_PLATFORM") == u"xcb",
             "run through support/atspi-session.sh");
    m_list = m_folder.filePath(QStringLiteral("States.cv1"));
    QVERIFY(
        QFile::copy(QStringLiteral(CORVANTIS_TEST_DATA "/datapacket/task-history.cv1"), m_list));
    QFile(m_list).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

void TestAccessibility::everyControlHasAName_data() {
    QTest::addColumn<int>("window");
    for (int i = 0; i < EveryWindow().size(); ++i)
        QTest::newRow(EveryWindow()[i].name) << i;
}

void TestAccessibility::everyControlHasAName() {
    QFETCH(int, window);
    const WindowShowing& showing = EveryWindow()[window];
    ScriptedPrompt prompt;
    const auto main =
        StartCorvantis(m_folder.path(), showing.withList ? QStringList{m_list} : QStringList{});
    if (showing.withList)
        main->ActiveTaskView()->cdsTasks()->first();
    QString found;
    int walked = -1;
    QVERIFY(WithWindowShown(*main, showing.command, [&](QWidget& shown) {
        // The walker asks this process over the bus: the event loop runs while it walks.
        QProcess walker;
        walker.setProcessChannelMode(QProcess::MergedChannels);
        walker.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(ATSPI_WALK),
                      QString::number(QCoreApplication::applicationPid()), shown.windowTitle()});
        QTRY_VERIFY_WITH_TIMEOUT(walker.state() == QProcess::NotRunning, 120000);
        walked = walker.exitCode();
        found = QString::fromUtf8(walker.readAll()).trimmed();
    }));
    QVERIFY2(walked == 0 && found.isEmpty(), qPrintable(found));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
