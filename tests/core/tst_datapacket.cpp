#include "base/CorvantisError.h"
#include "core/TaskListFixture.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "support/FileBytes.h"
#include "support/ReferencePacketReader.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace TaskRecord;

namespace {

const QByteArray Declaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>  )";

// The 25 field descriptions of a list made by New, as its first save writes them.
const QByteArray NewListFields =
    R"(<FIELD attrname="ID" fieldtype="i4" SUBTYPE="Autoinc"/>)"
    R"(<FIELD attrname="Task" fieldtype="string" WIDTH="255"/>)"
    R"(<FIELD attrname="Status" fieldtype="string" WIDTH="20"/>)"
    R"(<FIELD attrname="Priority" fieldtype="string" WIDTH="20"/>)"
    R"(<FIELD attrname="Progress" fieldtype="i4"/>)"
    R"(<FIELD attrname="Difficulty" fieldtype="string" WIDTH="20"/>)"
    R"(<FIELD attrname="CreatedDate" fieldtype="date"/>)"
    R"(<FIELD attrname="CompletedDate" fieldtype="date"/>)"
    R"(<FIELD attrname="LastActioned" fieldtype="date"/>)"
    R"(<FIELD attrname="StartDate" fieldtype="date"/>)"
    R"(<FIELD attrname="Time" fieldtype="i4"/>)"
    R"(<FIELD attrname="ParentID" fieldtype="i4"/>)"
    R"(<FIELD attrname="Bookmarked" fieldtype="boolean"/>)"
    R"(<FIELD attrname="AssignedTo" fieldtype="string" WIDTH="30"/>)"
    R"(<FIELD attrname="DueDate" fieldtype="date"/>)"
    R"(<FIELD attrname="GroupNo" fieldtype="i4"/>)"
    R"(<FIELD attrname="Comments" fieldtype="string" WIDTH="255"/>)"
    R"(<FIELD attrname="Owner" fieldtype="string" WIDTH="30"/>)"
    R"(<FIELD attrname="Details" fieldtype="bin.hex" SUBTYPE="Text"/>)"
    R"(<FIELD attrname="Category" fieldtype="string" WIDTH="30"/>)"
    R"(<FIELD attrname="RelatedFile" fieldtype="string" WIDTH="255"/>)"
    R"(<FIELD attrname="LinkedList" fieldtype="string" WIDTH="255"/>)"
    R"(<FIELD attrname="Properties" fieldtype="bin.hex" SUBTYPE="Text"/>)"
    R"(<FIELD attrname="Points" fieldtype="ui2"/>)"
    R"(<FIELD attrname="URL" fieldtype="string" WIDTH="255"/>)";

// A packet in the writer's form around the given pieces.
QByteArray packet(const QByteArray& fields, const QByteArray& params, const QByteArray& rows,
                  const QByteArray& declaration = Declaration) {
    return declaration + R"(<DATAPACKET Version="2.0"><METADATA><FIELDS>)" + fields +
           "</FIELDS><PARAMS" + params + "/></METADATA><ROWDATA>" + rows +
           "</ROWDATA></DATAPACKET>";
}

// A task table as a list view wires it, without the new-row defaults: the tests set what the
// file should hold.
struct BareTasks : TaskListFixture {
    BareTasks() : TaskListFixture(TaskRecord::Fields(), WithoutDefaults) {}
};

// Every visible row, fields by name=value (empty fields left out), one row per line.
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
    QCOMPARE(DataPacket::Write(second), ReadFileBytes(copy));
}

} // namespace

class TestDataPacket : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }

    void workedExample();
    void emptyList();
    void historyAcrossSaves();
    void valueForms_data();
    void valueForms();
    void counterRule_data();
    void counterRule();
    void encodings_data();
    void encodings();
    void oneBadByteAnywhere_data();
    void oneBadByteAnywhere();
    void tolerantForms_data();
    void tolerantForms();
    void changeLogForms_data();
    void changeLogForms();
    void readErrors_data();
    void readErrors();
    void fileWithoutProperties();
    void recentStore();

    void randomRoundTrip_data();
    void randomRoundTrip();
    void ownFilesReloadStably_data();
    void ownFilesReloadStably();
    void otherProgramsFiles();
    void sameAsReference_data();
    void sameAsReference();
    void saveReplacesWholeFile();
    void saveIntoMissingFolder();
    void saveFailingHalfWay();
    void loadFailures();
    void largeFile();
    void badByteInALongRowBeforeTheMiddle();
};

void TestDataPacket::workedExample() {
    BareTasks t;
    t.table.append();
    t.table.setString(Task, QStringLiteral("Add Task"));
    t.table.setString(Status, NotStarted);
    t.table.setInteger(Progress, 0);
    t.table.setDate(CreatedDate, QDate(2025, 2, 6));
    t.table.setBoolean(Bookmarked, false);
    t.table.post();
    t.table.edit();
    t.table.setInteger(Progress, 50);
    t.table.post();

    const QByteArray expected =
        Declaration + R"(<DATAPACKET Version="2.0"><METADATA><FIELDS>)" + NewListFields +
        R"(</FIELDS><PARAMS CHANGE_LOG="1 0 4 2 1 8" AUTOINCVALUE="2"/></METADATA><ROWDATA>)"
        R"(<ROW RowState="5" ID="1" Task="Add Task" Status="Not Started" Progress="0" )"
        R"(CreatedDate="20250206" Bookmarked="FALSE"/>)"
        R"(<ROW RowState="12" ID="1" Task="Add Task" Status="Not Started" Progress="50" )"
        R"(CreatedDate="20250206" Bookmarked="FALSE"/>)"
        "</ROWDATA></DATAPACKET>";
    QCOMPARE(DataPacket::Write(t.table), expected);
}

void TestDataPacket::emptyList() {
    BareTasks t;
    // A row appended and left untouched is dropped by the save, not written.
    t.table.append();
    const QByteArray bytes = DataPacket::Write(t.table);
    QCOMPARE(bytes, Declaration + R"(<DATAPACKET Version="2.0"><METADATA><FIELDS>)" +
                        NewListFields +
                        R"(</FIELDS><PARAMS AUTOINCVALUE="1"/></METADATA><ROWDATA></ROWDATA>)"
                        "</DATAPACKET>");

    DataTable loaded;
    DataPacket::Read(loaded, bytes);
    QVERIFY(loaded.isActive());
    QCOMPARE(loaded.fields().size(), std::size_t(25));
    QCOMPARE(loaded.visibleRowCount(), 0);
    QCOMPARE(loaded.autoIncValue(), 1);
}

void TestDataPacket::historyAcrossSaves() {
    BareTasks t;
    t.add(QStringLiteral("Task=one"));
    t.add(QStringLiteral("Task=two"));
    t.add(QStringLiteral("Task=three"));
    QByteArray bytes = DataPacket::Write(t.table);
    QVERIFY(bytes.contains(R"(<PARAMS CHANGE_LOG="1 0 4 2 0 4 3 0 4" AUTOINCVALUE="4"/>)"));
    QCOMPARE(bytes.count(R"(<ROW RowState="4" )"), 3);
    QVERIFY(!bytes.contains("readonly"));

    t.table.moveToPosition(1);
    t.table.remove();
    bytes = DataPacket::Write(t.table);
    QVERIFY(bytes.contains(R"(<PARAMS CHANGE_LOG="1 0 4 2 0 4 3 0 4 2 0 2" AUTOINCVALUE="4"/>)"));
    QVERIFY(bytes.contains(R"(<ROW RowState="6" ID="2" Task="two"/>)"));

    // Loading shows the two remaining tasks and marks ID read-only; the history goes on.
    DataTable loaded;
    TaskTable::Configure(loaded);
    DataPacket::Read(loaded, bytes);
    loaded.setIndexName(TaskTable::IndexID);
    QCOMPARE(dump(loaded), QStringLiteral("ID=1|Task=one\nID=3|Task=three"));
    QCOMPARE(VersionStates(loaded), QStringLiteral("4 6 4"));
    QCOMPARE(errorOf([&] {
                 loaded.edit();
                 loaded.setInteger(ID, 9);
             }),
             QStringLiteral("Field 'ID' cannot be modified"));
    loaded.cancel();

    loaded.last();
    loaded.edit();
    loaded.setInteger(Progress, 30);
    loaded.post();
    loaded.edit();
    loaded.setInteger(Progress, 30);
    loaded.post(); // unchanged: adds nothing
    bytes = DataPacket::Write(loaded);
    QVERIFY(bytes.contains(
        R"(<FIELD attrname="ID" fieldtype="i4" readonly="true" SUBTYPE="Autoinc"/>)"));
    QVERIFY(bytes.contains(R"(CHANGE_LOG="1 0 4 2 0 4 3 0 4 2 0 2 4 3 8" AUTOINCVALUE="4")"));
    QVERIFY(bytes.contains(R"(<ROW RowState="5" ID="3" Task="three"/>)"));
    QVERIFY(bytes.endsWith(
        R"(<ROW RowState="12" ID="3" Task="three" Progress="30"/></ROWDATA></DATAPACKET>)"));

    DataTable again;
    DataPacket::Read(again, bytes);
    QCOMPARE(dump(again), QStringLiteral("ID=1|Task=one\nID=3|Task=three|Progress=30"));
    // A loaded list saves to the same bytes it was loaded from.
    QCOMPARE(DataPacket::Write(again), bytes);
}

void TestDataPacket::valueForms_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("written"); // the attribute as the file has it
    QTest::addColumn<QString>("readBack");   // "<null>" for an empty field

    QTest::newRow("five escapes") << Comments << QVariant(QStringLiteral("<&\"'>"))
                                  << QByteArray(R"( Comments="&lt;&amp;&quot;&apos;&gt;")")
                                  << QStringLiteral("<&\"'>");
    QTest::newRow("backslash") << RelatedFile << QVariant(QStringLiteral("C:\\a.txt"))
                               << QByteArray(R"( RelatedFile="C:&#092;a.txt")")
                               << QStringLiteral("C:\\a.txt");
    QTest::newRow("memo line break")
        << Details << QVariant(QStringLiteral("first\r\nsecond"))
        << QByteArray(R"( Details="first&#013;&#010;second")") << QStringLiteral("first\r\nsecond");
    QTest::newRow("tab") << Task << QVariant(QStringLiteral("a\tb"))
                         << QByteArray(R"( Task="a&#009;b")") << QStringLiteral("a\tb");
    QTest::newRow("e acute as C3 A9")
        << Task << QVariant(QStringLiteral("caf\u00e9")) << QByteArray(" Task=\"caf\xC3\xA9\"")
        << QStringLiteral("caf\u00e9");
    QTest::newRow("beyond the BMP")
        << Task << QVariant(QString::fromUtf8("\xF0\x9F\x98\x80!"))
        << QByteArray(" Task=\"\xF0\x9F\x98\x80!\"") << QString::fromUtf8("\xF0\x9F\x98\x80!");
    QTest::newRow("empty text is an empty attribute")
        << Comments << QVariant(QString()) << QByteArray(R"( Comments="")") << QString();
    QTest::newRow("empty memo is no attribute")
        << Details << QVariant(QString()) << QByteArray() << QStringLiteral("<null>");
    QTest::newRow("year 999") << DueDate << QVariant(QDate(999, 3, 3))
                              << QByteArray(R"( DueDate="09990303")") << QStringLiteral("3/3/0999");
    QTest::newRow("true") << Bookmarked << QVariant(true) << QByteArray(R"( Bookmarked="TRUE")")
                          << QStringLiteral("True");
    QTest::newRow("negative") << ParentID << QVariant(-17) << QByteArray(R"( ParentID="-17")")
                              << QStringLiteral("-17");
    QTest::newRow("points top") << Points << QVariant(65535) << QByteArray(R"( Points="65535")")
                                << QStringLiteral("65535");
}

void TestDataPacket::valueForms() {
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, written);
    QFETCH(QString, readBack);

    BareTasks t;
    t.table.append();
    t.table.setString(Task, QStringLiteral("x"));
    switch (value.typeId()) {
    case QMetaType::QDate:
        t.table.setDate(field, value.toDate());
        break;
    case QMetaType::Bool:
        t.table.setBoolean(field, value.toBool());
        break;
    case QMetaType::Int:
        t.table.setInteger(field, value.toInt());
        break;
    default:
        t.table.setString(field, value.toString());
    }
    t.table.post();
    const QByteArray bytes = DataPacket::Write(t.table);
    if (written.isEmpty())
        QVERIFY(!bytes.contains(" " + field.toUtf8() + "="));
    else
        QVERIFY2(bytes.contains(written), bytes.constData());
    // An empty date field is never written.
    QVERIFY(!bytes.contains(" CompletedDate="));

    DataTable loaded;
    DataPacket::Read(loaded, bytes);
    QCOMPARE(loaded.isNull(field) ? QStringLiteral("<null>") : loaded.asString(field), readBack);
    QVERIFY(loaded.isNull(CompletedDate));
    const QByteArray again = DataPacket::Write(loaded);
    QCOMPARE(again.mid(again.indexOf("</FIELDS>")), bytes.mid(bytes.indexOf("</FIELDS>")));
}

void TestDataPacket::counterRule_data() {
    QTest::addColumn<QByteArray>("params");
    QTest::addColumn<QByteArray>("rows");
    QTest::addColumn<int>("nextId");

    const QByteArray threeRows = R"(<ROW RowState="4" ID="1" Task="a"/>)"
                                 R"(<ROW RowState="4" ID="2" Task="b"/>)"
                                 R"(<ROW RowState="6" ID="5" Task="gone"/>)";
    QTest::newRow("sound counter kept") << QByteArray(R"( AUTOINCVALUE="9")") << threeRows << 9;
    QTest::newRow("counter right above the last ID")
        << QByteArray(R"( AUTOINCVALUE="6")") << threeRows << 6;
    QTest::newRow("missing counter") << QByteArray() << threeRows << 6;
    QTest::newRow("counter behind a deleted ID")
        << QByteArray(R"( AUTOINCVALUE="3")") << threeRows << 6;
    QTest::newRow("missing counter, no rows") << QByteArray() << QByteArray() << 1;
    QTest::newRow("counter below one") << QByteArray(R"( AUTOINCVALUE="-4")") << QByteArray() << 1;
}

void TestDataPacket::counterRule() {
    QFETCH(QByteArray, params);
    QFETCH(QByteArray, rows);
    QFETCH(int, nextId);

    DataTable table;
    TaskTable::Configure(table);
    DataPacket::Read(table, packet(R"(<FIELD attrname="ID" fieldtype="i4" SUBTYPE="Autoinc"/>)"
                                   R"(<FIELD attrname="Task" fieldtype="string" WIDTH="255"/>)",
                                   params, rows));
    QCOMPARE(table.autoIncValue(), nextId);
    table.setIndexName(TaskTable::IndexID);
    table.append();
    table.setString(Task, QStringLiteral("new"));
    table.post(); // no "Key violation."
    QCOMPARE(table.asInteger(ID), nextId);
}

void TestDataPacket::encodings_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("task");
    QTest::addColumn<bool>("told"); // that the file held bytes that were not UTF-8

    const QByteArray field = R"(<FIELD attrname="Task" fieldtype="string" WIDTH="255"/>)";
    const QByteArray plain = R"(<?xml version="1.0" standalone="yes"?>  )";
    auto withTask = [&](const QByteArray& value, const QByteArray& declaration) {
        return packet(field, "", "<ROW Task=\"" + value + "\"/>", declaration);
    };
    QTest::newRow("UTF-8 declared")
        << withTask("caf\xC3\xA9", Declaration) << QStringLiteral("caf\u00e9") << false;
    QTest::newRow("declared in other case and quotes")
        << withTask("caf\xC3\xA9", "<?xml version='1.0' encoding = 'utf-8'?>")
        << QStringLiteral("caf\u00e9") << false;
    QTest::newRow("declared UTF-8 but not UTF-8")
        << withTask("caf\xE9", Declaration) << QStringLiteral("caf\u00e9") << true;
    QTest::newRow("declared UTF-8, one bad byte elsewhere")
        << packet(field, "", "<!-- \xFF --><ROW Task=\"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\"/>",
                  Declaration)
        << QStringLiteral("caf\u00e9 \u65e5\u672c") << true;
    QTest::newRow("declared UTF-8, single bytes and UTF-8 in one text")
        << withTask("caf\xC3\xA9 \xE9t\xE9 \x80 \xE2\x82 \xE2\x82\xAC", Declaration)
        << QStringLiteral("caf\u00e9 \u00e9t\u00e9 \u20ac \u00e2\u201a \u20ac") << true;
    QTest::newRow("no declaration: Windows-1252")
        << withTask("\x80 \x93q\x94 \x81\xFF", plain)
        << QStringLiteral("\u20ac \u201cq\u201d \u0081\u00ff") << false;
    QTest::newRow("no declaration, UTF-8 bytes read as single bytes")
        << withTask("caf\xC3\xA9", plain) << QStringLiteral("caf\u00c3\u00a9") << false;
    QTest::newRow("byte-order mark")
        << "\xEF\xBB\xBF" + withTask("caf\xC3\xA9", plain) << QStringLiteral("caf\u00e9") << false;
    QTest::newRow("byte-order mark over a bad byte")
        << "\xEF\xBB\xBF" + withTask("a\xFF", plain) << QStringLiteral("a\ufffd") << true;
    QTest::newRow("character references") << withTask("&#233;&#xE9;&#x1F600;&#65;&#0000066;", plain)
                                          << QString::fromUtf8("\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80"
                                                               "AB")
                                          << false;
}

void TestDataPacket::encodings() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, task);
    QFETCH(bool, told);
    DataTable table;
    const DataPacket::ReadNotice notice = DataPacket::Read(table, bytes);
    QCOMPARE(table.asString(Task), task);
    QCOMPARE(notice.notUtf8, told);
    QCOMPARE(notice.text(QStringLiteral("list.cv1")).isEmpty(), !told);
    // Written back, the text is UTF-8 whatever it was read from.
    DataTable again;
    DataPacket::Read(again, DataPacket::Write(table));
    QCOMPARE(again.asString(Task), task);
}

// A declared UTF-8 file keeps its UTF-8 text when a single sequence anywhere in it is
// ill-formed (in a row's text, in markup, skipped parts or values that are not text): only the
// bytes outside a sequence are read as single-byte characters, and the user is told.
void TestDataPacket::oneBadByteAnywhere_data() {
    QTest::addColumn<QByteArray>("fields");
    QTest::addColumn<QByteArray>("rows");
    QTest::addColumn<QString>("result"); // the first row's Task, or the error

    const QByteArray fields = R"(<FIELD attrname="Task" fieldtype="string" WIDTH="255"/>)"
                              R"(<FIELD attrname="D" fieldtype="date"/>)"
                              R"(<FIELD attrname="N" fieldtype="i4"/>)";
    const QByteArray first = "<ROW Task=\"caf\xC3\xA9\"/>";
    const QString utf8 = QStringLiteral("caf\u00e9");
    const QByteArray longText = "a long value that takes the sixteen-byte path";

    QTest::newRow("none") << fields << first + "<ROW Task=\"" + longText + "\"/>" << utf8;
    QTest::newRow("long text") << fields
                               << first + "<ROW Task=\"" + longText + "\xE9" + longText + "\"/>"
                               << utf8;
    QTest::newRow("short text") << fields << first + "<ROW Task=\"x\xE9\"/>" << utf8;
    QTest::newRow("cut sequence ending a text")
        << fields << first + "<ROW Task=\"" + longText + "\xC3\"/>" << utf8;
    QTest::newRow("surrogate in a text")
        << fields << first + "<ROW Task=\"" + longText + "\xED\xA0\x80\"/>" << utf8;
    QTest::newRow("text after a reference")
        << fields << first + "<ROW Task=\"&amp;\xE9&lt;\"/>" << utf8;
    QTest::newRow("first row") << fields << QByteArray("<ROW Task=\"caf\xC3\xA9\xE9\"/>")
                               << QStringLiteral("caf\u00e9\u00e9");
    QTest::newRow("between rows") << fields << first + " \xE9 <ROW/>" << utf8;
    QTest::newRow("comment between rows") << fields << first + "<!-- \xE9 --><ROW/>" << utf8;
    QTest::newRow("unknown attribute")
        << fields << first + "<ROW Task=\"b\" Other=\"\xE9\"/>" << utf8;
    QTest::newRow("row read by the general path")
        << fields << first + "<ROW N=\"1\" Task='\xE9'/>" << utf8;
    QTest::newRow("nested in a row")
        << fields << first + "<ROW Task=\"b\"><X Y=\"\xE9\"/></ROW>" << utf8;
    QTest::newRow("time of a date") << fields << first + "<ROW D=\"20250101T\xE9\"/>" << utf8;
    QTest::newRow("field list") << fields + "<FIELD attrname=\"E\" fieldtype=\"i4\" Note=\"\xE9\"/>"
                                << first << utf8;
    QTest::newRow("error, then a bad byte")
        << fields << QByteArray("<ROW N=\"\xC3\xA9\"/><ROW Task=\"\xE9\"/>")
        << QStringLiteral("'\u00e9' is not a valid integer value for field 'N'");
    QTest::newRow("error in well-formed text")
        << fields << QByteArray("<ROW N=\"\xC3\xA9\"/>")
        << QStringLiteral("'\u00e9' is not a valid integer value for field 'N'");
}

void TestDataPacket::oneBadByteAnywhere() {
    QFETCH(QByteArray, fields);
    QFETCH(QByteArray, rows);
    QFETCH(QString, result);
    DataTable table;
    DataPacket::ReadNotice notice;
    const QString error =
        errorOf([&] { notice = DataPacket::Read(table, packet(fields, "", rows)); });
    QCOMPARE(error.isEmpty() ? table.asString(Task) : error, result);
    QCOMPARE(notice.notUtf8, error.isEmpty() && QByteArray(QTest::currentDataTag()) != "none");
}

void TestDataPacket::tolerantForms_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("rows");

    QTest::newRow("whitespace, spaces around =, single quotes")
        << QByteArray("\r\n  <?xml version = \"1.0\"?>\n<DATAPACKET Version = \"2.0\">\n"
                      "  <METADATA>\n    <FIELDS>\n"
                      "      <FIELD attrname = 'Task' fieldtype = 'string' WIDTH = '20' />\n"
                      "    </FIELDS>\n    <PARAMS/>\n  </METADATA>\n  <ROWDATA>\n"
                      "    <ROW Task = 'it&apos;s'/>\n  </ROWDATA>\n</DATAPACKET>\n")
        << QStringLiteral("Task=it's");
    QTest::newRow("no DATAPACKET root")
        << QByteArray(R"(<METADATA><FIELDS><FIELD attrname="Task" fieldtype="string" )"
                      R"(WIDTH="9"/></FIELDS></METADATA><ROWDATA><ROW Task="a"/></ROWDATA>)")
        << QStringLiteral("Task=a");
    QTest::newRow("rows without metadata")
        << QByteArray(R"(<DATAPACKET><ROWDATA><ROW/></ROWDATA></DATAPACKET>)") << QString();
    QTest::newRow("tagname, attributes in any order, unknown ones ignored")
        << packet(R"(<FIELD WIDTH="5" LCID="1" fieldtype="string" tagname="Task"/>)"
                  R"(<FIELD fieldtype="i4" fieldname="Pro gress" attrname="Progress"/>)",
                  R"( DEFAULT_ORDER="1" LCID="2057")",
                  R"(<ROW Progress="7" Other="x" Task="b"/><ROW Task="c" RowState="4"/>)")
        << QStringLiteral("Task=b|Progress=7\nTask=c");
    QTest::newRow("superseded, deleted and void versions hidden")
        << packet(R"(<FIELD attrname="Task" fieldtype="string" WIDTH="9"/>)", "",
                  R"(<ROW RowState="5" Task="old"/><ROW RowState="6" Task="gone"/>)"
                  R"(<ROW RowState="32" Task="void"/><ROW RowState="36" Task="void too"/>)"
                  R"(<ROW RowState="12" Task="new"/><ROW Task="plain"/>)")
        << QStringLiteral("Task=new\nTask=plain");
    QTest::newRow("empty ROWDATA element")
        << QByteArray(R"(<DATAPACKET Version="2.0"><METADATA><FIELDS><FIELD attrname="Task" )"
                      R"(fieldtype="string" WIDTH="9"/></FIELDS><PARAMS/></METADATA>)"
                      R"(<ROWDATA/></DATAPACKET>)")
        << QString();
    QTest::newRow("fields without ROWDATA")
        << QByteArray(R"(<DATAPACKET><METADATA><FIELDS><FIELD attrname="Task" )"
                      R"(fieldtype="string" WIDTH="9"/></FIELDS></METADATA></DATAPACKET>)")
        << QString();
    QTest::newRow("other writers' extras skipped")
        << packet(R"(<FIELD attrname="Task" fieldtype="string" WIDTH="9"><PARAM Name="ORIGIN" )"
                  R"(Value="&quot;T&quot;" Roundtrip="True"/></FIELD><!-- a comment -->)",
                  "",
                  R"(<ROW Task="a"><Sub><ROWSub X="1"/></Sub> text </ROW><![CDATA[<ROW/>]]>)"
                  R"(<?pi?><ROW Task="b"/>)")
        << QStringLiteral("Task=a\nTask=b");
    QTest::newRow("text cut to its width in characters")
        << packet(R"(<FIELD attrname="Task" fieldtype="string" WIDTH="3"/>)", "",
                  "<ROW Task=\"\xC3\xA9\xF0\x9F\x98\x80\xC3\xA9xyz\"/>")
        << QString::fromUtf8("Task=\xC3\xA9\xF0\x9F\x98\x80\xC3\xA9");
    QTest::newRow("fixed-width text keeps its blanks")
        << packet(R"(<FIELD attrname="Task" fieldtype="string" SUBTYPE="FixedChar" WIDTH="6"/>)",
                  "", R"(<ROW Task="ab    "/>)")
        << QStringLiteral("Task=ab    ");
    QTest::newRow("date-time forms, DateTime spelling")
        << packet(R"(<FIELD attrname="At" fieldtype="DateTime"/>)", "",
                  R"(<ROW At="20250312T14:05:09123"/><ROW At="20250312"/>)"
                  R"(<ROW At="20110323T224736"/><ROW At="20170214T10:54:45.5"/>)")
        << QStringLiteral("At=3/12/2025 2:05:09 PM\nAt=3/12/2025 12:00:00 AM\n"
                          "At=3/23/2011 10:47:36 PM\nAt=2/14/2017 10:54:45 AM");
    QTest::newRow("values of every kind")
        << packet(
               R"(<FIELD attrname="N" fieldtype="i4"/><FIELD attrname="W" fieldtype="ui2"/>)"
               R"(<FIELD attrname="D" fieldtype="date"/><FIELD attrname="B" fieldtype="boolean"/>)"
               R"(<FIELD attrname="M" fieldtype="bin.hex" SUBTYPE="Text"/>)",
               "",
               R"(<ROW N=" +12 " W="0" D="20250206T10:00:00000" B="true" M="x&#10;y"/>)"
               R"(<ROW N="" W="" D="" B="F" M=""/>)")
        << QStringLiteral("N=12|W=0|D=2/6/2025|B=True|M=x\ny\nB=False|M=");
}

void TestDataPacket::tolerantForms() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, rows);
    DataTable table;
    DataPacket::Read(table, bytes);
    QVERIFY(table.isActive());
    QCOMPARE(dump(table), rows);
}

void TestDataPacket::changeLogForms_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("numbers");
    QTest::newRow("the writer's form") << QByteArray("1 0 4 2 0 4 3 1 8") << "1 0 4 2 0 4 3 1 8";
    QTest::newRow("numbers of one to ten digits")
        << QByteArray("1 22 333 4444 55555 666666 7777777 12345678 123456789 4294967295 0 8")
        << "1 22 333 4444 55555 666666 7777777 12345678 123456789 4294967295 0 8";
    QTest::newRow("other blanks, leading zeros")
        << QByteArray(" 1\t0\r\n04  0000002 0 00000004 ") << "1 0 4 2 0 4";
    QTest::newRow("empty") << QByteArray("") << "";
}

// The numbers of a change log, however its blanks and digits are laid out.
void TestDataPacket::changeLogForms() {
    QFETCH(QByteArray, text);
    QFETCH(QString, numbers);
    const QByteArray task = R"(<FIELD attrname="Task" fieldtype="string" WIDTH="20"/>)";
    DataTable table;
    DataPacket::Read(table, packet(task, " CHANGE_LOG=\"" + text + '"', ""));
    QStringList read;
    for (const std::uint32_t number : table.changeLog())
        read << QString::number(number);
    QCOMPARE(read.join(u' '), numbers);
}

void TestDataPacket::readErrors_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("tableName");
    QTest::addColumn<QString>("error");

    const QString mismatch = QStringLiteral("Mismatch in datapacket.");
    const QString invalidType = QStringLiteral("Invalid field type.");
    const QByteArray task = R"(<FIELD attrname="Task" fieldtype="string" WIDTH="20"/>)";
    const QByteArray taskFields = NewListFields;
    auto row = [&](const QByteArray& attributes) {
        return packet(taskFields, "", "<ROW " + attributes + "/>");
    };
    auto damaged = [](const char* what) {
        return QStringLiteral("Damaged data packet: %1.").arg(QString::fromUtf8(what));
    };

    QTest::newRow("empty file") << QByteArray() << QStringLiteral("cdsTasks")
                                << QStringLiteral("cdsTasks: Missing data provider or data packet");
    QTest::newRow("empty file, unnamed table")
        << QByteArray() << QString() << QStringLiteral("Missing data provider or data packet");
    QTest::newRow("hello") << QByteArray("hello <DATAPACKET/>") << QString() << mismatch;
    QTest::newRow("blanks only") << QByteArray(" \r\n") << QString() << mismatch;
    QTest::newRow("other root") << QByteArray("<?xml version=\"1.0\"?><html></html>") << QString()
                                << mismatch;
    QTest::newRow("root followed by neither")
        << QByteArray("<DATAPACKET><FIELDS/></DATAPACKET>") << QString() << mismatch;
    QTest::newRow("empty root") << QByteArray("<DATAPACKET/>") << QString() << mismatch;
    QTest::newRow("METADATA without FIELDS first")
        << QByteArray("<DATAPACKET><METADATA><PARAMS/><FIELDS/></METADATA></DATAPACKET>")
        << QString() << mismatch;
    QTest::newRow("FIELD without a name")
        << packet(R"(<FIELD fieldtype="i4"/>)", "", "") << QString() << mismatch;
    QTest::newRow("FIELD with an empty name")
        << packet(R"(<FIELD attrname="" fieldtype="i4"/>)", "", "") << QString() << mismatch;
    QTest::newRow("r8") << packet(task + R"(<FIELD attrname="A" fieldtype="r8"/>)", "", "")
                        << QString() << invalidType;
    QTest::newRow("word outside the kinds")
        << packet(R"(<FIELD attrname="A" fieldtype="banana"/>)", "", "") << QString()
        << invalidType;
    QTest::newRow("no fieldtype") << packet(R"(<FIELD attrname="A"/>)", "", "") << QString()
                                  << invalidType;
    QTest::newRow("binary blob")
        << packet(R"(<FIELD attrname="A" fieldtype="bin.hex" SUBTYPE="Graphics"/>)", "", "")
        << QString() << invalidType;
    QTest::newRow("document type declaration")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaa\">]><DATAPACKET/>")
        << QString() << QStringLiteral("A list file cannot contain a document type declaration.");
    QTest::newRow("cut off inside a row")
        << row(R"(Task="x")").left(row(R"(Task="x")").indexOf(R"(Task=")") + 7) << QString()
        << damaged(R"(the file ends inside "ROW")");
    QTest::newRow("cut off after a row")
        << packet(taskFields, "", R"(<ROW Task="x"/>)").chopped(23) << QString()
        << damaged(R"(the file ends inside "ROWDATA")");
    QTest::newRow("tags crossed")
        << QByteArray("<DATAPACKET><METADATA><FIELDS></METADATA></FIELDS></DATAPACKET>")
        << QString() << damaged(R"("FIELDS" is closed by "METADATA")");
    QTest::newRow("more after the packet") << packet(task, "", "") + "<ROW/>" << QString()
                                           << damaged("there is more after the end of the packet");
    QTest::newRow("unknown entity") << row(R"(Task="&nbsp;")") << QString()
                                    << damaged(R"(the reference "&nbsp;" is not valid)");
    QTest::newRow("bare ampersand") << row(R"(Task="Tom & Jerry")") << QString()
                                    << damaged(R"(the reference "&" is not valid)");
    QTest::newRow("reference running into the next attribute")
        << row(R"(Task="&x" Owner="y;")") << QString()
        << damaged(R"(the reference "&x" is not valid)");
    QTest::newRow("surrogate reference") << row(R"(Task="&#xD800;")") << QString()
                                         << damaged(R"(the reference "&#xD800;" is not valid)");
    QTest::newRow("reference beyond Unicode")
        << row(R"(Task="&#1114112;")") << QString()
        << damaged(R"(the reference "&#1114112;" is not valid)");
    QTest::newRow("reference to NUL")
        << row(R"(Task="&#0;")") << QString() << damaged(R"(the reference "&#0;" is not valid)");
    QTest::newRow("letters in an integer")
        << row(R"(Progress="4x")") << QString()
        << QStringLiteral("'4x' is not a valid integer value for field 'Progress'");
    QTest::newRow("huge number")
        << row(R"(Progress="99999999999999999999999")") << QString()
        << QStringLiteral(
               "'99999999999999999999999' is not a valid integer value for field 'Progress'");
    QTest::newRow("integer out of range")
        << row(R"(Progress="2147483648")") << QString()
        << QStringLiteral("2147483648 is not a valid value for field 'Progress'. The allowed "
                          "range is -2147483648 to 2147483647");
    QTest::newRow("points out of range")
        << row(R"(Points="-1")") << QString()
        << QStringLiteral(
               "-1 is not a valid value for field 'Points'. The allowed range is 0 to 65535");
    QTest::newRow("month 13") << row(R"(DueDate="20251301")") << QString()
                              << QStringLiteral("'20251301' is not a valid date");
    QTest::newRow("date with separators") << row(R"(DueDate="2025-01-01")") << QString()
                                          << QStringLiteral("'2025-01-01' is not a valid date");
    QTest::newRow("boolean word") << row(R"(Bookmarked="yes")") << QString()
                                  << QStringLiteral("'yes' is not a valid boolean value for field "
                                                    "'Bookmarked'");
    QTest::newRow("long value cut in the message")
        << row("Progress=\"" + QByteArray(200, '7') + "x\"") << QString()
        << QStringLiteral("'%1...' is not a valid integer value for field 'Progress'")
               .arg(QString(80, u'7'));
    QTest::newRow("a value given twice")
        << row(R"(Task="a" Task="b")") << QString() << damaged(R"(a row gives "Task" twice)");
    QTest::newRow("bad row state")
        << row(R"(RowState="x")") << QString() << damaged(R"(the row state "x" is not valid)");
    QTest::newRow("incomplete change log")
        << packet(task, R"( CHANGE_LOG="1 0 4 2")", "") << QString()
        << damaged("the change log ends with an incomplete entry");
    QTest::newRow("change log with words") << packet(task, R"( CHANGE_LOG="1 0 x")", "")
                                           << QString() << damaged(R"(the change log holds "x")");
    QTest::newRow("bad counter") << packet(task, R"( AUTOINCVALUE="1e3")", "") << QString()
                                 << damaged(R"(the ID counter "1e3" is not valid)");
    QTest::newRow("text without width")
        << packet(R"(<FIELD attrname="A" fieldtype="string"/>)", "", "") << QString()
        << damaged(R"(the text field "A" has no valid WIDTH)");
    QTest::newRow("same field twice")
        << packet(task + R"(<FIELD attrname="TASK" fieldtype="i4"/>)", "", "") << QString()
        << damaged(R"(the field "TASK" is described twice)");
    QTest::newRow("field name that cannot be an attribute")
        << packet(R"(<FIELD attrname="A B" fieldtype="i4"/>)", "", "") << QString()
        << damaged(R"(the field name "A B" cannot be used)");
    QTest::newRow("field named RowState")
        << packet(R"(<FIELD attrname="RowState" fieldtype="i4"/>)", "", "") << QString()
        << damaged(R"(the field name "RowState" cannot be used)");
    QTest::newRow("two counters")
        << packet(R"(<FIELD attrname="A" fieldtype="i4" SUBTYPE="Autoinc"/>)"
                  R"(<FIELD attrname="B" fieldtype="i4" SUBTYPE="Autoinc"/>)",
                  "", "")
        << QString() << damaged("it has more than one auto-increment field");

    QByteArray deep = packet(task, "", "<ROW>" + QByteArray("<a>").repeated(100000) + "</ROW>");
    QTest::newRow("deep nesting") << deep << QString() << damaged("elements are nested too deeply");
    QByteArray many;
    for (int i = 0; i < 70000; ++i)
        many += "<FIELD attrname=\"F" + QByteArray::number(i) + "\" fieldtype=\"i4\"/>";
    QTest::newRow("70,000 fields") << packet(many, "", "<ROW F1=\"1\"/>") << QString()
                                   << damaged("it has more than 65535 fields");
    QByteArray wide;
    for (int i = 0; i < 20000; ++i)
        wide += "<FIELD attrname=\"F" + QByteArray::number(i) + "\" fieldtype=\"i4\"/>";
    QTest::newRow("rows that would exhaust memory")
        << packet(wide, "", QByteArray("<ROW/>").repeated(300000)) << QString()
        << damaged("its rows need more memory than a list file can take");
}

void TestDataPacket::readErrors() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, tableName);
    QFETCH(QString, error);

    // A table that holds a list: a failed load leaves it closed, not half-made or as it was.
    BareTasks t;
    t.add(QStringLiteral("Task=kept?"));
    t.table.setObjectName(tableName);
    QCOMPARE(errorOf([&] { DataPacket::Read(t.table, bytes); }), error);
    QVERIFY(!t.table.isActive());
    QVERIFY(t.table.fields().empty());
    QCOMPARE(t.table.versionCount(), std::size_t(0));
    QCOMPARE(t.table.visibleRowCount(), 0);
}

void TestDataPacket::fileWithoutProperties() {
    QByteArray fields = NewListFields;
    fields.replace(R"(<FIELD attrname="Properties" fieldtype="bin.hex" SUBTYPE="Text"/>)", "");
    DataTable table;
    TaskTable::Configure(table);
    DataPacket::Read(table, packet(fields, R"( AUTOINCVALUE="2")",
                                   R"(<ROW ID="1" Task="t" Properties="ignored"/>)"));
    QCOMPARE(table.fields().size(), std::size_t(24));
    QVERIFY(!table.hasField(Properties));
    QCOMPARE(errorOf([&] { table.asString(Properties); }),
             QStringLiteral("cdsTasks: Field 'Properties' not found"));
    table.setIndexName(TaskTable::IndexID);
    table.append();
    table.setString(Task, QStringLiteral("second"));
    table.post();
    const QByteArray bytes = DataPacket::Write(table);
    QVERIFY(!bytes.contains("Properties"));
    QVERIFY(bytes.contains(R"(<ROW RowState="4" ID="2" Task="second"/>)"));
}

void TestDataPacket::recentStore() {
    // The recent-lists store: a file name and a time stamp, no history, no counter.
    DataTable table;
    table.setObjectName(QStringLiteral("cdsFiles"));
    table.setKeepHistory(false);
    table.createEmpty({{QStringLiteral("File"), FieldKind::String, 255, 0},
                       {QStringLiteral("LastUsed"), FieldKind::DateTime, 0, 0}});
    auto add = [&](const QString& file, const QDateTime& when) {
        table.append();
        table.setString(QStringLiteral("File"), file);
        table.setDateTime(QStringLiteral("LastUsed"), when);
        table.post();
    };
    add(QStringLiteral("C:\\Lists\\Gone.cv1"), QDateTime(QDate(2024, 1, 1), QTime(9, 0)));
    add(QStringLiteral("/home/\u0438\u0432\u0430\u043d/\u4efb\u52d9.cv1"),
        QDateTime(QDate(2025, 3, 12), QTime(14, 5, 9, 123)));
    add(QStringLiteral("C:\\Lists\\A\u00e7\u00f5es.cv1"),
        QDateTime(QDate(2025, 3, 12), QTime(0, 0)));
    table.first();
    table.remove();

    const QByteArray expected =
        Declaration +
        R"(<DATAPACKET Version="2.0"><METADATA><FIELDS><FIELD attrname="File" fieldtype="string" )"
        R"(WIDTH="255"/><FIELD attrname="LastUsed" fieldtype="dateTime"/></FIELDS><PARAMS/>)"
        "</METADATA><ROWDATA>"
        "<ROW File=\"/home/\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD/\xE4\xBB\xBB\xE5\x8B\x99.cv1\" "
        R"(LastUsed="20250312T14:05:09123"/>)"
        "<ROW File=\"C:&#092;Lists&#092;A\xC3\xA7\xC3\xB5"
        R"(es.cv1" LastUsed="20250312"/>)"
        "</ROWDATA></DATAPACKET>";
    QCOMPARE(DataPacket::Write(table), expected);

    DataTable loaded;
    DataPacket::Read(loaded, expected);
    QCOMPARE(loaded.asDateTime(QStringLiteral("LastUsed")),
             QDateTime(QDate(2025, 3, 12), QTime(14, 5, 9, 123)));
    QCOMPARE(DataPacket::Write(loaded), expected);

    // The store as older versions wrote it: no encoding, code-page text.
    DataTable old;
    DataPacket::Read(old, "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\">"
                          "<METADATA><FIELDS><FIELD attrname=\"File\" fieldtype=\"string\" "
                          "WIDTH=\"255\"/><FIELD attrname=\"LastUsed\" fieldtype=\"dateTime\"/>"
                          "</FIELDS><PARAMS/></METADATA><ROWDATA><ROW File=\"C:&#092;A\xE7\xF5"
                          "es.cv1\" LastUsed=\"20250312\"/></ROWDATA></DATAPACKET>");
    QCOMPARE(old.asString(QStringLiteral("File")), QStringLiteral("C:\\A\u00e7\u00f5es.cv1"));
}

void TestDataPacket::randomRoundTrip_data() {
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 60; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

void TestDataPacket::randomRoundTrip() {
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

    // Rows in single quotes take the reader's general path, which must read what the path for
    // rows as this writer lays them out reads.
    QByteArray singleQuoted = bytes;
    for (char& c : singleQuoted)
        c = c == '"' ? '\'' : c == '\'' ? '"' : c;
    DataTable general;
    DataPacket::Read(general, singleQuoted);
    QCOMPARE(ReferencePacketReader::Difference(bytes), QString());
    QCOMPARE(ReferencePacketReader::Difference(singleQuoted), QString());
    QCOMPARE(general.versionCount(), loaded.versionCount());
    for (std::size_t v = 0; v < loaded.versionCount(); ++v)
        QVERIFY(general.versionData(v).sameAs(loaded.versionData(v)));

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

void TestDataPacket::ownFilesReloadStably_data() {
    QTest::addColumn<QString>("fileName");
    const QDir folder(QStringLiteral(CORVANTIS_TEST_DATA "/datapacket"));
    const QStringList files = folder.entryList(QDir::Files);
    QVERIFY(!files.isEmpty());
    for (const QString& name : files)
        QTest::newRow(qPrintable(name)) << folder.filePath(name);
}

void TestDataPacket::ownFilesReloadStably() {
    QFETCH(QString, fileName);
    QTemporaryDir temp;
    checkStableReload(fileName, temp.path());
}

void TestDataPacket::otherProgramsFiles() {
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

// The reader reads what the reference reader reads (the same error, or the same fields,
// versions, counter and written packet) from our own files, other programs' files and mutants of
// each: a byte changed, a stretch cut out or repeated, a delimiter or a stray byte put in.
void TestDataPacket::sameAsReference_data() {
    QTest::addColumn<QString>("fileName");
    for (const QString& path :
         {QStringLiteral(CORVANTIS_TEST_DATA "/datapacket"),
          QStringLiteral(CORVANTIS_TEST_DATA "/../../fuzz/seeds/fuzz_datapacket"),
          QStringLiteral(CORVANTIS_CORPUS_DIR "/datapackets")}) {
        const QDir folder(path);
        for (const QString& name :
             folder.entryList({QStringLiteral("*.xml"), QStringLiteral("*.cv1")}, QDir::Files))
            QTest::newRow(qPrintable(name)) << folder.filePath(name);
    }
}

void TestDataPacket::sameAsReference() {
    QFETCH(QString, fileName);
    const QByteArray bytes = ReadFileBytes(fileName);
    QCOMPARE(ReferencePacketReader::Difference(bytes), QString());
    quint32 seed = 1;
    for (const QChar c : QFileInfo(fileName).fileName())
        seed = seed * 31 + c.unicode();
    QRandomGenerator random(seed);
    static const char Inserts[] = {'<', '>', '/', '"', '\'', '&', ';', '=', ' ', '\xE9', '\xC3'};
    for (int mutant = 0; mutant < 40; ++mutant) {
        QByteArray changed = bytes;
        const auto at = qsizetype(random.bounded(quint32(changed.size())));
        const auto length = qsizetype(random.bounded(1u, 64u));
        switch (random.bounded(4)) {
        case 0:
            changed[at] = char(random.bounded(256));
            break;
        case 1:
            changed.remove(at, length);
            break;
        case 2:
            changed.insert(at, changed.mid(at, length));
            break;
        default:
            changed.insert(at, Inserts[random.bounded(quint32(sizeof Inserts))]);
        }
        const QString difference = ReferencePacketReader::Difference(changed);
        QVERIFY2(
            difference.isEmpty(),
            qPrintable(
                QStringLiteral("mutant %1 (byte %2): %3").arg(mutant).arg(at).arg(difference)));
    }
}

void TestDataPacket::saveReplacesWholeFile() {
    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("list.cv1"));
    QVERIFY(WriteFileBytes(fileName, QByteArray(100000, 'x')));
    DataTable table;
    TaskTable::CreateEmpty(table);
    DataPacket::SaveToFile(table, fileName);
    QCOMPARE(ReadFileBytes(fileName), DataPacket::Write(table));
    QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("list.cv1")});
}

void TestDataPacket::saveIntoMissingFolder() {
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
void TestDataPacket::saveFailingHalfWay() {
    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("list.cv1"));
    const QByteArray old = "the old list, byte for byte";
    QVERIFY(WriteFileBytes(fileName, old));

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
    QCOMPARE(ReadFileBytes(fileName), old);
    QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("list.cv1")});
    QCOMPARE(DataPacket::Write(table), before);
}

void TestDataPacket::loadFailures() {
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
    QVERIFY(WriteFileBytes(empty, QByteArray()));
    QCOMPARE(errorOf([&] { DataPacket::LoadFromFile(table, empty); }),
             QStringLiteral("cdsTasks: Missing data provider or data packet"));

    // A relative name is reported by its full name.
    QDir::setCurrent(temp.path());
    QCOMPARE(errorOf([&] { DataPacket::LoadFromFile(table, QStringLiteral("rel.cv1")); }),
             QStringLiteral("Cannot open file \"%1\". No such file or directory")
                 .arg(temp.filePath(QStringLiteral("rel.cv1"))));
}

// A list far larger than the reader's first blocks of memory: every row arrives whole, and its
// UTF-8 text (checked a stretch at a time) is taken as UTF-8 throughout.
void TestDataPacket::largeFile() {
    QRandomGenerator rng(11);
    QByteArray rows;
    QStringList expected;
    for (int r = 0; r < 6000; ++r) {
        // Now and then a value larger than a whole first block of rows.
        const int size = rng.bounded(50) == 0 ? 100000 + r : int(rng.bounded(300));
        const QString text = QString::number(r) +
                             QString(size, QChar(char16_t(u'a' + r % 26 + (r % 2 ? 0x80 : 0)))) +
                             QStringLiteral("\u00e9&<");
        QByteArray escaped = text.toUtf8();
        escaped.replace("&", "&amp;").replace("<", "&lt;");
        rows += "<ROW Task=\"" + escaped + "\" Progress=\"" + QByteArray::number(r) + "\"/>";
        expected << text;
    }
    QTemporaryDir temp;
    const QString fileName = temp.filePath(QStringLiteral("large.cv1"));
    QVERIFY(WriteFileBytes(fileName,
                           packet(R"(<FIELD attrname="Task" fieldtype="bin.hex" SUBTYPE="Text"/>)"
                                  R"(<FIELD attrname="Progress" fieldtype="i4"/>)",
                                  "", rows)));
    QVERIFY(QFileInfo(fileName).size() > 4 << 20);

    // Loaded where it lies, and read the usual way while another program has it open for
    // writing (then it cannot be safely mapped).
    for (const bool openForWriting : {false, true}) {
        QFile writer(fileName);
        if (openForWriting)
            QVERIFY(writer.open(QIODevice::WriteOnly | QIODevice::Append));
        DataTable table;
        QVERIFY(!DataPacket::LoadFromFile(table, fileName).notUtf8);
        QCOMPARE(table.visibleRowCount(), int(expected.size()));
        for (int r = 0; r < table.visibleRowCount(); ++r) {
            const RowData& row = table.rowDataAt(r);
            QCOMPARE(table.textOf(row, 0), expected[r]);
            QCOMPARE(row.int32(1), r);
        }
    }
}

// A large list is read in two halves from a row near the middle; a stray byte in a long row that
// ends just there is found all the same, and only that byte is read as a single-byte character.
void TestDataPacket::badByteInALongRowBeforeTheMiddle() {
    QByteArray small;
    for (int r = 0; r < 45000; ++r)
        small += "<ROW Task=\"task " + QByteArray::number(r) + " caf\xC3\xA9 with some words\"/>";
    QByteArray longText(300000, 'x');
    longText[longText.size() - 10000] = '\xE9';
    const QByteArray bytes =
        packet(R"(<FIELD attrname="Task" fieldtype="bin.hex" SUBTYPE="Text"/>)", "",
               small + "<ROW Task=\"" + longText + "\"/>" + small);
    QVERIFY(bytes.size() > 4 << 20);
    DataTable table;
    QVERIFY(DataPacket::Read(table, bytes).notUtf8);
    table.moveToPosition(45000);
    QCOMPARE(table.asString(Task).size(), longText.size());
    QCOMPARE(table.asString(Task).at(longText.size() - 10000), QChar(0xE9));
    table.first();
    QCOMPARE(table.asString(Task), QStringLiteral("task 0 caf\u00e9 with some words"));
}

QTEST_GUILESS_MAIN(TestDataPacket)
#include "tst_datapacket.moc"
