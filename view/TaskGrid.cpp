#include "view/TaskGrid.h"

#include <QDrag>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>

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

void TaskGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && cellPressed) {
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid() && cellPressed(index, event->position().toPoint())) {
            event->accept();
            return;
        }
    }
    QTableView::mousePressEvent(event);
}

void TaskGrid::startDrag(Qt::DropActions) {
    const QModelIndex index = currentIndex();
    if (!index.isValid() || !model())
        return;
    QMimeData* data = model()->mimeData({index});
    if (!data)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const QRect cell = visualRect(index);
    if (cell.isValid())
        drag->setPixmap(viewport()->grab(cell));
    drag->exec(Qt::MoveAction);
}
