// Measures the list file and the table behind a list view on generated lists of 1,000, 10,000
// and 100,000 tasks: load (file to visible rows), write and save against the floors of the
// machine (pugixml's in-place parse of the same file into fresh and into warm memory, a memchr
// pass over it), filtering, sorting, adding many tasks at once, the grid's cell access and the
// peak memory of a load; then the largest list through the real main window, each action in
// fresh processes. Prints medians (and the window's min/median/max) of several runs.
//
//   corvantis_bench [--runs N] [--sizes 1000,10000,100000] [--window-runs N]
//   corvantis_bench --generate TASKS FILE     writes one generated list file
//   corvantis_bench --repeat N FILE [WHAT]    loads FILE N times, or writes or saves it, or
//                                             sorts it by Task (WHAT: load, write, save,
//                                             sort; for profilers)
//   corvantis_bench --peak FILE               (used by the benchmark) loads FILE, prints the
//                                             peak memory the load added, in MB
//   corvantis_bench --window CASE ARGS...     (used by the benchmark) one window action, see
//                                             WindowBench.h

#include "bench/ListGenerator.h"
#include "bench/OutlineBench.h"
#include "bench/Timing.h"
#include "bench/WindowBench.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "storage/Import.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Timing;

// The processor time of this thread, user and system.
double cpuMs() {
    return clockMs(CLOCK_THREAD_CPUTIME_ID);
}

// Wall and processor time of the whole process (helper threads included).
struct Timing {
    double wall = 0;
    double cpu = 0;
};

Timing timed(const std::function<void()>& work) {
    const double wall = clockMs(CLOCK_MONOTONIC);
    const double cpu = clockMs(CLOCK_PROCESS_CPUTIME_ID);
    work();
    return {clockMs(CLOCK_MONOTONIC) - wall, clockMs(CLOCK_PROCESS_CPUTIME_ID) - cpu};
}

double best(const std::vector<double>& times) {
    return *std::min_element(times.begin(), times.end());
}

QString processorModel() {
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly))
        for (const QByteArray& line : cpuinfo.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
    return QStringLiteral("unknown");
}

// pugixml's memory from one region touched before the parse and reused by every parse: the
// parse on warm memory, without the page faults of fresh memory.
class WarmMemory {
public:
    explicit WarmMemory(std::size_t size) : m_size(size) {
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_base = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
        if (m_base)
            std::memset(m_base, 0, size);
        s_current = this;
        pugi::set_memory_management_functions(&allocate, &deallocate);
    }
    ~WarmMemory() {
        pugi::set_memory_management_functions(&std::malloc, &std::free);
        s_current = nullptr;
        if (m_base)
            munmap(m_base, m_size);
    }
    void reset() { m_used = 0; }
    bool overflowed() const { return m_overflowed; }

private:
    static void* allocate(std::size_t size) {
        WarmMemory& self = *s_current;
        const std::size_t aligned = (size + 15) & ~std::size_t(15);
        if (!self.m_base || self.m_used + aligned > self.m_size) {
            self.m_overflowed = true;
            return std::malloc(size);
        }
        void* p = self.m_base + self.m_used;
        self.m_used += aligned;
        return p;
    }
    static void deallocate(void* p) {
        WarmMemory& self = *s_current;
        const auto* c = static_cast<char*>(p);
        if (!self.m_base || c < self.m_base || c >= self.m_base + self.m_size)
            std::free(p);
    }

    static inline WarmMemory* s_current = nullptr;
    char* m_base = nullptr;
    std::size_t m_size = 0;
    std::size_t m_used = 0;
    bool m_overflowed = false;
};

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
    double loadCpuMs = 0, saveCpuMs = 0, pugiWarmMs = 0, memchrMs = 0;
    double presetMs = 0, likeMs = 0, sortColdMs = 0, sortWarmMs = 0, gridUs = 0;
    int presetRows = 0, likeRows = 0;
    // Adding many tasks, the table alone: import of the list's own file, batch insert of
    // 2,000 lines; in the ID order and sorted by Task with a preset filter.
    double importIdMs = 0, importSortedMs = 0, batchIdMs = 0, batchSortedMs = 0;
};

// A list as a view holds it: new rows get the defaults; "sorted" is by Task with only the tasks
// not started shown.
void showAs(DataTable& table, bool sorted) {
    table.setAfterInsert([&table] { TaskTable::ApplyNewRowDefaults(table); });
    table.setIndexName(sorted ? TaskTable::IndexTaskName : TaskTable::IndexID);
    if (sorted) {
        table.setFilter(QStringLiteral("Status = 'Not Started' "));
        table.setFiltered(true);
    }
}

QString batchLines(int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << QStringLiteral("Batch %1 review the budget notes with M\u00fcller").arg(i);
    return lines.join(u'\n');
}

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
        std::vector<double> pugi, loads, loadsCpu, writes, saves, savesCpu;
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
            const Timing loaded = timed([&] { load(*table, fileName); });
            loads.push_back(loaded.wall);
            loadsCpu.push_back(loaded.cpu);
            writes.push_back(timedMs([&] { (void)DataPacket::Write(*table); }));
            const Timing saved = timed([&] { DataPacket::SaveToFile(*table, copy); });
            saves.push_back(saved.wall);
            savesCpu.push_back(saved.cpu);
        }
        r.pugiMs = median(pugi);
        r.loadMs = median(loads);
        r.loadCpuMs = median(loadsCpu);
        r.writeMs = median(writes);
        r.saveMs = median(saves);
        r.saveCpuMs = median(savesCpu);
    }
    // The floors on warm memory, best of the runs: pugixml's parse with its memory touched
    // before and reused, and one memchr pass over the bytes (the least any reader must do).
    {
        std::vector<char> buffer(bytes.constData(), bytes.constData() + bytes.size());
        WarmMemory memory(std::size_t(bytes.size()) * 3 + (std::size_t(64) << 20));
        std::vector<double> pugi, scans;
        std::size_t found = 0;
        for (int i = 0; i < runs + 2; ++i) {
            std::memcpy(buffer.data(), bytes.constData(), buffer.size());
            memory.reset();
            {
                pugi::xml_document doc;
                pugi.push_back(timedMs([&] {
                    if (!doc.load_buffer_inplace(buffer.data(), buffer.size()))
                        std::fprintf(stderr, "pugixml refused the file\n");
                }));
            }
            scans.push_back(timedMs([&] {
                const char* p = bytes.constData();
                const char* end = p + bytes.size();
                while ((p = static_cast<const char*>(std::memchr(p, '<', std::size_t(end - p))))) {
                    ++found;
                    ++p;
                }
            }));
        }
        if (memory.overflowed())
            std::fprintf(stderr, "the warm region was too small for pugixml\n");
        if (found == 0)
            std::fprintf(stderr, "no markup found\n");
        r.pugiWarmMs = best(pugi);
        r.memchrMs = best(scans);
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

    // Adding many tasks to the list at once, the table alone (a view adds the window's part).
    {
        const QString lines = batchLines(2000);
        auto bulk = [&](bool sorted, const std::function<void(DataTable&)>& add) {
            return medianMs(
                std::max(1, runs / 2),
                [&] {
                    fresh = std::make_unique<DataTable>();
                    load(*fresh, fileName);
                    showAs(*fresh, sorted);
                },
                [&] { add(*fresh); });
        };
        auto importOwnFile = [&](DataTable& target) { Import::ImportTasks(target, fileName); };
        auto insertLines = [&](DataTable& target) { Import::BatchInsert(target, lines); };
        r.importIdMs = bulk(false, importOwnFile);
        r.importSortedMs = bulk(true, importOwnFile);
        r.batchIdMs = bulk(false, insertLines);
        r.batchSortedMs = bulk(true, insertLines);
        fresh.reset();
    }

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
    std::printf("\nThe floors (best of the runs, warm memory) and the load and save against them "
                "(milliseconds; processor time of all threads)\n\n");
    std::printf("| Tasks | memchr pass | pugixml, fresh memory (median) | pugixml, warm memory | "
                "Load wall | Load CPU | Load/warm pugixml | Save wall | Save CPU | "
                "Save/warm pugixml |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Result& r : results)
        std::printf("| %d | %.1f | %.1f | %.1f | %.1f | %.1f | %.2f | %.1f | %.1f | %.2f |\n",
                    r.tasks, r.memchrMs, r.pugiMs, r.pugiWarmMs, r.loadMs, r.loadCpuMs,
                    r.loadMs / r.pugiWarmMs, r.saveMs, r.saveCpuMs, r.saveMs / r.pugiWarmMs);
    std::printf("\nThe list view on the loaded list (milliseconds, median)\n\n");
    std::printf("| Tasks | Preset filter ms (rows) | LIKE search ms (rows) | Sort by Task, cold | "
                "Sort by Task, warm | Grid: 50 rows x 25 cells, us |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|\n");
    for (const Result& r : results)
        std::printf("| %d | %.2f (%d) | %.2f (%d) | %.1f | %.1f | %.0f |\n", r.tasks, r.presetMs,
                    r.presetRows, r.likeMs, r.likeRows, r.sortColdMs, r.sortWarmMs, r.gridUs);
    std::printf("\nAdding many tasks, the table alone (milliseconds, median): the list's own file "
                "imported into it, 2,000 lines batch inserted; in the ID order, and sorted by "
                "Task with the tasks not started shown\n\n");
    std::printf("| Tasks | Import, ID order | Import, sorted and filtered | Batch insert, ID "
                "order | Batch insert, sorted and filtered |\n");
    std::printf("|---:|---:|---:|---:|---:|\n");
    for (const Result& r : results)
        std::printf("| %d | %.1f | %.1f | %.1f | %.1f |\n", r.tasks, r.importIdMs, r.importSortedMs,
                    r.batchIdMs, r.batchSortedMs);
}

// The largest list through the real main window, offscreen, each action in `runs` fresh
// processes: min / median / max of the wall time until the grid has painted, and the median
// processor time of all threads. Returns the median wall time of each action by name.
std::map<std::string, double> printWindow(const QString& folder, int largest, int smallest,
                                          int runs) {
    const QString list = folder + QStringLiteral("/list-%1.cv1").arg(largest);
    const QString small = folder + QStringLiteral("/list-%1.cv1").arg(smallest);
    const QString source = folder + QStringLiteral("/source.cv1");
    QFile::remove(source);
    QFile::copy(list, source);
    struct Case {
        QString title;
        QStringList args;
    };
    const QString n = QString::number(largest);
    const QString m = QString::number(smallest);
    const std::vector<Case> cases{
        {QStringLiteral("Start to main window painted"), {QStringLiteral("start")}},
        {QStringLiteral("Start with the list on the command line, until the grid has painted"),
         {QStringLiteral("start"), list}},
        {QStringLiteral("Open, after the file dialog, until the grid has painted"),
         {QStringLiteral("open"), list}},
        {QStringLiteral("Sort by Task the first time"), {QStringLiteral("sort"), list}},
        {QStringLiteral("Import its own file, ID order"),
         {QStringLiteral("import"), list, source, QStringLiteral("id")}},
        {QStringLiteral("Import its own file, sorted by Task and filtered"),
         {QStringLiteral("import"), list, source, QStringLiteral("sorted")}},
        {QStringLiteral("Batch Insert of 2,000 lines, ID order"),
         {QStringLiteral("batch"), list, QStringLiteral("id"), QStringLiteral("2000")}},
        {QStringLiteral("Batch Insert of 2,000 lines, sorted by Task and filtered"),
         {QStringLiteral("batch"), list, QStringLiteral("sorted"), QStringLiteral("2000")}},
        {QStringLiteral("Batch Insert of 2,000 lines into %1 tasks, sorted and filtered").arg(m),
         {QStringLiteral("batch"), small, QStringLiteral("sorted"), QStringLiteral("2000")}},
        {QStringLiteral("Save"), {QStringLiteral("save"), source}},
        {QStringLiteral("Quick add, Complete Task, Delete"), {QStringLiteral("edits"), list}},
        {QStringLiteral("Task History window on a task, until painted"),
         {QStringLiteral("history"), list}},
        {QStringLiteral("Deleted Tasks window, until painted"), {QStringLiteral("deleted"), list}},
    };
    std::map<std::string, double> medians;
    std::printf("\nThrough the main window at %s tasks (offscreen; %d fresh processes each; "
                "milliseconds until the grid has painted)\n\n",
                qPrintable(n), runs);
    std::printf("| Action | Wall min / median / max | CPU median |\n|---|---:|---:|\n");
    for (const Case& c : cases) {
        std::map<std::string, std::vector<double>> walls, cpus;
        std::vector<std::string> order;
        for (int i = 0; i < runs; ++i) {
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            child.setProcessEnvironment(environment);
            const double started = clockMs(CLOCK_MONOTONIC);
            child.start(QCoreApplication::applicationFilePath(),
                        QStringList{QStringLiteral("--window")} + c.args);
            child.waitForFinished(-1);
            for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
                const QList<QByteArray> parts = line.split(' ');
                if (parts.size() < 2)
                    continue;
                std::string name;
                double wall = 0;
                double cpu = 0;
                if (parts[0] == "painted") {
                    name = "start";
                    wall = parts[1].toDouble() - started;
                    cpu = parts.value(2).toDouble();
                } else {
                    name = parts.mid(0, parts.size() - 2).join(' ').toStdString();
                    wall = parts[parts.size() - 2].toDouble();
                    cpu = parts.back().toDouble();
                }
                if (walls[name].empty())
                    order.push_back(name);
                walls[name].push_back(wall);
                cpus[name].push_back(cpu);
            }
        }
        for (const std::string& name : order) {
            std::vector<double> w = walls[name];
            std::sort(w.begin(), w.end());
            const QString title = order.size() > 1 ? QString::fromStdString(name) : c.title;
            std::printf("| %s | %.0f / %.0f / %.0f | %.0f |\n", qPrintable(title), w.front(),
                        median(w), w.back(), median(cpus[name]));
            medians[title.toStdString()] = median(w);
            medians[title.toStdString() + " CPU"] = median(cpus[name]);
        }
        std::fflush(stdout);
    }
    return medians;
}

// The figures of issue-sized lists against their targets, from this one run: Open and the first
// sort through the window against the floors of the machine, the peak memory of a load against
// the file, the history windows.
void printTargets(const Result& r, const std::map<std::string, double>& window) {
    const auto at = [&](const char* name) {
        const auto it = window.find(name);
        return it == window.end() ? -1.0 : it->second;
    };
    const double open = at("Open, after the file dialog, until the grid has painted");
    std::printf("\nAt %d tasks against the floors and the targets (this run; milliseconds)\n\n",
                r.tasks);
    std::printf("| Figure | Value | Target |\n|---|---:|---|\n");
    std::printf("| Open until the grid has painted (median) | %.0f | |\n", open);
    std::printf("| the same / warm pugixml parse (%.1f) | %.2f | at most 1.3 |\n", r.pugiWarmMs,
                open / r.pugiWarmMs);
    std::printf("| the same / fresh pugixml parse (%.1f) | %.2f | |\n", r.pugiMs, open / r.pugiMs);
    std::printf("| the same / memchr pass (%.1f) | %.1f | |\n", r.memchrMs, open / r.memchrMs);
    const double openCpu = at("Open, after the file dialog, until the grid has painted CPU");
    std::printf("| Processor time of that Open, all threads (median) / warm pugixml parse | %.0f "
                "/ %.1f = %.2f | at most 1.1 |\n",
                openCpu, r.pugiWarmMs, openCpu / r.pugiWarmMs);
    const double start = at("Start to main window painted");
    const double startWith =
        at("Start with the list on the command line, until the grid has painted");
    std::printf("| Start with the list on the command line until the grid has painted / start "
                "without a list plus the warm pugixml parse | %.0f / %.0f | at most 1 (%.2f) |\n",
                startWith, start + r.pugiWarmMs, startWith / (start + r.pugiWarmMs));
    std::printf("| First sort by Task through the window | %.0f | under 100 |\n",
                at("Sort by Task the first time"));
    std::printf("| Peak memory of a load / file size (%.0f / %.0f MB) | %.2f | at most 1.5 |\n",
                r.peakMb, r.mb, r.peakMb / r.mb);
    std::printf("| Task History window / Deleted Tasks window | %.0f / %.0f | under 100 |\n",
                at("Task History window on a task, until painted"),
                at("Deleted Tasks window, until painted"));
    std::printf(
        "| Import of its own file, ID order / Batch Insert of 2,000, sorted | %.0f / %.0f | "
        "keep (666, 44-48) |\n",
        at("Import its own file, ID order"),
        at("Batch Insert of 2,000 lines, sorted by Task and filtered"));
}

} // namespace

const char* const Usage =
    "usage: corvantis_bench [--runs N] [--window-runs N] [--sizes 1000,10000,100000]\n"
    "       corvantis_bench --generate TASKS FILE [EVERY]  one generated list file (every\n"
    "                                                EVERY-th task repeating)\n"
    "       corvantis_bench --repeat N FILE [load|write|save|sort]\n"
    "       corvantis_bench --peak FILE              peak memory of loading FILE, in MB\n"
    "       corvantis_bench --window ACTION ...      one case through the window\n"
    "       corvantis_bench --outline TASKS [RUNS]   the list flat and as an outline\n";

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        }
    if (argc > 2 && std::strcmp(argv[1], "--window") == 0) {
        QApplication app(argc, argv);
        return RunWindowCase(app.arguments().mid(2));
    }
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
        // For profilers: loads the file again and again, or writes or saves it, or sorts it by
        // Task the first time.
        const QString what = args.size() == 5 ? args[4] : QStringLiteral("load");
        DataTable loaded;
        if (what != QStringLiteral("load"))
            load(loaded, args[3]);
        const QString copy = args[3] + QStringLiteral(".copy");
        for (int i = 0; i < args[2].toInt(); ++i) {
            DataTable table;
            if (what == QStringLiteral("sort"))
                load(table, args[3]);
            const double cpu = cpuMs();
            const double ms = timedMs([&] {
                if (what == QStringLiteral("write"))
                    (void)DataPacket::Write(loaded);
                else if (what == QStringLiteral("save"))
                    DataPacket::SaveToFile(loaded, copy);
                else if (what == QStringLiteral("sort"))
                    table.setIndexName(TaskTable::IndexTaskName);
                else
                    load(table, args[3]);
            });
            std::fprintf(stderr, "%s %.1f ms, cpu %.1f ms\n", qPrintable(what), ms, cpuMs() - cpu);
        }
        QFile::remove(copy);
        return 0;
    }
    if ((args.size() == 3 || args.size() == 4) && args[1] == QStringLiteral("--outline")) {
        QTemporaryDir folder;
        const int runs = args.size() == 4 ? std::max(1, args[3].toInt()) : 5;
        MeasureOutline(args[2].toInt(), runs, runs, folder.path());
        return 0;
    }
    if ((args.size() == 4 || args.size() == 5) && args[1] == QStringLiteral("--generate")) {
        DataTable table;
        ListGenerator::Generate(table, args[2].toInt(), 1, args.value(4).toInt());
        DataPacket::SaveToFile(table, args[3]);
        return 0;
    }
    int runs = 5;
    int windowRuns = 5;
    std::vector<int> sizes{1000, 10000, 100000};
    for (int i = 1; i < args.size(); i += 2) {
        // A word it does not know, or one without its value, runs nothing.
        if (i + 1 >= args.size()) {
            std::fputs(Usage, stderr);
            return 2;
        }
        if (args[i] == QStringLiteral("--window-runs")) {
            windowRuns = std::max(0, args[i + 1].toInt());
        } else if (args[i] == QStringLiteral("--runs")) {
            runs = std::max(1, args[i + 1].toInt());
        } else if (args[i] == QStringLiteral("--sizes")) {
            sizes.clear();
            for (const QString& s : args[i + 1].split(u','))
                sizes.push_back(s.toInt());
        } else {
            std::fputs(Usage, stderr);
            return 2;
        }
    }

    QTemporaryDir folder;
    std::vector<Result> results;
    for (int tasks : sizes) {
        std::fprintf(stderr, "measuring %d tasks...\n", tasks);
        results.push_back(measure(tasks, runs, folder.path()));
    }
    std::printf("Processor: %s, %u threads\n", qPrintable(processorModel()),
                std::thread::hardware_concurrency());
    print(results);
    if (windowRuns > 0) {
        std::fprintf(stderr, "measuring through the window...\n");
        const auto largest =
            std::max_element(results.begin(), results.end(),
                             [](const Result& a, const Result& b) { return a.tasks < b.tasks; });
        const std::map<std::string, double> window =
            printWindow(folder.path(), largest->tasks,
                        *std::min_element(sizes.begin(), sizes.end()), windowRuns);
        printTargets(*largest, window);
    }
    MeasureOutline(*std::max_element(sizes.begin(), sizes.end()), runs, windowRuns, folder.path());
    return 0;
}
