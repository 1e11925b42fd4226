#pragma once

#include "base/Prefault.h"
#include "model/RowData.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// The order of one text field's texts under one case rule, exactly as QCollator orders them
// for the default locale (ICU set up as QCollator sets it up; in the C locale, the UTF-8
// bytes), with what makes it fast kept per row version.
//
// A full collation key takes ICU about a microsecond and a half to make. Most comparisons are
// settled by the first level of the collation alone, the primary weights, and for the Latin
// letters, digits and signs the locale orders one by one, those are a small number per
// character, read from a table: each text keeps the ranks of its first characters' primary
// weights. Two texts whose ranks differ are ordered by them; where the ranks cannot tell (a
// character outside the table, or texts equal at the first level) ICU compares the two texts
// themselves.
class CollationKeys {
public:
    // What a text keeps: its first primary ranks, and whether they cover the whole text.
    struct Key {
        const std::uint8_t* ranks = nullptr; // nullptr: not made yet
        std::uint8_t length = 0;
        bool complete = false;
        // The first sixteen ranks (bytes in the C locale), big-endian, in two words.
        std::uint64_t head[2] = {0, 0};
        std::uint8_t headLength() const { return length < 16 ? length : 16; }
    };

    CollationKeys(int field, bool caseInsensitive);
    ~CollationKeys();
    CollationKeys(const CollationKeys&) = delete;
    CollationKeys& operator=(const CollationKeys&) = delete;

    int field() const { return m_field; }
    bool caseInsensitive() const { return m_caseInsensitive; }

    // Makes what the listed versions keep, where not made yet and the field is not empty: in the
    // order of the versions, so that the rows are read one after another.
    void make(const std::vector<RowData>& versions, const std::vector<std::uint32_t>& which);
    // What one version keeps, made now if needed (its field must not be empty).
    const Key& key(const std::vector<RowData>& versions, std::uint32_t version);
    // Where a made key is kept (a version's key stays in its slot until forgotten).
    std::uint32_t slotOf(std::uint32_t version) const { return m_slot[version] - 1; }
    const Key& inSlot(std::uint32_t slot) const { return m_keys[slot]; }
    // What make() made.
    const Key& made(std::uint32_t version) const { return m_keys[slotOf(version)]; }
    // Drops what a version keeps once its text was replaced in place.
    void forget(std::uint32_t version);

    // The order of the texts of two versions (both present, their keys made): < 0, 0, > 0.
    int compare(const std::vector<RowData>& versions, std::uint32_t a, std::uint32_t b) const {
        return compare(versions, a, made(a), b, made(b));
    }
    // The same with their keys at hand.
    int compare(const std::vector<RowData>& versions, std::uint32_t a, const Key& x,
                std::uint32_t b, const Key& y) const;

private:
    class Collator;
    class ByteBlocks;
    void makeKey(std::string_view text, Key& slot);
    bool isMade(std::uint32_t version) const {
        return version < m_slot.size() && m_slot[version] != 0;
    }
    Key& newKey(std::uint32_t version, std::size_t more);

    int m_field;
    bool m_caseInsensitive;
    bool m_bytewise; // the C locale: QCollator orders by the UTF-8 bytes
    std::unique_ptr<Collator> m_collator;
    // The keys of the versions that have one (rows shown, not every version of the list), and
    // each version's slot among them plus one (0: none).
    std::vector<Key, PrefaultAllocator<Key>> m_keys;
    std::vector<std::uint32_t, PrefaultAllocator<std::uint32_t>> m_slot;
    std::unique_ptr<ByteBlocks> m_store;
};
