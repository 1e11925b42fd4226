#include "model/Recurrence.h"

#include "base/DatesAndClock.h"
#include "model/TaskProperties.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <libical/ical.h>

#include <algorithm>
#include <array>
#include <limits>

namespace {

// A rule as libical reads it, its RSCALE name (the one thing libical allocates) freed with it.
class ParsedRule {
public:
    explicit ParsedRule(const QString& rule) {
        // Errors are told by value, never by ending the program, and the error number is left
        // clear for whoever asks next.
        static const bool nonFatal = (icalerror_set_errors_are_fatal(0), true);
        Q_UNUSED(nonFatal);
        const QByteArray text = rule.trimmed().toUtf8();
        // libical reads an empty text as no rule at all, and one with a NUL only up to it.
        if (!text.isEmpty() && !text.contains('\0'))
            m_rule = icalrecurrencetype_from_string(text.constData());
        else
            icalrecurrencetype_clear(&m_rule);
        icalerror_clear_errno();
    }
    ~ParsedRule() {
        if (m_rule.rscale)
            icalmemory_free_buffer(m_rule.rscale);
    }
    ParsedRule(const ParsedRule&) = delete;
    ParsedRule& operator=(const ParsedRule&) = delete;

    bool isValid() const { return m_rule.freq != ICAL_NO_RECURRENCE && m_rule.interval > 0; }
    const icalrecurrencetype& operator*() const { return m_rule; }
    const icalrecurrencetype* operator->() const { return &m_rule; }

private:
    icalrecurrencetype m_rule;
};

// A DATE value. (libical's "null date" marks its time of day -1, which its iterator never gets
// past: the time is midnight here.)
icaltimetype DayValue(const QDate& day) {
    icaltimetype time = icaltime_null_date();
    time.year = day.year();
    time.month = day.month();
    time.day = day.day();
    time.hour = time.minute = time.second = 0;
    return time;
}

bool Representable(const QDate& day) {
    return day.isValid() && day.year() >= 1 && day.year() <= 9999;
}

// The values of one BY list, up to libical's end mark.
template <std::size_t N> std::vector<short> ByList(const short (&list)[N]) {
    std::vector<short> values;
    for (std::size_t i = 0; i < N && list[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
        values.push_back(list[i]);
    return values;
}

// libical numbers the weekdays from Sunday (1); the pattern from Monday (1).
int WeekdayOf(icalrecurrencetype_weekday day) {
    return day == ICAL_SUNDAY_WEEKDAY ? 7 : int(day) - 1;
}
const std::array<const char*, 7> WeekdayCodes{"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
const std::array<const char*, 7> ShortDayNames{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const std::array<const char*, 7> DayNames{"Monday", "Tuesday",  "Wednesday", "Thursday",
                                          "Friday", "Saturday", "Sunday"};
const std::array<const char*, 12> MonthNames{"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};

QString Ordinal(int nth) {
    switch (nth) {
    case 1:
        return QStringLiteral("first");
    case 2:
        return QStringLiteral("second");
    case 3:
        return QStringLiteral("third");
    case 4:
        return QStringLiteral("fourth");
    default:
        return QStringLiteral("last");
    }
}

// The parts of a rule's text by name (upper case); none when one comes twice or a part is not
// NAME=VALUE.
std::optional<QHash<QString, QString>> PartsOf(const QString& rule) {
    QHash<QString, QString> parts;
    for (const QString& part : rule.trimmed().split(u';', Qt::SkipEmptyParts)) {
        const qsizetype equals = part.indexOf(u'=');
        if (equals <= 0)
            return std::nullopt;
        const QString name = part.left(equals).trimmed().toUpper();
        if (parts.contains(name))
            return std::nullopt;
        parts.insert(name, part.mid(equals + 1).trimmed());
    }
    return parts;
}

QDate DateOf(const icaltimetype& time) {
    return icaltime_is_null_time(time) ? QDate() : QDate(time.year, time.month, time.day);
}

// The suffix of a description: from when done, and what is left or the last day (which a rule
// shown as its text tells itself).
QString Ends(const ParsedRule& parsed, bool fromCompletion, bool withEnd) {
    QString text;
    if (fromCompletion)
        text += QStringLiteral(" after done");
    if (!withEnd)
        return text;
    if (parsed->count > 0)
        text += QStringLiteral(", %1 left").arg(parsed->count);
    else if (const QDate until = DateOf(parsed->until); until.isValid())
        text += QStringLiteral(", until ") + uGeneral::FormatShortDate(until);
    return text;
}

QString Every(int interval, const char* one, const char* unit) {
    if (interval == 1)
        return QString::fromLatin1(one);
    return QStringLiteral("Every %1 %2").arg(interval).arg(QLatin1String(unit));
}

QString DescribePattern(const Recurrence::Pattern& p) {
    using P = Recurrence::Pattern;
    switch (p.frequency) {
    case P::Daily:
        return Every(p.interval, "Daily", "days");
    case P::Weekdays:
        return QStringLiteral("Every weekday");
    case P::Weekly: {
        QString text = p.interval == 1 ? QStringLiteral("Every week")
                                       : QStringLiteral("Every %1 weeks").arg(p.interval);
        if (p.weekdays.empty())
            return p.interval == 1 ? QStringLiteral("Weekly") : text;
        QStringList days;
        for (int day : p.weekdays)
            days << QLatin1String(ShortDayNames[std::size_t(day - 1)]);
        return text + QStringLiteral(" on ") + days.join(QStringLiteral(", "));
    }
    case P::Monthly: {
        QString text = Every(p.interval, "Monthly", "months");
        if (p.monthBy == P::DayOfMonth)
            text += p.monthDay < 0 ? QStringLiteral(" on the last day")
                                   : QStringLiteral(" on day %1").arg(p.monthDay);
        else if (p.monthBy == P::NthWeekday)
            text += QStringLiteral(" on the %1 %2")
                        .arg(Ordinal(p.nth), QLatin1String(DayNames[std::size_t(p.weekday - 1)]));
        return text;
    }
    case P::Yearly: {
        QString text = Every(p.interval, "Yearly", "years");
        if (p.monthBy == P::DayOfMonth)
            text += QStringLiteral(" on %1 %2")
                        .arg(p.monthDay)
                        .arg(QLatin1String(MonthNames[std::size_t(p.month - 1)]));
        return text;
    }
    }
    return QString();
}

// Seconds in one period of a frequency, a month and a year as long as they are on average.
std::int64_t PeriodSeconds(icalrecurrencetype_frequency frequency) {
    switch (frequency) {
    case ICAL_SECONDLY_RECURRENCE:
        return 1;
    case ICAL_MINUTELY_RECURRENCE:
        return 60;
    case ICAL_HOURLY_RECURRENCE:
        return 3600;
    case ICAL_DAILY_RECURRENCE:
        return 86400;
    case ICAL_WEEKLY_RECURRENCE:
        return 7 * 86400;
    case ICAL_MONTHLY_RECURRENCE:
        return 2629800;
    default:
        return 31557600;
    }
}

// The first day of the rule anchored at `anchor` on or after `from`; none past its end. Each
// look is an iterator of its own set to start there, so a task overdue for years, and a rule by
// the second, cost one step.
std::optional<QDate> FirstOnOrAfter(const icalrecurrencetype& rule, const QDate& anchor,
                                    const QDate& from) {
    if (!Representable(anchor) || !Representable(from))
        return std::nullopt;
    icalrecurrencetype uncounted = rule;
    uncounted.count = 0; // counted by the caller: the anchor moves on with every occurrence
    icalrecur_iterator* iterator = icalrecur_iterator_new(uncounted, DayValue(anchor));
    if (!iterator) {
        icalerror_clear_errno();
        return std::nullopt;
    }
    std::optional<QDate> found;
    if (from <= anchor || icalrecur_iterator_set_start(iterator, DayValue(from))) {
        // A rule by the hour gives a day several times, and a start inside a day may give that
        // day's earlier times: a few steps at most reach the day asked.
        for (int step = 0; step < 1000; ++step) {
            const icaltimetype next = icalrecur_iterator_next(iterator);
            if (icaltime_is_null_time(next))
                break;
            const QDate day = DateOf(next);
            if (day.isValid() && day >= from) {
                found = day;
                break;
            }
        }
    }
    icalrecur_iterator_free(iterator);
    icalerror_clear_errno();
    return found;
}

// Most tasks hold no rule: their Properties are not read as text unless they name one.
bool MayHoldRule(std::string_view properties) {
    constexpr std::string_view name = "rrule";
    for (std::size_t at = 0; at + name.size() <= properties.size(); ++at) {
        std::size_t i = 0;
        while (i < name.size() && (properties[at + i] | 0x20) == name[i])
            ++i;
        if (i == name.size())
            return true;
    }
    return false;
}

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view text, std::string_view lowerName) {
    if (text.size() != lowerName.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((text[i] | 0x20) != lowerName[i] && text[i] != lowerName[i])
            return false;
    return true;
}

// A series as the bytes a row keeps say it, read as SeriesOf reads a text (the first line of
// each name), without making texts of them: the rule's bytes and whether it counts from
// completion. As the key of what is worked out from it, the two together.
std::optional<QByteArray> RawSeriesKey(std::string_view properties) {
    if (!MayHoldRule(properties))
        return std::nullopt;
    std::optional<std::string_view> rule;
    std::optional<bool> fromCompletion;
    std::size_t start = 0;
    while (start < properties.size()) {
        std::size_t end = properties.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = properties.size();
        const std::string_view line = properties.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view name = Trimmed(line.substr(0, equals));
        const std::string_view value = Trimmed(line.substr(equals + 1));
        if (!rule && SameName(name, "rrule"))
            rule = value;
        else if (!fromCompletion && SameName(name, "repeat-from"))
            fromCompletion = SameName(value, "completion");
    }
    if (!rule || rule->empty())
        return std::nullopt;
    QByteArray key(rule->data(), qsizetype(rule->size()));
    key += fromCompletion.value_or(false) ? '\1' : '\0';
    return key;
}

Recurrence::Series SeriesOfKey(const QByteArray& key) {
    return {QString::fromUtf8(key.left(key.size() - 1)), key.endsWith('\1')};
}

// What a column shows and sorts on is worked out once per rule: many tasks share one, and a
// rule is read by libical each time otherwise. A few thousand rules are kept, then forgotten.
template <class Value>
const Value& Remembered(QHash<QByteArray, Value>& known, const QByteArray& key,
                        Value (*make)(const QByteArray& key)) {
    auto it = known.constFind(key);
    if (it == known.cend()) {
        if (known.size() >= 4096)
            known.clear();
        it = known.insert(key, make(key));
    }
    return *it;
}

QString TextOfKey(const QByteArray& key) {
    return Recurrence::Describe(SeriesOfKey(key));
}

std::int64_t SortKeyOfKey(const QByteArray& key) {
    const Recurrence::Series series = SeriesOfKey(key);
    const ParsedRule parsed(series.rule);
    if (!parsed.isValid())
        return std::numeric_limits<std::int64_t>::max();
    std::int64_t seconds = PeriodSeconds(parsed->freq) * parsed->interval;
    // Several days a week come more often than one.
    if (parsed->freq == ICAL_WEEKLY_RECURRENCE)
        seconds /= std::max<std::int64_t>(1, std::int64_t(ByList(parsed->by_day).size()));
    return seconds * 2 + (series.fromCompletion ? 1 : 0);
}

} // namespace

namespace Recurrence {

std::optional<Series> SeriesOf(const QString& properties) {
    const std::optional<QString> rule = TaskProperties::Value(properties, RuleName);
    if (!rule || rule->isEmpty())
        return std::nullopt;
    const std::optional<QString> from = TaskProperties::Value(properties, FromName);
    return Series{*rule, from && from->compare(FromCompletion, Qt::CaseInsensitive) == 0};
}

QString WithSeries(const QString& properties, const std::optional<Series>& series) {
    QString text = TaskProperties::WithValue(properties, RuleName,
                                             series ? std::optional(series->rule) : std::nullopt);
    const bool from = series && series->fromCompletion;
    const std::optional<QString> was = TaskProperties::Value(text, FromName);
    if (from != (was && was->compare(FromCompletion, Qt::CaseInsensitive) == 0))
        text = TaskProperties::WithValue(text, FromName,
                                         from ? std::optional(FromCompletion) : std::nullopt);
    return text;
}

bool IsValid(const QString& rule) {
    return ParsedRule(rule).isValid();
}

std::optional<int> CountOf(const QString& rule) {
    const ParsedRule parsed(rule);
    if (!parsed.isValid() || parsed->count <= 0)
        return std::nullopt;
    return parsed->count;
}

QString CountedDown(const QString& rule) {
    static const QRegularExpression count(QStringLiteral("(^|;)\\s*COUNT\\s*=\\s*(\\d+)"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = count.match(rule);
    if (!match.hasMatch())
        return rule;
    const int left = match.captured(2).toInt();
    QString result = rule;
    return result.replace(match.capturedStart(2), match.capturedLength(2),
                          QString::number(std::max(1, left - 1)));
}

std::vector<QDate> DatesAfter(const QString& rule, const QDate& anchor, const QDate& after,
                              int count) {
    std::vector<QDate> days;
    const ParsedRule parsed(rule);
    if (!parsed.isValid() || !after.isValid())
        return days;
    QDate from = after.addDays(1);
    while (int(days.size()) < count) {
        const std::optional<QDate> day = FirstOnOrAfter(*parsed, anchor, std::max(from, anchor));
        if (!day)
            break;
        days.push_back(*day);
        from = day->addDays(1);
    }
    return days;
}

std::optional<QDate> NextDue(const Series& series, const QDate& due, const QDate& today) {
    const std::optional<int> left = CountOf(series.rule);
    if (left && *left <= 1)
        return std::nullopt;
    const QDate anchor = series.fromCompletion ? today : due;
    if (!anchor.isValid())
        return std::nullopt;
    const std::vector<QDate> next = DatesAfter(series.rule, anchor, anchor, 1);
    return next.empty() ? std::nullopt : std::optional<QDate>(next.front());
}

bool Pattern::operator==(const Pattern& o) const {
    const bool sameEnd =
        end == o.end && (end != Until || until == o.until) && (end != Count || count == o.count);
    if (frequency != o.frequency || interval != o.interval || !sameEnd)
        return false;
    switch (frequency) {
    case Weekly:
        return weekdays == o.weekdays;
    case Monthly:
    case Yearly:
        if (monthBy != o.monthBy)
            return false;
        if (monthBy == DayOfMonth)
            return monthDay == o.monthDay && (frequency == Monthly || month == o.month);
        return monthBy != NthWeekday || (nth == o.nth && weekday == o.weekday);
    default:
        return true;
    }
}

std::optional<Pattern> PatternOf(const QString& rule) {
    static const QSet<QString> known{QStringLiteral("FREQ"),    QStringLiteral("INTERVAL"),
                                     QStringLiteral("COUNT"),   QStringLiteral("UNTIL"),
                                     QStringLiteral("BYDAY"),   QStringLiteral("BYMONTHDAY"),
                                     QStringLiteral("BYMONTH"), QStringLiteral("WKST")};
    const std::optional<QHash<QString, QString>> parts = PartsOf(rule);
    if (!parts)
        return std::nullopt;
    for (auto it = parts->cbegin(); it != parts->cend(); ++it)
        if (!known.contains(it.key()) ||
            (it.key() == QLatin1String("WKST") && it.value().toUpper() != QLatin1String("MO")))
            return std::nullopt;
    const ParsedRule parsed(rule);
    if (!parsed.isValid())
        return std::nullopt;

    Pattern p;
    p.interval = parsed->interval;
    if (parsed->count > 0) {
        p.end = Pattern::Count;
        p.count = parsed->count;
    } else if (!icaltime_is_null_time(parsed->until)) {
        p.end = Pattern::Until;
        p.until = DateOf(parsed->until);
    }
    const std::vector<short> days = ByList(parsed->by_day);
    const std::vector<short> monthDays = ByList(parsed->by_month_day);
    const std::vector<short> months = ByList(parsed->by_month);
    std::vector<int> plainDays;
    bool positioned = false;
    for (short day : days) {
        positioned |= icalrecurrencetype_day_position(day) != 0;
        plainDays.push_back(WeekdayOf(icalrecurrencetype_day_day_of_week(day)));
    }
    std::sort(plainDays.begin(), plainDays.end());
    plainDays.erase(std::unique(plainDays.begin(), plainDays.end()), plainDays.end());
    const bool workDays = !positioned && plainDays == std::vector<int>{1, 2, 3, 4, 5};

    switch (parsed->freq) {
    case ICAL_DAILY_RECURRENCE:
        if (!monthDays.empty() || !months.empty())
            return std::nullopt;
        if (days.empty()) {
            p.frequency = Pattern::Daily;
            return p;
        }
        if (!workDays || p.interval != 1)
            return std::nullopt;
        p.frequency = Pattern::Weekdays;
        return p;
    case ICAL_WEEKLY_RECURRENCE:
        if (!monthDays.empty() || !months.empty() || positioned)
            return std::nullopt;
        p.frequency = workDays && p.interval == 1 ? Pattern::Weekdays : Pattern::Weekly;
        if (p.frequency == Pattern::Weekly)
            p.weekdays = plainDays;
        return p;
    case ICAL_MONTHLY_RECURRENCE:
        p.frequency = Pattern::Monthly;
        if (!months.empty() || days.size() + monthDays.size() > 1)
            return std::nullopt;
        if (monthDays.size() == 1) {
            if (monthDays[0] < -1 || monthDays[0] == 0)
                return std::nullopt;
            p.monthBy = Pattern::DayOfMonth;
            p.monthDay = monthDays[0];
        } else if (days.size() == 1) {
            const int nth = icalrecurrencetype_day_position(days[0]);
            if (nth < -1 || nth == 0 || nth > 4)
                return std::nullopt;
            p.monthBy = Pattern::NthWeekday;
            p.nth = nth;
            p.weekday = plainDays.front();
        }
        return p;
    case ICAL_YEARLY_RECURRENCE:
        p.frequency = Pattern::Yearly;
        if (!days.empty())
            return std::nullopt;
        if (months.empty() && monthDays.empty())
            return p;
        if (months.size() != 1 || monthDays.size() != 1 || monthDays[0] < 1 ||
            icalrecurrencetype_month_is_leap(months[0]))
            return std::nullopt;
        p.monthBy = Pattern::DayOfMonth;
        p.month = icalrecurrencetype_month_month(months[0]);
        p.monthDay = monthDays[0];
        return p;
    default:
        return std::nullopt;
    }
}

QString RuleOf(const Pattern& p) {
    QStringList parts;
    const char* frequency[] = {"DAILY", "WEEKLY", "WEEKLY", "MONTHLY", "YEARLY"};
    parts << QStringLiteral("FREQ=") + QLatin1String(frequency[p.frequency]);
    if (p.interval > 1 && p.frequency != Pattern::Weekdays)
        parts << QStringLiteral("INTERVAL=%1").arg(p.interval);
    QStringList days;
    if (p.frequency == Pattern::Weekdays)
        days = QStringList{QStringLiteral("MO"), QStringLiteral("TU"), QStringLiteral("WE"),
                           QStringLiteral("TH"), QStringLiteral("FR")};
    if (p.frequency == Pattern::Weekly)
        for (int day : p.weekdays)
            days << QLatin1String(WeekdayCodes[std::size_t(day - 1)]);
    const bool byMonth = p.frequency == Pattern::Monthly || p.frequency == Pattern::Yearly;
    if (p.frequency == Pattern::Yearly && p.monthBy == Pattern::DayOfMonth)
        parts << QStringLiteral("BYMONTH=%1").arg(p.month);
    if (byMonth && p.monthBy == Pattern::DayOfMonth)
        parts << QStringLiteral("BYMONTHDAY=%1").arg(p.monthDay);
    if (p.frequency == Pattern::Monthly && p.monthBy == Pattern::NthWeekday)
        days << QString::number(p.nth) + QLatin1String(WeekdayCodes[std::size_t(p.weekday - 1)]);
    if (!days.isEmpty())
        parts << QStringLiteral("BYDAY=") + days.join(u',');
    if (p.end == Pattern::Count)
        parts << QStringLiteral("COUNT=%1").arg(std::max(1, p.count));
    else if (p.end == Pattern::Until && p.until.isValid())
        parts << QStringLiteral("UNTIL=") + p.until.toString(QStringLiteral("yyyyMMdd"));
    return parts.join(u';');
}

QString Describe(const Series& series) {
    const ParsedRule parsed(series.rule);
    if (!parsed.isValid())
        return QStringLiteral("Invalid rule: ") + series.rule.trimmed();
    const std::optional<Pattern> pattern = PatternOf(series.rule);
    const QString what =
        pattern ? DescribePattern(*pattern) : QStringLiteral("Custom: ") + series.rule.trimmed();
    return what + Ends(parsed, series.fromCompletion, pattern.has_value());
}

QString ColumnText(std::string_view properties) {
    const std::optional<QByteArray> key = RawSeriesKey(properties);
    if (!key)
        return QString();
    thread_local QHash<QByteArray, QString> known;
    return Remembered(known, *key, &TextOfKey);
}

std::optional<std::int64_t> SortKey(std::string_view properties) {
    const std::optional<QByteArray> key = RawSeriesKey(properties);
    if (!key)
        return std::nullopt;
    thread_local QHash<QByteArray, std::int64_t> known;
    return Remembered(known, *key, &SortKeyOfKey);
}

} // namespace Recurrence
