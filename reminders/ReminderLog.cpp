#include "reminders/ReminderLog.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
const QString FileKey = QStringLiteral("file");
const QString TasksKey = QStringLiteral("tasks");
const QString RemindedKey = QStringLiteral("reminded");
const QString SnoozedKey = QStringLiteral("snoozed");
const QString DueKey = QStringLiteral("due");
const QString StatusKey = QStringLiteral("status");

QString dayText(const QDate& day) {
    return day.isValid() ? day.toString(Qt::ISODate) : QString();
}

QDate dayOf(const QJsonValue& value) {
    return QDate::fromString(value.toString(), Qt::ISODate);
}

QDate later(const QDate& a, const QDate& b) {
    if (!a.isValid())
        return b;
    if (!b.isValid())
        return a;
    return std::max(a, b);
}
} // namespace

bool ReminderLog::IsQuiet(const Task& task, const QDate& today) const {
    const auto it = m_entries.constFind(task.key);
    if (it == m_entries.cend() || !it->covers(task))
        return false;
    return it->reminded == today || (it->snoozedUntil.isValid() && it->snoozedUntil > today);
}

void ReminderLog::MarkReminded(const Task& task, const QDate& today) {
    Entry& entry = m_entries[task.key];
    if (!entry.covers(task))
        entry = Entry{};
    entry.reminded = today;
    entry.due = task.due;
    entry.status = task.status;
}

void ReminderLog::Snooze(const Task& task, const QDate& until) {
    Entry& entry = m_entries[task.key];
    if (!entry.covers(task))
        entry = Entry{};
    entry.snoozedUntil = until;
    entry.due = task.due;
    entry.status = task.status;
}

void ReminderLog::Prune(const QDate& today) {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const bool keeps =
            it->reminded >= today || (it->snoozedUntil.isValid() && it->snoozedUntil > today);
        it = keeps ? std::next(it) : m_entries.erase(it);
    }
}

void ReminderLog::Merge(const ReminderLog& other) {
    for (auto it = other.m_entries.cbegin(); it != other.m_entries.cend(); ++it) {
        const auto mine = m_entries.find(it.key());
        if (mine == m_entries.end()) {
            m_entries.insert(it.key(), it.value());
        } else if (mine->covers({it.key(), it->due, it->status})) {
            mine->reminded = later(mine->reminded, it->reminded);
            mine->snoozedUntil = later(mine->snoozedUntil, it->snoozedUntil);
        } else if (later(mine->reminded, it->reminded) != mine->reminded) {
            *mine = it.value(); // the other run saw the task later, as it is now
        }
    }
}

QByteArray ReminderLog::ToBytes(const QString& listFile) const {
    QJsonObject tasks;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (!IsKeptKey(it.key()))
            continue;
        QJsonObject entry;
        if (it->reminded.isValid())
            entry.insert(RemindedKey, dayText(it->reminded));
        if (it->snoozedUntil.isValid())
            entry.insert(SnoozedKey, dayText(it->snoozedUntil));
        entry.insert(DueKey, dayText(it->due));
        entry.insert(StatusKey, it->status);
        tasks.insert(it.key(), entry);
    }
    QJsonObject root;
    root.insert(FileKey, listFile);
    root.insert(TasksKey, tasks);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<ReminderLog> ReminderLog::FromBytes(const QByteArray& bytes,
                                                  const QString& listFile) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    if (root.value(FileKey).toString() != listFile || !root.value(TasksKey).isObject())
        return std::nullopt;
    ReminderLog log;
    const QJsonObject tasks = root.value(TasksKey).toObject();
    for (auto it = tasks.constBegin(); it != tasks.constEnd(); ++it) {
        if (!IsKeptKey(it.key()) || !it.value().isObject())
            continue;
        const QJsonObject object = it.value().toObject();
        Entry entry;
        entry.reminded = dayOf(object.value(RemindedKey));
        entry.snoozedUntil = dayOf(object.value(SnoozedKey));
        entry.due = dayOf(object.value(DueKey));
        entry.status = object.value(StatusKey).toString();
        if (entry.reminded.isValid() || entry.snoozedUntil.isValid())
            log.m_entries.insert(it.key(), entry);
    }
    return log;
}
