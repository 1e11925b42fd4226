#pragma once

#include "document/ParentLinks.h"
#include "document/TaskUids.h"
#include "model/DataTable.h"
#include "sync/SyncedList.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class ListDocument;
class RowData;

// An open list as the calendar sync sees it: its tasks as to-dos through the VTODO mapping
// (calendar/VTodoMapping, objects updated in place by CalendarFile::WithTask), the UID in the
// "X-Corvantis-UID=" line of Properties or else the one the task derives (TaskUids), and the
// sync's changes made as ordinary changes of the list (DataTable::applyChanges) in one undo step
// named "Sync", which mark the list unsaved. A task the sync brings back (Restore) returns under
// its own ID, as the same task.
//
// The synced values are the fields the mapping carries, but ID and LastActioned: the day a task
// was last acted on is stamped by every command, so two sides editing different fields on
// different days would otherwise always ask about it. Each value is the text both sides compare
// alike: a day in ISO form (the locale may change between syncs), line breaks as LF, an empty
// Status as the word a to-do without one reads as, Assigned To holding the login name as empty
// (it is not published). A pulled memo keeps its lines as the list does: CR LF. A task's parent
// is the parent's UID (RELATED-TO), not its ID, which is the list's own (ParentLinks).
class DocumentSync final : public SyncedList {
public:
    explicit DocumentSync(ListDocument& document);
    ~DocumentSync() override;

    // Runs before the list is read or changed, as before any command: a window ends its cell
    // edit there, so what was typed is part of the list. It may throw CorvantisError (a typed
    // value the task refuses): the list is then read without it, and changes are not made.
    void setEndEdit(std::function<void()> endEdit) { m_endEdit = std::move(endEdit); }

    QStringList fieldNames() const override;
    bool isUnsaved() const override;
    std::vector<Task> tasks() override;
    std::vector<Task> gone() override;
    bool read(const QByteArray& object, QString& uid, Values& values) const override;
    QByteArray write(const QByteArray& lastCopy, Key key, const QString& uid) const override;
    std::vector<Key> apply(const std::vector<Change>& changes) override;

private:
    DataTable& table() const;
    // The synced fields of the list's table (worked out once its fields are known).
    const std::vector<int>& synced() const;
    Values valuesOf(const RowData& row) const;
    // A value's text as the field stores it.
    RowData withValue(const RowData& row, int field, const QString& text) const;
    RowData rowOf(const Values& values, const QString& uid) const;
    // A task's parent by UID (the synced value of ParentID), for the table as it stands.
    const ParentLinks& links() const;
    QString uidOfRow(DataTable::RowId row) const;
    // The sync's changes with the outline kept: a task whose parent the sync deletes keeps the
    // parent's UID (RELATED-TO stays) and goes to the top.
    void keepParentsOfDeleted(std::vector<DataTable::RowChange>& made, std::vector<RowData>& rows,
                              std::unordered_map<DataTable::RowId, std::size_t>& edited) const;

    // The UIDs of the list's tasks (see TaskUids), made again when the history has grown.
    const TaskUids& uids() const;
    // Gives every task without a UID of its own, or with one an earlier task names, the UID it
    // derives, its values as they are once it is written.
    void nameEveryTask(std::vector<Task>& tasks) const;

    ListDocument& m_document;
    mutable std::unique_ptr<TaskUids> m_uids;
    QMetaObject::Connection m_replaced;
    std::function<void()> m_endEdit;
    mutable std::vector<int> m_synced;
    mutable std::size_t m_fieldCount = 0;
    // The values of each task as last read, by row and the version they were read from: a sync
    // of a large list with few changes reads few rows.
    struct Known {
        std::int32_t version = -1;
        Task task;
    };
    std::unordered_map<DataTable::RowId, Known> m_known;
    mutable std::unique_ptr<ParentLinks> m_links;
    mutable std::pair<std::size_t, std::size_t> m_linksMadeAt{0, 0}; // versions, log
};
