// The history windows and undo on a large list, through the real view and windows (offscreen):
//
//   corvantis_bench_history [--runs N] [--tasks N] [--versions N]
//
// Generates a list (100,000 tasks, topped up with edits to 300,000 row versions by default),
// opens it in a task-list view, and measures, as the median of the runs: opening the Task
// History window on a task (versions found, window filled, shown and painted), opening the
// Deleted Tasks window, and undo and redo of a 2,000-task batch insert (the command, then the
// grid painted), in ID order and sorted by Task name.
#include "bench/ListGenerator.h"
#include "bench/Timing.h"
#include "dialogs/uFrmDeletedTasks.h"
#include "dialogs/uFrmHistory.h"
#include "model/DataTable.h"
#include "model/ListViews.h"
#include "model/TaskHistory.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "storage/Import.h"
#include "support/TestSupport.h"
#include "view/uFrTasks.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using namespace Timing;

// Edits random tasks (their Progress) until the list holds `versions` row versions.
void topUp(DataTable& table, std::size_t versions) {
    QRandomGenerator random(7);
    const int progress = table.fieldIndex(TaskRecord::Progress);
    while (table.versionCount() < versions) {
        table.moveToPosition(int(random.bounded(table.visibleRowCount())));
        table.edit();
        table.setInteger(TaskRecord::Progress,
                         (table.currentData().int32(progress) + 1 + int(random.bounded(9))) % 101);
        table.post();
    }
}

void paint(QWidget& widget) {
    QCoreApplication::processEvents();
    (void)widget.grab();
}

QString lines(int count) {
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("Batch task %1 to check\n").arg(i + 1);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PinLocaleAndClock();
    int runs = 7;
    int tasks = 100000;
    std::size_t versions = 300000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QStringLiteral("--tasks"))
            tasks = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--versions"))
            versions = std::size_t(args[i + 1].toLongLong());
    }

    std::fprintf(stderr, "generating %d tasks...\n", tasks);
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("history.cv1"));
    {
        DataTable table;
        ListGenerator::Generate(table, tasks);
        TaskTable::Configure(table);
        table.setIndexName(TaskTable::IndexID);
        topUp(table, versions);
        DataPacket::SaveToFile(table, file);
    }
    TfrTasks view;
    view.resize(1100, 600);
    view.SetCaption(QStringLiteral("history"));
    view.show();
    view.InitList(file, false);
    paint(view);
    DataTable& table = *view.cdsTasks();
    std::printf("List: %d tasks shown, %zu row versions, %zu deleted tasks\n\n",
                table.recordCount(), table.versionCount(), TaskHistory::deletedTasks(table).size());

    TfrmHistory history;
    TfrmDeletedTasks deleted;
    QRandomGenerator random(11);
    std::vector<double> versionsMs, historyMs, deletedListMs, deletedMs;
    std::size_t shownVersions = 0;
    for (int run = 0; run < runs; ++run) {
        const DataTable::RowId row = table.rowIdAt(int(random.bounded(table.visibleRowCount())));
        versionsMs.push_back(timedMs([&] { (void)TaskHistory::versionsOfRow(table, row); }));
        historyMs.push_back(timedMs([&] {
            history.load(table, row);
            history.show();
            paint(history);
        }));
        shownVersions += std::size_t(history.versionCount());
        history.hide();
        deletedListMs.push_back(timedMs([&] { (void)TaskHistory::deletedTasks(table); }));
        deletedMs.push_back(timedMs([&] {
            deleted.load(table);
            deleted.show();
            paint(deleted);
        }));
        deleted.hide();
    }
    std::printf("| Window | Open, shown and painted ms | of which the versions found ms |\n");
    std::printf("|---|---:|---:|\n");
    std::printf("| Task History (%.1f versions a task) | %.1f | %.2f |\n",
                double(shownVersions) / runs, median(historyMs), median(versionsMs));
    std::printf("| Deleted Tasks (%d tasks) | %.1f | %.2f |\n\n", deleted.taskCount(),
                median(deletedMs), median(deletedListMs));

    std::printf("| Order | Batch insert of 2,000 ms | Undo ms | Undo, grid painted ms | Redo ms | "
                "Redo, grid painted ms |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    const QString batch = lines(2000);
    for (const QString& order : {ListViews::OrderID, ListViews::OrderTask}) {
        ListViews::ApplyOrder(table, order);
        paint(view);
        std::vector<double> insertMs, undoMs, undoPaintMs, redoMs, redoPaintMs;
        for (int run = 0; run < runs; ++run) {
            insertMs.push_back(timedMs([&] {
                view.AddTasksInBulk([&](const DataTable::Progress& progress) {
                    return Import::BatchInsert(table, batch, progress);
                });
            }));
            paint(view);
            undoMs.push_back(timedMs([&] { view.Undo1Click(); }));
            undoPaintMs.push_back(undoMs.back() + timedMs([&] { paint(view); }));
            redoMs.push_back(timedMs([&] { view.Redo1Click(); }));
            redoPaintMs.push_back(redoMs.back() + timedMs([&] { paint(view); }));
        }
        std::printf("| %s | %.1f | %.1f | %.1f | %.1f | %.1f |\n", qPrintable(order),
                    median(insertMs), median(undoMs), median(undoPaintMs), median(redoMs),
                    median(redoPaintMs));
    }
    std::printf("\nList afterwards: %d tasks shown, %zu row versions\n", table.recordCount(),
                table.versionCount());
    return 0;
}
