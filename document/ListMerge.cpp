#include "document/ListMerge.h"

#include "base/CorvantisError.h"
#include "model/FieldValues.h"
#include "model/TaskRecord.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

namespace ListMerge {

namespace {

// One change-log entry, numbered as the file numbers them (from 1).
struct Entry {
    std::uint32_t version;
    std::uint32_t replaced;
    std::uint32_t kind;
};

std::size_t entryCount(const DataTable& table) {
    return table.changeLog().size() / 3;
}

Entry entryAt(const DataTable& table, std::size_t index) {
    const std::uint32_t* numbers = table.changeLog().data() + 3 * index;
    return {numbers[0], numbers[1], numbers[2]};
}

// An insertion or an edit; a deletion makes no version.
bool makesVersion(const Entry& entry) {
    return entry.version > 0 && !(entry.kind & DataTable::Deleted) &&
           (entry.kind & (DataTable::Inserted | DataTable::Modified));
}

bool sameFields(const FieldList& a, const FieldList& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t f = 0; f < a.size(); ++f)
        if (a[f].kind != b[f].kind || a[f].width != b[f].width ||
            a[f].name.compare(b[f].name, Qt::CaseInsensitive) != 0)
            return false;
    return true;
}

// The versions before the first one a change-log entry made: the rows of a file that was read
// without a change log.
std::size_t unloggedVersions(const DataTable& table) {
    const std::size_t entries = entryCount(table);
    for (std::size_t i = 0; i < entries; ++i) {
        const Entry entry = entryAt(table, i);
        if (makesVersion(entry))
            return std::min<std::size_t>(entry.version - 1, table.versionCount());
    }
    return table.versionCount();
}

// Where two copies parted: the versions and change-log entries they share.
struct CommonPoint {
    std::size_t versions = 0;
    std::size_t entries = 0;
};

// The longest prefix of the change logs on which the copies agree entry for entry, where each
// version an entry made holds the same values on both sides and the versions were made one
// after another. Superseded and deleted marks are not compared: later entries set them. Each
// shared version is read once.
CommonPoint findCommonPoint(const DataTable& a, const DataTable& b) {
    CommonPoint point;
    const std::size_t unlogged = std::min(unloggedVersions(a), unloggedVersions(b));
    while (point.versions < unlogged &&
           SameValues(a.versionData(point.versions), b.versionData(point.versions)))
        ++point.versions;
    if (point.versions < unlogged)
        return point;
    const std::size_t entries = std::min(entryCount(a), entryCount(b));
    const std::uint32_t* logA = a.changeLog().data();
    const std::uint32_t* logB = b.changeLog().data();
    for (; point.entries < entries; ++point.entries) {
        const std::size_t at = 3 * point.entries;
        if (!std::equal(logA + at, logA + at + 3, logB + at))
            break;
        const Entry entry = entryAt(a, point.entries);
        if (!makesVersion(entry))
            continue;
        if (entry.version != point.versions + 1 || entry.version > a.versionCount() ||
            entry.version > b.versionCount() ||
            !SameValues(a.versionData(point.versions), b.versionData(point.versions)))
            break;
        ++point.versions;
    }
    return point;
}

constexpr std::uint32_t NoOrigin = std::numeric_limits<std::uint32_t>::max();

// What one copy did after the common point, task by task. A task is named by its origin: its
// version at the common point, or for a task added afterwards the version its insertion made.
struct Lineage {
    struct Task {
        std::uint32_t origin;
        std::vector<std::uint32_t> chain; // the versions made after the common point, in order
        bool deleted;
        std::uint32_t last() const { return chain.empty() ? origin : chain.back(); }
    };
    std::vector<Task> tasks; // in the order of their first change after the common point
    std::unordered_map<std::uint32_t, std::size_t> taskOf;
    std::vector<std::uint32_t> originOf; // per version from the common point on
};

// One pass over the entries after the common point.
Lineage trace(const DataTable& table, const CommonPoint& point) {
    Lineage lineage;
    const std::size_t count = table.versionCount();
    const std::size_t common = std::min(point.versions, count);
    lineage.originOf.assign(count - common, NoOrigin);
    const auto originOf = [&](std::size_t version) {
        return version < common ? static_cast<std::uint32_t>(version)
                                : lineage.originOf[version - common];
    };
    const auto touch = [&](std::uint32_t origin) -> Lineage::Task& {
        const auto [it, added] = lineage.taskOf.emplace(origin, lineage.tasks.size());
        if (added)
            lineage.tasks.push_back({origin, {}, false});
        return lineage.tasks[it->second];
    };
    const std::size_t entries = entryCount(table);
    for (std::size_t i = point.entries; i < entries; ++i) {
        const Entry entry = entryAt(table, i);
        if (entry.kind & DataTable::Deleted) {
            if (entry.version == 0 || entry.version > count)
                continue;
            const std::uint32_t origin = originOf(entry.version - 1);
            if (origin != NoOrigin)
                touch(origin).deleted = true;
            continue;
        }
        if (!makesVersion(entry))
            continue;
        const std::size_t made = entry.version - 1;
        // A damaged log may name a shared version, one beyond the list or one twice.
        if (made < common || made >= count || lineage.originOf[made - common] != NoOrigin)
            continue;
        std::uint32_t origin = static_cast<std::uint32_t>(made);
        if ((entry.kind & DataTable::Modified) && entry.replaced >= 1 && entry.replaced <= made) {
            const std::uint32_t from = originOf(entry.replaced - 1);
            if (from != NoOrigin)
                origin = from;
        }
        lineage.originOf[made - common] = origin;
        Lineage::Task& task = touch(origin);
        task.chain.push_back(static_cast<std::uint32_t>(made));
        task.deleted = false;
    }
    return lineage;
}

// The values with the ID of `idFrom`: a task keeps this list's ID whatever the other copy did.
RowData withIdOf(const RowData& values, const RowData& idFrom, int idField) {
    if (idField < 0 || (values.isNull(idField) == idFrom.isNull(idField) &&
                        values.raw(idField) == idFrom.raw(idField)))
        return values.clone();
    const std::string_view id = idFrom.raw(idField);
    return values.withField(idField, idFrom.isNull(idField) ? nullptr : &id);
}

int taskField(const FieldList& fields) {
    for (std::size_t f = 0; f < fields.size(); ++f)
        if (fields[f].name.compare(TaskRecord::Task, Qt::CaseInsensitive) == 0)
            return static_cast<int>(f);
    return -1;
}

int idField(const FieldList& fields) {
    for (std::size_t f = 0; f < fields.size(); ++f)
        if (fields[f].kind == FieldKind::AutoInc)
            return static_cast<int>(f);
    return -1;
}

bool sameField(const RowData& a, const RowData& b, int field) {
    return a.isNull(field) == b.isNull(field) && a.raw(field) == b.raw(field);
}

// "Changed: Status, Progress": the fields a side changed since the common point.
QString changedText(const FieldList& fields, const RowData& base, const RowData& values) {
    QStringList names;
    for (std::size_t f = 0; f < fields.size(); ++f)
        if (fields[f].kind != FieldKind::AutoInc && !sameField(base, values, static_cast<int>(f)))
            names << fields[f].name;
    return QStringLiteral("Changed: %1").arg(names.join(QStringLiteral(", ")));
}

const QString DeletedText = QStringLiteral("Deleted");

// Works out the merge task by task, in the order the other copy first changed them.
class Planner {
public:
    Planner(const DataTable& mine, const DataTable& other, const CommonPoint& point, Plan& plan)
        : m_mine(mine), m_other(other), m_plan(plan), m_fields(mine.fields()),
          m_id(idField(m_fields)), m_common(point.versions), m_ours(trace(mine, point)),
          m_theirs(trace(other, point)) {}

    void run() {
        // The row each version of this list shows, where it shows one.
        m_rowOf.assign(m_mine.versionCount(), -1);
        for (const DataTable::RowId row : m_mine.allRows())
            m_rowOf[static_cast<std::size_t>(m_mine.currentVersionOf(row))] = row;
        // IDs this list gave out after the common point: a task the other copy added under one
        // of them takes the next free ID instead.
        for (std::size_t v = m_common; v < m_mine.versionCount(); ++v)
            if (m_id >= 0 && !m_mine.versionData(v).isNull(m_id))
                m_givenOut.insert(m_mine.versionData(v).int32(m_id));
        // This list's new tasks by their values, to find the ones an earlier merge brought here.
        for (std::size_t t = 0; t < m_ours.tasks.size(); ++t)
            if (m_ours.tasks[t].origin >= m_common)
                for (const std::uint32_t v : m_ours.tasks[t].chain)
                    m_ourNewTasks.emplace(hashOf(m_mine.versionData(v)), std::make_pair(t, v));
        m_matched.assign(m_ours.tasks.size(), false);

        for (const Lineage::Task& task : m_theirs.tasks) {
            const RowData* theirs = theirValues(task);
            if (task.origin < m_common)
                sharedTask(task, theirs);
            else
                newTask(task, theirs);
        }
        // Tasks the other copy shows that its change log does not account for (a damaged log,
        // or rows of a file read without one beyond what both share).
        for (std::size_t v = m_common; v < m_other.versionCount(); ++v)
            if (m_theirs.originOf[v - m_common] == NoOrigin &&
                DataTable::isLiveState(m_other.versionState(v)))
                addNew(m_other.versionData(v));
    }

private:
    // How a task stands here: deleted (no row; `values` its last version) or shown by a row.
    struct Here {
        DataTable::RowId row = -1;
        const RowData* values = nullptr;
    };

    const RowData* theirValues(const Lineage::Task& task) const {
        if (task.deleted || !DataTable::isLiveState(m_other.versionState(task.last())))
            return nullptr;
        return &m_other.versionData(task.last());
    }

    Here here(const Lineage::Task& task) const {
        const std::uint32_t last = task.last();
        Here state;
        state.values = &m_mine.versionData(last);
        if (!task.deleted && DataTable::isLiveState(m_mine.versionState(last)))
            state.row = m_rowOf[last];
        return state;
    }

    // Every value but the ID, which is not merged: a task keeps the one it has here.
    bool same(const RowData& a, const RowData& b) const {
        if (a.sameAs(b))
            return true;
        for (int f = 0; f < static_cast<int>(m_fields.size()); ++f)
            if (f != m_id && !sameField(a, b, f))
                return false;
        return true;
    }
    std::uint64_t hashOf(const RowData& row) const {
        std::uint64_t hash = 14695981039346656037ull;
        const auto mix = [&hash](unsigned char byte) { hash = (hash ^ byte) * 1099511628211ull; };
        for (int f = 0; f < static_cast<int>(m_fields.size()); ++f) {
            if (f == m_id)
                continue;
            mix(row.isNull(f) ? 0 : 1);
            for (const char c : row.raw(f))
                mix(static_cast<unsigned char>(c));
            mix(0xFF);
        }
        return hash;
    }

    // The latest state of a task that both copies held after the common point, as when an
    // earlier merge brought one copy's values to the other: the latest version of their chain
    // equal to one of ours, when it is also the latest of ours equal to one of theirs. Nothing
    // when there is none, or when the copies passed through the same states in different orders.
    const RowData* meetingPoint(const std::vector<std::uint32_t>& ourChain,
                                const std::vector<std::uint32_t>& theirChain) const {
        const auto latest = [this](const DataTable& table, const std::vector<std::uint32_t>& chain,
                                   const DataTable& in,
                                   const std::vector<std::uint32_t>& inChain) -> const RowData* {
            for (auto it = chain.rbegin(); it != chain.rend(); ++it)
                for (const std::uint32_t v : inChain)
                    if (same(table.versionData(*it), in.versionData(v)))
                        return &table.versionData(*it);
            return nullptr;
        };
        const RowData* theirs = latest(m_other, theirChain, m_mine, ourChain);
        const RowData* ours = theirs ? latest(m_mine, ourChain, m_other, theirChain) : nullptr;
        return ours && same(*ours, *theirs) ? theirs : nullptr;
    }

    // A task both copies had at the common point.
    void sharedTask(const Lineage::Task& task, const RowData* theirs) {
        const auto it = m_ours.taskOf.find(task.origin);
        const Lineage::Task* ourTask =
            it == m_ours.taskOf.end() ? nullptr : &m_ours.tasks[it->second];
        const RowData* met = ourTask ? meetingPoint(ourTask->chain, task.chain) : nullptr;
        const RowData& base = met ? *met : m_mine.versionData(task.origin);
        Here state;
        if (ourTask) {
            state = here(*ourTask);
        } else {
            state.row = m_rowOf[task.origin];
            state.values = &m_mine.versionData(task.origin);
            if (state.row < 0)
                return; // not a task here at the common point: a damaged history
        }
        decide(base, state, theirs);
    }

    // A task the other copy added: the same task when an earlier merge brought it here,
    // otherwise a new one here.
    void newTask(const Lineage::Task& task, const RowData* theirs) {
        for (auto v = task.chain.rbegin(); v != task.chain.rend(); ++v) {
            const RowData& values = m_other.versionData(*v);
            const auto [begin, end] = m_ourNewTasks.equal_range(hashOf(values));
            for (auto it = begin; it != end; ++it) {
                const auto [ourIndex, ourVersion] = it->second;
                if (m_matched[ourIndex] || !same(m_mine.versionData(ourVersion), values))
                    continue;
                m_matched[ourIndex] = true;
                const Lineage::Task& ourTask = m_ours.tasks[ourIndex];
                const RowData* met = meetingPoint(ourTask.chain, task.chain);
                decide(met ? *met : values, here(ourTask), theirs);
                return;
            }
        }
        if (theirs)
            addNew(*theirs);
    }

    // The three ways a task can go from the state both copies held (base): here, there, or
    // both, field by field or deleted against edited.
    void decide(const RowData& base, const Here& state, const RowData* theirs) {
        if (theirs && same(*theirs, base))
            return; // nothing new there
        if (state.row < 0) {
            if (theirs) {
                RowData values = withIdOf(*theirs, *state.values, m_id);
                deletedVsEdited(values, base, true);
                add(std::move(values), true);
            }
            return;
        }
        const RowData& ours = *state.values;
        if (same(ours, base)) {
            if (theirs)
                change(DataTable::RowChange::Store, state.row, withIdOf(*theirs, ours, m_id));
            else
                change(DataTable::RowChange::Delete, state.row, RowData());
            return;
        }
        if (!theirs) {
            deletedVsEdited(ours, base, false);
            change(DataTable::RowChange::Delete, state.row, RowData());
            return;
        }
        RowData theirsHere = withIdOf(*theirs, ours, m_id);
        TaskMerge merged = MergeTask(withIdOf(base, ours, m_id), ours, theirsHere);
        if (merged.conflicts.empty() && SameValues(merged.merged, ours))
            return;
        const std::vector<MergeConflict> lines =
            FieldConflicts(m_fields, base, ours, theirsHere, merged.conflicts);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            m_plan.conflicts.push_back(lines[i]);
            m_plan.targets.push_back({m_plan.changes.size(), merged.conflicts[i]});
        }
        change(DataTable::RowChange::Store, state.row, std::move(merged.merged));
        if (!lines.empty())
            m_plan.changes.back().theirs = std::move(theirsHere);
    }

    // The conflict of the change that comes next.
    void deletedVsEdited(const RowData& edited, const RowData& base, bool deletedHere) {
        const int task = taskField(m_fields);
        MergeConflict line;
        line.kind = MergeConflict::Kind::DeletedVsEdited;
        line.deletedInThisCopy = deletedHere;
        line.taskId = m_id >= 0 ? edited.int32(m_id) : 0;
        line.task =
            task >= 0 ? FieldValues::text(m_fields[std::size_t(task)], edited, task) : QString();
        line.thisCopy = deletedHere ? DeletedText : changedText(m_fields, base, edited);
        line.otherCopy = deletedHere ? changedText(m_fields, base, edited) : DeletedText;
        m_plan.conflicts.push_back(std::move(line));
        m_plan.targets.push_back({m_plan.changes.size(), -1});
    }

    void addNew(const RowData& values) {
        add(values.clone(),
            m_id < 0 || values.isNull(m_id) || m_givenOut.count(values.int32(m_id)) == 0);
    }
    void add(RowData values, bool keepId) {
        Plan::Change made;
        made.kind = DataTable::RowChange::Add;
        made.values = std::move(values);
        made.keepId = keepId;
        m_plan.changes.push_back(std::move(made));
    }
    void change(DataTable::RowChange::Kind kind, DataTable::RowId row, RowData values) {
        Plan::Change made;
        made.kind = kind;
        made.row = row;
        made.values = std::move(values);
        m_plan.changes.push_back(std::move(made));
    }

    const DataTable& m_mine;
    const DataTable& m_other;
    Plan& m_plan;
    const FieldList& m_fields;
    const int m_id;
    const std::size_t m_common;
    const Lineage m_ours;
    const Lineage m_theirs;
    std::vector<DataTable::RowId> m_rowOf;
    std::unordered_set<std::int32_t> m_givenOut;
    std::unordered_multimap<std::uint64_t, std::pair<std::size_t, std::uint32_t>> m_ourNewTasks;
    std::vector<bool> m_matched;
};

} // namespace

bool SameValues(const RowData& a, const RowData& b) {
    if (a.sameAs(b))
        return true;
    if (a.fieldCount() != b.fieldCount())
        return false;
    for (int f = 0; f < a.fieldCount(); ++f)
        if (!sameField(a, b, f))
            return false;
    return true;
}

TaskMerge MergeTask(const RowData& base, const RowData& mine, const RowData& theirs) {
    TaskMerge result;
    const int count = mine.fieldCount();
    RowBuilder builder(count);
    for (int f = 0; f < count; ++f) {
        const RowData* from = &mine;
        switch (MergeField(!sameField(mine, base, f), !sameField(theirs, base, f),
                           sameField(mine, theirs, f))) {
        case Take::Mine:
            break;
        case Take::Theirs:
            from = &theirs;
            break;
        case Take::Conflict:
            result.conflicts.push_back(f);
            break;
        }
        if (!from->isNull(f))
            builder.setBytes(f, from->raw(f));
    }
    result.merged = builder.build();
    return result;
}

std::vector<MergeConflict> FieldConflicts(const FieldList& fields, const RowData& base,
                                          const RowData& mine, const RowData& theirs,
                                          const std::vector<int>& conflicts) {
    std::vector<MergeConflict> lines;
    const int id = idField(fields);
    const int task = taskField(fields);
    for (int f : conflicts) {
        const FieldDef& def = fields[static_cast<std::size_t>(f)];
        MergeConflict line;
        line.kind = MergeConflict::Kind::Field;
        line.taskId = id >= 0 ? mine.int32(id) : 0;
        line.task =
            task >= 0 ? FieldValues::text(fields[std::size_t(task)], mine, task) : QString();
        line.field = def.name;
        line.base = FieldValues::displayText(def, base, f);
        line.thisCopy = FieldValues::displayText(def, mine, f);
        line.otherCopy = FieldValues::displayText(def, theirs, f);
        lines.push_back(std::move(line));
    }
    return lines;
}

RowData Resolve(const RowData& merged, const RowData& theirs, const std::vector<int>& conflicts,
                const MergeChoices& choices) {
    const int count = merged.fieldCount();
    std::vector<bool> takeTheirs(static_cast<std::size_t>(count), false);
    for (std::size_t i = 0; i < conflicts.size() && i < choices.size(); ++i)
        if (choices[i] == MergeConflict::Side::OtherCopy && conflicts[i] >= 0 &&
            conflicts[i] < count)
            takeTheirs[static_cast<std::size_t>(conflicts[i])] = true;
    RowBuilder builder(count);
    for (int f = 0; f < count; ++f) {
        const RowData& from = takeTheirs[static_cast<std::size_t>(f)] ? theirs : merged;
        if (!from.isNull(f))
            builder.setBytes(f, from.raw(f));
    }
    return builder.build();
}

Plan Prepare(const DataTable& mine, const DataTable& other, const QString& otherFileName) {
    const QString refusal =
        QStringLiteral("%1 is not a copy of this list.").arg(QFileInfo(otherFileName).fileName());
    if (!mine.isActive() || !other.isActive() || !sameFields(mine.fields(), other.fields()))
        throw CorvantisError(refusal);
    const CommonPoint point = findCommonPoint(mine, other);
    const bool bothEmpty = mine.versionCount() == 0 && other.versionCount() == 0 &&
                           mine.changeLog().empty() && other.changeLog().empty();
    if (point.versions == 0 && !bothEmpty)
        throw CorvantisError(refusal);

    Plan plan;
    plan.versionCount = mine.versionCount();
    plan.logSize = mine.changeLog().size();
    plan.commonVersions = point.versions;
    plan.commonEntries = point.entries;
    plan.counter = std::max(mine.autoIncValue(), other.autoIncValue());
    plan.raisesCounter = other.autoIncValue() > mine.autoIncValue();
    Planner(mine, other, point, plan).run();
    return plan;
}

Outcome Apply(DataTable& table, const Plan& plan, const MergeChoices& choices) {
    if (choices.size() != plan.conflicts.size())
        throw CorvantisError(QStringLiteral("Every conflict of the merge needs a choice."));
    table.settle();
    if (table.versionCount() != plan.versionCount || table.changeLog().size() != plan.logSize)
        throw CorvantisError(
            QStringLiteral("The list changed while the merge was prepared. Merge again."));

    const std::size_t count = plan.changes.size();
    std::vector<bool> made(count, true);
    std::vector<std::vector<int>> fieldsOf(count);
    std::vector<MergeChoices> choicesOf(count);
    for (std::size_t i = 0; i < plan.conflicts.size(); ++i) {
        const Plan::Target& target = plan.targets[i];
        if (target.field < 0) {
            made[target.change] = choices[i] == MergeConflict::Side::OtherCopy;
        } else {
            fieldsOf[target.change].push_back(target.field);
            choicesOf[target.change].push_back(choices[i]);
        }
    }
    std::vector<RowData> resolved(count);
    std::vector<DataTable::RowChange> changes;
    changes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!made[i])
            continue;
        const Plan::Change& change = plan.changes[i];
        const RowData* values = &change.values;
        if (!fieldsOf[i].empty()) {
            resolved[i] = Resolve(change.values, change.theirs, fieldsOf[i], choicesOf[i]);
            values = &resolved[i];
            const std::int32_t now = table.currentVersionOf(change.row);
            if (now >= 0 && SameValues(*values, table.versionData(std::size_t(now))))
                continue; // every conflict kept this copy's value
        }
        DataTable::RowChange rowChange;
        rowChange.kind = change.kind;
        rowChange.row = change.row;
        rowChange.values = change.kind == DataTable::RowChange::Delete ? nullptr : values;
        rowChange.keepId = change.keepId;
        changes.push_back(rowChange);
    }

    std::deque<RowData> outline;
    KeepOutline(table, plan.counter, changes, outline);
    const std::size_t logBefore = table.changeLog().size();
    table.raiseAutoIncValue(plan.counter);
    table.applyChanges(changes);
    Outcome outcome;
    const std::vector<std::uint32_t>& log = table.changeLog();
    for (std::size_t at = logBefore; at + 2 < log.size(); at += 3) {
        const std::uint32_t kind = log[at + 2];
        if (kind & DataTable::Deleted)
            ++outcome.deleted;
        else if (kind & DataTable::Modified)
            ++outcome.edited;
        else
            ++outcome.added;
    }
    return outcome;
}

} // namespace ListMerge
