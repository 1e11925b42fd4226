#pragma once

#include "storage/FileFingerprint.h"

#include <QList>
#include <QString>

class DataTable;

// The recovery copies of lists with unsaved changes, kept in the user's data folder
// (AppDataLocation/recovery) so that a crash, a kill or a power loss loses at most the last few
// seconds of work. Each running program has a session folder of its own there, held by a lock
// that the system lets go when the program ends in any way: a session whose lock can be taken
// belongs to a program that did not end normally, and its copies are left for the next start.
//
// A copy is a list file written by the list file writer's atomic save, beside a small note that
// tells which list it is a copy of (its file, whether it was made by New, the file's fingerprint
// when the list was read or last saved).
class RecoveryStore {
public:
    struct Note {
        QString originalFile; // empty for a list never saved
        bool isNew = false;
        FileFingerprint original;
        qint64 order = -1; // the list's place among its session's lists; -1: not told
    };
    // A copy left by a program that did not end normally, now held by this session.
    struct Left {
        QString id;
        QString copyFile;
        bool noteRead = false; // false: the note was missing or unreadable
        Note note;
    };

    explicit RecoveryStore(const QString& root);
    ~RecoveryStore(); // copies stay: only Close removes them
    RecoveryStore(const RecoveryStore&) = delete;
    RecoveryStore& operator=(const RecoveryStore&) = delete;

    // The user's recovery folder.
    static QString defaultRoot();
    QString root() const { return m_root; }
    // A new name for the copy of one list.
    static QString newId();

    // Writes the copy of a list (a pending row as it stands, the table untouched) and its note.
    // Throws CorvantisError when they cannot be written.
    void write(const QString& id, const DataTable& table, const Note& note);
    // Removes the copy of one list (it was saved, or closed without saving).
    void remove(const QString& id);
    // The program ends normally: every copy of this session goes, and the session with them.
    void close();

    // Takes over the copies of every session whose program did not end normally: they move into
    // this session, under their ids, and stay there until saved, closed or the normal end. Each
    // session's copies come in their lists' order (notes that do not tell it last, by file).
    QList<Left> takeOver();
    // Moves a copy that cannot be read out of the way (into the "unreadable" folder), never
    // deleting it; returns where it now is.
    QString setAside(const Left& copy);

private:
    bool openSession(); // the session folder and its lock, made on first need
    QString sessionPath(const QString& name) const;

    QString m_root;
    QString m_session; // the session folder; empty until opened
    int m_lock = -1;   // the open, locked lock file
};
