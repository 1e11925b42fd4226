#include "storage/DataPacket.h"

#include "model/CorvantisError.h"
#include "model/DataTable.h"
#include "storage/PacketWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <thread>

#if defined(__linux__)
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString fullName(const QString& fileName) {
    return QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
}

// A descriptor of an existing file, -1 when there is none (or where this is not worth it).
int holdOpen(const QString& fileName) {
#if defined(__linux__)
    return ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
#else
    Q_UNUSED(fileName);
    return -1;
#endif
}

void release(int descriptor) {
#if defined(__linux__)
    if (descriptor >= 0)
        ::close(descriptor);
#else
    Q_UNUSED(descriptor);
#endif
}

// A list file mapped into memory rather than read: a large list then costs neither a copy nor
// fresh memory of its size. Only under a read lease, which keeps every other program from opening
// the file for writing or cutting it short until the lease ends (a mapped file that shrank would
// crash the reader); where no lease can be had (a file of another user, a network file system,
// a file open for writing now), data() is nullptr and the file is read as usual.
class MappedFile {
public:
    explicit MappedFile(const QString& fileName) {
#if defined(__linux__) && defined(F_SETLEASE) && defined(F_SETSIG) && defined(MAP_POPULATE)
        m_descriptor = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
        if (m_descriptor < 0)
            return;
        // The lease's end is announced with a signal: one whose default is to be ignored, as
        // the lease ends by itself once the file is read.
        struct stat status {};
        if (::fcntl(m_descriptor, F_SETSIG, SIGURG) != 0 ||
            ::fcntl(m_descriptor, F_SETLEASE, F_RDLCK) != 0)
            return;
        m_leased = true;
        if (::fstat(m_descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0)
            return;
        void* at = ::mmap(nullptr, std::size_t(status.st_size), PROT_READ,
                          MAP_PRIVATE | MAP_POPULATE, m_descriptor, 0);
        if (at == MAP_FAILED)
            return;
        m_data = static_cast<const char*>(at);
        m_size = qsizetype(status.st_size);
#else
        Q_UNUSED(fileName);
#endif
    }
    ~MappedFile() {
#if defined(__linux__) && defined(F_SETLEASE) && defined(F_SETSIG) && defined(MAP_POPULATE)
        if (m_data)
            ::munmap(const_cast<char*>(m_data), std::size_t(m_size));
        if (m_leased)
            ::fcntl(m_descriptor, F_SETLEASE, F_UNLCK);
        if (m_descriptor >= 0)
            ::close(m_descriptor);
#endif
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const char* data() const {
        return m_data;
    }
    qsizetype size() const {
        return m_size;
    }

private:
    int m_descriptor = -1;
    bool m_leased = false;
    const char* m_data = nullptr;
    qsizetype m_size = 0;
};

// A failed write of the file, with the system's reason.
struct WriteFailure {
    QString reason;
};

} // namespace

namespace DataPacket {

void SaveToFile(DataTable& table, const QString& fileName) {
    auto fail = [&](const QString& reason) {
        throw CorvantisError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(fullName(fileName), reason));
    };
    PacketWriter::prepare(table);
    QSaveFile file(fileName);
    // Unbuffered: the packet arrives in large pieces anyway, and a buffered write that fails is
    // reported late, without the system's reason, and can still let commit() succeed and leave a
    // cut-off file. Every step is checked and the temporary file dropped on any failure, so the
    // old file stays as it was.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        fail(file.errorString());
    qint64 written = 0;
    auto deliver = [&](const char* bytes, std::size_t size) {
        qint64 done = 0;
        while (done < qint64(size)) {
            const qint64 n = file.write(bytes + done, qint64(size) - done);
            if (n <= 0)
                throw WriteFailure{file.errorString()};
            done += n;
        }
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
        // Start putting this piece on the disk while the next one is made, so that little is
        // left for the final sync of commit().
        sync_file_range(int(file.handle()), written, done, SYNC_FILE_RANGE_WRITE);
#endif
        written += done;
    };
    QString failure;
    try {
        PacketWriter::writeTo(table, std::size_t(4) << 20, deliver);
        if (!file.flush() || file.error() != QFileDevice::NoError)
            failure = file.errorString();
    } catch (const WriteFailure& writeFailure) {
        failure = writeFailure.reason;
    } catch (...) {
        file.cancelWriting();
        file.commit(); // removes the temporary file
        throw;
    }
    if (!failure.isNull()) {
        file.cancelWriting();
        file.commit();
        fail(failure);
    }
    // The file being replaced is let go of beside the program: freeing the blocks of a large
    // list would otherwise hold up the rename that puts the new one in its place.
    const int replaced = holdOpen(fileName);
    if (!file.commit()) {
        release(replaced);
        fail(file.errorString());
    }
    if (replaced >= 0)
        std::thread(release, replaced).detach();
}

void LoadFromFile(DataTable& table, const QString& fileName) {
    table.close();
    {
        const MappedFile mapped(fileName);
        if (mapped.data()) {
            Read(table, QByteArray::fromRawData(mapped.data(), mapped.size()));
            return;
        }
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw CorvantisError(QStringLiteral("Cannot open file \"%1\". %2")
                                 .arg(fullName(fileName), file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw CorvantisError(QStringLiteral("Cannot open file \"%1\". %2")
                                 .arg(fullName(fileName), file.errorString()));
    file.close();
    Read(table, bytes);
}

} // namespace DataPacket
