#include "storage/DataPacket.h"

#include "model/CorvantisError.h"
#include "model/DataTable.h"
#include "model/RowData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

QString fullName(const QString& fileName) {
    return QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
}

} // namespace

namespace DataPacket {

void SaveToFile(DataTable& table, const QString& fileName) {
    const QByteArray bytes = Write(table);
    auto fail = [&](const QString& reason) {
        throw CorvantisError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(fullName(fileName), reason));
    };
    QSaveFile file(fileName);
    // Unbuffered: the packet is written in one piece anyway, and a buffered write that fails is
    // reported late, without the system's reason, and can still let commit() succeed and leave a
    // cut-off file. Every step is checked and the temporary file dropped on any failure, so the
    // old file stays as it was.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        fail(file.errorString());
    qint64 done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        ok = n > 0;
        done += ok ? n : 0;
    }
    ok = ok && file.flush() && file.error() == QFileDevice::NoError;
    if (!ok) {
        const QString reason = file.errorString();
        file.cancelWriting();
        file.commit(); // removes the temporary file
        fail(reason);
    }
    if (!file.commit())
        fail(file.errorString());
}

void LoadFromFile(DataTable& table, const QString& fileName) {
    table.close();
    QFile file(fileName);
    auto fail = [&] {
        throw CorvantisError(QStringLiteral("Cannot open file \"%1\". %2")
                                 .arg(fullName(fileName), file.errorString()));
    };
    // Read straight into a buffer of the file's size (one byte more tells a file that grew in
    // the meantime): a large list is read without the copies and page faults of a growing one.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        fail();
    LargeBlock buffer(std::size_t(std::max<qint64>(file.size(), 0)) + 1);
    qint64 done = 0;
    const auto capacity = qint64(buffer.size());
    while (done < capacity) {
        const qint64 n = file.read(buffer.data() + done, capacity - done);
        if (n < 0)
            fail();
        if (n == 0)
            break;
        done += n;
    }
    if (done < capacity) {
        file.close();
        Read(table, QByteArray::fromRawData(buffer.data(), done));
        return;
    }
    QByteArray bytes(buffer.data(), done);
    buffer = LargeBlock();
    bytes += file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail();
    file.close();
    Read(table, bytes);
}

} // namespace DataPacket
