#pragma once

#include "model/FieldDef.h"
#include "model/RowData.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

class CollationKeys;

// The order of a table's rows by one field: empty values first (last when descending), then
// the values (texts by their collation keys), and rows with equal values in the order of their
// current versions (the natural order). Without a field, the natural order alone. An order by a
// derived field sorts on the key it works out from its source field.
class RowOrder {
public:
    RowOrder() = default;
    RowOrder(int field, FieldKind kind, bool descending, CollationKeys* textKeys)
        : m_field(field), m_kind(kind), m_descending(descending), m_text(textKeys) {}
    using KeyOf = std::optional<std::int64_t> (*)(std::string_view source);
    RowOrder(int sourceField, KeyOf key, bool descending)
        : m_field(sourceField), m_descending(descending), m_key(key) {}

    bool isNatural() const { return m_field < 0; }
    CollationKeys* textKeys() const { return m_text; }

    // Whether the row whose current version is a comes before the one whose version is b.
    bool less(const std::vector<RowData>& versions, std::uint32_t a, std::uint32_t b) const;
    // Sorts rows (row ids; rowVersion gives each one's current version) into the order.
    void sort(std::vector<std::int32_t>& rows, const std::vector<std::int32_t>& rowVersion,
              const std::vector<RowData>& versions) const;

private:
    int compareValues(const std::vector<RowData>& versions, std::uint32_t a, std::uint32_t b) const;
    void sortByNumber(std::vector<std::int32_t>& rows, const std::vector<std::uint32_t>& of,
                      const std::vector<RowData>& versions) const;
    void sortByKey(std::vector<std::int32_t>& rows, const std::vector<std::uint32_t>& of,
                   const std::vector<RowData>& versions) const;

    int m_field = -1;
    FieldKind m_kind = FieldKind::Integer;
    bool m_descending = false;
    CollationKeys* m_text = nullptr;
    KeyOf m_key = nullptr;
};
