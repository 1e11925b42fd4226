#include "document/DocumentSync.h"
#include "document/ListDocument.h"
#include "document/TaskUndo.h"
#include "model/TaskHistory.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "storage/FileFingerprint.h"
#include "support/AwaitCall.h"
#include "support/DavServer.h"
#include "support/FileBytes.h"
#include "support/TestSupport.h"
#include "sync/CalDavSync.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>
#include <optional>
#include <set>

// Many machines keep copies of one list: a synced folder carries its file between them (with
// the conflict copies such a tool leaves when two copies changed at once), and each syncs it
// with one calendar on a real Radicale. Random sequences of what users and machines do are run,
// and after every step the invariants are checked: no version a file held is lost, no task is
// held twice, every change reaches the others once they meet, and a merge or a sync with nothing
// new changes nothing. A failing sequence is shrunk and kept in tests/data/manymachines/, which
// every later run replays first.
//
// CORVANTIS_MODEL_SECONDS (default 60) bounds the random part; CORVANTIS_MODEL_SEED starts it
// from a given seed; CORVANTIS_MODEL_TRACE prints each step as it runs.

using namespace TaskRecord;
using Side = MergeConflict::Side;

namespace {

// A broken invariant: which, and what was found.
struct Finding {
    QString check;
    QString detail;
};
[[noreturn]] void Fail(const QString& check, const QString& detail = QString()) {
    throw Finding{check, detail};
}

QString TokenOf(const QString& text) {
    return text.section(u' ', 0, 0);
}

// A version's values but its ID (a merge may give a task another one): what "the same version"
// is between copies.
QString VersionText(const DataTable& table, std::size_t version) {
    QStringList values;
    for (int f = 0; f < int(table.fields().size()); ++f)
        if (f != table.autoIncField())
            values << table.textOf(table.versionData(version), f);
    return values.join(u'\x1f');
}
std::set<QString> VersionsOf(const DataTable& table) {
    std::set<QString> versions;
    for (std::size_t v = 0; v < table.versionCount(); ++v)
        versions.insert(VersionText(table, v));
    return versions;
}
std::set<QString> VersionsIn(const QString& file) {
    if (!QFileInfo::exists(file))
        return {};
    DataTable table;
    TaskTable::Configure(table);
    DataPacket::LoadFromFile(table, file);
    return VersionsOf(table);
}
void RequireHeld(const std::set<QString>& in, const std::set<QString>& wanted,
                 const QString& check) {
    for (const QString& version : wanted)
        if (!in.count(version))
            Fail(check, QString(version).replace(u'\x1f', u'|'));
}

// The answer a user gives to one conflict: the same for a conflict whatever the order asked.
Side Answer(quint32 seed, const MergeConflict& conflict) {
    return qHash(QString::number(conflict.taskId) + conflict.task + conflict.field, seed) & 1
               ? Side::OtherCopy
               : Side::ThisCopy;
}
MergeChoices Answers(quint32 seed, const std::vector<MergeConflict>& conflicts) {
    MergeChoices choices;
    for (const MergeConflict& conflict : conflicts)
        choices.push_back(Answer(seed, conflict));
    return choices;
}

// One machine: its copy of the list, open as a document, and the list's sync there.
struct Machine {
    QString name;
    QString folder;
    QString file;
    std::unique_ptr<ListDocument> document;
    std::unique_ptr<DocumentSync> list;
    std::unique_ptr<SyncState> state;
    std::unique_ptr<CalDavSync> sync;
    int base = 0;             // the folder's revision its file last matched
    QByteArray baseBytes;     // its file then
    QStringList merged;       // conflict copies merged since its last save
    QStringList trashable;    // conflict copies merged and saved
    int asked = 0;            // conflicts asked, merges and syncs
    FileFingerprint copyNote; // its file as the recovery copy's note names it

    DataTable& table() const { return *document->table(); }
};

// The world of one sequence: the machines, the synced folder and the calendar.
class World {
public:
    World(const QString& folder, const QUrl& calendar, int machines)
        : m_root(folder), m_calendar(calendar) {
        m_shared = m_root + QStringLiteral("/shared");
        QDir().mkpath(m_shared);
        for (int i = 0; i < machines; ++i) {
            auto machine = std::make_unique<Machine>();
            machine->name = QString(QChar(u'A' + i));
            machine->folder = m_root + u'/' + machine->name;
            machine->file = machine->folder + QStringLiteral("/list.cv1");
            QDir().mkpath(machine->folder);
            m_machines.push_back(std::move(machine));
        }
        // The list starts on A with a few tasks, reaches the folder and the others.
        Machine& a = *m_machines.front();
        ListDocument made;
        made.createNew();
        for (int n = 1; n <= 3; ++n)
            addTask(*made.table(), n);
        made.save(a.file, true);
        for (auto& machine : m_machines) {
            if (machine.get() != &a)
                QFile::copy(a.file, machine->file);
            machine->baseBytes = ReadFileBytes(machine->file);
            start(*machine, QString(), {});
        }
        WriteFileBytes(sharedFile(), a.baseBytes);
        m_persisted = {QStringLiteral("T1"), QStringLiteral("T2"), QStringLiteral("T3")};
    }

    // Runs one step ("verb machine arguments"); a step about a task or a copy that is not there
    // does nothing. Throws Finding.
    void run(const QString& step) {
        if (m_trace)
            qInfo("%s", qPrintable(step));
        const QStringList words = step.split(u' ');
        const QString verb = words.value(0);
        if (verb == u"meet") {
            meet(words.value(1).toUInt());
            return;
        }
        Machine* found = machineNamed(words.value(1));
        if (!found)
            return;
        Machine& m = *found;
        const QString token = QStringLiteral("T") + words.value(2);
        const quint32 seed = words.value(2).toUInt();
        if (verb == u"add")
            addTask(m.table(), words.value(2).toInt());
        else if (verb == u"edit")
            edit(m, token, words.value(3), words.mid(4).join(u' '));
        else if (verb == u"act")
            act(m, token, words.value(3).toInt());
        else if (verb == u"delete")
            remove(m, token);
        else if (verb == u"restore")
            restore(m, token);
        else if (verb == u"undo")
            undo(m);
        else if (verb == u"save")
            save(m, seed);
        else if (verb == u"folder")
            exchange(m);
        else if (verb == u"copy")
            mergeCopy(m, words.value(2).toInt(), words.value(3).toUInt());
        else if (verb == u"trash")
            trash(m);
        else if (verb == u"sync")
            sync(m, seed);
        else if (verb == u"kill")
            kill(m, words.value(2) == u"1", words.value(3) == u"1");
        checkMachines();
    }

private:
    QString sharedFile() const { return m_shared + QStringLiteral("/list.cv1"); }
    Machine* machineNamed(const QString& name) const {
        for (const auto& machine : m_machines)
            if (machine->name == name)
                return machine.get();
        return nullptr;
    }

    // --- a machine starts, and ends --------------------------------------------------------------

    void start(Machine& m, const QString& recovered, const FileFingerprint& original) {
        m.document = std::make_unique<ListDocument>();
        if (recovered.isEmpty())
            m.document->load(m.file);
        else
            m.document->loadRecovered(recovered, m.file, false, original);
        m.list = std::make_unique<DocumentSync>(*m.document);
        m.state = std::make_unique<SyncState>(m.file, m.folder + QStringLiteral("/sync"));
        m.state->load();
        SyncState::Settings settings;
        settings.calendar = m_calendar;
        settings.userName = QStringLiteral("test");
        settings.enabled = true;
        if (m.state->settings() != settings)
            m.state->setSettings(settings);
        m.sync = std::make_unique<CalDavSync>(*m.list, *m.state);
        m.sync->setParallelRequests(1);
    }

    // A crash: what was not saved is gone, unless a recovery copy held it (written just now,
    // or left by an earlier crash and not saved since); a write of the sync state may be cut
    // short.
    void kill(Machine& m, bool recover, bool cut) {
        const QString copy = m.folder + QStringLiteral("/recovery.cv1");
        if (recover && m.document->isUnsaved()) {
            DataPacket::SaveCopyToFile(m.table(), copy);
            m.copyNote = m.document->fileOnDisk(); // what the copy's note says of the file
            persistLive(m);
        }
        const std::set<QString> kept = VersionsIn(copy);
        m.sync.reset();
        m.list.reset();
        const QString stateFile = m.state->stateFile();
        m.state.reset();
        m.document.reset();
        if (cut && QFileInfo::exists(stateFile)) {
            QFile file(stateFile);
            if (file.open(QIODevice::Append))
                file.write("I dGFzaw== L3Rh");
        }
        start(m, QFileInfo::exists(copy) ? copy : QString(), m.copyNote);
        RequireHeld(VersionsOf(m.table()), kept,
                    QStringLiteral("a recovered list lacks a version of its copy"));
    }

    // --- what a user does ------------------------------------------------------------------------

    static void addTask(DataTable& table, int n) {
        table.append();
        table.setString(Task, QStringLiteral("T%1").arg(n));
        table.post();
    }
    static DataTable::RowId rowOf(const Machine& m, const QString& token) {
        const DataTable& table = m.table();
        const int task = table.fieldIndex(Task);
        for (const DataTable::RowId row : table.allRows())
            if (TokenOf(table.textOf(table.rowData(row), task)) == token)
                return row;
        return -1;
    }
    void edit(Machine& m, const QString& token, const QString& field, QString value) {
        const DataTable::RowId row = rowOf(m, token);
        if (row < 0)
            return;
        value.replace(QStringLiteral("\\n"), QStringLiteral("\r\n"));
        if (field == Task)
            value = token + u' ' + value;
        const TaskUndo::Step step(*m.document->undo());
        m.table().goToRow(row);
        m.table().edit();
        if (field == DueDate)
            m.table().setDate(field, QDate(2025, 4, value.toInt()));
        else
            m.table().setString(field, value);
        m.table().post();
    }
    // A command of the task tool bar: it stamps the day it was used on.
    void act(Machine& m, const QString& token, int day) {
        const DataTable::RowId row = rowOf(m, token);
        if (row < 0)
            return;
        const TaskUndo::Step step(*m.document->undo());
        m.table().goToRow(row);
        m.table().edit();
        m.table().setString(Status, day % 2 ? InProgress : Complete);
        m.table().setInteger(Progress, day % 2 ? 50 : 100);
        m.table().setDate(LastActioned, QDate(2025, 3, day));
        m.table().post();
    }
    void remove(Machine& m, const QString& token) {
        const DataTable::RowId row = rowOf(m, token);
        if (row < 0)
            return;
        const TaskUndo::Step step(*m.document->undo());
        m.table().goToRow(row);
        m.table().remove();
        m.document->markUnsaved();
        m_deleted.insert(token);
    }
    // Show deleted tasks: the task back under its own ID.
    void restore(Machine& m, const QString& token) {
        if (rowOf(m, token) >= 0)
            return;
        const int task = m.table().fieldIndex(Task);
        for (const TaskHistory::Version& deleted : TaskHistory::deletedTasks(m.table())) {
            if (TokenOf(m.table().textOf(m.table().versionData(deleted.version), task)) != token)
                continue;
            const TaskUndo::Step step(*m.document->undo(), QStringLiteral("Restore Deleted Tasks"));
            DataTable::RowChange add;
            add.kind = DataTable::RowChange::Add;
            add.version = deleted.version;
            add.keepId = true;
            m.table().applyChanges({add});
            m.document->markUnsaved();
            return;
        }
    }
    void undo(Machine& m) {
        if (!m.document->undo()->canUndo())
            return;
        const std::set<QString> before = liveTokens(m);
        m.document->undo()->undo();
        m.document->markUnsaved();
        for (const QString& token : before)
            if (!liveTokens(m).count(token))
                m_deleted.insert(token);
    }

    // --- merges and saves
    // --------------------------------------------------------------------------

    void merge(Machine& m, const QString& file, quint32 seed) {
        const std::set<QString> before = VersionsOf(m.table());
        const ListDocument::PreparedMerge prepared = m.document->prepareMerge(file);
        m.asked += int(prepared.plan.conflicts.size());
        m.document->applyMerge(prepared, Answers(seed, prepared.plan.conflicts));
        const std::set<QString> after = VersionsOf(m.table());
        RequireHeld(after, before, QStringLiteral("a merge lost a version of the list"));
        RequireHeld(after, VersionsIn(file), QStringLiteral("a merge lost a version of the copy"));
        // The same copy again: nothing new, nothing asked.
        const ListDocument::PreparedMerge again = m.document->prepareMerge(file);
        if (!again.plan.isEmpty() || !again.plan.conflicts.empty())
            Fail(QStringLiteral("a copy merged again changes something"),
                 QStringLiteral("%1 changes, %2 conflicts")
                     .arg(again.plan.changes.size())
                     .arg(again.plan.conflicts.size()));
    }

    // The Save question over a file changed on disk, answered Merge.
    void save(Machine& m, quint32 seed) {
        for (int round = 0; m.document->changedOnDisk(m.file); ++round) {
            if (round == 3)
                Fail(QStringLiteral("a merge of the list's own file does not take"));
            merge(m, m.file, seed);
        }
        const std::set<QString> before = VersionsIn(m.file);
        try {
            m.document->save(m.file, true);
        } catch (const CorvantisError& error) {
            Fail(QStringLiteral("a save failed"), error.message());
        }
        QFile::remove(m.folder + QStringLiteral("/recovery.cv1")); // a saved list needs none
        const QString problem = m.sync->listSaved();
        if (!problem.isEmpty())
            Fail(QStringLiteral("the sync state was not written"), problem);
        RequireHeld(VersionsIn(m.file), before,
                    QStringLiteral("a save lost a version of its file"));
        persistLive(m);
        m.trashable += m.merged;
        m.merged.clear();
    }

    // The synced folder: a file changed here goes up, or becomes a conflict copy when the folder's
    // changed too; else the folder's comes down.
    void exchange(Machine& m) {
        const QByteArray here = ReadFileBytes(m.file);
        const QString shared = sharedFile();
        if (here != m.baseBytes) {
            if (m.base == m_revision) {
                const std::set<QString> before = VersionsIn(shared);
                WriteFileBytes(shared, here);
                RequireHeld(VersionsIn(shared), before,
                            QStringLiteral("the folder's file lost a version"));
                m.base = ++m_revision;
                m.baseBytes = here;
                return;
            }
            const QString copy =
                m_shared + QStringLiteral("/list.sync-conflict-%1.cv1").arg(++m_copyNames);
            WriteFileBytes(copy, here);
            m_copies.push_back(copy);
        } else if (m.base == m_revision) {
            return;
        }
        const std::set<QString> before = VersionsIn(m.file);
        const QByteArray bytes = ReadFileBytes(shared);
        if (!WriteFileBytes(m.file + QStringLiteral(".part"), bytes) || !QFile::remove(m.file) ||
            !QFile::rename(m.file + QStringLiteral(".part"), m.file))
            Fail(QStringLiteral("the folder could not write"), m.file);
        if (here == m.baseBytes)
            RequireHeld(VersionsIn(m.file), before, QStringLiteral("a file came down with less"));
        m.base = m_revision;
        m.baseBytes = bytes;
        takeChange(m);
    }

    // What the program does with its list when another program changed the file.
    void takeChange(Machine& m) {
        if (!m.document->changedOnDisk(m.file))
            return;
        if (!m.document->isUnsaved()) {
            m.document->reload();
            if (m.table().heldVersionCount() != m.table().versionCount() ||
                VersionsOf(m.table()) != VersionsIn(m.file))
                Fail(QStringLiteral("a list read again is not its file"));
            return;
        }
        const ListDocument::PreparedMerge prepared = m.document->prepareMerge(m.file);
        if (prepared.plan.conflicts.empty())
            merge(m, m.file, 0);
        // else the bar above the grid offers the merge; the next save asks.
    }

    void mergeCopy(Machine& m, int index, quint32 seed) {
        if (index < 0 || index >= int(m_copies.size()))
            return;
        merge(m, m_copies[std::size_t(index)], seed);
        m.merged << m_copies[std::size_t(index)];
    }

    // Move to Trash, offered once the merged list is saved.
    void trash(Machine& m) {
        for (const QString& copy : std::exchange(m.trashable, {})) {
            if (!m_copies.contains(copy))
                continue;
            RequireHeld(VersionsIn(m.file), VersionsIn(copy),
                        QStringLiteral("a conflict copy went to the trash with versions the list "
                                       "lacks"));
            QFile::remove(copy);
            m_copies.removeAll(copy);
            for (auto& other : m_machines) {
                other->merged.removeAll(copy);
                other->trashable.removeAll(copy);
            }
        }
    }

    // --- the calendar ----------------------------------------------------------------------------

    CalDavSync::Summary sync(Machine& m, quint32 seed) {
        int asked = 0;
        m.sync->setAsk([seed, &asked](const std::vector<MergeConflict>& conflicts, auto answer) {
            asked += int(conflicts.size());
            answer(Answers(seed, conflicts));
        });
        CalDavSync::Summary summary;
        std::optional<CalDavClient::Failure> failure;
        QEventLoop loop;
        const auto connection = QObject::connect(
            m.sync.get(), &CalDavSync::finished, &loop,
            [&](const CalDavClient::Failure& failed, const CalDavSync::Summary& done) {
                failure = failed;
                summary = done;
                loop.quit();
            });
        m.sync->start();
        if (!failure) {
            QTimer::singleShot(120000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        QObject::disconnect(connection);
        m.asked += asked;
        if (m_trace)
            qInfo("  %s synced: %d added, %d edited, %d deleted here; %d sent, %d removed there; "
                  "%d asked",
                  qPrintable(m.name), summary.added, summary.edited, summary.deleted,
                  summary.pushed, summary.removed, asked);
        if (!failure || *failure)
            Fail(QStringLiteral("a sync failed"),
                 failure ? failure->message : QStringLiteral("no end"));
        persistLive(m);
        serverTasks(); // checks that no task is held twice
        return summary;
    }

    // Token -> the values of each task on the server, as this program reads them.
    std::map<QString, QStringList> serverTasks() {
        CalDavClient client;
        client.setCredentials(QStringLiteral("test"), QStringLiteral("pw"));
        const auto listed = AwaitCall<CalDavClient::Failure, QList<CalDavClient::Member>>(
            [&](auto done) { client.listEtags(m_calendar, done); });
        if (listed.failure)
            Fail(QStringLiteral("the server cannot be listed"), listed.failure.message);
        QStringList hrefs;
        for (const CalDavClient::Member& member : listed.result)
            hrefs << member.href;
        std::map<QString, QStringList> tasks;
        if (hrefs.isEmpty())
            return tasks;
        const auto fetched = AwaitCall<CalDavClient::Failure, CalDavClient::Fetched>(
            [&](auto done) { client.multiget(m_calendar, hrefs, done); });
        for (const CalDavClient::Resource& resource : fetched.result.resources) {
            QString uid;
            SyncedList::Values values;
            if (!m_machines.front()->list->read(resource.data, uid, values))
                continue;
            const QString token = TokenOf(values.value(0));
            if (tasks.count(token))
                Fail(QStringLiteral("the server holds a task twice"), token);
            tasks[token] = values;
        }
        return tasks;
    }

    // Token -> the values of each task of a machine's list, as the server would hold them.
    std::map<QString, QStringList> machineTasks(Machine& m) {
        std::map<QString, QStringList> tasks;
        for (const SyncedList::Task& task : m.list->tasks()) {
            QString uid;
            SyncedList::Values values;
            if (!m.list->read(m.list->write(QByteArray(), task.key, task.uid), uid, values))
                values = task.values;
            tasks[TokenOf(task.text)] = values;
        }
        return tasks;
    }

    // --- invariants -----------------------------------------------------------------------------

    std::set<QString> liveTokens(const Machine& m) const {
        std::set<QString> tokens;
        const int task = m.table().fieldIndex(Task);
        for (const DataTable::RowId row : m.table().allRows())
            tokens.insert(TokenOf(m.table().textOf(m.table().rowData(row), task)));
        return tokens;
    }
    void persistLive(const Machine& m) {
        for (const QString& token : liveTokens(m))
            m_persisted.insert(token);
    }

    void checkMachines() const {
        for (const auto& machine : m_machines) {
            const DataTable& table = machine->table();
            if (table.heldVersionCount() != table.versionCount())
                Fail(QStringLiteral("a list holds a version without its values"), machine->name);
            std::set<QString> seen;
            const int task = table.fieldIndex(Task);
            for (const DataTable::RowId row : table.allRows())
                if (!seen.insert(TokenOf(table.textOf(table.rowData(row), task))).second)
                    Fail(QStringLiteral("a list holds a task twice"),
                         machine->name + u' ' + table.textOf(table.rowData(row), task));
        }
    }

    // Everybody saves, exchanges, merges every conflict copy and syncs until nothing moves; then
    // every copy and the calendar hold the same tasks, and one more round changes nothing.
    void meet(quint32 seed) {
        bool settled = false;
        for (int round = 0; round < 8 && !settled; ++round)
            settled = meetingRound(seed + quint32(round));
        if (!settled)
            Fail(QStringLiteral("the machines do not come to agree"));
        if (!m_copies.isEmpty())
            Fail(QStringLiteral("conflict copies are left after meeting"));
        const std::map<QString, QStringList> server = serverTasks();
        for (const auto& machine : m_machines) {
            if (machineTasks(*machine) != server)
                Fail(QStringLiteral("a copy differs from the calendar after meeting"),
                     describe(machineTasks(*machine), server));
            for (const QString& token : m_persisted)
                if (!m_deleted.count(token) && !server.count(token))
                    Fail(QStringLiteral("a task nobody deleted is gone"), token);
        }
        // Nothing new: nothing changes, nothing is asked.
        for (const auto& machine : m_machines) {
            const std::size_t versions = machine->table().versionCount();
            const int asked = machine->asked;
            const CalDavSync::Summary summary = sync(*machine, seed);
            if (machine->table().versionCount() != versions || machine->asked != asked ||
                summary.pushed + summary.removed + summary.added + summary.edited +
                        summary.deleted !=
                    0)
                Fail(QStringLiteral("a sync with nothing new changes something"), machine->name);
        }
    }
    bool meetingRound(quint32 seed) {
        const int revision = m_revision;
        const int copies = m_copyNames;
        std::vector<std::size_t> versions;
        for (const auto& machine : m_machines)
            versions.push_back(machine->table().versionCount());
        for (const auto& machine : m_machines) {
            Machine& m = *machine;
            save(m, seed);
            exchange(m);
            for (int k = int(m_copies.size()); k-- > 0;)
                mergeCopy(m, k, seed);
            sync(m, seed);
            save(m, seed);
            exchange(m);
            trash(m);
        }
        for (const auto& machine : m_machines)
            exchange(*machine);
        bool still = m_revision == revision && m_copyNames == copies;
        for (std::size_t i = 0; i < m_machines.size(); ++i)
            still = still && m_machines[i]->table().versionCount() == versions[i] &&
                    !m_machines[i]->document->isUnsaved();
        return still;
    }
    static QString describe(const std::map<QString, QStringList>& mine,
                            const std::map<QString, QStringList>& server) {
        QStringList lines;
        for (const auto& [token, values] : mine)
            if (!server.count(token) || server.at(token) != values)
                lines << QStringLiteral("here %1: %2").arg(token, values.join(u'|'));
        for (const auto& [token, values] : server)
            if (!mine.count(token) || mine.at(token) != values)
                lines << QStringLiteral("server %1: %2").arg(token, values.join(u'|'));
        return lines.join(u'\n');
    }

    const bool m_trace = qEnvironmentVariableIsSet("CORVANTIS_MODEL_TRACE");
    QString m_root;
    QString m_shared;
    QUrl m_calendar;
    std::vector<std::unique_ptr<Machine>> m_machines;
    int m_revision = 0;
    int m_copyNames = 0;
    QStringList m_copies;
    std::set<QString> m_persisted; // tasks a file, a recovery copy or the calendar held
    std::set<QString> m_deleted;   // tasks a user deleted somewhere
};

// A random sequence of steps over 2 or 3 machines.
QStringList RandomSequence(quint32 seed) {
    QRandomGenerator random(seed);
    const int machines = 2 + int(random.bounded(2));
    const auto machine = [&] { return QString(QChar(u'A' + int(random.bounded(machines)))); };
    int next = 4;
    const auto task = [&] { return QString::number(1 + random.bounded(next - 1)); };
    static const QStringList words{"call", "buy", "fix ", " plan", "write  "};
    static const QStringList priorities{"Low", "Normal", "High", "Urgent"};
    QStringList steps{QStringLiteral("machines %1").arg(machines)};
    const int length = 30 + int(random.bounded(90));
    for (int i = 0; i < length; ++i) {
        const quint32 pick = random.bounded(100);
        const QString m = machine();
        const QString seedText = QString::number(random.bounded(1000));
        if (pick < 10)
            steps << QStringLiteral("add %1 %2").arg(m).arg(next++);
        else if (pick < 16)
            steps << QStringLiteral("edit %1 %2 Task %3")
                         .arg(m, task(), words.at(int(random.bounded(words.size()))));
        else if (pick < 22)
            steps << QStringLiteral("edit %1 %2 Priority %3")
                         .arg(m, task(), priorities.at(int(random.bounded(4))));
        else if (pick < 26)
            steps
                << QStringLiteral("edit %1 %2 Details line %3 \\nsecond").arg(m, task(), seedText);
        else if (pick < 27)
            steps << QStringLiteral("edit %1 %2 Comments %3")
                         .arg(m, task(), random.bounded(2) ? seedText : QString());
        else if (pick < 29)
            steps << QStringLiteral("edit %1 %2 DueDate %3")
                         .arg(m, task())
                         .arg(1 + random.bounded(28));
        else if (pick < 35)
            steps << QStringLiteral("act %1 %2 %3").arg(m, task()).arg(10 + random.bounded(10));
        else if (pick < 40)
            steps << QStringLiteral("delete %1 %2").arg(m, task());
        else if (pick < 42)
            steps << QStringLiteral("restore %1 %2").arg(m, task());
        else if (pick < 45)
            steps << QStringLiteral("undo %1").arg(m);
        else if (pick < 57)
            steps << QStringLiteral("save %1 %2").arg(m, seedText);
        else if (pick < 70)
            steps << QStringLiteral("folder %1").arg(m);
        else if (pick < 76)
            steps << QStringLiteral("copy %1 %2 %3").arg(m).arg(random.bounded(3)).arg(seedText);
        else if (pick < 78)
            steps << QStringLiteral("trash %1").arg(m);
        else if (pick < 90)
            steps << QStringLiteral("sync %1 %2").arg(m, seedText);
        else if (pick < 97)
            steps << QStringLiteral("kill %1 %2 %3")
                         .arg(m)
                         .arg(random.bounded(2))
                         .arg(random.bounded(2));
        else
            steps << QStringLiteral("meet %1").arg(seedText);
    }
    steps << QStringLiteral("meet 1");
    return steps;
}

int ModelSeconds() {
    return qEnvironmentVariableIsSet("CORVANTIS_MODEL_SECONDS")
               ? qEnvironmentVariableIntValue("CORVANTIS_MODEL_SECONDS")
               : 60;
}

QString RegressionFolder() {
    return QStringLiteral(CORVANTIS_TEST_DATA "/manymachines");
}

} // namespace

class TestManyMachines : public QObject {
    Q_OBJECT

    std::unique_ptr<DavServer> m_dav;
    int m_calendars = 0;

    QUrl newCalendar() {
        CalDavClient client;
        client.setCredentials(QStringLiteral("test"), QStringLiteral("pw"));
        return AwaitCall<CalDavClient::Failure, CalDavClient::Calendar>([&](auto done) {
                   client.makeCalendar(m_dav->home(), QStringLiteral("Tasks %1").arg(++m_calendars),
                                       done);
               })
            .result.url;
    }

    // Runs a sequence from the start; the finding, or none.
    std::optional<Finding> play(const QStringList& steps, int* failedAt = nullptr) {
        QTemporaryDir folder;
        const int machines =
            steps.value(0).startsWith(u"machines ") ? steps.value(0).section(u' ', 1).toInt() : 3;
        try {
            World world(folder.path(), newCalendar(), qBound(2, machines, 3));
            for (int i = 0; i < steps.size(); ++i) {
                if (failedAt)
                    *failedAt = i;
                if (!steps[i].startsWith(u"machines") && !steps[i].startsWith(u'#'))
                    world.run(steps[i]);
            }
        } catch (const Finding& finding) {
            return finding;
        } catch (const CorvantisError& error) {
            return Finding{QStringLiteral("an error"), error.message()};
        }
        return std::nullopt;
    }

    // The shortest sequence found that fails the same check: chunks, then single steps, left out.
    QStringList shrink(QStringList steps, const QString& check, int budgetSeconds) {
        QElapsedTimer spent;
        spent.start();
        const auto stillFails = [&](const QStringList& candidate) {
            const std::optional<Finding> finding = play(candidate);
            return finding && finding->check == check;
        };
        for (int chunk = int(steps.size()) / 2; chunk >= 1; chunk /= 2) {
            for (int at = 1;
                 at + chunk <= steps.size() && spent.elapsed() < budgetSeconds * 1000;) {
                QStringList candidate = steps;
                candidate.erase(candidate.begin() + at, candidate.begin() + at + chunk);
                if (stillFails(candidate))
                    steps = candidate;
                else
                    at += chunk;
            }
        }
        return steps;
    }

private slots:
    void initTestCase() {
        PinLocaleAndClock();
        // The same sequence runs the same way every time, so a finding can be shrunk and kept.
        QHashSeed::setDeterministicGlobalSeed();
        if (DavServer::Program(DavServer::Radicale).isEmpty())
            QSKIP("Radicale is not installed (scripts/setup.sh installs it)");
        m_dav = std::make_unique<DavServer>(DavServer::Radicale);
        QVERIFY2(m_dav->isRunning(), qPrintable(m_dav->error()));
    }

    // Every sequence an earlier run found and shrank passes now.
    void regressions() {
        const QDir folder(RegressionFolder());
        for (const QString& name : folder.entryList({QStringLiteral("*.txt")}, QDir::Files)) {
            const QStringList steps = QString::fromUtf8(ReadFileBytes(folder.filePath(name)))
                                          .split(u'\n', Qt::SkipEmptyParts);
            const std::optional<Finding> finding = play(steps);
            QVERIFY2(!finding, qPrintable(QStringLiteral("%1: %2\n%3")
                                              .arg(name, finding ? finding->check : QString(),
                                                   finding ? finding->detail : QString())));
        }
    }

    void randomSequences() {
        const int seconds = ModelSeconds();
        quint32 seed = qEnvironmentVariableIsSet("CORVANTIS_MODEL_SEED")
                           ? quint32(qEnvironmentVariableIntValue("CORVANTIS_MODEL_SEED"))
                           : quint32(QDateTime::currentMSecsSinceEpoch());
        QElapsedTimer elapsed;
        elapsed.start();
        int sequences = 0;
        qint64 steps = 0;
        do {
            const QStringList sequence = RandomSequence(seed);
            int failedAt = 0;
            const std::optional<Finding> finding = play(sequence, &failedAt);
            ++sequences;
            steps += sequence.size();
            if (finding) {
                QStringList failing = sequence.mid(0, failedAt + 1);
                failing = shrink(failing, finding->check, 600);
                failing.insert(1, QStringLiteral("# seed %1: %2").arg(seed).arg(finding->check));
                QDir().mkpath(RegressionFolder());
                QString kept = RegressionFolder() + QStringLiteral("/seed-%1.txt").arg(seed);
                for (int n = 2; QFileInfo::exists(kept); ++n)
                    kept = RegressionFolder() + QStringLiteral("/seed-%1-%2.txt").arg(seed).arg(n);
                WriteFileBytes(kept, failing.join(u'\n').toUtf8() + '\n');
                QFAIL(qPrintable(QStringLiteral("seed %1: %2\n%3\nshrunk to %4 steps, kept in %5")
                                     .arg(seed)
                                     .arg(finding->check, finding->detail)
                                     .arg(failing.size() - 2)
                                     .arg(kept)));
            }
            ++seed;
        } while (elapsed.elapsed() < qint64(seconds) * 1000);
        qInfo("%d sequences, %lld steps, %lld s, no finding", sequences, steps,
              elapsed.elapsed() / 1000);
    }

    void cleanupTestCase() { m_dav.reset(); }
};

int main(int argc, char** argv) {
    // The random sequences run as long as asked, and a finding is shrunk for up to ten minutes
    // more: the test's watchdog waits that long.
    const qint64 seconds = ModelSeconds() + 900;
    qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(seconds * 1000));
    QCoreApplication app(argc, argv);
    TestManyMachines test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_manymachines.moc"
