#pragma once

#include "model/DataTable.h"
#include "view/CellLook.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

// One column of the task grid: the field it shows (or a derived value of the table, such as
// "Repeat"), its title and width (0: the default width). The Subtasks column shows no field: how
// many of a task's subtasks are complete, of all.
struct GridColumn {
    QString field;
    QString title;
    int width = 0;
    bool shown = true;
};
inline const QString SubtasksColumn = QStringLiteral("Subtasks");

// The grid's columns, in order.
const std::vector<GridColumn>& TaskGridColumns();

// The visible rows of a task table as an item model. It follows the table's row-by-row change
// signals, so the view never re-reads the whole list after an edit. A pending new row is a row
// of the model like any other until the table stores or drops it.
//
// Writing a cell follows the table's one-pending-row rule: the written row first becomes the
// table's current row (which settles any other pending row, found again by identity), then it
// enters the editing state and takes the typed text as the field's text form. A refused value
// is shown in the error box and leaves the field as it was.
//
// The painting rules are the model's: Qt's background, foreground and font roles give a cell's
// look, and the roles below its look as the grid's selected cell (which only the grid knows)
// and the progress drawn as a bar. A background left to the grid's own is no value.
class TaskGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Role {
        SelectedBackgroundRole = Qt::UserRole + 1,
        SelectedForegroundRole,
        SelectedFontRole,
        ProgressBarRole,     // the task's progress, in the cells drawn as a bar
        OutlineDepthRole,    // the Task cell: how deep the task stands in the outline
        OutlineExpanderRole, // the Task cell: an Expander for a task with subtasks
    };
    enum Expander { NoExpander = 0, Expanded = 1, Collapsed = 2 };

    explicit TaskGridModel(DataTable* table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // A task's row is dragged onto another task to become its subtask (onto the empty space
    // below the rows: to the top level). The drop itself only says so (tasksDropped).
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    DataTable* table() const { return m_table; }
    // The columns whose field the table has, in grid order.
    const std::vector<GridColumn>& columns() const { return m_columns; }
    // The stored field a column shows; for a derived column, the field it is worked out from.
    int fieldOfColumn(int column) const {
        return m_fieldOfColumn[static_cast<std::size_t>(column)];
    }
    // The table's derived field a column shows; -1 for a column of a stored field.
    int derivedOfColumn(int column) const {
        return m_derivedOfColumn[static_cast<std::size_t>(column)];
    }
    int columnOfField(const QString& field) const;
    // The field name of a column (a derived column's own name); empty for a column outside the
    // grid or one without a field.
    QString fieldName(int column) const;
    // The column of a computed value (Subtasks), which takes no typing.
    bool isComputedColumn(int column) const {
        return column >= 0 && column < columnCount() && fieldOfColumn(column) < 0;
    }
    FieldKind fieldKind(int column) const;
    bool isDateColumn(int column) const;
    DataTable::RowId rowIdAt(int row) const { return m_table->rowIdAt(row); }
    // Whether the table is between the "about to" and the "done" signal of a change of rows.
    bool isChangingRows() const { return m_changing > 0; }

    // Writes a cell as typed text (the table's text conversions apply). Throws CorvantisError.
    void writeCell(int row, int column, const QString& text);
    // Puts the task of a row into editing, as typing into one of its cells begins.
    void beginCellEdit(int row);

signals:
    // Tasks of this list were dropped onto `onto` (-1: the top level).
    void tasksDropped(const std::vector<DataTable::RowId>& rows, DataTable::RowId onto);

private:
    // The tasks a drag of this list carries; none for another list's drag.
    std::vector<DataTable::RowId> draggedRows(const QMimeData* data) const;
    void rebuildColumns();
    // Makes the task of a row the table's current task; false when it is gone.
    bool goToRowOf(int row);
    const CellLook& lookOf(const QModelIndex& index, bool selected) const;
    // Any change of rows or values: cached looks are stale.
    void changed() { ++m_generation; }

    // A change of layout: the persistent indexes follow their tasks.
    void beginRearrange();
    void endRearrange();

    DataTable* m_table;
    std::vector<GridColumn> m_columns;
    std::vector<DataTable::RowId> m_rearranged; // the tasks of the persistent indexes
    std::vector<int> m_fieldOfColumn;
    std::vector<int> m_derivedOfColumn;
    int m_changing = 0;

    // The look last worked out: a painted cell asks for several roles in a row.
    struct CachedLook {
        quint64 generation = 0;
        int row = -1;
        int column = -1;
        bool selected = false;
        QDate today;
        CellLook look;
    };
    quint64 m_generation = 1;
    mutable CachedLook m_cachedLook;
};
