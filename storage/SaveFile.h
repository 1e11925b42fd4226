#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstddef>
#include <sys/types.h>

// A file written through a temporary file beside it that takes the target's place in one step,
// and only once every byte of it is on the disk: a failed or interrupted save leaves the old file
// whole, and a power loss after a save cannot bring the old version back. The temporary file has
// no name while it is written (where the file system allows), so an interrupted save leaves
// nothing behind; only an interruption between naming it and the rename leaves
// "<target>.saving", which the next save of that target replaces (and the program's start
// removes from its own folders).
class SaveFile {
public:
    // Who may read the file: Shared keeps an existing file's permissions and gives a new one the
    // usual ones (the umask's); Private makes it the user's alone (0600) from its creation on,
    // whatever the old file allowed.
    enum class Access { Shared, Private };

    // Opens the temporary file for a target (a link's final target when it is a link). Throws
    // CorvantisError "Cannot create file "<full name>". <reason>".
    explicit SaveFile(const QString& fileName, Access access = Access::Shared);
    // Drops the temporary file unless it was committed.
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    int descriptor() const { return m_descriptor; }
    // Appends bytes; returns the system's reason when they could not all be written, a null text
    // when they were. One caller at a time, from any thread.
    QString write(const char* bytes, std::size_t size);
    // Puts the data on the disk, the file in the target's place and the rename on the disk.
    // Throws as the constructor when a step up to the rename fails: the old file stays. Once the
    // new file has taken its place the save stands, so a folder that cannot be synced after it
    // is no failure: the warning that tells so is returned (a null text when all went well).
    QString commit();
    // Throws CorvantisError "Cannot create file "<full name>". <reason>" for this target.
    [[noreturn]] void fail(const QString& reason) const;

    // A whole file of bytes, written, put on the disk and in the target's place; throws as the
    // constructor, and returns commit's warning.
    static QString Save(const QString& fileName, const QByteArray& bytes,
                        Access access = Access::Shared);

    // Removes the "<target>.saving" files that interrupted saves left in a folder of the
    // program's own (in its subfolders too), or the one of a single target. Only those not
    // touched for a minute before `now` go: a younger one may be another running program's save
    // under way (its file changes as it is written, and once more as it is named).
    static void RemoveLeftovers(const QString& folder, const QDateTime& now);
    static void RemoveLeftoverOf(const QString& target, const QDateTime& now);

    // Tests only: the call that puts a file's data on the disk (fdatasync), to make it fail;
    // nullptr restores it.
    using DataSync = int (*)(int descriptor);
    static void setDataSyncForTesting(DataSync sync);
    // Tests only: the call that puts the folder's rename on the disk (fsync of the folder).
    static void setFolderSyncForTesting(DataSync sync);

private:
    void openNamed();
    void discard();

    QString m_fileName; // as given, for messages
    QByteArray m_target;
    QByteArray m_temporary; // "<target>.saving"
    mode_t m_mode;          // of a new file, before the umask
    int m_descriptor = -1;
    bool m_named = false; // the temporary file has its name already
    bool m_committed = false;
};
