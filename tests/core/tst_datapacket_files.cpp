#include "model/CorvantisError.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CorvantisError& e) {
        return e.message();
    }
    return QString();
}

QByteArray contents(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Every visible row as text, one line each; empty fields left out.
QString dump(const DataTable& table) {
    QStringList rows;
    for (int r = 0; r < table.visibleRowCount(); ++r) {
        const RowData& row = table.rowDataAt(r);
        QStringList cells;
        for (int f = 0; f < int(table.fields().size()); ++f)
            if (!row.isNull(f))
                cells << table.fields()[std::size_t(f)].name + u'=' + table.textOf(row, f);
        rows << cells.join(u'|');
    }
    return rows.join(u'\n');
}

// A table of random fields filled by random appends, edits and deletes through the table's
// own interface, the way the program fills a list.
class RandomList {
public:
    explicit RandomList(quint32 seed) : m_rng(seed) {}

    void build(DataTable& table) {
        FieldList fields;
        const int count = 1 + int(m_rng.bounded(12));
        const int autoInc = m_rng.bounded(10) < 7 ? int(m_rng.bounded(count + 1)) : -1;
        static const FieldKind kinds[] = {FieldKind::Integer, FieldKind::Word, FieldKind::String,
                                          FieldKind::Memo,    FieldKind::Date, FieldKind::DateTime,
                                          FieldKind::Boolean};
        static const QString names[] = {QStringLiteral("Caf\u00e9"), QStringLiteral("\u540d\u524d"),
                                        QStringLiteral("x_1"), QStringLiteral("A.b-c")};
        for (int i = 0; i <= count; ++i) {
            FieldDef def;
            def.name = i < 4 && m_rng.bounded(3) == 0 ? names[i] : QStringLiteral("F%1").arg(i);
            def.kind = i == autoInc ? FieldKind::AutoInc : kinds[m_rng.bounded(7)];
            def.width = def.kind == FieldKind::String ? 1 + int(m_rng.bounded(300)) : 0;
            if (m_rng.bounded(8) == 0)
                def.flags = std::uint8_t(FieldRequired << m_rng.bounded(3));
            fields.push_back(def);
        }
        table.setObjectName(QStringLiteral("cdsTasks"));
        table.setKeepHistory(m_rng.bounded(5) != 0);
        table.createEmpty(fields);

        const int operations = int(m_rng.bounded(80));
        for (int op = 0; op < operations; ++op) {
            const quint32 what = m_rng.bounded(20);
            if (what < 10 || table.visibleRowCount() == 0) {
                table.append();
                fill(table);
                table.post();
            } else if (what < 16) {
                table.moveToPosition(int(m_rng.bounded(table.visibleRowCount())));
                table.edit();
                fill(table);
                table.post();
            } else if (what < 19) {
                table.moveToPosition(int(m_rng.bounded(table.visibleRowCount())));
                table.remove();
            } else {
                table.edit();
                table.post(); // unchanged
            }
        }
        // Left pending: the save stores it.
        if (m_rng.bounded(2)) {
            table.append();
            fill(table);
        }
    }

private:
    QString text(int longest, bool multiLine) {
        static const QString pool = QStringLiteral("aZ 9<>&\"'\\\t\u00e9\u20ac\u4e2d\u0001") +
                                    QString::fromUtf8("\xF0\x9F\x98\x80");
        QString s;
        const int length = int(m_rng.bounded(longest + 1));
        for (int i = 0; i < length; ++i) {
            if (multiLine && m_rng.bounded(10) == 0) {
                s += QStringLiteral("\r\n");
                continue;
            }
            const int at = int(m_rng.bounded(pool.size()));
            s += pool.at(at).isSurrogate() ? pool.mid(pool.size() - 2) : QString(pool.at(at));
        }
        return s;
    }

    void fill(DataTable& table) {
        for (const FieldDef& def : table.fields()) {
            if (def.kind == FieldKind::AutoInc || m_rng.bounded(3) == 0)
                continue;
            if (m_rng.bounded(6) == 0) {
                table.setNull(def.name);
                continue;
            }
            switch (def.kind) {
            case FieldKind::Integer:
                table.setInteger(def.name, std::int64_t(std::int32_t(m_rng.generate())));
                break;
            case FieldKind::Word:
                table.setInteger(def.name, m_rng.bounded(65536));
                break;
            case FieldKind::String:
                table.setString(def.name, text(40, false));
                break;
            case FieldKind::Memo:
                // An empty memo is written as no value; it reads back empty, not as "".
                table.setString(def.name, QStringLiteral("m") + text(200, true));
                break;
            case FieldKind::Date:
                table.setDate(
                    def.name,
                    QDate(1 + int(m_rng.bounded(9999)), 1, 1).addDays(m_rng.bounded(365)));
                break;
            case FieldKind::DateTime:
                table.setDateTime(
                    def.name, QDateTime(QDate(1900 + int(m_rng.bounded(200)), 2, 28),
                                        QTime::fromMSecsSinceStartOfDay(
                                            m_rng.bounded(2) ? 0 : int(m_rng.bounded(86400000)))));
                break;
            case FieldKind::Boolean:
                table.setBoolean(def.name, m_rng.bounded(2));
                break;
            case FieldKind::AutoInc:
                break;
            }
        }
    }

    QRandomGenerator m_rng;
};

// The messages a file written by another program may fail with.
bool isReaderMessage(const QString& message) {
    static const QRegularExpression known(
        QStringLiteral(
            "^(Mismatch in datapacket\\.|Invalid field type\\.|Damaged data packet: .*\\.|"
            "A list file cannot contain a document type declaration\\.|"
            "'.*' is not a valid (integer value for field '.*'|date|date and time|boolean value "
            "for "
            "field '.*')|.* is not a valid value for field '.*'\\. The allowed range is .* to "
            ".*)$"),
        QRegularExpression::DotMatchesEverythingOption);
    return known.match(message).hasMatch();
}

// Loads a file and saves it twice through a reload: the second save must repeat the first.
void checkStableReload(const QString& fileName, const QString& tempFolder) {
    DataTable first;
    DataPacket::LoadFromFile(first, fileName);
    const QString copy = tempFolder + QStringLiteral("/copy.cv1");
    DataPacket::SaveToFile(first, copy);
    DataTable second;
    DataPacket::LoadFromFile(second, copy);
    QCOMPARE(dump(second), dump(first));
    QCOMPARE(DataPacket::Write(second), contents(copy));
}

} // namespace

class TestDataPacketFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }

    void randomRoundTrip_data();
    void randomRoundTrip();
    void ownFilesReloadStably_data();
    void ownFilesReloadStably();
    void otherProgramsFiles();
    void saveReplacesWholeFile();
    void saveIntoMissingFolder();
    void saveFailingHalfWay();
    void loadFailures();
};

void TestDataPacketFiles::randomRoundTrip_data() {
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 60; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

void TestDataPacketFiles::randomRoundTrip() {
    QFETCH(quint32, seed);
    DataTable original;
    RandomList(seed).build(original);
    const QByteArray bytes = DataPacket::Write(original);

    DataTable loaded;
    DataPacket::Read(loaded, bytes);
    QCOMPARE(loaded.fields().size(), original.fields().size());
    for (std::size_t f = 0; f < original.fields().size(); ++f) {
        const FieldDef& a = original.fields()[f];
        const FieldDef& b = loaded.fields()[f];
        QCOMPARE(b.name, a.name);
        QCOMPARE(b.kind, a.kind);
        QCOMPARE(b.width, a.width);
        QCOMPARE(b.flags,
                 std::uint8_t(a.kind == FieldKind::AutoInc ? a.flags | FieldReadOnly : a.flags));
    }
    QCOMPARE(dump(loaded), dump(original));
    QCOMPARE(loaded.changeLog(), original.changeLog());
    if (original.autoIncField() >= 0)
        QCOMPARE(loaded.autoIncValue(), original.autoIncValue());
    if (!original.changeLog().empty()) {
        // The whole history: every version with its state.
        QCOMPARE(loaded.versionCount(), original.versionCount());
        for (std::size_t v = 0; v < original.versionCount(); ++v) {
            QVERIFY(loaded.versionData(v).sameAs(original.versionData(v)));
            QCOMPARE(loaded.versionState(v), original.versionState(v));
        }
    }

    // Once loaded, a list saves to the same bytes every time; the first reload only adds
    // "readonly" to its auto-increment field.
    const QByteArray second = DataPacket::Write(loaded);
    QString expected = QString::fromUtf8(bytes);
    expected.replace(
        QRegularExpression(QStringLiteral("(fieldtype=\"i4\")([^/]*SUBTYPE=\"Autoinc\")")),
        QStringLiteral("\\1 readonly=\"true\"\\2"));
    QCOMPARE(second, expected.toUtf8());
    DataTable third;
    DataPacket::Read(third, second);
    QCOMPARE(DataPacket::Write(third), second);
}

void TestDataPacketFiles::ownFilesReloadStably_data() {
    QTest::addColumn<QString>("fileName");
    const QDir folder(QStringLiteral(CORVANTIS_TEST_DATA "/datapacket"));
    const QStringList files = folder.entryList(QDir::Files);
    QVERIFY(!files.isEmpty());
    for (const QString& name : files)
        QTest::newRow(qPrintable(name)) << folder.filePath(name);
}

void TestDataPacketFiles::ownFilesReloadStably() {
    QFETCH(QString, fileName);
    QTemporaryDir temp;
    checkStableReload(fileName, temp.path());
}

void TestDataPacketFiles::otherProgramsFiles() {
    const QDir folder(QStringLiteral(CORVANTIS_CORPUS_DIR "/datapackets"));
    if (!folder.exists())
        QSKIP("the corpus of other programs' files is not here");
    QTemporaryDir temp;
    int loaded = 0;
    const QStringList files = folder.entryList({QStringLiteral("*.xml")}, QDir::Files);
    QVERIFY(!files.isEmpty());
    for (const QString& name : files) {
        DataTable table;
        const QString error =
            errorOf([&] { DataPacket::LoadFromFile(table, folder.filePath(name)); });
        if (error.isEmpty()) {
            ++loaded;
            checkStableReload(folder.filePath(name), temp.path());
            if (QTest::currentTestFailed())
                qWarning("while reloading %s", qPrintable(name));
        } else {
            QVERIFY2(isReaderMessage(error), qPrintable(name + QStringLiteral(": ") + error));
            QVERIFY(!table.isActive());
        }
    }
    qInfo("%d of %d files loaded; the others failed with the reader's messages", loaded,
          int(files.size()));
}

void TestDataPacketFiles::saveReplacesWholeFile() {
    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("list.cv1"));
    put(fileName, QByteArray(100000, 'x'));
    DataTable table;
    TaskTable::CreateEmpty(table);
    DataPacket::SaveToFile(table, fileName);
    QCOMPARE(contents(fileName), DataPacket::Write(table));
    QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("list.cv1")});
}

void TestDataPacketFiles::saveIntoMissingFolder() {
    QTemporaryDir temp;
    DataTable table;
    TaskTable::CreateEmpty(table);
    table.append();
    table.setString(TaskRecord::Task, QStringLiteral("pending"));
    const QString fileName = temp.filePath(QStringLiteral("missing/list.cv1"));
    QCOMPARE(errorOf([&] { DataPacket::SaveToFile(table, fileName); }),
             QStringLiteral("Cannot create file \"%1\". No such file or directory").arg(fileName));
    QVERIFY(!QFile::exists(fileName));
    // The pending row was stored by the save; nothing else changed.
    QCOMPARE(table.versionCount(), std::size_t(1));
    QCOMPARE(table.state(), DataTable::State::Browse);
}

// A save whose writing stops half way (here: the process may not write files over 4 KiB, as
// with a full disk) reports the system's reason and leaves the old file as it was.
void TestDataPacketFiles::saveFailingHalfWay() {
    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("list.cv1"));
    const QByteArray old = "the old list, byte for byte";
    put(fileName, old);

    DataTable table;
    TaskTable::CreateEmpty(table);
    for (int i = 0; i < 200; ++i) {
        table.append();
        table.setString(TaskRecord::Task, QStringLiteral("task number %1").arg(i));
        table.post();
    }
    const QByteArray before = DataPacket::Write(table);
    QVERIFY(before.size() > 3 * 4096);

    int channel[2];
    QCOMPARE(pipe(channel), 0);
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        close(channel[0]);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN);
        const QByteArray message =
            errorOf([&] { DataPacket::SaveToFile(table, fileName); }).toUtf8();
        const ssize_t written = write(channel[1], message.constData(), std::size_t(message.size()));
        _exit(written == message.size() ? 0 : 1);
    }
    close(channel[1]);
    QByteArray message;
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(channel[0], buffer, sizeof buffer)) > 0)
        message.append(buffer, n);
    close(channel[0]);
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    QCOMPARE(QString::fromUtf8(message),
             QStringLiteral("Cannot create file \"%1\". File too large").arg(fileName));
    QCOMPARE(contents(fileName), old);
    QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("list.cv1")});
    QCOMPARE(DataPacket::Write(table), before);
}

void TestDataPacketFiles::loadFailures() {
    QTemporaryDir temp;
    DataTable table;
    TaskTable::CreateEmpty(table);

    const QString missing = temp.filePath(QStringLiteral("none.cv1"));
    QCOMPARE(errorOf([&] { DataPacket::LoadFromFile(table, missing); }),
             QStringLiteral("Cannot open file \"%1\". No such file or directory").arg(missing));
    QVERIFY(!table.isActive());

    QVERIFY(errorOf([&] {
                DataPacket::LoadFromFile(table, temp.path());
            }).startsWith(QStringLiteral("Cannot open file \"%1\". ").arg(temp.path())));

    const QString empty = temp.filePath(QStringLiteral("empty.cv1"));
    put(empty, QByteArray());
    QCOMPARE(errorOf([&] { DataPacket::LoadFromFile(table, empty); }),
             QStringLiteral("cdsTasks: Missing data provider or data packet"));

    // A relative name is reported by its full name.
    QDir::setCurrent(temp.path());
    QCOMPARE(errorOf([&] { DataPacket::LoadFromFile(table, QStringLiteral("rel.cv1")); }),
             QStringLiteral("Cannot open file \"%1\". No such file or directory")
                 .arg(temp.filePath(QStringLiteral("rel.cv1"))));
}

QTEST_GUILESS_MAIN(TestDataPacketFiles)
#include "tst_datapacket_files.moc"
