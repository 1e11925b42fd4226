#include "document/ListFileWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

// A file that keeps changing is still looked at after this many quiet times.
static constexpr int LongestWait = 5;

struct ListFileWatcher::Watched {
    QString name; // as given to watch
    FileFingerprint known;
    QTimer timer;
    QElapsedTimer waiting; // since the first change not yet looked at
};

ListFileWatcher::ListFileWatcher(QObject* parent)
    : QObject(parent), m_watcher(new QFileSystemWatcher(this)) {
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &ListFileWatcher::touched);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &ListFileWatcher::folderTouched);
}

ListFileWatcher::~ListFileWatcher() = default;

QString ListFileWatcher::key(const QString& fileName) {
    return QDir::cleanPath(QFileInfo(fileName).absoluteFilePath());
}

void ListFileWatcher::watch(const QString& fileName) {
    const QString path = key(fileName);
    auto& watched = m_files[path];
    if (!watched) {
        watched = std::make_shared<Watched>();
        watched->timer.setSingleShot(true);
        connect(&watched->timer, &QTimer::timeout, this, [this, path] { look(path); });
        const QString folder = QFileInfo(path).absolutePath();
        if (m_folders[folder]++ == 0)
            m_watcher->addPath(folder);
    }
    watched->name = fileName;
    watched->known = FileFingerprint::of(path);
    watched->timer.stop();
    arm(path);
}

void ListFileWatcher::unwatch(const QString& fileName) {
    const QString path = key(fileName);
    if (!m_files.remove(path))
        return;
    if (m_watcher->files().contains(path))
        m_watcher->removePath(path);
    const QString folder = QFileInfo(path).absolutePath();
    if (--m_folders[folder] == 0) {
        m_folders.remove(folder);
        m_watcher->removePath(folder);
    }
}

QStringList ListFileWatcher::watchedFiles() const {
    QStringList names;
    for (const auto& watched : m_files)
        names << watched->name;
    return names;
}

void ListFileWatcher::noteOwnWrite(const QString& fileName) {
    const QString path = key(fileName);
    const auto it = m_files.find(path);
    if (it == m_files.end())
        return;
    (*it)->known = FileFingerprint::of(path);
    arm(path);
}

// A rename over the file drops its watch with the old file: watch the file of that name now.
void ListFileWatcher::arm(const QString& path) {
    if (!m_watcher->files().contains(path) && QFileInfo::exists(path))
        m_watcher->addPath(path);
}

void ListFileWatcher::touched(const QString& path) {
    const auto it = m_files.find(path);
    if (it == m_files.end())
        return;
    Watched& watched = **it;
    if (!watched.timer.isActive())
        watched.waiting.start();
    else if (watched.waiting.elapsed() >= qint64(LongestWait) * m_quietMs)
        return; // waited long enough: let the running timer end
    watched.timer.start(m_quietMs);
}

void ListFileWatcher::folderTouched(const QString& folder) {
    const QString prefix = QDir::cleanPath(folder) + u'/';
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
        if (it.key().startsWith(prefix) && it.key().indexOf(u'/', prefix.size()) < 0)
            touched(it.key());
}

void ListFileWatcher::look(const QString& path) {
    const auto it = m_files.find(path);
    if (it == m_files.end())
        return;
    const std::shared_ptr<Watched> watched = *it;
    arm(path);
    const FileFingerprint now = FileFingerprint::of(path);
    if (!now.isValid() || now == watched->known)
        return;
    watched->known = now;
    emit changedOnDisk(watched->name);
}
