// Tasks that repeat, from the view: Complete telling where the series went, Skip, and the Repeat
// window over the current task.
#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "model/Recurrence.h"
#include "model/TaskCommands.h"
#include "model/TaskRecord.h"
#include "view/uFrTasks.h"

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
    if (command([&] { done = TaskCommands::CompleteTask(*m_cdsTasks, markUnsaved()); },
                QStringLiteral("Complete")) &&
        done.repeats)
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
