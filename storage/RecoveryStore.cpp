#include "storage/RecoveryStore.h"

#include "base/CorvantisError.h"
#include "storage/DataPacket.h"
#include "storage/InputFile.h"
#include "storage/SaveFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

const QString CopySuffix = QStringLiteral(".cv1");
const QString NoteSuffix = QStringLiteral(".note");
const QString LockSuffix = QStringLiteral(".lock");

// Opens a lock file and takes its lock without waiting; -1 when another program holds it (or it
// cannot be opened). The lock lasts while the descriptor is open: the system lets it go when the
// program ends, however it ends.
int takeLock(const QString& fileName) {
    const int fd =
        ::open(QFile::encodeName(fileName).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QByteArray noteBytes(const RecoveryStore::Note& note) {
    QJsonObject object;
    object.insert(QStringLiteral("file"), note.originalFile);
    object.insert(QStringLiteral("new"), note.isNew);
    if (note.order >= 0)
        object.insert(QStringLiteral("order"), note.order);
    if (note.original.isValid()) {
        object.insert(QStringLiteral("size"), QString::number(note.original.size));
        object.insert(QStringLiteral("modified"), QString::number(note.original.modifiedNs));
        object.insert(QStringLiteral("changed"), QString::number(note.original.changedNs));
        object.insert(QStringLiteral("inode"), QString::number(note.original.inode));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A note is a line of JSON; anything larger is not one of ours.
constexpr qint64 MaxNoteSize = 64 * 1024;

// Whether a name in a session folder is a file of its own (not a link, a pipe or a folder): only
// those are taken over, so that nothing there can make the start wait or follow it elsewhere.
bool isPlainFile(const QString& fileName) {
    struct stat st {};
    return ::lstat(QFile::encodeName(fileName).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool readNote(const QString& fileName, RecoveryStore::Note* note) {
    QByteArray bytes;
    try {
        bytes = InputFile(fileName, MaxNoteSize).readAll();
    } catch (const CorvantisError&) {
        return false;
    }
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return false;
    const QJsonObject object = document.object();
    note->originalFile = object.value(QStringLiteral("file")).toString();
    note->isNew = object.value(QStringLiteral("new")).toBool();
    note->order = std::max<qint64>(-1, object.value(QStringLiteral("order")).toInteger(-1));
    bool sizeOk = false, timeOk = false, changeOk = false, inodeOk = false;
    FileFingerprint original;
    original.size = object.value(QStringLiteral("size")).toString().toLongLong(&sizeOk);
    original.modifiedNs = object.value(QStringLiteral("modified")).toString().toLongLong(&timeOk);
    original.changedNs = object.value(QStringLiteral("changed")).toString().toLongLong(&changeOk);
    original.inode = object.value(QStringLiteral("inode")).toString().toULongLong(&inodeOk);
    if (sizeOk && timeOk && changeOk && inodeOk)
        note->original = original;
    return true;
}

// A folder of the user's alone: made 0700 (never wider for a moment), or narrowed to it when an
// earlier run left it wider. Its parents are made the usual way.
bool makePrivateFolder(const QString& path) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) == 0)
        return true;
    struct stat st {};
    if (errno != EEXIST || ::stat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return (st.st_mode & 077) == 0 || ::chmod(name.constData(), 0700) == 0;
}

} // namespace

RecoveryStore::RecoveryStore(const QString& root) : m_root(root) {}

RecoveryStore::~RecoveryStore() {
    if (m_lock >= 0)
        ::close(m_lock);
}

QString RecoveryStore::defaultRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/recovery");
}

QString RecoveryStore::newId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

bool RecoveryStore::openSession() {
    if (!m_session.isEmpty())
        return true;
    if (!makePrivateFolder(m_root))
        return false;
    const QString name = newId();
    const QString folder = m_root + u'/' + name;
    const int lock = takeLock(folder + LockSuffix);
    if (lock < 0)
        return false;
    if (!makePrivateFolder(folder)) {
        ::close(lock);
        QFile::remove(folder + LockSuffix);
        return false;
    }
    m_lock = lock;
    m_session = folder;
    return true;
}

QString RecoveryStore::sessionPath(const QString& name) const {
    return m_session + u'/' + name;
}

void RecoveryStore::write(const QString& id, const DataTable& table, const Note& note) {
    if (!openSession())
        throw CorvantisError(QStringLiteral("Cannot create folder \"%1\". %2")
                                 .arg(QDir::toNativeSeparators(m_root),
                                      QString::fromLocal8Bit(std::strerror(errno))));
    // The note first: a copy never stands without the note that says what it is.
    SaveFile::Save(sessionPath(id + NoteSuffix), noteBytes(note), SaveFile::Access::Private);
    DataPacket::SaveCopyToFile(table, sessionPath(id + CopySuffix));
}

void RecoveryStore::remove(const QString& id) {
    if (m_session.isEmpty())
        return;
    QFile::remove(sessionPath(id + CopySuffix));
    QFile::remove(sessionPath(id + NoteSuffix));
}

void RecoveryStore::close() {
    if (m_session.isEmpty())
        return;
    QDir(m_session).removeRecursively();
    QFile::remove(m_session + LockSuffix);
    ::close(m_lock);
    m_lock = -1;
    m_session.clear();
}

QList<RecoveryStore::Left> RecoveryStore::takeOver() {
    QList<Left> left;
    const QDir root(m_root);
    const QStringList sessions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& session : sessions) {
        const QString folder = root.filePath(session);
        if (folder == m_session || session == QStringLiteral("unreadable"))
            continue;
        // A session whose lock another program holds is that program's: it is running.
        const int lock = takeLock(folder + LockSuffix);
        if (lock < 0)
            continue;
        const QStringList copies =
            QDir(folder).entryList({u'*' + CopySuffix}, QDir::Files, QDir::Name);
        if (!copies.isEmpty() && !openSession()) {
            ::close(lock);
            continue;
        }
        QList<Left> found;
        for (const QString& copy : copies) {
            const QString id = copy.chopped(CopySuffix.size());
            Left one;
            one.id = id;
            one.copyFile = sessionPath(id + CopySuffix);
            if (!isPlainFile(QDir(folder).filePath(copy)))
                continue;
            QFile::rename(QDir(folder).filePath(copy), one.copyFile);
            const QString noteFile = QDir(folder).filePath(id + NoteSuffix);
            if (isPlainFile(noteFile) && QFile::rename(noteFile, sessionPath(id + NoteSuffix)))
                one.noteRead = readNote(sessionPath(id + NoteSuffix), &one.note);
            if (QFile::exists(one.copyFile))
                found << one;
        }
        // The ids are random: the lists come back in the order they had.
        const auto key = [](const Left& copy) {
            return std::make_tuple(copy.note.order < 0, copy.note.order, copy.note.originalFile,
                                   copy.id);
        };
        std::sort(found.begin(), found.end(),
                  [&](const Left& a, const Left& b) { return key(a) < key(b); });
        left << found;
        // Notes without a copy (a write cut short) tell of nothing to recover.
        QDir(folder).removeRecursively();
        QFile::remove(folder + LockSuffix);
        ::close(lock);
    }
    return left;
}

QString RecoveryStore::setAside(const Left& copy) {
    const QString aside = m_root + QStringLiteral("/unreadable");
    makePrivateFolder(aside);
    QString target = aside + u'/' + copy.id + CopySuffix;
    if (QFile::rename(copy.copyFile, target))
        QFile::rename(sessionPath(copy.id + NoteSuffix), aside + u'/' + copy.id + NoteSuffix);
    else
        target = copy.copyFile; // it stays where it is
    return target;
}
