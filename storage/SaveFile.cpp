#include "storage/SaveFile.h"

#include "base/CorvantisError.h"
#include "storage/InputFile.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<SaveFile::DataSync> dataSyncOverride{nullptr};
std::atomic<SaveFile::DataSync> folderSyncOverride{nullptr};

QString systemText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// The folder part of a path ("." for a bare name).
QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArray(".");
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

// The file a link leads to, through any number of links (a bounded number: a loop of links
// ends at itself).
QString finalTarget(const QString& fileName) {
    QString name = fileName;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(name);
        if (!info.isSymLink())
            break;
        name = info.symLinkTarget();
    }
    return name;
}

// A leftover younger than this may belong to a save under way.
constexpr qint64 LeftoverAgeSeconds = 60;
const QString LeftoverSuffix = QStringLiteral(".saving");

void removeIfStale(const QFileInfo& leftover, const QDateTime& now) {
    // The status-change time moves with every write and with the naming, and no program sets it
    // back.
    if (leftover.isFile() && !leftover.isSymLink() &&
        leftover.metadataChangeTime().secsTo(now) > LeftoverAgeSeconds)
        QFile::remove(leftover.filePath());
}

} // namespace

void SaveFile::RemoveLeftovers(const QString& folder, const QDateTime& now) {
    QDirIterator it(folder, {QLatin1Char('*') + LeftoverSuffix},
                    QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        removeIfStale(it.fileInfo(), now);
    }
}

void SaveFile::RemoveLeftoverOf(const QString& target, const QDateTime& now) {
    removeIfStale(QFileInfo(target + LeftoverSuffix), now);
}

SaveFile::SaveFile(const QString& fileName, Access access)
    : m_fileName(fileName), m_mode(access == Access::Private ? 0600 : 0666) {
    m_target = QFile::encodeName(QFileInfo(finalTarget(fileName)).absoluteFilePath());
    m_temporary = m_target + ".saving";
    struct stat existing {};
    const bool exists = ::stat(m_target.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        fail(systemText(EISDIR));
    if (exists && ::access(m_target.constData(), W_OK) != 0)
        fail(systemText(errno));
#if defined(O_TMPFILE)
    m_descriptor = ::open(folderOf(m_target).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, m_mode);
    if (m_descriptor < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        fail(systemText(errno));
#endif
    if (m_descriptor < 0)
        openNamed();
    // The new file keeps the old one's permissions; a private one never takes wider ones.
    if (exists && access == Access::Shared)
        (void)::fchmod(m_descriptor, existing.st_mode & 07777);
}

SaveFile::~SaveFile() {
    if (!m_committed)
        discard();
}

void SaveFile::setDataSyncForTesting(DataSync sync) {
    dataSyncOverride = sync;
}

void SaveFile::setFolderSyncForTesting(DataSync sync) {
    folderSyncOverride = sync;
}

void SaveFile::fail(const QString& reason) const {
    throw CorvantisError(QStringLiteral("Cannot create file \"%1\". %2")
                             .arg(InputFile::fullName(m_fileName), reason));
}

// Where the file system has no unnamed files: the temporary file by its name from the start
// (a leftover of an interrupted save is replaced).
void SaveFile::openNamed() {
    ::unlink(m_temporary.constData());
    m_descriptor = ::open(m_temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, m_mode);
    if (m_descriptor < 0)
        fail(systemText(errno));
    m_named = true;
}

void SaveFile::discard() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = -1;
    if (m_named)
        ::unlink(m_temporary.constData());
    m_named = false;
}

QString SaveFile::write(const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(m_descriptor, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return systemText(n < 0 ? errno : ENOSPC);
        bytes += n;
        size -= std::size_t(n);
    }
    return QString();
}

QString SaveFile::Save(const QString& fileName, const QByteArray& bytes, Access access) {
    SaveFile file(fileName, access);
    const QString reason = file.write(bytes.constData(), std::size_t(bytes.size()));
    if (!reason.isNull())
        file.fail(reason);
    return file.commit();
}

QString SaveFile::commit() {
    const auto failHere = [this](int code) {
        discard();
        fail(systemText(code));
    };
    const DataSync sync = dataSyncOverride.load();
    if ((sync ? sync(m_descriptor) : ::fdatasync(m_descriptor)) != 0)
        failHere(errno);
    if (!m_named) {
        // Named through the process's view of its descriptors: that needs no privilege.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_descriptor);
        for (int attempt = 0; !m_named; ++attempt) {
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, m_temporary.constData(),
                         AT_SYMLINK_FOLLOW) == 0)
                m_named = true;
            else if (errno == EEXIST && attempt == 0)
                ::unlink(m_temporary.constData()); // left by an interrupted save
            else
                failHere(errno);
        }
    }
    if (::rename(m_temporary.constData(), m_target.constData()) != 0)
        failHere(errno);
    m_named = false;
    m_committed = true;
    ::close(m_descriptor);
    m_descriptor = -1;
    // The rename reaches the disk with the folder.
    const int folder = ::open(folderOf(m_target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int code = errno;
    if (folder >= 0) {
        const DataSync sync = folderSyncOverride.load();
        code = (sync ? sync(folder) : ::fsync(folder)) == 0 ? 0 : errno;
        ::close(folder);
    }
    if (code == 0 || code == EINVAL || code == EROFS)
        return QString();
    return QStringLiteral("\"%1\" was saved, but its folder could not be synced to the disk: %2. "
                          "A power loss now could bring back the file as it was before.")
        .arg(InputFile::fullName(m_fileName), systemText(code));
}
