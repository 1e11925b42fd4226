#include "view/TaskGrid.h"

#include <QKeyEvent>

TaskGrid::TaskGrid(QWidget* parent) : QTableView(parent) {}

QWidget* TaskGrid::cellEditor() const {
    return isEditingCell() ? indexWidget(currentIndex()) : nullptr;
}

void TaskGrid::closeCellEditor() {
    if (QWidget* editor = cellEditor())
        closeEditor(editor, QAbstractItemDelegate::NoHint);
}

bool TaskGrid::editCurrentCell() {
    const QModelIndex index = currentIndex();
    return index.isValid() && edit(index, QAbstractItemView::EditKeyPressed, nullptr);
}

void TaskGrid::keyPressEvent(QKeyEvent* event) {
    if (keyDown && keyDown(event)) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void TaskGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (currentMoved)
        currentMoved(current, previous);
}
