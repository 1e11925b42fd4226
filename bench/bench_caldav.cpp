// The calendar sync against a local Radicale started for the run (as the tests start it):
//
//   corvantis_bench_caldav [--runs N] [--tasks N] [--upload N]
//
// Measures the first upload of a list of `upload` tasks (1,000 by default) into an empty
// calendar, then, on a list of `tasks` tasks (10,000) already synced, the median of the runs of:
// a sync with no change on either side, a sync pushing one task edited here, and a sync pulling
// one task edited on the server by another client.
#include "bench/Timing.h"
#include "support/AwaitCall.h"
#include "support/DavServer.h"
#include "support/TableSyncList.h"
#include "sync/CalDavSync.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace Timing;
using Failure = CalDavClient::Failure;

struct Copy {
    Copy(const QString& name, const QString& folder, const QUrl& calendar)
        : list(name), state(folder + QLatin1Char('/') + name + QStringLiteral(".cv1"),
                            folder + QStringLiteral("/sync-") + name),
          sync(list, state) {
        state.load();
        SyncState::Settings settings;
        settings.calendar = calendar;
        settings.userName = QStringLiteral("test");
        settings.enabled = true;
        state.setSettings(settings);
        sync.setPassword(QStringLiteral("pw"));
    }
    // One sync to its end, then the list saved as a Save would; its wall time.
    double run() {
        Failure failure;
        QEventLoop loop;
        const auto connection = QObject::connect(&sync, &CalDavSync::finished, &loop,
                                                 [&](const Failure& f, const CalDavSync::Summary&) {
                                                     failure = f;
                                                     loop.quit();
                                                 });
        const double ms = timedMs([&] {
            sync.start();
            if (sync.isRunning())
                loop.exec();
        });
        QObject::disconnect(connection);
        list.markSaved();
        sync.listSaved();
        if (failure)
            std::fprintf(stderr, "sync failed: %s\n", qPrintable(failure.message));
        return ms;
    }

    TableSyncList list;
    SyncState state;
    CalDavSync sync;
};

QUrl makeCalendar(const DavServer& dav, const QString& name) {
    CalDavClient client;
    client.setCredentials(QStringLiteral("test"), QStringLiteral("pw"));
    return AwaitCall<Failure, CalDavClient::Calendar>(
               [&](auto done) { client.makeCalendar(dav.home(), name, done); })
        .result.url;
}

void fill(TableSyncList& list, int tasks) {
    for (int i = 0; i < tasks; ++i)
        list.add(QStringLiteral("Task %1 of the bench, with a few words to it").arg(i),
                 i % 3 == 0 ? TaskRecord::High : TaskRecord::Normal,
                 i % 4 == 0 ? QStringLiteral("Details of task %1\non two lines").arg(i)
                            : QString());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int runs = 5;
    int tasks = 10000;
    int upload = 1000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QStringLiteral("--tasks"))
            tasks = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--upload"))
            upload = args[i + 1].toInt();
    }
    if (DavServer::Program(DavServer::Radicale).isEmpty()) {
        std::fprintf(stderr, "radicale is not installed (scripts/setup.sh installs it)\n");
        return 1;
    }
    DavServer dav(DavServer::Radicale);
    if (!dav.isRunning()) {
        std::fprintf(stderr, "radicale did not start: %s\n", qPrintable(dav.error()));
        return 1;
    }
    QTemporaryDir temp;

    Copy first(QStringLiteral("upload"), temp.path(), makeCalendar(dav, QStringLiteral("upload")));
    fill(first.list, upload);
    std::printf("first upload of %d tasks: %.0f ms\n", upload, first.run());

    const QUrl calendar = makeCalendar(dav, QStringLiteral("large"));
    Copy large(QStringLiteral("large"), temp.path(), calendar);
    fill(large.list, tasks);
    std::printf("first upload of %d tasks: %.0f ms\n", tasks, large.run());

    CalDavClient other;
    other.setCredentials(QStringLiteral("test"), QStringLiteral("pw"));
    std::vector<double> idle, pushOne, pullOne;
    for (int run = 0; run < runs; ++run) {
        idle.push_back(large.run());

        const auto row = DataTable::RowId(large.list.tasks()[std::size_t(run)].key);
        large.list.set(row, TaskRecord::Task, QStringLiteral("Edited here %1").arg(run));
        pushOne.push_back(large.run());

        // Another client edits a task on the server.
        const auto task = large.list.tasks()[std::size_t(run + runs)];
        const SyncState::Item* item = large.state.item(task.uid);
        if (!item) {
            std::fprintf(stderr, "task %s was not synced\n", qPrintable(task.uid));
            return 1;
        }
        QByteArray object = item->ics;
        object.replace("SUMMARY:", "SUMMARY:Edited there ");
        const auto put = AwaitCall<Failure, QByteArray>(
            [&](auto done) { other.put(calendar, item->href, object, item->etag, done); });
        if (put.failure)
            std::fprintf(stderr, "edit on the server failed: %s\n",
                         qPrintable(put.failure.message));
        pullOne.push_back(large.run());
    }
    std::printf("%d tasks, no change: %.0f ms (median of %d)\n", tasks, median(idle), runs);
    std::printf("%d tasks, one edited here: %.0f ms\n", tasks, median(pushOne));
    std::printf("%d tasks, one edited on the server: %.0f ms\n", tasks, median(pullOne));
    return 0;
}
