#pragma once

#include "model/DataTable.h"
#include "model/FieldValues.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "sync/SyncedList.h"

#include <QCryptographicHash>
#include <QDate>
#include <QRegularExpression>
#include <QUuid>

// A task table as the calendar sync sees it, for the sync's tests: five fields carried by a
// small to-do mapping of the tests' own (Task SUMMARY, Status STATUS, Priority PRIORITY,
// DueDate DUE, Details DESCRIPTION), the UID in an "X-Corvantis-UID=" line of Properties, and
// changes made through the table's own edit and post. isUnsaved() is set by every change the
// sync makes and cleared by markSaved(), as a list document's save would.
class TableSyncList : public SyncedList {
public:
    explicit TableSyncList(const QString& identity) : m_identity(identity) {
        TaskTable::CreateEmpty(m_table);
    }

    DataTable& table() { return m_table; }
    void markSaved() { m_unsaved = false; }

    // A task made as the user makes one; returns its row.
    DataTable::RowId add(const QString& text, const QString& priority = TaskRecord::Normal,
                         const QString& details = {}) {
        m_table.append();
        TaskTable::ApplyNewRowDefaults(m_table);
        m_table.setString(TaskRecord::Task, text);
        m_table.setString(TaskRecord::Priority, priority);
        m_table.setString(TaskRecord::Details, details);
        m_table.setDate(TaskRecord::DueDate, QDate(2025, 3, 20));
        m_table.post();
        m_unsaved = true;
        return m_table.currentRow();
    }
    void set(DataTable::RowId row, const QString& field, const QString& value) {
        m_table.goToRow(row);
        m_table.edit();
        m_table.setString(field, value);
        m_table.post();
        m_unsaved = true;
    }
    void remove(DataTable::RowId row) {
        m_table.goToRow(row);
        m_table.remove();
        m_unsaved = true;
    }
    // The row of the task with this text; -1 when there is none.
    DataTable::RowId rowOf(const QString& text) {
        for (const Task& task : tasks())
            if (task.text == text)
                return DataTable::RowId(task.key);
        return -1;
    }

    // --- SyncedList ------------------------------------------------------------------------------
    QStringList fieldNames() const override { return Fields(); }
    bool isUnsaved() const override { return m_unsaved; }

    std::vector<Task> tasks() override {
        m_table.settle();
        std::vector<Task> out;
        for (DataTable::RowId row : m_table.naturalOrder())
            out.push_back(taskAt(row));
        return out;
    }

    QString newUid(const Task& task) const override {
        return QUuid::createUuidV5(QUuid(), m_identity + QString::number(task.id))
            .toString(QUuid::WithoutBraces);
    }

    bool read(const QByteArray& object, QString& uid, Values& values) const override {
        const QHash<QString, QString> todo = TodoProperties(object);
        if (!todo.contains(QStringLiteral("BEGIN")))
            return false;
        uid = todo.value(QStringLiteral("UID"));
        const QString status = todo.value(QStringLiteral("STATUS"));
        const int priority = todo.value(QStringLiteral("PRIORITY")).toInt();
        const QString due = todo.value(QStringLiteral("DUE")).left(8);
        values = {todo.value(QStringLiteral("SUMMARY")),
                  status == QLatin1String("COMPLETED")    ? TaskRecord::Complete
                  : status == QLatin1String("IN-PROCESS") ? TaskRecord::InProgress
                  : status == QLatin1String("CANCELLED")  ? TaskRecord::Cancelled
                                                          : TaskRecord::NotStarted,
                  priority >= 1 && priority <= 4   ? TaskRecord::High
                  : priority >= 6 && priority <= 9 ? TaskRecord::Low
                                                   : TaskRecord::Normal,
                  QDate::fromString(due, QStringLiteral("yyyyMMdd")).toString(Qt::ISODate),
                  todo.value(QStringLiteral("DESCRIPTION"))};
        return true;
    }

    QByteArray write(const QByteArray& lastCopy, Key key, const QString& uid) const override {
        const Values values = taskAt(DataTable::RowId(key)).values;
        const QString status = values.value(1);
        const QString priority = values.value(2);
        QStringList mine = {
            QStringLiteral("UID:") + uid, QStringLiteral("DTSTAMP:20250312T140509Z"),
            QStringLiteral("SUMMARY:") + Escaped(values.value(0)),
            QStringLiteral("STATUS:") + (status == TaskRecord::Complete     ? "COMPLETED"
                                         : status == TaskRecord::InProgress ? "IN-PROCESS"
                                         : status == TaskRecord::Cancelled  ? "CANCELLED"
                                                                            : "NEEDS-ACTION"),
            QStringLiteral("PRIORITY:") + (priority == TaskRecord::High  ? "1"
                                           : priority == TaskRecord::Low ? "9"
                                                                         : "5")};
        if (!values.value(3).isEmpty())
            mine.append(QStringLiteral("DUE;VALUE=DATE:") +
                        QDate::fromString(values.value(3), Qt::ISODate)
                            .toString(QStringLiteral("yyyyMMdd")));
        if (!values.value(4).isEmpty())
            mine.append(QStringLiteral("DESCRIPTION:") + Escaped(values.value(4)));
        // What another client wrote and this mapping does not carry stays.
        QStringList lines = Unfolded(lastCopy);
        if (lines.isEmpty())
            lines = {QStringLiteral("BEGIN:VCALENDAR"),
                     QStringLiteral("VERSION:2.0"),
                     QStringLiteral("PRODID:-//Corvantis tests//EN"),
                     QStringLiteral("BEGIN:VTODO"),
                     QStringLiteral("END:VTODO"),
                     QStringLiteral("END:VCALENDAR")};
        static const QStringList carried = {QStringLiteral("UID"),        QStringLiteral("DTSTAMP"),
                                            QStringLiteral("SUMMARY"),    QStringLiteral("STATUS"),
                                            QStringLiteral("PRIORITY"),   QStringLiteral("DUE"),
                                            QStringLiteral("DESCRIPTION")};
        QStringList out;
        bool inTodo = false;
        for (const QString& line : lines) {
            if (line == QLatin1String("BEGIN:VTODO"))
                inTodo = true;
            if (line == QLatin1String("END:VTODO")) {
                out += mine;
                inTodo = false;
            }
            if (!(inTodo && carried.contains(NameOf(line))))
                out.append(line);
        }
        return (out.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
    }

    std::vector<Key> apply(const std::vector<Change>& changes) override {
        std::vector<Key> added;
        for (const Change& change : changes) {
            switch (change.kind) {
            case Change::Add:
                m_table.append();
                TaskTable::ApplyNewRowDefaults(m_table);
                writeValues(change.values);
                m_table.setString(TaskRecord::Properties,
                                  QStringLiteral("X-Corvantis-UID=") + change.uid);
                m_table.post();
                added.push_back(m_table.currentRow());
                break;
            case Change::Edit:
                m_table.goToRow(DataTable::RowId(change.key));
                m_table.edit();
                writeValues(change.values);
                m_table.post();
                break;
            case Change::Delete:
                m_table.goToRow(DataTable::RowId(change.key));
                m_table.remove();
                break;
            case Change::SetUid:
                m_table.goToRow(DataTable::RowId(change.key));
                m_table.edit();
                m_table.setString(TaskRecord::Properties,
                                  QStringLiteral("X-Corvantis-UID=") + change.uid);
                m_table.post();
                break;
            }
            m_unsaved = true;
        }
        return added;
    }

    static QStringList Fields() {
        return {TaskRecord::Task, TaskRecord::Status, TaskRecord::Priority, TaskRecord::DueDate,
                TaskRecord::Details};
    }

private:
    Task taskAt(DataTable::RowId row) const {
        const RowData& data = m_table.rowData(row);
        Task task;
        task.key = row;
        task.id = data.int32(m_table.fieldIndex(TaskRecord::ID));
        const int due = m_table.fieldIndex(TaskRecord::DueDate);
        for (const QString& name : Fields()) {
            const int f = m_table.fieldIndex(name);
            task.values.append(f == due
                                   ? FieldValues::toDate(m_table.fields()[std::size_t(f)], data, f)
                                         .toString(Qt::ISODate)
                                   : m_table.textOf(data, f));
        }
        task.text = task.values.value(0);
        static const QRegularExpression uidLine(QStringLiteral("^X-Corvantis-UID=(.*)$"),
                                                QRegularExpression::MultilineOption);
        task.uid = uidLine.match(m_table.textOf(data, m_table.fieldIndex(TaskRecord::Properties)))
                       .captured(1)
                       .trimmed();
        return task;
    }
    void writeValues(const Values& values) {
        m_table.setString(TaskRecord::Task, values.value(0));
        m_table.setString(TaskRecord::Status, values.value(1));
        m_table.setString(TaskRecord::Priority, values.value(2));
        m_table.setDate(TaskRecord::DueDate, QDate::fromString(values.value(3), Qt::ISODate));
        m_table.setString(TaskRecord::Details, values.value(4));
    }
    static QStringList Unfolded(const QByteArray& object) {
        QStringList lines;
        for (QString line : QString::fromUtf8(object).split(QLatin1Char('\n'))) {
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            if ((line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t'))) &&
                !lines.isEmpty())
                lines.last() += line.mid(1);
            else if (!line.isEmpty())
                lines.append(line);
        }
        return lines;
    }
    static QString NameOf(const QString& line) {
        const qsizetype end = line.indexOf(QRegularExpression(QStringLiteral("[;:]")));
        return line.left(end).toUpper();
    }
    // The properties of the first to-do, values unescaped; "BEGIN" is there when it has one.
    static QHash<QString, QString> TodoProperties(const QByteArray& object) {
        QHash<QString, QString> found;
        bool inTodo = false;
        for (const QString& line : Unfolded(object)) {
            if (line == QLatin1String("BEGIN:VTODO")) {
                inTodo = true;
                found.insert(QStringLiteral("BEGIN"), QStringLiteral("VTODO"));
            } else if (line == QLatin1String("END:VTODO")) {
                break;
            } else if (inTodo) {
                QString value = line.mid(line.indexOf(QLatin1Char(':')) + 1);
                value.replace(QLatin1String("\\n"), QLatin1String("\n"))
                    .replace(QLatin1String("\\N"), QLatin1String("\n"))
                    .replace(QLatin1String("\\,"), QLatin1String(","))
                    .replace(QLatin1String("\\;"), QLatin1String(";"))
                    .replace(QLatin1String("\\\\"), QLatin1String("\\"));
                found.insert(NameOf(line), value);
            }
        }
        return found;
    }
    static QString Escaped(QString text) {
        return text.replace(QLatin1String("\\"), QLatin1String("\\\\"))
            .replace(QLatin1String("\n"), QLatin1String("\\n"))
            .replace(QLatin1String(","), QLatin1String("\\,"))
            .replace(QLatin1String(";"), QLatin1String("\\;"));
    }

    QString m_identity;
    DataTable m_table;
    bool m_unsaved = false;
};
