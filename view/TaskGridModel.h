#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

class DataTable;

// One column of the task grid: the field it shows, its title and width (0: the default width).
struct GridColumn {
    QString field;
    QString title;
    int width = 0;
    bool shown = true;
};

// The grid's columns, in order.
const std::vector<GridColumn>& TaskGridColumns();

// The visible rows of a task table as an item model. It follows the table's row-by-row change
// signals, so the view never re-reads the whole list after an edit.
class TaskGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TaskGridModel(DataTable* table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    DataTable* table() const { return m_table; }
    // The columns whose field the table has, in grid order.
    const std::vector<GridColumn>& columns() const { return m_columns; }
    int fieldOfColumn(int column) const {
        return m_fieldOfColumn[static_cast<std::size_t>(column)];
    }
    int columnOfField(const QString& field) const;

private:
    void rebuildColumns();

    DataTable* m_table;
    std::vector<GridColumn> m_columns;
    std::vector<int> m_fieldOfColumn;
};
