#pragma once

#include "reminders/ReminderLog.h"

#include <QString>

// The reminder logs of list files, kept in the user's data folder (AppDataLocation/reminders),
// one file per list named after a hash of the list file's canonical path (links resolved), so a
// restart on the same day reminds of nothing twice. The folder is the user's alone (0700, files
// 0600); a log is replaced in one step; a log that cannot be read (damaged, too large, another
// list's) counts as empty: at worst a reminder is given once more.
class ReminderStore {
public:
    explicit ReminderStore(const QString& root);

    static QString defaultRoot();
    QString root() const { return m_root; }
    // Where the log of a list file lives.
    QString fileFor(const QString& listFile) const;

    // The log of a list file; empty when there is none or it cannot be read.
    ReminderLog load(const QString& listFile) const;
    // Takes what the stored log holds into `log` (another run may have written it since), drops
    // what no longer counts on `today`, and writes the result. A log left empty removes the
    // file. Throws CorvantisError when it cannot be written.
    void update(const QString& listFile, ReminderLog& log, const QDate& today) const;

    // The largest log read: far beyond the entries of any list.
    static constexpr qint64 MaxFileSize = qint64(64) << 20;

private:
    static QString canonical(const QString& listFile);
    void makeRoot() const;

    QString m_root;
};
