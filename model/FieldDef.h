#pragma once

#include <QString>

#include <cstdint>
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

// A named order of a table's rows.
struct IndexDef {
    QString name;
    QString field;
    bool descending = false;
    bool caseInsensitive = false;
};

using IndexList = std::vector<IndexDef>;
