#include "calendar/CalendarFile.h"
#include "core/TaskListFixture.h"
#include "document/ListMerge.h"
#include "document/TaskUndo.h"
#include "model/ListViews.h"
#include "model/Recurrence.h"
#include "model/TaskCommands.h"
#include "model/TaskHistory.h"
#include "model/TaskProperties.h"

#include <QRandomGenerator>

#include <cstring>

using namespace TaskRecord;

namespace {

QString Dates(const std::vector<QDate>& days) {
    QStringList texts;
    for (const QDate& day : days)
        texts << day.toString(Qt::ISODate);
    return texts.join(u' ');
}

// Text columns may hold line breaks written as "/".
QString Lines(QString text) {
    return text.replace(u'/', u'\n');
}

} // namespace

class TestRecurrence : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); } // today: Wednesday 2025-03-12

    void nextDue_data();
    void nextDue();
    void nextThreeDates();
    void describe_data();
    void describe();
    void properties_data();
    void properties();
    void mergeLines_data();
    void mergeLines();
    void commands_data();
    void commands();
    void undoTakesBothBack();
    void repeatColumnSortsAndFilters();
    void randomSeriesOnlyGrow();
    void seriesAsToDo_data();
    void seriesAsToDo();
    void occurrencesOfOtherClients_data();
    void occurrencesOfOtherClients();
    void doneElsewhere_data();
    void doneElsewhere();
};

void TestRecurrence::nextDue_data() {
    QTest::addColumn<QString>("rule");
    QTest::addColumn<bool>("fromCompletion");
    QTest::addColumn<QString>("due");
    QTest::addColumn<QString>("next"); // empty: the series ends

    const auto row = [](const char* name, const char* rule, bool from, const char* due,
                        const char* next) {
        QTest::newRow(name) << QString::fromLatin1(rule) << from << QString::fromLatin1(due)
                            << QString::fromLatin1(next);
    };
    row("daily", "FREQ=DAILY", false, "2025-03-12", "2025-03-13");
    row("weekly on Mon, Thu from a Wednesday", "FREQ=WEEKLY;BYDAY=MO,TH", false, "2025-03-12",
        "2025-03-13");
    row("weekly on Mon, Thu from a Thursday", "FREQ=WEEKLY;BYDAY=TH,MO", false, "2025-03-13",
        "2025-03-17");
    row("weekday after Friday", "FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR", false, "2025-03-14",
        "2025-03-17");
    row("monthly on the last Friday", "FREQ=MONTHLY;BYDAY=-1FR", false, "2025-03-28", "2025-04-25");
    row("day 31 skips short months", "FREQ=MONTHLY;BYMONTHDAY=31", false, "2025-01-31",
        "2025-03-31");
    row("yearly on 29 February", "FREQ=YEARLY", false, "2024-02-29", "2028-02-29");
    row("from due when overdue stays behind", "FREQ=WEEKLY", false, "2025-02-19", "2025-02-26");
    row("from completion when overdue", "FREQ=DAILY;INTERVAL=3", true, "2025-02-19", "2025-03-15");
    row("from completion without a due date", "FREQ=WEEKLY", true, "", "2025-03-19");
    row("from due without a due date", "FREQ=WEEKLY", false, "", "");
    row("by the hour: the next day", "FREQ=HOURLY;INTERVAL=5", false, "2025-03-12", "2025-03-13");
    row("COUNT=2 has one more", "FREQ=DAILY;COUNT=2", false, "2025-03-12", "2025-03-13");
    row("COUNT=1 was the last", "FREQ=DAILY;COUNT=1", false, "2025-03-12", "");
    row("UNTIL the next day", "FREQ=DAILY;UNTIL=20250313", false, "2025-03-12", "2025-03-13");
    row("UNTIL passed", "FREQ=DAILY;UNTIL=20250312", false, "2025-03-12", "");
    row("a rule libical refuses", "FREQ=SOMETIMES", false, "2025-03-12", "");
}

void TestRecurrence::nextDue() {
    QFETCH(QString, rule);
    QFETCH(bool, fromCompletion);
    QFETCH(QString, due);
    QFETCH(QString, next);
    const std::optional<QDate> got = Recurrence::NextDue(
        {rule, fromCompletion}, QDate::fromString(due, Qt::ISODate), uGeneral::Today());
    QCOMPARE(got ? got->toString(Qt::ISODate) : QString(), next);
}

void TestRecurrence::nextThreeDates() {
    // What the Repeat window shows as a rule is edited.
    const QDate due(2025, 3, 12);
    QCOMPARE(Dates(Recurrence::DatesAfter(QStringLiteral("FREQ=MONTHLY;BYDAY=-1FR;COUNT=2"), due,
                                          due.addDays(-1), 3)),
             QStringLiteral("2025-03-28 2025-04-25 2025-05-30")); // COUNT is the caller's
    QCOMPARE(
        Dates(Recurrence::DatesAfter(QStringLiteral("FREQ=DAILY;UNTIL=20250314"), due, due, 3)),
        QStringLiteral("2025-03-13 2025-03-14"));
    QCOMPARE(Dates(Recurrence::DatesAfter(QStringLiteral("FREQ=SECONDLY"), due, due, 2)),
             QStringLiteral("2025-03-13 2025-03-14"));
}

void TestRecurrence::describe_data() {
    QTest::addColumn<QString>("rule");
    QTest::addColumn<bool>("fromCompletion");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical"); // RuleOf(PatternOf(rule)); "-": no pattern

    const auto row = [](const char* rule, bool from, const char* text, const char* canonical) {
        QTest::newRow(rule) << QString::fromLatin1(rule) << from << QString::fromLatin1(text)
                            << QString::fromLatin1(canonical);
    };
    row("FREQ=DAILY", false, "Daily", "FREQ=DAILY");
    row("FREQ=DAILY;INTERVAL=3", true, "Every 3 days after done", "FREQ=DAILY;INTERVAL=3");
    row("FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR", false, "Every weekday",
        "FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR");
    row("FREQ=WEEKLY;BYDAY=TH,MO", false, "Every week on Mon, Thu", "FREQ=WEEKLY;BYDAY=MO,TH");
    row("FREQ=WEEKLY;INTERVAL=2", false, "Every 2 weeks", "FREQ=WEEKLY;INTERVAL=2");
    row("FREQ=MONTHLY;BYDAY=-1FR;COUNT=4", false, "Monthly on the last Friday, 4 left",
        "FREQ=MONTHLY;BYDAY=-1FR;COUNT=4");
    row("FREQ=MONTHLY;INTERVAL=3;BYMONTHDAY=-1", false, "Every 3 months on the last day",
        "FREQ=MONTHLY;INTERVAL=3;BYMONTHDAY=-1");
    row("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29;UNTIL=20301231", false,
        "Yearly on 29 February, until 12/31/2030",
        "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29;UNTIL=20301231");
    row("freq=monthly;wkst=mo", false, "Monthly", "FREQ=MONTHLY");
    row("FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1", false,
        "Custom: FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1", "-");
    row("FREQ=DAILY;BYHOUR=9,17", true, "Custom: FREQ=DAILY;BYHOUR=9,17 after done", "-");
    row("FREQ=WEEKLY;WKST=SU;INTERVAL=2;BYDAY=SU", false,
        "Custom: FREQ=WEEKLY;WKST=SU;INTERVAL=2;BYDAY=SU", "-");
    row("FREQ=MONTHLY;BYMONTHDAY=1,15", false, "Custom: FREQ=MONTHLY;BYMONTHDAY=1,15", "-");
    row("FREQ=OFTEN", false, "Invalid rule: FREQ=OFTEN", "-");
}

void TestRecurrence::describe() {
    QFETCH(QString, rule);
    QFETCH(bool, fromCompletion);
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    QCOMPARE(Recurrence::Describe({rule, fromCompletion}), text);
    const std::optional<Recurrence::Pattern> pattern = Recurrence::PatternOf(rule);
    QCOMPARE(pattern ? Recurrence::RuleOf(*pattern) : QStringLiteral("-"), canonical);
    if (pattern) // the window writes a rule it shows back as the same pattern
        QVERIFY(Recurrence::PatternOf(Recurrence::RuleOf(*pattern)) == pattern);
}

void TestRecurrence::properties_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value"); // "<none>": remove the line
    QTest::addColumn<QString>("after");
    AddTextRows({
        {"added to empty", "", "RRULE", "FREQ=DAILY", "RRULE=FREQ=DAILY"},
        {"added in the text's line breaks", "A=1\r\nB=2", "RRULE", "FREQ=DAILY",
         "A=1\r\nB=2\r\nRRULE=FREQ=DAILY"},
        {"replaced, name in any case", "a=1\nrrule = FREQ=DAILY\nb=2", "RRULE", "FREQ=WEEKLY",
         "a=1\nrrule = FREQ=WEEKLY\nb=2"},
        {"removed with its break", "A=1\nRRULE=FREQ=DAILY\nB=2", "RRULE", "<none>", "A=1\nB=2"},
        {"last removed with the break before", "A=1\nRRULE=x", "RRULE", "<none>", "A=1"},
        {"a line of text stays", "note without a name\nRRULE=x", "RRULE", "y",
         "note without a name\nRRULE=y"},
    });
}

void TestRecurrence::properties() {
    QFETCH(QString, before);
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, after);
    const std::optional<QString> given =
        value == u"<none>" ? std::nullopt : std::optional<QString>(value);
    QCOMPARE(TaskProperties::WithValue(before, name, given), after);
    QCOMPARE(TaskProperties::Value(after, name), given);
}

void TestRecurrence::mergeLines_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("mine");
    QTest::addColumn<QString>("theirs");
    QTest::addColumn<QString>("merged"); // "<conflict>"
    AddTextRows({
        {"different lines", "A=1/B=2", "A=9/B=2", "A=1/B=2/RRULE=FREQ=DAILY",
         "A=9/B=2/RRULE=FREQ=DAILY"},
        {"removed there, edited here elsewhere", "A=1/B=2", "A=1/B=3", "B=2", "B=3"},
        {"the same change", "A=1", "A=2", "A=2", "A=2"},
        {"both added one each", "", "X=1", "Y=2", "X=1/Y=2"},
        {"the rule changed differently", "RRULE=FREQ=DAILY", "RRULE=FREQ=WEEKLY",
         "RRULE=FREQ=MONTHLY", "<conflict>"},
        {"edited here, removed there", "RRULE=FREQ=DAILY", "RRULE=FREQ=WEEKLY", "", "<conflict>"},
        {"a name twice", "A=1", "A=1/A=2", "A=3", "<conflict>"},
    });
}

void TestRecurrence::mergeLines() {
    QFETCH(QString, base);
    QFETCH(QString, mine);
    QFETCH(QString, theirs);
    QFETCH(QString, merged);
    const std::optional<QString> got =
        TaskProperties::Merge(Lines(base), Lines(mine), Lines(theirs));
    QCOMPARE(got ? *got : QStringLiteral("<conflict>"), Lines(merged));
    // The field rule of a list merge uses it for Properties alone.
    TaskListFixture list;
    for (const QString& text : {base, mine, theirs})
        list.add(QStringLiteral("Task=t|Properties=") + Lines(text));
    const auto row = [&](int i) -> const RowData& { return list.table.rowDataAt(i); };
    const int field = ListMerge::PropertiesField(list.table.fields());
    const auto conflicts = [&](int properties) {
        const std::vector<int> fields =
            ListMerge::MergeTask(row(0), row(1), row(2), -1, properties).conflicts;
        return std::count(fields.begin(), fields.end(), field);
    };
    QCOMPARE(conflicts(field), got ? 0 : 1);
    QCOMPARE(conflicts(-1), base != mine && base != theirs && mine != theirs ? 1 : 0);
}

void TestRecurrence::commands_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("done");  // the done version's changes ("": no done version)
    QTest::addColumn<QString>("after"); // the task's changes afterwards
    const char* moved = "Status=Not Started|Progress=0|CompletedDate=<null>|LastActioned=today|";
    const QString weekly = QStringLiteral(
        "Task=water|Status=In progress|Progress=40|DueDate=2025-03-10|StartDate=2025-03-08|"
        "CompletedDate=2025-03-03|Properties=A=1/RRULE=FREQ=WEEKLY;COUNT=3/B=2");
    const auto row = [&](const char* name, const QString& before, const char* command,
                         const char* done, const QString& after) {
        QTest::newRow(name) << before << QString::fromLatin1(command) << QString::fromLatin1(done)
                            << after;
    };
    const char* completed = "Status=Complete|Progress=100|CompletedDate=today|LastActioned=today";
    row("complete moves on, StartDate along, COUNT down", weekly, "complete", completed,
        moved + QStringLiteral("DueDate=2025-03-17|StartDate=2025-03-15|"
                               "Properties=A=1/RRULE=FREQ=WEEKLY;COUNT=2/B=2"));
    row("skip moves on without a done version", weekly, "skip", "",
        moved + QStringLiteral("DueDate=2025-03-17|StartDate=2025-03-15|"
                               "Properties=A=1/RRULE=FREQ=WEEKLY;COUNT=2/B=2"));
    row("the last one stays complete",
        QStringLiteral("Task=t|DueDate=2025-03-10|Properties=RRULE=FREQ=WEEKLY;COUNT=1"),
        "complete", "", QString::fromLatin1(completed));
    row("past UNTIL stays complete",
        QStringLiteral("Task=t|DueDate=2025-03-10|Properties=RRULE=FREQ=WEEKLY;UNTIL=20250316"),
        "complete", "", QString::fromLatin1(completed));
    row("from completion when overdue",
        QStringLiteral("Task=t|DueDate=2025-02-01|Properties=RRULE=FREQ=DAILY;INTERVAL=3/"
                       "REPEAT-FROM=COMPLETION"),
        "complete", completed, moved + QStringLiteral("DueDate=2025-03-15"));
    row("without a due date from due: a one-off",
        QStringLiteral("Task=t|Properties=RRULE=FREQ=DAILY"), "complete", "",
        QString::fromLatin1(completed));
    row("cancel ends the series", weekly, "cancel", "",
        QStringLiteral("Status=Cancelled|Priority=Low|LastActioned=today"));
    row("a task that does not repeat", QStringLiteral("Task=t|DueDate=2025-03-10"), "complete", "",
        QString::fromLatin1(completed));
}

void TestRecurrence::commands() {
    QFETCH(QString, before);
    QFETCH(QString, command);
    QFETCH(QString, done);
    QFETCH(QString, after);
    TaskListFixture list;
    list.add(Lines(before));
    list.add(QStringLiteral("Task=other"));
    list.table.first();
    // A filter the done occurrence fails: the task still moves on, by identity.
    list.table.setFilter(QStringLiteral("Status <> 'Complete'"));
    list.table.setFiltered(command != u"complete" || !done.isEmpty());
    const QMap<QString, QString> original = list.current();
    const std::size_t versions = list.table.versionCount();
    const auto mark = list.markUnsaved();
    TaskCommands::Occurrence result;
    if (command == u"complete")
        result = TaskCommands::CompleteTask(list.table, mark);
    else if (command == u"skip")
        result = TaskCommands::SkipOccurrence(list.table, mark);
    else
        TaskCommands::CancelTask(list.table, mark);
    QCOMPARE(list.commandMarks, 1);

    const DataTable::RowId row = list.table.currentRow();
    QCOMPARE(list.table.asString(Task), original.value(Task));
    QMap<QString, QString> expected = original;
    const QMap<QString, QString> changed = list.parse(Lines(after));
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        expected[it.key()] = it.value();
    QCOMPARE(list.current(), expected);
    QCOMPARE(result.next.has_value(), !done.isEmpty() || command == u"skip");
    QCOMPARE(list.table.versionCount(), versions + (done.isEmpty() ? 1 : 2));

    const std::vector<TaskHistory::Version> history = TaskHistory::versionsOfRow(list.table, row);
    const std::vector<TaskHistory::Done> doneTimes =
        TaskHistory::doneOccurrences(list.table, history);
    if (!done.isEmpty()) {
        // The version before the current one is the occurrence done today, as it was due.
        QMap<QString, QString> doneValues = original;
        const QMap<QString, QString> doneChanges = list.parse(done);
        for (auto it = doneChanges.cbegin(); it != doneChanges.cend(); ++it)
            doneValues[it.key()] = it.value();
        QMap<QString, QString> stored;
        for (int f = 0; f < int(list.table.fields().size()); ++f)
            stored.insert(list.table.fields()[std::size_t(f)].name,
                          list.table.textOf(list.table.versionData(history[1].version), f));
        QCOMPARE(stored, doneValues);
        QCOMPARE(doneTimes.size(), std::size_t(1));
        QCOMPARE(doneTimes.front().completed, uGeneral::Today());
        QCOMPARE(uGeneral::FormatShortDate(doneTimes.front().due), original.value(DueDate));
    }
}

void TestRecurrence::undoTakesBothBack() {
    TaskListFixture list;
    TaskUndo undo(&list.table);
    list.add(QStringLiteral("Task=t|DueDate=2025-03-10|Properties=RRULE=FREQ=WEEKLY"));
    const QMap<QString, QString> before = list.current();
    const std::size_t versions = list.table.versionCount();
    {
        const TaskUndo::Step step(undo, QStringLiteral("Complete"));
        TaskCommands::CompleteTask(list.table, list.markUnsaved());
    }
    QCOMPARE(list.table.asString(DueDate), QStringLiteral("3/17/2025"));
    undo.undo();
    QCOMPARE(list.current(), before);
    // Taking back is two more changes: the history only grows.
    QCOMPARE(list.table.versionCount(), versions + 4);
    undo.redo();
    QCOMPARE(list.table.asString(DueDate), QStringLiteral("3/17/2025"));
    QCOMPARE(TaskHistory::doneOccurrences(
                 list.table, TaskHistory::versionsOfRow(list.table, list.table.currentRow()))
                 .size(),
             std::size_t(1)); // done, taken back, done again: done once
}

void TestRecurrence::repeatColumnSortsAndFilters() {
    TaskListFixture list;
    list.add(QStringLiteral("Task=monthly|Properties=RRULE=FREQ=MONTHLY"));
    list.add(QStringLiteral("Task=plain"));
    list.add(
        QStringLiteral("Task=weekdays|Properties=X=1\nrrule=FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR"));
    list.add(QStringLiteral("Task=daily|Properties=RRULE=FREQ=DAILY"));
    QStringList shown;
    const int repeat = list.table.derivedIndex(TaskTable::Repeat);
    for (int i = 0; i < list.table.visibleRowCount(); ++i)
        shown << list.table.derivedTextOf(list.table.rowDataAt(i), repeat);
    QCOMPARE(shown.join(u'|'), QStringLiteral("Monthly||Every weekday|Daily"));
    QCOMPARE(ListViews::ApplyColumnOrder(list.table, TaskTable::Repeat), ListViews::OrderRepeat);
    QCOMPARE(list.visible().join(u' '), QStringLiteral("plain daily weekdays monthly"));
    ListViews::ApplyPreset(list.table, ListViews::ShowRepeating);
    QCOMPARE(list.visible().join(u' '), QStringLiteral("daily weekdays monthly"));
    list.table.setFilter(QStringLiteral("Repeat LIKE '%week%'"));
    QCOMPARE(list.visible().join(u' '), QStringLiteral("weekdays"));
    QCOMPARE(TaskCommands::CopyText(list.table, TaskTable::Repeat),
             QStringLiteral("Every weekday"));
}

// Random commands on repeating tasks, with undo and redo between them: the list's history only
// grows, a due date only moves forward by Complete and Skip, and a COUNT only counts down.
void TestRecurrence::randomSeriesOnlyGrow() {
    QRandomGenerator random(30);
    const QStringList rules{
        QStringLiteral("FREQ=DAILY"),
        QStringLiteral("FREQ=WEEKLY;BYDAY=MO,TH;COUNT=5"),
        QStringLiteral("FREQ=MONTHLY;BYDAY=-1FR"),
        QStringLiteral("FREQ=YEARLY;UNTIL=20300101"),
        QStringLiteral("FREQ=DAILY;INTERVAL=3/REPEAT-FROM=COMPLETION"),
    };
    TaskListFixture list;
    TaskUndo undo(&list.table);
    for (int i = 0; i < rules.size(); ++i)
        list.add(QStringLiteral("Task=t%1|DueDate=2024-02-29|Properties=RRULE=%2")
                     .arg(i)
                     .arg(Lines(rules[i])));
    for (int step = 0; step < 400; ++step) {
        list.table.moveToPosition(int(random.bounded(list.table.recordCount())));
        const QDate due = list.table.asDate(DueDate);
        const std::optional<int> count =
            Recurrence::CountOf(Recurrence::SeriesOf(list.table.asString(Properties))->rule);
        const std::size_t versions = list.table.versionCount();
        const std::size_t log = list.table.changeLog().size();
        const int what = int(random.bounded(5));
        TaskCommands::Occurrence moved;
        {
            const TaskUndo::Step undoStep(undo);
            if (what == 0)
                moved = TaskCommands::CompleteTask(list.table, {});
            else if (what == 1)
                errorOf([&] { moved = TaskCommands::SkipOccurrence(list.table, {}); });
            else if (what == 2)
                TaskCommands::StartTask(list.table, {});
        }
        if (what == 3 && undo.canUndo())
            undo.undo();
        if (what == 4 && undo.canRedo())
            undo.redo();
        QVERIFY(list.table.versionCount() >= versions);
        QCOMPARE(list.table.changeLog().size() - log, 3 * (list.table.versionCount() - versions));
        if (moved.next) {
            const QDate now = list.table.asDate(DueDate);
            QCOMPARE(now, *moved.next);
            QVERIFY(now > due || now > uGeneral::Today());
            const std::optional<int> left =
                Recurrence::CountOf(Recurrence::SeriesOf(list.table.asString(Properties))->rule);
            QCOMPARE(left.has_value(), count.has_value());
            if (count)
                QCOMPARE(*left, *count - 1);
        }
    }
}

namespace {

// A calendar object of one to-do (and its occurrences), lines joined by "/".
QByteArray Object(const QString& lines) {
    QString text = QStringLiteral("BEGIN:VCALENDAR/VERSION:2.0/PRODID:-//Other//EN/") + lines +
                   QStringLiteral("/END:VCALENDAR/");
    return text.replace(u'/', QStringLiteral("\r\n")).toUtf8();
}

QString PropertiesOf(const TaskListFixture& list, const CalendarFile::Todo& todo) {
    const int field = list.table.fieldIndex(Properties);
    for (const VTodoMapping::FieldValue& value : todo.values)
        if (value.field == field)
            return QString::fromUtf8(value.value.bytes().data(),
                                     qsizetype(value.value.bytes().size()));
    return QString();
}

QString DueOf(const TaskListFixture& list, const CalendarFile::Todo& todo) {
    const int field = list.table.fieldIndex(DueDate);
    for (const VTodoMapping::FieldValue& value : todo.values)
        if (value.field == field) {
            std::int32_t day = 0;
            std::memcpy(&day, value.value.bytes().data(), sizeof day);
            return QDate::fromJulianDay(day).toString(Qt::ISODate);
        }
    return QString();
}

} // namespace

// A task's series written over a to-do, and the to-do as another client may have changed it read
// back: the rule travels as RRULE, its spelling kept while it is the same rule.
void TestRecurrence::seriesAsToDo_data() {
    QTest::addColumn<QString>("properties"); // the task's
    QTest::addColumn<QString>("written");    // lines the to-do must hold, "|"-separated
    QTest::addColumn<QString>("changed");    // "old line>new line" made there; empty: none
    QTest::addColumn<QString>("readBack");   // the Properties read back, UID line left out
    AddTextRows({
        {"weekly, from completion", "A=1/RRULE=FREQ=WEEKLY;BYDAY=TH,MO/REPEAT-FROM=COMPLETION",
         "RRULE:FREQ=WEEKLY;BYDAY=MO,TH|X-CORVANTIS-REPEAT-FROM:COMPLETION", "",
         "A=1/RRULE=FREQ=WEEKLY;BYDAY=TH,MO/REPEAT-FROM=COMPLETION"},
        {"spelling kept while the same rule", "RRULE=freq=daily;interval=2", "RRULE:FREQ=DAILY", "",
         "RRULE=freq=daily;interval=2"},
        {"COUNT counted down there", "RRULE=FREQ=DAILY;COUNT=3", "RRULE:FREQ=DAILY;COUNT=3",
         "RRULE:FREQ=DAILY;COUNT=3>RRULE:FREQ=DAILY;COUNT=2", "RRULE=FREQ=DAILY;COUNT=2"},
        {"rule removed there", "RRULE=FREQ=DAILY/B=2", "RRULE:FREQ=DAILY",
         "RRULE:FREQ=DAILY>X-OTHER:1", "B=2"},
        {"a rule libical cannot read stays in Properties only", "RRULE=FREQ=SOMETIMES", "", "",
         "RRULE=FREQ=SOMETIMES"},
    });
}

void TestRecurrence::seriesAsToDo() {
    QFETCH(QString, properties);
    QFETCH(QString, written);
    QFETCH(QString, changed);
    QFETCH(QString, readBack);
    TaskListFixture list;
    list.add(QStringLiteral("Task=t|DueDate=2025-03-10|Properties=") + Lines(properties) +
             QStringLiteral("\nX-Corvantis-UID=series-1"));
    const auto row = [&] { return list.table.rowData(list.table.currentRow()).clone(); };
    QByteArray object =
        CalendarFile::WithTask({}, list.table.fields(), row(), QString(), QString());
    const QString text = QString::fromUtf8(object).remove(QStringLiteral("\r\n "));
    for (const QString& line : written.split(u'|', Qt::SkipEmptyParts))
        QVERIFY2(text.contains(line), qPrintable(text));
    if (written.isEmpty())
        QVERIFY(!text.contains(QLatin1String("\r\nRRULE")));
    QVERIFY(
        CalendarFile::WithTask(object, list.table.fields(), row(), QString(), QString()).isEmpty());
    if (!changed.isEmpty())
        object.replace(changed.section(u'>', 0, 0).toUtf8(), changed.section(u'>', 1).toUtf8());
    const std::optional<CalendarFile::Todo> todo =
        CalendarFile::ReadObject(object, list.table.fields());
    QVERIFY(todo);
    // A memo reads with the list's own line breaks.
    QCOMPARE(PropertiesOf(list, *todo).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
             Lines(readBack) + QStringLiteral("\nX-Corvantis-UID=series-1"));
}

// Occurrences other clients add to a series' object when they complete one: the series reads as
// moved on (to the open occurrence that carries it on, or else by its rule past the one done),
// the occurrences are no tasks, and once the task here moves past them its next write leaves
// them behind. Occurrences left behind a rule taken away move nothing.
void TestRecurrence::occurrencesOfOtherClients_data() {
    QTest::addColumn<QString>("master");      // DTSTART and DUE day of the series' to-do
    QTest::addColumn<QString>("occurrences"); // "day STATUS [THISANDFUTURE]", ","-separated
    QTest::addColumn<QString>("due");         // the series read, as a date
    QTest::addColumn<QString>("rule");
    const char* weekly = "RRULE:FREQ=WEEKLY;BYDAY=MO";
    AddTextRows({
        {"done and carried on", "20250310",
         "20250310 COMPLETED,20250317 NEEDS-ACTION THISANDFUTURE", "2025-03-17", weekly},
        {"only the one done", "20250310", "20250310 COMPLETED", "2025-03-17", weekly},
        {"carried on to a day before the one done", "20250324",
         "20250324 COMPLETED,20250317 NEEDS-ACTION THISANDFUTURE", "2025-03-31", weekly},
        {"an occurrence done before the series stands", "20250310", "20250303 COMPLETED",
         "2025-03-10", weekly},
        {"the rule taken away", "20250310", "20250317 NEEDS-ACTION THISANDFUTURE", "2025-03-10",
         "X-RULE:none"},
    });
}

void TestRecurrence::occurrencesOfOtherClients() {
    QFETCH(QString, master);
    QFETCH(QString, occurrences);
    QFETCH(QString, due);
    QFETCH(QString, rule);
    const auto todo = [](const QString& day, const QString& extra) {
        return QStringLiteral("BEGIN:VTODO/UID:s/SUMMARY:water/DTSTART:%1T090000/DUE:%1T170000/%2/"
                              "END:VTODO/")
            .arg(day, extra);
    };
    QString lines = todo(master, rule);
    for (const QString& occurrence : occurrences.split(u',')) {
        const QStringList words = occurrence.split(u' ');
        lines += todo(words[0],
                      QStringLiteral("RECURRENCE-ID%1:%2T090000/STATUS:%3")
                          .arg(words.size() > 2 ? QStringLiteral(";RANGE=") + words[2] : QString(),
                               words[0], words[1]));
    }
    const QByteArray object = Object(lines.chopped(1));
    TaskListFixture list;
    QCOMPARE(CalendarFile::Read(object, list.table.fields()).size(), std::size_t(1));
    const std::optional<CalendarFile::Todo> read =
        CalendarFile::ReadObject(object, list.table.fields());
    QVERIFY(read);
    QCOMPARE(DueOf(list, *read), due);

    list.add(QStringLiteral("Task=water|DueDate=2025-04-07|StartDate=2025-04-07|"
                            "Properties=RRULE=FREQ=WEEKLY;BYDAY=MO\nX-Corvantis-UID=s"));
    const QByteArray written =
        CalendarFile::WithTask(object, list.table.fields(),
                               list.table.rowData(list.table.currentRow()), QString(), QString());
    QCOMPARE(written.count("RECURRENCE-ID"), 0);
    QCOMPARE(written.count("BEGIN:VTODO"), 1);
}

void TestRecurrence::doneElsewhere_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("done");
    const auto row = [](const char* name, const char* before, const char* after, bool done) {
        QTest::newRow(name) << QString::fromLatin1(before) << QString::fromLatin1(after) << done;
    };
    const char* weekly =
        "Task=w|Status=In progress|DueDate=2025-03-10|Properties=RRULE=FREQ=WEEKLY";
    row("moved to the next occurrence", weekly, "DueDate=2025-03-17|Status=Not Started", true);
    row("moved past two occurrences", weekly, "DueDate=2025-03-24", true);
    row("moved by hand to another day", weekly, "DueDate=2025-03-19", false);
    row("moved back", weekly, "DueDate=2025-03-03", false);
    row("completed there as a one-off", weekly, "DueDate=2025-03-17|Status=Complete", false);
    row("from completion: any later day",
        "Task=w|DueDate=2025-03-10|Properties=RRULE=FREQ=WEEKLY\nREPEAT-FROM=COMPLETION",
        "DueDate=2025-03-19", true);
    row("not repeating", "Task=w|DueDate=2025-03-10", "DueDate=2025-03-17", false);
}

void TestRecurrence::doneElsewhere() {
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(bool, done);
    TaskListFixture list;
    list.add(before);
    const RowData was = list.table.rowData(list.table.currentRow()).clone();
    list.table.edit();
    list.write(after);
    const RowData now = list.table.currentData().clone();
    list.table.cancel();
    const std::optional<RowData> occurrence = TaskCommands::DoneElsewhere(list.table, was, now);
    QCOMPARE(occurrence.has_value(), done);
    if (occurrence) {
        const auto text = [&](const QString& field) {
            return list.table.textOf(*occurrence, list.table.fieldIndex(field));
        };
        QCOMPARE(text(Status) + u'|' + text(Progress) + u'|' + text(DueDate) + u'|' +
                     text(CompletedDate),
                 QStringLiteral("Complete|100|3/10/2025|3/12/2025"));
    }
}

QTEST_GUILESS_MAIN(TestRecurrence)
#include "tst_recurrence.moc"
