// Measures the list file and the table behind a list view on generated lists of 1,000, 10,000
// and 100,000 tasks: load (file to visible rows), write and save, pugixml's in-place parse of
// the same file as the reference floor, filtering, sorting, the grid's cell access and the peak
// memory of a load. Prints medians of several runs.
//
//   corvantis_bench [--runs N] [--sizes 1000,10000,100000]
//   corvantis_bench --generate TASKS FILE     writes one generated list file
//   corvantis_bench --repeat N FILE [WHAT]    loads FILE N times, or writes or saves it
//                                             (WHAT: load, write, save; for profilers)
//   corvantis_bench --peak FILE               (used by the benchmark) loads FILE, prints the
//                                             peak memory the load added, in MB

#include "bench/ListGenerator.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

double timedMs(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// The processor time of this thread, user and system.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double medianMs(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (prepare)
            prepare();
        times.push_back(timedMs(work));
    }
    return median(times);
}

// A value of /proc/self/status in kB.
long statusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    return -1;
}

// Peak resident memory of loading the file and holding the list, in MB above what the process
// held before. Measured in a fresh process, whose heap has no free pages to reuse.
double peakLoadMb(const QString& fileName) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--peak"), fileName});
    child.waitForFinished(-1);
    bool ok = false;
    const double mb = QString::fromLatin1(child.readAllStandardOutput()).trimmed().toDouble(&ok);
    return ok ? mb : -1;
}

// File to visible rows.
void load(DataTable& table, const QString& fileName) {
    TaskTable::Configure(table);
    DataPacket::LoadFromFile(table, fileName);
}

struct Result {
    int tasks = 0;
    qsizetype rows = 0;
    double mb = 0;
    double loadMs = 0, idOrderMs = 0, pugiMs = 0, writeMs = 0, saveMs = 0, peakMb = 0;
    double presetMs = 0, likeMs = 0, sortColdMs = 0, sortWarmMs = 0, gridUs = 0;
    int presetRows = 0, likeRows = 0;
};

Result measure(int tasks, int runs, const QString& folder) {
    Result r;
    r.tasks = tasks;
    const QString fileName = folder + QStringLiteral("/list-%1.cv1").arg(tasks);
    {
        DataTable generated;
        ListGenerator::Generate(generated, tasks);
        DataPacket::SaveToFile(generated, fileName);
        r.rows = qsizetype(generated.versionCount());
    }
    QFile file(fileName);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    r.mb = double(bytes.size()) / 1e6;

    // pugixml, load, write and save take turns in every run, so that whatever else the machine
    // is doing weighs on all of them alike and their ratios stay meaningful.
    {
        std::vector<double> pugi, loads, writes, saves;
        std::vector<char> buffer;
        const QString copy = folder + QStringLiteral("/copy.cv1");
        for (int i = 0; i < runs; ++i) {
            {
                pugi::xml_document doc;
                buffer.assign(bytes.constData(), bytes.constData() + bytes.size());
                pugi.push_back(timedMs([&] {
                    if (!doc.load_buffer_inplace(buffer.data(), buffer.size()))
                        std::fprintf(stderr, "pugixml refused the file\n");
                }));
            }
            auto table = std::make_unique<DataTable>();
            loads.push_back(timedMs([&] { load(*table, fileName); }));
            writes.push_back(timedMs([&] { (void)DataPacket::Write(*table); }));
            saves.push_back(timedMs([&] { DataPacket::SaveToFile(*table, copy); }));
        }
        r.pugiMs = median(pugi);
        r.loadMs = median(loads);
        r.writeMs = median(writes);
        r.saveMs = median(saves);
    }

    DataTable table;
    load(table, fileName);
    // Open then shows the list in ID order.
    r.idOrderMs = medianMs(
        runs, [&] { table.setIndexName(QString()); },
        [&] { table.setIndexName(TaskTable::IndexID); });
    r.peakMb = peakLoadMb(fileName);

    // What a list view does with it.
    const QString preset = QStringLiteral("Status = 'Not Started' ");
    const QString like = QStringLiteral("Task LIKE '%milk%'");
    auto filterBy = [&](const QString& expression, int& rows) {
        return medianMs(
            runs, [&] { table.setFiltered(false); },
            [&] {
                table.setFilter(expression);
                table.setFiltered(true);
                rows = table.recordCount();
            });
    };
    r.presetMs = filterBy(preset, r.presetRows);
    r.likeMs = filterBy(like, r.likeRows);
    table.setFiltered(false);

    std::unique_ptr<DataTable> fresh;
    r.sortColdMs = medianMs(
        std::max(1, runs / 2),
        [&] {
            fresh = std::make_unique<DataTable>();
            load(*fresh, fileName);
        },
        [&] { fresh->setIndexName(TaskTable::IndexTaskName); });
    r.sortWarmMs = medianMs(
        runs, [&] { fresh->setIndexName(TaskTable::IndexID); },
        [&] { fresh->setIndexName(TaskTable::IndexTaskName); });
    fresh.reset();

    // The grid asks for the text of every cell on screen: 50 rows of all 25 fields.
    const int first = std::max(0, table.visibleRowCount() / 2 - 25);
    const int fields = int(table.fields().size());
    constexpr int Screens = 200;
    qsizetype sink = 0;
    r.gridUs = medianMs(runs, nullptr,
                        [&] {
                            for (int s = 0; s < Screens; ++s)
                                for (int row = first;
                                     row < first + 50 && row < table.visibleRowCount(); ++row)
                                    for (int f = 0; f < fields; ++f)
                                        sink += table.displayTextOf(table.rowDataAt(row), f).size();
                        }) *
               1000.0 / Screens;
    if (sink == 0)
        std::fprintf(stderr, "no cell text\n");
    return r;
}

void print(const std::vector<Result>& results) {
    std::printf("\nList files (milliseconds, median of the runs; MB/s of the file)\n\n");
    std::printf("| Tasks | ROW elements | File MB | pugixml parse ms (MB/s) | Load ms (MB/s) | "
                "Load/pugixml | then ID order ms | Write ms | Write/pugixml | Save ms | "
                "Save/pugixml | Peak RSS MB | RSS/file |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Result& r : results)
        std::printf("| %d | %lld | %.1f | %.1f (%.0f) | %.1f (%.0f) | %.2f | %.1f | %.1f | %.2f | "
                    "%.1f | %.2f | %.0f | %.2f |\n",
                    r.tasks, (long long)r.rows, r.mb, r.pugiMs, r.mb / r.pugiMs * 1000, r.loadMs,
                    r.mb / r.loadMs * 1000, r.loadMs / r.pugiMs, r.idOrderMs, r.writeMs,
                    r.writeMs / r.pugiMs, r.saveMs, r.saveMs / r.pugiMs, r.peakMb, r.peakMb / r.mb);
    std::printf("\nThe list view on the loaded list (milliseconds, median)\n\n");
    std::printf("| Tasks | Preset filter ms (rows) | LIKE search ms (rows) | Sort by Task, cold | "
                "Sort by Task, warm | Grid: 50 rows x 25 cells, us |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|\n");
    for (const Result& r : results)
        std::printf("| %d | %.2f (%d) | %.2f (%d) | %.1f | %.1f | %.0f |\n", r.tasks, r.presetMs,
                    r.presetRows, r.likeMs, r.likeRows, r.sortColdMs, r.sortWarmMs, r.gridUs);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PinLocaleAndClock();
    const QStringList args = app.arguments();

    if (args.size() == 3 && args[1] == QStringLiteral("--peak")) {
        const long before = statusKb("VmRSS");
        DataTable table;
        load(table, args[2]);
        std::printf("%.1f\n", double(statusKb("VmHWM") - before) / 1024.0);
        return 0;
    }
    if ((args.size() == 4 || args.size() == 5) && args[1] == QStringLiteral("--repeat")) {
        // For profilers: loads the file again and again, or writes or saves it.
        const QString what = args.size() == 5 ? args[4] : QStringLiteral("load");
        DataTable loaded;
        if (what != QStringLiteral("load"))
            load(loaded, args[3]);
        const QString copy = args[3] + QStringLiteral(".copy");
        for (int i = 0; i < args[2].toInt(); ++i) {
            DataTable table;
            const double cpu = cpuMs();
            const double ms = timedMs([&] {
                if (what == QStringLiteral("write"))
                    (void)DataPacket::Write(loaded);
                else if (what == QStringLiteral("save"))
                    DataPacket::SaveToFile(loaded, copy);
                else
                    load(table, args[3]);
            });
            std::fprintf(stderr, "%s %.1f ms, cpu %.1f ms\n", qPrintable(what), ms, cpuMs() - cpu);
        }
        QFile::remove(copy);
        return 0;
    }
    if (args.size() == 4 && args[1] == QStringLiteral("--generate")) {
        DataTable table;
        ListGenerator::Generate(table, args[2].toInt());
        DataPacket::SaveToFile(table, args[3]);
        return 0;
    }
    int runs = 5;
    std::vector<int> sizes{1000, 10000, 100000};
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--runs")) {
            runs = std::max(1, args[i + 1].toInt());
        } else if (args[i] == QStringLiteral("--sizes")) {
            sizes.clear();
            for (const QString& s : args[i + 1].split(u','))
                sizes.push_back(s.toInt());
        }
    }

    QTemporaryDir folder;
    std::vector<Result> results;
    for (int tasks : sizes) {
        std::fprintf(stderr, "measuring %d tasks...\n", tasks);
        results.push_back(measure(tasks, runs, folder.path()));
    }
    print(results);
    return 0;
}
