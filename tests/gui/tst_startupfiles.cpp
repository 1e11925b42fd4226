#include "reminders/ReminderStore.h"
#include "shell/Startup.h"
#include "shell/Unit1.h"
#include "storage/RecoveryStore.h"
#include "support/FileBytes.h"
#include "support/PipeReleaser.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"
#include "sync/SyncState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// The program's own files in its folder, made unreadable in the ways a disk or another program
// can: the program still starts, says what it found and carries on without them.
class TestStartupFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void startsDespite_data();
    void startsDespite();
    void leftoversOfKilledSaves_data();
    void leftoversOfKilledSaves();
};

namespace {

enum class Make { Fifo, Sparse };

} // namespace

Q_DECLARE_METATYPE(Make)

void TestStartupFiles::startsDespite_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<Make>("make");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("message"); // %1: the file's full name

    const QString recent = QStringLiteral(
        "The recent lists in \"%1\" cannot be read (Cannot open file \"%1\". %2). The file was "
        "kept as \"%1.bak\", and the recent lists start empty.");
    const QString settings = QStringLiteral("Cannot open file \"%1\". %2 The category list starts "
                                            "empty.");
    QTest::newRow("settings file is a named pipe")
        << "Corvantis.ini" << Make::Fifo << qint64(0)
        << settings.arg(QStringLiteral("%1"), QStringLiteral("It is a named pipe, not a file."));
    QTest::newRow("settings file of 8 MB")
        << "Corvantis.ini" << Make::Sparse << (qint64(8) << 20)
        << settings.arg(QStringLiteral("%1"),
                        QStringLiteral("The file is 8.0 MB; at most 1.0 MB can be read."));
    QTest::newRow("recent lists file is a named pipe")
        << "Recent.XML" << Make::Fifo << qint64(0)
        << recent.arg(QStringLiteral("%1"), QStringLiteral("It is a named pipe, not a file"));
    QTest::newRow("recent lists file of 100 MB")
        << "Recent.XML" << Make::Sparse << (qint64(100) << 20)
        << recent.arg(QStringLiteral("%1"),
                      QStringLiteral("The file is 100.0 MB; at most 64.0 MB can be read"));
}

void TestStartupFiles::startsDespite() {
    QFETCH(QString, name);
    QFETCH(Make, make);
    QFETCH(qint64, size);
    QFETCH(QString, message);

    QTemporaryDir folder;
    const QString fileName = folder.filePath(name);
    const QByteArray path = QFile::encodeName(fileName);
    if (make == Make::Fifo) {
        QCOMPARE(mkfifo(path.constData(), 0600), 0);
    } else {
        QVERIFY(QFile(fileName).open(QIODevice::WriteOnly));
        QCOMPARE(truncate(path.constData(), size), 0);
    }

    ScriptedPrompt prompt;
    std::unique_ptr<TfrmMain> window;
    {
        const PipeReleaser releaser(path);
        window = StartCorvantis(folder.path() + u'/');
        QVERIFY2(!releaser.released(), "the start hangs on a named pipe");
    }
    QVERIFY(window->isVisible());
    QCOMPARE(prompt.errors, QStringList{message.arg(fileName)});
}

void TestStartupFiles::leftoversOfKilledSaves_data() {
    QTest::addColumn<int>("age"); // seconds since they were last written
    QTest::newRow("left by a kill") << 3600;
    QTest::newRow("a save under way") << 0;
}

// What saves killed before their rename left in the program's own folders goes at the next
// start; a save another program is making, and files not the program's, stay.
void TestStartupFiles::leftoversOfKilledSaves() {
    QFETCH(int, age);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    const QString program = home.filePath(QStringLiteral("program/"));
    // (A killed program's recovery folder goes whole when the next start takes its copies over.)
    const QStringList ours{RecoveryStore::defaultRoot() + QStringLiteral("/a.cv1.saving"),
                           ReminderStore::defaultRoot() + QStringLiteral("/1f.json.saving"),
                           SyncState::DefaultRoot() + QStringLiteral("/2e.state.saving"),
                           program + QStringLiteral("Recent.XML.saving")};
    const QStringList others{program + QStringLiteral("Week.cv1.saving"),
                             ReminderStore::defaultRoot() + QStringLiteral("/1f.json")};
    for (const QString& file : ours + others) {
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        QVERIFY(WriteFileBytes(file, "left"));
    }
    PinLocaleAndClock(QDateTime::currentDateTime().addSecs(age));
    ScriptedPrompt prompt;
    const auto window = StartCorvantis(program);
    for (const QString& file : ours)
        QVERIFY2(QFileInfo::exists(file) == (age == 0), qPrintable(file));
    for (const QString& file : others)
        QVERIFY2(QFileInfo::exists(file), qPrintable(file));
    PinLocaleAndClock();
}

QTEST_MAIN(TestStartupFiles)
#include "tst_startupfiles.moc"
