#include "storage/PacketValues.h"

#include <QDate>

#include <charconv>
#include <limits>

namespace PacketValues {

namespace {

constexpr std::int64_t MsPerDay = 86400000;

char* twoDigits(char* out, int value) {
    out[0] = static_cast<char>('0' + value / 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads exactly n digits at text[pos]; -1 when they are not there.
int digits(std::string_view text, std::size_t pos, std::size_t n) {
    if (pos + n > text.size())
        return -1;
    int value = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (!isDigit(text[i]))
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool isLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

// Julian day of a Gregorian date in years 1 to 9999.
std::int32_t julianDay(int year, int month, int day) {
    const int a = (14 - month) / 12;
    const int y = year + 4800 - a;
    const int m = month + 12 * a - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

// The Gregorian date of a Julian day; false outside years 1 to 9999.
bool civilDate(std::int32_t jd, int& year, int& month, int& day) {
    if (jd < 1721426 || jd > 5373484) // 0001-01-01 .. 9999-12-31
        return false;
    const int a = jd + 32044;
    const int b = (4 * a + 3) / 146097;
    const int c = a - 146097 * b / 4;
    const int d = (4 * c + 3) / 1461;
    const int e = c - 1461 * d / 4;
    const int m = (5 * e + 2) / 153;
    day = e - (153 * m + 2) / 5 + 1;
    month = m + 3 - 12 * (m / 10);
    year = 100 * b + d - 4800 + m / 10;
    return true;
}

// The date part of a value; `rest` receives what follows it.
std::optional<std::int32_t> datePart(std::string_view text, std::string_view& rest) {
    std::size_t pos = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        pos = 1;
    std::size_t end = pos;
    while (end < text.size() && isDigit(text[end]))
        ++end;
    const std::size_t count = end - pos;
    // At least four digits of year; at most what a Julian day in 32 bits can reach.
    if (count < 8 || count > 11)
        return std::nullopt;
    std::int64_t year = 0;
    for (std::size_t i = pos; i < end - 4; ++i)
        year = year * 10 + (text[i] - '0');
    if (negative)
        year = -year;
    const int month = digits(text, end - 4, 2);
    const int day = digits(text, end - 2, 2);
    if (year >= 1 && year <= 9999) {
        // The common case without QDate: the proleptic Gregorian calendar QDate uses.
        if (month < 1 || month > 12 || day < 1 || day > daysInMonth(int(year), month))
            return std::nullopt;
        rest = text.substr(end);
        return julianDay(int(year), month, day);
    }
    if (year < std::numeric_limits<int>::min() || year > std::numeric_limits<int>::max())
        return std::nullopt;
    const QDate date(static_cast<int>(year), month, day);
    if (!date.isValid())
        return std::nullopt;
    const qint64 jd = date.toJulianDay();
    if (jd < std::numeric_limits<std::int32_t>::min() ||
        jd > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    rest = text.substr(end);
    return static_cast<std::int32_t>(jd);
}

} // namespace

char* writeInteger(char* out, std::int64_t value) {
    // Most numbers of a list are small: row states, change kinds, progress, times.
    if (value >= 0 && value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    if (value >= 10 && value < 100)
        return twoDigits(out, int(value));
    return std::to_chars(out, out + MaxNumberText, value).ptr;
}

char* writeDate(char* out, std::int32_t day) {
    int y = 0;
    int m = 0;
    int d = 0;
    if (!civilDate(day, y, m, d))
        QDate::fromJulianDay(day).getDate(&y, &m, &d);
    if (y >= 1000 && y <= 9999) {
        out = twoDigits(out, y / 100);
        out = twoDigits(out, y % 100);
    } else {
        std::int64_t year = y;
        if (year < 0) {
            *out++ = '-';
            year = -year;
        }
        for (std::int64_t scale = 1000; scale > year && scale > 1; scale /= 10)
            *out++ = '0';
        out = std::to_chars(out, out + 12, year).ptr;
    }
    out = twoDigits(out, m);
    return twoDigits(out, d);
}

char* writeDateTime(char* out, std::int64_t stored) {
    std::int64_t day = stored / MsPerDay;
    std::int64_t ms = stored % MsPerDay;
    if (ms < 0) {
        ms += MsPerDay;
        --day;
    }
    out = writeDate(out, static_cast<std::int32_t>(day));
    if (ms == 0)
        return out;
    const int msOfDay = static_cast<int>(ms);
    *out++ = 'T';
    out = twoDigits(out, msOfDay / 3600000);
    *out++ = ':';
    out = twoDigits(out, msOfDay / 60000 % 60);
    *out++ = ':';
    const int millis = msOfDay % 60000;
    *out++ = static_cast<char>('0' + millis / 10000);
    *out++ = static_cast<char>('0' + millis / 1000 % 10);
    *out++ = static_cast<char>('0' + millis / 100 % 10);
    return twoDigits(out, millis % 100);
}

Parse parseInteger(std::string_view text, std::int64_t& value) {
    std::size_t b = 0;
    std::size_t e = text.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    bool negative = false;
    if (b < e && (text[b] == '-' || text[b] == '+')) {
        negative = text[b] == '-';
        ++b;
    }
    if (b == e)
        return Parse::NotANumber;
    std::uint64_t magnitude = 0;
    bool overflow = false;
    for (std::size_t i = b; i < e; ++i) {
        if (!isDigit(text[i]))
            return Parse::NotANumber;
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
    }
    const std::uint64_t limit = negative ? std::uint64_t(1) << 63 : (std::uint64_t(1) << 63) - 1;
    if (overflow || magnitude > limit)
        return Parse::OutOfRange;
    value =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return Parse::Ok;
}

std::optional<std::int32_t> dayOf(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(year, month))
        return std::nullopt;
    return julianDay(year, month, day);
}

std::optional<std::int32_t> parseDate(std::string_view text) {
    if (text.size() == 8) {
        // yyyymmdd, the form every writer uses and the bulk of a list's values.
        unsigned d[8];
        bool digitsOnly = true;
        for (int i = 0; i < 8; ++i) {
            d[i] = unsigned(text[std::size_t(i)] - '0');
            digitsOnly &= d[i] < 10;
        }
        if (digitsOnly) {
            return dayOf(int(d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3]), int(d[4] * 10 + d[5]),
                         int(d[6] * 10 + d[7]));
        }
    }
    std::string_view rest;
    const std::optional<std::int32_t> day = datePart(text, rest);
    if (!day || (!rest.empty() && rest[0] != 'T'))
        return std::nullopt;
    return day;
}

std::optional<std::int64_t> parseDateTime(std::string_view text) {
    std::string_view rest;
    const std::optional<std::int32_t> day = datePart(text, rest);
    if (!day)
        return std::nullopt;
    const std::int64_t midnight = std::int64_t(*day) * MsPerDay;
    if (rest.empty())
        return midnight;
    if (rest[0] != 'T')
        return std::nullopt;
    std::size_t pos = 1;
    const int hour = digits(rest, pos, 2);
    pos += 2;
    if (pos < rest.size() && rest[pos] == ':')
        ++pos;
    const int minute = digits(rest, pos, 2);
    pos += 2;
    if (pos < rest.size() && rest[pos] == ':')
        ++pos;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return std::nullopt;
    int millis = -1;
    const std::size_t run = rest.size() - pos;
    if (run == 5) {
        millis = digits(rest, pos, 5);
    } else if (run == 2) {
        const int seconds = digits(rest, pos, 2);
        millis = seconds < 0 ? -1 : seconds * 1000;
    } else if (run >= 4 && run <= 6 && rest[pos + 2] == '.') {
        const int seconds = digits(rest, pos, 2);
        const std::size_t fraction = run - 3;
        int part = digits(rest, pos + 3, fraction);
        for (std::size_t i = fraction; i < 3 && part >= 0; ++i)
            part *= 10;
        millis = seconds < 0 || part < 0 ? -1 : seconds * 1000 + part;
    }
    if (millis < 0 || millis >= 60000)
        return std::nullopt;
    return midnight + (std::int64_t(hour) * 60 + minute) * 60000 + millis;
}

bool isFieldName(std::string_view utf8) {
    if (utf8.empty() || utf8 == "RowState")
        return false;
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || c == '=' || c == '/' || c == '>' || c == '<' || c == '"' || c == '\'' ||
            c == '&' || u == 0x7F)
            return false;
    }
    return true;
}

} // namespace PacketValues
