#include "core/TaskListFixture.h"
#include "document/ConflictCopies.h"
#include "document/ListFileWatcher.h"
#include "storage/DataPacket.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>

namespace {

void WriteFile(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// What a sync tool does: the new copy written aside, then renamed over the file.
void ReplaceFile(const QString& fileName, const QByteArray& bytes) {
    const QString aside = fileName + QStringLiteral(".syncthing.tmp");
    WriteFile(aside, bytes);
    QVERIFY(::rename(QFile::encodeName(aside).constData(),
                     QFile::encodeName(fileName).constData()) == 0);
}

} // namespace

// A list file in a synced folder: the conflict copies sync tools leave beside it, and the watcher
// that tells when it changed on disk.
class TestSyncedFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void recognisesConflictCopies_data();
    void recognisesConflictCopies();
    void findsCopiesBesideTheList();
    void toldOfChangesOnDisk_data();
    void toldOfChangesOnDisk();
    void ownSavesAreNotTold();
};

void TestSyncedFiles::recognisesConflictCopies_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tool");
    AddTextRows({
        {"syncthing", "Home.cv1", "Home.sync-conflict-20261209-101500-ABCDEFG.cv1", "Syncthing"},
        {"syncthing, dotted name", "my.list.cv1",
         "my.list.sync-conflict-20261209-101500-AB3DE7G.cv1", "Syncthing"},
        {"nextcloud", "Home.cv1", "Home (conflicted copy 2026-12-09 101500).cv1", "Nextcloud"},
        {"nextcloud with a user", "Home.cv1", "Home (conflicted copy anna 2026-12-09 101500).cv1",
         "Nextcloud"},
        {"owncloud", "Home.cv1", "Home_conflict-20261209-101500.cv1", "ownCloud"},
        {"dropbox", "Home.cv1", "Home (Anna's MacBook's conflicted copy 2026-12-09).cv1",
         "Dropbox"},
        {"dropbox numbered", "Home.cv1", "Home (PC's conflicted copy 2026-12-09 (1)).cv1",
         "Dropbox"},
        {"dropbox typographic apostrophe", "Home.cv1",
         "Home (PC\u2019s conflicted copy 2026-12-09) (2).cv1", "Dropbox"},
        {"the list itself", "Home.cv1", "Home.cv1", ""},
        {"another list's copy", "Home.cv1", "Homework.sync-conflict-20261209-101500-ABCDEFG.cv1",
         ""},
        {"name differs in case", "Home.cv1", "home.sync-conflict-20261209-101500-ABCDEFG.cv1", ""},
        {"another extension", "Home.cv1", "Home.sync-conflict-20261209-101500-ABCDEFG.txt", ""},
        {"short device", "Home.cv1", "Home.sync-conflict-20261209-101500-ABC.cv1", ""},
        {"nextcloud without time", "Home.cv1", "Home (conflicted copy 2026-12-09).cv1", ""},
        {"a saving leftover", "Home.cv1", "Home.cv1.saving", ""},
    });
}

void TestSyncedFiles::recognisesConflictCopies() {
    QFETCH(QString, list);
    QFETCH(QString, name);
    QFETCH(QString, tool);
    QCOMPARE(ConflictCopies::ToolOf(name, list), tool);
}

void TestSyncedFiles::findsCopiesBesideTheList() {
    QTemporaryDir dir;
    const QStringList names{QStringLiteral("Home.cv1"),
                            QStringLiteral("Home (conflicted copy 2026-12-09 101500).cv1"),
                            QStringLiteral("Home.sync-conflict-20261210-101500-ABCDEFG.cv1"),
                            QStringLiteral("Other.sync-conflict-20261210-101500-ABCDEFG.cv1")};
    QDateTime when(QDate(2026, 12, 9), QTime(10, 0));
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.setFileTime(when, QFileDevice::FileModificationTime);
        when = when.addSecs(60);
    }
    QDir(dir.path()).mkdir(QStringLiteral("Home (conflicted copy 2026-12-11 101500).cv1"));

    QStringList found;
    for (const ConflictCopies::Copy& copy : ConflictCopies::Find(dir.filePath(names.first())))
        found << QFileInfo(copy.fileName).fileName() + u' ' + copy.tool;
    QCOMPARE(found, QStringList({names.at(2) + QStringLiteral(" Syncthing"),
                                 names.at(1) + QStringLiteral(" Nextcloud")}));
}

void TestSyncedFiles::toldOfChangesOnDisk_data() {
    QTest::addColumn<std::function<void(const QString&)>>("change");
    QTest::addColumn<int>("told");
    const QByteArray other = QByteArrayLiteral("another machine's copy");
    QTest::newRow("written in place")
        << std::function<void(const QString&)>(
               [other](const QString& file) { WriteFile(file, other); })
        << 1;
    QTest::newRow("replaced by a rename")
        << std::function<void(const QString&)>(
               [other](const QString& file) { ReplaceFile(file, other); })
        << 1;
    QTest::newRow("a burst of writes and renames")
        << std::function<void(const QString&)>([other](const QString& file) {
               for (int i = 0; i < 5; ++i)
                   (i % 2 ? WriteFile : ReplaceFile)(file, other + QByteArray::number(i));
           })
        << 1;
    QTest::newRow("removed") << std::function<void(const QString&)>([](const QString& file) {
        QFile::remove(file);
    }) << 0;
    QTest::newRow("removed and written again")
        << std::function<void(const QString&)>([other](const QString& file) {
               QFile::remove(file);
               QTest::qWait(10);
               WriteFile(file, other);
           })
        << 1;
}

// Each change told once, then a second change after it told again: the watch survives the first.
void TestSyncedFiles::toldOfChangesOnDisk() {
    QFETCH(std::function<void(const QString&)>, change);
    QFETCH(int, told);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Home.cv1"));
    WriteFile(file, QByteArrayLiteral("this machine's copy"));
    ListFileWatcher watcher;
    watcher.setQuietTime(40);
    watcher.watch(file);
    QSignalSpy spy(&watcher, &ListFileWatcher::changedOnDisk);

    change(file);
    QTest::qWait(watcher.quietTime() * 8);
    QCOMPARE(spy.count(), told);
    WriteFile(file, QByteArrayLiteral("a later change"));
    QTRY_COMPARE(spy.count(), told + 1);
    QCOMPARE(spy.last().first().toString(), file);
}

// Saves of this program replace the file too: not told, and a change after them still is.
void TestSyncedFiles::ownSavesAreNotTold() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Home.cv1"));
    TaskListFixture list;
    DataPacket::SaveToFile(list.table, file);
    ListFileWatcher watcher;
    watcher.setQuietTime(40);
    watcher.watch(file);
    QSignalSpy spy(&watcher, &ListFileWatcher::changedOnDisk);

    for (int round = 1; round <= 2; ++round) {
        list.add(QStringLiteral("Task=round %1").arg(round));
        DataPacket::SaveToFile(list.table, file);
        watcher.noteOwnWrite(file);
        QTest::qWait(watcher.quietTime() * 8);
        QCOMPARE(spy.count(), round - 1);
        WriteFile(file, QByteArrayLiteral("another program's bytes"));
        QTRY_COMPARE(spy.count(), round);
    }
}

QTEST_GUILESS_MAIN(TestSyncedFiles)
#include "tst_syncedfiles.moc"
