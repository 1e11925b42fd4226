#include "model/TaskCommands.h"
#include "model/TaskHistory.h"
#include "sync/CalDavSync.h"

#include "support/AwaitCall.h"
#include "support/DavServer.h"
#include "support/SyncedDocument.h"

#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace TaskRecord;

// A repeating task synced through Radicale with another program's client (python3-caldav), each
// side completing the series its own way: it stays one task, moved on, and the occurrences done
// stay in its history here.
class TestRepeatSync : public QObject {
    Q_OBJECT

    std::unique_ptr<DavServer> m_dav;
    QTemporaryDir m_temp;
    QUrl m_calendar;
    std::unique_ptr<SyncedDocument> m_copy;
    std::unique_ptr<SyncState> m_state;
    std::unique_ptr<CalDavSync> m_sync;
    DataTable::RowId m_row = -1;
    QDate m_due; // a Monday, this week's or the last

    bool setUp() {
        if (DavServer::Program(DavServer::Radicale).isEmpty())
            return false;
        m_dav = std::make_unique<DavServer>(DavServer::Radicale);
        CalDavClient client;
        client.setCredentials(QStringLiteral("test"), QStringLiteral("pw"));
        m_calendar = AwaitCall<CalDavClient::Failure, CalDavClient::Calendar>([&](auto done) {
                         client.makeCalendar(m_dav->home(), QStringLiteral("Tasks"), done);
                     }).result.url;
        const QString file = m_temp.filePath(QStringLiteral("list.cv1"));
        m_copy = std::make_unique<SyncedDocument>(file);
        m_state = std::make_unique<SyncState>(file, m_temp.filePath(QStringLiteral("sync")));
        m_state->load();
        SyncState::Settings settings;
        settings.calendar = m_calendar;
        settings.userName = QStringLiteral("test");
        settings.enabled = true;
        m_state->setSettings(settings);
        m_sync = std::make_unique<CalDavSync>(m_copy->list, *m_state);
        m_sync->setPassword(QStringLiteral("pw"));

        const QDate today = QDate::currentDate();
        m_due = today.addDays(1 - today.dayOfWeek());
        m_row = m_copy->add(QStringLiteral("water"));
        m_copy->table().goToRow(m_row);
        m_copy->table().edit();
        m_copy->table().setString(Properties, QStringLiteral("RRULE=FREQ=WEEKLY;BYDAY=MO"));
        m_copy->table().setDate(DueDate, m_due);
        m_copy->table().post();
        return m_calendar.isValid() && sync();
    }

    // Runs one sync to its end, then saves the list as a Save would; whether it went through.
    bool sync() {
        bool ok = false, done = false;
        QEventLoop loop;
        const auto connection = connect(m_sync.get(), &CalDavSync::finished, &loop,
                                        [&](const CalDavClient::Failure& failure, auto) {
                                            ok = !failure;
                                            done = true;
                                            loop.quit();
                                        });
        m_sync->start();
        if (!done) {
            QTimer::singleShot(120000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        disconnect(connection);
        m_copy->markSaved();
        m_sync->listSaved();
        return ok;
    }

    QString other(const QStringList& arguments) {
        QProcess client;
        client.start(QStringLiteral("/usr/bin/python3"),
                     QStringList{QStringLiteral(CORVANTIS_TEST_SUPPORT "/caldav-client.py"),
                                 m_calendar.toString(), QStringLiteral("test"),
                                 QStringLiteral("pw")} +
                         arguments);
        if (!client.waitForFinished(60000) || client.exitCode() != 0)
            qWarning("the other client failed: %s", client.readAllStandardError().constData());
        return QString::fromUtf8(client.readAllStandardOutput()).trimmed();
    }

    // The task as it stands here: "Status|DueDate|times done", and how many tasks the list has.
    QString here() {
        const DataTable& table = m_copy->table();
        const RowData& row = table.rowData(m_row);
        const auto done =
            TaskHistory::doneOccurrences(table, TaskHistory::versionsOfRow(table, m_row));
        return QStringLiteral("%1|%2|%3 done|%4 tasks")
            .arg(table.textOf(row, table.fieldIndex(Status)),
                 table.textOf(row, table.fieldIndex(DueDate)))
            .arg(done.size())
            .arg(m_copy->list.tasks().size());
    }
    QString day(int weeks) const {
        return QLocale().toString(m_due.addDays(7 * weeks), QLocale::ShortFormat);
    }

private slots:
    void init() {
        if (!setUp())
            QSKIP("Radicale is not installed (scripts/setup.sh installs it)");
    }
    void cleanup() {
        m_sync.reset();
        m_state.reset();
        m_copy.reset();
        m_dav.reset();
    }

    // Completed here: the same to-do moves on, open; python3-caldav reads it so.
    void completedHere() {
        m_copy->table().goToRow(m_row);
        TaskCommands::CompleteTask(m_copy->table(), [this] { m_copy->document.markUnsaved(); });
        QVERIFY(sync());
        QCOMPARE(other({QStringLiteral("show"), QStringLiteral("water")}),
                 QStringLiteral("1 %1|NEEDS-ACTION|False|0|FREQ=WEEKLY;BYDAY=MO")
                     .arg(m_due.addDays(7).toString(Qt::ISODate)));
        QCOMPARE(here(), QStringLiteral("Not Started|%1|1 done|1 tasks").arg(day(1)));
    }

    // Completed by python3-caldav in either of its modes: a done version here, the series moved
    // on, no second task; more syncs change nothing, and it completes here again.
    void completedElsewhere_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("moved due, a done copy apart") << QStringLiteral("safe");
        QTest::newRow("occurrences in the object") << QStringLiteral("thisandfuture");
    }
    void completedElsewhere() {
        QFETCH(QString, mode);
        QCOMPARE(other({QStringLiteral("complete"), QStringLiteral("water"), mode}), QString());
        QVERIFY(sync());
        QCOMPARE(here(), QStringLiteral("Not Started|%1|1 done|1 tasks").arg(day(1)));
        QVERIFY(sync());
        QCOMPARE(here(), QStringLiteral("Not Started|%1|1 done|1 tasks").arg(day(1)));

        m_copy->table().goToRow(m_row);
        TaskCommands::CompleteTask(m_copy->table(), [this] { m_copy->document.markUnsaved(); });
        QVERIFY(sync());
        QCOMPARE(here(), QStringLiteral("Not Started|%1|2 done|1 tasks").arg(day(2)));
        // python3-caldav's done copy is its own object there, left as it is.
        const QString apart =
            QStringLiteral("1 %1|COMPLETED|True|0|\n").arg(m_due.toString(Qt::ISODate));
        QCOMPARE(other({QStringLiteral("show"), QStringLiteral("water")}),
                 (mode == QLatin1String("safe") ? apart : QString()) +
                     QStringLiteral("1 %1|NEEDS-ACTION|False|0|FREQ=WEEKLY;BYDAY=MO")
                         .arg(m_due.addDays(14).toString(Qt::ISODate)));
    }
};

QTEST_GUILESS_MAIN(TestRepeatSync)
#include "tst_repeatsync.moc"
