#include "model/FieldValues.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "model/RowData.h"

#include <QLocale>
#include <QTime>

#include <limits>

namespace FieldValues {

namespace {

constexpr std::int64_t MsPerDay = 86400000;

// Cuts text to a number of characters without splitting a surrogate pair.
QString cutToWidth(const QString& text, int width) {
    qsizetype units = 0;
    int chars = 0;
    while (units < text.size() && chars < width) {
        units += (text.at(units).isHighSurrogate() && units + 1 < text.size()) ? 2 : 1;
        ++chars;
    }
    return units < text.size() ? text.left(units) : text;
}

QString formatG(double value) {
    return QString::number(value, 'g', 15);
}

QDate parsedDate(const QString& text) {
    const QDate date = uGeneral::ParseShortDate(text);
    if (!date.isValid())
        throw CorvantisError(QStringLiteral("'%1' is not a valid date").arg(text));
    return date;
}

Stored day(const QDate& date) {
    return Stored::number(static_cast<std::int32_t>(date.toJulianDay()));
}

[[noreturn]] void noDate(const FieldDef& def) {
    throw CorvantisError(QStringLiteral("Field '%1' cannot take a date").arg(def.name));
}

} // namespace

// --- reading ---------------------------------------------------------------------------------

QString text(const FieldDef& def, const RowData& row, int field) {
    if (row.isNull(field))
        return QString();
    switch (def.kind) {
    case FieldKind::String:
    case FieldKind::Memo: {
        const std::string_view bytes = row.raw(field);
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word:
        return QString::number(row.int32(field));
    case FieldKind::Date:
        return uGeneral::FormatShortDate(QDate::fromJulianDay(row.int32(field)));
    case FieldKind::DateTime:
        return uGeneral::FormatDateTime(storedToDateTime(row.int64(field)));
    case FieldKind::Boolean:
        return row.boolean(field) ? TrueText : FalseText;
    }
    return QString();
}

QString displayText(const FieldDef& def, const RowData& row, int field) {
    if (def.kind == FieldKind::Boolean)
        return row.boolean(field) ? YesText : NoText;
    return text(def, row, field);
}

std::int64_t toInteger(const FieldDef& def, const RowData& row, int field) {
    if (row.isNull(field))
        return 0;
    switch (def.kind) {
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word:
    case FieldKind::Date:
        return row.int32(field);
    case FieldKind::DateTime:
        return row.int64(field);
    case FieldKind::Boolean:
        return row.boolean(field) ? 1 : 0;
    case FieldKind::String:
    case FieldKind::Memo: {
        const QString value = text(def, row, field);
        bool ok = false;
        const qint64 number = value.trimmed().toLongLong(&ok);
        if (!ok)
            throw CorvantisError(QStringLiteral("'%1' is not a valid integer value").arg(value));
        return number;
    }
    }
    return 0;
}

bool toBoolean(const FieldDef& def, const RowData& row, int field) {
    if (row.isNull(field))
        return false;
    if (def.kind == FieldKind::Boolean)
        return row.boolean(field);
    if (def.isText())
        return parseBoolean(text(def, row, field), def.name).value_or(false);
    return toInteger(def, row, field) != 0;
}

QDate toDate(const FieldDef& def, const RowData& row, int field) {
    if (row.isNull(field))
        return QDate();
    switch (def.kind) {
    case FieldKind::Date:
        return QDate::fromJulianDay(row.int32(field));
    case FieldKind::DateTime:
        return storedToDateTime(row.int64(field)).date();
    case FieldKind::String:
    case FieldKind::Memo:
        return parsedDate(text(def, row, field));
    default:
        throw CorvantisError(QStringLiteral("Field '%1' does not hold a date").arg(def.name));
    }
}

QDateTime toDateTime(const FieldDef& def, const RowData& row, int field) {
    if (row.isNull(field))
        return QDateTime();
    if (def.kind == FieldKind::DateTime)
        return storedToDateTime(row.int64(field));
    return QDateTime(toDate(def, row, field), QTime(0, 0));
}

// --- writing ---------------------------------------------------------------------------------

Stored fromText(const FieldDef& def, const QString& value) {
    switch (def.kind) {
    case FieldKind::String: {
        QString text = value;
        while (text.endsWith(u' '))
            text.chop(1);
        return Stored(cutToWidth(text, def.width).toUtf8());
    }
    case FieldKind::Memo:
        return Stored(value.toUtf8());
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word: {
        if (value.isEmpty())
            return Stored();
        bool ok = false;
        const qint64 number = value.trimmed().toLongLong(&ok);
        if (!ok)
            throw CorvantisError(QStringLiteral("'%1' is not a valid integer value for field '%2'")
                                     .arg(value, def.name));
        return fromInteger(def, number);
    }
    case FieldKind::Date:
        return value.isEmpty() ? Stored() : day(parsedDate(value));
    case FieldKind::DateTime: {
        if (value.isEmpty())
            return Stored();
        const QString trimmed = value.trimmed();
        QDateTime stamp =
            QLocale().toDateTime(trimmed, uGeneral::ShortDateFormat() + QStringLiteral(" ") +
                                              QLocale().timeFormat(QLocale::ShortFormat));
        if (!stamp.isValid()) {
            const QDate date = uGeneral::ParseShortDate(trimmed);
            if (date.isValid())
                stamp = QDateTime(date, QTime(0, 0));
        }
        if (!stamp.isValid())
            throw CorvantisError(QStringLiteral("'%1' is not a valid date and time").arg(value));
        return Stored::number(dateTimeToStored(stamp));
    }
    case FieldKind::Boolean: {
        const std::optional<bool> flag = parseBoolean(value, def.name);
        return flag ? Stored::flag(*flag) : Stored();
    }
    }
    return Stored();
}

Stored fromInteger(const FieldDef& def, std::int64_t value) {
    switch (def.kind) {
    case FieldKind::String:
    case FieldKind::Memo:
        return fromText(def, QString::number(value));
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word:
        return Stored::number(checkedInteger(def.kind, def.name, value));
    case FieldKind::Boolean:
        return Stored::flag(value != 0);
    case FieldKind::Date:
    case FieldKind::DateTime:
        break;
    }
    throw CorvantisError(
        QStringLiteral("Field '%1' cannot take the number %2").arg(def.name).arg(value));
}

Stored fromBoolean(const FieldDef& def, bool value) {
    if (def.kind == FieldKind::Boolean)
        return Stored::flag(value);
    if (def.isText())
        return fromText(def, value ? TrueText : FalseText);
    return fromInteger(def, value ? 1 : 0);
}

Stored fromDate(const FieldDef& def, const QDate& value) {
    if (!value.isValid())
        return Stored();
    switch (def.kind) {
    case FieldKind::Date:
        return day(value);
    case FieldKind::DateTime:
        return Stored::number(dateTimeToStored(QDateTime(value, QTime(0, 0))));
    case FieldKind::String:
    case FieldKind::Memo:
        return fromText(def, uGeneral::FormatShortDate(value));
    default:
        noDate(def);
    }
}

Stored fromDateTime(const FieldDef& def, const QDateTime& value) {
    if (!value.isValid())
        return Stored();
    if (def.kind == FieldKind::DateTime)
        return Stored::number(dateTimeToStored(value));
    if (def.kind == FieldKind::Date || def.isText())
        return fromDate(def, value.date());
    noDate(def);
}

// --- rules -----------------------------------------------------------------------------------

std::optional<bool> parseBoolean(const QString& text, const QString& fieldName) {
    if (text.isEmpty())
        return std::nullopt;
    if (TrueText.startsWith(text, Qt::CaseInsensitive))
        return true;
    if (FalseText.startsWith(text, Qt::CaseInsensitive))
        return false;
    throw CorvantisError(
        QStringLiteral("'%1' is not a valid boolean value for field '%2'").arg(text, fieldName));
}

namespace {

std::int64_t lowest(FieldKind kind) {
    return kind == FieldKind::Word ? 0 : std::numeric_limits<std::int32_t>::min();
}

std::int64_t highest(FieldKind kind) {
    return kind == FieldKind::Word ? 65535 : std::numeric_limits<std::int32_t>::max();
}

} // namespace

bool inRange(FieldKind kind, std::int64_t value) {
    return value >= lowest(kind) && value <= highest(kind);
}

std::int32_t checkedInteger(FieldKind kind, const QString& fieldName, std::int64_t value) {
    const std::int64_t low = lowest(kind);
    const std::int64_t high = highest(kind);
    if (!inRange(kind, value))
        throw CorvantisError(
            QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
                .arg(formatG(double(value)), fieldName, formatG(double(low)),
                     formatG(double(high))));
    return static_cast<std::int32_t>(value);
}

std::int64_t dateTimeToStored(const QDateTime& value) {
    return value.date().toJulianDay() * MsPerDay + value.time().msecsSinceStartOfDay();
}

QDateTime storedToDateTime(std::int64_t value) {
    std::int64_t day = value / MsPerDay;
    std::int64_t ms = value % MsPerDay;
    if (ms < 0) {
        ms += MsPerDay;
        --day;
    }
    return QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

} // namespace FieldValues
