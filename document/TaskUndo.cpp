#include "document/TaskUndo.h"

#include "base/CorvantisError.h"

#include <QScopedValueRollback>

#include <algorithm>
#include <unordered_set>
#include <utility>

TaskUndo::TaskUndo(DataTable* table, QObject* parent) : QObject(parent), m_table(table) {
    connect(table, &DataTable::changeStored, this, &TaskUndo::stored);
    connect(table, &DataTable::resetDone, this, &TaskUndo::dropWithdrawn);
}

void TaskUndo::dropWithdrawn() {
    const auto versions = static_cast<std::int32_t>(m_table->versionCount());
    m_open.erase(std::remove_if(m_open.begin(), m_open.end(),
                                [versions](const Change& change) {
                                    return change.before >= versions || change.after >= versions;
                                }),
                 m_open.end());
}

TaskUndo::~TaskUndo() = default;

TaskUndo::Step::Step(TaskUndo& undo, const QString& text) : m_undo(undo) {
    if (m_undo.m_depth++ == 0 || m_undo.m_text.isEmpty())
        m_undo.m_text = text;
}

TaskUndo::Step::~Step() {
    if (--m_undo.m_depth > 0)
        return;
    std::vector<Change> changes;
    changes.swap(m_undo.m_open);
    if (!changes.empty())
        m_undo.push(std::move(changes), m_undo.m_text);
    m_undo.m_text.clear();
}

void TaskUndo::stored(DataTable::RowId row, std::int32_t before, std::int32_t after,
                      bool settling) {
    if (m_replaying)
        return;
    // An edit stored because the user moved on belongs to what came before the command.
    if (m_depth > 0 && !settling)
        m_open.push_back({row, before, after});
    else
        push({{row, before, after}}, QString());
}

void TaskUndo::push(std::vector<Change>&& changes, const QString& text) {
    // A new step ends the steps that were undone: they can no longer be made again.
    QString name = text.isEmpty() ? describe(changes) : text;
    if (m_savedAt > static_cast<int>(m_index))
        m_savedAt = -1; // the saved state lay among the steps undone
    m_steps.erase(m_steps.begin() + static_cast<std::ptrdiff_t>(m_index), m_steps.end());
    m_steps.push_back({std::move(changes), std::move(name)});
    m_index = m_steps.size();
    emit stateChanged();
}

QString TaskUndo::undoText() const {
    return canUndo() ? m_steps[m_index - 1].text : QString();
}

QString TaskUndo::redoText() const {
    return canRedo() ? m_steps[m_index].text : QString();
}

QString TaskUndo::describe(const std::vector<Change>& changes) {
    const auto count = [&](auto test) {
        return std::count_if(changes.begin(), changes.end(), test);
    };
    const auto n = static_cast<qsizetype>(changes.size());
    const auto tasks = [n](const QString& verb) {
        return n == 1 ? verb + QStringLiteral(" Task")
                      : QStringLiteral("%1 %2 Tasks").arg(verb).arg(n);
    };
    if (count([](const Change& c) { return c.before < 0; }) == n)
        return tasks(QStringLiteral("Add"));
    if (count([](const Change& c) { return c.after < 0; }) == n)
        return tasks(QStringLiteral("Delete"));
    if (count([](const Change& c) { return c.before >= 0 && c.after >= 0; }) == n)
        return tasks(QStringLiteral("Edit"));
    return QStringLiteral("Changes");
}

DataTable::RowId TaskUndo::resolve(DataTable::RowId row) {
    DataTable::RowId now = row;
    for (auto it = m_moved.find(now); it != m_moved.end(); it = m_moved.find(now))
        now = it->second;
    if (now != row)
        m_moved[row] = now; // the next look-up takes one step
    return now;
}

void TaskUndo::replay(const std::vector<Change>& changes, bool backward) {
    using RowChange = DataTable::RowChange;
    const QScopedValueRollback<bool> replaying(m_replaying, true);
    // A row added afresh gets its new identity only once added: a step that changes one row
    // twice is replayed a change at a time.
    std::unordered_set<DataTable::RowId> rows;
    bool oneAtATime = false;
    for (const Change& change : changes)
        oneAtATime = !rows.insert(change.row).second || oneAtATime;

    std::vector<RowChange> batch;
    std::vector<DataTable::RowId> addedFor; // the recorded row of each add in the batch
    const auto flush = [&] {
        const std::vector<DataTable::RowId> added = m_table->applyChanges(batch);
        for (std::size_t i = 0; i < added.size() && i < addedFor.size(); ++i)
            m_moved[resolve(addedFor[i])] = added[i];
        batch.clear();
        addedFor.clear();
    };
    const auto take = [&](const Change& change) {
        const std::int32_t from = backward ? change.after : change.before;
        const std::int32_t to = backward ? change.before : change.after;
        if (from < 0) {
            // The task comes back under its own ID: IDs are never given twice, so none holds it.
            RowChange add{RowChange::Add, -1, static_cast<std::uint32_t>(to)};
            add.keepId = true;
            batch.push_back(add);
            addedFor.push_back(change.row);
        } else if (to < 0) {
            batch.push_back({RowChange::Delete, resolve(change.row), 0});
        } else {
            batch.push_back(
                {RowChange::Store, resolve(change.row), static_cast<std::uint32_t>(to)});
        }
        if (oneAtATime)
            flush();
    };
    if (backward)
        std::for_each(changes.rbegin(), changes.rend(), take);
    else
        std::for_each(changes.begin(), changes.end(), take);
    flush();
}

void TaskUndo::undo() {
    replayLatest(false);
}

void TaskUndo::redo() {
    replayLatest(true);
}

void TaskUndo::replayLatest(bool redo) {
    m_table->settle();
    if (redo ? !canRedo() : !canUndo())
        return;
    const std::size_t at = redo ? m_index : m_index - 1;
    try {
        replay(m_steps[at].changes, !redo);
    } catch (const CorvantisError&) {
        // A step the table refuses cannot be replayed later either: it is dropped. What of it
        // was made stays made, so no count of steps gives the saved state beyond it.
        if (m_savedAt >= static_cast<int>(at))
            m_savedAt = -1;
        m_steps.erase(m_steps.begin() + static_cast<std::ptrdiff_t>(at));
        if (!redo)
            --m_index;
        emit stateChanged();
        throw;
    }
    m_index = redo ? m_index + 1 : m_index - 1;
    emit stateChanged();
}

void TaskUndo::clear() {
    m_steps.clear();
    m_index = 0;
    m_savedAt = -1;
    m_moved.clear();
    m_open.clear();
    emit stateChanged();
}
