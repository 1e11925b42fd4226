#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The text forms of the values in a list file, written and read without a QString per value.
namespace PacketValues {

// Longest text any of the writers below produces.
constexpr int MaxNumberText = 32;

// Decimal digits, "-" for negative numbers. Returns the end of the text written.
char* writeInteger(char* out, std::int64_t value);
// Eight digits yyyymmdd from a Julian day; years beyond four digits or before year 1 keep
// their digits and sign, so every day a table can hold reads back.
char* writeDate(char* out, std::int32_t julianDay);
// The date, then "Thh:mm:" and five digits of seconds times 1000 plus milliseconds, unless the
// time is exactly midnight. `stored` is the table's date-time encoding.
char* writeDateTime(char* out, std::int64_t stored);

enum class Parse { Ok, NotANumber, OutOfRange };

// A decimal integer, blanks around it allowed, an optional sign.
Parse parseInteger(std::string_view text, std::int64_t& value);
// The Julian day of a Gregorian date in years 1 to 9999; nothing when there is no such day.
std::optional<std::int32_t> dayOf(int year, int month, int day);
// yyyymmdd (a time after "T" is ignored); the Julian day.
std::optional<std::int32_t> parseDate(std::string_view text);
// yyyymmdd, optionally "T" and hh[:]mm[:] followed by ss, ss.zzz or sssss (seconds times 1000
// plus milliseconds); the table's date-time encoding.
std::optional<std::int64_t> parseDateTime(std::string_view text);

// Whether a field name can stand as the name of a row attribute: not empty, no blank, control
// character or XML delimiter, and not "RowState", which carries the version's state.
bool isFieldName(std::string_view utf8);

} // namespace PacketValues
