#pragma once

#include "model/FieldDef.h"
#include "model/RowData.h"

#include <QString>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The outline of a table's rows: a row whose parent field names the key (the auto-increment
// field) of another live row is that row's child. Kept beside the table's rows, it turns the rows
// in the active order into the rows shown: each row followed directly by its children, in the
// same order among themselves, and theirs after each of them; under a filter every match with
// the rows above it (shown as context); nothing under a collapsed row.
//
// A parent that is missing, deleted, the row itself or part of a loop leaves its row at the top
// (counted as a problem). The file is never touched for it: the outline is worked out, not stored.
//
// The table tells it each row's values as they change (setRow, clearRow); build() then makes
// the rows shown in a few passes over arrays, with no look-up per row but for the rows that name
// a parent, so a large list pays little for an outline and nothing without one.
class TableOutline {
public:
    using RowId = std::int32_t;

    // The fields it reads: the parent field, the key, and the field whose stored bytes `doneBytes`
    // count a row as done. False when the table lacks the parent field or a key: no outline then.
    bool bind(const FieldList& fields, int keyField, const QString& parentField,
              const QString& doneField, const std::string& doneBytes);
    bool isBound() const { return m_parentField >= 0; }

    // Row slots as the table numbers its rows (a slot may be empty: a row not stored or gone).
    void resize(std::size_t slotCount);
    void setRow(RowId row, const RowData& values);
    void clearRow(RowId row);
    // Forgets every row (new content); the collapsed rows are kept, by their keys.
    void clearRows();

    // Whether some live row names a parent: only then are rows shown as an outline.
    bool hasParents() const { return m_parented > 0; }
    // Whether the rows shown come from the last build (else they are the flat order).
    bool isShown() const { return m_shown; }
    void markFlat() { m_shown = false; }

    // Makes the rows shown from the live rows in the active order. `matches` (one per row of
    // `ordered`, or empty: no filter) tells the rows the filter lets through; `reveal` expands
    // every row above a match.
    void build(const std::vector<RowId>& ordered, const std::vector<char>& matches, bool reveal,
               std::vector<RowId>& shown);

    // What the last build found, per row; a row it did not place reads as a plain top row.
    struct Row {
        int depth = 0;
        bool hasChildren = false;
        bool collapsed = false;
        bool context = false; // shown only because a row under it matches the filter
        int done = 0;         // rows under it that are done
        int all = 0;          // rows under it
    };
    Row rowInfo(RowId row) const;
    RowId parentOf(RowId row) const;
    // The rows under a row, each followed by its own, in the shown order (collapsed or not).
    std::vector<RowId> descendantsOf(RowId row) const;
    // Rows left at the top because their parent is missing, deleted, themselves or in a loop.
    int problems() const { return m_shown ? m_problems : 0; }

    // Keys of the rows: none (INT32_MIN) for a row without one.
    static constexpr std::int32_t NoKey = INT32_MIN;
    std::int32_t keyOf(RowId row) const;
    RowId rowOfKey(std::int32_t key) const;
    std::int32_t parentKeyOf(RowId row) const;

    bool isCollapsed(RowId row) const;
    // Collapsing takes effect at the next build.
    void setCollapsed(RowId row, bool collapsed);
    // Every row with children, or none.
    void setAllCollapsed(bool collapsed);

private:
    std::size_t slot(RowId row) const { return static_cast<std::size_t>(row); }
    bool inRange(RowId row) const { return row >= 0 && slot(row) < m_parentKey.size(); }
    void ensureKeyIndex() const;
    // Each placed row's parent by ordinal (-1: a root), counting the problems.
    void findParents();
    // The children of each ordinal, in ordinal order.
    void linkChildren();
    // The depth-first order from the roots into m_sequence, and each ordinal's depth.
    void walk();
    // The rows of loops (rows the walk never reached) become roots.
    void breakLoops();

    int m_keyField = -1;
    int m_parentField = -1;
    int m_doneField = -1;
    std::string m_doneBytes;

    // Per row slot, kept as the table stores rows; the index of keys is made only once a row
    // names a parent (a flat list never needs it).
    std::vector<std::int32_t> m_parentKey; // 0: none
    std::vector<std::int32_t> m_key;
    std::vector<std::uint8_t> m_done;
    std::vector<std::uint8_t> m_live;
    int m_parented = 0;
    // The row of each key: an array while the keys are small (IDs handed out one by one from 1
    // are), else a hash.
    class KeyIndex {
    public:
        void clear();
        void build(const std::vector<std::int32_t>& keys, const std::vector<std::uint8_t>& live);
        RowId find(std::int32_t key) const;
        void insert(std::int32_t key, RowId row);
        void erase(std::int32_t key, RowId row);

    private:
        bool fitsArray(std::int32_t key) const { return key >= 0 && key < m_limit; }
        void toHash();
        bool m_hashed = false;
        std::int32_t m_limit = 0; // keys below it go in the array
        std::vector<RowId> m_array;
        std::unordered_map<std::int32_t, RowId> m_hash;
    };
    mutable KeyIndex m_rowOfKey;
    mutable bool m_keyIndexBuilt = false;
    std::unordered_set<std::int32_t> m_collapsedKeys;

    // What the last build found. Ordinals number the rows of `ordered`.
    bool m_shown = false;
    int m_problems = 0;
    std::vector<RowId> m_ordered;
    std::vector<std::int32_t> m_ordinalOf; // per slot; -1: not placed
    std::vector<std::int32_t> m_parentOrdinal;
    std::vector<std::int32_t>
        m_childStart; // children of ordinal i: m_children[start[i]..start[i+1])
    std::vector<std::int32_t> m_children;
    std::vector<std::int32_t> m_sequence; // ordinals, depth first
    std::vector<std::int32_t> m_depth;    // per ordinal
    std::vector<std::int32_t> m_doneUnder;
    std::vector<std::int32_t> m_allUnder;
    std::vector<std::uint8_t> m_flags; // per ordinal: Collapsed, Context
};
