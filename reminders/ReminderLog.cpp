#include "reminders/ReminderLog.h"

#include <QUrl>

#include <algorithm>

namespace {
// The first line of a stored log, and its format's version.
constexpr std::string_view Magic = "Corvantis reminders 1";

void appendDay(QByteArray& out, std::int64_t day, std::int64_t none) {
    if (day == none)
        out += '-';
    else
        out += QByteArray::number(day);
}

// Reads a decimal number (or "-", none) at `at`, and the blank or line end after it.
bool readNumber(const char*& at, const char* end, std::int64_t& value, std::int64_t none) {
    if (at < end && *at == '-' && (at + 1 == end || at[1] == ' ' || at[1] == '\n')) {
        value = none;
        ++at;
    } else {
        bool negative = at < end && *at == '-';
        if (negative)
            ++at;
        const char* digits = at;
        std::uint64_t n = 0;
        while (at < end && *at >= '0' && *at <= '9' && at - digits < 18)
            n = n * 10 + std::uint64_t(*at++ - '0');
        if (at == digits)
            return false;
        value = negative ? -std::int64_t(n) : std::int64_t(n);
    }
    if (at < end && *at != ' ' && *at != '\n')
        return false;
    if (at < end && *at == ' ')
        ++at;
    return true;
}
} // namespace

std::uint32_t ReminderLog::statusHash(std::string_view utf8) {
    std::uint32_t hash = 2166136261u;
    for (const char c : utf8) {
        hash ^= std::uint8_t(c);
        hash *= 16777619u;
    }
    return hash;
}

bool ReminderLog::Entry::covers(const Task& task) const {
    return due == dayOf(task.due) && status == task.status;
}

ReminderLog::Entry& ReminderLog::entryFor(const Task& task) {
    Entry& entry = m_entries[task.key];
    if (!entry.covers(task)) {
        entry = Entry{};
        entry.due = dayOf(task.due);
        entry.status = task.status;
    }
    return entry;
}

bool ReminderLog::isQuiet(const Task& task, const QDate& today) const {
    const auto it = m_entries.constFind(task.key);
    if (it == m_entries.cend() || !it->covers(task))
        return false;
    const std::int64_t day = today.toJulianDay();
    return it->reminded == day || it->snoozedUntil > day;
}

void ReminderLog::markReminded(const Task& task, const QDate& today) {
    entryFor(task).reminded = dayOf(today);
}

void ReminderLog::snooze(const Task& task, const QDate& until) {
    entryFor(task).snoozedUntil = dayOf(until);
}

void ReminderLog::prune(const QDate& today) {
    const std::int64_t day = today.toJulianDay();
    m_entries.removeIf([day](const QHash<Key, Entry>::iterator& it) {
        return it->reminded < day && it->snoozedUntil <= day;
    });
}

void ReminderLog::merge(const ReminderLog& other) {
    for (auto it = other.m_entries.cbegin(); it != other.m_entries.cend(); ++it) {
        const auto mine = m_entries.find(it.key());
        if (mine == m_entries.end()) {
            m_entries.insert(it.key(), it.value());
        } else if (mine->due == it->due && mine->status == it->status) {
            mine->reminded = std::max(mine->reminded, it->reminded);
            mine->snoozedUntil = std::max(mine->snoozedUntil, it->snoozedUntil);
        } else if (it->reminded > mine->reminded) {
            *mine = it.value(); // the other run saw the task later, as it is now
        }
    }
}

QByteArray ReminderLog::toBytes(const QString& listFile) const {
    QByteArray out;
    out.reserve(64 + m_entries.size() * 40);
    out += QByteArray(Magic.data(), qsizetype(Magic.size())) + '\n';
    out += QUrl::toPercentEncoding(listFile, "/") + '\n';
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (!isKeptKey(it.key()))
            continue;
        out += QByteArray::number(it.key());
        out += ' ';
        appendDay(out, it->reminded, NoDay);
        out += ' ';
        appendDay(out, it->snoozedUntil, NoDay);
        out += ' ';
        appendDay(out, it->due, NoDay);
        out += ' ';
        out += QByteArray::number(it->status);
        out += '\n';
    }
    return out;
}

std::optional<ReminderLog> ReminderLog::fromBytes(const QByteArray& bytes,
                                                  const QString& listFile) {
    const qsizetype magicEnd = bytes.indexOf('\n');
    const qsizetype nameEnd = bytes.indexOf('\n', magicEnd + 1);
    if (magicEnd < 0 || nameEnd < 0 ||
        std::string_view(bytes.constData(), std::size_t(magicEnd)) != Magic ||
        QUrl::fromPercentEncoding(bytes.mid(magicEnd + 1, nameEnd - magicEnd - 1)) != listFile)
        return std::nullopt;
    ReminderLog log;
    const char* at = bytes.constData() + nameEnd + 1;
    const char* const end = bytes.constData() + bytes.size();
    while (at < end) {
        std::int64_t key = 0, status = 0;
        Entry entry;
        if (!readNumber(at, end, key, NoDay) || !readNumber(at, end, entry.reminded, NoDay) ||
            !readNumber(at, end, entry.snoozedUntil, NoDay) ||
            !readNumber(at, end, entry.due, NoDay) || !readNumber(at, end, status, NoDay) ||
            (at < end && *at++ != '\n') || !isKeptKey(key) || status < 0 || status > UINT32_MAX)
            return std::nullopt;
        entry.status = std::uint32_t(status);
        log.m_entries.insert(key, entry);
    }
    return log;
}
