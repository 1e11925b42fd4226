#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// The kinds of value a table field can hold.
enum class FieldKind : std::uint8_t {
    Integer,  // 32-bit signed
    AutoInc,  // 32-bit signed, handed out by the table's counter
    Word,     // 16-bit unsigned
    String,   // text of a fixed greatest width (characters)
    Memo,     // text of any length
    Date,     // a calendar day
    DateTime, // a day and a time of day, to the millisecond
    Boolean,
};

enum FieldFlag : std::uint8_t {
    FieldReadOnly = 1,
    FieldRequired = 2,
    FieldHidden = 4,
    FieldLinkField = 8,
};

struct FieldDef {
    QString name;
    FieldKind kind = FieldKind::String;
    int width = 0; // String only
    std::uint8_t flags = 0;

    bool readOnly() const { return flags & FieldReadOnly; }
    bool isText() const { return kind == FieldKind::String || kind == FieldKind::Memo; }
    bool isIntegral() const {
        return kind == FieldKind::Integer || kind == FieldKind::AutoInc || kind == FieldKind::Word;
    }
};

using FieldList = std::vector<FieldDef>;

// A value worked out from one stored field (its bytes as a row keeps them) and never stored: a
// column of its own that the grid shows and that sorts and filters like a field.
struct DerivedField {
    QString name;
    QString source;                                     // the stored field it reads
    QString (*text)(std::string_view source) = nullptr; // the empty text: no value
    // Its order; none sorts as an empty value does.
    std::optional<std::int64_t> (*key)(std::string_view source) = nullptr;
};

using DerivedFieldList = std::vector<DerivedField>;

// A named order of a table's rows.
struct IndexDef {
    QString name;
    QString field;
    bool descending = false;
    bool caseInsensitive = false;
};

using IndexList = std::vector<IndexDef>;
