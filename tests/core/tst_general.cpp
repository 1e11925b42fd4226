#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "base/LoginName.h"
#include "base/TextLines.h"
#include "support/TestSupport.h"

#include <QCollator>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cerrno>

class TestGeneral : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void captionFromFileName_data();
    void captionFromFileName();
    void sortLines_data();
    void sortLines();
    void sortLinesOfALongList();
    void shortDateFormat_data();
    void shortDateFormat();
    void shortDateRoundTrip();
    void currentUserName();
    void userNameWithoutDatabaseEntry_data();
    void userNameWithoutDatabaseEntry();
    void trimBlanksAndControls();
};

void TestGeneral::captionFromFileName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("windows path, two dots") << "C:\\Lists\\Home.Work.cv1"
                                            << "Home.Work";
    QTest::newRow("posix path") << "/home/u/Groceries.cv1"
                                << "Groceries";
    QTest::newRow("no dot") << "New"
                            << "New";
    QTest::newRow("dot in folder only") << "/a.b/list"
                                        << "list";
    QTest::newRow("week number") << "/x/Week.2.cv1"
                                 << "Week.2";
}

void TestGeneral::captionFromFileName() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QCOMPARE(uGeneral::CaptionFromFileName(name), caption);
}

void TestGeneral::sortLines_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("sorted");
    QTest::newRow("none") << QStringList{} << QStringList{};
    QTest::newRow("one") << QStringList{"b"} << QStringList{"b"};
    QTest::newRow("case ignored") << QStringList{"work", "Home", "errands"}
                                  << QStringList{"errands", "Home", "work"};
    QTest::newRow("locale order, accents")
        << QStringList{"Zeta", "Église", "Apple"} << QStringList{"Apple", "Église", "Zeta"};
    QTest::newRow("duplicates kept") << QStringList{"b", "a", "b"} << QStringList{"a", "b", "b"};
}

void TestGeneral::sortLines() {
    QFETCH(QStringList, lines);
    QFETCH(QStringList, sorted);
    uGeneral::SortLines(lines);
    QCOMPARE(lines, sorted);
}

// A settings file of many categories must not hold up the start: 50,000 lines sorted two by
// two would take minutes.
void TestGeneral::sortLinesOfALongList() {
    QRandomGenerator random(5);
    QStringList lines;
    for (int i = 0; i < 50000; ++i)
        lines << QStringLiteral("Category %1 %2")
                     .arg(random.bounded(1000))
                     .arg(QChar(random.bounded(2) ? u'a' : u'\u00c9'));
    QStringList expected = lines;
    QElapsedTimer timer;
    timer.start();
    uGeneral::SortLines(lines);
    QVERIFY2(timer.elapsed() < 10000, "sorting 50,000 lines hangs");
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    for (qsizetype i = 1; i < lines.size(); ++i)
        QVERIFY(collator.compare(lines.at(i - 1), lines.at(i)) <= 0);
    std::sort(expected.begin(), expected.end());
    QStringList sorted = lines;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(sorted, expected); // the same lines
}

void TestGeneral::shortDateFormat_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("format");
    QTest::newRow("en_US widened")
        << QLocale(QLocale::English, QLocale::UnitedStates) << "M/d/yyyy";
    QTest::newRow("en_GB already four digits")
        << QLocale(QLocale::English, QLocale::UnitedKingdom) << "dd/MM/yyyy";
    QTest::newRow("de_DE widened") << QLocale(QLocale::German, QLocale::Germany) << "dd.MM.yyyy";
}

void TestGeneral::shortDateFormat() {
    QFETCH(QLocale, locale);
    QFETCH(QString, format);
    QLocale::setDefault(locale);
    QCOMPARE(uGeneral::ShortDateFormat(), format);
    // Every date written by the format reads back as the same day.
    for (const QDate& day : {QDate(999, 3, 3), QDate(2025, 2, 6), QDate(2099, 12, 31)})
        QCOMPARE(uGeneral::ParseShortDate(uGeneral::FormatShortDate(day)), day);
    PinLocaleAndClock();
}

void TestGeneral::shortDateRoundTrip() {
    QCOMPARE(uGeneral::FormatShortDate(QDate(2025, 2, 6)), QStringLiteral("2/6/2025"));
    QCOMPARE(uGeneral::ParseShortDate(QStringLiteral(" 2/6/2025 ")), QDate(2025, 2, 6));
    QCOMPARE(uGeneral::ParseShortDate(QStringLiteral("2/6/25")), QDate(2025, 2, 6));
    QVERIFY(!uGeneral::ParseShortDate(QStringLiteral("hello")).isValid());
    QVERIFY(!uGeneral::ParseShortDate(QString()).isValid());
    QCOMPARE(uGeneral::Today(), QDate(2025, 3, 12));
    // Date and time as lists show them: no time zone, since stored times have none.
    QCOMPARE(uGeneral::FormatDateTime(QDateTime(QDate(2025, 3, 12), QTime(14, 5, 9))),
             QStringLiteral("3/12/2025 2:05:09 PM"));
}

void TestGeneral::currentUserName() {
    QVERIFY(!uGeneral::CurrentUserName().isEmpty());
    const QString message = uGeneral::SystemErrorMessage(ENOENT);
    QVERIFY(message.startsWith(QStringLiteral("System Error.  Code: 2.\n")));
    QVERIFY(message.size() > QStringLiteral("System Error.  Code: 2.\n").size());
}

void TestGeneral::userNameWithoutDatabaseEntry_data() {
    QTest::addColumn<QString>("database"); // empty: no entry
    QTest::addColumn<QString>("user");     // "-": not set
    QTest::addColumn<QString>("logname");
    QTest::addColumn<QString>("expected"); // "!": the system error
    QTest::newRow("entry wins") << "ann"
                                << "bob"
                                << "cy"
                                << "ann";
    QTest::newRow("USER") << ""
                          << "bob"
                          << "cy"
                          << "bob";
    QTest::newRow("LOGNAME") << ""
                             << "-"
                             << "cy"
                             << "cy";
    QTest::newRow("empty USER") << ""
                                << ""
                                << "cy"
                                << "cy";
    QTest::newRow("nothing") << ""
                             << "-"
                             << "-"
                             << "!";
}

void TestGeneral::userNameWithoutDatabaseEntry() {
    QFETCH(QString, database);
    QFETCH(QString, user);
    QFETCH(QString, logname);
    QFETCH(QString, expected);
    const QByteArray savedUser = qgetenv("USER");
    const QByteArray savedLogname = qgetenv("LOGNAME");
    auto set = [](const char* variable, const QString& value) {
        if (value == u"-")
            qunsetenv(variable);
        else
            qputenv(variable, value.toLocal8Bit());
    };
    set("USER", user);
    set("LOGNAME", logname);
    const QByteArray entry = database.toLocal8Bit();
    QString name;
    const QString error = errorOf([&] {
        name = uGeneral::UserNameFrom(database.isEmpty() ? nullptr : entry.data(), ENOENT);
    });
    qputenv("USER", savedUser);
    qputenv("LOGNAME", savedLogname);
    if (expected == u"!")
        QCOMPARE(error, uGeneral::SystemErrorMessage(ENOENT));
    else
        QCOMPARE(name, expected);
}

void TestGeneral::trimBlanksAndControls() {
    QCOMPARE(uGeneral::TrimBlanksAndControls(QStringLiteral("\t  milk \r\n")),
             QStringLiteral("milk"));
    QCOMPARE(uGeneral::TrimBlanksAndControls(QStringLiteral(" \x01 ")), QString());
    QCOMPARE(uGeneral::TrimBlanksAndControls(QStringLiteral("a b")), QStringLiteral("a b"));
}

QTEST_GUILESS_MAIN(TestGeneral)
#include "tst_general.moc"
