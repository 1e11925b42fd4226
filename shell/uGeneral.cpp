#include "shell/uGeneral.h"

#include "model/CorvantisError.h"

#include <QCollator>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

namespace uGeneral {

namespace {
std::function<QDateTime()>& clockOverride() {
    static std::function<QDateTime()> clock;
    return clock;
}
std::function<QString()>& userNameOverride() {
    static std::function<QString()> source;
    return source;
}
} // namespace

QString CaptionFromFileName(const QString& fileName) {
    const int sep = std::max(fileName.lastIndexOf(u'/'), fileName.lastIndexOf(u'\\'));
    const QString last = fileName.mid(sep + 1);
    const int dot = last.lastIndexOf(u'.');
    return dot < 0 ? last : last.left(dot);
}

QString FolderPart(const QString& fileName) {
    const int sep = std::max(fileName.lastIndexOf(u'/'), fileName.lastIndexOf(u'\\'));
    return fileName.left(sep + 1);
}

void SortLines(QStringList& lines) {
    if (lines.size() < 2)
        return;
    QCollator collator; // the default locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(lines.begin(), lines.end(), [&](const QString& a, const QString& b) {
        return collator.compare(a, b) < 0;
    });
}

QString SystemErrorMessage(int code) {
    return QStringLiteral("System Error.  Code: %1.\n%2")
        .arg(code)
        .arg(QString::fromLocal8Bit(std::strerror(code)));
}

QString CurrentUserName() {
    if (userNameOverride())
        return userNameOverride()();
    errno = 0;
    const struct passwd* entry = ::getpwuid(::geteuid());
    const int code = errno != 0 ? errno : ENOENT;
    return UserNameFrom(entry && entry->pw_name ? entry->pw_name : nullptr, code);
}

QString UserNameFrom(const char* databaseName, int lookupError) {
    if (databaseName && *databaseName)
        return QString::fromLocal8Bit(databaseName);
    // Containers often run under a user the password database does not know.
    for (const char* variable : {"USER", "LOGNAME"}) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return name;
    }
    throw CorvantisError(SystemErrorMessage(lookupError));
}

void SetCurrentUserNameForTesting(std::function<QString()> source) {
    userNameOverride() = std::move(source);
}

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

QString TrimBlanksAndControls(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text.at(start).unicode() <= 0x20)
        ++start;
    while (end > start && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(start, end - start);
}

} // namespace uGeneral
