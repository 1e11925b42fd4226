#include "core/RunTool.h"
#include "support/FileBytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Where the two copies of the sources are built, beside the test's own build folders: kept from
// run to run, so a run builds only what changed since the last.
const QString Copies = QStringLiteral(CORVANTIS_SOURCE_DIR "/build-package-test");
// A full build of the program on a busy machine takes minutes.
constexpr int BuildTimeoutMs = 45 * 60 * 1000;

// The sources as git knows them (tracked, and new files not ignored), copied into folder; a file
// is written again only when its bytes changed, so its copy keeps its time otherwise.
QString CopySources(const QString& folder) {
    const ToolRun listed =
        RunTool(QStringLiteral("git"),
                {QStringLiteral("-C"), QStringLiteral(CORVANTIS_SOURCE_DIR),
                 QStringLiteral("ls-files"), QStringLiteral("-z"), QStringLiteral("--cached"),
                 QStringLiteral("--others"), QStringLiteral("--exclude-standard")});
    if (listed.exitCode != 0)
        return QStringLiteral("git ls-files: ") + listed.all();
    for (const QString& name : listed.out.split(QChar(0), Qt::SkipEmptyParts)) {
        const QFileInfo from(QStringLiteral(CORVANTIS_SOURCE_DIR "/") + name);
        if (!from.isFile())
            continue; // deleted, not yet committed
        const QString to = folder + u'/' + name;
        const QByteArray bytes = ReadFileBytes(from.filePath());
        if (QFileInfo::exists(to) && ReadFileBytes(to) == bytes)
            continue;
        QFile::remove(to);
        if (!QDir().mkpath(QFileInfo(to).absolutePath()) || !WriteFileBytes(to, bytes) ||
            !QFile::setPermissions(to, from.permissions()))
            return QStringLiteral("cannot copy ") + name;
    }
    return QString();
}

// Builds the packages of a copy of the sources with its own script, in the copy's own build
// folder as the script configures it, into output.
QStringList BuildPackages(const QString& copy, const QString& output) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("CORVANTIS_PACKAGE_BUILD"));
    environment.remove(QStringLiteral("SOURCE_DATE_EPOCH"));
    const ToolRun build = RunTool(copy + QStringLiteral("/scripts/package.sh"), {output},
                                  environment, BuildTimeoutMs);
    if (build.exitCode != 0)
        qWarning("%s", qPrintable(build.all()));
    return QDir(output).entryList({QStringLiteral("*.deb")});
}

// The files of a package whose sums differ from another's, for a failure to name them.
QStringList DifferingFiles(const QString& deb, const QString& other) {
    const auto sums = [](const QString& package) {
        return RunTool(QStringLiteral("dpkg-deb"),
                       {QStringLiteral("-I"), package, QStringLiteral("md5sums")})
            .out.split(u'\n');
    };
    const QStringList mine = sums(deb);
    const QStringList theirs = sums(other);
    QStringList differing;
    for (const QString& line : mine)
        if (!theirs.contains(line))
            differing << line.section(u' ', -1);
    return differing.isEmpty() ? QStringList{QStringLiteral("(control or packing)")} : differing;
}

} // namespace

// Builds the Debian package and its debug symbols package from two copies of the sources in two
// folders, each configured by the package script alone (whatever the tree around the test is),
// and reads the first's file list and control fields. Nothing is installed.
class TestPackage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void contents_data();
    void contents();
    void fields_data();
    void fields();
    void sameBytesFromTwoFolders();
    void lintianFindsNothingToFault();

private:
    QTemporaryDir m_out;
    QTemporaryDir m_otherOut;
    QStringList m_debs;
    QStringList m_otherDebs;
    QString m_package;
    QStringList m_paths;
};

void TestPackage::initTestCase() {
    QVERIFY(QDir().mkpath(Copies));
    // One run at a time builds in the copies (the normal and the sanitizer tree share them).
    QLockFile lock(Copies + QStringLiteral("/lock"));
    lock.setStaleLockTime(0);
    QVERIFY(lock.lock());
    // Two folders whose paths differ in length too, so no path can hide in padding.
    const QString first = Copies + QStringLiteral("/one");
    const QString second = Copies + QStringLiteral("/second-copy");
    for (const QString& copy : {first, second}) {
        const QString failure = CopySources(copy);
        if (failure.startsWith(QStringLiteral("git ")))
            QSKIP(qPrintable(QStringLiteral("the sources are no git checkout: ") + failure));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    m_debs = BuildPackages(first, m_out.path());
    m_otherDebs = BuildPackages(second, m_otherOut.path());
    const QString version = QStringLiteral(CORVANTIS_VERSION);
    const QString architecture =
        RunTool(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).out.trimmed();
    QCOMPARE(m_debs,
             QStringList({QStringLiteral("corvantis-dbgsym_%1_%2.deb").arg(version, architecture),
                          QStringLiteral("corvantis_%1_%2.deb").arg(version, architecture)}));
    m_package = m_out.filePath(m_debs.last());
    const ToolRun list = RunTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_package});
    QCOMPARE(list.exitCode, 0);
    for (const QString& line : list.out.split(u'\n', Qt::SkipEmptyParts))
        m_paths << line.section(u' ', -1);
}

void TestPackage::contents_data() {
    QTest::addColumn<QString>("path");
    for (const char* path : {
             "./usr/bin/Corvantis",
             "./usr/share/applications/org.corvantis.Corvantis.desktop",
             "./usr/share/metainfo/org.corvantis.Corvantis.metainfo.xml",
             "./usr/share/mime/packages/org.corvantis.Corvantis.xml",
             "./usr/share/icons/hicolor/scalable/apps/org.corvantis.Corvantis.svg",
             "./usr/share/icons/hicolor/48x48/apps/org.corvantis.Corvantis.png",
             "./usr/share/icons/hicolor/256x256/apps/org.corvantis.Corvantis.png",
             "./usr/share/icons/hicolor/scalable/mimetypes/application-x-corvantis-list.svg",
         })
        QTest::newRow(path) << QString::fromLatin1(path);
}

void TestPackage::contents() {
    QFETCH(QString, path);
    QVERIFY2(m_paths.contains(path), qPrintable(m_paths.join(u'\n')));
}

void TestPackage::fields_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("holds");
    QTest::newRow("name") << QStringLiteral("Package") << QStringLiteral("corvantis");
    QTest::newRow("version") << QStringLiteral("Version") << QStringLiteral(CORVANTIS_VERSION);
    // The libraries come from the program's links (libqt6gui6 holds the xcb platform plugin);
    // the rest is what it loads by name.
    for (const char* package : {"libqt6widgets6", "libqt6gui6", "libical3", "libqt6svg6",
                                "breeze-icon-theme", "fonts-liberation"})
        QTest::newRow(package) << QStringLiteral("Depends") << QString::fromLatin1(package);
    for (const char* package : {"qt6-qpa-plugins", "fonts-wine"})
        QTest::newRow(package) << QStringLiteral("Recommends") << QString::fromLatin1(package);
}

void TestPackage::fields() {
    QFETCH(QString, field);
    QFETCH(QString, holds);
    const ToolRun run =
        RunTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_package, field});
    QCOMPARE(run.exitCode, 0);
    const QStringList values = run.out.trimmed().split(QStringLiteral(", "));
    const bool found = std::any_of(values.begin(), values.end(), [&](const QString& value) {
        return value == holds || value.startsWith(holds + QStringLiteral(" ("));
    });
    QVERIFY2(found, qPrintable(run.out));
}

// The sources' folder and the build folder leave no trace in the packages.
void TestPackage::sameBytesFromTwoFolders() {
    QCOMPARE(m_otherDebs, m_debs);
    for (const QString& deb : m_debs)
        QVERIFY2(ReadFileBytes(m_otherOut.filePath(deb)) == ReadFileBytes(m_out.filePath(deb)),
                 qPrintable(deb + QStringLiteral(" differs in: ") +
                            DifferingFiles(m_out.filePath(deb), m_otherOut.filePath(deb))
                                .join(QStringLiteral(", "))));
}

void TestPackage::lintianFindsNothingToFault() {
    const QString lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
    if (lintian.isEmpty())
        QSKIP("lintian is not installed (scripts/setup.sh installs it)");
    QStringList arguments{QStringLiteral("--tag-display-limit"), QStringLiteral("0")};
    for (const QString& deb : m_debs)
        arguments << m_out.filePath(deb);
    const ToolRun run = RunTool(lintian, arguments);
    // Errors and warnings fail; information and pedantic notes do not.
    const QStringList faults =
        run.out.split(u'\n').filter(QRegularExpression(QStringLiteral("^[EW]: ")));
    QVERIFY2(faults.isEmpty(), qPrintable(run.all()));
    QVERIFY2(run.exitCode == 0, qPrintable(run.all()));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
