#include "dialogs/uFrmRepeat.h"

#include "base/DatesAndClock.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using Pattern = Recurrence::Pattern;

const QStringList& ChoiceTexts() {
    static const QStringList texts{
        QStringLiteral("Does not repeat"), QStringLiteral("Daily"),
        QStringLiteral("Every weekday"),   QStringLiteral("Weekly"),
        QStringLiteral("Monthly"),         QStringLiteral("Yearly"),
        QStringLiteral("Custom rule"),
    };
    return texts;
}

const QStringList& DayNames() {
    static const QStringList names{
        QStringLiteral("Monday"),   QStringLiteral("Tuesday"), QStringLiteral("Wednesday"),
        QStringLiteral("Thursday"), QStringLiteral("Friday"),  QStringLiteral("Saturday"),
        QStringLiteral("Sunday"),
    };
    return names;
}

QString DateText(const QDate& day) {
    return uGeneral::FormatShortDate(day);
}

template <class Widget> Widget* Named(Widget* widget, const QString& name, const QString& spoken) {
    widget->setObjectName(name);
    widget->setAccessibleName(spoken);
    return widget;
}

QDateEdit* DateBox(const QString& name, const QString& spoken) {
    auto* box = Named(new QDateEdit, name, spoken);
    box->setCalendarPopup(true);
    box->setDisplayFormat(uGeneral::ShortDateFormat());
    return box;
}

} // namespace

TfrmRepeat::TfrmRepeat(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmRepeat"), QStringLiteral("Repeat"), QSize(430, 420),
          Frame::Fixed);
    auto* layout = new QVBoxLayout(this);
    // The window is as large as what the choice shows, and grows and shrinks with it.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* top = new QHBoxLayout;
    auto* repeats = new QLabel(QStringLiteral("&Repeats"));
    cbFrequency = Named(new QComboBox, QStringLiteral("cbFrequency"), QStringLiteral("Repeats"));
    cbFrequency->addItems(ChoiceTexts().mid(0, Custom));
    repeats->setBuddy(cbFrequency);
    lblEvery = new QLabel(QStringLiteral("every"));
    edtInterval = Named(new QSpinBox, QStringLiteral("edtInterval"), QStringLiteral("Every"));
    edtInterval->setRange(1, 999);
    lblEvery->setBuddy(edtInterval);
    lblUnit = new QLabel;
    lblUnit->setObjectName(QStringLiteral("lblUnit"));
    for (QWidget* w :
         std::initializer_list<QWidget*>{repeats, cbFrequency, lblEvery, edtInterval, lblUnit})
        top->addWidget(w);
    top->addStretch();
    layout->addLayout(top);

    pnlDays = new QWidget;
    pnlDays->setObjectName(QStringLiteral("pnlDays"));
    auto* days = new QHBoxLayout(pnlDays);
    days->setContentsMargins(0, 0, 0, 0);
    for (int d = 0; d < 7; ++d) {
        cbDays[std::size_t(d)] = Named(new QCheckBox(DayNames()[d].left(3)),
                                       QStringLiteral("cbDay%1").arg(d + 1), DayNames()[d]);
        days->addWidget(cbDays[std::size_t(d)]);
    }
    days->addStretch();
    layout->addWidget(pnlDays);

    pnlMonth = new QWidget;
    pnlMonth->setObjectName(QStringLiteral("pnlMonth"));
    auto* month = new QGridLayout(pnlMonth);
    month->setContentsMargins(0, 0, 0, 0);
    rbSameDay = Named(new QRadioButton(QStringLiteral("On the due date's day")),
                      QStringLiteral("rbSameDay"), QStringLiteral("On the due date's day"));
    rbDayOfMonth = Named(new QRadioButton(QStringLiteral("On day")), QStringLiteral("rbDayOfMonth"),
                         QStringLiteral("On day"));
    cbMonthDay =
        Named(new QComboBox, QStringLiteral("cbMonthDay"), QStringLiteral("Day of the month"));
    for (int d = 1; d <= 31; ++d)
        cbMonthDay->addItem(QString::number(d), d);
    cbMonthDay->addItem(QStringLiteral("last"), -1);
    cbMonth = Named(new QComboBox, QStringLiteral("cbMonth"), QStringLiteral("Month"));
    static const char* months[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
    for (int m = 1; m <= 12; ++m)
        cbMonth->addItem(QLatin1String(months[m - 1]), m);
    rbNthWeekday = Named(new QRadioButton(QStringLiteral("On the")), QStringLiteral("rbNthWeekday"),
                         QStringLiteral("On the weekday"));
    cbNth = Named(new QComboBox, QStringLiteral("cbNth"), QStringLiteral("Which"));
    for (const auto& [text, nth] : std::initializer_list<std::pair<const char*, int>>{
             {"first", 1}, {"second", 2}, {"third", 3}, {"fourth", 4}, {"last", -1}})
        cbNth->addItem(QLatin1String(text), nth);
    cbWeekday = Named(new QComboBox, QStringLiteral("cbWeekday"), QStringLiteral("Weekday"));
    cbWeekday->addItems(DayNames());
    month->addWidget(rbSameDay, 0, 0, 1, 3);
    month->addWidget(rbDayOfMonth, 1, 0);
    month->addWidget(cbMonthDay, 1, 1);
    month->addWidget(cbMonth, 1, 2);
    month->addWidget(rbNthWeekday, 2, 0);
    month->addWidget(cbNth, 2, 1);
    month->addWidget(cbWeekday, 2, 2);
    month->setColumnStretch(3, 1);
    layout->addWidget(pnlMonth);

    edtRule = Named(new QLineEdit, QStringLiteral("edtRule"), QStringLiteral("Rule"));
    edtRule->setReadOnly(true);
    edtRule->setToolTip(QStringLiteral("A rule this window cannot show is kept as it is"));
    layout->addWidget(edtRule);

    grpEnds = new QGroupBox(QStringLiteral("Ends"));
    grpEnds->setObjectName(QStringLiteral("grpEnds"));
    auto* ends = new QGridLayout(grpEnds);
    rbNever = Named(new QRadioButton(QStringLiteral("Never")), QStringLiteral("rbNever"),
                    QStringLiteral("Never"));
    rbUntil = Named(new QRadioButton(QStringLiteral("On")), QStringLiteral("rbUntil"),
                    QStringLiteral("On a day"));
    dtUntil = DateBox(QStringLiteral("dtUntil"), QStringLiteral("Last day"));
    rbCount = Named(new QRadioButton(QStringLiteral("After")), QStringLiteral("rbCount"),
                    QStringLiteral("After a number of times"));
    edtCount = Named(new QSpinBox, QStringLiteral("edtCount"), QStringLiteral("Times"));
    edtCount->setRange(1, 9999);
    auto* times = new QLabel(QStringLiteral("times"));
    times->setBuddy(edtCount);
    ends->addWidget(rbNever, 0, 0);
    ends->addWidget(rbUntil, 1, 0);
    ends->addWidget(dtUntil, 1, 1);
    ends->addWidget(rbCount, 2, 0);
    ends->addWidget(edtCount, 2, 1);
    ends->addWidget(times, 2, 2);
    ends->setColumnStretch(3, 1);
    layout->addWidget(grpEnds);

    grpFrom = new QGroupBox(QStringLiteral("The next date counts"));
    grpFrom->setObjectName(QStringLiteral("grpFrom"));
    auto* from = new QVBoxLayout(grpFrom);
    rbFromDue = Named(new QRadioButton(QStringLiteral("From the due date")),
                      QStringLiteral("rbFromDue"), QStringLiteral("From the due date"));
    rbFromDone = Named(new QRadioButton(QStringLiteral("From when the task is done")),
                       QStringLiteral("rbFromDone"), QStringLiteral("From when the task is done"));
    from->addWidget(rbFromDue);
    from->addWidget(rbFromDone);
    layout->addWidget(grpFrom);

    auto* first = new QHBoxLayout;
    lblFirstDue = new QLabel(QStringLiteral("&First due"));
    lblFirstDue->setObjectName(QStringLiteral("lblFirstDue"));
    dtFirstDue = DateBox(QStringLiteral("dtFirstDue"), QStringLiteral("First due"));
    lblFirstDue->setBuddy(dtFirstDue);
    first->addWidget(lblFirstDue);
    first->addWidget(dtFirstDue);
    first->addStretch();
    layout->addLayout(first);

    lblNext = new QLabel;
    lblNext->setObjectName(QStringLiteral("lblNext"));
    lblNext->setWordWrap(true);
    lblNext->setTextFormat(Qt::PlainText);
    lblNext->setMinimumWidth(400);
    layout->addWidget(lblNext);
    layout->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton* ok = AddButton(this, QStringLiteral("btnOK"), QStringLiteral("OK"), {0, 0});
    ok->setDefault(true);
    QPushButton* cancel =
        AddButton(this, QStringLiteral("btnCancel"), QStringLiteral("Cancel"), {0, 0});
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    ConnectGuarded(ok, &QPushButton::clicked, this, &TfrmRepeat::btnOKClick);
    ConnectGuarded(cancel, &QPushButton::clicked, this, &TfrmRepeat::btnCancelClick);

    const auto changed = [this] { RunGuarded([this] { showChoice(); }); };
    connect(cbFrequency, &QComboBox::currentIndexChanged, this, changed);
    for (QComboBox* box : {cbMonthDay, cbMonth, cbNth, cbWeekday})
        connect(box, &QComboBox::currentIndexChanged, this, changed);
    for (QSpinBox* box : {edtInterval, edtCount})
        connect(box, &QSpinBox::valueChanged, this, changed);
    for (QDateEdit* box : {dtUntil, dtFirstDue})
        connect(box, &QDateEdit::dateChanged, this, changed);
    for (QCheckBox* box : cbDays)
        connect(box, &QCheckBox::toggled, this, changed);
    for (QRadioButton* button :
         {rbSameDay, rbDayOfMonth, rbNthWeekday, rbNever, rbUntil, rbCount, rbFromDue, rbFromDone})
        connect(button, &QRadioButton::toggled, this, changed);
}

TfrmRepeat::~TfrmRepeat() = default;

std::optional<TaskCommands::RepeatSetting> TfrmRepeat::ask(const QString& properties,
                                                           const QDate& due) {
    load(properties, due);
    cbFrequency->setFocus();
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return setting();
}

void TfrmRepeat::load(const QString& properties, const QDate& due) {
    m_properties = properties;
    m_due = due;
    m_loaded = Recurrence::SeriesOf(properties);
    m_loadedPattern = m_loaded ? Recurrence::PatternOf(m_loaded->rule) : std::nullopt;
    dtFirstDue->setDate(uGeneral::Today());

    // A new series starts on the due date's weekday and day, as most people mean it; the choices
    // a loaded rule does not make start so too.
    const QDate day = anchor().isValid() ? anchor() : uGeneral::Today();
    Pattern shown = m_loadedPattern.value_or(Pattern());
    if (!m_loadedPattern) {
        shown.weekdays = {day.dayOfWeek()};
        shown.monthDay = day.day();
        shown.month = day.month();
        shown.weekday = day.dayOfWeek();
        shown.nth = day.day() + 7 > day.daysInMonth() ? -1 : (day.day() - 1) / 7 + 1;
    }
    if (shown.end != Pattern::Until)
        shown.until = day.addMonths(3);
    if (shown.end != Pattern::Count)
        shown.count = 10;
    const QSignalBlocker block(cbFrequency);
    while (cbFrequency->count() > Custom)
        cbFrequency->removeItem(Custom);
    setPattern(shown);
    if (m_loaded && !m_loadedPattern) {
        cbFrequency->addItem(ChoiceTexts()[Custom]);
        cbFrequency->setCurrentIndex(Custom);
        edtRule->setText(m_loaded->rule);
    } else if (!m_loaded) {
        cbFrequency->setCurrentIndex(NoRepeat);
    }
    (m_loaded && m_loaded->fromCompletion ? rbFromDone : rbFromDue)->setChecked(true);
    showChoice();
}

void TfrmRepeat::setPattern(const Pattern& p) {
    static const Choice choices[] = {Daily, Weekdays, Weekly, Monthly, Yearly};
    cbFrequency->setCurrentIndex(choices[p.frequency]);
    edtInterval->setValue(p.interval);
    for (int d = 0; d < 7; ++d)
        cbDays[std::size_t(d)]->setChecked(std::count(p.weekdays.begin(), p.weekdays.end(), d + 1));
    (p.monthBy == Pattern::DayOfMonth   ? rbDayOfMonth
     : p.monthBy == Pattern::NthWeekday ? rbNthWeekday
                                        : rbSameDay)
        ->setChecked(true);
    cbMonthDay->setCurrentIndex(std::max(0, cbMonthDay->findData(p.monthDay)));
    cbMonth->setCurrentIndex(std::max(0, cbMonth->findData(p.month)));
    cbNth->setCurrentIndex(std::max(0, cbNth->findData(p.nth)));
    cbWeekday->setCurrentIndex(std::clamp(p.weekday, 1, 7) - 1);
    (p.end == Pattern::Until   ? rbUntil
     : p.end == Pattern::Count ? rbCount
                               : rbNever)
        ->setChecked(true);
    dtUntil->setDate(p.until.isValid() ? p.until : uGeneral::Today().addMonths(3));
    edtCount->setValue(p.count);
}

Recurrence::Pattern TfrmRepeat::pattern() const {
    static const Pattern::Frequency frequencies[] = {Pattern::Weekly,   Pattern::Daily,
                                                     Pattern::Weekdays, Pattern::Weekly,
                                                     Pattern::Monthly,  Pattern::Yearly};
    Pattern p;
    p.frequency = frequencies[std::clamp(cbFrequency->currentIndex(), 0, int(Yearly))];
    p.interval = p.frequency == Pattern::Weekdays ? 1 : edtInterval->value();
    if (p.frequency == Pattern::Weekly)
        for (int d = 0; d < 7; ++d)
            if (cbDays[std::size_t(d)]->isChecked())
                p.weekdays.push_back(d + 1);
    if (p.frequency == Pattern::Monthly || p.frequency == Pattern::Yearly) {
        p.monthBy = rbDayOfMonth->isChecked() ? Pattern::DayOfMonth
                    : rbNthWeekday->isChecked() && p.frequency == Pattern::Monthly
                        ? Pattern::NthWeekday
                        : Pattern::SameDay;
        p.monthDay = cbMonthDay->currentData().toInt();
        // A day of the year is a day of a month: the last day is the month's own.
        if (p.frequency == Pattern::Yearly && p.monthDay < 0)
            p.monthDay = QDate(2024, cbMonth->currentData().toInt(), 1).daysInMonth();
        p.month = cbMonth->currentData().toInt();
        p.nth = cbNth->currentData().toInt();
        p.weekday = cbWeekday->currentIndex() + 1;
    }
    p.end = rbUntil->isChecked()   ? Pattern::Until
            : rbCount->isChecked() ? Pattern::Count
                                   : Pattern::Never;
    p.until = dtUntil->date();
    p.count = edtCount->value();
    return p;
}

std::optional<QString> TfrmRepeat::rule() const {
    const int choice = cbFrequency->currentIndex();
    if (choice == NoRepeat)
        return std::nullopt;
    if (choice == Custom && m_loaded)
        return m_loaded->rule;
    const Pattern p = pattern();
    // A rule shown as it was stays as it was written, byte for byte.
    if (m_loaded && m_loadedPattern && *m_loadedPattern == p)
        return m_loaded->rule;
    return Recurrence::RuleOf(p);
}

QDate TfrmRepeat::anchor() const {
    return m_due.isValid() ? m_due : dtFirstDue->date();
}

TaskCommands::RepeatSetting TfrmRepeat::setting() const {
    TaskCommands::RepeatSetting setting;
    const std::optional<QString> made = rule();
    std::optional<Recurrence::Series> series;
    if (made)
        series = Recurrence::Series{*made, rbFromDone->isChecked()};
    setting.properties = Recurrence::WithSeries(m_properties, series);
    setting.due = m_due;
    // A series needs a due date: the first date of the rule from the day chosen.
    if (!m_due.isValid() && made) {
        const QDate from = dtFirstDue->date();
        const std::vector<QDate> first = Recurrence::DatesAfter(*made, from, from.addDays(-1), 1);
        setting.due = first.empty() ? from : first.front();
    }
    return setting;
}

void TfrmRepeat::showChoice() {
    const int choice = cbFrequency->currentIndex();
    const bool repeats = choice != NoRepeat;
    const bool custom = choice == Custom;
    static const char* units[] = {"", "day", "", "week", "month", "year"};
    const bool counted = repeats && !custom && choice != Weekdays;
    lblEvery->setVisible(counted);
    edtInterval->setVisible(counted);
    lblUnit->setVisible(counted);
    if (counted)
        lblUnit->setText(QLatin1String(units[choice]) +
                         (edtInterval->value() == 1 ? QString() : QStringLiteral("s")));
    pnlDays->setVisible(choice == Weekly);
    pnlMonth->setVisible(choice == Monthly || choice == Yearly);
    cbMonth->setVisible(choice == Yearly);
    rbNthWeekday->setVisible(choice == Monthly);
    cbNth->setVisible(choice == Monthly);
    cbWeekday->setVisible(choice == Monthly);
    edtRule->setVisible(custom);
    grpEnds->setVisible(repeats && !custom);
    dtUntil->setEnabled(rbUntil->isChecked());
    edtCount->setEnabled(rbCount->isChecked());
    grpFrom->setVisible(repeats);
    lblFirstDue->setVisible(repeats && !m_due.isValid());
    dtFirstDue->setVisible(repeats && !m_due.isValid());
    showNext();
}

void TfrmRepeat::showNext() {
    lblNext->setText(nextText());
}

QString TfrmRepeat::nextText() const {
    const std::optional<QString> made = rule();
    if (!made)
        return QStringLiteral("The task does not repeat.");
    if (!Recurrence::IsValid(*made))
        return QStringLiteral("The rule cannot be read: the task is done once.");
    const TaskCommands::RepeatSetting now = setting();
    const bool fromDone = rbFromDone->isChecked();
    const QDate due = now.due;
    // The occurrences after the current one, as many as the rule has left (three at most).
    int more = 3;
    if (const std::optional<int> left = Recurrence::CountOf(*made))
        more = std::min(more, *left - 1);
    const QDate start = fromDone ? uGeneral::Today() : due;
    const std::vector<QDate> next =
        more > 0 ? Recurrence::DatesAfter(*made, start, start, more) : std::vector<QDate>();
    QStringList days;
    for (const QDate& day : next)
        days << DateText(day);
    QString text = QStringLiteral("Due %1. ").arg(DateText(due));
    if (days.isEmpty())
        return text + QStringLiteral("That is the last time.");
    return text + (fromDone ? QStringLiteral("Done today, then due ") : QStringLiteral("Then ")) +
           days.join(QStringLiteral(", ")) + u'.';
}

void TfrmRepeat::btnOKClick() {
    accept();
}

void TfrmRepeat::btnCancelClick() {
    reject();
}
