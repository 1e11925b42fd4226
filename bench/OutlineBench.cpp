#include "bench/OutlineBench.h"

#include "bench/ListGenerator.h"
#include "bench/Timing.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace {

using namespace Timing;

// The processor time of the process (a load's helper threads too): on a machine that other work
// keeps busy, the wall time of a few milliseconds says more of the others than of the list.
double cpuMedianMs(int runs, const std::function<void()>& prepare,
                   const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (prepare)
            prepare();
        const double start = clockMs(CLOCK_PROCESS_CPUTIME_ID);
        work();
        times.push_back(clockMs(CLOCK_PROCESS_CPUTIME_ID) - start);
    }
    return median(times);
}

void load(DataTable& table, const QString& fileName) {
    TaskTable::Configure(table);
    DataPacket::LoadFromFile(table, fileName);
}

struct Figures {
    double loadMs = 0, idOrderMs = 0, presetMs = 0, likeMs = 0, sortColdMs = 0, sortWarmMs = 0;
    double collapseAllMs = 0, expandAllMs = 0, foldOneMs = 0, editMs = 0;
    int subtasks = 0, deepest = 0, presetRows = 0, likeRows = 0, foldedRows = 0;
    std::map<std::string, double> window; // name: median wall ms
};

// The table alone, as a list view drives it.
Figures measureTable(const QString& fileName, int runs) {
    Figures f;
    std::unique_ptr<DataTable> table;
    f.loadMs = cpuMedianMs(
        runs, [&] { table = std::make_unique<DataTable>(); }, [&] { load(*table, fileName); });
    f.idOrderMs = cpuMedianMs(
        runs, [&] { table->setIndexName(QString()); },
        [&] { table->setIndexName(TaskTable::IndexID); });
    for (const DataTable::RowId row : table->allRows()) {
        if (table->parentRowOf(row) >= 0)
            ++f.subtasks;
        f.deepest = std::max(f.deepest, table->outlineOf(row).depth + 1);
    }
    auto filterBy = [&](const QString& expression, int& rows) {
        return cpuMedianMs(
            runs, [&] { table->setFiltered(false); },
            [&] {
                table->setFilter(expression);
                table->setFiltered(true);
                rows = table->visibleRowCount();
            });
    };
    f.presetMs = filterBy(QStringLiteral("Status = 'Not Started' "), f.presetRows);
    f.likeMs = filterBy(QStringLiteral("Task LIKE '%milk%'"), f.likeRows);
    table->setFiltered(false);
    f.collapseAllMs = cpuMedianMs(
        runs, [&] { table->setAllCollapsed(false); }, [&] { table->setAllCollapsed(true); });
    f.expandAllMs = cpuMedianMs(
        runs, [&] { table->setAllCollapsed(true); }, [&] { table->setAllCollapsed(false); });
    // The task with the most tasks under it, folded and opened.
    DataTable::RowId biggest = -1;
    for (const DataTable::RowId row : table->allRows())
        if (biggest < 0 || table->outlineOf(row).all > table->outlineOf(biggest).all)
            biggest = row;
    f.foldedRows = biggest >= 0 ? table->outlineOf(biggest).all : 0;
    f.foldOneMs = cpuMedianMs(
        runs, [&] { table->setCollapsed(biggest, false); },
        [&] { table->setCollapsed(biggest, true); });
    table->setCollapsed(biggest, false);
    // One edit stored: a task's text, in the middle of the list.
    int n = 0;
    f.editMs = cpuMedianMs(
        runs, [&] { table->moveToPosition(table->visibleRowCount() / 2); },
        [&] {
            table->edit();
            table->setString(TaskRecord::Task, QStringLiteral("edited %1").arg(++n));
            table->post();
        });
    std::unique_ptr<DataTable> fresh;
    f.sortColdMs = cpuMedianMs(
        std::max(1, runs / 2),
        [&] {
            fresh = std::make_unique<DataTable>();
            load(*fresh, fileName);
        },
        [&] { fresh->setIndexName(TaskTable::IndexTaskName); });
    f.sortWarmMs = cpuMedianMs(
        runs, [&] { fresh->setIndexName(TaskTable::IndexID); },
        [&] { fresh->setIndexName(TaskTable::IndexTaskName); });
    return f;
}

// Window cases in fresh processes: the median processor time (of all the process's threads) of
// each line a case prints.
void measureWindow(Figures& f, const QString& fileName, int runs) {
    std::map<std::string, std::vector<double>> walls;
    for (const QString& action :
         {QStringLiteral("open"), QStringLiteral("sort"), QStringLiteral("fold")})
        for (int i = 0; i < runs; ++i) {
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            child.setProcessEnvironment(environment);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--window"), action, fileName});
            child.waitForFinished(-1);
            for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
                const QList<QByteArray> parts = line.split(' ');
                if (parts.size() >= 3)
                    walls[parts.mid(0, parts.size() - 2).join(' ').toStdString()].push_back(
                        parts.back().toDouble());
            }
        }
    for (const auto& [name, times] : walls)
        f.window[name] = median(times);
}

} // namespace

void MeasureOutline(int tasks, int runs, int windowRuns, const QString& folder) {
    Figures figures[2];
    const char* const names[2] = {"flat", "outline"};
    for (int shape = 0; shape < 2; ++shape) {
        const QString fileName =
            folder + QStringLiteral("/%1-%2.cv1").arg(QLatin1String(names[shape])).arg(tasks);
        {
            DataTable generated;
            ListGenerator::Generate(generated, tasks, 1, 0,
                                    shape ? ListGenerator::Shape::Outline
                                          : ListGenerator::Shape::Flat);
            DataPacket::SaveToFile(generated, fileName);
        }
        std::fprintf(stderr, "measuring the %s list of %d tasks...\n", names[shape], tasks);
        figures[shape] = measureTable(fileName, runs);
        if (windowRuns > 0)
            measureWindow(figures[shape], fileName, windowRuns);
    }
    const Figures& flat = figures[0];
    const Figures& outline = figures[1];
    std::printf("\nThe same %d tasks flat and as an outline (%d subtasks, %d levels; "
                "milliseconds of processor time, median of %d runs)\n\n",
                tasks, outline.subtasks, outline.deepest, runs);
    std::printf("| Figure | Flat | Outline |\n|---|---:|---:|\n");
    const auto row = [](const char* name, double a, double b) {
        std::printf("| %s | %.1f | %.1f |\n", name, a, b);
    };
    row("Load, the table alone", flat.loadMs, outline.loadMs);
    row("then ID order", flat.idOrderMs, outline.idOrderMs);
    std::printf("| Preset filter (rows shown) | %.1f (%d) | %.1f (%d) |\n", flat.presetMs,
                flat.presetRows, outline.presetMs, outline.presetRows);
    std::printf("| LIKE search (rows shown) | %.1f (%d) | %.1f (%d) |\n", flat.likeMs,
                flat.likeRows, outline.likeMs, outline.likeRows);
    row("Sort by Task, cold", flat.sortColdMs, outline.sortColdMs);
    row("Sort by Task, warm", flat.sortWarmMs, outline.sortWarmMs);
    row("Collapse All", flat.collapseAllMs, outline.collapseAllMs);
    row("Expand All", flat.expandAllMs, outline.expandAllMs);
    std::printf("| Collapse the task with the most under it (%d) | | %.1f |\n", outline.foldedRows,
                outline.foldOneMs);
    row("One edit stored", flat.editMs, outline.editMs);
    for (const auto& [name, ms] : outline.window) {
        const auto it = flat.window.find(name);
        std::printf("| Through the window: %s, until painted (all threads) | %.0f | %.0f |\n",
                    name.c_str(), it == flat.window.end() ? 0.0 : it->second, ms);
    }
    std::fflush(stdout);
}
