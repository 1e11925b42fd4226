#include "model/TableOutline.h"

#include <algorithm>
#include <utility>

namespace {

enum : std::uint8_t { Collapsed = 1, Context = 2 };

int fieldNamed(const FieldList& fields, const QString& name) {
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

} // namespace

bool TableOutline::bind(const FieldList& fields, int keyField, const QString& parentField,
                        const QString& doneField, const std::string& doneBytes) {
    clearRows();
    m_keyField = -1;
    m_parentField = -1;
    m_doneField = fieldNamed(fields, doneField);
    m_doneBytes = doneBytes;
    const int parent = fieldNamed(fields, parentField);
    // Keys and parents are numbers: a file that gives either another kind has no outline.
    if (keyField < 0 || parent < 0 || !fields[std::size_t(keyField)].isIntegral() ||
        !fields[std::size_t(parent)].isIntegral() ||
        fields[std::size_t(parent)].kind == FieldKind::AutoInc)
        return false;
    m_keyField = keyField;
    m_parentField = parent;
    return true;
}

void TableOutline::resize(std::size_t slotCount) {
    if (!isBound())
        return;
    if (slotCount < m_parentKey.size()) {
        for (std::size_t row = slotCount; row < m_parentKey.size(); ++row)
            clearRow(static_cast<RowId>(row));
    }
    m_parentKey.resize(slotCount, 0);
    m_key.resize(slotCount, NoKey);
    m_done.resize(slotCount, 0);
    m_live.resize(slotCount, 0);
}

void TableOutline::setRow(RowId row, const RowData& values) {
    if (!isBound() || row < 0)
        return;
    if (slot(row) >= m_parentKey.size())
        resize(slot(row) + 1);
    clearRow(row);
    const std::int32_t parent = values.isNull(m_parentField) ? 0 : values.int32(m_parentField);
    const std::int32_t key = values.isNull(m_keyField) ? NoKey : values.int32(m_keyField);
    m_parentKey[slot(row)] = parent;
    m_key[slot(row)] = key;
    m_done[slot(row)] = m_doneField >= 0 && values.raw(m_doneField) == m_doneBytes;
    m_live[slot(row)] = 1;
    m_parented += parent != 0;
    if (m_keyIndexBuilt && key != NoKey)
        m_rowOfKey.insert(key, row);
}

void TableOutline::clearRow(RowId row) {
    if (!inRange(row) || !m_live[slot(row)])
        return;
    m_parented -= m_parentKey[slot(row)] != 0;
    const std::int32_t key = m_key[slot(row)];
    if (m_keyIndexBuilt && key != NoKey)
        m_rowOfKey.erase(key, row);
    m_parentKey[slot(row)] = 0;
    m_key[slot(row)] = NoKey;
    m_done[slot(row)] = 0;
    m_live[slot(row)] = 0;
}

void TableOutline::clearRows() {
    m_parentKey.clear();
    m_key.clear();
    m_done.clear();
    m_live.clear();
    m_parented = 0;
    m_rowOfKey.clear();
    m_keyIndexBuilt = false;
    m_shown = false;
    m_ordered.clear();
    m_ordinalOf.clear();
}

void TableOutline::ensureKeyIndex() const {
    if (m_keyIndexBuilt)
        return;
    m_rowOfKey.build(m_key, m_live);
    m_keyIndexBuilt = true;
}

std::int32_t TableOutline::keyOf(RowId row) const {
    return inRange(row) && m_live[slot(row)] ? m_key[slot(row)] : NoKey;
}

std::int32_t TableOutline::parentKeyOf(RowId row) const {
    return inRange(row) && m_live[slot(row)] ? m_parentKey[slot(row)] : 0;
}

TableOutline::RowId TableOutline::rowOfKey(std::int32_t key) const {
    if (!isBound() || key == NoKey)
        return -1;
    ensureKeyIndex();
    return m_rowOfKey.find(key);
}

bool TableOutline::isCollapsed(RowId row) const {
    const std::int32_t key = keyOf(row);
    return key != NoKey && m_collapsedKeys.count(key) != 0;
}

void TableOutline::setCollapsed(RowId row, bool collapsed) {
    const std::int32_t key = keyOf(row);
    if (key == NoKey)
        return;
    if (collapsed)
        m_collapsedKeys.insert(key);
    else
        m_collapsedKeys.erase(key);
}

void TableOutline::setAllCollapsed(bool collapsed) {
    m_collapsedKeys.clear();
    if (!collapsed || !m_shown)
        return;
    for (std::size_t o = 0; o < m_ordered.size(); ++o)
        if (m_childStart[o + 1] > m_childStart[o])
            m_collapsedKeys.insert(m_key[slot(m_ordered[o])]);
}

// --- the index of keys ------------------------------------------------------------------------

void TableOutline::KeyIndex::clear() {
    m_hashed = false;
    m_limit = 0;
    m_array.clear();
    m_hash.clear();
}

void TableOutline::KeyIndex::build(const std::vector<std::int32_t>& keys,
                                   const std::vector<std::uint8_t>& live) {
    clear();
    // An array up to a few times the rows: keys a table hands out itself fill it densely.
    m_limit = static_cast<std::int32_t>(std::min<std::size_t>(4 * keys.size() + 4096, 1u << 26));
    for (std::size_t row = 0; row < keys.size(); ++row)
        if (live[row] && keys[row] != NoKey)
            insert(keys[row], static_cast<RowId>(row));
}

TableOutline::RowId TableOutline::KeyIndex::find(std::int32_t key) const {
    if (!m_hashed)
        return fitsArray(key) && std::size_t(key) < m_array.size() ? m_array[std::size_t(key)] : -1;
    const auto it = m_hash.find(key);
    return it == m_hash.end() ? -1 : it->second;
}

void TableOutline::KeyIndex::insert(std::int32_t key, RowId row) {
    if (!m_hashed && !fitsArray(key))
        toHash();
    if (m_hashed) {
        m_hash[key] = row;
        return;
    }
    if (std::size_t(key) >= m_array.size())
        m_array.resize(std::size_t(key) + 1, -1);
    m_array[std::size_t(key)] = row;
}

void TableOutline::KeyIndex::erase(std::int32_t key, RowId row) {
    if (find(key) != row)
        return;
    if (m_hashed)
        m_hash.erase(key);
    else
        m_array[std::size_t(key)] = -1;
}

void TableOutline::KeyIndex::toHash() {
    for (std::size_t key = 0; key < m_array.size(); ++key)
        if (m_array[key] >= 0)
            m_hash.emplace(static_cast<std::int32_t>(key), m_array[key]);
    m_array.clear();
    m_array.shrink_to_fit();
    m_hashed = true;
}

// --- building ----------------------------------------------------------------------------------

void TableOutline::findParents() {
    const std::size_t count = m_ordered.size();
    m_problems = 0;
    m_parentOrdinal.assign(count, -1);
    for (std::size_t o = 0; o < count; ++o) {
        const RowId row = m_ordered[o];
        const std::int32_t parentKey = m_parentKey[slot(row)];
        if (parentKey == 0)
            continue;
        std::int32_t parent = -1;
        const RowId named = m_rowOfKey.find(parentKey);
        if (named >= 0 && named != row && inRange(named))
            parent = m_ordinalOf[slot(named)];
        if (parent < 0)
            ++m_problems;
        m_parentOrdinal[o] = parent;
    }
}

void TableOutline::linkChildren() {
    const std::size_t count = m_ordered.size();
    m_childStart.assign(count + 1, 0);
    for (std::size_t o = 0; o < count; ++o)
        if (m_parentOrdinal[o] >= 0)
            ++m_childStart[std::size_t(m_parentOrdinal[o]) + 1];
    for (std::size_t o = 0; o < count; ++o)
        m_childStart[o + 1] += m_childStart[o];
    m_children.resize(std::size_t(m_childStart[count]));
    std::vector<std::int32_t> next(m_childStart.begin(), m_childStart.end() - 1);
    for (std::size_t o = 0; o < count; ++o)
        if (m_parentOrdinal[o] >= 0)
            m_children[std::size_t(next[std::size_t(m_parentOrdinal[o])]++)] =
                static_cast<std::int32_t>(o);
}

// Depth first without recursion: a file can nest rows as deep as it likes.
void TableOutline::walk() {
    const std::size_t count = m_ordered.size();
    m_sequence.clear();
    m_sequence.reserve(count);
    m_depth.assign(count, -1);
    std::vector<std::pair<std::int32_t, std::int32_t>> stack; // ordinal, next child
    for (std::size_t root = 0; root < count; ++root) {
        if (m_parentOrdinal[root] >= 0)
            continue;
        m_depth[root] = 0;
        m_sequence.push_back(static_cast<std::int32_t>(root));
        stack.emplace_back(static_cast<std::int32_t>(root), m_childStart[root]);
        while (!stack.empty()) {
            auto& [ordinal, next] = stack.back();
            if (next == m_childStart[std::size_t(ordinal) + 1]) {
                stack.pop_back();
                continue;
            }
            const std::int32_t child = m_children[std::size_t(next++)];
            m_depth[std::size_t(child)] = m_depth[std::size_t(ordinal)] + 1;
            m_sequence.push_back(child);
            stack.emplace_back(child, m_childStart[std::size_t(child)]);
        }
    }
}

// Every row the walk missed hangs from a loop. Each row of a loop goes to the top; the rows
// hanging from it stay under it.
void TableOutline::breakLoops() {
    const std::size_t count = m_ordered.size();
    std::vector<std::int32_t> state(count, 0); // 0: not yet seen, -1: settled, else a walk's mark
    for (std::size_t o = 0; o < count; ++o)
        if (m_depth[o] >= 0)
            state[o] = -1;
    std::vector<std::int32_t> inLoop;
    std::int32_t mark = 0;
    for (std::size_t start = 0; start < count; ++start) {
        if (state[start] != 0)
            continue;
        ++mark;
        std::int32_t at = static_cast<std::int32_t>(start);
        while (at >= 0 && state[std::size_t(at)] == 0) {
            state[std::size_t(at)] = mark;
            at = m_parentOrdinal[std::size_t(at)];
        }
        if (at >= 0 && state[std::size_t(at)] == mark) {
            std::int32_t member = at;
            do {
                inLoop.push_back(member);
                member = m_parentOrdinal[std::size_t(member)];
            } while (member != at);
        }
        for (at = static_cast<std::int32_t>(start); at >= 0 && state[std::size_t(at)] == mark;
             at = m_parentOrdinal[std::size_t(at)])
            state[std::size_t(at)] = -1;
    }
    for (const std::int32_t member : inLoop)
        m_parentOrdinal[std::size_t(member)] = -1;
    m_problems += static_cast<int>(inLoop.size());
}

void TableOutline::build(const std::vector<RowId>& ordered, const std::vector<char>& matches,
                         bool reveal, std::vector<RowId>& shown) {
    ensureKeyIndex();
    m_ordered = ordered;
    const std::size_t count = m_ordered.size();
    m_ordinalOf.assign(m_parentKey.size(), -1);
    for (std::size_t o = 0; o < count; ++o)
        if (inRange(m_ordered[o]))
            m_ordinalOf[slot(m_ordered[o])] = static_cast<std::int32_t>(o);
    findParents();
    linkChildren();
    walk();
    if (m_sequence.size() < count) {
        breakLoops();
        linkChildren();
        walk();
    }

    // Counts of the rows under each row, and which rows a filter keeps (a match, or a row
    // above one), from the deepest up.
    m_doneUnder.assign(count, 0);
    m_allUnder.assign(count, 0);
    m_flags.assign(count, 0);
    const bool filtered = !matches.empty();
    std::vector<std::uint8_t> kept;
    if (filtered)
        kept.assign(matches.begin(), matches.end());
    for (auto it = m_sequence.rbegin(); it != m_sequence.rend(); ++it) {
        const std::size_t o = std::size_t(*it);
        const std::int32_t parent = m_parentOrdinal[o];
        if (parent < 0)
            continue;
        m_allUnder[std::size_t(parent)] += 1 + m_allUnder[o];
        m_doneUnder[std::size_t(parent)] += m_done[slot(m_ordered[o])] + m_doneUnder[o];
        if (filtered && kept[o]) {
            kept[std::size_t(parent)] = 1;
            if (reveal)
                m_collapsedKeys.erase(m_key[slot(m_ordered[std::size_t(parent)])]);
        }
    }
    const bool anyCollapsed = !m_collapsedKeys.empty();
    for (std::size_t o = 0; o < count; ++o) {
        if (filtered && kept[o] && !matches[o])
            m_flags[o] |= Context;
        if (anyCollapsed && m_childStart[o + 1] > m_childStart[o] &&
            m_collapsedKeys.count(m_key[slot(m_ordered[o])]))
            m_flags[o] |= Collapsed;
    }

    shown.clear();
    shown.reserve(filtered ? count / 2 : count);
    int hiddenBelow = INT32_MAX; // rows deeper than this lie under a collapsed row
    for (const std::int32_t ordinal : m_sequence) {
        const std::size_t o = std::size_t(ordinal);
        if (m_depth[o] > hiddenBelow)
            continue;
        hiddenBelow = INT32_MAX;
        if (filtered && !kept[o])
            continue; // and nothing under it matches either
        shown.push_back(m_ordered[o]);
        if (m_flags[o] & Collapsed)
            hiddenBelow = m_depth[o];
    }
    m_shown = true;
}

TableOutline::Row TableOutline::rowInfo(RowId row) const {
    Row info;
    if (!m_shown || row < 0 || slot(row) >= m_ordinalOf.size() || m_ordinalOf[slot(row)] < 0)
        return info;
    const std::size_t o = std::size_t(m_ordinalOf[slot(row)]);
    info.depth = m_depth[o];
    info.hasChildren = m_childStart[o + 1] > m_childStart[o];
    info.collapsed = m_flags[o] & Collapsed;
    info.context = m_flags[o] & Context;
    info.done = m_doneUnder[o];
    info.all = m_allUnder[o];
    return info;
}

TableOutline::RowId TableOutline::parentOf(RowId row) const {
    if (!m_shown || row < 0 || slot(row) >= m_ordinalOf.size() || m_ordinalOf[slot(row)] < 0)
        return -1;
    const std::int32_t parent = m_parentOrdinal[std::size_t(m_ordinalOf[slot(row)])];
    return parent < 0 ? -1 : m_ordered[std::size_t(parent)];
}

std::vector<TableOutline::RowId> TableOutline::descendantsOf(RowId row) const {
    std::vector<RowId> rows;
    if (!m_shown || row < 0 || slot(row) >= m_ordinalOf.size() || m_ordinalOf[slot(row)] < 0)
        return rows;
    std::vector<std::pair<std::int32_t, std::int32_t>> stack;
    const std::int32_t top = m_ordinalOf[slot(row)];
    stack.emplace_back(top, m_childStart[std::size_t(top)]);
    while (!stack.empty()) {
        auto& [ordinal, next] = stack.back();
        if (next == m_childStart[std::size_t(ordinal) + 1]) {
            stack.pop_back();
            continue;
        }
        const std::int32_t child = m_children[std::size_t(next++)];
        rows.push_back(m_ordered[std::size_t(child)]);
        stack.emplace_back(child, m_childStart[std::size_t(child)]);
    }
    return rows;
}
