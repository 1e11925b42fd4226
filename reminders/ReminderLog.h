#pragma once

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

// What was reminded of the tasks of one list: for each task the day of its last reminder and
// the day a snooze ends, each kept with the due date and status the task had then. A task whose
// due date or status has changed since is no longer covered by its entry: it is reminded afresh.
//
// Tasks go by a key: their ID. A task without an ID goes by its row in this run
// (RowKeyBase + row), which is never written. A status is kept as a hash of its text: a list
// with tens of thousands of due tasks notes them all without a text apiece.
class ReminderLog {
public:
    using Key = std::int64_t;
    static constexpr Key RowKeyBase = Key(1) << 40;
    static bool isKeptKey(Key key) { return key > -RowKeyBase && key < RowKeyBase; }
    // The key of a task: its ID, or its row in this run when it has none.
    static Key keyOf(const std::optional<std::int32_t>& id, std::int32_t row) {
        return id ? Key(*id) : RowKeyBase + row;
    }

    // The task as a reminder saw it.
    struct Task {
        Key key = 0;
        QDate due;
        std::uint32_t status = 0; // StatusHash of its status text
    };
    // A hash of a status text in UTF-8, the same in every run and on every machine (FNV-1a).
    static std::uint32_t statusHash(std::string_view utf8);

    // Whether no reminder is due for the task as it stands now: it was reminded today, or a
    // snooze lasts beyond today, while its due date and status stayed as they were.
    bool isQuiet(const Task& task, const QDate& today) const;
    void markReminded(const Task& task, const QDate& today);
    // No reminder of the task before the reminder time of `until`.
    void snooze(const Task& task, const QDate& until);

    // Drops what no longer keeps any reminder away: entries of earlier days without a snooze
    // beyond today.
    void prune(const QDate& today);
    // Takes in another log of the same list (another run's): per task the later reminder and
    // the later snooze.
    void merge(const ReminderLog& other);
    bool isEmpty() const { return m_entries.isEmpty(); }
    int size() const { return int(m_entries.size()); }

    // The log as stored, naming its list file, and back; no value when the bytes are not such a
    // log or name another file.
    QByteArray toBytes(const QString& listFile) const;
    static std::optional<ReminderLog> fromBytes(const QByteArray& bytes, const QString& listFile);

private:
    static constexpr std::int64_t NoDay = INT64_MIN; // Julian days below
    struct Entry {
        std::int64_t reminded = NoDay;
        std::int64_t snoozedUntil = NoDay;
        std::int64_t due = NoDay;
        std::uint32_t status = 0;
        bool covers(const Task& task) const;
    };
    Entry& entryFor(const Task& task);
    static std::int64_t dayOf(const QDate& day) {
        return day.isValid() ? day.toJulianDay() : NoDay;
    }

    QHash<Key, Entry> m_entries;
};
