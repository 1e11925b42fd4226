#include "base/LoginName.h"
#include "calendar/CalendarFile.h"
#include "calendar/VTodoMapping.h"
#include "core/TaskListFixture.h"
#include "model/OutlineCommands.h"
#include "storage/DataPacket.h"
#include "storage/Import.h"
#include "support/FileBytes.h"
#include "support/TestSupport.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>

#include <libical/ical.h>

#include <cstdlib>
#include <ctime>

using namespace TaskRecord;

namespace {

// An iCalendar text from lines written with "\n"; lineBreak as the file has them.
QByteArray Text(const QString& lines, const char* lineBreak = "\r\n") {
    QByteArray bytes = lines.toUtf8();
    bytes.replace("\n", lineBreak);
    return bytes + lineBreak;
}

QByteArray Calendar(const QString& todoLines) {
    return Text(QStringLiteral("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Tests//EN\nBEGIN:VTODO\n") +
                todoLines + QStringLiteral("\nEND:VTODO\nEND:VCALENDAR"));
}

// The content lines of a text, unfolded.
QStringList Lines(QByteArray bytes) {
    bytes.replace("\r\n ", "").replace("\r\n", "\n");
    return QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts);
}

QString NameOf(const QString& line) {
    qsizetype end = 0;
    while (end < line.size() && line[end] != u':' && line[end] != u';')
        ++end;
    return line.left(end);
}

// Imports bytes as a file into the list; the message of a failure, empty when it went through.
QString ImportBytes(TaskListFixture& list, const QByteArray& bytes) {
    QTemporaryDir dir;
    // Not named .ics: an iCalendar file is told by its content.
    const QString file = dir.filePath(QStringLiteral("tasks.dat"));
    if (!WriteFileBytes(file, bytes))
        return QStringLiteral("cannot write");
    return errorOf([&] { Import::ImportTasks(list.table, file); });
}

// The fields named in "Field=value|..." (fixture form) of the current task, as the list reads.
void CompareFields(const TaskListFixture& list, const QString& expected) {
    const QMap<QString, QString> wanted = list.parse(expected);
    const QMap<QString, QString> current = list.current();
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
        QCOMPARE(current.value(it.key()), it.value());
}

// The list's tasks in order, each "task<its parent's task" ("task<" at the top).
QStringList Outline(TaskListFixture& list) {
    QHash<std::int64_t, QString> taskOfId;
    for (int i = 0; i < list.table.recordCount(); ++i) {
        list.table.moveToPosition(i);
        taskOfId.insert(list.table.asInteger(ID), list.table.asString(Task));
    }
    QStringList outline;
    for (int i = 0; i < list.table.recordCount(); ++i) {
        list.table.moveToPosition(i);
        outline << list.table.asString(Task) + u'<' +
                       taskOfId.value(list.table.asInteger(ParentID));
    }
    return outline;
}

} // namespace

class TestCalendar : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyFieldAndWordBothWays_data();
    void everyFieldAndWordBothWays();
    void readsWhatOtherClientsWrite_data();
    void readsWhatOtherClientsWrite();
    void updateKeepsWhatItDoesNotMap_data();
    void updateKeepsWhatItDoesNotMap();
    void outlineWrittenAndReadBack();
    void parentsOtherClientsName_data();
    void parentsOtherClientsName();
    void importsFilesOfOtherClients_data();
    void importsFilesOfOtherClients();
    void refusesHostileText_data();
    void refusesHostileText();
    void uidLineInProperties_data();
    void uidLineInProperties();
    void uidsStableAndUnique();
    void randomTasksKeepTheirForm();
    void stoppedImportChangesNothing_data();
    void stoppedImportChangesNothing();
    void corpusFiles();
};

void TestCalendar::initTestCase() {
    PinLocaleAndClock();
    uGeneral::SetCurrentUserNameForTesting([] { return QStringLiteral("kim"); });
    // Fourteen hours east of UTC: a day's local noon is the day before in UTC, so a wrong
    // conversion of the UTC times shows.
    qputenv("TZ", "<+14>-14");
    tzset();
}

void TestCalendar::everyFieldAndWordBothWays_data() {
    QTest::addColumn<QString>("values"); // of the exported task, fixture form
    QTest::addColumn<QString>("line");   // in the exported to-do; "!NAME": no such property
    QTest::addColumn<QString>("back");   // what the imported task holds; empty: the values
    AddTextRows({
        {"summary", "Task=Buy milk, eggs; bread", "SUMMARY:Buy milk\\, eggs\\; bread", ""},
        {"summary beyond ASCII", "Task=Füße ✓ 日本", "SUMMARY:Füße ✓ 日本", ""},
        {"description", "Details=one\nsecond\\line", "DESCRIPTION:one\\nsecond\\\\line",
         "Details=one\r\nsecond\\line"},
        {"description CR LF", "Details=a\r\nb", "DESCRIPTION:a\\nb", ""},
        {"blanks at both ends", "Task= bread release \t", "SUMMARY: bread release \t", ""},
        {"a tab first", "Details=\tindented", "DESCRIPTION:\tindented", ""},
        {"comment", "Comments=call back", "COMMENT:call back", ""},
        {"category with a comma", "Category=Home, Garden", "CATEGORIES:Home\\, Garden", ""},
        {"category escapes", "Category=a;b\\c", "CATEGORIES:a\\;b\\\\c", ""},
        {"progress", "Progress=40", "PERCENT-COMPLETE:40", ""},
        {"due date", "DueDate=2024-03-05", "DUE;VALUE=DATE:20240305", ""},
        {"start date", "StartDate=2024-03-01", "DTSTART;VALUE=DATE:20240301", ""},
        {"created", "CreatedDate=2024-02-01", "CREATED:20240131T220000Z", ""},
        {"last actioned", "LastActioned=2024-02-02", "LAST-MODIFIED:20240201T220000Z", ""},
        {"completed", "CompletedDate=2024-02-03", "COMPLETED:20240202T220000Z", ""},
        {"not started", "Status=Not Started", "STATUS:NEEDS-ACTION", ""},
        {"in progress", "Status=In progress", "STATUS:IN-PROCESS", ""},
        {"paused", "Status=Paused", "X-CORVANTIS-STATUS:Paused", ""},
        {"paused is in process", "Status=Paused", "STATUS:IN-PROCESS", ""},
        {"complete", "Status=Complete", "STATUS:COMPLETED", ""},
        {"cancelled", "Status=Cancelled", "STATUS:CANCELLED", ""},
        {"status of no vocabulary", "Status=in progress", "X-CORVANTIS-STATUS:in progress", ""},
        {"status of no vocabulary, no STATUS", "Status=in progress", "!STATUS", ""},
        {"no status", "Status=<null>", "!STATUS", "Status=Not Started"},
        {"high", "Priority=High", "PRIORITY:1", ""},
        {"normal", "Priority=Normal", "PRIORITY:5", ""},
        {"low", "Priority=Low", "PRIORITY:9", ""},
        {"urgent", "Priority=Urgent", "X-CORVANTIS-PRIORITY:Urgent", ""},
        {"urgent is first", "Priority=Urgent", "PRIORITY:1", ""},
        {"no priority", "Priority=<null>", "!PRIORITY", ""},
        {"difficulty", "Difficulty=Moderate", "X-CORVANTIS-DIFFICULTY:Moderate", ""},
        {"time", "Time=90", "X-CORVANTIS-TIME:90", ""},
        {"parent not in the list", "ParentID=7", "!RELATED-TO", "ParentID=<null>"},
        {"parent ID is the list's own", "ParentID=7", "!X-CORVANTIS-PARENT-ID", "ParentID=<null>"},
        {"bookmarked", "Bookmarked=True", "X-CORVANTIS-BOOKMARKED:TRUE", ""},
        {"not bookmarked", "Bookmarked=False", "X-CORVANTIS-BOOKMARKED:FALSE", ""},
        {"assigned", "AssignedTo=sam", "X-CORVANTIS-ASSIGNED-TO:sam", ""},
        {"assigned to the login name", "AssignedTo=kim", "!X-CORVANTIS-ASSIGNED-TO",
         "AssignedTo=<null>"},
        {"group", "GroupNo=3", "X-CORVANTIS-GROUP-NO:3", ""},
        {"owner", "Owner=kim", "X-CORVANTIS-OWNER:kim", ""},
        {"related file", "RelatedFile=/home/kim/plan b.odt",
         "X-CORVANTIS-RELATED-FILE:/home/kim/plan b.odt", ""},
        {"linked list", "LinkedList=/home/kim/more.cv1",
         "X-CORVANTIS-LINKED-LIST:/home/kim/more.cv1", ""},
        {"url", "URL=https://example.org/?a=1,2", "X-CORVANTIS-URL:https://example.org/?a=1,2", ""},
        {"points", "Points=65535", "X-CORVANTIS-POINTS:65535", ""},
        {"properties name the UID", "Properties=colour=blue\nX-Corvantis-UID=abc-1", "UID:abc-1",
         "Properties=colour=blue\r\nX-Corvantis-UID=abc-1"},
        {"properties kept whole", "Properties=colour=blue\nX-Corvantis-UID=abc-1",
         "X-CORVANTIS-PROPERTIES:colour=blue\\nX-Corvantis-UID=abc-1",
         "Properties=colour=blue\r\nX-Corvantis-UID=abc-1"},
    });
}

void TestCalendar::everyFieldAndWordBothWays() {
    QFETCH(QString, values);
    QFETCH(QString, line);
    QFETCH(QString, back);
    TaskListFixture source(TaskRecord::Fields(), TaskListFixture::WithoutDefaults);
    source.add(QStringLiteral("Task=t|") + values);
    const QByteArray text = CalendarFile::Write(source.table, QStringLiteral("/lists/a.cv1"));
    const QStringList lines = Lines(text);
    if (line.startsWith(u'!')) {
        for (const QString& written : lines)
            QVERIFY2(NameOf(written) != line.mid(1), qPrintable(written));
    } else {
        QVERIFY2(lines.contains(line), text.constData());
    }

    TaskListFixture target;
    QCOMPARE(ImportBytes(target, text), QString());
    QCOMPARE(target.table.recordCount(), 1);
    CompareFields(target, back.isEmpty() ? values : back);
}

void TestCalendar::readsWhatOtherClientsWrite_data() {
    QTest::addColumn<QString>("todo");     // the to-do's lines
    QTest::addColumn<QString>("expected"); // the imported task, fixture form
    AddTextRows({
        {"priority 1", "PRIORITY:1", "Priority=High"},
        {"priority 4", "PRIORITY:4", "Priority=High"},
        {"priority 5", "PRIORITY:5", "Priority=Normal"},
        {"priority 0", "PRIORITY:0", "Priority=<null>"},
        {"no priority", "SUMMARY:x", "Priority=<null>"},
        {"priority 6", "PRIORITY:6", "Priority=Low"},
        {"priority 9", "PRIORITY:9", "Priority=Low"},
        {"priority out of range", "PRIORITY:10", "Priority=<null>"},
        {"urgent while first", "PRIORITY:1\nX-CORVANTIS-PRIORITY:Urgent", "Priority=Urgent"},
        {"urgent lowered elsewhere", "PRIORITY:2\nX-CORVANTIS-PRIORITY:Urgent", "Priority=High"},
        {"paused while in process", "STATUS:IN-PROCESS\nX-CORVANTIS-STATUS:Paused",
         "Status=Paused"},
        {"paused completed elsewhere", "STATUS:COMPLETED\nX-CORVANTIS-STATUS:Paused",
         "Status=Complete"},
        {"no status", "SUMMARY:x", "Status=Not Started"},
        {"an event's status", "STATUS:TENTATIVE", "Status=Not Started"},
        {"categories", "CATEGORIES:Home,Work\nCATEGORIES:Errands", "Category=Home, Work, Errands"},
        {"escaped comma", "CATEGORIES:a\\,b", "Category=a,b"},
        {"due in a named zone", "DUE;TZID=Europe/Berlin:20240305T233000", "DueDate=2024-03-05"},
        {"due in UTC, a day later here", "DUE:20240305T113000Z", "DueDate=2024-03-06"},
        {"no such day", "DUE;VALUE=DATE:20240230", "DueDate=<null>"},
        {"no date at all", "DTSTART:soon", "StartDate=<null>"},
        {"created as a date", "CREATED;VALUE=DATE:20240101", "CreatedDate=2024-01-01"},
        {"progress not a number", "PERCENT-COMPLETE:most", "Progress=0"},
        {"points beyond the field", "X-CORVANTIS-POINTS:70000", "Points=<null>"},
        {"time not a number", "X-CORVANTIS-TIME:long", "Time=<null>"},
        {"the UID", "UID:from-elsewhere", "Properties=X-Corvantis-UID=from-elsewhere"},
        {"escapes", "DESCRIPTION:a\\, b\\; c\\\\ d\\nnext", "Details=a, b; c\\ d\r\nnext"},
        {"blanks and tabs at the ends", "SUMMARY:  bread release \nCOMMENT:\tcall\t",
         "Task=  bread release|Comments=\tcall\t"}, // a text field drops its trailing spaces
        {"folded at a blank", "SUMMARY:bread\n  release", "Task=bread release"},
        {"bookmark case", "X-CORVANTIS-BOOKMARKED:true", "Bookmarked=True"},
        {"another client's property", "X-CORVANTIS-OWNER;X-OTHER=1:kim", "Owner=kim"},
    });
}

void TestCalendar::readsWhatOtherClientsWrite() {
    QFETCH(QString, todo);
    QFETCH(QString, expected);
    TaskListFixture list;
    QCOMPARE(ImportBytes(list, Calendar(todo)), QString());
    QCOMPARE(list.table.recordCount(), 1);
    CompareFields(list, expected);
}

// A to-do another client made, with what the mapping does not cover: a time zone, a recurrence
// rule, a relation, an alarm, its own X- property, a due time and two categories.
const char* const PlannerObject = R"(BEGIN:VCALENDAR
PRODID:-//Example//Planner 9//EN
VERSION:2.0
BEGIN:VTIMEZONE
TZID:Europe/Berlin
BEGIN:STANDARD
DTSTART:19701025T030000
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU
END:STANDARD
END:VTIMEZONE
BEGIN:VTODO
CREATED:20240101T090000Z
LAST-MODIFIED:20240102T090000Z
DTSTAMP:20240102T090000Z
UID:planner-42
SUMMARY:Water the plants
STATUS:NEEDS-ACTION
PRIORITY:3
CATEGORIES:Home,Garden
DUE;TZID=Europe/Berlin:20240310T180000
RRULE:FREQ=WEEKLY;BYDAY=SA
RELATED-TO;RELTYPE=PARENT:planner-40
X-PLANNER-COLOUR:green
X-PLANNER-PATH:C:\Plans\week
X-PLANNER-LINK;VALUE=URI:https://example.org/plan?a=1,2;b
BEGIN:VALARM
ACTION:DISPLAY
DESCRIPTION:Reminder
TRIGGER;VALUE=DURATION:-PT15M
END:VALARM
END:VTODO
END:VCALENDAR)";

void TestCalendar::updateKeepsWhatItDoesNotMap_data() {
    QTest::addColumn<QString>("edit");    // of the task read from the object, fixture form
    QTest::addColumn<QString>("line");    // in the object written back; empty: nothing to send
    QTest::addColumn<QString>("touched"); // the properties that may differ
    AddTextRows({
        {"no edit", "", "", ""},
        {"the task's words", "Task=Water the roses", "SUMMARY:Water the roses", "SUMMARY"},
        {"completed", "Status=Complete|CompletedDate=2024-03-09", "STATUS:COMPLETED",
         "STATUS COMPLETED"},
        {"paused", "Status=Paused", "X-CORVANTIS-STATUS:Paused", "STATUS X-CORVANTIS-STATUS"},
        {"priority", "Priority=Low", "PRIORITY:9", "PRIORITY"},
        {"priority of the same range", "Priority=Urgent", "X-CORVANTIS-PRIORITY:Urgent",
         "PRIORITY X-CORVANTIS-PRIORITY"},
        {"priority of the same word", "Priority=High", "", ""},
        {"details with a tab first", "Details=\tsoil first", "DESCRIPTION:\tsoil first",
         "DESCRIPTION"},
        {"category", "Category=Garden", "CATEGORIES:Garden", "CATEGORIES"},
        {"categories stay a list", "Category=Home, Garden, Shed", "CATEGORIES:Home,Garden,Shed",
         "CATEGORIES"},
        {"due date, its time kept", "DueDate=2024-03-11", "DUE;TZID=Europe/Berlin:20240311T180000",
         "DUE"},
        {"bookmark", "Bookmarked=True", "X-CORVANTIS-BOOKMARKED:TRUE", "X-CORVANTIS-BOOKMARKED"},
        // The parent's UID the task keeps goes as RELATED-TO, not in the Properties.
        {"properties",
         "Properties=RRULE=FREQ=WEEKLY;BYDAY=SA\nX-Corvantis-UID=planner-42\n"
         "X-Corvantis-Parent-UID=planner-40\nmood=good",
         "X-CORVANTIS-PROPERTIES:RRULE=FREQ=WEEKLY;BYDAY=SA\\nX-Corvantis-UID=planner-42\\nmood="
         "good",
         "X-CORVANTIS-PROPERTIES"},
        {"parent given up",
         "Properties=RRULE=FREQ=WEEKLY;BYDAY=SA\nX-Corvantis-UID=planner-42\nmood=good",
         "X-CORVANTIS-PROPERTIES:RRULE=FREQ=WEEKLY;BYDAY=SA\\nX-Corvantis-UID=planner-42\\nmood="
         "good",
         "X-CORVANTIS-PROPERTIES RELATED-TO"},
        {"repeat rule",
         "Properties=RRULE=FREQ=MONTHLY;BYDAY=-1FR\nX-Corvantis-UID=planner-42\n"
         "X-Corvantis-Parent-UID=planner-40",
         "RRULE:FREQ=MONTHLY;BYDAY=-1FR", "RRULE X-CORVANTIS-PROPERTIES"},
    });
}

void TestCalendar::updateKeepsWhatItDoesNotMap() {
    QFETCH(QString, edit);
    QFETCH(QString, line);
    QFETCH(QString, touched);
    const QByteArray object = Text(QString::fromUtf8(PlannerObject));
    TaskListFixture list;
    QCOMPARE(ImportBytes(list, object), QString());
    // Its parent is not in the list: the task stands at the top and keeps the parent's UID.
    CompareFields(list,
                  QStringLiteral("Task=Water the plants|Priority=High|Category=Home, Garden|"
                                 "DueDate=2024-03-10|Properties=RRULE=FREQ=WEEKLY;BYDAY=SA\r\n"
                                 "X-Corvantis-UID=planner-42\r\nX-Corvantis-Parent-UID=planner-40|"
                                 "ParentID=<null>"));
    if (!edit.isEmpty()) {
        list.table.edit();
        list.write(edit);
        list.table.post();
    }

    // The parent it names, as the sync gives it: the UID its Properties keep.
    const QString parent = OutlineCommands::KeptParentUid(list.table.asString(Properties));
    const QByteArray written = CalendarFile::WithTask(object, list.table.fields(),
                                                      list.table.currentData(), QString(), parent);
    if (line.isEmpty()) {
        QCOMPARE(written, QByteArray());
        return;
    }
    const QStringList lines = Lines(written);
    QVERIFY2(lines.contains(line), written.constData());
    // Every other line stays as the other client wrote it, byte for byte.
    const QStringList mayDiffer = touched.split(u' ') << QStringLiteral("DTSTAMP");
    for (const QString& kept : Lines(object))
        if (!mayDiffer.contains(NameOf(kept)))
            QVERIFY2(lines.contains(kept), qPrintable(kept));
    // Written again, the task is what the object holds: nothing more to send.
    QCOMPARE(CalendarFile::WithTask(written, list.table.fields(), list.table.currentData(),
                                    QString(), parent),
             QByteArray());
}

void TestCalendar::outlineWrittenAndReadBack() {
    TaskListFixture source;
    source.add(QStringLiteral("Task=plan"));
    source.add(QStringLiteral("Task=step|ParentID=1"));
    source.add(QStringLiteral("Task=detail|ParentID=2"));
    source.add(QStringLiteral("Task=apart|ParentID=0"));
    const QByteArray text = CalendarFile::Write(source.table, QStringLiteral("/lists/a.cv1"));
    const std::vector<CalendarFile::Todo> todos = CalendarFile::Read(text, source.table.fields());
    QCOMPARE(todos.size(), std::size_t(4));
    QVERIFY2(Lines(text).contains(QStringLiteral("RELATED-TO;RELTYPE=PARENT:") + todos[0].uid),
             text.constData());
    QCOMPARE(todos[1].parentUid, todos[0].uid);
    QCOMPARE(todos[2].parentUid, todos[1].uid);
    QCOMPARE(todos[3].parentUid, QString());
    QVERIFY(!text.contains("X-CORVANTIS-PARENT-ID"));

    // Into a list whose IDs are taken: the outline follows the new IDs.
    TaskListFixture target;
    target.add(QStringLiteral("Task=mine"));
    target.add(QStringLiteral("Task=mine too|ParentID=1"));
    QCOMPARE(ImportBytes(target, text), QString());
    QCOMPARE(Outline(target), (QStringList{"mine<", "mine too<mine", "plan<", "step<plan",
                                           "detail<step", "apart<"}));
}

void TestCalendar::parentsOtherClientsName_data() {
    QTest::addColumn<QString>("todos");   // "SUMMARY\nmore lines / ...", after the list's "mine"
    QTest::addColumn<QString>("outline"); // of the list afterwards as shown, comma-separated
    QTest::addColumn<QString>("kept");    // the UID the last task keeps for its parent
    AddTextRows({
        {"no RELTYPE is a parent", "p\nUID:p1 / c\nRELATED-TO:p1", "mine<,p<,c<p", ""},
        {"RELTYPE=PARENT", "p\nUID:p1 / c\nRELATED-TO;RELTYPE=PARENT:p1", "mine<,p<,c<p", ""},
        {"the child before its parent", "c\nRELATED-TO:p1 / p\nUID:p1", "mine<,p<,c<p", ""},
        {"a child named", "p\nUID:p1\nRELATED-TO;RELTYPE=CHILD:c1 / c\nUID:c1", "mine<,p<,c<", ""},
        {"a sibling named", "p\nUID:p1 / c\nRELATED-TO;RELTYPE=SIBLING:p1", "mine<,p<,c<", ""},
        {"a task of the list", "p\nUID:p1 / c\nRELATED-TO:mine-1", "mine<,c<mine,p<", ""},
        {"a parent not there", "p\nUID:p1 / c\nRELATED-TO:gone-9", "mine<,p<,c<", "gone-9"},
        {"itself", "p\nUID:p1 / c\nUID:c1\nRELATED-TO:c1", "mine<,p<,c<", ""},
        {"an earlier version's parent ID", "p\nUID:p1 / c\nX-CORVANTIS-PARENT-ID:1", "mine<,p<,c<",
         ""},
    });
}

void TestCalendar::parentsOtherClientsName() {
    QFETCH(QString, todos);
    QFETCH(QString, outline);
    QFETCH(QString, kept);
    QString text = QStringLiteral("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Tests//EN\n");
    for (const QString& todo : todos.split(QStringLiteral(" / ")))
        text += QStringLiteral("BEGIN:VTODO\nSUMMARY:") + todo + QStringLiteral("\nEND:VTODO\n");
    TaskListFixture list;
    list.add(QStringLiteral("Task=mine|Properties=X-Corvantis-UID=mine-1"));
    QCOMPARE(ImportBytes(list, Text(text + QStringLiteral("END:VCALENDAR"))), QString());
    QCOMPARE(Outline(list).join(u','), outline);
    QCOMPARE(OutlineCommands::KeptParentUid(list.table.asString(Properties)), kept);
}

void TestCalendar::importsFilesOfOtherClients_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("tasks"); // fixture form, in file order

    // Written the way a desktop mail program's calendar exports: CR LF, times in a named zone,
    // categories in one line, a completed task, a property folded over two lines.
    QTest::newRow("desktop client")
        << Text(QStringLiteral(
               "BEGIN:VCALENDAR\nPRODID:-//Example Mail//Calendar 115//EN\nVERSION:2.0\n"
               "BEGIN:VTODO\nCREATED:20240201T081500Z\nLAST-MODIFIED:20240203T101500Z\n"
               "DTSTAMP:20240203T101500Z\nUID:0b6f1c2e-4a51-4c8e-9a57-tb1\nSUMMARY:Renew the "
               "passport\nSTATUS:IN-PROCESS\nPRIORITY:1\nPERCENT-COMPLETE:30\nCATEGORIES:Admin,"
               "Travel\nDTSTART;TZID=Europe/Berlin:20240205T090000\nDUE;TZID=Europe/Berlin:"
               "20240301T170000\nDESCRIPTION:Photos first\\, then the form.\\nTake the old one\n"
               "  along.\nX-MOZ-GENERATION:3\nEND:VTODO\n"
               "BEGIN:VTODO\nCREATED:20240110T120000Z\nDTSTAMP:20240111T120000Z\n"
               "UID:0b6f1c2e-4a51-4c8e-9a57-tb2\nSUMMARY:Pay the rent\nSTATUS:COMPLETED\n"
               "COMPLETED:20240111T120000Z\nPERCENT-COMPLETE:100\nEND:VTODO\nEND:VCALENDAR"))
        << QStringList{
               "Task=Renew the passport|Status=In progress|Priority=High|Progress=30|"
               "Category=Admin, Travel|StartDate=2024-02-05|DueDate=2024-03-01|"
               "CreatedDate=2024-02-01|LastActioned=2024-02-04|Details=Photos first, then the "
               "form.\r\nTake the old one "
               "along.|Properties=X-Corvantis-UID=0b6f1c2e-4a51-4c8e-9a57-tb1",
               "Task=Pay the rent|Status=Complete|Priority=<null>|Progress=100|"
               "CompletedDate=2024-01-12|Category=<null>|DueDate=<null>"};

    // Written the way a web cloud's task app keeps them: LF only, dates, sort orders and
    // relations of its own, a subtask, and an event that is no task.
    QTest::newRow("web cloud")
        << Text(QStringLiteral(
                    "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Example Cloud//Tasks v0.15//EN\n"
                    "BEGIN:VEVENT\nUID:ev-1\nDTSTAMP:20240101T000000Z\nDTSTART:20240102T100000Z\n"
                    "SUMMARY:Standup\nEND:VEVENT\n"
                    "BEGIN:VTODO\nUID:cloud-parent\nCREATED:20240301T100000Z\nLAST-MODIFIED:"
                    "20240302T100000Z\nDTSTAMP:20240302T100000Z\nSUMMARY:Move house\n"
                    "PRIORITY:9\nDUE;VALUE=DATE:20240601\nX-APPLE-SORT-ORDER:12\nEND:VTODO\n"
                    "BEGIN:VTODO\nUID:cloud-child\nDTSTAMP:20240302T100000Z\nSUMMARY:Boxes\n"
                    "RELATED-TO:cloud-parent\nSTATUS:CANCELLED\nCATEGORIES:Shopping\nEND:VTODO\n"
                    "END:VCALENDAR"),
                "\n")
        << QStringList{"Task=Move house|Priority=Low|DueDate=2024-06-01|Status=Not Started|"
                       "Properties=X-Corvantis-UID=cloud-parent|ParentID=<null>",
                       "Task=Boxes|Status=Cancelled|Category=Shopping|CreatedDate=<null>|"
                       "ParentID=2"};
}

void TestCalendar::importsFilesOfOtherClients() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, tasks);
    TaskListFixture list;
    list.add(QStringLiteral("Task=already there"));
    QCOMPARE(ImportBytes(list, file), QString());
    QCOMPARE(list.table.recordCount(), 1 + tasks.size());
    QCOMPARE(list.table.currentPosition(), 1 + int(tasks.size()));
    for (int i = 0; i < tasks.size(); ++i) {
        list.table.moveToPosition(1 + i);
        CompareFields(list, tasks[i]);
        QCOMPARE(list.table.asInteger(ID), std::int64_t(2 + i));
    }
}

void TestCalendar::refusesHostileText_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message"); // how the import's message ends; empty: imported
    QTest::addColumn<int>("added");

    const QByteArray head("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\n");
    QTest::newRow("nested deeper than the stack")
        << head + QByteArray("BEGIN:VALARM\r\n").repeated(200000) << "more than 32 deep." << 0;
    QTest::newRow("nested deep in folded lines")
        << head + QByteArray("BEG\r\n IN:X\r\n").repeated(40) << "more than 32 deep." << 0;
    QTest::newRow("to-do never closed") << head + "SUMMARY:x\r\n"
                                        << "The to-do on line 2 cannot be read." << 0;
    QTest::newRow("a zero byte") << head + QByteArray("SUMMARY:a\0b\r\n", 13) +
                                        "END:VTODO\r\nEND:VCALENDAR\r\n"
                                 << "It is not iCalendar text." << 0;
    QTest::newRow("a to-do closed by its calendar's end") << head + "SUMMARY:x\r\nEND:VCALENDAR\r\n"
                                                          << QString() << 1;
    QTest::newRow("no to-do") << Text(QStringLiteral("BEGIN:VCALENDAR\nEND:VCALENDAR")) << QString()
                              << 0;
    QTest::newRow("values of no kind")
        << Calendar(QStringLiteral("DUE:zzz\nPERCENT-COMPLETE:99999999999999\nPRIORITY:-5\n"
                                   "SUMMARY;VALUE=INTEGER:7\nSTATUS:\nCATEGORIES:,,\n"
                                   "CREATED:99991399T256199Z\nX-CORVANTIS-PROPERTIES:\n"
                                   "BEGIN:VALARM\nEND:VTODO\nEND:VALARM"))
        << QString() << 1;
    QTest::newRow("by its content, not its name")
        << QByteArray("\xEF\xBB\xBF\r\n") + Calendar(QStringLiteral("SUMMARY:x")) << QString() << 1;
}

void TestCalendar::refusesHostileText() {
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    QFETCH(int, added);
    TaskListFixture list;
    list.add(QStringLiteral("Task=already there"));
    const QString error = ImportBytes(list, file);
    if (message.isEmpty())
        QCOMPARE(error, QString());
    else
        QVERIFY2(error.startsWith(u"Cannot import \"") && error.endsWith(message),
                 qPrintable(error));
    QCOMPARE(list.table.recordCount(), 1 + added);
}

void TestCalendar::uidLineInProperties_data() {
    QTest::addColumn<QString>("properties");
    QTest::addColumn<QString>("expected"); // with the UID "u"
    AddTextRows({
        {"none", "", "X-Corvantis-UID=u"},
        {"added in the text's line breaks", "a=1\r\nb=2", "a=1\r\nb=2\r\nX-Corvantis-UID=u"},
        {"after a final line break", "a=1\n", "a=1\nX-Corvantis-UID=u"},
        {"replaced where it stands", "a=1\nx-corvantis-uid=old\nb=2",
         "a=1\nx-corvantis-uid=u\nb=2"},
        {"a name that only starts alike", "X-Corvantis-UIDs=1",
         "X-Corvantis-UIDs=1\nX-Corvantis-UID=u"},
    });
}

void TestCalendar::uidLineInProperties() {
    QFETCH(QString, properties);
    QFETCH(QString, expected);
    QCOMPARE(VTodoMapping::WithUid(properties, QStringLiteral("u")), expected);
    QCOMPARE(VTodoMapping::UidOf(expected), QStringLiteral("u"));
}

void TestCalendar::uidsStableAndUnique() {
    TaskListFixture list;
    const QString same = QStringLiteral("Properties=X-Corvantis-UID=same");
    list.add(QStringLiteral("Task=a|") + same);
    list.add(QStringLiteral("Task=b|") + same);
    list.add(QStringLiteral("Task=c"));
    const QString identity = QStringLiteral("/lists/a.cv1");
    const QByteArray text = CalendarFile::Write(list.table, identity);
    QStringList uids;
    for (const QString& line : Lines(text))
        if (line.startsWith(u"UID:"))
            uids << line.mid(4);
    QCOMPARE(uids, (QStringList{"same", VTodoMapping::DerivedUid(identity, 2),
                                VTodoMapping::DerivedUid(identity, 3)}));
    // Exporting again gives the same; the list itself names no new UID.
    QCOMPARE(CalendarFile::Write(list.table, identity), text);
    QCOMPARE(CalendarFile::TaskUids(list.table), QSet<QString>{"same"});

    // Read back into the list, every task gets a UID no other task has.
    QCOMPARE(ImportBytes(list, text), QString());
    QCOMPARE(list.table.recordCount(), 6);
    QCOMPARE(CalendarFile::TaskUids(list.table).size(), 4);
}

// Random tasks, written as new to-dos, read back as they were; written over another client's
// object with random edits, every line they did not change stays as that client wrote it, they
// read back as edited, and a second writing has nothing to send.
void TestCalendar::randomTasksKeepTheirForm() {
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    const auto pick = [&](const QStringList& from) {
        return from[int(random.bounded(quint32(from.size())))];
    };
    const QStringList pieces{"milk",
                             "Füße",
                             "日本",
                             ",",
                             ";",
                             "\\",
                             ":",
                             "\"",
                             "  ",
                             "\t",
                             "a,b",
                             "x;y",
                             "http://e.org/?a=1,2",
                             "C:\\dir\\f",
                             " ",
                             "→",
                             "&<>",
                             "né"};
    const auto text = [&](bool lines) {
        QString out;
        const int count = int(random.bounded(6u));
        for (int i = 0; i < count; ++i)
            out += pick(lines && random.bounded(4u) == 0 ? QStringList{"\r\n"} : pieces);
        return out;
    };
    // Values for a task, fixture form; the fields that a to-do carries as text, numbers, days and
    // words of a vocabulary, each at times left out.
    const auto values = [&] {
        QStringList out;
        const auto maybe = [&](const QString& field, const QString& value) {
            if (random.bounded(3u) != 0)
                out << field + u'=' + value;
        };
        out << QStringLiteral("Task=") + pick(pieces) + text(false);
        maybe(Details, text(true));
        maybe(Comments, text(false));
        maybe(Category, pick({"Home", "Home, Garden", "a;b", "Work"}));
        maybe(Priority, pick({"High", "Normal", "Low", "Urgent", "<null>"}));
        maybe(Status, pick({"Not Started", "In progress", "Paused", "Complete", "Cancelled"}));
        maybe(DueDate, QDate(2024, 1, 1).addDays(random.bounded(700)).toString(Qt::ISODate));
        maybe(Progress, QString::number(random.bounded(101)));
        maybe(AssignedTo, pick({"kim", "sam", "<null>"}));
        maybe(URL, pick({"https://e.org/?a=1,2;b", "<null>"}));
        maybe(RelatedFile, pick({"C:\\Plans\\week.odt", "/home/kim/a b"}));
        return out.join(u'|').remove(u'\0');
    };
    const QStringList compared{Task,   Details, Comments, Category, Priority,
                               Status, DueDate, Progress, URL,      RelatedFile};
    // Another client's lines, which libical would write back in its own way.
    const QStringList foreign{"X-OTHER-PATH:C:\\Plans\\week",
                              "X-OTHER-LINK;VALUE=URI:https://e.org/?a=1,2;b",
                              "X-OTHER-NOTE:a\\,b\\;c",
                              "RRULE:FREQ=MONTHLY;BYMONTHDAY=1,15",
                              "CATEGORIES:Home,Garden",
                              "GEO:48.1;11.5",
                              "LOCATION:  Hall  "};
    for (int round = 0; round < 200; ++round) {
        const QString why = QStringLiteral("seed %1, round %2").arg(seed).arg(round);
        TaskListFixture source;
        source.add(values());
        const QByteArray written = CalendarFile::Write(source.table, QStringLiteral("/l.cv1"));
        TaskListFixture back;
        QCOMPARE(ImportBytes(back, written), QString());
        for (const QString& field : compared)
            QVERIFY2(back.current().value(field) == source.current().value(field),
                     qPrintable(why + u' ' + field + u' ' + source.current().value(field)));
        QCOMPARE(back.current().value(AssignedTo), source.current().value(AssignedTo) == u"kim"
                                                       ? QString()
                                                       : source.current().value(AssignedTo));

        // The same to-do as another client keeps it, with lines of its own.
        QByteArray object = written;
        QStringList theirs;
        for (const QString& line : foreign)
            if (random.bounded(2u) == 0 &&
                !(line.startsWith(u"CATEGORIES") && object.contains("CATEGORIES")))
                theirs << line;
        object.replace(
            "END:VTODO",
            (theirs.join(QStringLiteral("\r\n")) + QStringLiteral("\r\nEND:VTODO")).toUtf8());
        TaskListFixture edited;
        QCOMPARE(ImportBytes(edited, object), QString());
        edited.table.edit();
        for (const QString& pair : values().split(u'|'))
            if (random.bounded(2u) == 0)
                edited.write(pair);
        edited.table.post();
        // The parent as the sync gives it: a UID the task keeps (its parent is not in the list).
        const QString parent = OutlineCommands::KeptParentUid(edited.table.asString(Properties));
        const QByteArray sent = CalendarFile::WithTask(
            object, edited.table.fields(), edited.table.currentData(), QString(), parent);
        const QByteArray now = sent.isEmpty() ? object : sent;
        const QStringList lines = Lines(now);
        for (const QString& line : theirs)
            if (!line.startsWith(u"CATEGORIES") ||
                edited.current().value(Category) == QLatin1String("Home, Garden"))
                QVERIFY2(lines.contains(line), qPrintable(why + u' ' + line + u'\n' + now));
        TaskListFixture reread;
        QCOMPARE(ImportBytes(reread, now), QString());
        for (const QString& field : compared) {
            const QString expected = edited.current().value(field);
            QVERIFY2(reread.current().value(field) == expected,
                     qPrintable(why + u' ' + field + u' ' + expected));
        }
        QVERIFY2(CalendarFile::WithTask(now, edited.table.fields(), edited.table.currentData(),
                                        QString(), parent)
                     .isEmpty(),
                 qPrintable(why));
    }
}

void TestCalendar::stoppedImportChangesNothing_data() {
    QTest::addColumn<int>("stopAt"); // the first progress answered No; reading gives 0 to 999
    QTest::newRow("while reading") << 0;
    QTest::newRow("while adding") << 1000;
}

void TestCalendar::stoppedImportChangesNothing() {
    QFETCH(int, stopAt);
    TaskListFixture source;
    for (int i = 0; i < 2100; ++i)
        source.add(QStringLiteral("Task=t%1").arg(i));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("many.ics"));
    QVERIFY(WriteFileBytes(file, CalendarFile::Write(source.table, QString())));
    TaskListFixture list;
    list.add(QStringLiteral("Task=already there"));
    const QByteArray before = DataPacket::Write(list.table);
    QList<int> totals;
    const bool done = Import::ImportTasks(list.table, file, [&](int done, int total) {
        totals << total;
        return done < stopAt;
    });
    QVERIFY(!done);
    QCOMPARE(totals.last(), 2000);
    QCOMPARE(DataPacket::Write(list.table), before);
}

// Calendars written by other programs import or fail with a message.
void TestCalendar::corpusFiles() {
    QDirIterator it(QStringLiteral(CORVANTIS_CORPUS_DIR), {QStringLiteral("*.ics")}, QDir::Files,
                    QDirIterator::Subdirectories);
    int files = 0;
    while (it.hasNext()) {
        const QString file = it.next();
        TaskListFixture list;
        const QString error = errorOf([&] { Import::ImportTasks(list.table, file); });
        QVERIFY2(error.isEmpty() || error.startsWith(u"Cannot "), qPrintable(file + u' ' + error));
        ++files;
    }
    if (files == 0)
        QSKIP("No iCalendar files in the corpus");
}

QTEST_GUILESS_MAIN(TestCalendar)
#include "tst_calendar.moc"
