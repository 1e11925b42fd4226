#include "core/RunTool.h"
#include "reminders/ReminderStore.h"
#include "storage/RecoveryStore.h"
#include "support/FileBytes.h"
#include "sync/SyncState.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {
const QString AppId = QStringLiteral("org.corvantis.Corvantis");
const QString ListType = QStringLiteral("application/x-corvantis-list");
} // namespace

// Installs the build into a temporary prefix, as `cmake --install build --prefix P` does, and
// checks what a desktop reads from there: the entry, the metadata, the file type and the icons.
class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();
    void validators_data();
    void validators();
    void desktopEntry();
    void listFileType_data();
    void listFileType();
    void releaseNotesNameThisVersion_data();
    void releaseNotesNameThisVersion();
    void perUserInstallKeepsItsFilesInTheConfigFolder();
    void manualPageNamesEveryFolder_data();
    void manualPageNamesEveryFolder();

private:
    QString installed(const QString& path) const { return m_prefix.filePath(path); }
    QTemporaryDir m_prefix;
    QTemporaryDir m_database;
    QTemporaryDir m_files;
};

void TestInstall::initTestCase() {
    QVERIFY(m_prefix.isValid());
    const ToolRun install =
        RunTool(QStringLiteral(CORVANTIS_CMAKE),
                {QStringLiteral("--install"), QStringLiteral(CORVANTIS_BUILD_DIR),
                 QStringLiteral("--prefix"), m_prefix.path()});
    QVERIFY2(install.exitCode == 0, qPrintable(install.all()));
    // The system merges every package's file types into one database; so does the test, with
    // the system's own types and the installed one, in a folder of its own.
    const QString packages = m_database.filePath(QStringLiteral("mime/packages"));
    QVERIFY(QDir().mkpath(packages));
    const QDir system(QStringLiteral("/usr/share/mime/packages"));
    for (const QString& name : system.entryList({QStringLiteral("*.xml")}))
        QVERIFY(QFile::copy(system.filePath(name), packages + u'/' + name));
    const QString ours = QStringLiteral("share/mime/packages/%1.xml").arg(AppId);
    QVERIFY(QFile::copy(installed(ours), QStringLiteral("%1/%2.xml").arg(packages, AppId)));
    const ToolRun mime = RunTool(QStringLiteral("update-mime-database"),
                                 {m_database.filePath(QStringLiteral("mime"))});
    QVERIFY2(mime.exitCode == 0, qPrintable(mime.all()));
    QVERIFY2(!mime.all().contains(AppId), qPrintable(mime.all())); // nothing to say about ours
    qputenv("XDG_DATA_DIRS", m_database.path().toLocal8Bit());
}

void TestInstall::installedFiles_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("pixels"); // the side of a PNG picture; 0 for other files
    const QString icons = QStringLiteral("share/icons/hicolor/");
    QTest::newRow("program") << QStringLiteral("bin/Corvantis") << 0;
    QTest::newRow("program icon") << icons + QStringLiteral("scalable/apps/%1.svg").arg(AppId) << 0;
    QTest::newRow("48 pixels") << icons + QStringLiteral("48x48/apps/%1.png").arg(AppId) << 48;
    QTest::newRow("256 pixels") << icons + QStringLiteral("256x256/apps/%1.png").arg(AppId) << 256;
    QTest::newRow("list file icon")
        << icons + QStringLiteral("scalable/mimetypes/application-x-corvantis-list.svg") << 0;
}

void TestInstall::installedFiles() {
    QFETCH(QString, path);
    QFETCH(int, pixels);
    const QByteArray bytes = ReadFileBytes(installed(path));
    QVERIFY2(!bytes.isEmpty(), qPrintable(path));
    if (pixels == 0)
        return;
    // A PNG's header chunk holds its width and height, big-endian, from byte 16.
    QVERIFY(bytes.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 16), quint32(pixels));
    QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 20), quint32(pixels));
}

void TestInstall::validators_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("desktop entry")
        << QStringLiteral("desktop-file-validate")
        << QStringList{installed(QStringLiteral("share/applications/%1.desktop").arg(AppId))};
    QTest::newRow("metainfo")
        << QStringLiteral("appstreamcli")
        << QStringList{QStringLiteral("validate"), QStringLiteral("--no-net"),
                       installed(QStringLiteral("share/metainfo/%1.metainfo.xml").arg(AppId))};
}

void TestInstall::validators() {
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    const ToolRun run = RunTool(tool, arguments);
    QVERIFY2(run.exitCode == 0, qPrintable(tool + QStringLiteral(": ") + run.all()));
    QVERIFY2(!run.all().contains(QLatin1String("warning"), Qt::CaseInsensitive),
             qPrintable(run.all()));
}

void TestInstall::desktopEntry() {
    const QStringList lines =
        QString::fromUtf8(
            ReadFileBytes(installed(QStringLiteral("share/applications/%1.desktop").arg(AppId))))
            .split(u'\n');
    QVERIFY(lines.contains(QStringLiteral("Exec=Corvantis %F")));
    QVERIFY(lines.contains(QStringLiteral("Icon=") + AppId));
    QVERIFY(lines.contains(QStringLiteral("MimeType=%1;").arg(ListType)));
}

void TestInstall::listFileType_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("type");
    const QByteArray list = ReadFileBytes(QStringLiteral(CORVANTIS_TEST_DATA) +
                                          QStringLiteral("/datapacket/task-history.cv1"));
    QTest::newRow("by its extension") << QStringLiteral("Week.cv1") << QByteArray() << ListType;
    QTest::newRow("by its contents") << QStringLiteral("week") << list << ListType;
    QTest::newRow("other XML") << QStringLiteral("notes")
                               << QByteArray("<?xml version=\"1.0\"?>\n<notes/>\n")
                               << QStringLiteral("application/xml");
}

void TestInstall::listFileType() {
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, type);
    const QString fileName = m_files.filePath(name);
    QVERIFY(WriteFileBytes(fileName, contents));
    const QMimeType found = QMimeDatabase().mimeTypeForFile(fileName);
    QCOMPARE(found.name(), type);
    if (type == ListType) {
        QCOMPARE(found.iconName(), QStringLiteral("application-x-corvantis-list"));
        QVERIFY(found.inherits(QStringLiteral("application/xml")));
    }
}

void TestInstall::releaseNotesNameThisVersion_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("newest"); // finds the newest release's version
    QTest::newRow("change log") << QStringLiteral("share/doc/corvantis/changelog.gz")
                                << QStringLiteral("^corvantis \\(([^)]+)\\)");
    QTest::newRow("metainfo") << QStringLiteral("share/metainfo/%1.metainfo.xml").arg(AppId)
                              << QStringLiteral("<release version=\"([^\"]+)\"");
}

void TestInstall::releaseNotesNameThisVersion() {
    QFETCH(QString, path);
    QFETCH(QString, newest);
    const QString text =
        path.endsWith(QLatin1String(".gz"))
            ? RunTool(QStringLiteral("gzip"), {QStringLiteral("-dc"), installed(path)}).out
            : QString::fromUtf8(ReadFileBytes(installed(path)));
    const QRegularExpressionMatch match = QRegularExpression(newest).match(text);
    QVERIFY2(match.hasMatch(), qPrintable(text));
    QCOMPARE(match.captured(1), QStringLiteral(CORVANTIS_VERSION));
}

void TestInstall::perUserInstallKeepsItsFilesInTheConfigFolder() {
    // The program installed under a prefix of the user's, as into ~/.local, makes the folder of
    // its own files at start; it must be the configuration folder, never the one it runs from.
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(installed(QStringLiteral("bin/Corvantis")), QStringList());
    const QString config = home.filePath(QStringLiteral("config/Corvantis"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(config) || program.state() == QProcess::NotRunning,
                             60000);
    QCOMPARE(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished();
    QVERIFY(QFileInfo(config).isDir());
    QCOMPARE(
        QDir(installed(QStringLiteral("bin"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("Corvantis")});
}

void TestInstall::manualPageNamesEveryFolder_data() {
    QTest::addColumn<QString>("named");
    // The folders the program keeps its data in, as the program names them.
    for (const QString& root :
         {RecoveryStore::defaultRoot(), ReminderStore::defaultRoot(), SyncState::DefaultRoot()}) {
        const QString folder = QFileInfo(root).fileName();
        QTest::newRow(qPrintable(folder))
            << QStringLiteral("~/.local/share/Corvantis/%1/").arg(folder);
    }
    QTest::newRow("the single-instance socket") << QStringLiteral(".socket");
    QTest::newRow("its folder") << QStringLiteral("XDG_RUNTIME_DIR");
}

// The manual page tells where the program keeps what it keeps.
void TestInstall::manualPageNamesEveryFolder() {
    QFETCH(QString, named);
    const ToolRun page = RunTool(
        QStringLiteral("gzip"),
        {QStringLiteral("-dc"), installed(QStringLiteral("share/man/man1/Corvantis.1.gz"))});
    QCOMPARE(page.exitCode, 0);
    QVERIFY2(page.out.contains(named), qPrintable(named));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
