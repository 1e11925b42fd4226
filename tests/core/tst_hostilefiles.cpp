#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "storage/HelperThread.h"
#include "support/ChildProcess.h"
#include "support/ReferencePacketReader.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <malloc.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Files built to hurt a reader: one value of 64 MB, endless or special files, a sparse giant.
// Each is loaded in a child process of its own, so that its memory is measured alone and a hang
// or a runaway cannot take the test run with it. Each must load or fail with a clear message,
// quickly and in less than four times its size of memory.
class TestHostileFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void loadOrFailInBounds_data();
    void loadOrFailInBounds();
    void oneThreadOrTwoAlike();
};

namespace {

constexpr qint64 MiB = qint64(1) << 20;

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer makes every load several times slower: fewer mutants there, all the
// checks of the others.
constexpr int Mutants = 50;
#else
constexpr int Mutants = 200;
#endif

enum class Make { Value, Unterminated, Fifo, DevZero, Sparse };

// The packet of an empty task list up to the rows.
QByteArray packetHead() {
    DataTable table;
    TaskTable::CreateEmpty(table);
    const QByteArray empty = DataPacket::Write(table);
    return empty.left(empty.indexOf("<ROWDATA>") + 9);
}

// One row whose field holds `unit` repeated to about `size` bytes, closed or cut off after it.
bool writeLongValue(const QString& fileName, const QByteArray& field, const QByteArray& unit,
                    qint64 size, bool closed) {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(packetHead() + "<ROW RowState=\"4\" ID=\"1\" " + field + "=\"");
    const qsizetype perChunk = qsizetype(MiB / unit.size());
    const QByteArray chunk = unit.repeated(perChunk);
    for (qint64 units = size / unit.size(); units > 0; units -= perChunk)
        if (file.write(chunk.left(qsizetype(std::min<qint64>(units, perChunk) * unit.size()))) < 0)
            return false;
    if (closed)
        file.write("\"/></ROWDATA></DATAPACKET>");
    return file.error() == QFileDevice::NoError;
}

// What a load makes: the table, or the error's message when it failed.
struct Loaded {
    DataTable table;
    QString error;
    explicit Loaded(const QByteArray& bytes) {
        table.setObjectName(QStringLiteral("cdsTasks"));
        error = errorOf([&] { DataPacket::Read(table, bytes); });
    }
    // The same error, or the same fields, versions, states, change log and counter.
    bool sameAs(const Loaded& other) const {
        const DataTable& a = table;
        const DataTable& b = other.table;
        if (error != other.error || a.fields().size() != b.fields().size() ||
            a.versionCount() != b.versionCount() || a.changeLog() != b.changeLog() ||
            a.autoIncValue() != b.autoIncValue())
            return false;
        for (std::size_t f = 0; f < a.fields().size(); ++f) {
            const FieldDef& x = a.fields()[f];
            const FieldDef& y = b.fields()[f];
            if (x.name != y.name || x.kind != y.kind || x.width != y.width || x.flags != y.flags)
                return false;
        }
        for (std::size_t v = 0; v < a.versionCount(); ++v)
            if (a.versionState(v) != b.versionState(v) ||
                !a.versionData(v).sameAs(b.versionData(v)))
                return false;
        return true;
    }
};

} // namespace

Q_DECLARE_METATYPE(Make)

void TestHostileFiles::loadOrFailInBounds_data() {
    QTest::addColumn<Make>("make");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<qint64>("valueBytes"); // of the loaded value
    QTest::addColumn<QString>("error");     // %1: the file's full name

    const qint64 size = 64 * MiB;
    QTest::newRow("64 MB Task, cut to its width")
        << Make::Value << QByteArray("Task") << QByteArray("abcdefgh") << qint64(255) << QString();
    // "Line \r\ncafé " is 13 bytes decoded.
    QTest::newRow("64 MB Details, lines and UTF-8")
        << Make::Value << QByteArray("Details") << QByteArray("Line &#013;&#010;caf\xC3\xA9 ")
        << size / 23 * 13 << QString();
    QTest::newRow("64 MB of &amp; in Details")
        << Make::Value << QByteArray("Details") << QByteArray("&amp;") << size / 5 << QString();
    QTest::newRow("64 MB value without its end")
        << Make::Unterminated << QByteArray("Details") << QByteArray("x") << qint64(0)
        << QStringLiteral("Damaged data packet: the file ends inside \"ROW\".");
    QTest::newRow("named pipe") << Make::Fifo << QByteArray() << QByteArray() << qint64(0)
                                << QStringLiteral("Cannot open file \"%1\". It is a named pipe, "
                                                  "not a file.");
    QTest::newRow("link to /dev/zero")
        << Make::DevZero << QByteArray() << QByteArray() << qint64(0)
        << QStringLiteral("Cannot open file \"%1\". It is a device, not a file.");
    QTest::newRow("sparse 4 GB") << Make::Sparse << QByteArray() << QByteArray() << qint64(0)
                                 << QStringLiteral("Cannot open file \"%1\". The file is "
                                                   "4,096.0 MB; at most 1,024.0 MB can be read.");
}

void TestHostileFiles::loadOrFailInBounds() {
    QFETCH(Make, make);
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, unit);
    QFETCH(qint64, valueBytes);
    QFETCH(QString, error);

    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("hostile.cv1"));
    const QByteArray path = QFile::encodeName(fileName);
    switch (make) {
    case Make::Value:
    case Make::Unterminated:
        QVERIFY(writeLongValue(fileName, field, unit, 64 * MiB, make == Make::Value));
        break;
    case Make::Fifo:
        QCOMPARE(mkfifo(path.constData(), 0600), 0);
        break;
    case Make::DevZero:
        QCOMPARE(symlink("/dev/zero", path.constData()), 0);
        break;
    case Make::Sparse:
        QVERIFY(QFile(fileName).open(QIODevice::WriteOnly));
        QCOMPARE(truncate(path.constData(), 4096 * MiB), 0);
        break;
    }
    struct stat status {};
    const bool dense = stat(path.constData(), &status) == 0 && S_ISREG(status.st_mode) &&
                       status.st_blocks * 512 >= status.st_size;
    // Four times the file, or for files that hold nothing to read, a little working memory.
    const qint64 boundKiB = dense ? 4 * status.st_size / 1024 : 64 * 1024;

    const ChildOutcome outcome = RunInChild(
        [&] {
            const qint64 before = ResidentKiB(getpid());
            DataTable table;
            table.setObjectName(QStringLiteral("cdsTasks"));
            const QString message = errorOf([&] { DataPacket::LoadFromFile(table, fileName); });
            qint64 bytes = -1;
            if (message.isEmpty() && table.visibleRowCount() == 1)
                bytes = qint64(
                    table.rowDataAt(0).raw(table.fieldIndex(QString::fromLatin1(field))).size());
            return QByteArray::number(PeakKiB() - before) + '\n' + QByteArray::number(bytes) +
                   '\n' + message.toUtf8();
        },
        20000, ResidentKiB(getpid()) + 2 * boundKiB);
    QVERIFY2(!outcome.cutShort, outcome.tooLarge ? "runs out of memory" : "hangs");
    QVERIFY2(outcome.exited && outcome.exitCode == 0, "crashes");
    const QList<QByteArray> report = outcome.output.split('\n');
    QCOMPARE(report.size(), 3);
    qInfo("%lld ms, %lld MB", outcome.elapsedMs, report[0].toLongLong() / 1024);
    QCOMPARE(QString::fromUtf8(report[2]), error.contains(u"%1") ? error.arg(fileName) : error);
    QCOMPARE(report[1].toLongLong(), error.isEmpty() ? valueBytes : -1);
#if !defined(__SANITIZE_ADDRESS__)
    // (The address sanitizer keeps freed memory aside for a while: no measure there.)
    QVERIFY2(report[0].toLongLong() < boundKiB,
             qPrintable(QStringLiteral("%1 MB").arg(report[0].toLongLong() / 1024)));
#endif
}

// A large list is read in two halves at once; a byte changed anywhere, near the middle where the
// halves meet above all, must give the same table or the same error as reading it in one go,
// and (every fourth mutant) as the reference reader.
void TestHostileFiles::oneThreadOrTwoAlike() {
    if (std::thread::hardware_concurrency() < 2)
        QSKIP("one processor: lists are read in one go");
    DataTable table;
    TaskTable::CreateEmpty(table);
    QRandomGenerator random(31);
    for (int i = 0; table.versionCount() < 52000; ++i) {
        table.append();
        table.setString(TaskRecord::Task,
                        QStringLiteral("Task %1 <%2>").arg(i).arg(random.generate()));
        table.setString(
            TaskRecord::Details,
            QStringLiteral("D\u00e9tails\r\n\t%1 & ").arg(i).repeated(int(random.bounded(1, 6))));
        table.post();
        if (i % 3 == 0) {
            table.edit();
            table.setInteger(TaskRecord::Progress, int(random.bounded(101)));
            table.post();
        }
    }
    QByteArray list = DataPacket::Write(table);
    QVERIFY2(list.size() > 10 << 20, QByteArray::number(list.size()).constData());

    // Memory handed back is kept for the next load: fresh pages for every load would cost the
    // test most of its time.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    int failed = 0;
    for (int mutant = 0; mutant < Mutants; ++mutant) {
        // Half of the changes within 64 KB of the middle.
        const qsizetype at = mutant % 2
                                 ? qsizetype(random.bounded(quint32(list.size())))
                                 : list.size() / 2 - 65536 + qsizetype(random.bounded(131072u));
        const char flip = char(random.bounded(1, 256));
        list[at] = char(list[at] ^ flip);
        const QByteArray& bytes = list;
        const Loaded twoThreads(bytes);
        HelperThread::SetStartFailsForTesting(true);
        const Loaded oneThread(bytes);
        HelperThread::SetStartFailsForTesting(false);
        QVERIFY2(twoThreads.sameAs(oneThread),
                 qPrintable(QStringLiteral("byte %1: \"%2\" / \"%3\"")
                                .arg(at)
                                .arg(twoThreads.error, oneThread.error)));
        if (mutant % 4 == 0)
            QCOMPARE(ReferencePacketReader::Difference(bytes), QString());
        failed += !twoThreads.error.isEmpty();
        list[at] = char(list[at] ^ flip);
    }
    qInfo("%d mutants of a %lld-byte list: %d failed alike, the others loaded alike", Mutants,
          qint64(list.size()), failed);
}

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
