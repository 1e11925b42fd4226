#include "core/RunTool.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

// Builds the Debian package with the project's script, from the build the tests run in, into a
// temporary folder, and reads its file list and control fields. Nothing is installed.
class TestPackage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void contents_data();
    void contents();
    void fields_data();
    void fields();

private:
    QTemporaryDir m_out;
    QString m_package;
    QStringList m_paths;
};

void TestPackage::initTestCase() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CORVANTIS_PACKAGE_BUILD"),
                       QStringLiteral(CORVANTIS_BUILD_DIR));
    const ToolRun build = RunTool(QStringLiteral(CORVANTIS_SOURCE_DIR "/scripts/package.sh"),
                                  {m_out.path()}, environment);
    QVERIFY2(build.exitCode == 0, qPrintable(build.all()));
    const QStringList debs = QDir(m_out.path()).entryList({QStringLiteral("*.deb")});
    QCOMPARE(debs, QStringList{QStringLiteral("corvantis_%1_%2.deb")
                                   .arg(QStringLiteral(CORVANTIS_VERSION),
                                        RunTool(QStringLiteral("dpkg"),
                                                {QStringLiteral("--print-architecture")})
                                            .out.trimmed())});
    m_package = m_out.filePath(debs.first());
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
    // The libraries come from the program's links; the rest is what it loads by name.
    for (const char* package :
         {"libqt6widgets6", "libical3", "libqt6svg6", "breeze-icon-theme", "fonts-liberation"})
        QTest::newRow(package) << QStringLiteral("Depends") << QString::fromLatin1(package);
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

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
