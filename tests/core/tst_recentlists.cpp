#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "storage/DataPacket.h"
#include "storage/RecentLists.h"
#include "support/FileBytes.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QDateTime Noon(QDate(2025, 3, 12), QTime(12, 0));

QStringList visibleFiles(const DataTable& table) {
    QStringList files;
    const int field = table.fieldIndex(QStringLiteral("File"));
    for (int i = 0; i < table.visibleRowCount(); ++i)
        files << table.textOf(table.rowDataAt(i), field);
    return files;
}

QStringList allFiles(const DataTable& table) {
    QStringList files;
    const int field = table.fieldIndex(QStringLiteral("File"));
    for (const DataTable::RowId row : table.allRows())
        files << table.textOf(table.rowData(row), field);
    return files;
}

QDateTime lastUsedOf(const DataTable& table, const QString& file) {
    const int name = table.fieldIndex(QStringLiteral("File"));
    const int used = table.fieldIndex(QStringLiteral("LastUsed"));
    for (const DataTable::RowId row : table.allRows())
        if (table.textOf(table.rowData(row), name) == file)
            return FieldValues::storedToDateTime(table.rowData(row).int64(used));
    return QDateTime();
}

// Adds the files one minute apart, the first oldest.
void addAll(RecentLists& store, const QStringList& files, QDateTime at = Noon) {
    for (const QString& file : files) {
        PinLocaleAndClock(at);
        store.AddRecent(file);
        at = at.addSecs(60);
    }
    PinLocaleAndClock(at);
}

void moveTo(RecentLists& store, const QString& file) {
    DataTable& table = store.table();
    for (int i = 0; i < table.visibleRowCount(); ++i)
        if (table.textOf(table.rowDataAt(i), table.fieldIndex(QStringLiteral("File"))) == file) {
            table.moveToPosition(i);
            return;
        }
    QFAIL("row not shown");
}

} // namespace

class TestRecentLists : public QObject {
    Q_OBJECT
private slots:
    void init() { PinLocaleAndClock(Noon); }
    void addRecent_data();
    void addRecent();
    void addIgnoresFilter();
    void markUsedMovesToTop();
    void lastUsedForm_data();
    void lastUsedForm();
    void filter_data();
    void filter();
    void load();
    void unreadableFile_data();
    void unreadableFile();
    void writtenWhenChanged();
    void rename_data();
    void rename();
    void removeAndNoRow();
    void changedSignal();
    void corpusFilesAsStore();
};

void TestRecentLists::addRecent_data() {
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("rows"); // newest first

    QTest::newRow("into an empty table")
        << QStringList{} << "/l/Home.cv1" << QStringList{"/l/Home.cv1"};
    QTest::newRow("new file goes on top") << QStringList{"/l/a.cv1", "/l/b.cv1"} << "/l/c.cv1"
                                          << QStringList{"/l/c.cv1", "/l/b.cv1", "/l/a.cv1"};
    QTest::newRow("known file: nothing changes")
        << QStringList{"/l/a.cv1", "/l/b.cv1"} << "/l/a.cv1" << QStringList{"/l/b.cv1", "/l/a.cv1"};
    QTest::newRow("letter case makes another row")
        << QStringList{"/l/Home.cv1"} << "/l/home.cv1" << QStringList{"/l/home.cv1", "/l/Home.cv1"};
    QTest::newRow("relative form makes another row")
        << QStringList{"/l/Home.cv1"} << "l/Home.cv1" << QStringList{"l/Home.cv1", "/l/Home.cv1"};
    const QString longName = u'/' + QString(300, u'x') + QStringLiteral(".cv1");
    QTest::newRow("long name stored cut, not added again")
        << QStringList{longName} << longName << QStringList{longName.left(255)};
    const QString wideLong = QString(100, u'w') + QStringLiteral("\U0001F4C1").repeated(200);
    QTest::newRow("characters outside the basic plane count once")
        << QStringList{wideLong} << wideLong
        << QStringList{QString(100, u'w') + QStringLiteral("\U0001F4C1").repeated(155)};
}

void TestRecentLists::addRecent() {
    QFETCH(QStringList, existing);
    QFETCH(QString, name);
    QFETCH(QStringList, rows);
    QTemporaryDir dir;
    RecentLists store(dir.path());
    addAll(store, existing);
    // The row the name ends up in: its own, or the newest one, cut to the field's width.
    const QString stored = rows.contains(name) ? name : rows.first();
    const QDateTime before = lastUsedOf(store.table(), stored);
    const QDateTime now = uGeneral::Now();
    store.AddRecent(name);
    QCOMPARE(allFiles(store.table()), rows);
    QCOMPARE(lastUsedOf(store.table(), stored), before.isValid() ? before : now);
    QVERIFY(store.contains(name));
}

void TestRecentLists::addIgnoresFilter() {
    QTemporaryDir dir;
    RecentLists store(dir.path());
    addAll(store, {"/l/Work.cv1", "/l/Home.cv1", "/l/Garden.cv1"});
    moveTo(store, QStringLiteral("/l/Home.cv1"));
    store.AddRecent(QStringLiteral("/l/New.cv1"));
    QCOMPARE(store.currentFile(), QStringLiteral("/l/New.cv1"));

    // A row the filter hides is still found: no second row.
    store.setFilterText(QStringLiteral("Garden"));
    QCOMPARE(visibleFiles(store.table()), QStringList{"/l/Garden.cv1"});
    store.AddRecent(QStringLiteral("/l/Work.cv1"));
    QCOMPARE(allFiles(store.table()).count(QStringLiteral("/l/Work.cv1")), 1);
    // A new row the filter does not let through stays hidden.
    store.AddRecent(QStringLiteral("/l/Other.cv1"));
    QCOMPARE(visibleFiles(store.table()), QStringList{"/l/Garden.cv1"});
    QCOMPARE(store.currentFile(), QStringLiteral("/l/Garden.cv1"));
    QCOMPARE(allFiles(store.table()).size(), 5);
}

void TestRecentLists::markUsedMovesToTop() {
    QTemporaryDir dir;
    RecentLists store(dir.path());
    addAll(store, {"/l/a.cv1", "/l/b.cv1", "/l/c.cv1"});
    moveTo(store, QStringLiteral("/l/a.cv1"));
    const QDateTime later = Noon.addDays(1);
    PinLocaleAndClock(later);
    store.markCurrentUsed();
    QCOMPARE(visibleFiles(store.table()), (QStringList{"/l/a.cv1", "/l/c.cv1", "/l/b.cv1"}));
    QCOMPARE(lastUsedOf(store.table(), QStringLiteral("/l/a.cv1")), later);
    QCOMPARE(store.currentFile(), QStringLiteral("/l/a.cv1"));
    QVERIFY(store.hasUnwrittenChanges());
}

void TestRecentLists::lastUsedForm_data() {
    QTest::addColumn<QDateTime>("at");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("time of day") << QDateTime(QDate(2025, 3, 12), QTime(14, 5, 9, 123))
                                 << QByteArray("LastUsed=\"20250312T14:05:09123\"");
    QTest::newRow("midnight") << QDateTime(QDate(2025, 3, 12), QTime(0, 0))
                              << QByteArray("LastUsed=\"20250312\"");
    QTest::newRow("one millisecond past midnight")
        << QDateTime(QDate(2025, 3, 12), QTime(0, 0, 0, 1))
        << QByteArray("LastUsed=\"20250312T00:00:00001\"");
}

void TestRecentLists::lastUsedForm() {
    QFETCH(QDateTime, at);
    QFETCH(QByteArray, written);
    QTemporaryDir dir;
    RecentLists store(dir.path());
    PinLocaleAndClock(at);
    store.AddRecent(QStringLiteral("/l/Caf\u00e9 & <co>.cv1"));
    store.save();
    const QByteArray bytes = ReadFileBytes(store.fileName());
    QVERIFY2(bytes.contains(written), bytes.constData());
    QVERIFY(bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"));
    QVERIFY(bytes.contains("File=\"/l/Caf\xC3\xA9 &amp; &lt;co&gt;.cv1\""));
    QVERIFY(!bytes.contains("CHANGE_LOG"));
    QVERIFY(!bytes.contains("RowState"));
    // And it reads back to the same row.
    RecentLists again(dir.path());
    QCOMPARE(again.LoadRecent(), QString());
    QCOMPARE(lastUsedOf(again.table(), QStringLiteral("/l/Caf\u00e9 & <co>.cv1")), at);
}

void TestRecentLists::filter_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QStringList>("shown"); // newest first

    QTest::newRow("empty shows all")
        << ""
        << "File LIKE '%%'"
        << QStringList{"/w/it's.cv1", "/w/W_rk.cv1", "/w/work.cv1", "/w/Work.cv1", "/h/Home.cv1"};
    QTest::newRow("capitals count") << "Work"
                                    << "File LIKE '%Work%'" << QStringList{"/w/Work.cv1"};
    QTest::newRow("lower case") << "work"
                                << "File LIKE '%work%'" << QStringList{"/w/work.cv1"};
    QTest::newRow("underscore is any one character")
        << "W_rk"
        << "File LIKE '%W_rk%'" << QStringList{"/w/W_rk.cv1", "/w/Work.cv1"};
    QTest::newRow("percent is any run")
        << "/w/%.cv1"
        << "File LIKE '%/w/%.cv1%'"
        << QStringList{"/w/it's.cv1", "/w/W_rk.cv1", "/w/work.cv1", "/w/Work.cv1"};
    QTest::newRow("quote doubled") << "it's"
                                   << "File LIKE '%it''s%'" << QStringList{"/w/it's.cv1"};
    QTest::newRow("blanks not trimmed") << " Work"
                                        << "File LIKE '% Work%'" << QStringList{};
    QTest::newRow("nothing matches") << "Garden"
                                     << "File LIKE '%Garden%'" << QStringList{};
}

void TestRecentLists::filter() {
    QFETCH(QString, text);
    QFETCH(QString, expression);
    QFETCH(QStringList, shown);
    QCOMPARE(RecentLists::filterFor(text), expression);
    QTemporaryDir dir;
    RecentLists store(dir.path());
    addAll(store, {"/h/Home.cv1", "/w/Work.cv1", "/w/work.cv1", "/w/W_rk.cv1", "/w/it's.cv1"});
    store.setFilterText(text);
    QCOMPARE(store.table().filtered(), !text.isEmpty());
    QCOMPARE(visibleFiles(store.table()), text.isEmpty() ? allFiles(store.table()) : shown);
    if (text.isEmpty())
        QCOMPARE(allFiles(store.table()), shown);
    // Switching it off again shows every row.
    store.setFilterText(QString());
    QCOMPARE(visibleFiles(store.table()).size(), 5);
}

void TestRecentLists::load() {
    QTemporaryDir dir;
    {
        RecentLists first(dir.path());
        QCOMPARE(first.LoadRecent(), QString()); // no file: normal, empty
        QCOMPARE(first.table().recordCount(), 0);
        QVERIFY(!QFile::exists(first.fileName()));
        addAll(first, {"/l/old.cv1", "/l/new.cv1", "/l/mid.cv1"});
        moveTo(first, QStringLiteral("/l/new.cv1"));
        PinLocaleAndClock(Noon.addDays(1));
        first.markCurrentUsed();
        first.save();
        QVERIFY(!first.hasUnwrittenChanges());
    }
    RecentLists second(dir.path());
    QCOMPARE(second.LoadRecent(), QString());
    QVERIFY(!second.hasUnwrittenChanges());
    QCOMPARE(visibleFiles(second.table()), (QStringList{"/l/new.cv1", "/l/mid.cv1", "/l/old.cv1"}));
    QCOMPARE(second.currentFile(), QStringLiteral("/l/new.cv1"));
    QCOMPARE(second.table().indexName(), QStringLiteral("MyIndex"));
    QVERIFY(!second.table().keepsHistory());
    second.AddRecent(QStringLiteral("/l/another.cv1"));
    QCOMPARE(second.table().recordCount(), 4);
}

void TestRecentLists::unreadableFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty file") << QByteArray() << "cdsFiles: Missing data provider or data packet";
    QTest::newRow("not a packet") << QByteArray("hello") << "Mismatch in datapacket.";
    QTest::newRow("packet of another table")
        << QByteArray("<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\">"
                      "<METADATA><FIELDS><FIELD attrname=\"Name\" fieldtype=\"string\" "
                      "WIDTH=\"20\"/></FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA>"
                      "</DATAPACKET>")
        << "cdsFiles: Field 'File' not found";
    QTest::newRow("LastUsed of the wrong kind")
        << QByteArray("<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\">"
                      "<METADATA><FIELDS><FIELD attrname=\"File\" fieldtype=\"string\" "
                      "WIDTH=\"255\"/><FIELD attrname=\"LastUsed\" fieldtype=\"boolean\"/>"
                      "</FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>")
        << "Mismatch in datapacket.";
}

// The bad file is kept aside, beside any copy kept before, and the table works for the rest of
// the run.
void TestRecentLists::unreadableFile() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    QTemporaryDir dir;
    RecentLists store(dir.path());
    QVERIFY(WriteFileBytes(store.fileName(), bytes));
    QVERIFY(WriteFileBytes(store.backupFileName(), "an older backup"));
    const QString kept = store.backupFileName() + QStringLiteral(".1");
    if (message.endsWith(u'.'))
        message.chop(1);
    QCOMPARE(store.LoadRecent(),
             QStringLiteral("The recent lists in \"%1\" cannot be read (%2). The file was kept as "
                            "\"%3\", and the recent lists start empty.")
                 .arg(store.fileName(), message, kept));
    QCOMPARE(ReadFileBytes(store.backupFileName()), QByteArray("an older backup"));
    QCOMPARE(ReadFileBytes(kept), bytes);
    QVERIFY(!QFile::exists(store.fileName()));
    QCOMPARE(store.table().recordCount(), 0);
    QCOMPARE(store.table().indexName(), QStringLiteral("MyIndex"));
    store.AddRecent(QStringLiteral("/l/a.cv1"));
    QVERIFY(store.saveIfChanged());
    RecentLists next(dir.path());
    QCOMPARE(next.LoadRecent(), QString());
    QCOMPARE(allFiles(next.table()), QStringList{"/l/a.cv1"});
}

void TestRecentLists::writtenWhenChanged() {
    QTemporaryDir dir;
    RecentLists store(dir.path());
    QCOMPARE(store.LoadRecent(), QString());
    QVERIFY(store.saveIfChanged()); // nothing changed: nothing written
    QVERIFY(!QFile::exists(store.fileName()));
    store.AddRecent(QStringLiteral("/l/a.cv1"));
    QVERIFY(store.hasUnwrittenChanges());
    QVERIFY(store.saveIfChanged());
    QVERIFY(QFile::exists(store.fileName()));
    QVERIFY(!store.hasUnwrittenChanges());
    store.AddRecent(QStringLiteral("/l/a.cv1")); // known: no change
    QVERIFY(!store.hasUnwrittenChanges());

    // A failed write leaves the change to be written later.
    RecentLists lost(dir.filePath(QStringLiteral("gone")));
    lost.AddRecent(QStringLiteral("/l/a.cv1"));
    QVERIFY(!lost.saveIfChanged());
    QVERIFY(lost.hasUnwrittenChanges());
    try {
        lost.save();
        QFAIL("saving into a missing folder did not fail");
    } catch (const CorvantisError& error) {
        QVERIFY2(error.message().startsWith(QStringLiteral("Cannot create file \"")),
                 qPrintable(error.message()));
    }
}

void TestRecentLists::rename_data() {
    QTest::addColumn<QString>("answer"); // "{dir}" stands for the temporary folder
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<QString>("row"); // the row's File afterwards; "" : an error
    QTest::addColumn<bool>("acted");

    QTest::newRow("full name") << "{dir}/Renamed.cv1" << false << true << "{dir}/Renamed.cv1"
                               << true;
    QTest::newRow("into another folder")
        << "{dir}/sub/Moved.cv1" << false << true << "{dir}/sub/Moved.cv1" << true;
    QTest::newRow("relative name stays in the folder")
        << "Short.cv1" << false << true << "{dir}/Short.cv1" << true;
    QTest::newRow("blank answer") << "   " << false << true << "{dir}/List.cv1" << false;
    QTest::newRow("same name (cancelled)")
        << "{dir}/List.cv1" << false << true << "{dir}/List.cv1" << false;
    QTest::newRow("target exists") << "{dir}/Taken.cv1" << true << true << "" << false;
    QTest::newRow("file missing") << "{dir}/Renamed.cv1" << false << false << "" << false;
}

void TestRecentLists::rename() {
    QFETCH(QString, answer);
    QFETCH(bool, targetExists);
    QFETCH(bool, sourceExists);
    QFETCH(QString, row);
    QFETCH(bool, acted);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    answer.replace(QStringLiteral("{dir}"), dir.path());
    row.replace(QStringLiteral("{dir}"), dir.path());
    const QString old = dir.filePath(QStringLiteral("List.cv1"));
    if (sourceExists)
        QVERIFY(WriteFileBytes(old, "list"));
    if (targetExists)
        QVERIFY(WriteFileBytes(answer, "other"));

    RecentLists store(dir.path());
    addAll(store, {old, QStringLiteral("/l/other.cv1")});
    moveTo(store, old);
    const QDateTime used = lastUsedOf(store.table(), old);
    if (row.isEmpty()) {
        try {
            store.renameCurrent(answer);
            QFAIL("a rename that failed on disk was taken as done");
        } catch (const CorvantisError& error) {
            QVERIFY2(error.message().startsWith(
                         QStringLiteral("Cannot rename file \"%1\" to \"%2\". ").arg(old, answer)),
                     qPrintable(error.message()));
            QVERIFY(
                error.message().size() >
                QStringLiteral("Cannot rename file \"%1\" to \"%2\". ").arg(old, answer).size());
        }
        QCOMPARE(store.currentFile(), old);
        if (targetExists)
            QCOMPARE(ReadFileBytes(answer), QByteArray("other"));
        return;
    }
    QCOMPARE(store.renameCurrent(answer), acted);
    QCOMPARE(store.currentFile(), row);
    QCOMPARE(lastUsedOf(store.table(), row), used);
    QCOMPARE(QFile::exists(row), true);
    QCOMPARE(QFile::exists(old), !acted);
}

void TestRecentLists::removeAndNoRow() {
    QTemporaryDir dir;
    RecentLists store(dir.path());
    // No row: nothing to act on, and no error.
    QVERIFY(!store.removeCurrent());
    QVERIFY(!store.renameCurrent(QStringLiteral("/x.cv1")));
    QCOMPARE(store.currentFile(), QString());
    store.markCurrentUsed();
    QVERIFY(!store.hasUnwrittenChanges());

    const QString file = dir.filePath(QStringLiteral("Kept.cv1"));
    QVERIFY(WriteFileBytes(file, "list"));
    addAll(store, {file, QStringLiteral("/l/b.cv1")});
    moveTo(store, file);
    QVERIFY(store.removeCurrent());
    QCOMPARE(allFiles(store.table()), QStringList{"/l/b.cv1"});
    QVERIFY(QFile::exists(file)); // the list file itself is not touched
    QVERIFY(store.hasUnwrittenChanges());
}

// The Reopen window follows the store through changed(): each change of the rows says so once;
// a filter, a known file and a command without a row do not.
void TestRecentLists::changedSignal() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.cv1"));
    QVERIFY(WriteFileBytes(file, "list"));
    RecentLists store(dir.path());
    QSignalSpy changed(&store, &RecentLists::changed);
    store.LoadRecent();
    store.AddRecent(file);
    store.AddRecent(file);
    store.setFilterText(QStringLiteral("zzz"));
    store.setFilterText(QString());
    store.markCurrentUsed();
    QVERIFY(store.renameCurrent(dir.filePath(QStringLiteral("b.cv1"))));
    QVERIFY(store.removeCurrent());
    QVERIFY(!store.removeCurrent());
    store.markCurrentUsed();
    QCOMPARE(changed.count(), 5);
}

// Packets written by other programs never make a usable-looking store out of another table,
// and never crash: they load as a store or are set aside with a message.
void TestRecentLists::corpusFilesAsStore() {
    const QDir corpus(QStringLiteral(CORVANTIS_CORPUS_DIR "/datapackets"));
    if (!corpus.exists())
        QSKIP("no corpus folder");
    const QStringList names = corpus.entryList({QStringLiteral("*.xml")}, QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString& name : names) {
        QTemporaryDir dir;
        RecentLists store(dir.path());
        QVERIFY(QFile::copy(corpus.filePath(name), store.fileName()));
        const QString error = store.LoadRecent();
        QVERIFY2(!error.isEmpty(), qPrintable(name));
        QVERIFY(QFile::exists(store.backupFileName()));
        store.AddRecent(QStringLiteral("/l/a.cv1"));
        QCOMPARE(store.table().recordCount(), 1);
    }
}

QTEST_GUILESS_MAIN(TestRecentLists)
#include "tst_recentlists.moc"
