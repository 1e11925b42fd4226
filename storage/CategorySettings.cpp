#include "storage/CategorySettings.h"

#include "base/CorvantisError.h"
#include "storage/IniFile.h"

#include <QDir>

namespace {
const QString Section = QStringLiteral("Category");

QString keyName(int n) {
    return QStringLiteral("Line") + QString::number(n);
}
} // namespace

namespace CategorySettings {

QString FileName(const QString& programFolder) {
    return QDir(programFolder).absoluteFilePath(QStringLiteral("Corvantis.ini"));
}

QStringList Read(const QString& fileName, QString* error) {
    IniFile file;
    try {
        file = IniFile::load(fileName);
    } catch (const CorvantisError& failure) {
        if (error)
            *error = failure.message() + QStringLiteral(" The category list starts empty.");
        return {};
    }
    QStringList names;
    for (int n = 0;; ++n) {
        const QString name = file.readString(Section, keyName(n));
        if (name.isEmpty())
            return names;
        names << name;
    }
}

void Save(const QString& fileName, const QStringList& lines) {
    IniFile file;
    try {
        // Read afresh, so sections another program changed since start-up are kept too.
        file = IniFile::load(fileName);
    } catch (const CorvantisError&) {
        // Writing now would replace the sections we could not read.
        throw CorvantisError(QStringLiteral("Unable to write to ") + fileName);
    }
    file.eraseSection(Section);
    int n = 0;
    for (const QString& line : lines)
        if (!line.trimmed().isEmpty())
            file.writeString(Section, keyName(n++), line);
    file.save(fileName);
}

} // namespace CategorySettings
