// The commands that move a repeating task through its series: Complete and Skip.
#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "model/FieldValues.h"
#include "model/Recurrence.h"
#include "model/TaskCommands.h"
#include "model/TaskProperties.h"
#include "model/TaskRecord.h"

using namespace TaskRecord;

namespace {

// Where the current task (a pending edit included) stands in its series.
struct Standing {
    std::optional<Recurrence::Series> series;
    QDate due;
};

Standing StandingOfCurrent(const DataTable& table) {
    Standing standing;
    if (table.currentIndex() < 0 || !table.hasField(Properties))
        return standing;
    standing.series = Recurrence::SeriesOf(table.asString(Properties));
    if (standing.series && table.hasField(DueDate))
        standing.due = table.asDate(DueDate);
    return standing;
}

// A stored task's values with one field given anew (nothing when the list lacks the field).
void Put(const DataTable& table, RowData& values, const QString& name,
         const FieldValues::Stored& value) {
    const int field = table.fieldIndex(name);
    if (field < 0)
        return;
    const std::string_view bytes = value.bytes();
    values = values.withField(field, value.isNull() ? nullptr : &bytes);
}

const FieldDef& Def(const DataTable& table, const QString& name) {
    return table.fields()[std::size_t(table.fieldIndexOrThrow(name))];
}

// Moves the stored task `row` on to the occurrence due `next`, as one stored change made
// wherever the order and the filter put the task (the done occurrence may have left the view).
void MoveOn(DataTable& table, DataTable::RowId row, const Standing& standing, const QDate& next) {
    const QDate today = uGeneral::Today();
    // A series only ever moves forward: past its due date, or past today when counted from then.
    const QDate from = standing.series->fromCompletion ? today : standing.due;
    if (!next.isValid() || (from.isValid() && next <= from))
        throw CorvantisError(
            QStringLiteral("The series cannot move to %1.").arg(uGeneral::FormatShortDate(next)));
    RowData values = table.versionData(std::size_t(table.currentVersionOf(row))).clone();
    const auto date = [&](const QString& name, const QDate& day) {
        if (table.hasField(name))
            Put(table, values, name, FieldValues::fromDate(Def(table, name), day));
    };
    if (table.hasField(Status))
        Put(table, values, Status, FieldValues::fromText(Def(table, Status), NotStarted));
    if (table.hasField(Progress))
        Put(table, values, Progress, FieldValues::fromInteger(Def(table, Progress), 0));
    date(CompletedDate, QDate());
    date(LastActioned, today);
    if (table.hasField(StartDate) && standing.due.isValid()) {
        const int start = table.fieldIndex(StartDate);
        const QDate was = values.isNull(start)
                              ? QDate()
                              : FieldValues::toDate(Def(table, StartDate), values, start);
        if (was.isValid())
            date(StartDate, was.addDays(standing.due.daysTo(next)));
    }
    date(DueDate, next);
    if (Recurrence::CountOf(standing.series->rule)) {
        const int field = table.fieldIndex(Properties);
        const QString properties = FieldValues::text(Def(table, Properties), values, field);
        const QString counted = TaskProperties::WithValue(
            properties, Recurrence::RuleName, Recurrence::CountedDown(standing.series->rule));
        Put(table, values, Properties, FieldValues::fromText(Def(table, Properties), counted));
    }
    DataTable::RowChange change{DataTable::RowChange::Store, row, 0};
    change.values = &values;
    table.applyChanges({change});
}

// The day a stored row holds in a date field; none when it has none or cannot be read.
QDate DayIn(const DataTable& table, const RowData& row, const QString& name) {
    const int field = table.fieldIndex(name);
    if (field < 0 || row.isNull(field))
        return QDate();
    try {
        return FieldValues::toDate(Def(table, name), row, field);
    } catch (const CorvantisError&) {
        return QDate();
    }
}

bool IsOpen(const DataTable& table, const RowData& row) {
    const int field = table.fieldIndex(Status);
    const std::string_view status = field < 0 ? std::string_view() : row.raw(field);
    return status != "Complete" && status != "Cancelled";
}

} // namespace

namespace TaskCommands {

std::optional<RowData> DoneElsewhere(const DataTable& table, const RowData& before,
                                     const RowData& after) {
    const int properties = table.fieldIndex(Properties);
    if (properties < 0 || !table.hasField(Status) || !IsOpen(table, before) ||
        !IsOpen(table, after))
        return std::nullopt;
    const FieldDef& def = Def(table, Properties);
    std::optional<Recurrence::Series> series =
        Recurrence::SeriesOf(FieldValues::text(def, before, properties));
    if (!series)
        series = Recurrence::SeriesOf(FieldValues::text(def, after, properties));
    const QDate was = DayIn(table, before, DueDate);
    const QDate now = DayIn(table, after, DueDate);
    if (!series || !was.isValid() || !now.isValid() || now <= was)
        return std::nullopt;
    // From its due date, a series moves on to a day of its rule; from completion, to any day.
    if (!series->fromCompletion) {
        const std::vector<QDate> day =
            Recurrence::DatesAfter(series->rule, was, now.addDays(-1), 1);
        if (day.empty() || day.front() != now)
            return std::nullopt;
    }
    const QDate today = uGeneral::Today();
    RowData done = before.clone();
    Put(table, done, Status, FieldValues::fromText(Def(table, Status), Complete));
    if (table.hasField(Progress))
        Put(table, done, Progress, FieldValues::fromInteger(Def(table, Progress), 100));
    for (const QString& field : {CompletedDate, LastActioned})
        if (table.hasField(field))
            Put(table, done, field, FieldValues::fromDate(Def(table, field), today));
    return done;
}

Occurrence CompleteTask(DataTable& table, const MarkUnsaved& markUnsaved) {
    const QDate today = uGeneral::Today();
    table.edit();
    table.setDate(CompletedDate, today);
    table.setDate(LastActioned, today);
    table.setInteger(Progress, 100);
    table.setString(Status, Complete);
    const DataTable::RowId row = table.currentRow();
    const Standing standing = StandingOfCurrent(table);
    Occurrence done;
    done.repeats = standing.series.has_value();
    if (standing.series)
        done.next = Recurrence::NextDue(*standing.series, standing.due, today);
    table.post(); // the done occurrence, which the task's history keeps
    if (done.next)
        MoveOn(table, row, standing, *done.next);
    if (markUnsaved)
        markUnsaved();
    return done;
}

void SetRepeat(DataTable& table, const MarkUnsaved& markUnsaved, const RepeatSetting& setting) {
    table.edit();
    if (table.asString(Properties) != setting.properties)
        table.setString(Properties, setting.properties);
    if (setting.due.isValid() && table.asDate(DueDate) != setting.due)
        table.setDate(DueDate, setting.due);
    table.post();
    if (markUnsaved)
        markUnsaved();
}

Occurrence SkipOccurrence(DataTable& table, const MarkUnsaved& markUnsaved) {
    const Standing standing = StandingOfCurrent(table);
    if (!standing.series)
        throw CorvantisError(QStringLiteral("The task does not repeat."));
    Occurrence skipped;
    skipped.repeats = true;
    skipped.next = Recurrence::NextDue(*standing.series, standing.due, uGeneral::Today());
    if (!skipped.next)
        throw CorvantisError(standing.series->fromCompletion || standing.due.isValid()
                                 ? QStringLiteral("This is the last occurrence of the series: "
                                                  "there is none to skip to.")
                                 : QStringLiteral("The task has no due date to count from."));
    const DataTable::RowId row = table.currentRow();
    table.post(); // an edit still being typed is stored first, as a change of its own
    MoveOn(table, row, standing, *skipped.next);
    if (markUnsaved)
        markUnsaved();
    return skipped;
}

} // namespace TaskCommands
