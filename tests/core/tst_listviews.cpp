#include "base/DatesAndClock.h"
#include "core/TaskListFixture.h"
#include "model/ListViews.h"
#include "support/TestSupport.h"

using namespace TaskRecord;
using namespace ListViews;

namespace {

// One task for every case that tells the presets apart (the pinned today is 12 March 2025;
// every task is created today unless it says otherwise).
void AddPresetTasks(TaskListFixture& list) {
    for (const char* values : {
             "Task=fresh|Status=Not Started",
             "Task=working|Status=In progress|Difficulty=Hard",
             "Task=lowercase working|Status=in progress",
             "Task=cancelled high|Status=Cancelled|Priority=High",
             "Task=complete high|Status=Complete|Priority=High|CompletedDate=today",
             "Task=urgent|Status=Paused|Priority=Urgent|Difficulty=Easy",
             "Task=complete urgent|Status=Complete|Priority=Urgent|CompletedDate=2025-03-01",
             "Task=complete easy|Status=Complete|Difficulty=Easy|CompletedDate=<null>",
             "Task=lowercase complete|Status=complete|Difficulty=Hard|CompletedDate=today",
             "Task=done late|Status=Complete|DueDate=yesterday|CompletedDate=yesterday",
             "Task=old|CreatedDate=2025-03-11|Bookmarked=True",
             "Task=due today|DueDate=today|Bookmarked=False",
             "Task=due tomorrow|DueDate=tomorrow",
             "Task=cancelled late|Status=Cancelled|DueDate=2024-12-31",
         })
        list.add(QString::fromUtf8(values));
}

} // namespace

class TestListViews : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); }

    void choiceLists();
    void presetExpressions_data();
    void presetExpressions();
    void presetsShowTasks_data();
    void presetsShowTasks();
    void search_data();
    void search();
    void oneFilterAtATime_data();
    void oneFilterAtATime();
    void orders_data();
    void orders();
    void orderKeepsCurrentTaskAndFilter();
    void columnTitles_data();
    void columnTitles();
};

void TestListViews::choiceLists() {
    QCOMPARE(ShowChoices().join(u','),
             QStringLiteral("All,Not Started,In progress,High Priority,Urgent Priority,Easy,"
                            "Hard,Completed,Completed Today,Created Today,Bookmarked,Overdue,"
                            "Repeating"));
    QCOMPARE(OrderChoices().join(u','),
             QStringLiteral("None,Task,ID,Last Actioned,Status,Difficulty,Priority,Category,"
                            "Progress,Group No,Repeat"));
}

void TestListViews::presetExpressions_data() {
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("expression"); // "<none>": no expression

    AddTextRows({
        {"All", "All", "<none>"},
        {"Not Started", "Not Started", "Status = 'Not Started' "},
        {"In progress", "In progress", "Status = 'In progress' "},
        {"High Priority", "High Priority", "Priority = 'High' and Status <> 'Complete' "},
        {"Urgent Priority", "Urgent Priority", "Priority = 'Urgent' and Status <> 'Complete' "},
        {"Easy", "Easy", "Difficulty = 'Easy' and Status <> 'Complete' "},
        {"Hard", "Hard", "Difficulty = 'Hard' and Status <> 'Complete' "},
        {"Completed", "Completed", "Status = 'Complete' "},
        {"Completed Today", "Completed Today",
         "Status = 'Complete' and CompletedDate = '3/12/2025' "},
        {"Created Today", "Created Today", "CreatedDate = '3/12/2025' "},
        {"Bookmarked", "Bookmarked", "Bookmarked =True "},
        {"Overdue", "Overdue", "DueDate < '3/12/2025' "},
        {"empty box", "", "<none>"},
        {"other case", "completed", "<none>"},
    });
}

void TestListViews::presetExpressions() {
    QFETCH(QString, choice);
    QFETCH(QString, expression);
    QCOMPARE(PresetExpression(choice, uGeneral::Today()).value_or(QStringLiteral("<none>")),
             expression);
}

void TestListViews::presetsShowTasks_data() {
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("shown");

    AddTextRows({
        {"Not Started", "Not Started", "fresh,old,due today,due tomorrow"},
        {"In progress", "In progress", "working"},
        {"High Priority shows cancelled", "High Priority", "cancelled high"},
        {"Urgent Priority", "Urgent Priority", "urgent"},
        {"Easy", "Easy", "urgent"},
        {"Hard keeps lower-case complete", "Hard", "working,lowercase complete"},
        {"Completed is case-sensitive", "Completed",
         "complete high,complete urgent,complete easy,done late"},
        {"Completed Today", "Completed Today", "complete high"},
        {"Created Today", "Created Today",
         "fresh,working,lowercase working,cancelled high,complete high,urgent,complete urgent,"
         "complete easy,lowercase complete,done late,due today,due tomorrow,cancelled late"},
        {"Bookmarked", "Bookmarked", "old"},
        {"Overdue whatever the status", "Overdue", "done late,cancelled late"},
    });
}

void TestListViews::presetsShowTasks() {
    QFETCH(QString, choice);
    QFETCH(QString, shown);

    TaskListFixture list;
    AddPresetTasks(list);
    list.table.last();
    ApplyPreset(list.table, choice);
    QVERIFY(list.table.filtered());
    QCOMPARE(list.visible().join(u','), shown);
    QCOMPARE(list.table.currentPosition(), 1);

    ApplyPreset(list.table, ShowAll);
    QVERIFY(!list.table.filtered());
    QCOMPARE(list.table.recordCount(), 14);
    QCOMPARE(list.table.filter(), *PresetExpression(choice, uGeneral::Today()));
}

void TestListViews::search_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("shown");

    AddTextRows({
        {"lower case", "milk", "Task LIKE '%milk%'", "buy milk,milk_shake"},
        {"capital", "Milk", "Task LIKE '%Milk%'", "Milk the cow"},
        {"underscore is one character", "b_y", "Task LIKE '%b_y%'", "buy milk"},
        {"trailing percent", "milk%", "Task LIKE '%milk%%'", "buy milk,milk_shake"},
        {"escaped underscore", "k\\_", "Task LIKE '%k\\_%'", "milk_shake"},
        {"not trimmed", " the ", "Task LIKE '% the %'", "Milk the cow"},
        {"quote", "it's", "Task LIKE '%it''s%'", "it's done"},
        {"quotes only", "''", "Task LIKE '%''''%'", "say ''hi''"},
        {"empty shows non-empty tasks", "", "Task LIKE '%%'",
         "buy milk,Milk the cow,milk_shake,it's done,say ''hi''"},
    });
}

void TestListViews::search() {
    QFETCH(QString, typed);
    QFETCH(QString, expression);
    QFETCH(QString, shown);

    QCOMPARE(SearchExpression(typed), expression);
    TaskListFixture list;
    for (const char* task : {"buy milk", "Milk the cow", "milk_shake", "it's done"})
        list.add(QStringLiteral("Task=") + QString::fromUtf8(task));
    list.add(QStringLiteral("Task=say ''hi''"));
    list.add(QStringLiteral("Task=<null>"));
    ApplySearch(list.table, typed);
    QVERIFY(list.table.filtered());
    QCOMPARE(list.table.filter(), expression);
    QCOMPARE(list.visible().join(u','), shown);
}

void TestListViews::oneFilterAtATime_data() {
    QTest::addColumn<QString>("steps"); // "preset:X", "search:X", "cancel", separated by "|"
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("filter");

    AddTextRows({
        {"preset replaces search", "search:milk|preset:Bookmarked", "tea", "Bookmarked =True "},
        {"search replaces preset", "preset:Bookmarked|search:milk", "buy milk,milk tea",
         "Task LIKE '%milk%'"},
        {"All ends a search", "search:milk|preset:All", "buy milk,tea,milk tea",
         "Task LIKE '%milk%'"},
        {"cancel keeps the expression", "preset:Bookmarked|cancel", "buy milk,tea,milk tea",
         "Bookmarked =True "},
        {"preset after cancel", "search:tea|cancel|preset:Not Started", "buy milk,tea",
         "Status = 'Not Started' "},
        {"empty box changes nothing", "search:tea|preset:", "tea,milk tea", "Task LIKE '%tea%'"},
    });
}

void TestListViews::oneFilterAtATime() {
    QFETCH(QString, steps);
    QFETCH(QString, shown);
    QFETCH(QString, filter);

    TaskListFixture list;
    list.add(QStringLiteral("Task=buy milk"));
    list.add(QStringLiteral("Task=tea|Bookmarked=True"));
    list.add(QStringLiteral("Task=milk tea|Status=Paused"));
    for (const QString& step : steps.split(u'|')) {
        const QString value = step.section(u':', 1);
        if (step.startsWith(u"preset:"))
            ApplyPreset(list.table, value);
        else if (step.startsWith(u"search:"))
            ApplySearch(list.table, value);
        else
            CancelFilter(list.table);
    }
    QCOMPARE(list.visible().join(u','), shown);
    QCOMPARE(list.table.filter(), filter);
}

void TestListViews::orders_data() {
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("shown");

    // Added as: pear, Apple, fig; then pear and fig were edited.
    AddTextRows({
        {"None", "None", "", "Apple,pear,fig"},
        {"ID", "ID", "cdsTasksIndexID", "pear,Apple,fig"},
        {"Task", "Task", "cdsTasksIndexTaskName", "Apple,fig,pear"},
        {"Last Actioned most recent first", "Last Actioned", "cdsTasksIndexLastActioned",
         "fig,pear,Apple"},
        {"Status", "Status", "cdsTasksStatus", "fig,Apple,pear"},
        {"Difficulty", "Difficulty", "cdsTasksDifficulty", "Apple,fig,pear"},
        {"Priority", "Priority", "cdsTasksPriority", "pear,Apple,fig"},
        {"Category", "Category", "cdsTasksCategory", "Apple,fig,pear"},
        {"Progress highest first", "Progress", "cdsTasksProgress", "fig,Apple,pear"},
        {"Group No", "Group No", "cdsTasksGroupNo", "fig,pear,Apple"},
    });
}

void TestListViews::orders() {
    QFETCH(QString, choice);
    QFETCH(QString, index);
    QFETCH(QString, shown);

    TaskListFixture list;
    list.add(QStringLiteral("Task=pear|Status=Paused|Priority=High|Difficulty=Hard|"
                            "Category=work|Progress=5|GroupNo=2|LastActioned=2025-03-02"));
    list.add(QStringLiteral("Task=Apple|Status=Not Started|Priority=Low|Difficulty=Easy|"
                            "Category=home|Progress=50|GroupNo=3|LastActioned=2025-03-01"));
    list.add(QStringLiteral("Task=fig|Status=Complete|Priority=Normal|Difficulty=Easy|"
                            "Category=home|Progress=90|GroupNo=1|LastActioned=2025-03-05"));
    for (int position : {0, 2}) {
        list.table.moveToPosition(position);
        list.table.edit();
        list.write(QStringLiteral("Owner=me"));
        list.table.post();
    }
    ApplyOrder(list.table, choice);
    QCOMPARE(list.table.indexName(), index);
    QCOMPARE(OrderIndex(choice).value_or(QStringLiteral("<none>")), index);
    QCOMPARE(list.visible().join(u','), shown);
}

void TestListViews::orderKeepsCurrentTaskAndFilter() {
    TaskListFixture list;
    for (const char* task : {"c", "a", "b", "ab"})
        list.add(QStringLiteral("Task=") + QString::fromUtf8(task));
    ApplySearch(list.table, QStringLiteral("b"));
    list.table.moveToPosition(1);
    QCOMPARE(list.table.asString(Task), QStringLiteral("ab"));
    ApplyOrder(list.table, OrderTask);
    QCOMPARE(list.visible(), (QStringList{QStringLiteral("ab"), QStringLiteral("b")}));
    QCOMPARE(list.table.asString(Task), QStringLiteral("ab"));
    ApplyOrder(list.table, QString()); // an empty box is no choice
    QCOMPARE(list.table.indexName(), TaskTable::IndexTaskName);
    QVERIFY(!OrderIndex(QStringLiteral("Group no")));
}

void TestListViews::columnTitles_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("index"); // the order afterwards, starting from ID order
    QTest::addColumn<QString>("shows"); // what cbOrder shows

    AddTextRows({
        {"ID", "ID", "cdsTasksIndexID", "ID"},
        {"Task", "Task", "cdsTasksIndexTaskName", "Task"},
        {"LastActioned", "LastActioned", "cdsTasksIndexLastActioned", "Last Actioned"},
        {"Status", "Status", "cdsTasksStatus", "Status"},
        {"Priority", "Priority", "cdsTasksPriority", "Priority"},
        {"Difficulty", "Difficulty", "cdsTasksDifficulty", "Difficulty"},
        {"Category", "Category", "cdsTasksCategory", "Category"},
        {"Progress", "Progress", "cdsTasksProgress", "Progress"},
        {"GroupNo", "GroupNo", "cdsTasksGroupNo", "Group No"},
        {"field name in other case", "groupno", "cdsTasksGroupNo", "Group No"},
        {"CreatedDate", "CreatedDate", "cdsTasksIndexID", ""},
        {"no field", "", "cdsTasksIndexID", ""},
    });
}

void TestListViews::columnTitles() {
    QFETCH(QString, field);
    QFETCH(QString, index);
    QFETCH(QString, shows);

    TaskListFixture list;
    list.add(QStringLiteral("Task=b|LastActioned=2025-03-01"));
    list.add(QStringLiteral("Task=a|LastActioned=2025-03-09"));
    QCOMPARE(ApplyColumnOrder(list.table, field), shows);
    QCOMPARE(list.table.indexName(), index);
    // A second click on the same title changes nothing: there is no reversing.
    const QStringList once = list.visible();
    QCOMPARE(ApplyColumnOrder(list.table, field), shows);
    QCOMPARE(list.visible(), once);
    if (field == u"LastActioned")
        QCOMPARE(once, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}

QTEST_GUILESS_MAIN(TestListViews)
#include "tst_listviews.moc"
