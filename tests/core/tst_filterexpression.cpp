#include "base/CorvantisError.h"
#include "model/DataTable.h"
#include "model/FilterExpression.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace TaskRecord;

class TestFilterExpression : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }
    void like_data();
    void like();
    void expressions_data();
    void expressions();
    void refused_data();
    void refused();
};

void TestFilterExpression::like_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("matches");
    QTest::newRow("contains") << "buy milk"
                              << "%milk%" << true;
    QTest::newRow("case counts") << "Buy Milk"
                                 << "%milk%" << false;
    QTest::newRow("whole text") << "buy milk"
                                << "milk" << false;
    QTest::newRow("prefix") << "buy milk"
                            << "buy%" << true;
    QTest::newRow("underscore one char") << "cat"
                                         << "c_t" << true;
    QTest::newRow("underscore not zero chars") << "ct"
                                               << "c_t" << false;
    QTest::newRow("underscore one non-ASCII char") << "cät"
                                                   << "c_t" << true;
    QTest::newRow("underscore one astral char")
        << QString::fromUtf8("c\xF0\x9F\x98\x80t") << "c_t" << true;
    QTest::newRow("two percents are one") << "abc"
                                          << "%abc%%" << true;
    QTest::newRow("percent alone, any text") << "x"
                                             << "%" << true;
    QTest::newRow("percent alone, empty text") << ""
                                               << "%" << true;
    QTest::newRow("escaped percent literal") << "50% off"
                                             << "50\\% off" << true;
    QTest::newRow("escaped percent not wildcard") << "50x off"
                                                  << "50\\% off" << false;
    QTest::newRow("escaped underscore") << "a_b"
                                        << "a\\_b" << true;
    QTest::newRow("escaped underscore not wildcard") << "axb"
                                                     << "a\\_b" << false;
    QTest::newRow("backtracking") << "abcabcabd"
                                  << "%abc%abd" << true;
    QTest::newRow("backtracking fails") << "abcabcab"
                                        << "%abc%abd" << false;
    QTest::newRow("middle wildcard") << "a long day"
                                     << "a%day" << true;
}

void TestFilterExpression::like() {
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QFETCH(bool, matches);
    const QByteArray t = text.toUtf8();
    const QByteArray p = pattern.toUtf8();
    QCOMPARE(FilterExpression::like(std::string_view(t.constData(), std::size_t(t.size())),
                                    std::string_view(p.constData(), std::size_t(p.size()))),
             matches);
}

void TestFilterExpression::expressions_data() {
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QStringList>("shown");
    // Tasks of the body: A Complete High due 3/11; B Cancelled High; C "complete" Urgent;
    // D In progress (no priority), bookmarked, due 3/12; E with empty Task text, Not Started;
    // F with no Task at all.
    QTest::newRow("equal, case counts") << "Status = 'Complete' " << QStringList{"A"};
    QTest::newRow("not equal includes other case")
        << "Status <> 'Complete' " << QStringList{"B", "C", "D", "", ""};
    QTest::newRow("and with empty side")
        << "Priority = 'High' and Status <> 'Complete' " << QStringList{"B"};
    QTest::newRow("AND in capitals")
        << "Priority = 'High' AND Status <> 'Complete'" << QStringList{"B"};
    QTest::newRow("empty field never shown") << "Priority <> 'High'" << QStringList{"C"};
    QTest::newRow("date before") << "DueDate < '3/12/2025' " << QStringList{"A"};
    QTest::newRow("date equal") << "DueDate = '3/12/2025' " << QStringList{"D"};
    QTest::newRow("boolean true") << "Bookmarked =True " << QStringList{"D"};
    QTest::newRow("boolean word in any case") << "bookmarked = TRUE" << QStringList{"D"};
    QTest::newRow("search with one wildcard skips empty text")
        << "Task LIKE '%'" << QStringList{"A", "B", "C", "D"};
    QTest::newRow("LIKE word in any case") << "Task like 'A%'" << QStringList{"A"};
    QTest::newRow("doubled quote") << "Comments = 'it''s'" << QStringList{"A"};
    QTest::newRow("integer value") << "Progress = 40" << QStringList{"D"};
    QTest::newRow("quoted integer") << "Progress < '40'" << QStringList{"A", "B", "C", "", ""};
    QTest::newRow("blanks are free") << "  Task='B'and   Status='Cancelled'   " << QStringList{"B"};
    QTest::newRow("field names ignore case") << "status = 'Cancelled'" << QStringList{"B"};
}

void TestFilterExpression::expressions() {
    QFETCH(QString, expression);
    QFETCH(QStringList, shown);
    DataTable table;
    TaskTable::CreateEmpty(table);
    auto add = [&](const char* task, const char* status, const char* priority, int dueDay,
                   bool bookmarked, int progress) {
        table.append();
        if (task)
            table.setString(Task, QString::fromLatin1(task));
        table.setString(Status, QString::fromLatin1(status));
        if (priority)
            table.setString(Priority, QString::fromLatin1(priority));
        if (dueDay)
            table.setDate(DueDate, QDate(2025, 3, dueDay));
        table.setBoolean(Bookmarked, bookmarked);
        table.setInteger(Progress, progress);
        table.post();
    };
    add("A", "Complete", "High", 11, false, 0);
    table.edit();
    table.setString(Comments, QStringLiteral("it's"));
    table.post();
    add("B", "Cancelled", "High", 0, false, 10);
    add("C", "complete", "Urgent", 0, false, 20);
    add("D", "In progress", nullptr, 12, true, 40);
    add("", "Not Started", nullptr, 0, false, 0);
    add(nullptr, "Not Started", nullptr, 0, false, 0);

    table.setFilter(expression);
    table.setFiltered(true);
    QStringList names;
    const int task = table.fieldIndex(Task);
    for (int i = 0; i < table.visibleRowCount(); ++i)
        names << table.textOf(table.rowDataAt(i), task);
    QCOMPARE(names, shown);
}

void TestFilterExpression::refused_data() {
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("message");
    QTest::newRow("unquoted apostrophe in search")
        << "Task LIKE '%it's%'"
        << "cdsTasks: Invalid filter expression at position 16: 'and' expected";
    QTest::newRow("unterminated") << "Task = 'abc"
                                  << "cdsTasks: Invalid filter expression at position 12: "
                                     "unterminated quoted text";
    QTest::newRow("no operator") << "Task 'a'"
                                 << "cdsTasks: Invalid filter expression at position 6: "
                                    "operator expected";
    QTest::newRow("no value") << "Task = "
                              << "cdsTasks: Invalid filter expression at position 8: "
                                 "value expected";
    QTest::newRow("unknown field") << "Taks = 'a'"
                                   << "cdsTasks: Field 'Taks' not found";
    QTest::newRow("bad date") << "DueDate < '2025-13-01'"
                              << "'2025-13-01' is not a valid date";
    QTest::newRow("bad number") << "Progress = 'lots'"
                                << "'lots' is not a valid integer value for field 'Progress'";
    QTest::newRow("LIKE on a number") << "Progress LIKE '1%'"
                                      << "cdsTasks: Invalid filter expression at position 19: "
                                         "LIKE needs a text field";
}

void TestFilterExpression::refused() {
    QFETCH(QString, expression);
    QFETCH(QString, message);
    QString actual;
    try {
        FilterExpression::compile(expression, TaskRecord::Fields(), TaskTable::Name);
    } catch (const CorvantisError& e) {
        actual = e.message();
    }
    QCOMPARE(actual, message);
}

QTEST_GUILESS_MAIN(TestFilterExpression)
#include "tst_filterexpression.moc"
