#pragma once

#include "document/DocumentSync.h"
#include "document/ListDocument.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"

#include <QDate>

// One device's copy of a list for the sync tests and the benchmark: a list document saved as
// fileName, synced through the product's mapping, its tasks made, edited and deleted as the user
// makes them (the table's append, edit and post, which mark the list unsaved).
struct SyncedDocument {
    explicit SyncedDocument(const QString& fileName) : list(document) {
        document.createNew();
        document.save(fileName, true);
    }

    DataTable& table() { return *document.table(); }
    // What a Save does for the sync: the list holds nothing its file lacks.
    void markSaved() { document.markSaved(); }

    DataTable::RowId add(const QString& text, const QString& priority = TaskRecord::Normal,
                         const QString& details = {}) {
        table().append();
        table().setString(TaskRecord::Task, text);
        table().setString(TaskRecord::Priority, priority);
        table().setString(TaskRecord::Details, details);
        table().setDate(TaskRecord::DueDate, QDate(2025, 3, 20));
        table().post();
        return table().currentRow();
    }
    void set(DataTable::RowId row, const QString& field, const QString& value) {
        table().goToRow(row);
        table().edit();
        table().setString(field, value);
        table().post();
    }
    void remove(DataTable::RowId row) {
        table().goToRow(row);
        table().remove();
        document.markUnsaved(); // as the view's Delete does
    }
    // The row of the task with this text; -1 when there is none.
    DataTable::RowId rowOf(const QString& text) {
        for (const SyncedList::Task& task : list.tasks())
            if (task.text == text)
                return DataTable::RowId(task.key);
        return -1;
    }
    // The value of a synced field of a task, as the sync compares it.
    static QString valueOf(const SyncedList::Task& task, DocumentSync& list, const QString& field) {
        return task.values.value(list.fieldNames().indexOf(field));
    }

    ListDocument document;
    DocumentSync list;
};
