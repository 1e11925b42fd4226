#pragma once

#include <QDateTime>
#include <QString>

#include <vector>

// The copies a sync tool leaves beside a file that two machines changed at once, found by their
// names: Syncthing's "NAME.sync-conflict-20261209-101500-ABCDEFG.cv1", Nextcloud's and
// ownCloud's "NAME (conflicted copy 2026-12-09 101500).cv1" (with or without a user name before
// the date) and "NAME_conflict-20261209-101500.cv1", Dropbox's
// "NAME (COMPUTER's conflicted copy 2026-12-09).cv1" (with a " (1)" inside or after it). NAME is
// the list file's name without its last extension, matched exactly, and the extension is the
// list's own.
namespace ConflictCopies {

struct Copy {
    QString fileName; // full path
    QString tool;     // "Syncthing", "Nextcloud", "ownCloud" or "Dropbox"
    QDateTime modified;
};

// The tool whose conflict copy of the list file named listName (no folder) a file named name
// is; empty when it is none.
QString ToolOf(const QString& name, const QString& listName);

// The conflict copies in the list file's folder, the latest written first.
std::vector<Copy> Find(const QString& listFile);

// Whether the list file, as it is on disk now, holds every version the copy holds (a merged
// copy's are all there). A file that cannot be read holds nothing.
bool Holds(const QString& listFile, const QString& copy);

} // namespace ConflictCopies
