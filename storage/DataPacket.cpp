#include "storage/DataPacket.h"

#include "model/CorvantisError.h"
#include "model/DataTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
