// The task commands of the view: the state commands, delete, progress, dates, copy, comments
// and details, each on the current task as one step of the list's history.
#include "model/DataTable.h"
#include "model/OutlineCommands.h"
#include "model/TaskCommands.h"
#include "view/uFrTasks.h"
#include "widgets/ErrorBox.h"
#include "widgets/Prompt.h"

#include <QClipboard>
#include <QGuiApplication>

void TfrTasks::actCancelExecute() {
    command([&] { TaskCommands::CancelTask(*m_cdsTasks, markUnsaved()); },
            QStringLiteral("Cancel"));
}

void TfrTasks::actPauseExecute() {
    command([&] { TaskCommands::PauseTask(*m_cdsTasks, markUnsaved()); }, QStringLiteral("Pause"));
}

void TfrTasks::acInProgressExecute() {
    command([&] { TaskCommands::StartTask(*m_cdsTasks, markUnsaved()); }, QStringLiteral("Start"));
}

void TfrTasks::actBookmarkExecute() {
    command([&] { TaskCommands::BookmarkTask(*m_cdsTasks, markUnsaved()); },
            QStringLiteral("Bookmark"));
}

void TfrTasks::ActLastNowExecute() {
    command([&] { TaskCommands::LastActionedNow(*m_cdsTasks, markUnsaved()); },
            QStringLiteral("Last Actioned Now"));
}

void TfrTasks::actDeleteExecute() {
    command(
        [&] {
            OutlineCommands::DeleteTask(
                *m_cdsTasks, markUnsaved(),
                [](const QString& question) { return Prompt::Question(question); },
                [](const QString& question, const QStringList& buttons) {
                    return Prompt::Choose(question, buttons);
                });
        },
        QStringLiteral("Delete"));
}

void TfrTasks::acSetProgressExecute() {
    command(
        [&] {
            if (!m_services.askProgress)
                return;
            const std::optional<int> value =
                m_services.askProgress(TaskCommands::ProgressWindowValue(*m_cdsTasks));
            if (value) // closing the window without a button changes nothing
                TaskCommands::SetProgress(*m_cdsTasks, markUnsaved(), *value);
        },
        QStringLiteral("Progress"));
}

void TfrTasks::actSetDateExecute() {
    command(
        [&] {
            if (m_services.askDate)
                TaskCommands::SetDate(*m_cdsTasks, markUnsaved(), m_services.askDate());
        },
        QStringLiteral("Date"));
}

void TfrTasks::Copy1Click() {
    // Copies what the task holds, not what an open editor shows.
    RunGuarded([&] {
        const std::optional<QString> text = TaskCommands::CopyText(*m_cdsTasks, SelectedField());
        if (text)
            QGuiApplication::clipboard()->setText(*text);
    });
}

void TfrTasks::Comments1Click() {
    command(
        [&] {
            if (!m_services.editComments)
                return;
            m_services.editComments(*m_cdsTasks);
            // Whatever was typed reaches the task, however the window closed.
            if (m_cdsTasks->isEditing())
                m_cdsTasks->post();
        },
        QStringLiteral("Comments"));
}

void TfrTasks::Details1Click() {
    command(
        [&] {
            if (!m_services.showDetails)
                return;
            // Cancel undoes what the window changed, and so the unsaved mark it caused too.
            const DocumentMarks before = documentMarks();
            if (!m_services.showDetails(*m_cdsTasks) && !before.document.unsaved)
                restoreDocumentMarks(before);
        },
        QStringLiteral("Details"));
}
