#include "calendar/CalendarFile.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "storage/DataPacket.h"
#include "support/FileBytes.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "view/uFrTasks.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace TaskRecord;

class TestCalendarExport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void exportAndImportThroughTheWindow();

private:
    QTemporaryDir m_dataHome;
};

void TestCalendarExport::initTestCase() {
    PinLocaleAndClock();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome.path()));
}

void TestCalendarExport::exportAndImportThroughTheWindow() {
    QTemporaryDir folder;
    ScriptedPrompt prompt;
    const std::unique_ptr<TfrmMain> main = StartCorvantis(folder.path() + u'/');
    const auto action = [&](const char* name) {
        return main->findChild<QAction*>(QLatin1String(name));
    };
    // In the File menu right after the copy without history.
    const QList<QAction*> entries = main->findChild<QMenu*>(QStringLiteral("File1"))->actions();
    QCOMPARE(entries.indexOf(action("actExportICal")), entries.indexOf(action("actSaveCopy")) + 1);
    QCOMPARE(action("actExportICal")->text(), QStringLiteral("&Export to iCalendar..."));

    action("actNew")->trigger();
    DataTable* tasks = main->ActiveTaskView()->cdsTasks();
    tasks->append();
    tasks->setString(Task, QStringLiteral("Plan the trip, then book"));
    tasks->setString(Status, Paused);
    tasks->setString(Priority, Urgent);
    tasks->post();
    tasks->append();
    tasks->setString(Task, QStringLiteral("Pack"));
    tasks->setDate(DueDate, QDate(2025, 4, 1));
    const QByteArray listBefore = DataPacket::Write(*tasks); // the pending task is stored

    const QString file = folder.filePath(QStringLiteral("trip.ics"));
    prompt.saveNames << file;
    action("actExportICal")->trigger();
    QVERIFY2(prompt.errors.isEmpty(), qPrintable(prompt.errors.join(u'\n')));
    QCOMPARE(prompt.saveRequests.last().filter,
             QStringLiteral("iCalendar|*.ics|All Files (*.*)|*.*"));
    QCOMPARE(prompt.saveRequests.last().defaultExtension, QStringLiteral("ics"));
    QCOMPARE(prompt.saveRequests.last().fileName, QStringLiteral("New.ics"));
    QCOMPARE(main->ActiveTaskView()->NoteText(),
             QStringLiteral("Exported 2 tasks to %1.").arg(QDir::toNativeSeparators(file)));
    QCOMPARE(DataPacket::Write(*tasks), listBefore);
    const QByteArray exported = ReadFileBytes(file);
    QCOMPARE(CalendarFile::Read(exported, Fields()).size(), std::size_t(2));

    // A saved list offers its own name beside it.
    const QString saved = folder.filePath(QStringLiteral("lists/Trip plans.cv1"));
    QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("lists"))));
    prompt.saveNames << saved << QString();
    action("actSaveAs")->trigger();
    action("actExportICal")->trigger();
    QCOMPARE(prompt.saveRequests.last().directory, QFileInfo(saved).absolutePath());
    QCOMPARE(prompt.saveRequests.last().fileName, QStringLiteral("Trip plans.ics"));

    // Over an existing file only after Yes.
    prompt.saveNames << file;
    prompt.answers << false;
    tasks->edit();
    tasks->setString(Task, QStringLiteral("Pack light"));
    tasks->post();
    action("actExportICal")->trigger();
    QCOMPARE(prompt.questions.last(), QStringLiteral("File already exists! Overwrite ?"));
    QCOMPARE(ReadFileBytes(file), exported);

    // Imported into another list through the Import command, as one step to undo.
    action("actNew")->trigger();
    DataTable* other = main->ActiveTaskView()->cdsTasks();
    prompt.openNames << file;
    action("tbImport")->trigger();
    QVERIFY(prompt.openRequests.last().filter.startsWith(
        QStringLiteral("Corvantis File v1|*.cv1|All Files (*.*)|*.*|iCalendar|*.ics")));
    QCOMPARE(other->recordCount(), 2);
    other->first();
    QCOMPARE(other->asString(Task), QStringLiteral("Plan the trip, then book"));
    QCOMPARE(other->asString(Status), Paused);
    QCOMPARE(other->asString(Priority), Urgent);
    other->next();
    QCOMPARE(other->asDate(DueDate), QDate(2025, 4, 1));
    action("actUndo")->trigger();
    QCOMPARE(other->recordCount(), 0);
    QVERIFY(prompt.errors.isEmpty());
}

QTEST_MAIN(TestCalendarExport)
#include "tst_calendarexport.moc"
