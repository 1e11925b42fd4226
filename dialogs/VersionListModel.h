#pragma once

#include "model/DataTable.h"
#include "model/TaskHistory.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QString>

#include <vector>

// Stored versions of a list's tasks as the rows of an item model, one column per field named,
// plus when a version was made and which fields it changed. Cells read the table when shown, so a
// list of thousands of versions costs nothing until it is painted. When changes are marked, a
// row's changes are those against the row below it (the version it replaced) and its changed
// cells carry ChangedRole and the changed look.
class VersionListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum ColumnKind {
        FieldColumn,   // the value of a field
        WhenColumn,    // the date the version can be dated by (see dating)
        ChangeColumn,  // the number of the change that made it
        ChangedColumn, // the names of the fields it changed
    };
    struct Column {
        QString title;
        ColumnKind kind = FieldColumn;
        QString field;
    };
    enum Role { ChangedRole = Qt::UserRole + 1 };

    explicit VersionListModel(std::vector<Column> columns, QObject* parent = nullptr);

    void setVersions(const DataTable& table, std::vector<TaskHistory::Version> versions,
                     bool markChanges);
    void clear();

    const DataTable* table() const { return m_table; }
    const TaskHistory::Version& versionAt(int row) const {
        return m_versions[static_cast<std::size_t>(row)];
    }
    // The fields the row's version changed; empty when changes are not marked.
    const std::vector<int>& changedAt(int row) const;
    // The date a version can honestly be dated by: for the first version its CreatedDate; for
    // a later one its LastActioned, else its CompletedDate, where the version changed that field
    // (a state command sets them; a plain edit records no date). None: not recorded.
    struct Dating {
        QString date;  // the short date; empty when not recorded
        QString field; // the field it comes from, with its whole value
    };
    Dating dating(int row) const;
    // The "When" cell: the date, or "not recorded".
    QString whenText(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // A value as one line of a cell: line breaks shown as blanks.
    static QString oneLine(QString text);
    // How a changed value looks, for the background and font roles: the changed-value colour and
    // a bold font. No value for other roles.
    static QVariant changedLook(int role);

private:
    bool isChanged(int row, int field) const;

    QPointer<const DataTable> m_table;
    std::vector<Column> m_columns;
    std::vector<int> m_fields; // per column; -1: no such field or not a field column
    std::vector<TaskHistory::Version> m_versions;
    std::vector<std::vector<int>> m_changed;
    bool m_marked = false;
    int m_lastActioned = -1;
    int m_completed = -1;
    int m_created = -1;
};
