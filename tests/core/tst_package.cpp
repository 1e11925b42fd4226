#include "core/RunTool.h"
#include "support/FileBytes.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Builds the packages with the project's script, from the build the tests run in, into a folder.
QStringList BuildPackages(const QString& folder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CORVANTIS_PACKAGE_BUILD"),
                       QStringLiteral(CORVANTIS_BUILD_DIR));
    environment.remove(QStringLiteral("SOURCE_DATE_EPOCH"));
    const ToolRun build =
        RunTool(QStringLiteral(CORVANTIS_SOURCE_DIR "/scripts/package.sh"), {folder}, environment);
    if (build.exitCode != 0)
        qWarning("%s", qPrintable(build.all()));
    return QDir(folder).entryList({QStringLiteral("*.deb")});
}
} // namespace

// Builds the Debian package and its debug symbols package into a temporary folder, and reads the
// package's file list and control fields. Nothing is installed.
class TestPackage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void contents_data();
    void contents();
    void fields_data();
    void fields();
    void sameBytesFromEveryBuild();
    void lintianFindsNothingToFault();

private:
    QTemporaryDir m_out;
    QStringList m_debs;
    QString m_package;
    QStringList m_paths;
};

void TestPackage::initTestCase() {
    m_debs = BuildPackages(m_out.path());
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

void TestPackage::sameBytesFromEveryBuild() {
    QTemporaryDir again;
    QCOMPARE(BuildPackages(again.path()), m_debs);
    for (const QString& deb : m_debs)
        QVERIFY2(ReadFileBytes(again.filePath(deb)) == ReadFileBytes(m_out.filePath(deb)),
                 qPrintable(deb));
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
