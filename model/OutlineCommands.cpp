#include "model/OutlineCommands.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "model/FieldValues.h"
#include "model/TaskRecord.h"

#include <algorithm>
#include <optional>
#include <utility>

using namespace TaskRecord;
using RowId = DataTable::RowId;

namespace OutlineCommands {

namespace {

const FieldDef& defOf(const DataTable& table, int field) {
    return table.fields()[static_cast<std::size_t>(field)];
}

// A row's values with some fields written as a command writes them, for applyChanges.
class Rewrite {
public:
    Rewrite(const DataTable& table, RowId row)
        : m_table(table), m_values(table.rowData(row).clone()) {}

    Rewrite& set(const QString& name, const FieldValues::Stored& value) {
        const int field = m_table.fieldIndexOrThrow(name);
        const std::string_view bytes = value.bytes();
        m_values = m_values.withField(field, value.isNull() ? nullptr : &bytes);
        return *this;
    }
    Rewrite& setText(const QString& name, const QString& text) {
        return set(name, FieldValues::fromText(def(name), text));
    }
    Rewrite& setInteger(const QString& name, std::int64_t value) {
        return set(name, FieldValues::fromInteger(def(name), value));
    }
    Rewrite& setDate(const QString& name, const QDate& day) {
        return set(name, FieldValues::fromDate(def(name), day));
    }
    RowData take() { return std::move(m_values); }

private:
    const FieldDef& def(const QString& name) const {
        return defOf(m_table, m_table.fieldIndexOrThrow(name));
    }
    const DataTable& m_table;
    RowData m_values;
};

// The ParentID that puts a row under `parent` (-1: the top, an empty field).
FieldValues::Stored parentValue(const DataTable& table, RowId parent) {
    return parent < 0 ? FieldValues::Stored() : FieldValues::Stored::number(IdOf(table, parent));
}

// Makes the changes as one, keeping `current` current and shown.
void applyKeeping(DataTable& table, const std::vector<DataTable::RowChange>& changes,
                  RowId current) {
    table.applyChanges(changes);
    if (current >= 0 && table.currentVersionOf(current) >= 0) {
        if (const RowId parent = table.parentRowOf(current); parent >= 0)
            table.setCollapsed(parent, false);
        table.goToRow(current);
    }
}

// A parent set here is the task's parent: a UID kept for one that was not in the list goes.
RowData withoutKeptParent(const DataTable& table, RowData values) {
    const int field = table.fieldIndex(Properties);
    if (field < 0)
        return values;
    const QString properties = table.textOf(values, field);
    if (KeptParentUid(properties).isEmpty())
        return values;
    const FieldValues::Stored stored = FieldValues::fromText(
        table.fields()[std::size_t(field)], WithKeptParentUid(properties, QString()));
    const std::string_view bytes = stored.bytes();
    return values.withField(field, stored.isNull() ? nullptr : &bytes);
}

bool isOpen(const DataTable& table, RowId row) {
    const int field = table.fieldIndex(Status);
    if (field < 0)
        return true;
    const QString status = table.textOf(table.rowData(row), field);
    return status != Complete && status != Cancelled;
}

} // namespace

std::int32_t IdOf(const DataTable& table, RowId row) {
    const int field = table.autoIncField();
    const RowData& values = table.rowData(row);
    if (field < 0 || values.isNull(field))
        throw CorvantisError(QStringLiteral("The task has no ID to stand under"));
    return values.int32(field);
}

bool CanStandUnder(const DataTable& table, RowId row, RowId parent) {
    if (parent < 0)
        return true;
    if (parent == row)
        return false;
    const std::vector<RowId> under = table.descendantsOf(row);
    return std::find(under.begin(), under.end(), parent) == under.end();
}

void MakeSubtaskOf(DataTable& table, RowId row, RowId parent, const MarkUnsaved& markUnsaved) {
    table.settle();
    if (table.currentVersionOf(row) < 0)
        return;
    if (!CanStandUnder(table, row, parent))
        throw CorvantisError(
            QStringLiteral("A task cannot become a subtask of itself or of one of its subtasks"));
    const int field = table.fieldIndexOrThrow(ParentID);
    const FieldValues::Stored value = parentValue(table, parent);
    const RowData& now = table.rowData(row);
    const bool same = value.isNull() ? (now.isNull(field) || now.int32(field) == 0)
                                     : (!now.isNull(field) && now.raw(field) == value.bytes());
    if (same)
        return;
    std::vector<RowData> values;
    values.push_back(withoutKeptParent(table, Rewrite(table, row).set(ParentID, value).take()));
    DataTable::RowChange change;
    change.kind = DataTable::RowChange::Store;
    change.row = row;
    change.values = &values.back();
    applyKeeping(table, {change}, row);
    if (markUnsaved)
        markUnsaved();
}

bool Indent(DataTable& table, const MarkUnsaved& markUnsaved) {
    table.settle();
    const int position = table.currentIndex();
    if (position < 0)
        return false;
    const RowId row = table.currentRow();
    const int depth = table.outlineDepthAt(position);
    const RowId parent = table.parentRowOf(row);
    for (int above = position - 1; above >= 0; --above) {
        const int aboveDepth = table.outlineDepthAt(above);
        if (aboveDepth < depth)
            return false;
        const RowId candidate = table.rowIdAt(above);
        if (aboveDepth == depth && table.parentRowOf(candidate) == parent) {
            MakeSubtaskOf(table, row, candidate, markUnsaved);
            return true;
        }
    }
    return false;
}

bool Outdent(DataTable& table, const MarkUnsaved& markUnsaved) {
    table.settle();
    const RowId row = table.currentRow();
    const RowId parent = row >= 0 ? table.parentRowOf(row) : -1;
    if (parent < 0)
        return false;
    MakeSubtaskOf(table, row, table.parentRowOf(parent), markUnsaved);
    return true;
}

std::vector<RowId> OpenSubtasks(const DataTable& table, RowId row) {
    std::vector<RowId> open;
    for (const RowId under : table.descendantsOf(row))
        if (isOpen(table, under))
            open.push_back(under);
    return open;
}

QString CompleteQuestion(int openSubtasks) {
    return openSubtasks == 1
               ? QStringLiteral("Complete its open subtask too?")
               : QStringLiteral("Complete its %1 open subtasks too?").arg(openSubtasks);
}

bool CompleteTask(DataTable& table, const MarkUnsaved& markUnsaved, const AskThree& ask) {
    const RowId row = table.currentRow();
    const std::vector<RowId> open = row >= 0 ? OpenSubtasks(table, row) : std::vector<RowId>();
    Answer answer = Answer::No;
    if (!open.empty() && ask)
        answer = ask(CompleteQuestion(static_cast<int>(open.size())));
    if (answer == Answer::Cancel)
        return false;
    TaskCommands::CompleteTask(table, markUnsaved);
    if (answer != Answer::Yes)
        return true;
    // Each subtask gets what Complete writes, all as one change of the list.
    const QDate today = uGeneral::Today();
    std::vector<RowData> values;
    values.reserve(open.size());
    std::vector<DataTable::RowChange> changes;
    for (const RowId under : open) {
        values.push_back(Rewrite(table, under)
                             .setDate(CompletedDate, today)
                             .setDate(LastActioned, today)
                             .setInteger(Progress, 100)
                             .setText(Status, Complete)
                             .take());
        DataTable::RowChange change;
        change.kind = DataTable::RowChange::Store;
        change.row = under;
        changes.push_back(change);
    }
    for (std::size_t i = 0; i < changes.size(); ++i)
        changes[i].values = &values[i];
    applyKeeping(table, changes, row);
    if (markUnsaved)
        markUnsaved();
    return true;
}

QString DeleteQuestion(int subtasks) {
    return QStringLiteral("Delete current task ?\n\nIt has %1. Delete them too, or keep them (they "
                          "move up a level)?")
        .arg(subtasks == 1 ? QStringLiteral("a subtask")
                           : QStringLiteral("%1 subtasks").arg(subtasks));
}

const QStringList& DeleteChoices() {
    static const QStringList choices{QStringLiteral("Delete All"), QStringLiteral("Keep Subtasks"),
                                     QStringLiteral("Cancel")};
    return choices;
}

void DeleteRow(DataTable& table, RowId row, bool withSubtasks) {
    // As Delete does, the task's own pending changes go with it.
    if (table.state() == DataTable::State::Edit && table.currentRow() == row)
        table.cancel();
    else
        table.settle();
    if (table.currentVersionOf(row) < 0)
        return;
    const std::vector<RowId> under = table.descendantsOf(row);
    std::vector<RowData> values;
    std::vector<DataTable::RowChange> changes;
    RowId first = -1; // the first subtask kept: it takes the deleted task's place
    if (!withSubtasks) {
        // The subtasks right under it move up to its parent; theirs stay under them.
        const RowId parent = table.parentRowOf(row);
        const FieldValues::Stored value = parentValue(table, parent);
        for (const RowId child : under)
            if (table.parentRowOf(child) == row) {
                values.push_back(
                    withoutKeptParent(table, Rewrite(table, child).set(ParentID, value).take()));
                DataTable::RowChange change;
                change.kind = DataTable::RowChange::Store;
                change.row = child;
                changes.push_back(change);
                if (first < 0)
                    first = child;
            }
        for (std::size_t i = 0; i < changes.size(); ++i)
            changes[i].values = &values[i];
    } else {
        for (auto it = under.rbegin(); it != under.rend(); ++it) {
            DataTable::RowChange change;
            change.kind = DataTable::RowChange::Delete;
            change.row = *it;
            changes.push_back(change);
        }
    }
    DataTable::RowChange deletion;
    deletion.kind = DataTable::RowChange::Delete;
    deletion.row = row;
    changes.push_back(deletion);
    const int position = table.currentIndex();
    table.applyChanges(changes); // a task alone goes as Delete takes it, a neighbour current
    if (changes.size() == 1)
        return;
    if (first >= 0) {
        table.goToRow(first);
    } else if (table.visibleRowCount() > 0) {
        table.moveToPosition(std::min(position, table.visibleRowCount() - 1));
    }
}

bool DeleteTask(DataTable& table, const MarkUnsaved& markUnsaved,
                const TaskCommands::Question& askPlain, const Choose& choose) {
    const RowId row = table.currentRow();
    const std::size_t subtasks =
        row >= 0 && table.state() != DataTable::State::Insert ? table.descendantsOf(row).size() : 0;
    if (subtasks == 0)
        return TaskCommands::DeleteTask(table, markUnsaved, askPlain);
    const int choice =
        choose ? choose(DeleteQuestion(static_cast<int>(subtasks)), DeleteChoices()) : 2;
    if (choice != 0 && choice != 1)
        return false;
    DeleteRow(table, row, choice == 0);
    if (markUnsaved)
        markUnsaved();
    return true;
}

bool BeginSubtask(DataTable& table) {
    table.settle();
    const RowId parent = table.currentRow();
    if (parent < 0 || table.currentVersionOf(parent) < 0)
        return false;
    table.fieldIndexOrThrow(ParentID);
    const std::int32_t id = IdOf(table, parent);
    table.setCollapsed(parent, false);
    int position = table.positionOf(parent);
    const int depth = table.outlineDepthAt(position);
    do
        ++position;
    while (position < table.visibleRowCount() && table.outlineDepthAt(position) > depth);
    table.insertAt(position);
    table.setInteger(ParentID, id);
    return true;
}

TaskCommands::QuickAddBar QuickAddSubtask(DataTable& table, const MarkUnsaved& markUnsaved,
                                          const TaskCommands::QuickAddBar& bar) {
    table.settle();
    const RowId parent = table.currentRow();
    TaskCommands::QuickAddBar under = bar;
    under.parentId = parent >= 0 ? IdOf(table, parent) : 0;
    const TaskCommands::QuickAddBar after = TaskCommands::QuickAdd(table, markUnsaved, under);
    if (parent >= 0 && after.text != bar.text) {
        table.setCollapsed(parent, false);
        table.goToRow(parent);
    }
    return after;
}

namespace {

// Where the kept parent's line starts and ends (its line break included), in the text's lines.
std::optional<std::pair<qsizetype, qsizetype>> keptLine(const QString& properties) {
    const QString prefix = KeptParentName + u'=';
    qsizetype start = 0;
    while (start < properties.size()) {
        qsizetype end = start;
        while (end < properties.size() && properties[end] != u'\n' && properties[end] != u'\r')
            ++end;
        if (QStringView(properties).mid(start, end - start).startsWith(prefix, Qt::CaseInsensitive))
            return std::make_pair(start, end);
        start = end;
        if (start < properties.size() && properties[start] == u'\r')
            ++start;
        if (start < properties.size() && properties[start] == u'\n')
            ++start;
    }
    return std::nullopt;
}

} // namespace

QString KeptParentUid(const QString& properties) {
    const auto line = keptLine(properties);
    return line ? properties
                      .mid(line->first + KeptParentName.size() + 1,
                           line->second - line->first - KeptParentName.size() - 1)
                      .trimmed()
                : QString();
}

QString WithKeptParentUid(const QString& properties, const QString& uid) {
    const auto line = keptLine(properties);
    const QString wanted = uid.isEmpty() ? QString() : KeptParentName + u'=' + uid;
    if (line) {
        QString result = properties;
        if (!wanted.isEmpty())
            return result.replace(line->first, line->second - line->first, wanted);
        // The line goes with its line break (or the one before it, when it is the last).
        qsizetype start = line->first;
        qsizetype end = line->second;
        if (end < result.size())
            end += result.mid(end, 2) == QStringLiteral("\r\n") ? 2 : 1;
        else
            while (start > 0 && (result[start - 1] == u'\n' || result[start - 1] == u'\r'))
                --start;
        return result.remove(start, end - start);
    }
    if (wanted.isEmpty())
        return properties;
    if (properties.isEmpty())
        return wanted;
    const QString lineBreak = properties.contains(QStringLiteral("\r\n")) ? QStringLiteral("\r\n")
                              : properties.contains(u'\r')                ? QStringLiteral("\r")
                                                                          : QStringLiteral("\n");
    const bool ended = properties.endsWith(u'\n') || properties.endsWith(u'\r');
    return properties + (ended ? QString() : lineBreak) + wanted;
}

QString SubtaskCountText(const DataTable& table, RowId row) {
    const TableOutline::Row info = table.outlineOf(row);
    return info.all > 0 ? QStringLiteral("%1/%2").arg(info.done).arg(info.all) : QString();
}

} // namespace OutlineCommands
