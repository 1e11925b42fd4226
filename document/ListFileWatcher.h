#pragma once

#include "storage/FileFingerprint.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QFileSystemWatcher;
class QTimer;

// Tells when an open list file changed on disk: a sync tool brought another machine's copy, or
// another program wrote it. Each file is compared with what this program last read or wrote
// (its FileFingerprint), so the program's own saves are not told once noteOwnWrite is called
// after them. A file replaced by a rename (as every atomic save, ours included, replaces it)
// loses its watch; the watcher also watches the file's folder and watches the new file again.
// Changes come in bursts (a sync tool writes, renames, sets times): a file is looked at once it
// has been quiet for a while, and at the latest after a few quiet times.
class ListFileWatcher : public QObject {
    Q_OBJECT
public:
    explicit ListFileWatcher(QObject* parent = nullptr);
    ~ListFileWatcher() override;

    // How long a file must be quiet before it is looked at (milliseconds).
    void setQuietTime(int milliseconds) { m_quietMs = milliseconds; }
    int quietTime() const { return m_quietMs; }

    // Watches a list file as it is now (this program has just read or written it). Watching a
    // file again takes its state anew.
    void watch(const QString& fileName);
    void unwatch(const QString& fileName);
    QStringList watchedFiles() const;

    // This program wrote the file (a save): its state now is the known one, and the change is not
    // told.
    void noteOwnWrite(const QString& fileName);

signals:
    // The file is no longer what this program last read or wrote (fileName as given to watch).
    // Told once per change; nothing is told while the file is gone.
    void changedOnDisk(const QString& fileName);

private:
    struct Watched;
    static QString key(const QString& fileName);
    void arm(const QString& path);
    void touched(const QString& path);
    void folderTouched(const QString& folder);
    void look(const QString& path);

    QFileSystemWatcher* m_watcher;
    QHash<QString, std::shared_ptr<Watched>> m_files; // by absolute path
    QHash<QString, int> m_folders;                    // watched files in each folder
    int m_quietMs = 300;
};
