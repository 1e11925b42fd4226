#pragma once

#include "model/FieldDef.h"
#include "model/FieldValues.h"
#include "model/FilterExpression.h"
#include "model/RowData.h"
#include "model/RowDataStore.h"
#include "model/RowOrder.h"
#include "model/TableOutline.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class CollationKeys;

// An in-memory table over a list of field definitions: the task table of one list and the
// recent-lists store are two configurations of it.
//
// Every stored version of every row is kept (unless history is switched off), with a change log
// of inserts, edits and deletes, so the list file can carry the whole history. Rows are shown
// through a named index and an optional filter; the visible rows are a vector of row ids in the
// active order, so positions are O(1) and re-sorting or re-filtering is one pass.
//
// One row at a time can be pending (edited or inserted). Moving, re-ordering, filtering and
// adding settle it first: a changed row is stored, an unchanged one dropped. A pending new row is
// a visible row (at the current position) until it is stored or dropped.
//
// Failures throw CorvantisError; messages about the table as a whole carry "objectName: ".
class DataTable : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };
    using RowId = std::int32_t;

    // What a list file holds; handed over whole by the file reader and read back by the writer.
    struct Content {
        FieldList fields;
        RowArena arena; // memory of versions that do not own theirs
        // A version held packed (see RowDataStore) has an empty row here, laid out when read.
        std::vector<RowData> versions;
        RowDataStore packed;
        std::vector<std::uint32_t> states; // one per version
        std::vector<std::uint32_t> changeLog;
        std::optional<std::int64_t> autoIncValue;
        // One more than the highest ID (the auto-increment field's value) among the versions,
        // 0 when none has one, when the maker of the content knows it (else adopt reads every
        // version for it).
        std::optional<std::int64_t> idCeiling;
    };

    // Row-state bits of a stored version.
    enum : std::uint32_t {
        Superseded = 1,
        Deleted = 2,
        Inserted = 4,
        Modified = 8,
        Void = 32,
    };
    static bool isLiveState(std::uint32_t state) {
        return (state & (Superseded | Deleted | Void)) == 0;
    }

    explicit DataTable(QObject* parent = nullptr);
    ~DataTable() override;

    // --- structure ---------------------------------------------------------------------------
    void setIndexDefs(IndexList indexes);
    const IndexList& indexDefs() const { return m_indexDefs; }
    // Values worked out from a stored field: shown, sorted (an index may name one) and filtered
    // on by name like fields, never stored.
    void setDerivedFields(DerivedFieldList derived) { m_derived = std::move(derived); }
    const DerivedFieldList& derivedFields() const { return m_derived; }
    // The derived field of that name whose source the table has (case ignored); -1: none, or a
    // stored field has that name.
    int derivedIndex(const QString& name) const;
    QString derivedTextOf(const RowData& row, int derived) const;
    // Without history an edit replaces the stored row and nothing is logged.
    void setKeepHistory(bool keep) { m_keepHistory = keep; }
    bool keepsHistory() const { return m_keepHistory; }

    void createEmpty(const FieldList& fields);
    void adopt(Content&& content);
    // Hands over everything the table holds (another table's adopt takes it), a pending row
    // stored first, and closes the table.
    Content takeContent();
    void close();
    bool isActive() const { return m_state != State::Inactive; }

    const FieldList& fields() const { return m_fields; }
    bool hasField(const QString& name) const { return fieldIndex(name) >= 0; }
    int fieldIndex(const QString& name) const; // case ignored; -1 when missing
    int fieldIndexOrThrow(const QString& name) const;
    int autoIncField() const { return m_autoIncField; }

    // --- history, for the file writer ----------------------------------------------------------
    std::size_t versionCount() const { return m_versions.size(); }
    // A stored version; one held packed since loading is laid out now, and stays so.
    const RowData& versionData(std::size_t version) const;
    // The values of a stored version without laying out one held packed (a save reads every
    // version once): f(field, bytes) for each field that is not null, in field order.
    template <class F> void forEachValueOf(std::size_t version, F&& f) const {
        const RowData& row = m_versions[version];
        if (!row.isValid() && m_packed.holds(version))
            m_packed.forEachValue(version, f);
        else
            row.forEachValue(f);
    }
    // The stored versions that hold their values (laid out or packed); a version that holds none
    // would be written empty, its values lost.
    std::size_t heldVersionCount() const;
    // What a stored version takes laid out (RowData::byteSize), without laying it out.
    std::size_t versionSize(std::size_t version) const;
    std::uint32_t versionState(std::size_t version) const { return m_states[version]; }
    const std::vector<std::uint32_t>& changeLog() const { return m_log; }
    std::int64_t autoIncValue() const { return m_counter; }
    // The counter only grows: a merge ends it at the larger of two copies' counters.
    void raiseAutoIncValue(std::int64_t value) { m_counter = std::max(m_counter, value); }
    // Stored live rows in the natural order (the order of their current versions).
    std::vector<RowId> naturalOrder() const;
    // The stored version a live row shows now; -1 for a row that is gone or not stored yet.
    std::int32_t currentVersionOf(RowId row) const;

    // What storing the pending row would add, without storing it: its new version's values (a
    // new task with the ID it would get), the version it would replace (-1: none), its state and
    // the counter afterwards. None when no row is pending, the row is unchanged, or the table
    // keeps no history. A recovery copy is written so while the user is still editing.
    struct PostedVersion {
        RowData values;
        std::int32_t replaces = -1;
        std::uint32_t state = 0;
        std::int64_t counter = 0;
    };
    std::optional<PostedVersion> pendingAsPosted() const;

    // --- cursor ------------------------------------------------------------------------------
    void first();
    void last();
    void next();
    void prior();
    void moveToPosition(int position); // 0-based among visible rows
    void goToRow(RowId row);           // settles, then finds the row by identity

    int recordCount() const;     // stored visible rows (a pending new row is not counted)
    int visibleRowCount() const; // visible rows, a pending new row included
    int currentPosition() const; // 1-based place of the current row among visible rows; 0: none
    int currentIndex() const { return m_cur; } // 0-based; -1: none
    RowId currentRow() const;
    RowId rowIdAt(int position) const { return m_visible[static_cast<std::size_t>(position)]; }
    int positionOf(RowId row) const; // -1 when not visible
    // All stored live rows, in the active order, whatever the filter shows.
    const std::vector<RowId>& allRows() const { return m_ordered; }
    const RowData& rowData(RowId row) const;
    const RowData& rowDataAt(int position) const;
    const RowData& currentData() const;

    // --- editing -----------------------------------------------------------------------------
    State state() const { return m_state; }
    bool isEditing() const { return m_state == State::Edit || m_state == State::Insert; }
    bool isModified() const { return m_pendingModified; }
    void append();
    void insert();
    // Insert with the new row at a visible position (taken after the pending row is settled).
    void insertAt(int position);
    void edit();
    void post();
    void cancel();
    void remove();
    void settle(); // leave the pending row: store it when changed, drop it otherwise

    // Told how far a long command has come (rows done of all); answers false to stop it.
    using Progress = std::function<bool(int done, int total)>;
    // Appends `count` rows as one change: each exactly as append(), fill(i) and post() make it
    // (the after-insert and after-scroll notifications run for each, IDs, versions and the
    // change log come out the same), while views hear one reset, the active order takes the
    // new rows in one merge and the current row is set once: the last row added, or the last
    // visible row when the filter hides it. `fill` writes the pending row's fields only.
    //
    // A failure (a refused post, a throwing notification or fill) ends the batch as it would
    // end a loop of single appends: the rows stored before stay, the failing row stays pending
    // and current, and the failure is thrown. `progress` is asked between rows now and then;
    // when it answers false the table is put back as it was before the call (after its
    // settling of a pending row) and false is returned.
    bool appendRows(int count, const std::function<void(int index)>& fill,
                    const Progress& progress = {});
    // Whether appendRows is running (its notifications can tell a batch from single rows).
    bool isAppendingRows() const { return m_batch != nullptr; }

    // A change made as a user makes it by hand, to a row given by identity wherever the order
    // and the filter put it: a new task (Append, every value written, Post: the ID from the
    // counter), an edit (Edit, every value written, Post: nothing when no value differs) or a
    // Delete. The values written are those of a stored version, or given.
    struct RowChange {
        enum Kind { Add, Store, Delete };
        // Store, Delete: the row the latest Add of the same call made; a Store keeps its ID.
        static constexpr RowId LastAdded = -2;
        Kind kind = Add;
        RowId row = -1;            // Store, Delete
        std::uint32_t version = 0; // Add, Store
        // Add, Store: these values (another copy's, as a merge brings them) instead of a stored
        // version's; the caller keeps them alive through the call.
        const RowData* values = nullptr;
        // Add: keep the values' ID when no row has it (the counter then passes it) instead of
        // taking the counter's.
        bool keepId = false;
    };
    // Settles the pending row, then makes the changes in order, each one version and one
    // change-log entry exactly as by hand. The owner's after-insert and after-edit notifications
    // do not run (every value is written anyway); the caller marks the list. Several changes
    // reach views as one reset. The last changed row that is shown becomes current. Returns the
    // rows the adds made, in order. Throws CorvantisError (a row gone, a key violation): the
    // changes before the failing one stay made.
    std::vector<RowId> applyChanges(const std::vector<RowChange>& changes);

    // --- fields of the current row -----------------------------------------------------------
    bool isNull(const QString& field) const;
    QString asString(const QString& field) const;
    QString displayText(const QString& field) const;
    std::int64_t asInteger(const QString& field) const;
    bool asBoolean(const QString& field) const;
    QDate asDate(const QString& field) const;
    QDateTime asDateTime(const QString& field) const;

    void setString(const QString& field, const QString& value);
    void setInteger(const QString& field, std::int64_t value);
    void setBoolean(const QString& field, bool value);
    void setDate(const QString& field, const QDate& value);
    void setDateTime(const QString& field, const QDateTime& value);
    void setNull(const QString& field);
    // Writes several fields of the pending row at once, in their stored forms (the encodings
    // of FieldValues): `write` gets the row as it stands and sets or empties fields; what it
    // wrote before a failure stays written. The fields' kinds and read-only flags are the
    // caller's to respect.
    void writeFields(const std::function<void(RowBuilder&)>& write);

    // Text forms of any stored row's field (views, copy, import). asString also reads a derived
    // field.
    QString textOf(const RowData& row, int field) const;
    QString displayTextOf(const RowData& row, int field) const;

    // --- order and filter --------------------------------------------------------------------
    QString indexName() const { return m_indexName; }
    void setIndexName(const QString& name);
    QString filter() const { return m_filterText; }
    void setFilter(const QString& text);
    bool filtered() const { return m_filtered; }
    void setFiltered(bool on);

    // --- outline (DataTableOutline.cpp) --------------------------------------------------------
    // A row whose parent field names the key (the auto-increment field) of another live row is
    // shown under it: each row directly followed by the rows under it, in the active order among
    // themselves; under a filter each match with the rows above it (as context); nothing under a
    // collapsed row. A parent that is missing, deleted, the row itself or in a loop leaves the row
    // at the top. A row counts as done when doneField holds doneText. A table without these
    // fields (or without a key) is shown flat.
    void setOutlineFields(const QString& parentField, const QString& doneField,
                          const QString& doneText);
    // Whether some live row stands under another (else the rows are shown flat).
    bool hasOutline() const { return m_outline.isShown(); }
    // Where a row stands in the outline; a row not placed (a pending new row) reads as a top row.
    TableOutline::Row outlineOf(RowId row) const { return m_outline.rowInfo(row); }
    // How deep a visible row stands; a pending new row stands under the row its parent names.
    int outlineDepthAt(int position) const;
    // The row a row stands under; -1 at the top.
    RowId parentRowOf(RowId row) const { return m_outline.parentOf(row); }
    // The rows under a row, each followed by its own, in the shown order.
    std::vector<RowId> descendantsOf(RowId row) const { return m_outline.descendantsOf(row); }
    // Rows shown at the top because their parent is missing, deleted, themselves or in a loop.
    int outlineProblems() const { return m_outline.problems(); }
    // The live row whose key is `key`; -1 when none.
    RowId rowOfKey(std::int32_t key) const { return m_outline.rowOfKey(key); }
    // Collapsing hides the rows under a row, until it is expanded; kept by the rows' keys while
    // the table lives, also across new content. A pending row is settled first. Expanding a
    // collapsed row that stands under a collapsed one expands those above it too, so it shows.
    bool isCollapsed(RowId row) const { return m_outline.isCollapsed(row); }
    void setCollapsed(RowId row, bool collapsed);
    void setAllCollapsed(bool collapsed);

    // --- the owner's notifications (may throw; they run inside the operation) ----------------
    void setAfterInsert(std::function<void()> hook) { m_afterInsert = std::move(hook); }
    void setAfterEdit(std::function<void()> hook) { m_afterEdit = std::move(hook); }
    void setAfterScroll(std::function<void()> hook) { m_afterScroll = std::move(hook); }

signals:
    // Row-by-row changes of the visible rows, for item models. "About to" comes first.
    void rowAboutToBeInserted(int position);
    void rowInserted(int position);
    void rowAboutToBeRemoved(int position);
    void rowRemoved(int position);
    void rowAboutToBeMoved(int from, int to); // to: the final position
    void rowMoved(int from, int to);
    void rowChanged(int position);
    // Several visible rows at once (an outline's rows collapsed, expanded or re-counted).
    void rowsAboutToBeInserted(int first, int last);
    void rowsInserted(int first, int last);
    void rowsAboutToBeRemoved(int first, int last);
    void rowsRemoved(int first, int last);
    void rowsChanged(int first, int last);
    // The same rows in another order (the rows under a stored row moved with it).
    void aboutToRearrange();
    void rearranged();
    void aboutToReset();
    void resetDone();
    void currentChanged(int position);
    // A change was stored, in the order of the change log (tables that keep history only): a new
    // row (before is -1), an edit (the version replaced and the new one) or a delete (after is
    // -1). `settling`: the pending row was stored because the user moved on (see settle()), not
    // by an explicit Post. Sent while the table is mid-change: listeners only take note.
    void changeStored(DataTable::RowId row, std::int32_t before, std::int32_t after, bool settling);
    // The rows were replaced as a whole (a list read into the table, or the table closed), after
    // the views heard their reset: what was told through changeStored no longer holds.
    void contentReplaced();
    // A cancelled appendRows took its rows back: the table holds `versions` versions and
    // `entries` change-log entries again, as before the call.
    void historyWithdrawn(std::size_t versions, std::size_t entries);

private:
    [[noreturn]] void fail(const QString& message) const; // table-wide: prefixed
    void requireActive() const;
    void requireEditing() const;
    void writeField(int field, const FieldValues::Stored& value);
    int checkedField(const QString& name) const;
    int writableField(const QString& name) const; // refuses a read-only field
    void indexFieldNames();
    const FieldDef& def(int field) const { return m_fields[static_cast<std::size_t>(field)]; }
    bool isKeyUsed(std::int32_t id, RowId except) const;
    std::int32_t nextId() const;
    void ensureKeyCounts() const;
    void addKey(const RowData& row);
    void dropKey(const RowData& row);

    void resetState();
    void clearPending();
    RowBuilder& pendingBuilder();
    const RowData& pendingData() const;
    RowData& pendingRowData();
    void beginPending(bool atEnd, int at = -1);
    void storePending();
    // The bookkeeping of one stored change: versions, states, the change log, the ID counter and
    // the key counts (not the order or the shown rows). Each throws before changing anything.
    void storeNewRow(RowId row, RowData& values, bool keepId = false);
    bool storeEditedRow(RowId row, RowData& values); // false: no value differs
    void storeDeletion(RowId row);
    void requireStoredRow(RowId row) const;
    void requireVersion(std::uint32_t version) const;
    void applyOneChange(const RowChange& change, std::vector<RowId>& added);
    RowData changeValues(const RowChange& change) const {
        if (change.values)
            return change.values->clone();
        requireVersion(change.version);
        return versionData(change.version).clone();
    }
    // Puts the touched rows back where the order and the filter want them, in one pass.
    void replaceRows(const std::vector<RowId>& touched, RowId keepCurrent);
    void setCurrent(int position);
    void scrolled();
    void rebuildOrder();
    void sortRows(std::vector<RowId>& rows) const;
    struct Batch;
    void keepInBatch(RowId row);
    void endBatch(Batch& batch);
    void dropBatch(Batch& batch);
    // The visible rows from the ordered ones; `reveal` expands the outline's rows above a match.
    void rebuildVisible(bool reveal = false);
    void resetViews(const std::function<void()>& change);
    bool passes(const RowData& row) const;
    bool rowLess(RowId a, RowId b) const;
    void placeStoredRow(RowId row, int fromPosition);
    void applyIndexDef(const QString& name);
    // The outline: whether the rows are shown as one, telling it a row's values, making the rows
    // shown, and telling views how they changed (the fewest signals that say it).
    bool outlineInvolved() const { return m_outline.hasParents() || m_outline.isShown(); }
    void noteRow(RowId row);
    void noteAllRows();
    void buildOutlineRows(std::vector<RowId>& shown, bool reveal);
    void showOutline(std::vector<RowId>&& shown, RowId keep, int fallback);
    // replaceRows for an outline: the visible rows made again, the current row chosen as there.
    void placeInOutline(const std::vector<RowId>& touched, RowId keepCurrent);

    TableOutline m_outline;
    QString m_outlineParent;
    QString m_outlineDone;
    QString m_outlineDoneText;

    FieldList m_fields;
    QHash<QString, int> m_fieldByName;
    IndexList m_indexDefs;
    DerivedFieldList m_derived;
    int m_autoIncField = -1;
    bool m_keepHistory = true;

    RowArena m_arena;                        // loaded versions; declared first, so it goes last
    mutable std::vector<RowData> m_versions; // a packed one is laid out when first read
    RowDataStore m_packed;
    std::vector<std::uint32_t> m_states;
    std::vector<std::uint32_t> m_log;
    std::int64_t m_counter = 1;

    std::vector<std::int32_t> m_rowVersion; // row id -> current version, -1: gone or not stored
    std::vector<RowId> m_ordered;           // live stored rows, active order
    std::vector<RowId> m_visible;           // rows shown, active order, plus a pending new row
    int m_cur = -1;

    State m_state = State::Inactive;
    mutable RowData m_pending;
    mutable bool m_pendingInBuilder = false; // the values are m_builder's
    RowId m_pendingRow = -1;
    RowId m_rowBeforeInsert = -1;
    bool m_pendingModified = false;
    bool m_settling = false;

    QString m_indexName;
    RowOrder m_order;
    mutable std::vector<std::unique_ptr<CollationKeys>> m_textKeys;

    QString m_filterText;
    std::optional<FilterExpression> m_compiledFilter;
    bool m_filtered = false;

    mutable bool m_keyCountsBuilt = false;
    mutable std::unordered_map<std::int32_t, int> m_keyCounts;

    Batch* m_batch = nullptr;
    std::unique_ptr<RowBuilder> m_builder;

    std::function<void()> m_afterInsert;
    std::function<void()> m_afterEdit;
    std::function<void()> m_afterScroll;
};
