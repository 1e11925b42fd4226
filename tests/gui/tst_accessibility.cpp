#include "document/ListDocument.h"
#include "gui/EveryWindow.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/uFrTasks.h"

#include <QFile>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

// What is open while a window is walked.
enum class Lists { None, Open, Closed }; // Closed: one was open and is closed again

// Besides every window the commands show: the one a merge shows when both copies changed a task.
const WindowShowing Conflicts{"Conflicts", "actMergeWith", true};

} // namespace

Q_DECLARE_METATYPE(Lists)

// Every window as a screen reader finds it through the desktop's accessibility service: the
// window has a name, and so has every control a user can reach or a reader announces. Each
// window is walked with no list open and with one, and the main window also once its last list
// closed. Runs in a session of its own (support/atspi-session.sh).
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
    QTest::addColumn<int>("window"); // in EveryWindow(); -1: Conflicts
    QTest::addColumn<Lists>("lists");
    for (int i = 0; i < EveryWindow().size(); ++i) {
        const WindowShowing& showing = EveryWindow()[i];
        if (showing.withList) {
            QTest::newRow(showing.name) << i << Lists::Open;
            continue;
        }
        QTest::addRow("%s, no list", showing.name) << i << Lists::None;
        if (showing.command)
            QTest::addRow("%s, a list open", showing.name) << i << Lists::Open;
        else
            QTest::addRow("%s, its list closed", showing.name) << i << Lists::Closed;
    }
    QTest::newRow(Conflicts.name) << -1 << Lists::Open;
}

void TestAccessibility::everyControlHasAName() {
    QFETCH(int, window);
    QFETCH(Lists, lists);
    const WindowShowing& showing = window < 0 ? Conflicts : EveryWindow()[window];
    ScriptedPrompt prompt;
    const auto main =
        StartCorvantis(m_folder.path(), lists == Lists::None ? QStringList{} : QStringList{m_list});
    if (lists == Lists::Closed)
        main->findChild<QAction*>(QStringLiteral("actClose"))->trigger();
    if (lists == Lists::Open)
        main->ActiveTaskView()->cdsTasks()->first();
    if (window < 0) {
        // Both copies changed the first task's wording since they parted.
        const QString copy = m_folder.filePath(QStringLiteral("Copy.cv1"));
        ListDocument other;
        QVERIFY(other.load(m_list));
        for (DataTable* table : {other.table(), main->ActiveTaskView()->cdsTasks()}) {
            table->first();
            table->edit();
            table->setString(TaskRecord::Task, table == other.table() ? "theirs" : "ours");
            table->post();
        }
        other.save(copy, true);
        prompt.openNames << copy;
    }
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
    QVERIFY2(prompt.errors.isEmpty(), qPrintable(prompt.errors.join(u'\n')));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
