#include "core/TaskListFixture.h"
#include "dialogs/uFrmDetails.h"
#include "dialogs/uFrmHistory.h"
#include "dialogs/uFrmRepeat.h"
#include "document/TaskUndo.h"
#include "gui/DialogDriver.h"
#include "gui/ViewHost.h"
#include "model/TaskTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

using namespace TaskRecord;

namespace {

template <typename T> T* control(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

// Sets the Repeat window's controls as "name=value" steps say: a combo box takes the item's
// text, a spin box a number, a check box or radio button 1 or 0, a date box an ISO date.
void Set(TfrmRepeat& window, const QString& steps) {
    for (const QString& step : steps.split(u'|', Qt::SkipEmptyParts)) {
        const QString name = step.section(u'=', 0, 0);
        const QString value = step.section(u'=', 1);
        QWidget* widget = window.findChild<QWidget*>(name);
        QVERIFY2(widget, qPrintable(name));
        if (auto* box = qobject_cast<QComboBox*>(widget))
            box->setCurrentIndex(box->findText(value));
        else if (auto* spin = qobject_cast<QSpinBox*>(widget))
            spin->setValue(value.toInt());
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setChecked(value == u"1");
        else if (auto* date = qobject_cast<QDateEdit*>(widget))
            date->setDate(QDate::fromString(value, Qt::ISODate));
    }
}

QString Lines(QString text) {
    return text.replace(u'/', u'\n');
}

} // namespace

class TestRepeat : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { PinLocaleAndClock(); } // today: Wednesday 3/12/2025
    void window_data();
    void window();
    void seriesThroughTheView();
    void detailsSetsAndTells();
};

void TestRepeat::window_data() {
    QTest::addColumn<QString>("properties");
    QTest::addColumn<QString>("due");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("after"); // the Properties OK gives
    QTest::addColumn<QString>("afterDue");
    QTest::addColumn<QString>("next");
    AddTextRows({
        {"weekly on two days", "A=1", "2025-03-12", "cbFrequency=Weekly|cbDay3=0|cbDay1=1|cbDay4=1",
         "A=1/RRULE=FREQ=WEEKLY;BYDAY=MO,TH", "2025-03-12",
         "Due 3/12/2025. Then 3/13/2025, 3/17/2025, 3/20/2025."},
        {"monthly on the last Friday, four times", "", "2025-03-28",
         "cbFrequency=Monthly|rbNthWeekday=1|cbNth=last|cbWeekday=Friday|rbCount=1|edtCount=4",
         "RRULE=FREQ=MONTHLY;BYDAY=-1FR;COUNT=4", "2025-03-28",
         "Due 3/28/2025. Then 4/25/2025, 5/30/2025, 6/27/2025."},
        {"every 3 days from when done", "", "2025-03-01",
         "cbFrequency=Daily|edtInterval=3|rbFromDone=1",
         "RRULE=FREQ=DAILY;INTERVAL=3/REPEAT-FROM=COMPLETION", "2025-03-01",
         "Due 3/1/2025. Done today, then due 3/15/2025, 3/18/2025, 3/21/2025."},
        {"the last time", "RRULE=FREQ=DAILY;COUNT=1", "2025-03-12", "", "RRULE=FREQ=DAILY;COUNT=1",
         "2025-03-12", "Due 3/12/2025. That is the last time."},
        {"a rule it cannot show is kept byte for byte", "x=1/RRULE=FREQ=DAILY;BYHOUR=9,17/y",
         "2025-03-12", "", "x=1/RRULE=FREQ=DAILY;BYHOUR=9,17/y", "2025-03-12",
         "Due 3/12/2025. Then 3/13/2025, 3/14/2025, 3/15/2025."},
        {"a rule shown, left as it was", "rrule = freq=weekly;byday=th,mo", "2025-03-13", "",
         "rrule = freq=weekly;byday=th,mo", "2025-03-13",
         "Due 3/13/2025. Then 3/17/2025, 3/20/2025, 3/24/2025."},
        {"a rule it cannot show, replaced by choice", "RRULE=FREQ=DAILY;BYHOUR=9", "2025-03-12",
         "cbFrequency=Yearly", "RRULE=FREQ=YEARLY", "2025-03-12",
         "Due 3/12/2025. Then 3/12/2026, 3/12/2027, 3/12/2028."},
        {"no longer repeating", "A=1/RRULE=FREQ=DAILY/REPEAT-FROM=COMPLETION/B=2", "2025-03-12",
         "cbFrequency=Does not repeat", "A=1/B=2", "2025-03-12", "The task does not repeat."},
        {"no due date: the first date of the series", "", "",
         "cbFrequency=Weekly|cbDay3=0|cbDay5=1|dtFirstDue=2025-03-12", "RRULE=FREQ=WEEKLY;BYDAY=FR",
         "2025-03-14", "Due 3/14/2025. Then 3/21/2025, 3/28/2025, 4/4/2025."},
    });
}

void TestRepeat::window() {
    QFETCH(QString, properties);
    QFETCH(QString, due);
    QFETCH(QString, steps);
    QFETCH(QString, after);
    QFETCH(QString, afterDue);
    QFETCH(QString, next);
    TfrmRepeat window;
    const QString before = Lines(properties);
    WhenShown(&window, [&] {
        Set(window, steps);
        QCOMPARE(window.nextText(), next);
        // A rule shown as text cannot be typed over.
        auto* rule = control<QLineEdit>(window, "edtRule");
        QCOMPARE(rule->isVisible(),
                 window.setting().properties == before && before.contains(QLatin1String("BYHOUR")));
        QVERIFY(rule->isReadOnly());
        CloseBy(window, QStringLiteral("btnOK"));
    });
    const std::optional<TaskCommands::RepeatSetting> setting =
        window.ask(before, QDate::fromString(due, Qt::ISODate));
    QVERIFY(setting);
    QCOMPARE(setting->properties, Lines(after));
    QCOMPARE(setting->due.toString(Qt::ISODate), afterDue);

    // Cancel gives nothing.
    WhenShown(&window, [&] { CloseBy(window, QStringLiteral("escape")); });
    QVERIFY(!window.ask(before, QDate::fromString(due, Qt::ISODate)));
}

// A weekly task made repeating through the view's command and its window, completed three
// times, skipped once; its history lists the three done occurrences.
void TestRepeat::seriesThroughTheView() {
    ViewHost host;
    TfrmRepeat repeat;
    TfrmHistory history;
    TaskViewServices services;
    services.askRepeat = [&](const QString& properties, const QDate& due) {
        return repeat.ask(properties, due);
    };
    host.view->SetServices(services);
    host.add({QStringLiteral("water the plants"), QStringLiteral("other")});
    host.table().first();
    host.table().edit();
    host.table().setDate(DueDate, QDate(2025, 3, 10));
    host.table().post();

    WhenShown(&repeat, [&] {
        Set(repeat, QStringLiteral("cbFrequency=Weekly"));
        CloseBy(repeat, QStringLiteral("btnOK"));
    });
    host.view->Repeat1Click();
    QCOMPARE(host.cell(0, QStringLiteral("Repeat")).data().toString(),
             QStringLiteral("Every week on Mon"));

    for (int i = 1; i <= 3; ++i) {
        host.view->actCompleteExecute();
        QCOMPARE(host.currentTask(), QStringLiteral("water the plants"));
        QCOMPARE(host.table().asDate(DueDate), QDate(2025, 3, 10).addDays(7 * i));
        QCOMPARE(host.table().asString(Status), NotStarted);
        QCOMPARE(host.view->NoteText(),
                 QStringLiteral("Done. Next due on %1.")
                     .arg(uGeneral::FormatShortDate(QDate(2025, 3, 10).addDays(7 * i))));
    }
    host.view->SkipOccurrence1Click();
    QCOMPARE(host.table().asDate(DueDate), QDate(2025, 4, 7));
    QCOMPARE(host.view->NoteText(), QStringLiteral("Skipped. Next due on 4/7/2025."));

    history.load(host.table(), host.table().currentRow());
    QVERIFY2(history.headingText().endsWith(QStringLiteral(": done 3 times, last on 3/12/2025")),
             qPrintable(history.headingText()));
    control<QCheckBox>(history, "cbDoneOnly")->click();
    QCOMPARE(history.versionCount(), 3);

    // One undo takes the skip back; the next the third completion, both of its changes.
    host.view->Undo1Click();
    QCOMPARE(host.table().asDate(DueDate), QDate(2025, 3, 31));
    host.view->Undo1Click();
    QCOMPARE(host.table().asDate(DueDate), QDate(2025, 3, 24));
    QCOMPARE(host.table().asString(Status), NotStarted);
    QCOMPARE(host.table().recordCount(), 2); // nothing duplicated
}

void TestRepeat::detailsSetsAndTells() {
    ViewHost host;
    TfrmRepeat repeat;
    TfrmDetails details;
    details.SetRepeatWindow(&repeat);
    host.add({QStringLiteral("pay rent")});
    host.table().first();
    WhenShown(&details, [&] {
        WhenShown(&repeat, [&] {
            Set(repeat, QStringLiteral("cbFrequency=Monthly|rbDayOfMonth=1|cbMonthDay=1|"
                                       "dtFirstDue=2025-03-12"));
            CloseBy(repeat, QStringLiteral("btnOK"));
        });
        control<QPushButton>(details, "btnRepeat")->click();
        QCOMPARE(control<QLabel>(details, "lblSeries")->text(),
                 QStringLiteral("Monthly on day 1; not done yet"));
        CloseBy(details, QStringLiteral("btnOK"));
    });
    QVERIFY(details.execute(host.table()));
    QCOMPARE(host.table().asString(Properties), QStringLiteral("RRULE=FREQ=MONTHLY;BYMONTHDAY=1"));
    QCOMPARE(host.table().asDate(DueDate), QDate(2025, 4, 1));
    host.view->actCompleteExecute();
    QCOMPARE(host.table().asDate(DueDate), QDate(2025, 5, 1));
    details.setTable(&host.table());
    details.Rebuild();
    QCOMPARE(details.SeriesText(),
             QStringLiteral("Monthly on day 1; done once, last on 3/12/2025"));
}

QTEST_MAIN(TestRepeat)
#include "tst_repeat.moc"
