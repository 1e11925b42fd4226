#pragma once

#include "sync/CalDavClient.h"
#include "sync/MergeConflict.h"
#include "sync/SyncState.h"
#include "sync/SyncedList.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <functional>
#include <memory>
#include <vector>

// Two-way sync of one list with one CalDAV task calendar. Every step is a request of the
// asynchronous client, so the window stays responsive; progress is told through signals and
// Cancel stops at once.
//
// The order of one sync:
// 1. Pull: what changed on the server since the stored cursor (sync token, or ctag and ETags),
//    then the changed objects (calendar-multiget). Objects whose ETag is the one of their last
//    sync are not fetched: they are this program's own pushes.
// 2. Reconcile each pulled object with its task (matched by UID: the task's Properties line) and
//    its state at the last sync:
//    - new on the server: added here;
//    - changed there only (the task's values here are those of the last sync, told by a
//      fingerprint): the server's values are written here;
//    - changed on both sides: merged field by field with the values of the last sync as the
//      base; a field changed on one side takes that side, the same change on both is no
//      conflict, different changes are a true conflict and the only thing asked;
//    - deleted on the server: deleted here, unless edited here (then asked);
//    - edited there but deleted here: asked.
//    Then the tasks the pull did not touch: a task whose values differ from those of its last
//    sync is pushed; a task without a UID gets one and is pushed as new; a synced task no
//    longer in the list is deleted on the server.
// 3. The conflicts are asked, all at once; the changes are then made in the list in one step
//    (one undo step), and the new cursor is kept.
// 4. Push: PUT with If-Match the ETag of the last sync (If-None-Match: * for a new task),
//    DELETE with If-Match. A 412 (changed on the server meanwhile) fetches the object and goes
//    through step 2 and 3 for it, then pushes again; a few rounds at most.
//
// What is kept, and when (SyncState): a step is recorded in memory once it is confirmed (a pulled
// change made in the list, a push or a delete the server accepted), and written to disk while
// the list has no unsaved changes, or by listSaved() once it has been saved. The state on disk
// thus never runs ahead of the list file: a list closed without saving, or lost to a crash, meets
// a state that agrees with its file, and the next sync fetches again what it lacks instead of
// taking the file's older values for edits and pushing them over the server's. An interrupted
// sync (the server gone, a time-out, Cancel) keeps every confirmed step, and the next sync
// resumes from there: a push repeated finds its own object (the same UID gives the same href,
// If-None-Match: * fails, the object is fetched and found equal), so nothing is made twice.
class CalDavSync : public QObject {
    Q_OBJECT
public:
    struct Summary {
        int added = 0;   // tasks the server's changes added here
        int edited = 0;  // tasks edited here by the server's changes or by a merge
        int deleted = 0; // tasks deleted here
        int pushed = 0;  // objects written to the server
        int removed = 0; // objects deleted on the server
        int conflicts = 0;
    };
    // Shows the conflicts and answers once the user has chosen: one choice per conflict, or none
    // to stop the sync (nothing is then changed for those tasks; the next sync asks again).
    // This list is "this copy" of the conflicts, the server "the other copy".
    using Ask = std::function<void(const std::vector<MergeConflict>& conflicts,
                                   std::function<void(const MergeChoices& choices)> answer)>;

    // The list and the state outlive the sync object; the state is loaded.
    CalDavSync(SyncedList& list, SyncState& state, QObject* parent = nullptr);
    ~CalDavSync() override;

    CalDavClient& client() { return *m_client; }
    // Sets the client's credentials (the user name of the settings).
    void setPassword(const QString& password);
    void setAsk(Ask ask) { m_ask = std::move(ask); }
    // Objects written at a time (default 4).
    void setParallelRequests(int requests) { m_parallel = qMax(1, requests); }

    // Starts a sync with the settings' calendar; nothing happens while one runs.
    void start();
    // Stops the sync: requests in flight are given up, finished() tells Cancelled.
    void cancel();
    bool isRunning() const { return m_run != nullptr; }
    // The list was saved: every recorded step now agrees with its file. Returns a message when the
    // state could not be written (the steps stay recorded in memory for the next try).
    QString listSaved();

signals:
    // What the sync is doing, for the status bar: a text naming the server, and how many of
    // the current step's items are done (total 0: no count).
    void progress(const QString& text, int done, int total);
    // The sync ended; failure tells why when it did not complete (its message names the server).
    void finished(const CalDavClient::Failure& failure, const CalDavSync::Summary& summary);

private:
    struct Run;
    struct Pending;
    struct Push;
    struct Drop;

    // The steps, in order.
    void pull();
    // The objects a listing names as changed since the cursor (and the lost ones) are fetched.
    void pulled(const CalDavClient::Changes& changes, const QStringList& lost);
    void fetched(const CalDavClient::Fetched& fetched, const QStringList& removed);
    void reconcileRemote(const CalDavClient::Resource& resource);
    void reconcileRemoved(const QString& href);
    void scanLocal();
    void ask();
    void resolve(const MergeChoices& choices);
    void keepEditsMadeMeanwhile();
    void nameDerived();
    void applyAndPush();
    void pushRound();
    void nextRequest();
    void roundDone();
    void refetch();
    // A listing after this sync's own writes, so that the cursor kept is past them: a server
    // need not report an object made after a cursor and removed since.
    void pullAfterWrites();
    // The cursor a pull gave is kept with the state, committed when the list is saved.
    void keepCursor();
    void finish(const CalDavClient::Failure& failure);

    // What a reconciled task comes to once its merge is known.
    void settle(const Pending& pending, const SyncedList::Values& merged);
    void recordAfterApply(const QString& uid, const QString& href, const QByteArray& etag,
                          const QByteArray& object);
    void takeLocalSnapshot();
    const SyncedList::Task* localTask(const QString& uid) const;
    // A task deleted here (and not back) with this UID; none when there is none.
    const SyncedList::Task* goneTask(const QString& uid);
    // A task's values as the server would hold them: written over its object and read back.
    SyncedList::Values asTheServerHolds(const QByteArray& object,
                                        const SyncedList::Task& task) const;
    // The values of a task as last synced (none when its copy cannot be read).
    SyncedList::Values lastValues(const SyncState::Item& item) const;
    static QByteArray Fingerprint(const SyncedList::Values& values);
    CalDavClient::Failure localFailure(const QString& message) const;
    QString serverName() const;

    SyncedList& m_list;
    SyncState& m_state;
    CalDavClient* m_client;
    Ask m_ask;
    int m_parallel = 4;
    std::unique_ptr<Run> m_run;
};
