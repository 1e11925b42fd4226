#pragma once

#include <QByteArray>
#include <QString>

// A file from outside opened for reading: without waiting (opening a named pipe would block the
// program for good) and only when it is a regular file of at most a given size (a device would
// never end, a sparse giant would be read in full). Every refusal and system error throws
// CorvantisError "Cannot open file "<full name>". <reason>".
class InputFile {
public:
    InputFile(const QString& fileName, qint64 maxSize);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    int descriptor() const { return m_descriptor; }
    // The size when it was opened.
    qint64 size() const { return m_size; }
    // Up to count bytes from the start.
    QByteArray head(qint64 count) const;
    // The whole file, read from the start (at most the size limit).
    QByteArray readAll() const;

    // The name as messages show it: absolute, with the platform's separators.
    static QString fullName(const QString& fileName);
    // The size of a file as messages give it, in MB with one decimal.
    static QString megabytes(qint64 bytes);

private:
    [[noreturn]] void fail(const QString& reason) const;
    [[noreturn]] void failWithSystemError() const;
    qint64 readAt(char* into, qint64 count, qint64 offset) const;

    QString m_fileName;
    qint64 m_maxSize;
    int m_descriptor = -1;
    qint64 m_size = 0;
};
