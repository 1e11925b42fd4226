#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QUrl>

// What the calendar sync keeps about one list, in the user's data folder
// (AppDataLocation/sync), never in the list file: the list is the user's document and travels;
// its sync belongs to this account on this machine. The files are named by a hash of the list
// file's absolute path and are private to the user (0600 files in a 0700 folder).
//
// Two files per list:
// - "<key>.settings": where and as whom to sync (no password: that stays in the keyring).
// - "<key>.state": the server's sync token or ctag and, per task UID, its href, its ETag and the
//   iCalendar text of its last sync, which keeps the properties this program does not know and
//   is the base of a three-way merge.
//
// Changes to the state are made in memory and written by commit(), which appends one record per
// change (the file is written whole again once the records pile up). The sync commits only what
// the saved list file agrees with (see CalDavSync), so a state is never ahead of its list. A
// record cut short by a crash is dropped on reading, and a state file that cannot be read means
// a full resync, never a failure.
class SyncState {
public:
    struct Settings {
        QUrl server;   // as the user gave it: a server's address or a calendar's
        QUrl calendar; // the task calendar chosen
        QString userName;
        bool enabled = false;
        int intervalMinutes = 15;

        bool operator==(const Settings& other) const {
            return server == other.server && calendar == other.calendar &&
                   userName == other.userName && enabled == other.enabled &&
                   intervalMinutes == other.intervalMinutes;
        }
        bool operator!=(const Settings& other) const { return !(*this == other); }
    };
    struct Item {
        QString href;
        QByteArray etag;
        QByteArray ics;         // the task as last synced
        QByteArray fingerprint; // of the task's local values as last synced (the engine's)

        bool operator==(const Item& other) const {
            return href == other.href && etag == other.etag && ics == other.ics &&
                   fingerprint == other.fingerprint;
        }
    };

    // The state of the list `listFile` under `root` (DefaultRoot() in the program).
    explicit SyncState(const QString& listFile, const QString& root = DefaultRoot());
    ~SyncState();
    SyncState(const SyncState&) = delete;
    SyncState& operator=(const SyncState&) = delete;

    static QString DefaultRoot();
    QString settingsFile() const { return m_base + QStringLiteral(".settings"); }
    QString stateFile() const { return m_base + QStringLiteral(".state"); }

    // Reads both files. A missing one is an empty start; one that cannot be read is set aside as
    // empty too, and problem() tells why (for a note to the user: the next sync is a full one).
    void load();
    QString problem() const { return m_problem; }

    const Settings& settings() const { return m_settings; }
    // Writes the settings at once. Throws CorvantisError when they cannot be written.
    void setSettings(const Settings& settings);

    const QByteArray& syncToken() const { return m_syncToken; }
    const QByteArray& ctag() const { return m_ctag; }
    const QHash<QString, Item>& items() const { return m_items; }
    const Item* item(const QString& uid) const;
    QString uidOfHref(const QString& href) const; // empty when no task has it
    // Whether a task of this UID was synced and then removed (deleted on one side, and so on
    // the other), and not synced again since.
    bool wasRemoved(const QString& uid) const { return m_removed.contains(uid); }

    // Changes in memory, written by the next commit().
    void setCursor(const QByteArray& syncToken, const QByteArray& ctag);
    void setItem(const QString& uid, const Item& item);
    void removeItem(const QString& uid);
    // Forgets the whole sync state (another calendar was chosen): the next sync is a full one.
    void clear();
    bool hasUncommitted() const { return m_rewrite || !m_pending.isEmpty(); }
    // Writes the changes made since the last commit, and puts them on the disk. Throws
    // CorvantisError when they cannot be written (they stay for the next commit).
    void commit();
    // Writes the state file whole, in one step (commit does it when the records pile up).
    void compact();
    // Removes both files (the list no longer syncs).
    void remove();

private:
    void ensureFolder() const;
    void openJournal();
    void closeJournal();
    bool readState(const QByteArray& bytes);

    QString m_folder;
    QString m_base;
    QString m_listFile;
    QString m_problem;
    Settings m_settings;
    QByteArray m_syncToken;
    QByteArray m_ctag;
    QHash<QString, Item> m_items;
    QHash<QString, QString> m_uidByHref;
    QSet<QString> m_removed;
    QByteArray m_pending;    // records not written yet
    bool m_rewrite = false;  // the file must be written whole (cleared, set aside, cut short)
    int m_journal = -1;      // the state file, open for appending
    qsizetype m_records = 0; // records in the file and pending
};
