#pragma once

#include <QTableView>

#include <functional>

// The grid of a task-list view: a table view that lets its owner see keys first and hear every
// change of the current cell, and that can finish an open cell editor on request.
class TaskGrid : public QTableView {
    Q_OBJECT
public:
    explicit TaskGrid(QWidget* parent = nullptr);

    // Sees every key pressed while the grid (not its editor) has the focus; true: the key is
    // taken and the grid does nothing more with it.
    std::function<bool(QKeyEvent*)> keyDown;
    // Runs after the grid's own handling whenever the current cell changed.
    std::function<void(const QModelIndex& current, const QModelIndex& previous)> currentMoved;
    // Sees a left-button press on a cell first (the view's expanders); true: taken.
    std::function<bool(const QModelIndex& index, const QPoint& at)> cellPressed;

    bool isEditingCell() const { return state() == QAbstractItemView::EditingState; }
    // The open cell editor (it edits the current cell); nullptr when none is open.
    QWidget* cellEditor() const;
    // Closes the open editor without writing its text (the caller wrote it already).
    void closeCellEditor();
    // Opens the editor of the current cell, as F2 does.
    bool editCurrentCell();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    // Drags the current task's row; what a drop does is the model's (the grid never clears the
    // dragged cells, as a table view would after a move).
    void startDrag(Qt::DropActions supportedActions) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
};
