// The outline of the view's list: subtasks made, moved, shown and hidden, each change one step
// of the list's history.
#include "model/DataTable.h"
#include "model/OutlineCommands.h"
#include "model/TaskRecord.h"
#include "view/TaskGrid.h"
#include "view/TaskGridDelegate.h"
#include "view/TaskGridModel.h"
#include "view/uFrTasks.h"
#include "widgets/ErrorBox.h"

#include <QComboBox>
#include <QLineEdit>

void TfrTasks::buildOutline() {
    DBGrid1->setDragEnabled(true);
    DBGrid1->setAcceptDrops(true);
    DBGrid1->setDropIndicatorShown(true);
    DBGrid1->setDragDropMode(QAbstractItemView::DragDrop);
    // A drop lands on a task, never between two.
    DBGrid1->setDragDropOverwriteMode(true);
    DBGrid1->setDefaultDropAction(Qt::MoveAction);
    DBGrid1->cellPressed = [this](const QModelIndex& index, const QPoint& at) {
        return expanderPressed(index, at);
    };
    connect(m_model, &TaskGridModel::tasksDropped, this,
            [this](const std::vector<DataTable::RowId>& rows, DataTable::RowId onto) {
                tasksDropped(rows, onto);
            });
}

bool TfrTasks::expanderPressed(const QModelIndex& index, const QPoint& at) {
    if (!TaskGridDelegate::expanderRect(index, DBGrid1->visualRect(index)).contains(at))
        return false;
    const DataTable::RowId row = m_model->rowIdAt(index.row());
    command([&] { m_cdsTasks->setCollapsed(row, !m_cdsTasks->isCollapsed(row)); });
    return true;
}

void TfrTasks::tasksDropped(const std::vector<DataTable::RowId>& rows, DataTable::RowId onto) {
    command(
        [&] {
            for (const DataTable::RowId row : rows)
                OutlineCommands::MakeSubtaskOf(*m_cdsTasks, row, onto, markUnsaved());
        },
        onto < 0 ? QStringLiteral("Move to Top Level") : QStringLiteral("Make Subtask"));
}

void TfrTasks::editCurrentTask() {
    const int column = m_model->columnOfField(TaskRecord::Task);
    const int row = m_cdsTasks->currentIndex();
    if (column < 0 || row < 0)
        return;
    DBGrid1->setFocus();
    DBGrid1->setCurrentIndex(m_model->index(row, column));
    DBGrid1->editCurrentCell();
}

void TfrTasks::NewSubtask1Click() {
    bool begun = false;
    command([&] { begun = OutlineCommands::BeginSubtask(*m_cdsTasks); },
            QStringLiteral("New Subtask"));
    if (begun)
        editCurrentTask();
}

void TfrTasks::MakeSubtaskOf1Click() {
    command(
        [&] {
            m_cdsTasks->settle();
            const DataTable::RowId row = m_cdsTasks->currentRow();
            if (!m_services.askParent || row < 0 || m_cdsTasks->currentVersionOf(row) < 0)
                return;
            m_cdsTasks->fieldIndexOrThrow(TaskRecord::ParentID);
            if (const std::optional<DataTable::RowId> parent =
                    m_services.askParent(*m_cdsTasks, row))
                OutlineCommands::MakeSubtaskOf(*m_cdsTasks, row, *parent, markUnsaved());
        },
        QStringLiteral("Make Subtask"));
}

void TfrTasks::Indent1Click() {
    command(
        [&] {
            if (!OutlineCommands::Indent(*m_cdsTasks, markUnsaved()))
                ShowNote(QStringLiteral("No task above at the same level to indent under"));
        },
        QStringLiteral("Indent"));
}

void TfrTasks::Outdent1Click() {
    command(
        [&] {
            if (!OutlineCommands::Outdent(*m_cdsTasks, markUnsaved()))
                ShowNote(QStringLiteral("The task is at the top level already"));
        },
        QStringLiteral("Outdent"));
}

void TfrTasks::Expand1Click() {
    command([&] {
        if (const DataTable::RowId row = m_cdsTasks->currentRow(); row >= 0)
            m_cdsTasks->setCollapsed(row, false);
    });
}

void TfrTasks::Collapse1Click() {
    command([&] {
        DataTable::RowId row = m_cdsTasks->currentRow();
        if (row < 0)
            return;
        // On a task without subtasks, its parent folds up.
        if (!m_cdsTasks->outlineOf(row).hasChildren || m_cdsTasks->isCollapsed(row))
            row = m_cdsTasks->parentRowOf(row);
        if (row >= 0)
            m_cdsTasks->setCollapsed(row, true);
    });
}

void TfrTasks::ExpandAll1Click() {
    command([&] { m_cdsTasks->setAllCollapsed(false); });
}

void TfrTasks::CollapseAll1Click() {
    command([&] { m_cdsTasks->setAllCollapsed(true); });
}

void TfrTasks::QuickAddSubtaskClick() {
    command(
        [&] {
            TaskCommands::QuickAddBar bar;
            bar.text = Edit2->text();
            bar.priority = cbPriority->currentText();
            bar.difficulty = cbDifficulty->currentText();
            bar.category = cbCat->currentText();
            const TaskCommands::QuickAddBar after =
                OutlineCommands::QuickAddSubtask(*m_cdsTasks, markUnsaved(), bar);
            if (after.text == bar.text)
                return;
            Edit2->setText(after.text);
            cbPriority->setCurrentIndex(cbPriority->findText(after.priority));
            cbDifficulty->setCurrentIndex(cbDifficulty->findText(after.difficulty));
        },
        QStringLiteral("Add Subtask"));
}
