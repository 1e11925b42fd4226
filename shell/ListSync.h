#pragma once

#include "sync/CalDavSync.h"
#include "sync/SyncState.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <memory>

class DocumentSync;
class ListDocument;
class QTimer;
class TfrTasks;

// The calendar sync of one open list: its settings and state in the user's data folder (named
// after the list's file), the sync engine over the list, the timer of the timed syncs, and what
// the last sync said. It lives as long as the list's document, of which it is a child. It shows
// nothing itself: the sync centre asks the user and shows the outcome.
//
// A sync is wanted after every save and each time the timer fires while the list syncs; one
// wanted while the user is editing a task waits until the task is stored, and one wanted while
// a sync runs follows it.
//
// A list's sync belongs to its file: Save As to another name takes the sync state along (the
// list keeps syncing under its new name, without asking anything again), a list saved for the
// first time starts afresh, and whatever state a file of that name had before is replaced.
class ListSync : public QObject {
    Q_OBJECT
public:
    explicit ListSync(TfrTasks& view);
    ~ListSync() override;

    ListDocument& document() const { return *m_document; }
    // A list never saved has no file to name its sync after.
    bool hasFile() const { return m_state != nullptr; }
    // The list's file name, as its tab shows it.
    QString listName() const;
    // The settings in force; the defaults for a list never saved.
    SyncState::Settings settings() const;
    // Writes the settings at once (throws CorvantisError when they cannot be written); another
    // calendar forgets the state of the old one, so the next sync is a full one.
    void setSettings(const SyncState::Settings& settings);
    bool isEnabled() const;
    // The server as messages name it.
    QString serverName() const;

    // Asks for a sync as the timer does: one is wanted when the list syncs.
    void want();
    // Who is asked about true conflicts.
    void setAsk(CalDavSync::Ask ask);
    // Starts a sync with the password; nothing happens while one runs.
    void start(const QString& password);
    void cancel();
    bool isRunning() const;
    // Whether the server accepted the password of the last sync started.
    bool passwordAccepted() const;
    // The calendar object of each synced task as last synced, by UID (what other clients put on
    // a task, for an export to write it along).
    QHash<QString, QByteArray> syncedObjects() const;

    // What the list's sync last said (progress or outcome), for the status bar.
    QString status() const { return m_status; }
    int done() const { return m_done; }
    int total() const { return m_total; }
    // The failure last shown to the user, so a sync failing the same way again is not shown again.
    QString& lastShownFailure() { return m_lastShownFailure; }

signals:
    // A sync is due (the timer fired, or the list was saved): the centre fetches the password and
    // starts it.
    void wanted();
    void progress(const QString& text, int done, int total);
    void finished(const CalDavClient::Failure& failure, const CalDavSync::Summary& summary);

private:
    void fileNameChanged(const QString& fileName);
    void saved();
    void armTimer();
    void makeEngine();

    ListDocument* m_document;
    QPointer<TfrTasks> m_view;
    std::unique_ptr<DocumentSync> m_list;
    std::unique_ptr<SyncState> m_state;
    std::unique_ptr<CalDavSync> m_sync;
    CalDavSync::Ask m_ask;
    QTimer* m_timer;
    QTimer* m_waitForEdit;
    bool m_again = false;
    QString m_status;
    int m_done = 0;
    int m_total = 0;
    QString m_lastShownFailure;
};
