#pragma once

#include "model/FieldDef.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

class RowData;

// The typed values of a table field: how each kind is read as text, how what a caller writes
// becomes the bytes a row stores (RowData's layout), and the messages that refuse a value.
// The table and the list file reader share them, so a value is refused the same way wherever
// it comes from.
namespace FieldValues {

// A boolean as shown in lists, and as plain text (copy, import, filters).
inline const QString YesText = QStringLiteral("Yes");
inline const QString NoText = QStringLiteral("No");
inline const QString TrueText = QStringLiteral("True");
inline const QString FalseText = QStringLiteral("False");

// One field's value as a row stores it: its bytes, or nothing for the empty field.
class Stored {
public:
    Stored() = default; // the empty field
    explicit Stored(QByteArray text) : m_text(std::move(text)), m_null(false) {}
    template <class Number> static Stored number(Number value) {
        static_assert(sizeof value <= sizeof m_number);
        Stored stored;
        std::memcpy(stored.m_number, &value, sizeof value);
        stored.m_size = sizeof value;
        stored.m_null = false;
        return stored;
    }
    static Stored flag(bool value) { return number(char(value ? 1 : 0)); }

    bool isNull() const { return m_null; }
    std::string_view bytes() const {
        if (m_size > 0)
            return std::string_view(m_number, m_size);
        return std::string_view(m_text.constData(), std::size_t(m_text.size()));
    }

private:
    QByteArray m_text;
    char m_number[8] = {};
    std::uint8_t m_size = 0;
    bool m_null = true;
};

// --- reading a stored value ------------------------------------------------------------------
// The text form: a date in the user's short date format, a boolean as "True" or "False", the
// empty field as the empty text.
QString text(const FieldDef& def, const RowData& row, int field);
// As lists show it: a boolean as "Yes" or "No", anything else as its text.
QString displayText(const FieldDef& def, const RowData& row, int field);
// The empty field reads as 0, false, no date. Text is parsed; what does not parse is refused.
std::int64_t toInteger(const FieldDef& def, const RowData& row, int field);
bool toBoolean(const FieldDef& def, const RowData& row, int field);
QDate toDate(const FieldDef& def, const RowData& row, int field);
QDateTime toDateTime(const FieldDef& def, const RowData& row, int field);

// --- what a caller writes, as stored -----------------------------------------------------------
// Text: cut to the field's width with trailing blanks dropped (String), kept whole (Memo), or
// parsed by the field's kind, the empty text giving the empty field.
Stored fromText(const FieldDef& def, const QString& value);
Stored fromInteger(const FieldDef& def, std::int64_t value);
Stored fromBoolean(const FieldDef& def, bool value);
// An invalid date or date-time empties a field of any kind.
Stored fromDate(const FieldDef& def, const QDate& value);
Stored fromDateTime(const FieldDef& def, const QDateTime& value);

// --- the rules under them ---------------------------------------------------------------------
// Any leading part of "True" or "False", case ignored, sets true or false; empty text gives no
// value. Throws "'%s' is not a valid boolean value for field '%s'" for anything else.
std::optional<bool> parseBoolean(const QString& text, const QString& fieldName);
// The range of an integral field kind; throws the field's refusal when value lies outside.
std::int32_t checkedInteger(FieldKind kind, const QString& fieldName, std::int64_t value);
bool inRange(FieldKind kind, std::int64_t value);
// A date-time as stored: milliseconds since the start of Julian day 0.
std::int64_t dateTimeToStored(const QDateTime& value);
QDateTime storedToDateTime(std::int64_t value);

} // namespace FieldValues
