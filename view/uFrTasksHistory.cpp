// The list's history from the view: a task's earlier versions and the deleted tasks restored,
// and undo and redo of the latest step.
#include "document/TaskUndo.h"
#include "model/DataTable.h"
#include "view/uFrTasks.h"

void TfrTasks::History1Click() {
    command([&] {
        const TaskUndo::Step step(*m_undo, QStringLiteral("Restore Version"));
        if (!m_services.showHistory || !m_cdsTasks->isActive())
            return;
        // The window shows what is stored: an edit in progress is stored first.
        m_cdsTasks->settle();
        const DataTable::RowId row = m_cdsTasks->currentRow();
        if (m_cdsTasks->currentVersionOf(row) < 0)
            return;
        const std::optional<std::uint32_t> version = m_services.showHistory(*m_cdsTasks, row);
        if (!version)
            return;
        const std::size_t before = m_cdsTasks->versionCount();
        m_cdsTasks->applyChanges({{DataTable::RowChange::Store, row, *version}});
        if (m_cdsTasks->versionCount() != before)
            MarkUnsaved();
    });
}

void TfrTasks::DeletedTasks1Click() {
    command([&] {
        const TaskUndo::Step step(*m_undo, QStringLiteral("Restore Deleted Tasks"));
        if (!m_services.showDeletedTasks || !m_cdsTasks->isActive())
            return;
        m_cdsTasks->settle();
        const std::vector<std::uint32_t> versions = m_services.showDeletedTasks(*m_cdsTasks);
        if (versions.empty())
            return;
        std::vector<DataTable::RowChange> changes;
        for (std::uint32_t version : versions) {
            // A restored task keeps its ID, so its history runs on across the deletion.
            DataTable::RowChange add{DataTable::RowChange::Add, -1, version};
            add.keepId = true;
            changes.push_back(add);
        }
        m_cdsTasks->applyChanges(changes);
        MarkUnsaved();
    });
}

void TfrTasks::replayStep(bool redo) {
    command([&] {
        if (m_cdsTasks->isActive())
            m_document->replayStep(redo);
    });
}

void TfrTasks::Undo1Click() {
    replayStep(false);
}

void TfrTasks::Redo1Click() {
    replayStep(true);
}
