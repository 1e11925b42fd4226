#include "document/ListMerge.h"

#include "base/CorvantisError.h"
#include "calendar/VTodoMapping.h"
#include "document/ListMergeHistory.h"
#include "document/TaskUids.h"
#include "model/FieldValues.h"
#include "model/TaskHistory.h"
#include "model/TaskProperties.h"
#include "model/TaskRecord.h"

#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace ListMerge {

namespace {

using namespace ListMergeHistory;

bool sameFields(const FieldList& a, const FieldList& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t f = 0; f < a.size(); ++f)
        if (a[f].kind != b[f].kind || a[f].width != b[f].width ||
            a[f].name.compare(b[f].name, Qt::CaseInsensitive) != 0)
            return false;
    return true;
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

int fieldNamed(const FieldList& fields, const QString& name) {
    for (std::size_t f = 0; f < fields.size(); ++f)
        if (fields[f].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(f);
    return -1;
}

int idField(const FieldList& fields) {
    for (std::size_t f = 0; f < fields.size(); ++f)
        if (fields[f].kind == FieldKind::AutoInc)
            return static_cast<int>(f);
    return -1;
}

// An empty text is the empty field: a list file writes neither, so a copy read from a file holds
// none where the table that wrote it held the empty text.
bool sameField(const RowData& a, const RowData& b, int field) {
    return a.raw(field) == b.raw(field) &&
           (a.isNull(field) == b.isNull(field) || a.raw(field).empty());
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
//
// A merge leaves in this list's history what it took in, so that merging the same copy again
// finds nothing new and asks nothing, whatever was answered: a task both changed first takes the
// other copy's values, then the merged ones; a task kept deleted against the other copy's edit
// is brought back with that edit and deleted again; a task kept against the other copy's
// deletion is deleted and brought back. Each is a state both copies then share.
class Planner {
public:
    Planner(const DataTable& mine, const DataTable& other, const CommonPoint& point, Plan& plan)
        : m_mine(mine), m_other(other), m_plan(plan), m_fields(mine.fields()),
          m_id(idField(m_fields)), m_later(fieldNamed(m_fields, TaskRecord::LastActioned)),
          m_properties(fieldNamed(m_fields, TaskRecord::Properties)), m_common(point.versions),
          m_commonEntries(point.entries), m_ours(trace(mine, point)),
          m_theirs(trace(other, point)) {}

    void run() {
        // The row each version of this list shows, where it shows one.
        m_rowOf.assign(m_mine.versionCount(), -1);
        for (const DataTable::RowId row : m_mine.allRows())
            m_rowOf[static_cast<std::size_t>(m_mine.currentVersionOf(row))] = row;
        // IDs this list gave out after the common point: a task the other copy added under one
        // of them takes the next free ID instead.
        for (std::size_t v = m_common; v < m_mine.versionCount(); ++v)
            if (const auto id = TaskHistory::packedIdOf(m_mine, std::uint32_t(v)))
                m_givenOut.insert(*id);
        // This list's new tasks by their values, to find the ones an earlier merge brought here.
        for (std::size_t t = 0; t < m_ours.tasks.size(); ++t)
            if (m_ours.tasks[t].origin >= m_common)
                for (const std::uint32_t v : m_ours.tasks[t].chain)
                    if (v != Gone)
                        m_ourNewTasks.emplace(hashOf(m_mine.versionData(v)), std::make_pair(t, v));
        m_matched.assign(m_ours.tasks.size(), false);
        m_before.assign(m_common, NoOrigin);
        for (std::size_t i = 0; i < std::min(m_commonEntries, entryCount(m_mine)); ++i) {
            const Entry entry = entryAt(m_mine, i);
            if (makesVersion(entry) && (entry.kind & DataTable::Modified) && entry.version >= 1 &&
                entry.version <= m_common && entry.replaced >= 1 && entry.replaced < entry.version)
                m_before[entry.version - 1] = entry.replaced - 1;
        }

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
    // The latest state of a task both copies held: deleted (gone), or these values. A task both
    // brought back after a deletion merges from `values`, the task as it was.
    struct Base {
        bool gone = false;
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
            mix(row.raw(f).empty() ? 0 : 1);
            for (const char c : row.raw(f))
                mix(static_cast<unsigned char>(c));
            mix(0xFF);
        }
        return hash;
    }

    // The latest state of a task that both copies held after the common point, as when an
    // earlier merge brought one copy's values or deletion to the other, or a calendar sync did:
    // the latest state of their chain that this list's chain holds too. (What this list holds of
    // theirs may stand in another order in its chain: a merge adds the versions it lacked after
    // its own.) Not found when there is none.
    struct Met {
        bool found = false;
        bool gone = false;
        const RowData* values = nullptr;
    };
    Met meetingPoint(const std::vector<std::uint32_t>& ourChain,
                     const std::vector<std::uint32_t>& theirChain) const {
        Met met;
        for (auto it = theirChain.rbegin(); it != theirChain.rend() && !met.found; ++it) {
            for (const std::uint32_t v : ourChain) {
                const bool alike = *it == Gone || v == Gone
                                       ? *it == v
                                       : same(m_other.versionData(*it), m_mine.versionData(v));
                if (!alike)
                    continue;
                met.found = true;
                met.gone = *it == Gone;
                met.values = met.gone ? nullptr : &m_other.versionData(*it);
                break;
            }
        }
        return met;
    }

    // A task both copies had at the common point.
    void sharedTask(const Lineage::Task& task, const RowData* theirs) {
        const auto it = m_ours.taskOf.find(task.origin);
        const Lineage::Task* ourTask =
            it == m_ours.taskOf.end() ? nullptr : &m_ours.tasks[it->second];
        const RowData& then = m_mine.versionData(task.origin);
        const bool goneThen = m_ours.goneAtCommon.count(task.origin) > 0;
        // The task as both copies held it up to the common point, latest first.
        std::vector<const RowData*> before;
        for (std::uint32_t v = task.origin; v < m_common; v = m_before[v])
            before.push_back(&m_mine.versionData(v));
        const Met met = ourTask ? meetingPoint(ourTask->chain, task.chain) : Met();
        const Base base =
            met.found ? Base{met.gone, met.gone ? &then : met.values} : Base{goneThen, &then};
        Here state;
        if (ourTask) {
            state = here(*ourTask);
        } else {
            state.values = &then;
            state.row = goneThen ? -1 : m_rowOf[task.origin];
            if (!goneThen && state.row < 0)
                return; // not a task here at the common point: a damaged history
        }
        static const std::vector<std::uint32_t> none;
        decide(base, state, theirs, news(task, ourTask ? ourTask->chain : none, before));
    }

    // A task the other copy added: the same task when an earlier merge brought it here,
    // otherwise a new one here.
    void newTask(const Lineage::Task& task, const RowData* theirs) {
        for (auto v = task.chain.rbegin(); v != task.chain.rend(); ++v) {
            if (*v == Gone)
                continue;
            const RowData& values = m_other.versionData(*v);
            const auto [begin, end] = m_ourNewTasks.equal_range(hashOf(values));
            for (auto it = begin; it != end; ++it) {
                const auto [ourIndex, ourVersion] = it->second;
                if (m_matched[ourIndex] || !same(m_mine.versionData(ourVersion), values))
                    continue;
                m_matched[ourIndex] = true;
                const Lineage::Task& ourTask = m_ours.tasks[ourIndex];
                const Met met = meetingPoint(ourTask.chain, task.chain);
                const Base base = met.found ? Base{met.gone, met.gone ? &values : met.values}
                                            : Base{false, &values};
                decide(base, here(ourTask), theirs, news(task, ourTask.chain));
                return;
            }
        }
        // The same task by its UID: one that reached each copy another way (made there and
        // synced, and taken from the calendar here). Nothing tells their common state: whatever
        // differs is asked, but a value one side lacks.
        if (const std::optional<std::size_t> ourIndex = ourTaskWithUid(task)) {
            m_matched[*ourIndex] = true;
            const Lineage::Task& ourTask = m_ours.tasks[*ourIndex];
            const Met met = meetingPoint(ourTask.chain, task.chain);
            const Base base = met.found ? Base{met.gone, met.gone ? &m_nothing : met.values}
                                        : Base{false, &m_nothing};
            decide(base, here(ourTask), theirs, news(task, ourTask.chain));
            return;
        }
        // New here: its first version as the other copy holds it (so every copy holds the same
        // start of the task), then every later one, and its deletion there.
        const RowData& first = m_other.versionData(task.origin);
        add(first.clone(),
            m_id < 0 || first.isNull(m_id) || m_givenOut.count(first.int32(m_id)) == 0);
        Track track{DataTable::RowChange::LastAdded, true, nullptr, &first};
        for (const std::uint32_t v : task.chain)
            if (v != Gone && v != task.origin)
                put(track, m_other.versionData(v));
        if (!theirs)
            reach(track, nullptr);
    }

    // This list's new task, not matched yet, with the UID of the other copy's task.
    std::optional<std::size_t> ourTaskWithUid(const Lineage::Task& task) {
        if (!m_theirUids) {
            m_theirUids = std::make_unique<TaskUids>(m_other);
            const TaskUids ours(m_mine);
            for (std::size_t t = 0; t < m_ours.tasks.size(); ++t)
                if (m_ours.tasks[t].origin >= m_common)
                    m_ourByUid.insert(ours.of(m_ours.tasks[t].last()), t);
        }
        const auto found = m_ourByUid.constFind(m_theirUids->of(task.last()));
        if (found == m_ourByUid.cend() || m_matched[found.value()])
            return std::nullopt;
        return found.value();
    }

    // The versions the other copy made of a task since the common point that this list made
    // none alike, in order: a merge keeps them all, so no version a copy held is lost, and the
    // task passes here through the states it passed through there.
    // `before`: the task as both copies held it up to the common point. A version there alike
    // one of these and followed by another (a delete undone, then an edit; an undone sync; or
    // its deletion there) is held here already and meets nothing a later merge looks for: not
    // new. (The last version of a task live there is what a later merge meets: it comes in.)
    std::vector<const RowData*> news(const Lineage::Task& task,
                                     const std::vector<std::uint32_t>& ourChain,
                                     const std::vector<const RowData*>& before = {}) const {
        std::vector<const RowData*> found;
        const auto last = std::find_if(task.chain.rbegin(), task.chain.rend(),
                                       [](std::uint32_t v) { return v != Gone; });
        for (const std::uint32_t v : task.chain) {
            if (v == Gone)
                continue;
            const RowData& values = m_other.versionData(v);
            const auto held = [&](const RowData& other) { return same(values, other); };
            if (((v != *last || task.deleted) &&
                 std::any_of(before.begin(), before.end(),
                             [&](const RowData* earlier) { return held(*earlier); })) ||
                std::any_of(ourChain.begin(), ourChain.end(),
                            [&](std::uint32_t ours) {
                                return ours != Gone && held(m_mine.versionData(ours));
                            }) ||
                std::any_of(found.begin(), found.end(),
                            [&](const RowData* taken) { return held(*taken); }))
                continue;
            found.push_back(&values);
        }
        return found;
    }

    // Where a task stands while its changes are planned: shown by a row (one of the list's, or
    // the one the latest add made) that holds `now`, or deleted; idFrom carries its ID here.
    struct Track {
        DataTable::RowId row = -1;
        bool live = false;
        const RowData* idFrom = nullptr;
        const RowData* now = nullptr;
    };
    RowData withOwnId(const RowData& values, const Track& track) const {
        return track.idFrom ? withIdOf(values, *track.idFrom, m_id) : values.clone();
    }
    // The task takes these values: stored, or brought back under its own ID.
    void put(Track& track, const RowData& values) {
        if (track.live) {
            if (track.now && same(*track.now, values))
                return;
            change(DataTable::RowChange::Store, track.row, withOwnId(values, track));
        } else {
            add(withOwnId(values, track), true);
            track.row = DataTable::RowChange::LastAdded;
            track.live = true;
        }
        track.now = &values;
    }
    // Values this task ends with: the calendar UID it names here stays named, whatever the
    // other copy did to the line (an undone sync takes it away); without it the task would
    // derive another UID from this copy's history and reach the calendar twice.
    RowData ending(const RowData& values, const Track& track) const {
        RowData own = withOwnId(values, track);
        if (m_properties < 0 || !track.idFrom)
            return own;
        const FieldDef& def = m_fields[std::size_t(m_properties)];
        const QString uid =
            VTodoMapping::UidOf(FieldValues::text(def, *track.idFrom, m_properties));
        const QString text = FieldValues::text(def, own, m_properties);
        if (uid.isEmpty() || !VTodoMapping::UidOf(text).isEmpty())
            return own;
        const FieldValues::Stored named =
            FieldValues::fromText(def, VTodoMapping::WithUid(text, uid));
        const std::string_view bytes = named.bytes();
        return own.withField(m_properties, &bytes);
    }
    // The changes that take the task from where it stands to these values (none: deleted),
    // made for one answer to a conflict, or always (-1).
    void reach(const Track& track, const RowData* values, int conflict = -1,
               MergeConflict::Side side = MergeConflict::Side::OtherCopy, bool asked = false) {
        if (!values) {
            if (track.live)
                change(DataTable::RowChange::Delete, track.row, RowData(), conflict, side);
            return;
        }
        RowData ends = ending(*values, track);
        if (!track.live)
            add(std::move(ends), true, conflict, side);
        else if (asked || !track.now || !same(*track.now, ends))
            change(DataTable::RowChange::Store, track.row, std::move(ends), conflict, side);
    }

    // Where the task goes from the state both copies held (base): here, there, or both, field
    // by field or deleted against edited. The other copy's new versions come in first.
    void decide(const Base& base, const Here& state, const RowData* theirs,
                const std::vector<const RowData*>& news) {
        Track track{state.row, state.row >= 0, state.values,
                    state.row >= 0 ? state.values : nullptr};
        for (const RowData* values : news)
            put(track, *values);
        const RowData* ours = state.row >= 0 ? state.values : nullptr;
        if (base.gone) {
            if (!theirs || !ours)
                reach(track, theirs ? theirs : ours); // one side brought it back
            else
                mergeBoth(track, *base.values, *ours, *theirs); // both did
            return;
        }
        const RowData& was = *base.values;
        if (theirs && same(*theirs, was)) {
            reach(track, ours); // nothing new there
            return;
        }
        if (!ours) {
            if (!theirs) {
                reach(track, nullptr); // deleted on both sides
                return;
            }
            const int conflict = deletedVsEdited(withIdOf(*theirs, *state.values, m_id), was, true);
            reach(track, theirs, conflict, MergeConflict::Side::OtherCopy);
            // Kept deleted: the other copy's edit comes in and goes again.
            Track kept = track;
            if (!kept.live) {
                add(withOwnId(*theirs, kept), true, conflict, MergeConflict::Side::ThisCopy);
                kept.row = DataTable::RowChange::LastAdded;
                kept.live = true;
                kept.now = theirs;
            }
            reach(kept, nullptr, conflict, MergeConflict::Side::ThisCopy);
            return;
        }
        if (same(*ours, was)) {
            reach(track, theirs);
            return;
        }
        if (!theirs) {
            const int conflict = deletedVsEdited(*ours, was, false);
            reach(track, nullptr, conflict, MergeConflict::Side::OtherCopy);
            // Kept: deleted as the other copy deleted it, and back under its own ID.
            reach(track, nullptr, conflict, MergeConflict::Side::ThisCopy);
            add(ours->clone(), true, conflict, MergeConflict::Side::ThisCopy);
            return;
        }
        mergeBoth(track, was, *ours, *theirs);
    }

    // Changed on both sides: the merge, field by field.
    void mergeBoth(const Track& track, const RowData& base, const RowData& ours,
                   const RowData& theirs) {
        RowData theirsHere = withIdOf(theirs, ours, m_id);
        TaskMerge merged = MergeTask(withIdOf(base, ours, m_id), ours, theirsHere, m_later,
                                     PropertiesField(m_fields));
        const std::vector<MergeConflict> lines =
            FieldConflicts(m_fields, base, ours, theirsHere, merged.conflicts);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            m_plan.conflicts.push_back(lines[i]);
            m_plan.targets.push_back({m_plan.changes.size(), merged.conflicts[i]});
        }
        reach(track, &merged.merged, -1, MergeConflict::Side::OtherCopy, !lines.empty());
        if (!lines.empty())
            m_plan.changes.back().theirs = std::move(theirsHere);
    }

    // The conflict of the changes that come next; returns its index.
    int deletedVsEdited(const RowData& edited, const RowData& base, bool deletedHere) {
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
        return static_cast<int>(m_plan.conflicts.size()) - 1;
    }

    void addNew(const RowData& values) {
        add(values.clone(),
            m_id < 0 || values.isNull(m_id) || m_givenOut.count(values.int32(m_id)) == 0);
    }
    void add(RowData values, bool keepId, int conflict = -1,
             MergeConflict::Side side = MergeConflict::Side::OtherCopy) {
        Plan::Change made;
        made.kind = DataTable::RowChange::Add;
        made.values = std::move(values);
        made.keepId = keepId;
        made.conflict = conflict;
        made.side = side;
        m_plan.changes.push_back(std::move(made));
    }
    void change(DataTable::RowChange::Kind kind, DataTable::RowId row, RowData values,
                int conflict = -1, MergeConflict::Side side = MergeConflict::Side::OtherCopy) {
        Plan::Change made;
        made.kind = kind;
        made.row = row;
        made.values = std::move(values);
        made.conflict = conflict;
        made.side = side;
        m_plan.changes.push_back(std::move(made));
    }

    const DataTable& m_mine;
    const DataTable& m_other;
    Plan& m_plan;
    const FieldList& m_fields;
    const int m_id;
    const int m_later;
    const int m_properties;
    const std::size_t m_common;
    const std::size_t m_commonEntries;
    // Per version both copies hold, the one its edit replaced (NoOrigin: none).
    std::vector<std::uint32_t> m_before;
    const Lineage m_ours;
    const Lineage m_theirs;
    std::vector<DataTable::RowId> m_rowOf;
    std::unordered_set<std::int32_t> m_givenOut;
    std::unordered_multimap<std::uint64_t, std::pair<std::size_t, std::uint32_t>> m_ourNewTasks;
    std::vector<bool> m_matched;
    std::unique_ptr<TaskUids> m_theirUids;
    QHash<QString, std::size_t> m_ourByUid;
    const RowData m_nothing = RowData::empty(static_cast<int>(m_fields.size()));
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

int PropertiesField(const FieldList& fields) {
    for (std::size_t f = 0; f < fields.size(); ++f)
        if (fields[f].name.compare(TaskRecord::Properties, Qt::CaseInsensitive) == 0)
            return fields[f].isText() ? static_cast<int>(f) : -1;
    return -1;
}

TaskMerge MergeTask(const RowData& base, const RowData& mine, const RowData& theirs, int later,
                    int propertiesField) {
    TaskMerge result;
    const int count = mine.fieldCount();
    RowBuilder builder(count);
    const auto text = [](const RowData& row, int f) {
        const std::string_view bytes = row.raw(f);
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    };
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
            if (f == later) {
                // Stamped by commands, not typed: the later day stands, nobody is asked.
                if (mine.isNull(f) || (!theirs.isNull(f) && theirs.int32(f) > mine.int32(f)))
                    from = &theirs;
                break;
            }
            if (f == propertiesField) {
                if (const std::optional<QString> lines =
                        TaskProperties::Merge(text(base, f), text(mine, f), text(theirs, f))) {
                    builder.setBytes(f, lines->toUtf8().toStdString());
                    continue;
                }
            }
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

// The version each live task shows, by ID (a list without IDs: by row).
std::unordered_map<std::int64_t, std::int32_t> shownById(const DataTable& table) {
    std::unordered_map<std::int64_t, std::int32_t> shown;
    for (const DataTable::RowId row : table.allRows()) {
        const std::int32_t version = table.currentVersionOf(row);
        const auto id = TaskHistory::packedIdOf(table, std::uint32_t(version));
        shown.emplace(id ? std::int64_t(*id) : -1 - std::int64_t(row), version);
    }
    return shown;
}

Outcome Apply(DataTable& table, const Plan& plan, const MergeChoices& choices) {
    if (choices.size() != plan.conflicts.size())
        throw CorvantisError(QStringLiteral("Every conflict of the merge needs a choice."));
    table.settle();
    if (table.versionCount() != plan.versionCount || table.changeLog().size() != plan.logSize)
        throw CorvantisError(
            QStringLiteral("The list changed while the merge was prepared. Merge again."));

    const std::size_t count = plan.changes.size();
    std::vector<std::vector<int>> fieldsOf(count);
    std::vector<MergeChoices> choicesOf(count);
    for (std::size_t i = 0; i < plan.conflicts.size(); ++i) {
        const Plan::Target& target = plan.targets[i];
        if (target.field >= 0) {
            fieldsOf[target.change].push_back(target.field);
            choicesOf[target.change].push_back(choices[i]);
        }
    }
    std::vector<RowData> resolved(count);
    std::vector<DataTable::RowChange> changes;
    changes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Plan::Change& change = plan.changes[i];
        if (change.conflict >= 0 && choices[std::size_t(change.conflict)] != change.side)
            continue;
        const RowData* values = &change.values;
        if (!fieldsOf[i].empty()) {
            resolved[i] = Resolve(change.values, change.theirs, fieldsOf[i], choicesOf[i]);
            values = &resolved[i];
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
    const auto before = shownById(table);
    table.raiseAutoIncValue(plan.counter);
    table.applyChanges(changes);
    // The tasks as the user sees them, before and after, whatever steps the history took.
    Outcome outcome;
    const auto after = shownById(table);
    for (const auto& [id, version] : after) {
        const auto was = before.find(id);
        if (was == before.end())
            ++outcome.added;
        else if (was->second != version && !SameValues(table.versionData(std::size_t(was->second)),
                                                       table.versionData(std::size_t(version))))
            ++outcome.edited;
    }
    for (const auto& [id, version] : before)
        outcome.deleted += after.count(id) == 0;
    return outcome;
}

} // namespace ListMerge
