#pragma once

#include "model/DataTable.h"

#include <QHash>
#include <QString>

#include <functional>
#include <vector>

// The parents of a list's tasks as a calendar names them: by UID (RELATED-TO), where the list
// names them by ID (ParentID). A subtask whose parent is not in the list keeps the parent's UID
// in its Properties (OutlineCommands::KeptParentName) and stands at the top until that task
// comes. Made from the table as it stands; a table that changed needs a new one.
class ParentLinks {
public:
    // uidOf gives the UID a live task goes by on the calendar.
    ParentLinks(const DataTable& table, const std::function<QString(DataTable::RowId)>& uidOf);

    // The UID of a task's parent: of the task its ParentID names, else the one its Properties
    // keep; empty at the top.
    QString parentUidOf(const RowData& row) const;
    // Whether a UID is a task's of the list.
    bool isTask(const QString& uid) const { return m_rowOfUid.contains(uid); }
    // The row's values with its parent named by uid: ParentID the ID of the list's task of that
    // UID (no UID kept), or, with no such task, no ParentID and the UID kept; an empty uid puts
    // it at the top.
    RowData withParentUid(const RowData& row, const QString& uid) const;
    // The row's values standing at the top and keeping uid (its parent is going from the list,
    // so the calendar's RELATED-TO stays as it is).
    RowData keepingParentUid(const RowData& row, const QString& uid) const;
    // The live tasks that keep the UID of a task the list has now: each one's values with its
    // ParentID naming that task (for a sync or an import that brought the parent).
    std::vector<std::pair<DataTable::RowId, RowData>> relinked() const;

private:
    RowData withParent(const RowData& row, const QString& uid, bool link) const;

    const DataTable& m_table;
    int m_id;
    int m_parent;
    int m_properties;
    QHash<std::int32_t, QString> m_uidOfId;
    QHash<QString, std::int32_t> m_rowOfUid; // the task's ID
};
