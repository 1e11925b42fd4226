#include "sync/SyncState.h"

#include "support/FileBytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

int ModeOf(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 0777)
                                                                     : -1;
}

} // namespace

class TestSyncState : public QObject {
    Q_OBJECT
    QTemporaryDir m_temp;
    QString root() const { return m_temp.filePath(QStringLiteral("sync")); }
    QString list() const { return m_temp.filePath(QStringLiteral("tasks.cv1")); }

    // A state with settings, a cursor and two tasks, one of them replaced and one removed.
    void fill(SyncState& state) {
        state.setSettings({QUrl(QStringLiteral("https://cal.example.org/")),
                           QUrl(QStringLiteral("https://cal.example.org/u/tasks/")),
                           QStringLiteral("ann"), true, 5});
        state.setCursor("token 1", "ctag/1");
        state.setItem(QStringLiteral("uid-é"), {QStringLiteral("/u/tasks/a.ics"), "\"e1\"",
                                                "BEGIN:VCALENDAR\r\nX-ODD: a b\r\n", "fp1"});
        state.setItem(QStringLiteral("uid-é"), {QStringLiteral("/u/tasks/a.ics"), "\"e2\"",
                                                "BEGIN:VCALENDAR\r\nX-ODD: c\r\n", "fp2"});
        state.setItem(QStringLiteral("gone"), {QStringLiteral("/u/tasks/b.ics"), "\"e3\"", "", ""});
        state.removeItem(QStringLiteral("gone"));
        state.setCursor("token 2", QByteArray());
        state.commit();
    }
    static void checkFilled(const SyncState& state) {
        QCOMPARE(state.settings().calendar,
                 QUrl(QStringLiteral("https://cal.example.org/u/tasks/")));
        QCOMPARE(state.settings().userName, QStringLiteral("ann"));
        QCOMPARE(state.settings().intervalMinutes, 5);
        QVERIFY(state.settings().enabled);
        QCOMPARE(state.syncToken(), QByteArray("token 2"));
        QCOMPARE(state.ctag(), QByteArray());
        QCOMPARE(state.items().size(), 1);
        const SyncState::Item expected{QStringLiteral("/u/tasks/a.ics"), "\"e2\"",
                                       "BEGIN:VCALENDAR\r\nX-ODD: c\r\n", "fp2"};
        QVERIFY(*state.item(QStringLiteral("uid-é")) == expected);
        QCOMPARE(state.uidOfHref(QStringLiteral("/u/tasks/a.ics")), QStringLiteral("uid-é"));
        QCOMPARE(state.uidOfHref(QStringLiteral("/u/tasks/b.ics")), QString());
    }

private slots:
    void init() { QDir(root()).removeRecursively(); }

    void readsBackWhatWasRecorded() {
        {
            SyncState state(list(), root());
            state.load();
            fill(state);
        }
        SyncState again(list(), root());
        again.load();
        QCOMPARE(again.problem(), QString());
        checkFilled(again);
        QCOMPARE(ModeOf(root()), 0700);
        QCOMPARE(ModeOf(again.stateFile()), 0600);
        QCOMPARE(ModeOf(again.settingsFile()), 0600);

        const qint64 before = QFileInfo(again.stateFile()).size();
        again.compact();
        QVERIFY(QFileInfo(again.stateFile()).size() < before);
        QCOMPARE(ModeOf(again.stateFile()), 0600);
        SyncState compacted(list(), root());
        compacted.load();
        checkFilled(compacted);
    }

    // One list, however its path is written, has one state; another list has its own.
    void keyedByTheListsPath() {
        WriteFileBytes(list(), "x");
        QVERIFY(QFile::link(list(), m_temp.filePath(QStringLiteral("link.cv1"))));
        const SyncState state(list(), root());
        QCOMPARE(SyncState(m_temp.filePath(QStringLiteral("sub/../tasks.cv1")), root()).stateFile(),
                 state.stateFile());
        QCOMPARE(SyncState(m_temp.filePath(QStringLiteral("link.cv1")), root()).stateFile(),
                 state.stateFile());
        QVERIFY(SyncState(m_temp.filePath(QStringLiteral("other.cv1")), root()).stateFile() !=
                state.stateFile());
    }

    // A state file that cannot be read is set aside and the next sync starts afresh; a record
    // cut short by an interruption is only that record lost.
    void damagedFiles_data() {
        QTest::addColumn<QByteArray>("tail"); // appended to a good state file
        QTest::addColumn<bool>("damaged");
        QTest::newRow("record cut short") << QByteArray("I dWlk ZQ") << false;
        QTest::newRow("bad base64") << QByteArray("R *&^%\n") << true;
        QTest::newRow("unknown record") << QByteArray("Z\n") << true;
        QTest::newRow("fields missing") << QByteArray("I dWlk\n") << true;
        QTest::newRow("binary noise") << QByteArray("\x00\xff\xfe\n", 4) << true;
    }
    void damagedFiles() {
        QFETCH(QByteArray, tail);
        QFETCH(bool, damaged);
        QString stateFile;
        {
            SyncState state(list(), root());
            state.load();
            fill(state);
            stateFile = state.stateFile();
        }
        QFile file(stateFile);
        QVERIFY(file.open(QIODevice::Append));
        file.write(tail);
        file.close();

        SyncState state(list(), root());
        state.load();
        QCOMPARE(!state.problem().isEmpty(), damaged);
        QCOMPARE(state.settings().userName, QStringLiteral("ann")); // the settings stay
        if (damaged) {
            QVERIFY(state.items().isEmpty() && state.syncToken().isEmpty());
            QVERIFY(QFile::exists(stateFile + QStringLiteral(".damaged")));
        } else {
            checkFilled(state);
        }
        // Recording goes on (in a new file, or after the last whole record), and reads back.
        state.setCursor("t", "c");
        state.commit();
        SyncState again(list(), root());
        again.load();
        QCOMPARE(again.problem(), QString());
        QCOMPARE(again.syncToken(), QByteArray("t"));
        QCOMPARE(again.items().size(), damaged ? 0 : 1);
    }

    // A state file that is no file is set aside as well, and never waited on.
    void stateIsAPipe() {
        SyncState state(list(), root());
        state.load();
        fill(state);
        QFile::remove(state.stateFile());
        QCOMPARE(::mkfifo(QFile::encodeName(state.stateFile()).constData(), 0600), 0);
        state.load();
        QVERIFY(!state.problem().isEmpty());
        state.setCursor("t", "c");
        state.commit();
        SyncState again(list(), root());
        again.load();
        QCOMPARE(again.syncToken(), QByteArray("t"));
    }

    void damagedSettings() {
        SyncState state(list(), root());
        state.load();
        fill(state);
        WriteFileBytes(state.settingsFile(), "{ not json");
        state.load();
        QVERIFY(!state.problem().isEmpty());
        QCOMPARE(state.settings(), SyncState::Settings());
        QCOMPARE(state.syncToken(), QByteArray("token 2")); // the state stays
    }
};

QTEST_GUILESS_MAIN(TestSyncState)
#include "tst_syncstate.moc"
