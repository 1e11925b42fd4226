#include "calendar/VTodoMapping.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "base/LoginName.h"
#include "calendar/RecurrenceMapping.h"
#include "model/RowData.h"
#include "model/TaskRecord.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>

#include <libical/ical.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <variant>

namespace {

using namespace TaskRecord;

// --- libical's side ----------------------------------------------------------------------------

struct FreeProperty {
    void operator()(icalproperty* property) const { icalproperty_free(property); }
};
using PropertyPtr = std::unique_ptr<icalproperty, FreeProperty>;

// Where a value lives on a to-do: a standard property, or an X- property of a name.
struct Slot {
    icalproperty_kind kind;
    const char* xName = nullptr;
};

bool inSlot(icalproperty* property, const Slot& slot) {
    if (icalproperty_isa(property) != slot.kind)
        return false;
    if (slot.kind != ICAL_X_PROPERTY)
        return true;
    const char* name = icalproperty_get_x_name(property);
    return name && qstricmp(name, slot.xName) == 0;
}

// Collected first: libical walks a component's properties with one iterator of its own.
std::vector<icalproperty*> propertiesIn(const icalcomponent* vtodo, const Slot& slot) {
    auto* component = const_cast<icalcomponent*>(vtodo);
    std::vector<icalproperty*> found;
    for (icalproperty* p = icalcomponent_get_first_property(component, slot.kind); p;
         p = icalcomponent_get_next_property(component, slot.kind))
        if (inSlot(p, slot))
            found.push_back(p);
    return found;
}

icalproperty* firstIn(const icalcomponent* vtodo, const Slot& slot) {
    const std::vector<icalproperty*> found = propertiesIn(vtodo, slot);
    return found.empty() ? nullptr : found.front();
}

QString utf8(const char* text) {
    return text ? QString::fromUtf8(text) : QString();
}

// A property's value as text, unescaped, whatever kind of value another client gave it.
QString textOf(const icalproperty* property) {
    const icalvalue* value = property ? icalproperty_get_value(property) : nullptr;
    if (!value)
        return QString();
    switch (icalvalue_isa(value)) {
    case ICAL_X_VALUE:
        return utf8(icalvalue_get_x(value));
    case ICAL_TEXT_VALUE:
        return utf8(icalvalue_get_text(value));
    case ICAL_STRING_VALUE:
        return utf8(icalvalue_get_string(value));
    default: {
        char* text = icalproperty_get_value_as_string_r(property);
        const QString result = utf8(text);
        icalmemory_free_buffer(text);
        return result;
    }
    }
}

QString textIn(const icalcomponent* vtodo, const Slot& slot) {
    return textOf(firstIn(vtodo, slot));
}

std::optional<int> integerIn(const icalcomponent* vtodo, const Slot& slot) {
    const icalproperty* property = firstIn(vtodo, slot);
    const icalvalue* value = property ? icalproperty_get_value(property) : nullptr;
    if (!value || icalvalue_isa(value) != ICAL_INTEGER_VALUE)
        return std::nullopt;
    return icalvalue_get_integer(value);
}

// The day of a DATE or DATE-TIME value: a date as it is; a UTC time as the local day of that
// moment; a time in a named zone or a floating time as the day it is written on, which is that
// zone's own day.
QDate dayIn(const icalcomponent* vtodo, const Slot& slot) {
    const icalproperty* property = firstIn(vtodo, slot);
    const icalvalue* value = property ? icalproperty_get_value(property) : nullptr;
    if (!value)
        return QDate();
    icaltimetype time;
    if (icalvalue_isa(value) == ICAL_DATE_VALUE)
        time = icalvalue_get_date(value);
    else if (icalvalue_isa(value) == ICAL_DATETIME_VALUE)
        time = icalvalue_get_datetime(value);
    else
        return QDate();
    const QDate day(time.year, time.month, time.day);
    if (!day.isValid() || time.is_date || !icaltime_is_utc(time))
        return day;
    QTime clock(time.hour, time.minute, std::min(time.second, 59));
    if (!clock.isValid())
        clock = QTime(0, 0);
    return QDateTime(day, clock, Qt::UTC).toLocalTime().date();
}

PropertyPtr xProperty(const char* name, const QString& text) {
    PropertyPtr property(icalproperty_new_x(text.toUtf8().constData()));
    icalproperty_set_x_name(property.get(), name);
    return property;
}

bool representable(const QDate& day) {
    return day.isValid() && day.year() >= 1 && day.year() <= 9999;
}

icaltimetype dateValue(const QDate& day) {
    icaltimetype time = icaltime_null_date();
    time.year = day.year();
    time.month = day.month();
    time.day = day.day();
    return time;
}

// CREATED, LAST-MODIFIED and COMPLETED must be UTC times, while the task keeps a local day: the
// day is written as its local noon in UTC, a moment inside that day in the list's own time
// zone, which every client there shows on that day and which reads back as the same day.
icaltimetype utcNoonOf(const QDate& day) {
    // A list's days recur, and each conversion asks the system's time zone again: the last few
    // thousand answers are kept.
    thread_local QHash<qint64, QDateTime> known;
    auto it = known.constFind(day.toJulianDay());
    if (it == known.cend()) {
        if (known.size() >= 4096)
            known.clear();
        it = known.insert(day.toJulianDay(), QDateTime(day, QTime(12, 0)).toUTC());
    }
    const QDateTime& utc = *it;
    icaltimetype time = icaltime_null_time();
    time.year = utc.date().year();
    time.month = utc.date().month();
    time.day = utc.date().day();
    time.hour = utc.time().hour();
    time.minute = utc.time().minute();
    time.zone = icaltimezone_get_utc_timezone();
    return time;
}

// --- the task's side ---------------------------------------------------------------------------

// A mapped value: nothing, text, a number, a day or a flag.
using Value = std::variant<std::monostate, QString, std::int64_t, QDate, bool>;
enum class Kind { Text, Number, Day, Flag };

// Line breaks travel as iCalendar's "\n" (libical drops a CR): CR LF and a lone CR become LF
// before the text is written, so a lone CR does not join two lines, and a compare of a task
// with its to-do does not tell the three apart.
QString withLineFeeds(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

Value fromRow(const FieldDef& def, const RowData& row, int field, Kind kind) {
    if (row.isNull(field))
        return {};
    try {
        switch (kind) {
        case Kind::Text: {
            const QString text = FieldValues::text(def, row, field);
            return text.isEmpty() ? Value() : Value(withLineFeeds(text));
        }
        case Kind::Number:
            return FieldValues::toInteger(def, row, field);
        case Kind::Day: {
            const QDate day = FieldValues::toDate(def, row, field);
            return day.isValid() ? Value(day) : Value();
        }
        case Kind::Flag:
            return FieldValues::toBoolean(def, row, field);
        }
    } catch (const CorvantisError&) {
        // A value that does not read as the mapped kind (text in a number field) is not sent.
    }
    return {};
}

// The value as the field stores it; nothing when the field refuses it.
std::optional<FieldValues::Stored> toStored(const FieldDef& def, const Value& value) {
    try {
        if (const auto* text = std::get_if<QString>(&value))
            return FieldValues::fromText(def, *text);
        if (const auto* number = std::get_if<std::int64_t>(&value))
            return FieldValues::fromInteger(def, *number);
        if (const auto* day = std::get_if<QDate>(&value))
            return FieldValues::fromDate(def, *day);
        if (const auto* flag = std::get_if<bool>(&value))
            return FieldValues::fromBoolean(def, *flag);
        return FieldValues::Stored();
    } catch (const CorvantisError&) {
        return std::nullopt;
    }
}

bool sameStored(const FieldDef& def, const FieldValues::Stored& a, const FieldValues::Stored& b) {
    // The empty text and the empty field are one: an empty text writes nothing.
    const bool aEmpty = a.isNull() || (def.isText() && a.bytes().empty());
    const bool bEmpty = b.isNull() || (def.isText() && b.bytes().empty());
    if (aEmpty || bEmpty)
        return aEmpty == bEmpty;
    return a.bytes() == b.bytes();
}

// --- the vocabularies --------------------------------------------------------------------------

const Slot StatusSlot{ICAL_STATUS_PROPERTY};
const Slot StatusWordSlot{ICAL_X_PROPERTY, "X-CORVANTIS-STATUS"};
const Slot PrioritySlot{ICAL_PRIORITY_PROPERTY};
const Slot PriorityWordSlot{ICAL_X_PROPERTY, "X-CORVANTIS-PRIORITY"};

icalproperty_status statusFor(const QString& word) {
    if (word == NotStarted)
        return ICAL_STATUS_NEEDSACTION;
    if (word == InProgress || word == Paused)
        return ICAL_STATUS_INPROCESS;
    if (word == Complete)
        return ICAL_STATUS_COMPLETED;
    if (word == Cancelled)
        return ICAL_STATUS_CANCELLED;
    return ICAL_STATUS_NONE;
}

QString wordFor(icalproperty_status status) {
    switch (status) {
    case ICAL_STATUS_INPROCESS:
        return InProgress;
    case ICAL_STATUS_COMPLETED:
        return Complete;
    case ICAL_STATUS_CANCELLED:
        return Cancelled;
    default:
        return NotStarted;
    }
}

// A to-do's status, any other (an event's, an unknown name) taken as none.
icalproperty_status statusIn(const icalcomponent* vtodo) {
    const icalproperty* property = firstIn(vtodo, StatusSlot);
    const icalvalue* value = property ? icalproperty_get_value(property) : nullptr;
    if (!value || icalvalue_isa(value) != ICAL_STATUS_VALUE)
        return ICAL_STATUS_NONE;
    const icalproperty_status status = icalvalue_get_status(value);
    switch (status) {
    case ICAL_STATUS_NEEDSACTION:
    case ICAL_STATUS_INPROCESS:
    case ICAL_STATUS_COMPLETED:
    case ICAL_STATUS_CANCELLED:
        return status;
    default:
        return ICAL_STATUS_NONE;
    }
}

int priorityFor(const QString& word) {
    if (word == High || word == Urgent)
        return 1;
    if (word == Normal)
        return 5;
    if (word == Low)
        return 9;
    return 0;
}

QString wordFor(int priority) {
    if (priority >= 1 && priority <= 4)
        return High;
    if (priority >= 6 && priority <= 9)
        return Low;
    return Normal;
}

int priorityIn(const icalcomponent* vtodo) {
    const int priority = integerIn(vtodo, PrioritySlot).value_or(0);
    return priority >= 0 && priority <= 9 ? priority : 0;
}

// --- the mappings --------------------------------------------------------------------------------

// What a write puts in one slot: one property, or nothing (the slot emptied).
struct Replacement {
    Slot slot;
    PropertyPtr property;
};
using Replacements = std::vector<Replacement>;

// What a read looks at: the to-do, and the UID its task's Properties are to name (the to-do's
// own when not given).
struct Source {
    const icalcomponent* vtodo;
    const std::optional<QString>& uid;
};

QByteArray nameOf(const Slot& slot) {
    return slot.kind == ICAL_X_PROPERTY ? QByteArray(slot.xName).toUpper()
                                        : QByteArray(icalproperty_kind_to_string(slot.kind));
}

struct Mapping {
    const QString& field;
    Kind kind;
    Slot slot; // the value's own property; read and write may use more
    Value (*read)(const Source& source, const Slot& slot);
    void (*write)(const Value& value, const Slot& slot, Replacements& out);
};

Value readText(const Source& source, const Slot& slot) {
    const icalcomponent* vtodo = source.vtodo;
    const QString text = textIn(vtodo, slot);
    return text.isEmpty() ? Value() : Value(text);
}

void writeText(const Value& value, const Slot& slot, Replacements& out) {
    const auto* text = std::get_if<QString>(&value);
    if (!text) {
        out.push_back({slot, nullptr});
        return;
    }
    if (slot.kind == ICAL_X_PROPERTY) {
        out.push_back({slot, xProperty(slot.xName, *text)});
        return;
    }
    PropertyPtr property(icalproperty_new(slot.kind));
    icalproperty_set_value(property.get(), icalvalue_new_text(text->toUtf8().constData()));
    out.push_back({slot, std::move(property)});
}

// Every category another client gave, each its own, joined as the Category cell shows them.
Value readCategories(const Source& source, const Slot& slot) {
    const icalcomponent* vtodo = source.vtodo;
    QStringList categories;
    for (icalproperty* property : propertiesIn(vtodo, slot)) {
        const QString category = textOf(property);
        if (!category.isEmpty())
            categories << category;
    }
    return categories.isEmpty() ? Value() : Value(categories.join(QStringLiteral(", ")));
}

Value readNumber(const Source& source, const Slot& slot) {
    const icalcomponent* vtodo = source.vtodo;
    if (slot.kind != ICAL_X_PROPERTY) {
        const std::optional<int> number = integerIn(vtodo, slot);
        return number ? Value(std::int64_t(*number)) : Value();
    }
    bool ok = false;
    const qlonglong number = textIn(vtodo, slot).trimmed().toLongLong(&ok);
    return ok ? Value(std::int64_t(number)) : Value();
}

void writeNumber(const Value& value, const Slot& slot, Replacements& out) {
    const auto* number = std::get_if<std::int64_t>(&value);
    if (!number) {
        out.push_back({slot, nullptr});
    } else if (slot.kind == ICAL_X_PROPERTY) {
        out.push_back({slot, xProperty(slot.xName, QString::number(*number))});
    } else {
        // PERCENT-COMPLETE holds an integer; a larger progress is sent at the integer's bound.
        const auto bounded = int(std::clamp<std::int64_t>(*number, INT32_MIN, INT32_MAX));
        PropertyPtr property(icalproperty_new(slot.kind));
        icalproperty_set_value(property.get(), icalvalue_new_integer(bounded));
        out.push_back({slot, std::move(property)});
    }
}

Value readDay(const Source& source, const Slot& slot) {
    const icalcomponent* vtodo = source.vtodo;
    const QDate day = dayIn(vtodo, slot);
    return day.isValid() ? Value(day) : Value();
}

// DUE and DTSTART hold dates (VALUE=DATE).
void writeDate(const Value& value, const Slot& slot, Replacements& out) {
    const auto* day = std::get_if<QDate>(&value);
    if (!day || !representable(*day)) {
        out.push_back({slot, nullptr});
        return;
    }
    PropertyPtr property(icalproperty_new(slot.kind));
    icalproperty_set_value(property.get(), icalvalue_new_date(dateValue(*day)));
    out.push_back({slot, std::move(property)});
    // A to-do has DUE or DURATION, never both.
    if (slot.kind == ICAL_DUE_PROPERTY)
        out.push_back({Slot{ICAL_DURATION_PROPERTY}, nullptr});
}

void writeMoment(const Value& value, const Slot& slot, Replacements& out) {
    const auto* day = std::get_if<QDate>(&value);
    if (!day || !representable(*day)) {
        out.push_back({slot, nullptr});
        return;
    }
    PropertyPtr property(icalproperty_new(slot.kind));
    icalproperty_set_value(property.get(), icalvalue_new_datetime(utcNoonOf(*day)));
    out.push_back({slot, std::move(property)});
}

Value readFlag(const Source& source, const Slot& slot) {
    const icalcomponent* vtodo = source.vtodo;
    const QString text = textIn(vtodo, slot).trimmed();
    if (text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0)
        return false;
    return {};
}

void writeFlag(const Value& value, const Slot& slot, Replacements& out) {
    const auto* flag = std::get_if<bool>(&value);
    out.push_back({slot, flag ? xProperty(slot.xName,
                                          *flag ? QStringLiteral("TRUE") : QStringLiteral("FALSE"))
                              : nullptr});
}

// The word of the X- property is believed while the standard value is the one written for it.
Value readStatus(const Source& source, const Slot&) {
    const icalcomponent* vtodo = source.vtodo;
    const icalproperty_status status = statusIn(vtodo);
    const QString word = textIn(vtodo, StatusWordSlot);
    if (!word.isEmpty() && statusFor(word) == status)
        return word;
    return wordFor(status);
}

void writeStatus(const Value& value, const Slot&, Replacements& out) {
    const QString word =
        std::holds_alternative<QString>(value) ? std::get<QString>(value) : QString();
    const icalproperty_status status = statusFor(word);
    out.push_back({StatusSlot, status == ICAL_STATUS_NONE
                                   ? nullptr
                                   : PropertyPtr(icalproperty_new_status(status))});
    const bool told = word.isEmpty() || wordFor(status) == word;
    out.push_back({StatusWordSlot, told ? nullptr : xProperty(StatusWordSlot.xName, word)});
}

Value readPriority(const Source& source, const Slot&) {
    const icalcomponent* vtodo = source.vtodo;
    const int priority = priorityIn(vtodo);
    const QString word = textIn(vtodo, PriorityWordSlot);
    if (!word.isEmpty() && priorityFor(word) == priority)
        return word;
    // 0 is the standard's "undefined": no priority, as a to-do without one.
    return priority == 0 ? Value() : Value(wordFor(priority));
}

void writePriority(const Value& value, const Slot&, Replacements& out) {
    const QString word =
        std::holds_alternative<QString>(value) ? std::get<QString>(value) : QString();
    const int priority = priorityFor(word);
    out.push_back(
        {PrioritySlot, priority == 0 ? nullptr : PropertyPtr(icalproperty_new_priority(priority))});
    const bool told = word.isEmpty() || wordFor(priority) == word;
    out.push_back({PriorityWordSlot, told ? nullptr : xProperty(PriorityWordSlot.xName, word)});
}

const Slot UidSlot{ICAL_UID_PROPERTY};
const Slot PropertiesSlot{ICAL_X_PROPERTY, "X-CORVANTIS-PROPERTIES"};

// The Properties text with its UID line naming the task's UID, and its series the to-do's.
Value readProperties(const Source& source, const Slot& slot) {
    const QString text = RecurrenceMapping::WithSeriesOf(source.vtodo, textIn(source.vtodo, slot));
    const QString uid = source.uid ? *source.uid : textIn(source.vtodo, UidSlot);
    const QString properties = uid.isEmpty() ? text : VTodoMapping::WithUid(text, uid);
    return properties.isEmpty() ? Value() : Value(properties);
}

const std::vector<Mapping>& Mappings() {
    auto x = [](const char* name) { return Slot{ICAL_X_PROPERTY, name}; };
    static const std::vector<Mapping> mappings{
        {Task, Kind::Text, Slot{ICAL_SUMMARY_PROPERTY}, readText, writeText},
        {Status, Kind::Text, StatusSlot, readStatus, writeStatus},
        {Priority, Kind::Text, PrioritySlot, readPriority, writePriority},
        {Progress, Kind::Number, Slot{ICAL_PERCENTCOMPLETE_PROPERTY}, readNumber, writeNumber},
        {Difficulty, Kind::Text, x("X-CORVANTIS-DIFFICULTY"), readText, writeText},
        {CreatedDate, Kind::Day, Slot{ICAL_CREATED_PROPERTY}, readDay, writeMoment},
        {CompletedDate, Kind::Day, Slot{ICAL_COMPLETED_PROPERTY}, readDay, writeMoment},
        {LastActioned, Kind::Day, Slot{ICAL_LASTMODIFIED_PROPERTY}, readDay, writeMoment},
        {StartDate, Kind::Day, Slot{ICAL_DTSTART_PROPERTY}, readDay, writeDate},
        {Time, Kind::Number, x("X-CORVANTIS-TIME"), readNumber, writeNumber},
        {ParentID, Kind::Number, x("X-CORVANTIS-PARENT-ID"), readNumber, writeNumber},
        {Bookmarked, Kind::Flag, x("X-CORVANTIS-BOOKMARKED"), readFlag, writeFlag},
        {AssignedTo, Kind::Text, x("X-CORVANTIS-ASSIGNED-TO"), readText, writeText},
        {DueDate, Kind::Day, Slot{ICAL_DUE_PROPERTY}, readDay, writeDate},
        {GroupNo, Kind::Number, x("X-CORVANTIS-GROUP-NO"), readNumber, writeNumber},
        {Comments, Kind::Text, Slot{ICAL_COMMENT_PROPERTY}, readText, writeText},
        {Owner, Kind::Text, x("X-CORVANTIS-OWNER"), readText, writeText},
        {Details, Kind::Text, Slot{ICAL_DESCRIPTION_PROPERTY}, readText, writeText},
        {Category, Kind::Text, Slot{ICAL_CATEGORIES_PROPERTY}, readCategories, writeText},
        {RelatedFile, Kind::Text, x("X-CORVANTIS-RELATED-FILE"), readText, writeText},
        {LinkedList, Kind::Text, x("X-CORVANTIS-LINKED-LIST"), readText, writeText},
        {Properties, Kind::Text, PropertiesSlot, readProperties, writeText},
        {Points, Kind::Number, x("X-CORVANTIS-POINTS"), readNumber, writeNumber},
        {URL, Kind::Text, x("X-CORVANTIS-URL"), readText, writeText},
    };
    return mappings;
}

int fieldIndex(const FieldList& fields, const QString& name) {
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

QByteArray serialized(icalproperty* property) {
    char* text = icalproperty_as_ical_string_r(property);
    QByteArray bytes(text);
    icalmemory_free_buffer(text);
    return bytes;
}

// libical writes some text values (a category's) without escapes and drops their CRs, so two
// that differ can write alike: a text value is compared as its text as well.
bool sameProperty(icalproperty* a, icalproperty* b) {
    const icalvalue* va = icalproperty_get_value(a);
    const icalvalue* vb = icalproperty_get_value(b);
    if (va && vb && icalvalue_isa(va) == ICAL_TEXT_VALUE && icalvalue_isa(vb) == ICAL_TEXT_VALUE &&
        qstrcmp(icalvalue_get_text(va), icalvalue_get_text(vb)) != 0)
        return false;
    return serialized(a) == serialized(b);
}

// Puts the replacements of one slot in place of its properties, unless they are what it holds
// already; the slot's name goes into changed when it changed.
bool replaceSlot(icalcomponent* vtodo, const Slot& slot, std::vector<PropertyPtr> properties,
                 QList<QByteArray>* changed) {
    const std::vector<icalproperty*> existing = propertiesIn(vtodo, slot);
    if (properties.empty() && existing.empty())
        return false;
    if (properties.size() == existing.size()) {
        bool same = true;
        for (std::size_t i = 0; i < existing.size() && same; ++i)
            same = sameProperty(existing[i], properties[i].get());
        if (same)
            return false;
    }
    for (icalproperty* property : existing) {
        icalcomponent_remove_property(vtodo, property);
        icalproperty_free(property);
    }
    for (PropertyPtr& property : properties)
        icalcomponent_add_property(vtodo, property.release());
    if (changed && !changed->contains(nameOf(slot)))
        changed->append(nameOf(slot));
    return true;
}

bool replace(icalcomponent* vtodo, Replacement& replacement, QList<QByteArray>* changed) {
    std::vector<PropertyPtr> properties;
    if (replacement.property)
        properties.push_back(std::move(replacement.property));
    return replaceSlot(vtodo, replacement.slot, std::move(properties), changed);
}

bool replaceText(icalcomponent* vtodo, const Slot& slot, const QString& text,
                 QList<QByteArray>* changed) {
    Replacements out;
    writeText(text.isEmpty() ? Value() : Value(text), slot, out);
    return replace(vtodo, out.front(), changed);
}

const Slot CategoriesSlot{ICAL_CATEGORIES_PROPERTY};

// A to-do holding several categories keeps holding a list: the cell's text, split where it joins
// them, one property a category (written back on one line).
bool writeCategoryList(icalcomponent* vtodo, const Value& value, QList<QByteArray>* changed) {
    std::vector<PropertyPtr> properties;
    if (const auto* text = std::get_if<QString>(&value)) {
        for (const QString& category : text->split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
            PropertyPtr property(icalproperty_new(ICAL_CATEGORIES_PROPERTY));
            icalproperty_set_value(property.get(),
                                   icalvalue_new_text(category.toUtf8().constData()));
            properties.push_back(std::move(property));
        }
    }
    return replaceSlot(vtodo, CategoriesSlot, std::move(properties), changed);
}

// The to-do's DATE-TIME of a slot moved to another day, its time of day and zone kept: a UTC time
// at the same local time on the new local day. Nothing when the slot holds no DATE-TIME.
PropertyPtr movedTo(const icalcomponent* vtodo, const Slot& slot, const QDate& day) {
    const icalproperty* property = firstIn(vtodo, slot);
    const icalvalue* value = property ? icalproperty_get_value(property) : nullptr;
    if (!value || icalvalue_isa(value) != ICAL_DATETIME_VALUE || !representable(day))
        return nullptr;
    icaltimetype time = icalvalue_get_datetime(value);
    if (time.is_date)
        return nullptr;
    if (icaltime_is_utc(time)) {
        const QTime clock(time.hour, time.minute, std::min(time.second, 59));
        if (!clock.isValid())
            return nullptr;
        const QTime local =
            QDateTime(QDate(time.year, time.month, time.day), clock, Qt::UTC).toLocalTime().time();
        const QDateTime utc = QDateTime(day, local).toUTC();
        time.year = utc.date().year();
        time.month = utc.date().month();
        time.day = utc.date().day();
        time.hour = utc.time().hour();
        time.minute = utc.time().minute();
        time.second = utc.time().second();
    } else {
        time.year = day.year();
        time.month = day.month();
        time.day = day.day();
    }
    PropertyPtr moved(icalproperty_new_clone(const_cast<icalproperty*>(property)));
    icalproperty_set_value(moved.get(), icalvalue_new_datetime(time));
    return moved;
}

int countIn(const icalcomponent* vtodo, const Slot& slot) {
    return int(propertiesIn(vtodo, slot).size());
}

} // namespace

namespace VTodoMapping {

QString WrittenProperties(const icalcomponent* vtodo) {
    return textIn(vtodo, PropertiesSlot);
}

bool IsPrivate(const QString& fieldName, const QString& text) {
    return fieldName.compare(AssignedTo, Qt::CaseInsensitive) == 0 && !text.isEmpty() &&
           text == uGeneral::CurrentUserName();
}

TaskValues Read(const icalcomponent* vtodo, const FieldList& fields,
                const std::optional<QString>& uid) {
    const Source source{vtodo, uid};
    TaskValues values;
    values.reserve(Mappings().size());
    for (const Mapping& mapping : Mappings()) {
        const int field = fieldIndex(fields, mapping.field);
        if (field < 0)
            continue;
        const FieldDef& def = fields[std::size_t(field)];
        Value value = mapping.read(source, mapping.slot);
        // A memo keeps its lines as the list keeps them: CR LF between them.
        if (auto* text = std::get_if<QString>(&value); text && def.kind == FieldKind::Memo)
            text->replace(u'\n', QStringLiteral("\r\n"));
        std::optional<FieldValues::Stored> stored = toStored(def, value);
        if (stored)
            values.push_back({field, std::move(*stored)});
    }
    std::sort(values.begin(), values.end(),
              [](const FieldValue& a, const FieldValue& b) { return a.field < b.field; });
    return values;
}

bool Update(icalcomponent* vtodo, const FieldList& fields, const RowData& row,
            const QString& fallbackUid, QList<QByteArray>* changedNames) {
    // A new to-do has no form of another client's to keep: it gets every value written.
    const bool fresh = icalcomponent_count_properties(vtodo, ICAL_ANY_PROPERTY) == 0;
    bool changed = false;
    const int propertiesField = fieldIndex(fields, Properties);
    const QString taskUid =
        propertiesField < 0
            ? QString()
            : UidOf(FieldValues::text(fields[std::size_t(propertiesField)], row, propertiesField));
    QString uid = textIn(vtodo, UidSlot);
    if (!taskUid.isEmpty())
        uid = taskUid;
    else if (uid.isEmpty())
        uid = fallbackUid.isEmpty() ? DerivedUid(QString(), 0) : fallbackUid;
    changed |= replaceText(vtodo, UidSlot, uid, changedNames);

    const std::optional<QString> ownUid;
    const Source source{vtodo, ownUid};
    for (const Mapping& mapping : Mappings()) {
        const int field = fieldIndex(fields, mapping.field);
        if (field < 0)
            continue;
        const FieldDef& def = fields[std::size_t(field)];
        Value value = fromRow(def, row, field, mapping.kind);
        if (const auto* text = std::get_if<QString>(&value); text && IsPrivate(def.name, *text))
            value = Value();
        // A value the to-do gives already keeps the form another client wrote it in.
        if (!fresh) {
            const std::optional<FieldValues::Stored> given =
                toStored(def, mapping.read(source, mapping.slot));
            const std::optional<FieldValues::Stored> wanted = toStored(def, value);
            if (given && wanted && sameStored(def, *given, *wanted))
                continue;
            if (mapping.slot.kind == ICAL_CATEGORIES_PROPERTY && countIn(vtodo, mapping.slot) > 1) {
                changed |= writeCategoryList(vtodo, value, changedNames);
                continue;
            }
            if (mapping.write == writeDate && std::holds_alternative<QDate>(value)) {
                if (PropertyPtr moved = movedTo(vtodo, mapping.slot, std::get<QDate>(value))) {
                    Replacement replacement{mapping.slot, std::move(moved)};
                    changed |= replace(vtodo, replacement, changedNames);
                    continue;
                }
            }
        }
        Replacements replacements;
        mapping.write(value, mapping.slot, replacements);
        for (Replacement& replacement : replacements)
            changed |= replace(vtodo, replacement, changedNames);
    }

    // A repeating task's rule travels as the to-do's own RRULE as well.
    if (propertiesField >= 0)
        changed |= RecurrenceMapping::WriteSeries(
            vtodo, FieldValues::text(fields[std::size_t(propertiesField)], row, propertiesField),
            changedNames);

    const Slot stampSlot{ICAL_DTSTAMP_PROPERTY};
    if (changed || !firstIn(vtodo, stampSlot)) {
        const QDateTime now = uGeneral::Now().toUTC();
        icaltimetype stamp = icaltime_null_time();
        stamp.year = now.date().year();
        stamp.month = now.date().month();
        stamp.day = now.date().day();
        stamp.hour = now.time().hour();
        stamp.minute = now.time().minute();
        stamp.second = now.time().second();
        stamp.zone = icaltimezone_get_utc_timezone();
        Replacement replacement{stampSlot, PropertyPtr(icalproperty_new_dtstamp(stamp))};
        replace(vtodo, replacement, changedNames);
    }
    return changed;
}

} // namespace VTodoMapping
