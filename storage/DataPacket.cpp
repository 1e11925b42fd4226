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
#include <fcntl.h>
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
