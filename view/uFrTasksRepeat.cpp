// Tasks that repeat, from the view: Complete telling where the series went, Skip, and the Repeat
// window over the current task.
#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "model/OutlineCommands.h"
#include "model/Recurrence.h"
#include "model/TaskCommands.h"
#include "model/TaskRecord.h"
#include "view/uFrTasks.h"
#include "widgets/Prompt.h"

namespace {

QString WhereItWent(const TaskCommands::Occurrence& occurrence, bool done) {
    if (!occurrence.repeats)
        return QString();
    if (!occurrence.next)
        return QStringLiteral("That was the last time: the series has ended.");
    return (done ? QStringLiteral("Done. ") : QStringLiteral("Skipped. ")) +
           QStringLiteral("Next due on %1.").arg(uGeneral::FormatShortDate(*occurrence.next));
}

} // namespace

void TfrTasks::actCompleteExecute() {
    TaskCommands::Occurrence done;
    const auto complete = [&] {
        // A repeating task moves on to its next date: its subtasks are not its to complete.
        if (CurrentTaskRepeats()) {
            done = TaskCommands::CompleteTask(*m_cdsTasks, markUnsaved());
            return;
        }
        OutlineCommands::CompleteTask(*m_cdsTasks, markUnsaved(), [](const QString& question) {
            switch (Prompt::YesNoCancel(question)) {
            case Prompt::Answer::Yes:
                return OutlineCommands::Answer::Yes;
            case Prompt::Answer::No:
                return OutlineCommands::Answer::No;
            case Prompt::Answer::Cancel:
                break;
            }
            return OutlineCommands::Answer::Cancel;
        });
    };
    if (command(complete, QStringLiteral("Complete")) && done.repeats)
        ShowNote(WhereItWent(done, true));
}

void TfrTasks::SkipOccurrence1Click() {
    TaskCommands::Occurrence skipped;
    if (command([&] { skipped = TaskCommands::SkipOccurrence(*m_cdsTasks, markUnsaved()); },
                QStringLiteral("Skip Occurrence")))
        ShowNote(WhereItWent(skipped, false));
}

bool TfrTasks::CurrentTaskRepeats() const {
    if (!m_cdsTasks->isActive() || m_cdsTasks->currentIndex() < 0 ||
        !m_cdsTasks->hasField(TaskRecord::Properties))
        return false;
    return Recurrence::SeriesOf(m_cdsTasks->asString(TaskRecord::Properties)).has_value();
}

void TfrTasks::Repeat1Click() {
    command(
        [&] {
            if (!m_services.askRepeat || !m_cdsTasks->isActive() || m_cdsTasks->currentIndex() < 0)
                return;
            m_cdsTasks->fieldIndexOrThrow(TaskRecord::Properties);
            const QDate due = m_cdsTasks->hasField(TaskRecord::DueDate)
                                  ? m_cdsTasks->asDate(TaskRecord::DueDate)
                                  : QDate();
            const std::optional<TaskCommands::RepeatSetting> setting =
                m_services.askRepeat(m_cdsTasks->asString(TaskRecord::Properties), due);
            if (setting)
                TaskCommands::SetRepeat(*m_cdsTasks, markUnsaved(), *setting);
        },
        QStringLiteral("Repeat"));
}
