// Reminders of due tasks on a large list (the table alone, no notification service):
//
//   corvantis_bench_reminders [--runs N] [--tasks N]
//
// Generates a list (100,000 tasks by default) and measures, as the median of the runs: building
// the due-date index when the list is opened; the look at the reminder time with nothing
// reminded yet (the due tasks found and their notices made), and keeping its log (the reminded
// tasks written to the user's data folder); the same look after a restart the same day (the log
// read back, every due task found quiet); the next day's look; and one stored edit of a due date
// as the index follows it.
#include "bench/ListGenerator.h"
#include "bench/Timing.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "reminders/DueDateIndex.h"
#include "reminders/ReminderPlanner.h"
#include "reminders/ReminderStore.h"
#include "storage/DataPacket.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace Timing;

// The look a list gets at the reminder time: the due tasks, noted in the log, and their notices.
// The wall time and the thread's processor time of one call, in milliseconds: on a busy machine
// the second tells what the work itself costs.
struct Cost {
    std::vector<double> wall, cpu;
    void time(const std::function<void()>& work) {
        const double cpuBefore = clockMs(CLOCK_THREAD_CPUTIME_ID);
        wall.push_back(timedMs(work));
        cpu.push_back(clockMs(CLOCK_THREAD_CPUTIME_ID) - cpuBefore);
    }
    void print(const QString& step) const {
        std::printf("| %s | %.2f | %.2f |\n", qPrintable(step), median(wall), median(cpu));
    }
};

std::size_t look(const DataTable& table, const DueDateIndex& index, ReminderLog& log,
                 const QDate& today) {
    std::vector<ReminderPlanner::DueTask> due = ReminderPlanner::DueTasks(index, log, today);
    const std::size_t count = due.size();
    for (const ReminderPlanner::DueTask& task : due)
        log.markReminded(task.mark, today);
    (void)ReminderPlanner::Notices(table, std::move(due), QStringLiteral("Week plan"), today);
    return count;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int runs = 7;
    int tasks = 100000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QStringLiteral("--tasks"))
            tasks = args[i + 1].toInt();
    }

    // The list as Open reads it from its file: its rows in the table's blocks.
    std::fprintf(stderr, "generating %d tasks...\n", tasks);
    QTemporaryDir folder;
    const QString listFile = folder.filePath(QStringLiteral("Week plan.cv1"));
    {
        DataTable generated;
        ListGenerator::Generate(generated, tasks);
        DataPacket::SaveToFile(generated, listFile);
    }
    DataTable table;
    TaskTable::Configure(table);
    DataPacket::LoadFromFile(table, listFile);
    table.setIndexName(TaskTable::IndexID);
    // The generated history runs from January 2023 for about two years; its last day is today.
    const QDate today(2024, 12, 1);
    PinLocaleAndClock(QDateTime(today, QTime(9, 0)));
    const ReminderStore store(folder.filePath(QStringLiteral("reminders")));

    Cost build, first, keep, restart, nextDay, edit;
    std::size_t indexed = 0, due = 0, quietAfterRestart = 0, dueNextDay = 0;
    for (int run = 0; run < runs; ++run) {
        QFile::remove(store.fileFor(listFile));
        std::unique_ptr<DueDateIndex> index;
        build.time([&] { index = std::make_unique<DueDateIndex>(&table); });
        indexed = std::size_t(index->size());

        ReminderLog log;
        first.time([&] { due = look(table, *index, log, today); });
        keep.time([&] { store.update(listFile, log, today); });

        restart.time([&] {
            ReminderLog again = store.load(listFile);
            quietAfterRestart = due - look(table, *index, again, today);
        });

        ReminderLog yesterday = store.load(listFile);
        nextDay.time([&] { dueNextDay = look(table, *index, yesterday, today.addDays(1)); });

        // One edit of a due date, stored: the index moves that one task.
        const DataTable::RowId row = index->dueBy(today).front().row;
        table.goToRow(row);
        const QDate was = table.asDate(TaskRecord::DueDate);
        table.edit();
        table.setDate(TaskRecord::DueDate, was.addDays(1));
        edit.time([&] { table.post(); });
    }

    std::printf("Reminders on %d tasks (%zu open tasks with a due date, %zu due today)\n\n", tasks,
                indexed, due);
    std::printf("| Step (median of %d) | Wall ms | CPU ms |\n|---|---:|---:|\n", runs);
    build.print(QStringLiteral("Due-date index built (list opened)"));
    first.print(QStringLiteral("Look at the reminder time: %1 due tasks found, noted, notices made")
                    .arg(due));
    keep.print(QStringLiteral("Its log kept (written and synced)"));
    restart.print(QStringLiteral("Restart the same day: log read, %1 of %2 found reminded already")
                      .arg(quietAfterRestart)
                      .arg(due));
    nextDay.print(QStringLiteral("The next day's look: %1 due").arg(dueNextDay));
    edit.print(QStringLiteral("One stored edit of a due date (the post, the index following)"));
    return 0;
}
