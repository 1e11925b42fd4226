#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A whole file's bytes, for tests that compare what was written byte for byte.
inline QByteArray ReadFileBytes(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteFileBytes(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
