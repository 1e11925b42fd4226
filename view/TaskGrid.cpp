#include "view/TaskGrid.h"

#include <QKeyEvent>

TaskGrid::TaskGrid(QWidget* parent) : QTableView(parent) {}

void TaskGrid::finishCellEdit(bool commit) {
    if (!isEditingCell())
        return;
    QWidget* editor = indexWidget(currentIndex());
    if (!editor)
        return;
    if (commit)
        commitData(editor);
    closeEditor(editor,
                commit ? QAbstractItemDelegate::NoHint : QAbstractItemDelegate::RevertModelCache);
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
