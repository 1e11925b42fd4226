#include "model/DataTable.h"

#include "base/CorvantisError.h"
#include "model/CollationKeys.h"

#include <QScopedValueRollback>

#include <algorithm>
#include <iterator>
#include <limits>

// Editing and storing rows: the pending row, posting, deleting, the ID counter and key counts,
// and the entry points that store many changes at once (applyChanges, appendRows).

// Where a batch of appended rows started, and the rows it stored so far.
struct DataTable::Batch {
    std::size_t versions;
    std::size_t log;
    std::size_t rows;
    std::int64_t counter;
    int current;
    std::vector<RowId> stored; // their ids run on from `rows`
    std::vector<char> shown;   // whether the filter lets each stored row through
    int shownCount = 0;
};

// The rows a batch has stored count, though they join the visible rows only at its end.
int DataTable::recordCount() const {
    const int batch = m_batch ? m_batch->shownCount : 0;
    return static_cast<int>(m_visible.size()) - (m_state == State::Insert ? 1 : 0) + batch;
}

// --- editing ---------------------------------------------------------------------------------

void DataTable::append() {
    beginPending(true);
}

void DataTable::insert() {
    beginPending(false);
}

void DataTable::insertAt(int position) {
    beginPending(false, std::max(position, 0));
}

// Back to browsing: the pending row, if any, is let go as it is.
void DataTable::clearPending() {
    m_state = State::Browse;
    m_pending = RowData();
    m_pendingInBuilder = false;
    m_pendingRow = -1;
    m_pendingModified = false;
}

// The pending row's values are written into a builder, and laid out as a row only when the row
// is read or stored: a new task's defaults and fields make one row, not one each.
RowBuilder& DataTable::pendingBuilder() {
    if (!m_pendingInBuilder) {
        const int count = static_cast<int>(m_fields.size());
        if (!m_builder || m_builder->fieldCount() != count)
            m_builder = std::make_unique<RowBuilder>(count);
        m_builder->reset();
        m_pending.forEachValue(
            [&](int field, std::string_view bytes) { m_builder->setBytes(field, bytes); });
        m_pending = RowData();
        m_pendingInBuilder = true;
    }
    return *m_builder;
}

RowData& DataTable::pendingRowData() {
    pendingData();
    return m_pending;
}

std::optional<DataTable::PostedVersion> DataTable::pendingAsPosted() const {
    if (!isEditing() || !m_pendingModified || !m_keepHistory)
        return std::nullopt;
    PostedVersion posted;
    posted.counter = m_counter;
    const RowData& values = pendingData();
    if (m_state == State::Insert) {
        posted.state = Inserted;
        if (m_autoIncField >= 0) {
            const std::int32_t id = nextId();
            const auto stored = FieldValues::Stored::number(id);
            const std::string_view bytes = stored.bytes();
            posted.values = values.withField(m_autoIncField, &bytes);
            posted.counter = std::max<std::int64_t>(m_counter, std::int64_t(id) + 1);
        } else {
            posted.values = values.clone();
        }
        return posted;
    }
    const std::int32_t old = m_rowVersion[static_cast<std::size_t>(m_pendingRow)];
    if (old < 0 || values.sameAs(m_versions[static_cast<std::size_t>(old)]))
        return std::nullopt;
    posted.values = values.clone();
    posted.replaces = old;
    posted.state = Modified | (m_states[static_cast<std::size_t>(old)] & Inserted);
    if (m_autoIncField >= 0 && !values.isNull(m_autoIncField))
        posted.counter =
            std::max<std::int64_t>(m_counter, std::int64_t(values.int32(m_autoIncField)) + 1);
    return posted;
}

const RowData& DataTable::pendingData() const {
    if (m_pendingInBuilder) {
        m_pending = m_builder->build();
        m_pendingInBuilder = false;
    }
    return m_pending;
}

void DataTable::beginPending(bool atEnd, int at) {
    requireActive();
    settle();
    const RowId before = currentRow();
    int position = atEnd || m_cur < 0 ? static_cast<int>(m_visible.size()) : m_cur;
    if (at >= 0)
        position = std::min(at, static_cast<int>(m_visible.size()));
    const RowId row = static_cast<RowId>(m_rowVersion.size());
    if (!m_batch)
        emit rowAboutToBeInserted(position);
    m_rowVersion.push_back(-1);
    m_visible.insert(m_visible.begin() + position, row);
    m_pending = RowData();
    pendingBuilder(); // every field empty
    m_pendingRow = row;
    m_pendingModified = false;
    m_rowBeforeInsert = before;
    m_state = State::Insert;
    if (!m_batch)
        emit rowInserted(position);
    setCurrent(position);
    if (m_afterInsert)
        m_afterInsert();
    scrolled();
}

void DataTable::edit() {
    requireActive();
    if (isEditing())
        return;
    if (m_visible.empty()) {
        insert();
        return;
    }
    requireStoredRow(currentRow()); // never an edit of a row the table is deleting
    m_pending = currentData().clone();
    m_pendingRow = currentRow();
    m_pendingModified = false;
    m_state = State::Edit;
    if (m_afterEdit)
        m_afterEdit();
}

void DataTable::post() {
    requireActive();
    if (isEditing())
        storePending();
}

void DataTable::settle() {
    if (!isEditing())
        return;
    if (m_pendingModified) {
        const QScopedValueRollback<bool> settling(m_settling, true);
        storePending();
    } else {
        cancel();
    }
}

void DataTable::cancel() {
    if (!isEditing())
        return;
    const int position = m_cur;
    if (m_state == State::Insert) {
        emit rowAboutToBeRemoved(position);
        m_visible.erase(m_visible.begin() + position);
        m_rowVersion.pop_back(); // the pending row is always the newest id
        clearPending();
        emit rowRemoved(position);
        const int back = positionOf(m_rowBeforeInsert);
        setCurrent(back >= 0 ? back : std::min(position, static_cast<int>(m_visible.size()) - 1));
        return;
    }
    clearPending();
    emit rowChanged(position);
}

void DataTable::remove() {
    requireActive();
    if (m_state == State::Insert) {
        cancel();
        return;
    }
    if (recordCount() == 0)
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    if (m_state == State::Edit)
        clearPending();
    const RowId row = currentRow();
    storeDeletion(row);
    m_ordered.erase(std::find(m_ordered.begin(), m_ordered.end(), row));
    const int position = m_cur;
    if (outlineInvolved()) {
        // The rows under it move up to the top: more than the one row may change.
        std::vector<RowId> shown;
        buildOutlineRows(shown, false);
        showOutline(std::move(shown), -1, position);
        scrolled();
        return;
    }
    emit rowAboutToBeRemoved(position);
    m_visible.erase(m_visible.begin() + position);
    emit rowRemoved(position);
    setCurrent(std::min(position, static_cast<int>(m_visible.size()) - 1));
    scrolled();
}

void DataTable::ensureKeyCounts() const {
    if (m_keyCountsBuilt || m_autoIncField < 0)
        return;
    m_keyCounts.clear();
    m_keyCounts.reserve(m_ordered.size());
    // Every stored row, also one that a batch of changes has not placed in the order yet.
    for (const std::int32_t version : m_rowVersion) {
        if (version < 0)
            continue;
        const RowData& data = m_versions[static_cast<std::size_t>(version)];
        if (!data.isNull(m_autoIncField))
            ++m_keyCounts[data.int32(m_autoIncField)];
    }
    m_keyCountsBuilt = true;
}

bool DataTable::isKeyUsed(std::int32_t id, RowId except) const {
    // The counter stays above every stored ID (adopt, new rows and hand-set IDs all keep it so),
    // so a new row's ID from the counter needs no count of them all.
    if (id >= m_counter)
        return false;
    ensureKeyCounts();
    const auto it = m_keyCounts.find(id);
    int count = it == m_keyCounts.end() ? 0 : it->second;
    if (except >= 0) {
        const std::int32_t version = m_rowVersion[static_cast<std::size_t>(except)];
        if (version >= 0) {
            const RowData& own = m_versions[static_cast<std::size_t>(version)];
            if (!own.isNull(m_autoIncField) && own.int32(m_autoIncField) == id)
                --count;
        }
    }
    return count > 0;
}

void DataTable::addKey(const RowData& row) {
    if (m_keyCountsBuilt && m_autoIncField >= 0 && !row.isNull(m_autoIncField))
        ++m_keyCounts[row.int32(m_autoIncField)];
}

void DataTable::dropKey(const RowData& row) {
    if (m_keyCountsBuilt && m_autoIncField >= 0 && !row.isNull(m_autoIncField))
        --m_keyCounts[row.int32(m_autoIncField)];
}

void DataTable::requireStoredRow(RowId row) const {
    if (currentVersionOf(row) < 0)
        fail(QStringLiteral("Record not found"));
}

void DataTable::requireVersion(std::uint32_t version) const {
    if (version >= m_versions.size())
        fail(QStringLiteral("Record not found"));
}

std::int32_t DataTable::currentVersionOf(RowId row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= m_rowVersion.size())
        return -1;
    return m_rowVersion[static_cast<std::size_t>(row)];
}

// The ID the next new row takes from the counter; throws when it cannot have one.
std::int32_t DataTable::nextId() const {
    if (m_counter > std::numeric_limits<std::int32_t>::max())
        fail(QStringLiteral("The ID counter is exhausted"));
    const auto id = static_cast<std::int32_t>(m_counter);
    if (isKeyUsed(id, -1))
        throw CorvantisError(QStringLiteral("Key violation."));
    return id;
}

void DataTable::storeNewRow(RowId row, RowData& values, bool keepId) {
    RowData data;
    if (m_autoIncField >= 0) {
        const bool keep = keepId && !values.isNull(m_autoIncField) &&
                          !isKeyUsed(values.int32(m_autoIncField), -1);
        const std::int32_t id = keep ? values.int32(m_autoIncField) : nextId();
        if (!values.isNull(m_autoIncField) && values.int32(m_autoIncField) == id) {
            data = std::move(values);
        } else {
            const auto stored = FieldValues::Stored::number(id);
            const std::string_view bytes = stored.bytes();
            data = values.withField(m_autoIncField, &bytes);
        }
        m_counter = std::max<std::int64_t>(m_counter, std::int64_t(id) + 1);
    } else {
        data = std::move(values);
    }
    const auto version = static_cast<std::int32_t>(m_versions.size());
    addKey(data);
    m_versions.push_back(std::move(data));
    m_states.push_back(m_keepHistory ? std::uint32_t(Inserted) : 0u);
    if (m_keepHistory)
        m_log.insert(m_log.end(),
                     {static_cast<std::uint32_t>(version + 1), 0u, std::uint32_t(Inserted)});
    m_rowVersion[static_cast<std::size_t>(row)] = version;
    noteRow(row);
    if (m_keepHistory)
        emit changeStored(row, -1, version, m_settling);
}

bool DataTable::storeEditedRow(RowId row, RowData& values) {
    const std::int32_t old = m_rowVersion[static_cast<std::size_t>(row)];
    const RowData& before = m_versions[static_cast<std::size_t>(old)];
    if (values.sameAs(before))
        return false;
    if (m_autoIncField >= 0 && !values.isNull(m_autoIncField) &&
        (before.isNull(m_autoIncField) ||
         before.int32(m_autoIncField) != values.int32(m_autoIncField))) {
        const std::int32_t id = values.int32(m_autoIncField);
        if (isKeyUsed(id, row))
            throw CorvantisError(QStringLiteral("Key violation."));
        // A hand-set ID must never be handed out again by the counter.
        m_counter = std::max<std::int64_t>(m_counter, std::int64_t(id) + 1);
    }
    dropKey(before);
    addKey(values);
    if (m_keepHistory) {
        const std::uint32_t inherited = m_states[static_cast<std::size_t>(old)] & Inserted;
        m_states[static_cast<std::size_t>(old)] |= Superseded;
        const auto version = static_cast<std::int32_t>(m_versions.size());
        m_versions.push_back(std::move(values));
        m_states.push_back(Modified | inherited);
        m_log.insert(m_log.end(), {static_cast<std::uint32_t>(version + 1),
                                   static_cast<std::uint32_t>(old + 1), Modified});
        m_rowVersion[static_cast<std::size_t>(row)] = version;
        noteRow(row);
        emit changeStored(row, old, version, m_settling);
    } else {
        m_versions[static_cast<std::size_t>(old)] = std::move(values);
        for (auto& keys : m_textKeys)
            keys->forget(static_cast<std::uint32_t>(old));
        noteRow(row);
    }
    return true;
}

void DataTable::storeDeletion(RowId row) {
    const std::int32_t version = m_rowVersion[static_cast<std::size_t>(row)];
    dropKey(m_versions[static_cast<std::size_t>(version)]);
    m_states[static_cast<std::size_t>(version)] |= Deleted;
    if (m_keepHistory)
        m_log.insert(m_log.end(),
                     {static_cast<std::uint32_t>(version + 1), 0u, std::uint32_t(Deleted)});
    m_rowVersion[static_cast<std::size_t>(row)] = -1;
    noteRow(row);
    if (m_keepHistory)
        emit changeStored(row, version, -1, m_settling);
}

void DataTable::storePending() {
    const RowId row = m_pendingRow;
    const int from = m_cur;
    if (m_state == State::Insert) {
        if (m_autoIncField >= 0) // the ID goes in as the row is laid out, not in a copy
            pendingBuilder().setInt32(m_autoIncField, nextId());
        storeNewRow(row, pendingRowData());
    } else {
        if (!m_pendingModified || !storeEditedRow(row, pendingRowData())) {
            clearPending();
            emit rowChanged(from);
            return;
        }
        m_ordered.erase(std::find(m_ordered.begin(), m_ordered.end(), row));
    }
    clearPending();
    if (m_batch) {
        keepInBatch(row);
        return;
    }
    m_ordered.insert(std::upper_bound(m_ordered.begin(), m_ordered.end(), row,
                                      [this](RowId a, RowId b) { return rowLess(a, b); }),
                     row);
    if (outlineInvolved()) {
        // The rows under it move with it, and the rows above it count it.
        std::vector<RowId> shown;
        buildOutlineRows(shown, false);
        showOutline(std::move(shown), row, from);
        return;
    }
    placeStoredRow(row, from);
}

std::vector<DataTable::RowId> DataTable::applyChanges(const std::vector<RowChange>& changes) {
    requireActive();
    settle();
    std::vector<RowId> added;
    if (changes.empty())
        return added;
    const RowChange& only = changes.front();
    if (changes.size() == 1 && !only.keepId &&
        (only.kind == RowChange::Add || positionOf(only.row) >= 0)) {
        // One change to a shown row (or one new row) goes row by row, so a view keeps its place.
        applyOneChange(only, added);
        scrolled();
        return added;
    }
    std::vector<RowId> touched;
    const RowId current = currentRow();
    emit aboutToReset();
    try {
        for (const RowChange& change : changes) {
            switch (change.kind) {
            case RowChange::Add: {
                RowData values = changeValues(change);
                const auto row = static_cast<RowId>(m_rowVersion.size());
                m_rowVersion.push_back(-1);
                try {
                    storeNewRow(row, values, change.keepId);
                } catch (...) {
                    m_rowVersion.pop_back();
                    throw;
                }
                added.push_back(row);
                touched.push_back(row);
                break;
            }
            case RowChange::Store: {
                const RowId row = change.row == RowChange::LastAdded && !added.empty()
                                      ? added.back()
                                      : change.row;
                requireStoredRow(row);
                RowData values = changeValues(change);
                if (change.row == RowChange::LastAdded && m_autoIncField >= 0) {
                    // The ID the add gave the row, whatever the values carry.
                    const RowData& now = m_versions[std::size_t(currentVersionOf(row))];
                    const std::string_view id = now.raw(m_autoIncField);
                    values = values.withField(m_autoIncField,
                                              now.isNull(m_autoIncField) ? nullptr : &id);
                }
                if (storeEditedRow(row, values))
                    touched.push_back(row);
                break;
            }
            case RowChange::Delete: {
                const RowId row = change.row == RowChange::LastAdded && !added.empty()
                                      ? added.back()
                                      : change.row;
                requireStoredRow(row);
                storeDeletion(row);
                touched.push_back(row);
                break;
            }
            }
        }
    } catch (...) {
        replaceRows(touched, current);
        emit resetDone();
        emit currentChanged(m_cur);
        throw;
    }
    replaceRows(touched, current);
    emit resetDone();
    emit currentChanged(m_cur);
    scrolled();
    return added;
}

// One change through the pending row, as the grid's own edits go: the row's moves reach views
// as single inserts, moves and removals.
void DataTable::applyOneChange(const RowChange& change, std::vector<RowId>& added) {
    switch (change.kind) {
    case RowChange::Add: {
        RowData values = changeValues(change);
        const int position = static_cast<int>(m_visible.size());
        const RowId before = currentRow();
        const auto row = static_cast<RowId>(m_rowVersion.size());
        emit rowAboutToBeInserted(position);
        m_rowVersion.push_back(-1);
        m_visible.push_back(row);
        m_pending = std::move(values);
        m_pendingRow = row;
        m_pendingModified = true;
        m_rowBeforeInsert = before;
        m_state = State::Insert;
        emit rowInserted(position);
        setCurrent(position);
        try {
            storePending();
        } catch (...) {
            cancel();
            throw;
        }
        added.push_back(row);
        return;
    }
    case RowChange::Store: {
        RowData values = changeValues(change);
        setCurrent(positionOf(change.row));
        m_pending = std::move(values);
        m_pendingRow = change.row;
        m_pendingModified = true;
        m_state = State::Edit;
        try {
            storePending();
        } catch (...) {
            clearPending();
            emit rowChanged(m_cur);
            throw;
        }
        return;
    }
    case RowChange::Delete:
        setCurrent(positionOf(change.row));
        remove();
        return;
    }
}

void DataTable::replaceRows(const std::vector<RowId>& touched, RowId keepCurrent) {
    // 1: touched, to be placed again; 2: placed; 3: placed and shown.
    std::vector<std::uint8_t> mark(m_rowVersion.size(), 0);
    for (RowId row : touched)
        mark[static_cast<std::size_t>(row)] = 1;
    const auto isTouched = [&](RowId row) { return mark[static_cast<std::size_t>(row)] != 0; };
    m_ordered.erase(std::remove_if(m_ordered.begin(), m_ordered.end(), isTouched), m_ordered.end());
    m_visible.erase(std::remove_if(m_visible.begin(), m_visible.end(), isTouched), m_visible.end());
    std::vector<RowId> back;
    for (RowId row : touched) {
        auto& m = mark[static_cast<std::size_t>(row)];
        if (m == 1 && m_rowVersion[static_cast<std::size_t>(row)] >= 0)
            back.push_back(row);
        m = 2;
    }
    const auto less = [this](RowId a, RowId b) { return rowLess(a, b); };
    sortRows(back);
    std::vector<RowId> merged;
    merged.reserve(m_ordered.size() + back.size());
    std::merge(m_ordered.begin(), m_ordered.end(), back.begin(), back.end(),
               std::back_inserter(merged), less);
    m_ordered.swap(merged);
    if (outlineInvolved()) {
        placeInOutline(touched, keepCurrent);
        return;
    }
    if (m_filtered)
        back.erase(std::remove_if(back.begin(), back.end(),
                                  [this](RowId row) { return !passes(rowData(row)); }),
                   back.end());
    for (RowId row : back)
        mark[static_cast<std::size_t>(row)] = 3; // shown
    merged.clear();
    merged.reserve(m_visible.size() + back.size());
    std::merge(m_visible.begin(), m_visible.end(), back.begin(), back.end(),
               std::back_inserter(merged), less);
    m_visible.swap(merged);

    // The last changed row that is shown, else the row that was current, else the nearest place.
    int position = -1;
    const auto shown = std::find_if(touched.rbegin(), touched.rend(), [&](RowId row) {
        return mark[static_cast<std::size_t>(row)] == 3;
    });
    if (shown != touched.rend())
        position = positionOf(*shown);
    if (position < 0 && keepCurrent >= 0)
        position = positionOf(keepCurrent);
    if (position < 0 && !m_visible.empty())
        position = std::clamp(m_cur, 0, static_cast<int>(m_visible.size()) - 1);
    m_cur = position;
}

// Moves a just-stored row from its place in the visible rows to where the order puts it, or
// out of view when the filter no longer lets it through.
void DataTable::placeStoredRow(RowId row, int from) {
    if (m_filtered && !passes(rowData(row))) {
        emit rowAboutToBeRemoved(from);
        m_visible.erase(m_visible.begin() + from);
        emit rowRemoved(from);
        setCurrent(std::min(from, static_cast<int>(m_visible.size()) - 1));
        return;
    }
    // Binary search over the visible rows as if the row were not among them.
    const int others = static_cast<int>(m_visible.size()) - 1;
    auto at = [&](int i) { return m_visible[static_cast<std::size_t>(i < from ? i : i + 1)]; };
    int lo = 0;
    int hi = others;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (rowLess(row, at(mid)))
            hi = mid;
        else
            lo = mid + 1;
    }
    const int to = lo;
    if (to == from) {
        emit rowChanged(from);
        setCurrent(from);
        return;
    }
    emit rowAboutToBeMoved(from, to);
    m_visible.erase(m_visible.begin() + from);
    m_visible.insert(m_visible.begin() + to, row);
    emit rowMoved(from, to);
    setCurrent(to);
}

// --- many rows at once -----------------------------------------------------------------------

bool DataTable::appendRows(int count, const std::function<void(int index)>& fill,
                           const Progress& progress) {
    requireActive();
    settle();
    if (count <= 0)
        return true;
    Batch batch{m_versions.size(), m_log.size(), m_rowVersion.size(), m_counter, m_cur, {}, {}, 0};
    batch.stored.reserve(static_cast<std::size_t>(count));
    batch.shown.reserve(static_cast<std::size_t>(count));
    // Asked about every so many rows: often enough for a progress bar, rarely enough to cost
    // nothing.
    constexpr int ProgressStep = 2048;
    emit aboutToReset();
    m_batch = &batch;
    try {
        for (int i = 0; i < count; ++i) {
            if (progress && i > 0 && i % ProgressStep == 0 && !progress(i, count)) {
                dropBatch(batch);
                return false;
            }
            beginPending(true);
            fill(i);
            storePending();
        }
    } catch (...) {
        endBatch(batch);
        throw;
    }
    endBatch(batch);
    return true;
}

// A row stored inside a batch waits outside the order until the batch ends.
void DataTable::keepInBatch(RowId row) {
    m_visible.pop_back(); // the pending row stood last
    m_cur = m_batch->current;
    m_batch->stored.push_back(row);
    const bool shown = !m_filtered || passes(rowData(row));
    m_batch->shown.push_back(shown);
    m_batch->shownCount += shown;
}

// Merges the batch's stored rows into the order and the visible rows, and makes the last of
// them current, as single appends would have left them.
void DataTable::endBatch(Batch& batch) {
    const bool pending = m_state == State::Insert;
    if (pending)
        m_visible.pop_back();
    m_batch = nullptr;
    if (!batch.stored.empty()) {
        auto less = [this](RowId a, RowId b) { return rowLess(a, b); };
        auto mergeInto = [&](std::vector<RowId>& into, const std::vector<RowId>& sorted) {
            std::vector<RowId> merged;
            merged.reserve(into.size() + sorted.size());
            if (sorted.size() * 32 < into.size()) {
                // A few rows into many: each placed by a binary search and the runs between
                // copied whole, so the rows of a large list are not all read again.
                auto from = into.begin();
                for (const RowId row : sorted) {
                    const auto at = std::upper_bound(from, into.end(), row, less);
                    merged.insert(merged.end(), from, at);
                    merged.push_back(row);
                    from = at;
                }
                merged.insert(merged.end(), from, into.end());
            } else {
                std::merge(into.begin(), into.end(), sorted.begin(), sorted.end(),
                           std::back_inserter(merged), less);
            }
            into.swap(merged);
        };
        const RowId last = batch.stored.back();
        sortRows(batch.stored);
        mergeInto(m_ordered, batch.stored);
        if (outlineInvolved()) {
            rebuildVisible();
        } else if (!m_filtered) {
            m_visible = m_ordered;
        } else {
            std::vector<RowId> shown;
            shown.reserve(static_cast<std::size_t>(batch.shownCount));
            for (const RowId row : batch.stored) // in the order now
                if (batch.shown[static_cast<std::size_t>(row) - batch.rows])
                    shown.push_back(row);
            mergeInto(m_visible, shown);
        }
        const int position = positionOf(last);
        m_cur = position >= 0 ? position : static_cast<int>(m_visible.size()) - 1;
    }
    if (pending) {
        m_visible.push_back(m_pendingRow);
        m_cur = static_cast<int>(m_visible.size()) - 1;
    }
    emit resetDone();
    emit currentChanged(m_cur);
}

// Forgets every row the batch stored: the table is as it was when the batch began.
void DataTable::dropBatch(Batch& batch) {
    for (const RowId row : batch.stored)
        dropKey(m_versions[static_cast<std::size_t>(m_rowVersion[static_cast<std::size_t>(row)])]);
    for (auto& keys : m_textKeys)
        for (std::size_t v = batch.versions; v < m_versions.size(); ++v)
            keys->forget(static_cast<std::uint32_t>(v));
    m_versions.erase(m_versions.begin() + static_cast<std::ptrdiff_t>(batch.versions),
                     m_versions.end());
    m_states.resize(batch.versions);
    m_log.resize(batch.log);
    m_rowVersion.resize(batch.rows);
    m_outline.resize(batch.rows);
    m_counter = batch.counter;
    m_cur = batch.current;
    m_batch = nullptr;
    emit historyWithdrawn(m_versions.size(), m_log.size() / 3);
    emit resetDone();
    emit currentChanged(m_cur);
}
