// Merging two copies of a large list that parted some time ago:
//
//   corvantis_bench_merge [--runs N] [--tasks N] [--changes N]
//
// Generates a list (100,000 tasks by default), reads it into two tables as two machines would
// open one synced file, makes `changes` changes on each (1,000 by default: edits of a few fields,
// adds and deletes, some of the edits to tasks the other side edits too), and measures, as the
// median of the runs, finding the common point and working out the merge (Prepare), making the
// changes (Apply, every conflict kept from this copy) and the two together. The copy merged into
// is read afresh for every run; that reading is not timed.
#include "bench/ListGenerator.h"
#include "bench/Timing.h"
#include "document/ListMerge.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace Timing;

void Read(DataTable& table, const QByteArray& bytes) {
    TaskTable::Configure(table);
    DataPacket::Read(table, bytes);
    table.setIndexName(TaskTable::IndexID);
}

// A user's changes spread over the list; `shared` picks the tasks both copies edit.
void Change(DataTable& table, int changes, quint32 seed, QRandomGenerator& shared) {
    QRandomGenerator random(seed);
    const QStringList statuses = TaskRecord::StatusChoices();
    for (int i = 0; i < changes; ++i) {
        const quint32 pick = random.bounded(20);
        if (pick == 0) {
            table.append();
            TaskTable::ApplyNewRowDefaults(table);
            table.setString(TaskRecord::Task,
                            QStringLiteral("Added on copy %1, #%2").arg(seed).arg(i));
            table.post();
            continue;
        }
        // A fifth of the edits go to tasks the other copy edits too.
        const int count = table.visibleRowCount();
        const int at = pick < 5 ? int(shared.bounded(count)) : int(random.bounded(count));
        table.moveToPosition(at);
        if (pick == 1) {
            table.remove();
            continue;
        }
        table.edit();
        switch (random.bounded(3)) {
        case 0:
            table.setString(TaskRecord::Status, statuses.at(int(random.bounded(statuses.size()))));
            break;
        case 1:
            table.setInteger(TaskRecord::Progress, random.bounded(101));
            break;
        default:
            table.setString(TaskRecord::Comments,
                            QStringLiteral("Comment %1 of copy %2").arg(i).arg(seed));
            break;
        }
        table.post();
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PinLocaleAndClock();
    int runs = 7;
    int tasks = 100000;
    int changes = 1000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QStringLiteral("--tasks"))
            tasks = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--changes"))
            changes = args[i + 1].toInt();
    }

    std::fprintf(stderr, "generating %d tasks...\n", tasks);
    QByteArray common;
    {
        DataTable table;
        ListGenerator::Generate(table, tasks);
        common = DataPacket::Write(table);
    }
    QByteArray mineBytes;
    DataTable theirs;
    {
        DataTable mine;
        Read(mine, common);
        Read(theirs, common);
        QRandomGenerator sharedMine(5), sharedTheirs(5);
        Change(mine, changes, 1, sharedMine);
        Change(theirs, changes, 2, sharedTheirs);
        mineBytes = DataPacket::Write(mine);
    }

    std::vector<double> prepareMs, applyMs, totalMs;
    std::size_t conflicts = 0, planned = 0, versions = 0;
    for (int run = 0; run < runs; ++run) {
        auto mine = std::make_unique<DataTable>();
        Read(*mine, mineBytes);
        ListMerge::Plan plan;
        const double prepare = timedMs(
            [&] { plan = ListMerge::Prepare(*mine, theirs, QStringLiteral("theirs.cv1")); });
        const double apply = timedMs([&] {
            ListMerge::Apply(*mine, plan,
                             MergeChoices(plan.conflicts.size(), MergeConflict::Side::ThisCopy));
        });
        prepareMs.push_back(prepare);
        applyMs.push_back(apply);
        totalMs.push_back(prepare + apply);
        conflicts = plan.conflicts.size();
        planned = plan.changes.size();
        versions = mine->versionCount();
    }
    std::printf("Two copies of %d tasks (%zu row versions after the merge), %d changes on each "
                "since they parted: %zu changes to make here, %zu conflicts\n\n",
                tasks, versions, changes, planned, conflicts);
    std::printf("| Step | ms (median of %d) |\n|---|---:|\n", runs);
    std::printf("| Prepare (common point, plan) | %.1f |\n", median(prepareMs));
    std::printf("| Apply | %.1f |\n", median(applyMs));
    std::printf("| Merge | %.1f |\n", median(totalMs));
    return 0;
}
