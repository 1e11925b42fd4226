#include "reminders/ReminderStore.h"

#include "base/CorvantisError.h"
#include "storage/InputFile.h"
#include "storage/SaveFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

ReminderStore::ReminderStore(const QString& root) : m_root(root) {}

QString ReminderStore::defaultRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/reminders");
}

QString ReminderStore::canonical(const QString& listFile) {
    // One list reached through a link, or another spelling of its folder, keeps one log.
    const QFileInfo info(listFile);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

QString ReminderStore::fileFor(const QString& listFile) const {
    const QByteArray hash =
        QCryptographicHash::hash(canonical(listFile).toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(32);
    return m_root + u'/' + QString::fromLatin1(hash) + QStringLiteral(".json");
}

ReminderLog ReminderStore::load(const QString& listFile) const {
    const QString fileName = fileFor(listFile);
    if (!QFileInfo::exists(fileName))
        return {};
    try {
        const InputFile input(fileName, MaxFileSize);
        return ReminderLog::fromBytes(input.readAll(), canonical(listFile)).value_or(ReminderLog{});
    } catch (const CorvantisError&) {
        return {};
    }
}

void ReminderStore::makeRoot() const {
    const QByteArray path = QFile::encodeName(m_root);
    if (!QDir().mkpath(m_root) || ::chmod(path.constData(), 0700) != 0)
        throw CorvantisError(QStringLiteral("Cannot create folder \"%1\". %2")
                                 .arg(QDir::toNativeSeparators(m_root),
                                      QString::fromLocal8Bit(std::strerror(errno))));
}

void ReminderStore::update(const QString& listFile, ReminderLog& log, const QDate& today) const {
    log.merge(load(listFile));
    log.prune(today);
    const QString fileName = fileFor(listFile);
    if (log.isEmpty()) {
        QFile::remove(fileName);
        return;
    }
    makeRoot();
    const QByteArray bytes = log.toBytes(canonical(listFile));
    SaveFile file(fileName);
    if (::fchmod(file.descriptor(), 0600) != 0)
        file.fail(QString::fromLocal8Bit(std::strerror(errno)));
    const QString failure = file.write(bytes.constData(), std::size_t(bytes.size()));
    if (!failure.isNull())
        file.fail(failure);
    file.commit();
}
