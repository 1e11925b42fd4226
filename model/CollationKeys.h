#pragma once

#include "model/RowData.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// The collation keys of one text field under one case rule, one per row version, made when
// first needed and kept: a text order then compares bytes, never texts. Keys are made with ICU
// set up exactly as QCollator sets it up for the default locale, so they order text as
// QCollator does (in the C locale, by the UTF-8 bytes, as QCollator does there).
class CollationKeys {
public:
    // A key: its bytes and, to settle most comparisons at once, its first eight as a number that
    // orders as the bytes do.
    struct Key {
        const char* bytes = nullptr; // nullptr: not made yet
        std::uint32_t size = 0;
        std::uint64_t prefix = 0;
    };

    CollationKeys(int field, bool caseInsensitive);
    ~CollationKeys();
    CollationKeys(const CollationKeys&) = delete;
    CollationKeys& operator=(const CollationKeys&) = delete;

    int field() const { return m_field; }
    bool caseInsensitive() const { return m_caseInsensitive; }

    // Makes the keys of the listed versions that are not made yet and whose field is not empty;
    // many are shared out among helper threads, joined before this returns.
    void make(const std::vector<RowData>& versions, const std::vector<std::uint32_t>& which);
    // The key of one version, made now if needed (its field must not be empty).
    const Key& key(const std::vector<RowData>& versions, std::uint32_t version);
    // A key already made by make().
    const Key& made(std::uint32_t version) const { return m_keys[version]; }
    // Drops the key of a version whose text was replaced in place.
    void forget(std::uint32_t version);

    // Byte by byte, a key that is the start of another first (as QCollatorSortKey compares).
    static int compare(const Key& a, const Key& b);

private:
    class Collator;
    class ByteBlocks;
    Collator* ownCollator();
    static void makeKey(Collator* collator, std::string_view text, std::vector<char>& buffer,
                        ByteBlocks& store, Key& slot);
    void grow(std::size_t versions);

    int m_field;
    bool m_caseInsensitive;
    bool m_bytewise;     // the C locale: QCollator orders by the UTF-8 bytes
    QByteArray m_locale; // as ICU names it
    std::unique_ptr<Collator> m_collator;
    std::vector<char> m_buffer;
    std::vector<Key> m_keys;
    std::unique_ptr<ByteBlocks> m_store;
};
