#include "storage/DataPacket.h"

#include "base/CorvantisError.h"
#include "model/DataTable.h"
#include "storage/HelperThread.h"
#include "storage/InputFile.h"
#include "storage/PacketReader.h"
#include "storage/PacketScanner.h"
#include "storage/PacketWriter.h"
#include "storage/SaveFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#if defined(__linux__)
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

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
// a file open for writing now), data() is nullptr and the file is read as usual. It lasts for the
// load only: the table keeps its own copy of everything it read, so another program may change
// the file as soon as the load is over.
class MappedFile {
public:
    explicit MappedFile(const InputFile& file) : m_descriptor(file.descriptor()) {
#if defined(__linux__) && defined(F_SETLEASE) && defined(F_SETSIG) && defined(MAP_POPULATE)
        // The lease's end is announced with a signal: one whose default is to be ignored, as
        // the lease ends by itself once the file is read.
        struct stat status {};
        if (::fcntl(m_descriptor, F_SETSIG, SIGURG) != 0 ||
            ::fcntl(m_descriptor, F_SETLEASE, F_RDLCK) != 0)
            return;
        m_leased = true;
        // The size under the lease: it cannot change from here on.
        if (::fstat(m_descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
            status.st_size <= 0 || status.st_size > file.size())
            return;
        // Populated in one call, which costs far less than a fault a page; the reader gives the
        // pages back as it moves on (PacketReader).
        void* at = ::mmap(nullptr, std::size_t(status.st_size), PROT_READ,
                          MAP_PRIVATE | MAP_POPULATE, m_descriptor, 0);
        if (at == MAP_FAILED)
            return;
        m_data = static_cast<const char*>(at);
        m_size = qsizetype(status.st_size);
#endif
    }
    ~MappedFile() {
#if defined(__linux__) && defined(F_SETLEASE) && defined(F_SETSIG) && defined(MAP_POPULATE)
        if (m_data)
            ::munmap(const_cast<char*>(m_data), std::size_t(m_size));
        if (m_leased)
            ::fcntl(m_descriptor, F_SETLEASE, F_UNLCK);
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
    int m_descriptor;
    bool m_leased = false;
    const char* m_data = nullptr;
    qsizetype m_size = 0;
};

// Whether bytes can begin a packet: after a byte-order mark and blanks, a "<" (or nothing yet).
// Checked before a file is mapped, so that a giant of something else is never read in full.
bool mayBeginPacket(const QByteArray& head) {
    std::string_view text(head.constData(), std::size_t(head.size()));
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    for (const char c : text)
        if (!PacketScanner::isSpace(c))
            return c == '<';
    return true;
}

// A failed write of the file, with the system's reason.
struct WriteFailure {
    QString reason;
};

// Writes the pieces of a packet to a file on a thread of its own while the next ones are made:
// copying a large list into the system's file cache then takes no time of the save's own. Each
// piece is also started on its way to the disk, so that little is left for the final sync.
class PieceWriter {
public:
    explicit PieceWriter(SaveFile& file) : m_file(file) {
        try {
            m_thread = HelperThread::Start([this] { run(); });
        } catch (const std::system_error&) {
            // No thread to be had: pieces are written as they come.
        }
    }
    ~PieceWriter() {
        if (!m_thread.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;

    // Hands on a piece once the one before is written; with no bytes, only waits for that.
    // Throws WriteFailure once a write has failed.
    void deliver(const char* bytes, std::size_t size) {
        if (!m_thread.joinable()) {
            if (m_failure.isNull() && bytes)
                m_failure = write(bytes, size);
            if (!m_failure.isNull())
                throw WriteFailure{m_failure};
            return;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait(lock, [this] { return !m_bytes; });
        if (!m_failure.isNull())
            throw WriteFailure{m_failure};
        if (!bytes)
            return;
        m_bytes = bytes;
        m_size = size;
        m_wake.notify_one();
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (true) {
            m_wake.wait(lock, [this] { return m_bytes || m_stop; });
            if (!m_bytes)
                return;
            const char* bytes = m_bytes;
            const std::size_t size = m_size;
            lock.unlock();
            const QString failure = m_failure.isNull() ? write(bytes, size) : QString();
            lock.lock();
            if (m_failure.isNull())
                m_failure = failure;
            m_bytes = nullptr;
            m_idle.notify_all();
        }
    }
    // The system's reason when the piece could not be written whole; null when it was.
    QString write(const char* bytes, std::size_t size) {
        const QString failure = m_file.write(bytes, size);
        if (!failure.isNull())
            return failure;
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
        // Only where the call exists for this file; a failure of the disk is reported here.
        if (sync_file_range(m_file.descriptor(), m_written, off_t(size), SYNC_FILE_RANGE_WRITE) !=
                0 &&
            errno != EINVAL && errno != ESPIPE && errno != ENOSYS)
            return QString::fromLocal8Bit(std::strerror(errno));
#endif
        m_written += off_t(size);
        return QString();
    }

    SaveFile& m_file;
    off_t m_written = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake; // a piece to write, or the end
    std::condition_variable m_idle; // the piece is written
    const char* m_bytes = nullptr;  // the piece being written
    std::size_t m_size = 0;
    bool m_stop = false;
    QString m_failure;
};

} // namespace

namespace DataPacket {

namespace {

QString save(const DataTable& table, const QString& fileName, bool withPending,
             SaveFile::Access access) {
    // Every step is checked and the temporary file dropped on any failure, so the old file
    // stays as it was.
    SaveFile file(fileName, access);
    QString failure;
    try {
        PieceWriter pieces(file);
        PacketWriter::writeTo(
            table, std::size_t(4) << 20,
            [&](const char* bytes, std::size_t size) { pieces.deliver(bytes, size); }, withPending);
    } catch (const WriteFailure& writeFailure) {
        failure = writeFailure.reason;
    }
    if (!failure.isNull())
        file.fail(failure);
    // The file being replaced is let go of beside the program: freeing the blocks of a large
    // list would otherwise hold up the rename that puts the new one in its place.
    const int replaced = holdOpen(fileName);
    QString warning;
    try {
        warning = file.commit();
    } catch (...) {
        release(replaced);
        throw;
    }
    if (replaced < 0)
        return warning;
    try {
        HelperThread::Start([replaced] { release(replaced); }).detach();
    } catch (const std::system_error&) {
        release(replaced); // no thread to be had: here, then
    }
    return warning;
}

} // namespace

QString SaveToFile(DataTable& table, const QString& fileName) {
    PacketWriter::prepare(table);
    return save(table, fileName, false, SaveFile::Access::Shared);
}

QString SaveCopyToFile(const DataTable& table, const QString& fileName) {
    if (!table.isActive())
        throw CorvantisError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    return save(table, fileName, true, SaveFile::Access::Private);
}

ReadNotice LoadFromFile(DataTable& table, const QString& fileName, qint64 maxSize) {
    table.close();
    const InputFile file(fileName, maxSize);
    if (file.size() > 0 && !mayBeginPacket(file.head(4096)))
        PacketScanner::mismatch();
    {
        // Nothing read from the mapping outlives it: the table owns every byte it keeps.
        const MappedFile mapped(file);
        if (mapped.data())
            return PacketReader::readInto(
                table, QByteArray::fromRawData(mapped.data(), mapped.size()), true);
    }
    return Read(table, file.readAll());
}

QString ReadNotice::text(const QString& fileName) const {
    if (!notUtf8)
        return QString();
    return QStringLiteral("The list \"%1\" held bytes that were not UTF-8 text. %2 Saving the "
                          "list writes its text as UTF-8.")
        .arg(InputFile::fullName(fileName),
             replaced ? QStringLiteral("Each was read as the replacement character \uFFFD.")
                      : QStringLiteral("Each was read as the Windows-1252 character of its "
                                       "number, the rest of the text as UTF-8."));
}

} // namespace DataPacket
