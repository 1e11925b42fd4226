#include "model/DataTable.h"
#include "model/TaskHistory.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "storage/HelperThread.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// What a save must survive and keep: a kill at any moment leaves the old file or the new one,
// never a mixture; helper threads that cannot be had change nothing; rows keep the file's order;
// a list whose file another program changes while it is open keeps all it read.
class TestSaveSafety : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void killedAtAnyMoment();
    void withoutHelperThreads();
    void rowsKeepTheFileOrder();
    void fileChangedUnderAnOpenList_data();
    void fileChangedUnderAnOpenList();
};

namespace {

// A list of `tasks` tasks with details, some edited, as a year of use leaves it.
void fill(DataTable& table, int tasks) {
    TaskTable::CreateEmpty(table);
    QRandomGenerator random(17);
    for (int i = 0; i < tasks; ++i) {
        table.append();
        table.setString(TaskRecord::Task, QStringLiteral("Task %1 & more").arg(i));
        table.setString(TaskRecord::Details, QStringLiteral("Line one\r\nline two of task %1 ")
                                                 .arg(i)
                                                 .repeated(int(random.bounded(1, 12))));
        table.post();
    }
}

void edit(DataTable& table, int row, const QString& task) {
    table.moveToPosition(row);
    table.edit();
    table.setString(TaskRecord::Task, task);
    table.post();
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// Descriptors this process has open.
int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size());
}

} // namespace

// A save killed (SIGKILL) at a hundred random moments: the target always holds the old bytes or
// the new ones, and at most the one temporary file a kill between naming it and the rename can
// leave, which the next save removes.
void TestSaveSafety::killedAtAnyMoment() {
    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("list.cv1"));
    DataTable table;
    fill(table, 10000);
    const QByteArray old = DataPacket::Write(table);
    edit(table, 5000, QStringLiteral("edited"));
    const QByteArray saved = DataPacket::Write(table);

    // How long a whole save takes, so the kills fall all over it.
    QVERIFY(WriteFileBytes(fileName, old));
    const ChildOutcome whole = RunInChild(
        [&] { return errorOf([&] { DataPacket::SaveToFile(table, fileName); }).toUtf8(); }, 60000);
    QVERIFY2(whole.exited && whole.output.isEmpty(), whole.output.constData());
    QCOMPARE(ReadFileBytes(fileName), saved);

    QRandomGenerator random(23);
    int oldKept = 0;
    int newInPlace = 0;
    int leftovers = 0;
    for (int kill = 0; kill < 100; ++kill) {
        QVERIFY(WriteFileBytes(fileName, old));
        const qint64 at = qint64(random.bounded(quint32(whole.elapsedMs + 20)));
        const ChildOutcome outcome = RunInChild(
            [&] {
                DataPacket::SaveToFile(table, fileName);
                return QByteArray();
            },
            at);
        const QByteArray now = ReadFileBytes(fileName);
        QVERIFY2(
            now == old || now == saved,
            qPrintable(
                QStringLiteral("kill %1 at %2 ms: %3 bytes").arg(kill).arg(at).arg(now.size())));
        (now == old ? oldKept : newInPlace)++;
        QStringList files = filesIn(temp.path());
        files.removeOne(QStringLiteral("list.cv1"));
        if (!files.isEmpty()) {
            QCOMPARE(files, QStringList{QStringLiteral("list.cv1.saving")});
            QCOMPARE(ReadFileBytes(temp.filePath(files.first())), saved);
            ++leftovers;
        }
        Q_UNUSED(outcome);
    }
    qInfo("100 kills over a save of %d bytes taking %lld ms: old file kept %d times, new file in "
          "place %d times, %d temporary files left by a kill before the rename",
          int(saved.size()), whole.elapsedMs, oldKept, newInPlace, leftovers);
    DataPacket::SaveToFile(table, fileName);
    QCOMPARE(ReadFileBytes(fileName), saved);
    QCOMPARE(filesIn(temp.path()), QStringList{QStringLiteral("list.cv1")});
}

// With no thread to be had, saving and loading do all the work on the calling thread: the save
// replaces the file and reports nothing afterwards, and no descriptor is left open.
void TestSaveSafety::withoutHelperThreads() {
    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("list.cv1"));
    DataTable table;
    fill(table, 10000); // large enough for a load in two halves
    DataPacket::SaveToFile(table, fileName);
    edit(table, 10, QStringLiteral("edited"));
    const QByteArray saved = DataPacket::Write(table);

    HelperThread::SetStartFailsForTesting(true);
    const int descriptors = openDescriptors();
    const QString error = errorOf([&] { DataPacket::SaveToFile(table, fileName); });
    DataTable loaded;
    const QString loadError = errorOf([&] { DataPacket::LoadFromFile(loaded, fileName); });
    HelperThread::SetStartFailsForTesting(false);
    QCOMPARE(error, QString());
    QCOMPARE(loadError, QString());
    QCOMPARE(ReadFileBytes(fileName), saved);
    QCOMPARE(openDescriptors(), descriptors);
    DataTable inTwoHalves;
    DataPacket::LoadFromFile(inTwoHalves, fileName);
    QCOMPARE(DataPacket::Write(loaded), DataPacket::Write(inTwoHalves));
}

// A list without a change log is written in its natural order (the file's), whatever order the
// view shows: opening selects the ID order, and saving must not carry that into the file.
void TestSaveSafety::rowsKeepTheFileOrder() {
    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("list.cv1"));
    DataTable table;
    TaskTable::CreateEmpty(table);
    const QByteArray empty = DataPacket::Write(table);
    const QByteArray rows = R"(<ROW ID="3" Task="third"/><ROW ID="1" Task="first"/>)"
                            R"(<ROW ID="2" Task="second"/>)";
    QByteArray file = empty;
    file.replace("<ROWDATA>", "<ROWDATA>" + rows);
    file.replace(R"(AUTOINCVALUE="1")", R"(AUTOINCVALUE="4")");
    QVERIFY(WriteFileBytes(fileName, file));

    DataPacket::LoadFromFile(table, fileName);
    table.setIndexName(TaskTable::IndexID);
    table.first();
    QCOMPARE(table.asString(TaskRecord::Task), QStringLiteral("first"));
    DataPacket::SaveToFile(table, fileName);
    const QByteArray written = ReadFileBytes(fileName);
    QVERIFY(written.contains("<ROWDATA>" + rows + "</ROWDATA>"));
}

// Another program cuts the list's file short, overwrites or replaces it while the list is open:
// the list keeps everything it read (its rows, every version of its history) and saves exactly
// what the same list read from an untouched copy saves.
void TestSaveSafety::fileChangedUnderAnOpenList_data() {
    QTest::addColumn<QString>("change");
    for (const char* change : {"cut to nothing", "cut in half", "overwritten", "replaced"})
        QTest::newRow(change) << QString::fromLatin1(change);
}

void TestSaveSafety::fileChangedUnderAnOpenList() {
    QFETCH(QString, change);
    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("list.cv1"));
    const QString copy = temp.filePath(QStringLiteral("copy.cv1"));
    {
        // Large enough to be read in two halves, with edits and deletions in its history.
        DataTable table;
        fill(table, 12000);
        for (int i = 0; i < 3000; ++i)
            edit(table, (i * 7) % 12000, QStringLiteral("edited %1").arg(i));
        for (int i = 0; i < 400; ++i) {
            table.moveToPosition(i * 20);
            table.remove();
        }
        DataPacket::SaveToFile(table, fileName);
    }
    QVERIFY(QFile::copy(fileName, copy));
    QVERIFY(QFileInfo(fileName).size() > 4 << 20);
    DataTable list;
    DataPacket::LoadFromFile(list, fileName);
    DataTable untouched;
    DataPacket::LoadFromFile(untouched, copy);

    const QByteArray path = QFile::encodeName(fileName);
    const qint64 size = QFileInfo(fileName).size();
    if (change == u"cut to nothing") {
        QCOMPARE(truncate(path.constData(), 0), 0);
    } else if (change == u"cut in half") {
        QCOMPARE(truncate(path.constData(), size / 2), 0);
    } else if (change == u"overwritten") {
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QCOMPARE(file.write(QByteArray(int(size), 'x')), size);
    } else {
        const QString other = temp.filePath(QStringLiteral("other.cv1"));
        QVERIFY(WriteFileBytes(other, QByteArray("<DATAPACKET/>")));
        QCOMPARE(::rename(QFile::encodeName(other).constData(), path.constData()), 0);
    }

    // The rows, every version and the deleted tasks as read.
    QCOMPARE(list.visibleRowCount(), untouched.visibleRowCount());
    for (int r = 0; r < list.visibleRowCount(); r += 97)
        for (int f = 0; f < int(list.fields().size()); ++f)
            QCOMPARE(list.displayTextOf(list.rowDataAt(r), f),
                     untouched.displayTextOf(untouched.rowDataAt(r), f));
    QCOMPARE(TaskHistory::versionsOfRow(list, list.rowIdAt(5)).size(),
             TaskHistory::versionsOfRow(untouched, untouched.rowIdAt(5)).size());
    QCOMPARE(TaskHistory::deletedTasks(list).size(), std::size_t(400));

    // Edited and saved over whatever is there now (the versions not read yet written as they
    // were kept), then every version read.
    for (DataTable* table : {&list, &untouched})
        edit(*table, 3, QStringLiteral("edited after the change"));
    DataPacket::SaveToFile(list, fileName);
    QCOMPARE(ReadFileBytes(fileName), DataPacket::Write(untouched));
    QCOMPARE(list.versionCount(), untouched.versionCount());
    for (std::size_t v = 0; v < list.versionCount(); ++v)
        QVERIFY(list.versionData(v).sameAs(untouched.versionData(v)));
}

QTEST_GUILESS_MAIN(TestSaveSafety)
#include "tst_savesafety.moc"
