#include "base/DatesAndClock.h"

#include <QLocale>
#include <QRegularExpression>

#include <chrono>

namespace uGeneral {

namespace {
std::function<QDateTime()>& clockOverride() {
    static std::function<QDateTime()> clock;
    return clock;
}
} // namespace

QString ShortDateFormat() {
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    // Widen a two-digit year ("yy" not part of a longer run) to four digits.
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format.at(i) != u'y')
            continue;
        qsizetype j = i;
        while (j < format.size() && format.at(j) == u'y')
            ++j;
        if (j - i == 2) {
            format.replace(i, 2, QStringLiteral("yyyy"));
            j += 2;
        }
        i = j;
    }
    return format;
}

QString FormatShortDate(const QDate& date) {
    if (!date.isValid())
        return QString();
    return QLocale().toString(date, ShortDateFormat());
}

QDate ParseShortDate(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QDate();
    const QString format = ShortDateFormat();
    QDate date = QLocale().toDate(trimmed, format);
    if (!date.isValid()) {
        // Accept a two-digit year typed by hand, as the locale's own short form reads it.
        date = QLocale().toDate(trimmed, QLocale().dateFormat(QLocale::ShortFormat));
        if (date.isValid() && date.year() < 1950)
            date = date.addYears(100);
    }
    return date;
}

QString FormatDateTime(const QDateTime& dateTime) {
    if (!dateTime.isValid())
        return QString();
    // The locale's long time form without its time-zone token: stored times have no zone.
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    const QString time = QLocale().timeFormat(QLocale::LongFormat).remove(zone).trimmed();
    return QLocale().toString(dateTime, ShortDateFormat() + u' ' + time);
}

QDateTime Now() {
    if (clockOverride())
        return clockOverride()();
    // The local time takes a search of the time-zone rules: asked again within the same
    // millisecond (every task of a batch asks), it is not worked out again.
    thread_local qint64 lastTick = -1;
    thread_local QDateTime last;
    const auto tick = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
    if (tick != lastTick) {
        last = QDateTime::currentDateTime();
        lastTick = tick;
    }
    return last;
}

QDate Today() {
    return Now().date();
}

void SetClockForTesting(std::function<QDateTime()> clock) {
    clockOverride() = std::move(clock);
}

} // namespace uGeneral
