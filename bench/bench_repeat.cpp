// Repeating tasks on a large list, against the same list without them (the table alone):
//
//   corvantis_bench_repeat [--runs N] [--tasks N]
//
// Generates the list (100,000 tasks by default) twice from one seed: plain, and with every tenth
// task repeating (a rule in its Properties, a due date). For each, as the median of the runs:
// Open (the file read into a task table, then the ID order), the first sort by Task (collation
// keys made) and by Repeat, the "Overdue" and "Repeating" presets, the reminders' due-date index
// and their look at the reminder time, and Complete on a task (a repeating one moves on).
#include "bench/ListGenerator.h"
#include "bench/Timing.h"
#include "model/DataTable.h"
#include "model/ListViews.h"
#include "model/Recurrence.h"
#include "model/TaskCommands.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "reminders/DueDateIndex.h"
#include "reminders/ReminderPlanner.h"
#include "storage/DataPacket.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

using namespace Timing;

struct Figures {
    std::map<QString, std::vector<double>> ms;
    std::map<QString, QString> notes;
    void time(const QString& what, const std::function<void()>& work) {
        ms[what].push_back(timedMs(work));
    }
};

// Every figure of one list, median of the runs.
Figures Measure(const QString& file, int runs, const QDate& today) {
    Figures f;
    for (int run = 0; run < runs; ++run) {
        DataTable table;
        TaskTable::Configure(table);
        f.time(QStringLiteral("Open: file read, then the ID order"), [&] {
            DataPacket::LoadFromFile(table, file);
            table.setIndexName(TaskTable::IndexID);
        });
        f.time(QStringLiteral("Sort by Task, first time"),
               [&] { ListViews::ApplyOrder(table, ListViews::OrderTask); });
        f.time(QStringLiteral("Sort by Repeat"),
               [&] { ListViews::ApplyOrder(table, ListViews::OrderRepeat); });
        ListViews::ApplyOrder(table, ListViews::OrderID);
        f.time(QStringLiteral("\"Overdue\" preset"),
               [&] { ListViews::ApplyPreset(table, ListViews::ShowOverdue); });
        f.notes[QStringLiteral("\"Overdue\" preset")] =
            QStringLiteral("%1 tasks").arg(table.recordCount());
        f.time(QStringLiteral("\"Repeating\" preset"),
               [&] { ListViews::ApplyPreset(table, ListViews::ShowRepeating); });
        f.notes[QStringLiteral("\"Repeating\" preset")] =
            QStringLiteral("%1 tasks").arg(table.recordCount());
        ListViews::CancelFilter(table);

        std::unique_ptr<DueDateIndex> index;
        f.time(QStringLiteral("Reminders: due-date index built"),
               [&] { index = std::make_unique<DueDateIndex>(&table); });
        f.time(QStringLiteral("Reminders: the look at the reminder time"), [&] {
            ReminderLog log;
            std::vector<ReminderPlanner::DueTask> due =
                ReminderPlanner::DueTasks(*index, log, today);
            f.notes[QStringLiteral("Reminders: the look at the reminder time")] =
                QStringLiteral("%1 due").arg(due.size());
            (void)ReminderPlanner::Notices(table, std::move(due), QStringLiteral("Week"), today);
        });

        // Complete on the last task shown that repeats (a plain list: its last task).
        const int properties = table.fieldIndex(TaskRecord::Properties);
        int at = table.recordCount() - 1;
        for (int i = at; i >= 0; --i)
            if (!Recurrence::ColumnText(table.rowDataAt(i).raw(properties)).isEmpty()) {
                at = i;
                break;
            }
        table.moveToPosition(at);
        f.time(QStringLiteral("Complete on a task (a repeating one moves on)"),
               [&] { TaskCommands::CompleteTask(table, {}); });
    }
    return f;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int runs = 5;
    int tasks = 100000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QStringLiteral("--tasks"))
            tasks = args[i + 1].toInt();
    }
    // The generated history runs from January 2023 for about two years; its last day is today.
    const QDate today(2024, 12, 1);
    PinLocaleAndClock(QDateTime(today, QTime(9, 0)));

    QTemporaryDir folder;
    const QString plain = folder.filePath(QStringLiteral("plain.cv1"));
    const QString repeating = folder.filePath(QStringLiteral("repeating.cv1"));
    for (const auto& [file, every] : {std::pair(plain, 0), std::pair(repeating, 10)}) {
        std::fprintf(stderr, "generating %s...\n", qPrintable(file));
        DataTable generated;
        ListGenerator::Generate(generated, tasks, 1, every);
        DataPacket::SaveToFile(generated, file);
    }
    const Figures a = Measure(plain, runs, today);
    const Figures b = Measure(repeating, runs, today);

    std::printf("%d tasks; with every tenth task repeating (%d), milliseconds, median of %d\n\n",
                tasks, tasks / 10, runs);
    std::printf("| Figure | Plain list | With repeating tasks |\n|---|---:|---:|\n");
    for (const auto& [what, times] : a.ms) {
        const auto note = [&](const Figures& f) {
            const auto it = f.notes.find(what);
            return it == f.notes.end() ? QString() : QStringLiteral(" (") + it->second + u')';
        };
        std::printf("| %s | %.1f%s | %.1f%s |\n", qPrintable(what), median(times),
                    qPrintable(note(a)), median(b.ms.at(what)), qPrintable(note(b)));
    }
    return 0;
}
