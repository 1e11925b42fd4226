#include "model/RowOrder.h"

#include "base/Prefault.h"
#include "model/CollationKeys.h"

#include <algorithm>

namespace {

template <class T> int compareNumbers(T x, T y) {
    return x < y ? -1 : (x > y ? 1 : 0);
}

using KeyedRows = std::vector<std::pair<std::uint64_t, std::int32_t>,
                              PrefaultAllocator<std::pair<std::uint64_t, std::int32_t>>>;

// Sorts by a 64-bit key each, sixteen bits at a time from the lowest (a stable radix sort),
// skipping the digits every key shares.
void radixSort(KeyedRows& items) {
    KeyedRows buffer(items.size());
    std::vector<std::uint32_t> counts(65537);
    for (int shift = 0; shift < 64 && !items.empty(); shift += 16) {
        std::fill(counts.begin(), counts.end(), 0);
        for (const auto& item : items)
            ++counts[((item.first >> shift) & 0xFFFF) + 1];
        if (counts[((items.front().first >> shift) & 0xFFFF) + 1] == items.size())
            continue;
        for (std::size_t d = 1; d < counts.size(); ++d)
            counts[d] += counts[d - 1];
        for (const auto& item : items)
            buffer[counts[(item.first >> shift) & 0xFFFF]++] = item;
        items.swap(buffer);
    }
}

} // namespace

int RowOrder::compareValues(const std::vector<RowData>& versions, std::uint32_t va,
                            std::uint32_t vb) const {
    const RowData& a = versions[va];
    const RowData& b = versions[vb];
    const int f = m_field;
    if (m_key) {
        const std::optional<std::int64_t> x = a.isNull(f) ? std::nullopt : m_key(a.raw(f));
        const std::optional<std::int64_t> y = b.isNull(f) ? std::nullopt : m_key(b.raw(f));
        const int c = !x || !y ? int(bool(x)) - int(bool(y)) : compareNumbers(*x, *y);
        return m_descending ? -c : c;
    }
    const bool nullA = a.isNull(f);
    const bool nullB = b.isNull(f);
    int c = 0;
    if (nullA || nullB) {
        c = nullA == nullB ? 0 : (nullA ? -1 : 1);
    } else {
        switch (m_kind) {
        case FieldKind::String:
        case FieldKind::Memo:
            m_text->key(versions, va);
            m_text->key(versions, vb);
            c = m_text->compare(versions, va, vb);
            break;
        case FieldKind::Integer:
        case FieldKind::AutoInc:
        case FieldKind::Word:
        case FieldKind::Date:
            c = compareNumbers(a.int32(f), b.int32(f));
            break;
        case FieldKind::DateTime:
            c = compareNumbers(a.int64(f), b.int64(f));
            break;
        case FieldKind::Boolean:
            c = int(a.boolean(f)) - int(b.boolean(f));
            break;
        }
    }
    return m_descending ? -c : c;
}

bool RowOrder::less(const std::vector<RowData>& versions, std::uint32_t a, std::uint32_t b) const {
    if (m_field >= 0) {
        const int c = compareValues(versions, a, b);
        if (c != 0)
            return c < 0;
    }
    return a < b;
}

void RowOrder::sort(std::vector<std::int32_t>& rows, const std::vector<std::int32_t>& rowVersion,
                    const std::vector<RowData>& versions) const {
    std::vector<std::uint32_t> of; // each row's current version
    of.reserve(rows.size());
    for (const std::int32_t row : rows)
        of.push_back(static_cast<std::uint32_t>(rowVersion[static_cast<std::size_t>(row)]));
    if (m_field < 0 ||
        (m_kind != FieldKind::DateTime && !m_text && !m_key && versions.size() < (1u << 31)))
        sortByNumber(rows, of, versions);
    else
        sortByKey(rows, of, versions);
}

// A number that fits 32 bits (or none, the natural order): the whole order in one 64-bit key,
// the empty value, the value and the version from the top down, sorted without comparisons.
void RowOrder::sortByNumber(std::vector<std::int32_t>& rows, const std::vector<std::uint32_t>& of,
                            const std::vector<RowData>& versions) const {
    KeyedRows items;
    items.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::uint64_t value = 0; // 33 bits: present, then the value with its sign bit flipped
        if (m_field >= 0) {
            const RowData& data = versions[of[i]];
            if (!data.isNull(m_field)) {
                const auto number = m_kind == FieldKind::Boolean
                                        ? std::uint32_t(data.boolean(m_field))
                                        : std::uint32_t(data.int32(m_field)) ^ 0x80000000u;
                value = (std::uint64_t(1) << 32) | number;
            }
            if (m_descending)
                value = ~value & ((std::uint64_t(1) << 33) - 1);
        }
        items.emplace_back(value << 31 | of[i], rows[i]);
    }
    radixSort(items);
    for (std::size_t i = 0; i < items.size(); ++i)
        rows[i] = items[i].second;
}

// Each row's key read once, up front, and the rows sorted on the keys: most comparisons never
// touch the rows, which lie all over memory in a large list. A text's key is the start of what
// its collation keeps (see CollationKeys), and the rest is asked of the collation only where
// that start cannot tell.
void RowOrder::sortByKey(std::vector<std::int32_t>& rows, const std::vector<std::uint32_t>& of,
                         const std::vector<RowData>& versions) const {
    struct Keyed {
        std::int64_t number; // a text: its first eight ranks
        std::uint64_t more;  // a text: the next eight
        std::uint32_t version;
        std::int32_t row;
        std::uint32_t slot; // a text: where its key is kept
        std::uint8_t known; // a text: how many of those sixteen are its own
        bool null;
    };
    const int f = m_field;
    if (m_text)
        m_text->make(versions, of);
    std::vector<Keyed, PrefaultAllocator<Keyed>> keyed;
    keyed.reserve(rows.size());
    for (std::size_t i = 0; i < of.size(); ++i) {
        const std::uint32_t version = of[i];
        const RowData& data = versions[version];
        Keyed k{0, 0, version, rows[i], 0, 0, data.isNull(f)};
        if (m_key) {
            const std::optional<std::int64_t> key = k.null ? std::nullopt : m_key(data.raw(f));
            k.null = !key;
            k.number = key.value_or(0);
        } else if (!k.null && m_text) {
            k.slot = m_text->slotOf(version);
            const CollationKeys::Key& key = m_text->inSlot(k.slot);
            // The head flipped into a signed number that orders the same way.
            k.number = std::int64_t(key.head[0] ^ (std::uint64_t(1) << 63));
            k.more = key.head[1];
            k.known = key.headLength();
        } else if (!k.null) {
            k.number = m_kind == FieldKind::DateTime  ? data.int64(f)
                       : m_kind == FieldKind::Boolean ? std::int64_t(data.boolean(f))
                                                      : std::int64_t(data.int32(f));
        }
        keyed.push_back(k);
    }
    const bool descending = m_descending;
    const CollationKeys* text = m_text;
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        int c = 0;
        if (a.null || b.null) {
            c = a.null == b.null ? 0 : (a.null ? -1 : 1);
        } else if (!text) {
            c = a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
        } else {
            // The heads settle it when they differ within what both texts filled.
            const int known = std::min(a.known, b.known);
            const std::uint64_t first = std::uint64_t(a.number ^ b.number);
            const std::uint64_t second = a.more ^ b.more;
            if (first != 0 && __builtin_clzll(first) / 8 < known)
                c = a.number < b.number ? -1 : 1;
            else if (first == 0 && second != 0 && 8 + __builtin_clzll(second) / 8 < known)
                c = a.more < b.more ? -1 : 1;
            else
                c = text->compare(versions, a.version, text->inSlot(a.slot), b.version,
                                  text->inSlot(b.slot));
        }
        if (descending)
            c = -c;
        return c != 0 ? c < 0 : a.version < b.version;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        rows[i] = keyed[i].row;
}
