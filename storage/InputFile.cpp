#include "storage/InputFile.h"

#include "base/CorvantisError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why a file of this type cannot be read as a file; empty for a regular file.
QString kindRefusal(mode_t mode) {
    if (S_ISREG(mode))
        return QString();
    if (S_ISFIFO(mode))
        return QStringLiteral("It is a named pipe, not a file.");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("It is a device, not a file.");
    if (S_ISDIR(mode))
        return QStringLiteral("It is a folder, not a file.");
    if (S_ISSOCK(mode))
        return QStringLiteral("It is a socket, not a file.");
    return QStringLiteral("It is not a regular file.");
}

QString systemText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

InputFile::InputFile(const QString& fileName, qint64 maxSize)
    : m_fileName(fileName), m_maxSize(maxSize) {
    // Without waiting for a writer at the other end of a pipe or for a terminal.
    m_descriptor = ::open(QFile::encodeName(fileName).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_descriptor < 0)
        failWithSystemError();
    struct stat status {};
    if (::fstat(m_descriptor, &status) != 0)
        failWithSystemError();
    const QString refusal = kindRefusal(status.st_mode);
    if (!refusal.isEmpty())
        fail(refusal);
    m_size = qint64(status.st_size);
    if (m_size > m_maxSize)
        fail(QStringLiteral("The file is %1 MB; at most %2 MB can be read.")
                 .arg(megabytes(m_size), megabytes(m_maxSize)));
}

InputFile::~InputFile() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

QString InputFile::fullName(const QString& fileName) {
    return QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
}

QString InputFile::megabytes(qint64 bytes) {
    return QLocale().toString(double(bytes) / double(1 << 20), 'f', 1);
}

void InputFile::fail(const QString& reason) const {
    throw CorvantisError(
        QStringLiteral("Cannot open file \"%1\". %2").arg(fullName(m_fileName), reason));
}

void InputFile::failWithSystemError() const {
    fail(systemText(errno));
}

qint64 InputFile::readAt(char* into, qint64 count, qint64 offset) const {
    qint64 done = 0;
    while (done < count) {
        const ssize_t n =
            ::pread(m_descriptor, into + done, std::size_t(count - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failWithSystemError();
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

QByteArray InputFile::head(qint64 count) const {
    QByteArray bytes(qsizetype(std::min(count, m_size)), Qt::Uninitialized);
    bytes.truncate(qsizetype(readAt(bytes.data(), bytes.size(), 0)));
    return bytes;
}

QByteArray InputFile::readAll() const {
    // The size it had when opened, then whatever it has grown by since (files of the system's
    // own folders give no size at all), never past the limit.
    QByteArray bytes(qsizetype(m_size), Qt::Uninitialized);
    qint64 done = readAt(bytes.data(), bytes.size(), 0);
    while (done == bytes.size()) {
        if (done > m_maxSize)
            fail(QStringLiteral("The file is larger than %1 MB, the most that can be read.")
                     .arg(megabytes(m_maxSize)));
        bytes.resize(qsizetype(std::min(std::max<qint64>(2 * done, 4096), m_maxSize + 1)));
        done += readAt(bytes.data() + done, bytes.size() - done, done);
    }
    bytes.truncate(qsizetype(done));
    return bytes;
}
