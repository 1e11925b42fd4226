#include "calendar/RecurrenceMapping.h"

#include "calendar/VTodoMapping.h"
#include "model/Recurrence.h"
#include "model/TaskProperties.h"

#include <QDate>

#include <libical/ical.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

constexpr const char* RepeatFromName = "X-CORVANTIS-REPEAT-FROM";

QString Utf8(const char* text) {
    return text ? QString::fromUtf8(text) : QString();
}

// A rule as libical writes it, which two spellings of one rule share; empty when it cannot read
// the text.
QString Canonical(icalrecurrencetype rule) {
    if (rule.freq == ICAL_NO_RECURRENCE)
        return QString();
    char* text = icalrecurrencetype_as_string_r(&rule);
    const QString canonical = Utf8(text);
    icalmemory_free_buffer(text);
    return canonical;
}

icalrecurrencetype Parsed(const QString& rule) {
    icalrecurrencetype parsed;
    icalrecurrencetype_clear(&parsed);
    const QByteArray text = rule.trimmed().toUtf8();
    if (!text.isEmpty() && !text.contains('\0'))
        parsed = icalrecurrencetype_from_string(text.constData());
    icalerror_clear_errno();
    return parsed;
}

void Free(icalrecurrencetype& rule) {
    if (rule.rscale)
        icalmemory_free_buffer(rule.rscale);
    rule.rscale = nullptr;
}

QString CanonicalOf(const QString& rule) {
    icalrecurrencetype parsed = Parsed(rule);
    const QString canonical = Canonical(parsed);
    Free(parsed);
    return canonical;
}

icalproperty* RuleOf(const icalcomponent* vtodo) {
    return icalcomponent_get_first_property(const_cast<icalcomponent*>(vtodo), ICAL_RRULE_PROPERTY);
}

std::vector<icalproperty*> RepeatFromOf(const icalcomponent* vtodo) {
    auto* component = const_cast<icalcomponent*>(vtodo);
    std::vector<icalproperty*> found;
    for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_X_PROPERTY); p;
         p = icalcomponent_get_next_property(component, ICAL_X_PROPERTY))
        if (const char* name = icalproperty_get_x_name(p);
            name && qstricmp(name, RepeatFromName) == 0)
            found.push_back(p);
    return found;
}

void Remove(icalcomponent* component, icalproperty* property) {
    icalcomponent_remove_property(component, property);
    icalproperty_free(property);
}

QDate DayOf(const icaltimetype& time) {
    if (icaltime_is_null_time(time))
        return QDate();
    return QDate(time.year, time.month, time.day);
}

// Where a to-do of a series starts: its DTSTART, else its DUE.
QDate StartOf(const icalcomponent* vtodo) {
    auto* component = const_cast<icalcomponent*>(vtodo);
    if (icalcomponent_get_first_property(component, ICAL_DTSTART_PROPERTY))
        return DayOf(icalcomponent_get_dtstart(component));
    if (icalcomponent_get_first_property(component, ICAL_DUE_PROPERTY))
        return DayOf(icalcomponent_get_due(component));
    return QDate();
}

std::vector<icalcomponent*> OccurrencesOf(const icalcomponent* calendar,
                                          const icalcomponent* master) {
    auto* object = const_cast<icalcomponent*>(calendar);
    const char* uid = icalcomponent_get_uid(const_cast<icalcomponent*>(master));
    std::vector<icalcomponent*> found;
    for (icalcomponent* c = icalcomponent_get_first_component(object, ICAL_VTODO_COMPONENT); c;
         c = icalcomponent_get_next_component(object, ICAL_VTODO_COMPONENT)) {
        const char* own = icalcomponent_get_uid(c);
        if (c != master && icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY) &&
            (!uid || !own || qstrcmp(uid, own) == 0))
            found.push_back(c);
    }
    return found;
}

} // namespace

namespace RecurrenceMapping {

QString WithSeriesOf(const icalcomponent* vtodo, const QString& properties) {
    QString text = properties;
    const std::optional<QString> written = TaskProperties::Value(properties, Recurrence::RuleName);
    if (const icalproperty* property = RuleOf(vtodo)) {
        const QString theirs = Canonical(icalproperty_get_rrule(property));
        if (!written || CanonicalOf(*written) != theirs)
            text = TaskProperties::WithValue(text, Recurrence::RuleName, theirs);
    } else if (written && Recurrence::IsValid(*written)) {
        text = TaskProperties::WithValue(text, Recurrence::RuleName, std::nullopt);
    }
    bool fromCompletion = false;
    for (icalproperty* property : RepeatFromOf(vtodo))
        fromCompletion |= Utf8(icalproperty_get_x(property))
                              .trimmed()
                              .compare(Recurrence::FromCompletion, Qt::CaseInsensitive) == 0;
    const std::optional<QString> from = TaskProperties::Value(text, Recurrence::FromName);
    const bool wasFrom =
        from && from->compare(Recurrence::FromCompletion, Qt::CaseInsensitive) == 0;
    if (fromCompletion != wasFrom)
        text = TaskProperties::WithValue(
            text, Recurrence::FromName,
            fromCompletion ? std::optional<QString>(Recurrence::FromCompletion) : std::nullopt);
    return text;
}

bool WriteSeries(icalcomponent* vtodo, const QString& properties, QList<QByteArray>* changed) {
    bool ruleChanged = false;
    const std::optional<Recurrence::Series> series = Recurrence::SeriesOf(properties);
    icalrecurrencetype wanted = Parsed(series ? series->rule : QString());
    icalproperty* given = RuleOf(vtodo);
    // A rule libical cannot read is not sent: the Properties text carries it.
    if (wanted.freq == ICAL_NO_RECURRENCE) {
        for (icalproperty* p = given; p; p = RuleOf(vtodo)) {
            Remove(vtodo, p);
            ruleChanged = true;
        }
    } else if (!given || Canonical(icalproperty_get_rrule(given)) != Canonical(wanted)) {
        for (icalproperty* p = given; p; p = RuleOf(vtodo))
            Remove(vtodo, p);
        icalcomponent_add_property(vtodo, icalproperty_new_rrule(wanted));
        ruleChanged = true;
    }
    Free(wanted);
    if (ruleChanged && changed)
        changed->append(QByteArrayLiteral("RRULE"));

    const bool fromCompletion = series && series->fromCompletion;
    const std::vector<icalproperty*> from = RepeatFromOf(vtodo);
    const bool told =
        from.size() == 1 && Utf8(icalproperty_get_x(from.front())) == Recurrence::FromCompletion;
    if (fromCompletion != told || (!fromCompletion && !from.empty())) {
        for (icalproperty* p : from)
            Remove(vtodo, p);
        if (fromCompletion) {
            icalproperty* property =
                icalproperty_new_x(Recurrence::FromCompletion.toUtf8().constData());
            icalproperty_set_x_name(property, RepeatFromName);
            icalcomponent_add_property(vtodo, property);
        }
        if (changed)
            changed->append(QByteArray(RepeatFromName));
        return true;
    }
    return ruleChanged;
}

namespace {

// A copy of the master to-do with its DUE and DTSTART moved on by whole days.
icalcomponent* MovedBy(const icalcomponent* master, int days) {
    icalcomponent* moved = icalcomponent_new_clone(const_cast<icalcomponent*>(master));
    if (icalcomponent_get_first_property(moved, ICAL_DUE_PROPERTY)) {
        icaltimetype due = icalcomponent_get_due(moved);
        icaltime_adjust(&due, days, 0, 0, 0);
        icalcomponent_set_due(moved, due);
    }
    if (icalcomponent_get_first_property(moved, ICAL_DTSTART_PROPERTY)) {
        icaltimetype start = icalcomponent_get_dtstart(moved);
        icaltime_adjust(&start, days, 0, 0, 0);
        icalcomponent_set_dtstart(moved, start);
    }
    return moved;
}

} // namespace

icalcomponent* MovedOn(const icalcomponent* calendar, const icalcomponent* master) {
    // Occurrences left behind a rule taken away (here, or by another client) are no series.
    if (!RuleOf(master) &&
        !icalcomponent_get_first_property(const_cast<icalcomponent*>(master), ICAL_RDATE_PROPERTY))
        return nullptr;
    const QDate start = StartOf(master);
    const icalcomponent* latest = nullptr;
    QDate latestDay;
    QDate doneDay; // the latest occurrence done there, from where the series stands on
    for (icalcomponent* occurrence : OccurrencesOf(calendar, master)) {
        const icalproperty_status status = icalcomponent_get_status(occurrence);
        const QDate day = DayOf(icalcomponent_get_recurrenceid(occurrence));
        if (!day.isValid() || status == ICAL_STATUS_CANCELLED)
            continue;
        if (status == ICAL_STATUS_COMPLETED) {
            if (start.isValid() && day >= start && (!doneDay.isValid() || day > doneDay))
                doneDay = day;
        } else if ((!start.isValid() || day > start) && (!latestDay.isValid() || day > latestDay)) {
            latest = occurrence;
            latestDay = day;
        }
    }
    if (latest && (!doneDay.isValid() || latestDay > doneDay)) {
        icalcomponent* moved = icalcomponent_new_clone(const_cast<icalcomponent*>(master));
        for (const icalproperty_kind kind :
             {ICAL_DUE_PROPERTY, ICAL_DTSTART_PROPERTY, ICAL_DURATION_PROPERTY}) {
            while (icalproperty* p = icalcomponent_get_first_property(moved, kind))
                Remove(moved, p);
            auto* from = const_cast<icalcomponent*>(latest);
            for (icalproperty* p = icalcomponent_get_first_property(from, kind); p;
                 p = icalcomponent_get_next_property(from, kind))
                icalcomponent_add_property(moved, icalproperty_new_clone(p));
        }
        return moved;
    }
    // Done there, but carried on to a day before the one done (a client that counts the next
    // date from the moment of completion, on a series done ahead of time here): the series moves
    // on by its own rule instead, so the occurrence done is not lost.
    const icalproperty* rule = RuleOf(master);
    if (!doneDay.isValid() || !rule)
        return nullptr;
    // The series here stands at the due date: the rule runs from there.
    auto* component = const_cast<icalcomponent*>(master);
    const QDate due = icalcomponent_get_first_property(component, ICAL_DUE_PROPERTY)
                          ? DayOf(icalcomponent_get_due(component))
                          : start;
    const std::vector<QDate> next = Recurrence::DatesAfter(Canonical(icalproperty_get_rrule(rule)),
                                                           due, std::max(due, doneDay), 1);
    return next.empty() ? nullptr : MovedBy(master, int(due.daysTo(next.front())));
}

bool IsCopiedOccurrence(const icalcomponent* vtodo, const QString& properties) {
    auto* component = const_cast<icalcomponent*>(vtodo);
    if (icalcomponent_get_status(component) != ICAL_STATUS_COMPLETED || RuleOf(vtodo))
        return false;
    const std::optional<Recurrence::Series> series = Recurrence::SeriesOf(properties);
    const QString seriesUid = VTodoMapping::UidOf(properties);
    return series && Recurrence::IsValid(series->rule) && !seriesUid.isEmpty() &&
           seriesUid != Utf8(icalcomponent_get_uid(component));
}

bool DropPassedOccurrences(icalcomponent* calendar, const icalcomponent* master) {
    const QDate start = StartOf(master);
    if (!start.isValid())
        return false;
    bool dropped = false;
    for (icalcomponent* occurrence : OccurrencesOf(calendar, master)) {
        const QDate day = DayOf(icalcomponent_get_recurrenceid(occurrence));
        if (day.isValid() && day < start) {
            icalcomponent_remove_component(calendar, occurrence);
            icalcomponent_free(occurrence);
            dropped = true;
        }
    }
    return dropped;
}

} // namespace RecurrenceMapping
