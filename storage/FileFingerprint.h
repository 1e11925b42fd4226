#pragma once

#include <QString>
#include <QtGlobal>

// What a list file held when this program last read or wrote it: its size, its modification
// time and a fast hash of its bytes. Saving over a list file first compares the file with its
// fingerprint, so that a change made by another program (a sync tool, a second copy of this
// program, an editor) is not overwritten unasked.
struct FileFingerprint {
    qint64 size = -1; // -1: no fingerprint (no file was read or written)
    qint64 modifiedNs = 0;
    quint64 hash = 0;

    bool isValid() const { return size >= 0; }
    friend bool operator==(const FileFingerprint& a, const FileFingerprint& b) {
        return a.size == b.size && a.modifiedNs == b.modifiedNs && a.hash == b.hash;
    }
    friend bool operator!=(const FileFingerprint& a, const FileFingerprint& b) { return !(a == b); }

    // The file as it is now; no fingerprint when it does not exist or cannot be read.
    static FileFingerprint Of(const QString& fileName);
    // Whether the file now holds something else than when this fingerprint was taken. Size and
    // time decide at once when they differ; when both match, the bytes are hashed again. A file
    // that is gone has not changed: saving simply writes it again.
    bool changedOnDisk(const QString& fileName) const;

    // The hash of a byte range, the same in every run of the program on this machine.
    static quint64 Hash(const char* data, qint64 size);
};
