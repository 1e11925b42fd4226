#pragma once

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QString>

#include <optional>

// What was reminded of the tasks of one list: for each task the day of its last reminder and
// the day a snooze ends, each kept with the due date and status the task had then. A task whose
// due date or status has changed since is no longer covered by its entry: it is reminded afresh.
//
// Tasks are named by a key: their ID as text. A task without an ID has a key starting with "#"
// (its row in this run), which is kept for this run only and never written.
class ReminderLog {
public:
    // The task as a reminder saw it.
    struct Task {
        QString key;
        QDate due;
        QString status;
    };

    // Whether no reminder is due for the task as it stands now: it was reminded today, or a
    // snooze lasts beyond today, while its due date and status stayed as they were.
    bool IsQuiet(const Task& task, const QDate& today) const;
    void MarkReminded(const Task& task, const QDate& today);
    // No reminder of the task before the reminder time of `until`.
    void Snooze(const Task& task, const QDate& until);

    // Drops what no longer keeps any reminder away: entries of earlier days without a snooze
    // beyond today.
    void Prune(const QDate& today);
    // Takes in another log of the same list (another run's): per task the later reminder and
    // the later snooze.
    void Merge(const ReminderLog& other);
    bool IsEmpty() const { return m_entries.isEmpty(); }
    int Size() const { return int(m_entries.size()); }

    // The log as stored (JSON, with the list file's name) and back; no value when the bytes are
    // not such a log or name another file.
    QByteArray ToBytes(const QString& listFile) const;
    static std::optional<ReminderLog> FromBytes(const QByteArray& bytes, const QString& listFile);

    static bool IsKeptKey(const QString& key) { return !key.isEmpty() && !key.startsWith(u'#'); }

private:
    struct Entry {
        QDate reminded;
        QDate snoozedUntil;
        QDate due;
        QString status;
        bool covers(const Task& task) const { return due == task.due && status == task.status; }
    };
    QHash<QString, Entry> m_entries;
};
