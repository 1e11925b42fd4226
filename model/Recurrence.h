#pragma once

#include <QDate>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// Tasks that repeat. A task repeats when a line of its Properties holds an iCalendar recurrence
// rule, "RRULE=<value>" (the value as in an iCalendar RRULE line, e.g. FREQ=WEEKLY;BYDAY=MO,TH);
// "REPEAT-FROM=COMPLETION" makes the next date count from the day the task is done instead of
// from its due date. The rule is read, checked and expanded by libical; the task's DueDate is
// where the series stands, so the dates of a rule always run from a day given here.
namespace Recurrence {

inline const QString RuleName = QStringLiteral("RRULE");
inline const QString FromName = QStringLiteral("REPEAT-FROM");
inline const QString FromCompletion = QStringLiteral("COMPLETION");

// What a task's Properties say of its repeating.
struct Series {
    QString rule; // as stored, never rewritten but for COUNT counting down
    bool fromCompletion = false;
};
// None when the Properties hold no RRULE line, or an empty one.
std::optional<Series> SeriesOf(const QString& properties);
// The Properties with the series set (the rule line replaced or added, REPEAT-FROM added or
// removed), or with both lines removed when series is none; every other line as it was.
QString WithSeries(const QString& properties, const std::optional<Series>& series);

// Whether libical reads the rule as a recurrence rule.
bool IsValid(const QString& rule);
// The number of occurrences left that the rule's COUNT says (the current one included); none
// when it has no COUNT.
std::optional<int> CountOf(const QString& rule);
// The rule with its COUNT one less: only the digits change.
QString CountedDown(const QString& rule);

// The days of the rule anchored at `anchor` (its first possible day) that come after `after`,
// at most `count` of them, earliest first; UNTIL ends them, COUNT does not (the caller counts).
// Several occurrences on one day (a rule by the hour) are one day. Empty for a rule libical
// cannot read.
std::vector<QDate> DatesAfter(const QString& rule, const QDate& anchor, const QDate& after,
                              int count);

// Where a series goes when its current occurrence is done or skipped on `today`: from its due
// date (the rule anchored there, the first day after it) or from `today` (the rule anchored on
// today, the first day after it). None when the series has ended there: COUNT says this was the
// last, UNTIL lies before the next day, a series from its due date has no due date, or the rule
// cannot be read.
std::optional<QDate> NextDue(const Series& series, const QDate& due, const QDate& today);

// A rule as the Repeat window shows and makes it. Rules with anything else (BYSETPOS, BYHOUR,
// several days of the month, a frequency below a day, ...) have no pattern: they are kept as
// they are and shown as text.
struct Pattern {
    enum Frequency { Daily, Weekdays, Weekly, Monthly, Yearly };
    enum MonthBy { SameDay, DayOfMonth, NthWeekday };
    enum End { Never, Until, Count };

    Frequency frequency = Weekly;
    int interval = 1;
    std::vector<int> weekdays; // Weekly: 1 Monday to 7 Sunday, ascending; empty: the due's day
    MonthBy monthBy = SameDay; // Monthly, Yearly
    int monthDay = 1;          // DayOfMonth: 1 to 31, -1 the last day
    int nth = 1;               // NthWeekday: 1 to 4, -1 the last
    int weekday = 1;           // NthWeekday: 1 Monday to 7 Sunday
    int month = 0;             // Yearly with DayOfMonth: 1 to 12
    End end = Never;
    QDate until;
    int count = 1;

    bool operator==(const Pattern& other) const;
};
std::optional<Pattern> PatternOf(const QString& rule);
QString RuleOf(const Pattern& pattern);

// How a person would say it: "Every week on Mon, Thu", "Every 3 days after done", "Monthly on
// the last Friday, 4 left"; a rule without a pattern as "Custom: <rule>", an unreadable one as
// "Invalid rule: <rule>".
QString Describe(const Series& series);

// The "Repeat" column of a task, from its Properties as rows keep them (UTF-8): empty for a task
// that does not repeat.
QString ColumnText(std::string_view properties);
// Its order: how long the time between two occurrences is on average (a day before a week
// before a month; a rule from completion after one from the due date), an unreadable rule last;
// none for a task that does not repeat.
std::optional<std::int64_t> SortKey(std::string_view properties);

} // namespace Recurrence
