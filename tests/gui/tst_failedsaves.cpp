#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "storage/DataPacket.h"
#include "storage/SaveFile.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/uFrTasks.h"

#include <QAction>
#include <QDir>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/resource.h>

// Saves through the main window that the system makes fail: each shows its reason, keeps the old
// file byte for byte and leaves the list unsaved. A file-size limit is tried in a child process
// of its own, started as the program starts, since a limit can end a process.
class TestFailedSaves : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void cleanup() {
        SaveFile::setDataSyncForTesting(nullptr);
        SaveFile::setFolderSyncForTesting(nullptr);
    }
    void saveFails_data();
    void saveFails();
    void folderSyncFailsAfterTheRename();
};

namespace {

enum class Cause { FileSizeLimit, FolderDeleted, SyncFails };

// Set in the child process that runs one row under the file-size limit.
const char* const ChildVariable = "CORVANTIS_TEST_UNDER_LIMIT";

} // namespace

Q_DECLARE_METATYPE(Cause)

void TestFailedSaves::saveFails_data() {
    QTest::addColumn<Cause>("cause");
    QTest::addColumn<QString>("reason");
    QTest::newRow("file size limit") << Cause::FileSizeLimit << "File too large";
    QTest::newRow("folder deleted") << Cause::FolderDeleted << "No such file or directory";
    QTest::newRow("disk sync fails") << Cause::SyncFails << "Input/output error";
}

void TestFailedSaves::saveFails() {
    QFETCH(Cause, cause);
    QFETCH(QString, reason);
    const bool child = qEnvironmentVariableIsSet(ChildVariable);
    if (cause == Cause::FileSizeLimit && !child) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(ChildVariable), QStringLiteral("1"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("saveFails:") + QString::fromLatin1(QTest::currentDataTag())});
        QVERIFY(process.waitForFinished(120000));
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
                 process.readAll().constData());
        return;
    }

    QTemporaryDir temp;
    const QString folder = temp.filePath(QStringLiteral("lists"));
    QVERIFY(QDir().mkpath(folder));
    const QString fileName = QDir(folder).filePath(QStringLiteral("Week.cv1"));
    {
        DataTable table;
        TaskTable::CreateEmpty(table);
        for (int i = 0; i < 40; ++i) {
            table.append();
            table.setString(TaskRecord::Task, QStringLiteral("task %1").arg(i));
            table.post();
        }
        DataPacket::SaveToFile(table, fileName);
    }
    const QByteArray old = ReadFileBytes(fileName);

    ScriptedPrompt prompt;
    const std::unique_ptr<TfrmMain> window = StartCorvantis(temp.path() + u'/');
    prompt.openNames << fileName;
    window->findChild<QAction*>(QStringLiteral("actOpen"))->trigger();
    TfrTasks* view = window->ActiveTaskView();
    QVERIFY(view);
    view->cdsTasks()->append();
    view->cdsTasks()->setString(TaskRecord::Task, QStringLiteral("one more"));
    view->cdsTasks()->post();
    QVERIFY(view->Unsaved());

    switch (cause) {
    case Cause::FileSizeLimit: {
        const rlimit limit{rlim_t(old.size()), RLIM_INFINITY};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        break;
    }
    case Cause::FolderDeleted:
        QVERIFY(QDir(folder).removeRecursively());
        break;
    case Cause::SyncFails:
        SaveFile::setDataSyncForTesting([](int) {
            errno = EIO;
            return -1;
        });
        break;
    }
    window->findChild<QAction*>(QStringLiteral("actSave"))->trigger();

    QCOMPARE(prompt.errors,
             QStringList{QStringLiteral("Cannot create file \"%1\". %2.").arg(fileName, reason)});
    QVERIFY(view->Unsaved());
    QCOMPARE(window->PageControl()->tabText(0), QStringLiteral("Week *"));
    if (cause != Cause::FolderDeleted) {
        QCOMPARE(ReadFileBytes(fileName), old);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("Week.cv1")});
    }
}

// The new file is in place when the folder's sync fails: the list is saved, with a warning told
// once, and its fingerprint is taken, so the next save asks nothing.
void TestFailedSaves::folderSyncFailsAfterTheRename() {
    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("Week.cv1"));
    ScriptedPrompt prompt;
    const std::unique_ptr<TfrmMain> window = StartCorvantis(temp.path() + u'/');
    window->findChild<QAction*>(QStringLiteral("actNew"))->trigger();
    TfrTasks* view = window->ActiveTaskView();
    view->cdsTasks()->append();
    view->cdsTasks()->setString(TaskRecord::Task, QStringLiteral("one"));
    view->cdsTasks()->post();
    prompt.saveNames << fileName;
    window->findChild<QAction*>(QStringLiteral("actSave"))->trigger();
    view->cdsTasks()->append();
    view->cdsTasks()->setString(TaskRecord::Task, QStringLiteral("two"));
    view->cdsTasks()->post();

    SaveFile::setFolderSyncForTesting([](int) {
        errno = EIO;
        return -1;
    });
    window->findChild<QAction*>(QStringLiteral("actSave"))->trigger();
    QVERIFY(prompt.errors.isEmpty());
    QCOMPARE(prompt.notices.size(), 1);
    QVERIFY(prompt.notices.first().contains(QStringLiteral("could not be synced")));
    QVERIFY(prompt.notices.first().contains(fileName));
    QVERIFY(!view->Unsaved());
    QCOMPARE(window->PageControl()->tabText(0), QStringLiteral("Week"));
    QVERIFY(ReadFileBytes(fileName).contains("two"));

    SaveFile::setFolderSyncForTesting(nullptr);
    window->findChild<QAction*>(QStringLiteral("actSave"))->trigger();
    QVERIFY(prompt.questions.isEmpty());
    QCOMPARE(prompt.notices.size(), 1);
}

QTEST_MAIN(TestFailedSaves)
#include "tst_failedsaves.moc"
