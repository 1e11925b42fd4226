#include "sync/CalDavSync.h"

#include "base/CorvantisError.h"
#include "sync/FieldMerge.h"

#include <QCryptographicHash>
#include <QPointer>

#include <algorithm>

namespace {

// Rounds of push, 412, fetch and merge before a sync gives up on a task that keeps changing.
constexpr int MaxRounds = 4;

QString deletedText() {
    return QObject::tr("Deleted");
}

// "Changed: Task, Priority": the fields one side changed since the last sync, as a merge of two
// copies of a list tells them.
QString changedText(const QStringList& names, const SyncedList::Values& base,
                    const SyncedList::Values& values) {
    QStringList changed;
    for (int f = 0; f < values.size(); ++f)
        if (values[f] != base.value(f))
            changed << names.value(f);
    return QObject::tr("Changed: %1").arg(changed.join(QStringLiteral(", ")));
}

} // namespace

// A task whose outcome waits for the user's choices.
struct CalDavSync::Pending {
    enum Kind {
        Merge,        // changed on both sides (NoBase: no last sync to compare with)
        DeletedHere,  // edited on the server, deleted here
        DeletedThere, // deleted on the server, edited here
    };
    Kind kind = Merge;
    QString uid;
    QString href;
    QByteArray etag;   // the server's
    QByteArray object; // the server's object (empty when deleted there)
    SyncedList::Key key = -1;
    SyncedList::Values mine, theirs, merged;
    SyncedList::Values sent; // mine as the server would hold them (Merge)
    std::vector<int> fields; // the conflicting fields of a merge
};

struct CalDavSync::Push {
    QString uid;
    QString href;
    QByteArray etag; // If-Match; empty with isNew
    QByteArray lastCopy;
    bool isNew = false;
};

struct CalDavSync::Drop {
    QString uid;
    QString href;
    QByteArray etag;
};

struct CalDavSync::Run {
    int id = 0;
    QUrl calendar;
    int round = 0;
    CalDavClient::Cursor cursor;
    bool cursorPulled = false; // the pull's cursor waits for its changes to be made

    std::vector<SyncedList::Task> local;
    QHash<QString, std::size_t> localByUid;
    // Tasks whose UID is not written in them yet: the one they derive, by key. It is written
    // once the task is synced, and matches the object a sync whose list was never saved sent.
    QHash<SyncedList::Key, QString> derived;
    // The tasks deleted here, by UID, read when first needed in a round.
    std::vector<SyncedList::Task> gone;
    QHash<QString, std::size_t> goneByUid;
    bool goneRead = false;
    QSet<QString> handled; // UIDs a pulled or fetched object settled this round

    std::vector<Pending> pending;
    std::vector<MergeConflict> conflicts;
    std::vector<SyncedList::Change> changes;
    struct Record {
        QString uid;
        QString href;
        QByteArray etag;
        QByteArray object;
        bool remove = false;
    };
    std::vector<Record> records; // made once the changes are
    std::vector<Push> pushes;
    std::vector<Drop> drops;

    std::size_t nextPush = 0;
    std::size_t nextDrop = 0;
    int inFlight = 0;
    int done = 0;
    QStringList refetch; // 412: changed on the server meanwhile
    bool wrote = false;  // an object was sent or removed
    bool pulledAfterWrites = false;
    CalDavClient::Failure failure;
    Summary summary;
};

CalDavSync::CalDavSync(SyncedList& list, SyncState& state, QObject* parent)
    : QObject(parent), m_list(list), m_state(state), m_client(new CalDavClient(this)) {
    setPassword(QString());
}

CalDavSync::~CalDavSync() {
    // The client goes with this object and calls nothing back.
    m_run.reset();
}

void CalDavSync::setPassword(const QString& password) {
    const SyncState::Settings& settings = m_state.settings();
    m_client->setCredentials(settings.userName, password);
    // The password goes to the server the user gave, and to no calendar elsewhere.
    m_client->setOrigin(settings.server.isEmpty() ? settings.calendar : settings.server);
}

QString CalDavSync::serverName() const {
    return CalDavClient::ServerName(m_state.settings().calendar);
}

CalDavClient::Failure CalDavSync::localFailure(const QString& message) const {
    return {CalDavClient::Failure::Local, 0, message};
}

QByteArray CalDavSync::Fingerprint(const SyncedList::Values& values) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QString& value : values) {
        const QByteArray bytes = value.toUtf8();
        hash.addData(QByteArray::number(bytes.size()) + ':');
        hash.addData(bytes);
    }
    return hash.result();
}

void CalDavSync::takeLocalSnapshot() {
    Run& run = *m_run;
    run.local = m_list.tasks();
    run.localByUid.clear();
    run.localByUid.reserve(qsizetype(run.local.size()));
    run.derived.clear();
    for (std::size_t i = 0; i < run.local.size(); ++i) {
        const SyncedList::Task& task = run.local[i];
        if (!task.uidWritten)
            run.derived.insert(task.key, task.uid);
        if (!run.localByUid.contains(task.uid))
            run.localByUid.insert(task.uid, i);
    }
}

SyncedList::Values CalDavSync::asTheServerHolds(const QByteArray& object,
                                                const SyncedList::Task& task) const {
    QString uid;
    SyncedList::Values values;
    if (!m_list.read(m_list.write(object, task.key, task.uid), uid, values) ||
        values.size() != task.values.size())
        return task.values;
    return values;
}

SyncedList::Values CalDavSync::lastValues(const SyncState::Item& item) const {
    QString uid;
    SyncedList::Values values;
    if (!m_list.read(item.ics, uid, values))
        values.clear();
    return values;
}

const SyncedList::Task* CalDavSync::goneTask(const QString& uid) {
    Run& run = *m_run;
    if (!run.goneRead) {
        run.gone = m_list.gone();
        run.goneByUid.clear();
        for (std::size_t i = 0; i < run.gone.size(); ++i)
            if (!run.goneByUid.contains(run.gone[i].uid))
                run.goneByUid.insert(run.gone[i].uid, i);
        run.goneRead = true;
    }
    const auto found = run.goneByUid.constFind(uid);
    return found == run.goneByUid.cend() ? nullptr : &run.gone[found.value()];
}

const SyncedList::Task* CalDavSync::localTask(const QString& uid) const {
    const auto found = m_run->localByUid.constFind(uid);
    return found == m_run->localByUid.cend() ? nullptr : &m_run->local[found.value()];
}

void CalDavSync::start() {
    if (m_run)
        return;
    static int runs = 0;
    m_run = std::make_unique<Run>();
    m_run->id = ++runs;
    m_run->calendar = m_state.settings().calendar;
    if (!m_run->calendar.isValid() || m_run->calendar.isEmpty()) {
        finish(localFailure(tr("No calendar is chosen for this list's sync")));
        return;
    }
    pull();
}

void CalDavSync::cancel() {
    if (!m_run)
        return;
    m_client->cancel(); // the callbacks of the requests in flight finish the run
    if (m_run)
        finish({CalDavClient::Failure::Cancelled, 0,
                CalDavClient::tr("The sync with %1 was cancelled").arg(serverName())});
}

QString CalDavSync::listSaved() {
    try {
        m_state.commit();
    } catch (const CorvantisError& error) {
        return error.message();
    }
    return QString();
}

// --- 1. pull -----------------------------------------------------------------------------------

void CalDavSync::pull() {
    emit progress(tr("Receiving changes from %1").arg(serverName()), 0, 0);
    const int id = m_run->id;
    // A task that names a UID this state never synced (a state lost, a task copied from another
    // synced list) may be on the server under any name: a full listing finds it by its UID.
    CalDavClient::Cursor cursor{m_state.syncToken(), m_state.ctag()};
    QSet<QString> known;
    for (const SyncedList::Task& task : m_list.tasks()) {
        known.insert(task.uid);
        if (task.uidWritten && !m_state.item(task.uid))
            cursor = CalDavClient::Cursor();
    }
    // A synced task the list neither holds nor deleted was lost to it another way (its file
    // replaced by an older copy): it is fetched and comes back, rather than deleted there.
    QStringList lost;
    for (auto it = m_state.items().cbegin(); it != m_state.items().cend(); ++it)
        if (!known.contains(it.key()) && !goneTask(it.key()))
            lost.append(it.value().href);
    m_client->fetchChanges(m_run->calendar, cursor,
                           [this, id, lost](const CalDavClient::Failure& failure,
                                            const CalDavClient::Changes& changes) {
                               if (!m_run || m_run->id != id)
                                   return;
                               if (failure) {
                                   finish(failure);
                                   return;
                               }
                               pulled(changes, lost);
                           });
}

void CalDavSync::pulled(const CalDavClient::Changes& changes, const QStringList& lost) {
    const int id = m_run->id;
    m_run->cursor = changes.cursor;
    m_run->cursorPulled = true;
    // Objects whose ETag is that of their last sync are as this list knows them.
    QStringList wanted;
    QSet<QString> listed;
    for (const CalDavClient::Member& member : changes.members) {
        listed.insert(member.href);
        const SyncState::Item* item = m_state.item(m_state.uidOfHref(member.href));
        if (!item || item->etag.isEmpty() || item->etag != member.etag ||
            lost.contains(member.href))
            wanted.append(member.href);
    }
    for (const QString& href : lost)
        if (!changes.full && !wanted.contains(href))
            wanted.append(href);
    QStringList removed = changes.removed;
    if (changes.full)
        for (auto it = m_state.items().cbegin(); it != m_state.items().cend(); ++it)
            if (!listed.contains(it.value().href))
                removed.append(it.value().href);
    if (m_run->round > 0 && wanted.isEmpty() && removed.isEmpty()) {
        // Only this sync's own writes since: nothing to take in.
        keepCursor();
        finish(CalDavClient::Failure());
        return;
    }
    if (wanted.isEmpty()) {
        fetched(CalDavClient::Fetched(), removed);
        return;
    }
    emit progress(tr("Receiving changed tasks from %1").arg(serverName()), 0, int(wanted.size()));
    m_client->multiget(
        m_run->calendar, wanted,
        [this, id, removed](const CalDavClient::Failure& failed, const CalDavClient::Fetched& got) {
            if (!m_run || m_run->id != id)
                return;
            if (failed)
                finish(failed);
            else
                fetched(got, removed + got.missing);
        });
}

// --- 2. reconcile ------------------------------------------------------------------------------

void CalDavSync::fetched(const CalDavClient::Fetched& fetched, const QStringList& removed) {
    Run& run = *m_run;
    takeLocalSnapshot();
    run.handled.clear();
    run.goneRead = false;
    run.pending.clear();
    run.conflicts.clear();
    run.changes.clear();
    run.records.clear();
    run.pushes.clear();
    run.drops.clear();

    // Objects first: a task another client wrote again under a new href is not taken for gone.
    for (const CalDavClient::Resource& resource : fetched.resources)
        reconcileRemote(resource);
    for (const QString& href : removed)
        reconcileRemoved(href);
    if (run.round == 0)
        scanLocal();
    ask();
}

void CalDavSync::reconcileRemote(const CalDavClient::Resource& resource) {
    Run& run = *m_run;
    QString uid;
    SyncedList::Values theirs;
    if (!m_list.read(resource.data, uid, theirs) || uid.isEmpty() || run.handled.contains(uid))
        return; // not a to-do, or a second object of a task already settled
    // The object at a synced href now holds another task: the old one is gone from the server.
    const QString before = m_state.uidOfHref(resource.href);
    if (!before.isEmpty() && before != uid)
        reconcileRemoved(resource.href);
    run.handled.insert(uid);

    const SyncState::Item* item = m_state.item(uid);
    const SyncedList::Task* mine = localTask(uid);
    const auto record = [&] {
        run.records.push_back({uid, resource.href, resource.etag, resource.data, false});
    };
    const SyncedList::Task* gone = mine ? nullptr : goneTask(uid);
    if (!mine && !item && gone && m_state.wasRemoved(uid)) {
        // Its deletion reached the calendar, and another copy chose to keep it since: back
        // here under its own ID.
        run.changes.push_back({SyncedList::Change::Restore, gone->key, uid, theirs});
        record();
        ++run.summary.added;
        return;
    }
    if (!mine && !item && gone && gone->values == theirs) {
        // Deleted here before it was ever synced from here (another copy sent it).
        run.drops.push_back({uid, resource.href, resource.etag});
        return;
    }
    if (!mine && !gone) {
        // New here, or one the list lost track of without deleting it.
        run.changes.push_back({SyncedList::Change::Add, -1, uid, theirs});
        record();
        ++run.summary.added;
        return;
    }
    Pending pending{Pending::Merge,
                    uid,
                    resource.href,
                    resource.etag,
                    resource.data,
                    -1,
                    {},
                    theirs,
                    {},
                    {},
                    {}};
    if (!mine) {
        // Deleted here. An object unchanged since the last sync goes from the server too.
        if (item && !item->etag.isEmpty() && item->etag == resource.etag) {
            run.drops.push_back({uid, resource.href, resource.etag});
            return;
        }
        pending.kind = Pending::DeletedHere;
        pending.key = gone ? gone->key : -1; // brought back, it is the same task
        run.pending.push_back(pending);
        MergeConflict conflict;
        conflict.kind = MergeConflict::Kind::DeletedVsEdited;
        conflict.deletedInThisCopy = true;
        conflict.task = theirs.value(0);
        conflict.thisCopy = deletedText();
        conflict.otherCopy =
            changedText(m_list.fieldNames(), item ? lastValues(*item) : gone->values, theirs);
        run.conflicts.push_back(conflict);
        return;
    }
    pending.key = mine->key;
    pending.mine = mine->values;
    const bool changedHere = !item || Fingerprint(mine->values) != item->fingerprint;
    if (!changedHere) {
        if (mine->values != theirs) {
            run.changes.push_back({SyncedList::Change::Edit, mine->key, uid, theirs});
            ++run.summary.edited;
        }
        record();
        return;
    }
    // Changed on both sides: field by field against the last sync, by the rule of a merge of
    // two copies of a list (no last sync: every difference is a question). This list's values
    // count as the server would hold them (written over its object and read back): a difference
    // that the trip through the server takes away is none.
    const SyncedList::Values base = item ? lastValues(*item) : SyncedList::Values();
    pending.sent = asTheServerHolds(resource.data, *mine);
    pending.merged = pending.mine;
    const QStringList names = m_list.fieldNames();
    for (int f = 0; f < pending.mine.size() && f < theirs.size(); ++f) {
        const QString& sent = pending.sent[f];
        const bool mineChanged =
            !item || (pending.mine[f] != base.value(f) && sent != base.value(f));
        const bool theirsChanged = !item || theirs[f] != base.value(f);
        const bool same = pending.mine[f] == theirs[f] || sent == theirs[f];
        switch (ListMerge::MergeField(mineChanged, theirsChanged, same)) {
        case ListMerge::Take::Mine:
            break;
        case ListMerge::Take::Theirs:
            pending.merged[f] = theirs[f];
            break;
        case ListMerge::Take::Conflict:
            pending.fields.push_back(f);
            run.conflicts.push_back({MergeConflict::Kind::Field, false, mine->id, mine->text,
                                     names.value(f), base.value(f), pending.mine[f], theirs[f]});
            break;
        }
    }
    if (pending.fields.empty())
        settle(pending, pending.merged);
    else
        run.pending.push_back(pending);
}

void CalDavSync::reconcileRemoved(const QString& href) {
    Run& run = *m_run;
    const QString uid = m_state.uidOfHref(href);
    if (uid.isEmpty() || run.handled.contains(uid))
        return;
    run.handled.insert(uid);
    const SyncState::Item* item = m_state.item(uid);
    const SyncedList::Task* mine = localTask(uid);
    if (mine && Fingerprint(mine->values) != item->fingerprint) {
        Pending pending{Pending::DeletedThere, uid, href, {}, {}, mine->key,
                        mine->values,          {},  {},   {}, {}};
        run.pending.push_back(pending);
        MergeConflict conflict;
        conflict.kind = MergeConflict::Kind::DeletedVsEdited;
        conflict.taskId = mine->id;
        conflict.task = mine->text;
        conflict.thisCopy = changedText(m_list.fieldNames(), lastValues(*item), mine->values);
        conflict.otherCopy = deletedText();
        run.conflicts.push_back(conflict);
        return;
    }
    if (mine) {
        run.changes.push_back({SyncedList::Change::Delete, mine->key, uid, {}});
        ++run.summary.deleted;
    }
    run.records.push_back({uid, href, {}, {}, true});
}

void CalDavSync::scanLocal() {
    Run& run = *m_run;
    QSet<QString> seen;
    for (const SyncedList::Task& task : run.local) {
        const QString& uid = task.uid;
        seen.insert(uid);
        if (run.handled.contains(uid))
            continue;
        const SyncState::Item* item = m_state.item(uid);
        if (!item)
            run.pushes.push_back({uid, CalDavClient::HrefFor(run.calendar, uid), {}, {}, true});
        else if (Fingerprint(task.values) != item->fingerprint)
            run.pushes.push_back({uid, item->href, item->etag, item->ics, false});
    }
    // Deleted here since the last sync: deleted there too.
    for (auto it = m_state.items().cbegin(); it != m_state.items().cend(); ++it)
        if (!seen.contains(it.key()) && !run.handled.contains(it.key()) && goneTask(it.key()))
            run.drops.push_back({it.key(), it.value().href, it.value().etag});
}

void CalDavSync::settle(const Pending& pending, const SyncedList::Values& merged) {
    Run& run = *m_run;
    if (merged != pending.mine) {
        run.changes.push_back({SyncedList::Change::Edit, pending.key, pending.uid, merged});
        ++run.summary.edited;
    }
    // Whether the server holds the merged values already, as it keeps them.
    bool held = merged.size() == pending.theirs.size();
    for (qsizetype f = 0; held && f < merged.size(); ++f) {
        const bool sentAlike = f < pending.sent.size() && merged[f] == pending.mine.value(f) &&
                               pending.sent[f] == pending.theirs[f];
        held = merged[f] == pending.theirs[f] || sentAlike;
    }
    if (held)
        run.records.push_back({pending.uid, pending.href, pending.etag, pending.object, false});
    else
        run.pushes.push_back({pending.uid, pending.href, pending.etag, pending.object, false});
}

// --- 3. ask, then change the list --------------------------------------------------------------

void CalDavSync::ask() {
    Run& run = *m_run;
    if (run.conflicts.empty()) {
        applyAndPush();
        return;
    }
    run.summary.conflicts += int(run.conflicts.size());
    if (!m_ask) {
        finish(localFailure(
            tr("The sync with %1 found conflicts and nobody to ask about them").arg(serverName())));
        return;
    }
    emit progress(tr("Waiting for your choices about the conflicts with %1").arg(serverName()), 0,
                  0);
    const int id = run.id;
    QPointer<CalDavSync> self(this);
    m_ask(run.conflicts, [self, id](const MergeChoices& choices) {
        if (!self || !self->m_run || self->m_run->id != id)
            return;
        if (choices.size() != self->m_run->conflicts.size())
            self->finish({CalDavClient::Failure::Cancelled, 0,
                          tr("The sync with %1 was stopped; the conflicts are asked again next "
                             "time")
                              .arg(self->serverName())});
        else
            self->resolve(choices);
    });
}

void CalDavSync::resolve(const MergeChoices& choices) {
    Run& run = *m_run;
    std::size_t next = 0;
    for (const Pending& pending : run.pending) {
        switch (pending.kind) {
        case Pending::Merge: {
            SyncedList::Values merged = pending.merged;
            for (int field : pending.fields)
                if (choices[next++] == MergeConflict::Side::OtherCopy)
                    merged[field] = pending.theirs[field];
            settle(pending, merged);
            break;
        }
        case Pending::DeletedHere:
            if (choices[next++] == MergeConflict::Side::ThisCopy) {
                run.drops.push_back({pending.uid, pending.href, pending.etag});
            } else {
                run.changes.push_back(
                    {pending.key >= 0 ? SyncedList::Change::Restore : SyncedList::Change::Add,
                     pending.key, pending.uid, pending.theirs});
                run.records.push_back(
                    {pending.uid, pending.href, pending.etag, pending.object, false});
                ++run.summary.added;
            }
            break;
        case Pending::DeletedThere:
            run.records.push_back({pending.uid, pending.href, {}, {}, true});
            if (choices[next++] == MergeConflict::Side::ThisCopy) {
                run.pushes.push_back({pending.uid, pending.href, {}, {}, true});
            } else {
                run.changes.push_back({SyncedList::Change::Delete, pending.key, pending.uid, {}});
                ++run.summary.deleted;
            }
            break;
        }
    }
    applyAndPush();
}

void CalDavSync::applyAndPush() {
    Run& run = *m_run;
    keepEditsMadeMeanwhile();
    nameDerived();
    try {
        if (!run.changes.empty())
            m_list.apply(run.changes);
    } catch (const CorvantisError& error) {
        finish(localFailure(error.message()));
        return;
    }
    // The list as it now stands: what it holds of each settled task is what was synced.
    if (!run.changes.empty())
        takeLocalSnapshot();
    for (const Run::Record& record : run.records) {
        const SyncedList::Task* task = localTask(record.uid);
        if (record.remove || !task)
            m_state.removeItem(record.uid);
        else
            m_state.setItem(record.uid,
                            {record.href, record.etag, record.object, Fingerprint(task->values)});
    }
    keepCursor();
    if (!m_list.isUnsaved()) {
        try {
            m_state.commit();
        } catch (const CorvantisError& error) {
            finish(localFailure(error.message()));
            return;
        }
    }
    pushRound();
}

void CalDavSync::keepEditsMadeMeanwhile() {
    // The user may have edited a task while the conflicts were asked: such a task is left as the
    // user made it, and the next sync merges it (its push meets a 412 and is merged then).
    Run& run = *m_run;
    if (run.conflicts.empty())
        return; // nothing was asked: the list is as it was read a moment ago
    QHash<SyncedList::Key, const SyncedList::Task*> seen;
    for (const SyncedList::Task& task : run.local)
        seen.insert(task.key, &task);
    QSet<QString> changedMeanwhile;
    for (const SyncedList::Task& task : m_list.tasks()) {
        const SyncedList::Task* before = seen.value(task.key);
        if (before && before->values != task.values)
            changedMeanwhile.insert(before->uid);
    }
    if (changedMeanwhile.isEmpty())
        return;
    const auto meanwhile = [&](const QString& uid) { return changedMeanwhile.contains(uid); };
    run.changes.erase(std::remove_if(run.changes.begin(), run.changes.end(),
                                     [&](const SyncedList::Change& change) {
                                         return change.kind != SyncedList::Change::Add &&
                                                meanwhile(change.uid);
                                     }),
                      run.changes.end());
    run.records.erase(std::remove_if(run.records.begin(), run.records.end(),
                                     [&](const Run::Record& r) { return meanwhile(r.uid); }),
                      run.records.end());
    run.pushes.erase(std::remove_if(run.pushes.begin(), run.pushes.end(),
                                    [&](const Push& push) { return meanwhile(push.uid); }),
                     run.pushes.end());
    run.drops.erase(std::remove_if(run.drops.begin(), run.drops.end(),
                                   [&](const Drop& drop) { return meanwhile(drop.uid); }),
                    run.drops.end());
}

void CalDavSync::nameDerived() {
    // A task synced under the UID it derives gets it written, so that it keeps it whatever
    // happens to the list later (a task copied, a merge).
    Run& run = *m_run;
    if (run.derived.isEmpty())
        return;
    QSet<QString> synced;
    for (const Run::Record& record : run.records)
        if (!record.remove)
            synced.insert(record.uid);
    for (const Push& push : run.pushes)
        synced.insert(push.uid);
    QSet<SyncedList::Key> leaving;
    for (const SyncedList::Change& change : run.changes)
        if (change.kind == SyncedList::Change::Delete)
            leaving.insert(change.key);
    for (auto it = run.derived.cbegin(); it != run.derived.cend(); ++it)
        if (synced.contains(it.value()) && !leaving.contains(it.key()))
            run.changes.push_back({SyncedList::Change::SetUid, it.key(), it.value(), {}});
}

// --- 4. push -----------------------------------------------------------------------------------

void CalDavSync::pushRound() {
    Run& run = *m_run;
    run.nextPush = 0;
    run.nextDrop = 0;
    run.done = 0;
    run.refetch.clear();
    nextRequest();
}

void CalDavSync::nextRequest() {
    Run& run = *m_run;
    const int id = run.id;
    const int total = int(run.pushes.size() + run.drops.size());
    while (!run.failure && run.inFlight < m_parallel &&
           (run.nextPush < run.pushes.size() || run.nextDrop < run.drops.size())) {
        if (run.done == 0 && run.inFlight == 0)
            emit progress(tr("Sending changes to %1").arg(serverName()), 0, total);
        if (run.nextPush < run.pushes.size()) {
            const Push push = run.pushes[run.nextPush++];
            const SyncedList::Task* task = localTask(push.uid);
            if (!task) {
                ++run.done; // deleted meanwhile: the next sync deletes it there
                continue;
            }
            const QByteArray object = m_list.write(push.lastCopy, task->key, push.uid);
            const QByteArray fingerprint = Fingerprint(task->values);
            ++run.inFlight;
            m_client->put(run.calendar, push.href, object, push.isNew ? QByteArray() : push.etag,
                          [this, id, push, object, fingerprint,
                           total](const CalDavClient::Failure& failure, const QByteArray& etag) {
                              if (!m_run || m_run->id != id)
                                  return;
                              Run& run = *m_run;
                              --run.inFlight;
                              ++run.done;
                              if (!failure) {
                                  m_state.setItem(push.uid, {push.href, etag, object, fingerprint});
                                  ++run.summary.pushed;
                                  run.wrote = true;
                              } else if (failure.kind == CalDavClient::Failure::Conflict) {
                                  run.refetch.append(push.href);
                              } else if (!run.failure) {
                                  run.failure = failure;
                              }
                              emit progress(tr("Sending changes to %1").arg(serverName()), run.done,
                                            total);
                              nextRequest();
                          });
        } else {
            const Drop drop = run.drops[run.nextDrop++];
            ++run.inFlight;
            m_client->remove(run.calendar, drop.href, drop.etag,
                             [this, id, drop, total](const CalDavClient::Failure& failure) {
                                 if (!m_run || m_run->id != id)
                                     return;
                                 Run& run = *m_run;
                                 --run.inFlight;
                                 ++run.done;
                                 if (!failure) {
                                     m_state.removeItem(drop.uid);
                                     ++run.summary.removed;
                                     run.wrote = true;
                                 } else if (failure.kind == CalDavClient::Failure::Conflict) {
                                     run.refetch.append(drop.href);
                                 } else if (!run.failure) {
                                     run.failure = failure;
                                 }
                                 emit progress(tr("Sending changes to %1").arg(serverName()),
                                               run.done, total);
                                 nextRequest();
                             });
        }
    }
    if (run.inFlight == 0 &&
        (run.failure || (run.nextPush >= run.pushes.size() && run.nextDrop >= run.drops.size())))
        roundDone();
}

void CalDavSync::keepCursor() {
    Run& run = *m_run;
    if (run.cursorPulled) {
        m_state.setCursor(run.cursor.syncToken, run.cursor.ctag);
        run.cursorPulled = false;
    }
}

void CalDavSync::roundDone() {
    Run& run = *m_run;
    if (run.failure) {
        finish(run.failure);
    } else if (run.refetch.isEmpty()) {
        // A full listing (no sync token) finds every removal without it.
        if (run.wrote && !run.pulledAfterWrites && !m_state.syncToken().isEmpty() &&
            run.round + 1 < MaxRounds)
            pullAfterWrites();
        else
            finish(CalDavClient::Failure());
    } else if (run.round + 1 >= MaxRounds) {
        finish({CalDavClient::Failure::Conflict, 412,
                tr("Tasks keep changing on the server %1; they are synced next time")
                    .arg(serverName())});
    } else {
        refetch();
    }
}

void CalDavSync::pullAfterWrites() {
    Run& run = *m_run;
    run.pulledAfterWrites = true;
    ++run.round;
    const int id = run.id;
    const CalDavClient::Cursor cursor{m_state.syncToken(), m_state.ctag()};
    m_client->fetchChanges(
        run.calendar, cursor,
        [this, id](const CalDavClient::Failure& failure, const CalDavClient::Changes& changes) {
            if (!m_run || m_run->id != id)
                return;
            if (failure)
                finish(failure);
            else
                pulled(changes, {});
        });
}

void CalDavSync::refetch() {
    Run& run = *m_run;
    ++run.round;
    const int id = run.id;
    const QStringList hrefs = run.refetch;
    emit progress(tr("Receiving changed tasks from %1").arg(serverName()), 0, int(hrefs.size()));
    m_client->multiget(
        run.calendar, hrefs,
        [this, id](const CalDavClient::Failure& failure, const CalDavClient::Fetched& got) {
            if (!m_run || m_run->id != id)
                return;
            if (failure)
                finish(failure);
            else
                fetched(got, got.missing);
        });
}

void CalDavSync::finish(const CalDavClient::Failure& failure) {
    CalDavClient::Failure outcome = failure;
    // Whatever was confirmed is kept, as far as the saved list agrees with it.
    if (!m_list.isUnsaved() && m_state.hasUncommitted()) {
        try {
            m_state.commit();
        } catch (const CorvantisError& error) {
            if (!outcome)
                outcome = localFailure(error.message());
        }
    }
    const Summary summary = m_run ? m_run->summary : Summary();
    m_run.reset();
    emit finished(outcome, summary);
}
