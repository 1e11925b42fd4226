#pragma once

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "support/TestSupport.h"

#include <QMap>
#include <QStringList>
#include <QTest>

#include <functional>

// A task table wired as a list view wires it: a new row gets its defaults and marks the list,
// an edit of a stored row marks the list. Marks from those notifications and from the command
// are counted apart, so a test can tell whether a command finished; each notification is also
// counted on its own. A file format test can leave the defaults out and set what it needs.
struct TaskListFixture {
    enum NewRows { WithDefaults, WithoutDefaults };

    DataTable table;
    int hookMarks = 0;
    int commandMarks = 0;
    int inserts = 0;
    int edits = 0;
    int scrolls = 0;

    explicit TaskListFixture(const FieldList& fields = TaskRecord::Fields(),
                             NewRows newRows = WithDefaults) {
        TaskTable::Configure(table);
        table.createEmpty(fields);
        table.setIndexName(TaskTable::IndexID);
        table.setAfterInsert([this, newRows] {
            if (newRows == WithDefaults)
                TaskTable::ApplyNewRowDefaults(table);
            ++inserts;
            ++hookMarks;
        });
        table.setAfterEdit([this] {
            ++edits;
            ++hookMarks;
        });
        table.setAfterScroll([this] { ++scrolls; });
    }

    std::function<void()> markUnsaved() {
        return [this] { ++commandMarks; };
    }

    // A day named relative to the pinned clock, or an ISO date.
    static QDate day(const QString& text) {
        const QDate today = uGeneral::Today();
        if (text == u"today")
            return today;
        if (text == u"yesterday")
            return today.addDays(-1);
        if (text == u"tomorrow")
            return today.addDays(1);
        return QDate::fromString(text, Qt::ISODate);
    }

    // "Field=value|Field=value" as the text each field reads back as; "<null>" is the empty
    // field, dates are ISO or today/yesterday/tomorrow.
    QMap<QString, QString> parse(const QString& values) const {
        QMap<QString, QString> result;
        for (const QString& pair : values.split(u'|', Qt::SkipEmptyParts)) {
            const qsizetype eq = pair.indexOf(u'=');
            const QString field = pair.left(eq);
            QString value = pair.mid(eq + 1);
            const int index = table.fieldIndex(field);
            if (value == u"<null>")
                value.clear();
            else if (index >= 0 && table.fields()[std::size_t(index)].kind == FieldKind::Date)
                value = uGeneral::FormatShortDate(day(value));
            result.insert(field, value);
        }
        return result;
    }

    // Writes "Field=value|..." into the pending row.
    void write(const QString& values) {
        const QMap<QString, QString> parsed = parse(values);
        for (auto it = parsed.cbegin(); it != parsed.cend(); ++it) {
            if (it.value().isEmpty())
                table.setNull(it.key());
            else
                table.setString(it.key(), it.value());
        }
    }

    void add(const QString& values) {
        table.append();
        write(values);
        table.post();
    }

    // Every field of the current task as text.
    QMap<QString, QString> current() const {
        QMap<QString, QString> result;
        for (const FieldDef& def : table.fields())
            result.insert(def.name, table.asString(def.name));
        return result;
    }

    QStringList visible(const QString& field = TaskRecord::Task) const {
        QStringList texts;
        const int index = table.fieldIndex(field);
        for (int i = 0; i < table.visibleRowCount(); ++i)
            texts << table.textOf(table.rowDataAt(i), index);
        return texts;
    }
};

// Every stored version's row state, in creation order, as "4 4 12".
inline QString VersionStates(const DataTable& table) {
    QStringList states;
    for (std::size_t v = 0; v < table.versionCount(); ++v)
        states << QString::number(table.versionState(v));
    return states.join(u' ');
}

// The change log's numbers, as the file writes them.
inline QString ChangeLogText(const DataTable& table) {
    QStringList numbers;
    for (const std::uint32_t n : table.changeLog())
        numbers << QString::number(n);
    return numbers.join(u' ');
}

// Adds data rows whose columns are all text; the first entry of each row is the row's name.
inline void AddTextRows(std::initializer_list<std::initializer_list<const char*>> rows) {
    for (const auto& row : rows) {
        auto it = row.begin();
        QTestData& data = QTest::newRow(*it);
        for (++it; it != row.end(); ++it)
            data << QString::fromUtf8(*it);
    }
}
