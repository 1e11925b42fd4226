#pragma once

#include <QString>
#include <QtGlobal>

// What a list file was when this program last read or wrote it: its size, its modification and
// status-change times and its inode. Saving over a list file first compares the file with its
// fingerprint, so that a change made by another program (a sync tool, a second copy of this
// program, an editor) is not overwritten unasked. Every write to a file sets its status-change
// time, which no program can set back, and a file replaced by another has another inode: so no
// bytes need to be read or hashed, even for a change that keeps the size and the modification
// time.
struct FileFingerprint {
    qint64 size = -1; // -1: no fingerprint (no file was read or written)
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    quint64 inode = 0;

    bool isValid() const { return size >= 0; }
    // A fingerprint no existing file has (no file has inode 0): for a file whose state when last
    // read is not known, so that any file of that name counts as changed by another program.
    static FileFingerprint unknown() { return {0, 0, 0, 0}; }
    friend bool operator==(const FileFingerprint& a, const FileFingerprint& b) {
        return a.size == b.size && a.modifiedNs == b.modifiedNs && a.changedNs == b.changedNs &&
               a.inode == b.inode;
    }
    friend bool operator!=(const FileFingerprint& a, const FileFingerprint& b) { return !(a == b); }

    // The file as it is now; no fingerprint when it does not exist.
    static FileFingerprint of(const QString& fileName);
    // Whether the file now is another than when this fingerprint was taken. A file that is gone
    // has not changed: saving simply writes it again.
    bool changedOnDisk(const QString& fileName) const;
};
