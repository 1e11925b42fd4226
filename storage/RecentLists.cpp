#include "storage/RecentLists.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "base/TextLines.h"
#include "model/DataTable.h"
#include "storage/DataPacket.h"
#include "storage/InputFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
const QString FileField = QStringLiteral("File");
const QString LastUsedField = QStringLiteral("LastUsed");
const QString IndexName = QStringLiteral("MyIndex");
} // namespace

RecentLists::RecentLists(const QString& programFolder, QObject* parent)
    : QObject(parent), m_folder(programFolder), cdsFiles(new DataTable(this)) {
    setObjectName(QStringLiteral("RecentLists"));
    cdsFiles->setObjectName(QStringLiteral("cdsFiles"));
    cdsFiles->createEmpty(fields());
    configure();
}

FieldList RecentLists::fields() {
    FieldList fields(2);
    fields[0].name = FileField;
    fields[0].kind = FieldKind::String;
    fields[0].width = FileWidth;
    fields[1].name = LastUsedField;
    fields[1].kind = FieldKind::DateTime;
    return fields;
}

QString RecentLists::filterFor(const QString& text) {
    QString pattern = u'%' + text + u'%';
    return QStringLiteral("File LIKE '") + pattern.replace(u'\'', QStringLiteral("''")) + u'\'';
}

bool RecentLists::fileIsMissing(const QString& fileName) {
    const QFileInfo info(fileName);
    return fileName.isEmpty() || !info.exists() || info.isDir();
}

QString RecentLists::fileName() const {
    return QDir(m_folder).absoluteFilePath(QStringLiteral("Recent.XML"));
}

void RecentLists::configure() {
    cdsFiles->setKeepHistory(false);
    cdsFiles->setIndexDefs({IndexDef{IndexName, LastUsedField, true, false}});
    cdsFiles->setIndexName(IndexName);
    cdsFiles->first(); // the most recently used list
}

QString RecentLists::LoadRecent() {
    m_loadError = readRecent();
    emit changed();
    return m_loadError;
}

QString RecentLists::readRecent() {
    m_unwritten = false;
    const QString name = fileName();
    if (!QFileInfo::exists(name))
        return QString();
    try {
        DataPacket::LoadFromFile(*cdsFiles, name, MaxFileSize);
        // A packet of some other table would leave every later step failing.
        const int file = cdsFiles->fieldIndexOrThrow(FileField);
        const int lastUsed = cdsFiles->fieldIndexOrThrow(LastUsedField);
        if (!cdsFiles->fields()[static_cast<std::size_t>(file)].isText() ||
            cdsFiles->fields()[static_cast<std::size_t>(lastUsed)].kind != FieldKind::DateTime)
            throw CorvantisError(QStringLiteral("Mismatch in datapacket."));
        configure();
        return QString();
    } catch (const CorvantisError& error) {
        cdsFiles->createEmpty(fields());
        configure();
        QString reason = error.message();
        if (reason.endsWith(u'.'))
            reason.chop(1);
        // Keep the unreadable file for the user instead of overwriting it at the next write.
        QString failure;
        const QString kept = keepAside(failure);
        if (kept.isEmpty())
            return QStringLiteral("The recent lists in \"%1\" cannot be read (%2). The file "
                                  "could not be moved aside (%3); the recent lists start empty.")
                .arg(InputFile::fullName(name), reason, failure);
        return QStringLiteral("The recent lists in \"%1\" cannot be read (%2). The file was kept "
                              "as \"%3\", and the recent lists start empty.")
            .arg(InputFile::fullName(name), reason, InputFile::fullName(kept));
    }
}

QString RecentLists::keepAside(QString& failure) const {
    const QByteArray from = QFile::encodeName(fileName());
    for (int n = 0; n < 1000; ++n) {
        const QString name =
            n == 0 ? backupFileName() : backupFileName() + u'.' + QString::number(n);
        const QByteArray to = QFile::encodeName(name);
        // An earlier copy is never replaced.
        int result =
            ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system that cannot refuse to replace: look first.
            struct stat status {};
            if (::lstat(to.constData(), &status) == 0)
                errno = EEXIST;
            else
                result = ::rename(from.constData(), to.constData());
        }
        if (result == 0)
            return name;
        if (errno != EEXIST) {
            failure = QString::fromLocal8Bit(std::strerror(errno));
            return QString();
        }
    }
    failure = QStringLiteral("too many earlier copies");
    return QString();
}

bool RecentLists::contains(const QString& fileName) const {
    const int field = cdsFiles->fieldIndexOrThrow(FileField);
    const int width = cdsFiles->fields()[static_cast<std::size_t>(field)].width;
    // The stored form, cut to the width in characters: a longer name would never match its own
    // row and would be added again each time.
    QString stored = fileName;
    if (width > 0) {
        const QList<uint> chars = fileName.toUcs4();
        if (chars.size() > width)
            stored = QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), width);
    }
    for (const DataTable::RowId row : cdsFiles->allRows())
        if (cdsFiles->textOf(cdsFiles->rowData(row), field) == stored)
            return true;
    return false;
}

void RecentLists::AddRecent(const QString& fileName) {
    cdsFiles->settle();
    if (contains(fileName))
        return;
    try {
        cdsFiles->append();
        cdsFiles->setString(FileField, fileName);
        cdsFiles->setDateTime(LastUsedField, uGeneral::Now());
        cdsFiles->post();
    } catch (const CorvantisError&) {
        cdsFiles->cancel();
        throw;
    }
    m_unwritten = true;
    emit changed();
}

QString RecentLists::currentFile() const {
    if (cdsFiles->currentRow() < 0)
        return QString();
    return cdsFiles->asString(FileField);
}

void RecentLists::markCurrentUsed() {
    if (cdsFiles->currentRow() < 0)
        return;
    cdsFiles->edit();
    cdsFiles->setDateTime(LastUsedField, uGeneral::Now());
    cdsFiles->post();
    m_unwritten = true;
    emit changed();
}

bool RecentLists::renameCurrent(const QString& answer) {
    if (cdsFiles->currentRow() < 0 || answer.trimmed().isEmpty())
        return false;
    const QString old = currentFile();
    QString target = answer;
    if (QFileInfo(answer).isRelative() && !uGeneral::FolderPart(old).isEmpty())
        target = uGeneral::FolderPart(old) + answer;
    if (target == old)
        return false;
    QFile file(old);
    if (!file.rename(target))
        throw CorvantisError(QStringLiteral("Cannot rename file \"%1\" to \"%2\". %3")
                                 .arg(old, target, file.errorString()));
    cdsFiles->edit();
    cdsFiles->setString(FileField, target);
    cdsFiles->post();
    m_unwritten = true;
    emit changed();
    return true;
}

bool RecentLists::removeCurrent() {
    cdsFiles->settle();
    if (cdsFiles->currentRow() < 0)
        return false;
    cdsFiles->remove();
    m_unwritten = true;
    emit changed();
    return true;
}

void RecentLists::setFilterText(const QString& text) {
    if (text.isEmpty()) {
        cdsFiles->setFiltered(false);
        return;
    }
    cdsFiles->setFilter(filterFor(text));
    cdsFiles->setFiltered(true);
}

void RecentLists::save() {
    DataPacket::SaveToFile(*cdsFiles, fileName());
    m_unwritten = false;
}

bool RecentLists::saveIfChanged() {
    if (!m_unwritten)
        return true;
    try {
        save();
        return true;
    } catch (const CorvantisError&) {
        return false;
    }
}
