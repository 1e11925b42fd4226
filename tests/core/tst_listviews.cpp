#include "core/TaskListFixture.h"
#include "model/ListViews.h"
#include "support/TestSupport.h"

#include <QTest>

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
                            "Hard,Completed,Completed Today,Created Today,Bookmarked,Overdue"));
    QCOMPARE(OrderChoices().join(u','),
             QStringLiteral("None,Task,ID,Last Actioned,Status,Difficulty,Priority,Category,"
                            "Progress,Group No"));
}

void TestListViews::presetExpressions_data() {
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("expression"); // "<none>": no expression

    const char* rows[][2] = {
        {"All", "<none>"},
        {"Not Started", "Status = 'Not Started' "},
        {"In progress", "Status = 'In progress' "},
        {"High Priority", "Priority = 'High' and Status <> 'Complete' "},
        {"Urgent Priority", "Priority = 'Urgent' and Status <> 'Complete' "},
        {"Easy", "Difficulty = 'Easy' and Status <> 'Complete' "},
        {"Hard", "Difficulty = 'Hard' and Status <> 'Complete' "},
        {"Completed", "Status = 'Complete' "},
        {"Completed Today", "Status = 'Complete' and CompletedDate = '3/12/2025' "},
        {"Created Today", "CreatedDate = '3/12/2025' "},
        {"Bookmarked", "Bookmarked =True "},
        {"Overdue", "DueDate < '3/12/2025' "},
        {"", "<none>"},
        {"completed", "<none>"},
    };
    for (const auto& row : rows)
        QTest::newRow(*row[0] ? row[0] : "empty box") << row[0] << row[1];
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

    QTest::newRow("Not Started") << "Not Started"
                                 << "fresh,old,due today,due tomorrow";
    QTest::newRow("In progress") << "In progress"
                                 << "working";
    QTest::newRow("High Priority shows cancelled") << "High Priority"
                                                   << "cancelled high";
    QTest::newRow("Urgent Priority") << "Urgent Priority"
                                     << "urgent";
    QTest::newRow("Easy") << "Easy"
                          << "urgent";
    QTest::newRow("Hard keeps lower-case complete") << "Hard"
                                                    << "working,lowercase complete";
    QTest::newRow("Completed is case-sensitive")
        << "Completed"
        << "complete high,complete urgent,complete easy,done late";
    QTest::newRow("Completed Today") << "Completed Today"
                                     << "complete high";
    QTest::newRow("Created Today")
        << "Created Today"
        << "fresh,working,lowercase working,cancelled high,complete high,urgent,"
           "complete urgent,complete easy,lowercase complete,done late,due today,"
           "due tomorrow,cancelled late";
    QTest::newRow("Bookmarked") << "Bookmarked"
                                << "old";
    QTest::newRow("Overdue whatever the status") << "Overdue"
                                                 << "done late,cancelled late";
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

    QTest::newRow("lower case") << "milk"
                                << "Task LIKE '%milk%'"
                                << "buy milk,milk_shake";
    QTest::newRow("capital") << "Milk"
                             << "Task LIKE '%Milk%'"
                             << "Milk the cow";
    QTest::newRow("underscore is one character") << "b_y"
                                                 << "Task LIKE '%b_y%'"
                                                 << "buy milk";
    QTest::newRow("trailing percent") << "milk%"
                                      << "Task LIKE '%milk%%'"
                                      << "buy milk,milk_shake";
    QTest::newRow("escaped underscore") << "k\\_"
                                        << "Task LIKE '%k\\_%'"
                                        << "milk_shake";
    QTest::newRow("not trimmed") << " the "
                                 << "Task LIKE '% the %'"
                                 << "Milk the cow";
    QTest::newRow("quote") << "it's"
                           << "Task LIKE '%it''s%'"
                           << "it's done";
    QTest::newRow("quotes only") << "''"
                                 << "Task LIKE '%''''%'"
                                 << "say ''hi''";
    QTest::newRow("empty shows non-empty tasks")
        << ""
        << "Task LIKE '%%'"
        << "buy milk,Milk the cow,milk_shake,it's done,say ''hi''";
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

    QTest::newRow("preset replaces search") << "search:milk|preset:Bookmarked"
                                            << "tea"
                                            << "Bookmarked =True ";
    QTest::newRow("search replaces preset") << "preset:Bookmarked|search:milk"
                                            << "buy milk,milk tea"
                                            << "Task LIKE '%milk%'";
    QTest::newRow("All ends a search") << "search:milk|preset:All"
                                       << "buy milk,tea,milk tea"
                                       << "Task LIKE '%milk%'";
    QTest::newRow("cancel keeps the expression") << "preset:Bookmarked|cancel"
                                                 << "buy milk,tea,milk tea"
                                                 << "Bookmarked =True ";
    QTest::newRow("preset after cancel") << "search:tea|cancel|preset:Not Started"
                                         << "buy milk,tea"
                                         << "Status = 'Not Started' ";
    QTest::newRow("empty box changes nothing") << "search:tea|preset:"
                                               << "tea,milk tea"
                                               << "Task LIKE '%tea%'";
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
    QTest::newRow("None") << "None"
                          << ""
                          << "Apple,pear,fig";
    QTest::newRow("ID") << "ID"
                        << "cdsTasksIndexID"
                        << "pear,Apple,fig";
    QTest::newRow("Task") << "Task"
                          << "cdsTasksIndexTaskName"
                          << "Apple,fig,pear";
    QTest::newRow("Last Actioned most recent first") << "Last Actioned"
                                                     << "cdsTasksIndexLastActioned"
                                                     << "fig,pear,Apple";
    QTest::newRow("Status") << "Status"
                            << "cdsTasksStatus"
                            << "fig,Apple,pear";
    QTest::newRow("Difficulty") << "Difficulty"
                                << "cdsTasksDifficulty"
                                << "Apple,fig,pear";
    QTest::newRow("Priority") << "Priority"
                              << "cdsTasksPriority"
                              << "pear,Apple,fig";
    QTest::newRow("Category") << "Category"
                              << "cdsTasksCategory"
                              << "Apple,fig,pear";
    QTest::newRow("Progress highest first") << "Progress"
                                            << "cdsTasksProgress"
                                            << "fig,Apple,pear";
    QTest::newRow("Group No") << "Group No"
                              << "cdsTasksGroupNo"
                              << "fig,pear,Apple";
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

    const char* rows[][3] = {
        {"ID", "cdsTasksIndexID", "ID"},
        {"Task", "cdsTasksIndexTaskName", "Task"},
        {"LastActioned", "cdsTasksIndexLastActioned", "Last Actioned"},
        {"Status", "cdsTasksStatus", "Status"},
        {"Priority", "cdsTasksPriority", "Priority"},
        {"Difficulty", "cdsTasksDifficulty", "Difficulty"},
        {"Category", "cdsTasksCategory", "Category"},
        {"Progress", "cdsTasksProgress", "Progress"},
        {"GroupNo", "cdsTasksGroupNo", "Group No"},
        {"groupno", "cdsTasksGroupNo", "Group No"},
        {"CreatedDate", "cdsTasksIndexID", ""},
        {"DueDate", "cdsTasksIndexID", ""},
        {"Bookmarked", "cdsTasksIndexID", ""},
        {"", "cdsTasksIndexID", ""},
    };
    for (const auto& row : rows)
        QTest::newRow(*row[0] ? row[0] : "no field") << row[0] << row[1] << row[2];
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
