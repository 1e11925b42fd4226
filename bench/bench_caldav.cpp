// The calendar sync against a local Radicale and Xandikos started for the run (as the tests start
// them):
//
//   corvantis_bench_caldav [--runs N] [--tasks N] [--upload N] [--servers radicale,xandikos]
//                          [--upload-runs N] [--parallel N]
//
// Measures the first upload of a list of `upload` tasks (1,000 by default) into an empty
// calendar of each server, beside vdirsyncer's upload of the same tasks (the same objects, one
// .ics file each) into another empty calendar of the same server in the same run, `upload-runs`
// of each (2) taking turns; then, on a
// list of `tasks` tasks (10,000) already synced with Radicale, the median of the runs of: a sync
// with no change on either side, a sync pushing one task edited here, and a sync pulling one task
// edited on the server by another client.
#include "bench/Timing.h"
#include "support/AwaitCall.h"
#include "support/DavServer.h"
#include "support/SyncedDocument.h"
#include "sync/CalDavSync.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

using namespace Timing;
using Failure = CalDavClient::Failure;

struct Copy {
    Copy(const QString& name, const QString& folder, const QUrl& calendar)
        : copy(folder + QLatin1Char('/') + name + QStringLiteral(".cv1")), list(copy.list),
          state(folder + QLatin1Char('/') + name + QStringLiteral(".cv1"),
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
        copy.markSaved();
        sync.listSaved();
        if (failure)
            std::fprintf(stderr, "sync failed: %s\n", qPrintable(failure.message));
        return ms;
    }

    SyncedDocument copy;
    DocumentSync& list;
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

void fill(SyncedDocument& list, int tasks) {
    for (int i = 0; i < tasks; ++i)
        list.add(QStringLiteral("Task %1 of the bench, with a few words to it").arg(i),
                 i % 3 == 0 ? TaskRecord::High : TaskRecord::Normal,
                 i % 4 == 0 ? QStringLiteral("Details of task %1\non two lines").arg(i)
                            : QString());
}

// A calendar of `tasks` to-dos written straight into Radicale's storage folder: a PUT of a new
// object costs Radicale a pass over the whole calendar, so uploading ten thousand one by one
// would take the best part of an hour of the server's time.
QUrl seedCalendar(const DavServer& dav, const QString& name, int tasks) {
    const QString folder = dav.storage() + QStringLiteral("/collection-root/test/") + name;
    QDir().mkpath(folder);
    QFile props(folder + QStringLiteral("/.Radicale.props"));
    props.open(QIODevice::WriteOnly);
    props.write(R"({"C:supported-calendar-component-set": "VTODO", "tag": "VCALENDAR"})");
    for (int i = 0; i < tasks; ++i) {
        QFile item(folder + QStringLiteral("/seed-%1.ics").arg(i));
        item.open(QIODevice::WriteOnly);
        item.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Corvantis bench//EN\r\n"
                   "BEGIN:VTODO\r\nUID:seed-" +
                   QByteArray::number(i) + "\r\nDTSTAMP:20250312T140509Z\r\nSUMMARY:Task " +
                   QByteArray::number(i) +
                   " of the bench, with a few words to it\r\nSTATUS:NEEDS-ACTION\r\nPRIORITY:" +
                   (i % 3 == 0 ? "1" : "5") +
                   "\r\nDUE;VALUE=DATE:20250320\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    }
    return dav.home().resolved(QUrl(name + QLatin1Char('/')));
}

// vdirsyncer's first upload of the objects (Debian's vdirsyncer, a filesystem storage of one .ics
// file an object paired with the calendar): the wall time of its sync, in milliseconds; negative
// when it failed. Its discovery of the calendar runs first and is not timed.
double vdirsyncerUpload(const QUrl& calendar, const QString& folder,
                        const QList<QByteArray>& objects) {
    const QString vdir = folder + QStringLiteral("/vdir/tasks");
    QDir().mkpath(vdir);
    for (int i = 0; i < objects.size(); ++i) {
        QFile file(vdir + QStringLiteral("/task-%1.ics").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return -1;
        file.write(objects[i]);
    }
    const QString config = folder + QStringLiteral("/vdirsyncer.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    file.write(QStringLiteral("[general]\nstatus_path = \"%1/status/\"\n\n[pair p]\n"
                              "a = \"local\"\nb = \"remote\"\ncollections = null\n\n"
                              "[storage local]\ntype = \"filesystem\"\npath = \"%2/\"\n"
                              "fileext = \".ics\"\n\n[storage remote]\ntype = \"caldav\"\n"
                              "url = \"%3\"\nusername = \"test\"\npassword = \"pw\"\n")
                   .arg(folder, vdir, calendar.toString())
                   .toUtf8());
    file.close();
    const auto run = [&](const QString& command) {
        QProcess process;
        // It tells every item it uploads: only a failure is worth reading.
        process.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{QStringLiteral("-c"), config, command};
        if (command == QLatin1String("discover"))
            arguments << QStringLiteral("p");
        process.start(QStringLiteral("vdirsyncer"), arguments);
        const bool ok = process.waitForFinished(-1) &&
                        process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!ok)
            std::fprintf(stderr, "vdirsyncer %s failed: %s\n", qPrintable(command),
                         process.readAll().right(2000).constData());
        return ok;
    };
    if (!run(QStringLiteral("discover")))
        return -1;
    bool ok = false;
    const double ms = timedMs([&] { ok = run(QStringLiteral("sync")); });
    return ok ? ms : -1;
}

// The processor time a process has used so far (user and system), in milliseconds.
double processCpuMs(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = double(fields.value(11).toLongLong() + fields.value(12).toLongLong());
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// Wall time and this program's processor time of one sync, in milliseconds.
struct Timed {
    double wall = 0;
    double cpu = 0;
};
Timed timedRun(Copy& copy) {
    const double cpu = clockMs(CLOCK_PROCESS_CPUTIME_ID);
    const double wall = copy.run();
    return {wall, clockMs(CLOCK_PROCESS_CPUTIME_ID) - cpu};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int runs = 5;
    int tasks = 10000;
    int upload = 1000;
    QStringList servers{QStringLiteral("radicale"), QStringLiteral("xandikos")};
    int parallel = 0; // the sync's own choice
    int uploadRuns = 2;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QStringLiteral("--tasks"))
            tasks = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--upload"))
            upload = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--servers"))
            servers = args[i + 1].split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (args[i] == QStringLiteral("--parallel"))
            parallel = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--upload-runs"))
            uploadRuns = std::max(1, args[i + 1].toInt());
    }
    const bool withVdirsyncer =
        !QStandardPaths::findExecutable(QStringLiteral("vdirsyncer")).isEmpty();
    if (!withVdirsyncer)
        std::fprintf(stderr, "vdirsyncer is not installed: its uploads are left out\n");

    // The first upload to each server, beside vdirsyncer's of the same objects: in the order
    // vdirsyncer, this program, this program, vdirsyncer (and so on for more pairs), each into a
    // new calendar, so that a server warming up or a machine growing busier weighs on both alike.
    std::printf("| Server | First upload of %d tasks: this program (each run) | processor time | "
                "vdirsyncer (each run) | this program / vdirsyncer, mean of the runs | the "
                "server's processor time, this program's upload / vdirsyncer's |\n"
                "|---|---:|---:|---:|---:|---:|\n",
                upload);
    for (const QString& server : servers) {
        const auto kind = DavServer::KindNamed(server);
        if (DavServer::Program(kind).isEmpty()) {
            std::fprintf(stderr, "%s is not installed (scripts/setup.sh installs it)\n",
                         qPrintable(server));
            continue;
        }
        DavServer dav(kind);
        if (!dav.isRunning()) {
            std::fprintf(stderr, "%s did not start: %s\n", qPrintable(server),
                         qPrintable(dav.error()));
            return 1;
        }
        QTemporaryDir temp;
        // The objects vdirsyncer uploads are those this program sends: a first upload of ours
        // makes them, untimed when it is not one of the runs.
        QList<QByteArray> objects;
        std::vector<double> ours, oursCpu, theirs, serverOurs, serverTheirs;
        const auto uploadOurs = [&](int run) {
            Copy copy(QStringLiteral("upload-%1").arg(run), temp.path(),
                      makeCalendar(dav, QStringLiteral("upload-%1").arg(run)));
            fill(copy.copy, upload);
            if (parallel > 0)
                copy.sync.setParallelRequests(parallel);
            const double server = processCpuMs(dav.processId());
            const Timed timed = timedRun(copy);
            if (run >= 0)
                serverOurs.push_back(processCpuMs(dav.processId()) - server);
            if (objects.isEmpty())
                for (auto it = copy.state.items().cbegin(); it != copy.state.items().cend(); ++it)
                    objects << it.value().ics;
            return timed;
        };
        const auto uploadTheirs = [&](int run) {
            if (!withVdirsyncer)
                return;
            if (objects.isEmpty())
                uploadOurs(-1);
            const QString folder = temp.filePath(QStringLiteral("vdirsyncer-%1").arg(run));
            QDir().mkpath(folder);
            const QUrl calendar = makeCalendar(dav, QStringLiteral("vdirsyncer-%1").arg(run));
            const double server = processCpuMs(dav.processId());
            const double ms = vdirsyncerUpload(calendar, folder, objects);
            if (ms > 0) {
                theirs.push_back(ms);
                serverTheirs.push_back(processCpuMs(dav.processId()) - server);
            }
        };
        for (int pair = 0; pair < uploadRuns; ++pair) {
            const bool theirsFirst = pair % 2 == 0;
            if (theirsFirst)
                uploadTheirs(pair);
            const Timed timed = uploadOurs(pair);
            ours.push_back(timed.wall);
            oursCpu.push_back(timed.cpu);
            if (!theirsFirst)
                uploadTheirs(pair);
        }
        const auto seconds = [](const std::vector<double>& runs) {
            QStringList texts;
            for (const double ms : runs)
                texts << QString::number(ms / 1000, 'f', 1);
            return texts.isEmpty() ? QStringLiteral("-") : texts.join(QStringLiteral(", ")) + " s";
        };
        const auto mean = [](const std::vector<double>& runs) {
            double sum = 0;
            for (const double ms : runs)
                sum += ms;
            return runs.empty() ? 0 : sum / double(runs.size());
        };
        std::printf("| %s | %s | %.2f s | %s | %s | %.1f s / %.1f s |\n", qPrintable(server),
                    qPrintable(seconds(ours)), mean(oursCpu) / 1000, qPrintable(seconds(theirs)),
                    theirs.empty() ? "-"
                                   : qPrintable(QString::number(mean(ours) / mean(theirs), 'f', 2)),
                    mean(serverOurs) / 1000, mean(serverTheirs) / 1000);
    }
    if (!servers.contains(QStringLiteral("radicale")) || tasks <= 0)
        return 0;

    DavServer dav(DavServer::Radicale);
    if (!dav.isRunning()) {
        std::fprintf(stderr, "radicale did not start: %s\n", qPrintable(dav.error()));
        return 1;
    }
    QTemporaryDir temp;
    CalDavClient other;
    other.setCredentials(QStringLiteral("test"), QStringLiteral("pw"));
    other.setTimeout(3600000);

    const QUrl calendar = seedCalendar(dav, QStringLiteral("large"), tasks);
    // Radicale reads the objects written behind its back once, on the first listing.
    const double warm = timedMs([&] {
        AwaitCall<Failure, QList<CalDavClient::Member>>(
            [&](auto done) { other.listEtags(calendar, done); }, 3600000);
    });
    std::printf("(Radicale's first reading of %d seeded objects: %.0f ms)\n", tasks, warm);
    Copy large(QStringLiteral("large"), temp.path(), calendar);
    // Radicale works out its first sync report of a calendar this size in silence for minutes.
    large.sync.client().setTimeout(3600000);
    const Timed downloaded = timedRun(large);
    std::printf("first download of %d tasks: %.0f ms (processor time %.0f ms)\n",
                int(large.list.tasks().size()), downloaded.wall, downloaded.cpu);
    timedRun(large); // the calendar's ctag after the download's own report

    std::vector<double> idle, idleCpu, pushOne, pullOne;
    for (int run = 0; run < runs; ++run) {
        const Timed still = timedRun(large);
        idle.push_back(still.wall);
        idleCpu.push_back(still.cpu);

        const auto row = DataTable::RowId(large.list.tasks()[std::size_t(run)].key);
        large.copy.set(row, TaskRecord::Task, QStringLiteral("Edited here %1").arg(run));
        pushOne.push_back(large.run());
        large.run(); // the ctag moved with the push: one report finds nothing new

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
    std::printf("%d tasks, no change: %.0f ms (processor time %.0f ms; median of %d)\n", tasks,
                median(idle), median(idleCpu), runs);
    std::printf("%d tasks, one edited here: %.0f ms\n", tasks, median(pushOne));
    std::printf("%d tasks, one edited on the server: %.0f ms\n", tasks, median(pullOne));
    return 0;
}
