#include "base/CorvantisError.h"
#include "storage/CategorySettings.h"
#include "storage/IniFile.h"
#include "support/FileBytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestIniFile : public QObject {
    Q_OBJECT
private slots:
    void readString_data();
    void readString();
    void edit_data();
    void edit();
    void readCategories_data();
    void readCategories();
    void saveCategories_data();
    void saveCategories();
    void saveRoundTrip();
    void saveFailure_data();
    void saveFailure();
};

void TestIniFile::readString_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value"); // "<default>" when the default comes back

    QTest::newRow("plain") << QByteArray("[Category]\nLine0=Home\nLine1=Work\n") << "Category"
                           << "Line1"
                           << "Work";
    QTest::newRow("names without case") << QByteArray("[CATEGORY]\nLINE0=Home\n") << "category"
                                        << "line0"
                                        << "Home";
    QTest::newRow("blanks around everything")
        << QByteArray("  [ Category ]  \r\n\t Line0 =  Home Office \t\r\n") << "Category"
        << "Line0"
        << "Home Office";
    QTest::newRow("double quotes dropped") << QByteArray("[C]\nk=\"Home\"\n") << "C"
                                           << "k"
                                           << "Home";
    QTest::newRow("single quotes dropped") << QByteArray("[C]\nk='Home'\n") << "C"
                                           << "k"
                                           << "Home";
    QTest::newRow("unmatched quotes kept") << QByteArray("[C]\nk=\"Home'\n") << "C"
                                           << "k"
                                           << "\"Home'";
    QTest::newRow("equals sign in value") << QByteArray("[C]\nk=a=b\n") << "C"
                                          << "k"
                                          << "a=b";
    QTest::newRow("empty value") << QByteArray("[C]\nk=\n") << "C"
                                 << "k"
                                 << "";
    QTest::newRow("key without equals sign") << QByteArray("[C]\nk\n") << "C"
                                             << "k"
                                             << "<default>";
    QTest::newRow("first section of a name is read")
        << QByteArray("[C]\nk=first\n[c]\nk=second\nother=x\n") << "C"
        << "k"
        << "first";
    QTest::newRow("later section of the same name is not read")
        << QByteArray("[C]\nk=first\n[c]\nother=x\n") << "C"
        << "other"
        << "<default>";
    QTest::newRow("first duplicate key wins") << QByteArray("[C]\nk=1\nK=2\n") << "C"
                                              << "k"
                                              << "1";
    QTest::newRow("key before any section") << QByteArray("k=1\n[C]\n") << "C"
                                            << "k"
                                            << "<default>";
    QTest::newRow("key of another section") << QByteArray("[A]\nk=1\n[C]\nj=2\n") << "C"
                                            << "k"
                                            << "<default>";
    QTest::newRow("missing section") << QByteArray("[A]\nk=1\n") << "C"
                                     << "k"
                                     << "<default>";
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[C]\nk=1\n") << "C"
                                     << "k"
                                     << "1";
    QTest::newRow("utf-8 value") << QByteArray("[C]\nk=Caf\xC3\xA9\n") << "C"
                                 << "k"
                                 << "Caf\u00e9";
    QTest::newRow("windows-1252 value") << QByteArray("[C]\nk=Caf\xE9 \x80\n") << "C"
                                        << "k"
                                        << "Caf\u00e9 \u20ac";
    QTest::newRow("last line without line break") << QByteArray("[C]\nk=end") << "C"
                                                  << "k"
                                                  << "end";
    QTest::newRow("unclosed header is no section") << QByteArray("[C]\n[D\nk=1\n") << "C"
                                                   << "k"
                                                   << "1";
    QTest::newRow("cut to 2047 characters")
        << QByteArray("[C]\nk=" + QByteArray(3000, 'x') + "\n") << "C"
        << "k" << QString(IniFile::MaxValueLength, u'x');
    QTest::newRow("2047 characters kept whole")
        << QByteArray("[C]\nk=" + QByteArray(2047, 'y') + "\n") << "C"
        << "k" << QString(2047, u'y');
}

void TestIniFile::readString() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QCOMPARE(IniFile::fromBytes(bytes).readString(section, key, QStringLiteral("<default>")),
             value);
}

// Writing changes only the lines it must; everything else keeps its bytes.
void TestIniFile::edit_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("operations"); // "-section" erases, "section|key|value" writes
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << QByteArray() << QStringList{"Category|Line0|Home"}
                              << QByteArray("[Category]\nLine0=Home\n");
    QTest::newRow("section in the middle erased, others byte for byte")
        << QByteArray("; made by hand\r\n[Window]\r\nTop = 5 \r\n\r\n[category]\r\nLine0=Old\r\n"
                      "; note\r\n\r\n[Other]\r\nx=\"1\"\r\n")
        << QStringList{"-Category"}
        << QByteArray("; made by hand\r\n[Window]\r\nTop = 5 \r\n\r\n[Other]\r\nx=\"1\"\r\n");
    QTest::newRow("every section of the name erased")
        << QByteArray("[C]\nk=1\n[A]\na=1\n[c]\nk=2\n") << QStringList{"-C"}
        << QByteArray("[A]\na=1\n");
    QTest::newRow("erased and written again at the end, with the file's line breaks")
        << QByteArray("[Category]\r\nLine0=Old\r\n\r\n[Other]\r\nx=1\r\n")
        << QStringList{"-Category", "Category|Line0|Home", "Category|Line1|Work"}
        << QByteArray("[Other]\r\nx=1\r\n\r\n[Category]\r\nLine0=Home\r\nLine1=Work\r\n");
    QTest::newRow("file without final line break")
        << QByteArray("[Other]\nx=1") << QStringList{"Category|Line0|Home"}
        << QByteArray("[Other]\nx=1\n\n[Category]\nLine0=Home\n");
    QTest::newRow("key replaced in place")
        << QByteArray("[C]\r\na=1\r\nk = old \r\nb=2") << QStringList{"c|K|new"}
        << QByteArray("[C]\r\na=1\r\nk=new\r\nb=2");
    QTest::newRow("key added before the blank lines ending the section")
        << QByteArray("[C]\na=1\n\n\n[D]\nd=1\n") << QStringList{"C|b|2"}
        << QByteArray("[C]\na=1\nb=2\n\n\n[D]\nd=1\n");
    QTest::newRow("value trimmed, quoted value quoted again")
        << QByteArray() << QStringList{"C|a|  x  ", "C|b|\"q\""}
        << QByteArray("[C]\na=x\nb=\"\"q\"\"\n");
    QTest::newRow("line break in a value stays on its line")
        << QByteArray() << QStringList{"C|a|one\ntwo"} << QByteArray("[C]\na=one two\n");
    QTest::newRow("windows-1252 line kept as it was")
        << QByteArray("[A]\nname=Caf\xE9\n") << QStringList{"C|k|Caf\u00e9"}
        << QByteArray("[A]\nname=Caf\xE9\n\n[C]\nk=Caf\xC3\xA9\n");
}

void TestIniFile::edit() {
    QFETCH(QByteArray, before);
    QFETCH(QStringList, operations);
    QFETCH(QByteArray, after);
    IniFile file = IniFile::fromBytes(before);
    for (const QString& operation : operations) {
        if (operation.startsWith(u'-')) {
            file.eraseSection(operation.mid(1));
        } else {
            const QStringList parts = operation.split(u'|');
            file.writeString(parts.at(0), parts.at(1), parts.at(2));
        }
    }
    QCOMPARE(file.toBytes(), after);
    // What was written reads back (the value as the platform would give it).
    for (const QString& operation : operations) {
        if (operation.startsWith(u'-'))
            continue;
        const QStringList parts = operation.split(u'|');
        QCOMPARE(IniFile::fromBytes(after).readString(parts.at(0), parts.at(1)),
                 QString(parts.at(2)).replace(u'\n', u' ').trimmed());
    }
}

void TestIniFile::readCategories_data() {
    QTest::addColumn<QByteArray>("bytes"); // "<none>": no file
    QTest::addColumn<QStringList>("names");

    QTest::newRow("no file") << QByteArray("<none>") << QStringList{};
    QTest::newRow("two") << QByteArray("[Category]\r\nLine0=Home\r\nLine1=Work\r\n")
                         << QStringList{"Home", "Work"};
    QTest::newRow("stops at the missing Line2")
        << QByteArray("[Category]\nLine0=Home\nLine1=Work\nLine3=Garden\n")
        << QStringList{"Home", "Work"};
    QTest::newRow("stops at an empty value")
        << QByteArray("[Category]\nLine0=Home\nLine1=\nLine2=Work\n") << QStringList{"Home"};
    QTest::newRow("key order, not line order")
        << QByteArray("[Category]\nLine1=Work\nLine0=Home\n") << QStringList{"Home", "Work"};
    QTest::newRow("duplicates kept")
        << QByteArray("[Category]\nLine0=Home\nLine1=Home\n") << QStringList{"Home", "Home"};
    QTest::newRow("Line10 after Line9")
        << QByteArray("[Category]\nLine0=a\nLine1=b\nLine2=c\nLine3=d\nLine4=e\nLine5=f\n"
                      "Line6=g\nLine7=h\nLine8=i\nLine9=j\nLine10=k\nLine010=no\n")
        << QStringList{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"};
    QTest::newRow("no Category section") << QByteArray("[Other]\nLine0=x\n") << QStringList{};
    QTest::newRow("long name cut")
        << QByteArray("[Category]\nLine0=" + QByteArray(2100, 'n') + "\n")
        << QStringList{QString(2047, u'n')};
}

void TestIniFile::readCategories() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    const QString fileName = CategorySettings::FileName(dir.path());
    QCOMPARE(fileName, dir.path() + QStringLiteral("/Corvantis.ini"));
    if (bytes != "<none>")
        QVERIFY(WriteFileBytes(fileName, bytes));
    QCOMPARE(CategorySettings::Read(fileName), names);
}

void TestIniFile::saveCategories_data() {
    QTest::addColumn<QByteArray>("before"); // "<none>": no file
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("first save creates the file")
        << QByteArray("<none>") << QStringList{"Home", "Work"}
        << QByteArray("[Category]\nLine0=Home\nLine1=Work\n");
    QTest::newRow("blank lines skipped, numbers without gaps")
        << QByteArray("<none>") << QStringList{"Home", "", "  ", "Work", ""}
        << QByteArray("[Category]\nLine0=Home\nLine1=Work\n");
    QTest::newRow("old keys gone, other sections untouched")
        << QByteArray("[Category]\r\nLine0=a\r\nLine1=b\r\nLine2=c\r\n\r\n[Window]\r\nLeft=3\r\n")
        << QStringList{"z"} << QByteArray("[Window]\r\nLeft=3\r\n\r\n[Category]\r\nLine0=z\r\n");
    QTest::newRow("empty list leaves no section")
        << QByteArray("[Window]\nLeft=3\n[Category]\nLine0=a\n") << QStringList{}
        << QByteArray("[Window]\nLeft=3\n");
    QTest::newRow("user's order and duplicates kept")
        << QByteArray("<none>") << QStringList{"b", "a", "b"}
        << QByteArray("[Category]\nLine0=b\nLine1=a\nLine2=b\n");
}

void TestIniFile::saveCategories() {
    QFETCH(QByteArray, before);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString fileName = CategorySettings::FileName(dir.path());
    if (before != "<none>")
        QVERIFY(WriteFileBytes(fileName, before));
    CategorySettings::Save(fileName, lines);
    QCOMPARE(ReadFileBytes(fileName), after);
}

// Names the platform would change on the way (blanks, quotes) come back as they were saved.
void TestIniFile::saveRoundTrip() {
    QTemporaryDir dir;
    const QString fileName = CategorySettings::FileName(dir.path());
    const QStringList names{"\"Quoted\"",      "'single'",         "a=b",
                            "[Not a section]", "Caf\u00e9 \u20ac", "\u65e5\u672c",
                            "; not a comment", QString(2047, u'w')};
    CategorySettings::Save(fileName, names);
    QCOMPARE(CategorySettings::Read(fileName), names);
    // Saving twice gives the same bytes.
    const QByteArray once = ReadFileBytes(fileName);
    CategorySettings::Save(fileName, names);
    QCOMPARE(ReadFileBytes(fileName), once);
}

void TestIniFile::saveFailure_data() {
    QTest::addColumn<QString>("where"); // "folder": the file's folder is missing; "dir": a folder
                                        // stands where the file should be
    QTest::newRow("missing folder") << "folder";
    QTest::newRow("folder in the way") << "dir";
}

void TestIniFile::saveFailure() {
    QFETCH(QString, where);
    QTemporaryDir dir;
    QString fileName;
    if (where == QLatin1String("folder")) {
        fileName = CategorySettings::FileName(dir.filePath(QStringLiteral("gone")));
    } else {
        fileName = CategorySettings::FileName(dir.path());
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Corvantis.ini")));
    }
    try {
        CategorySettings::Save(fileName, {QStringLiteral("Home")});
        QFAIL("saving did not fail");
    } catch (const CorvantisError& error) {
        QCOMPARE(error.message(), QStringLiteral("Unable to write to ") + fileName);
    }
    // Reading the same place gives an empty list, without an error.
    QCOMPARE(CategorySettings::Read(fileName), QStringList{});
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
