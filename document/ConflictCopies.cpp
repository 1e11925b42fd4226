#include "document/ConflictCopies.h"

#include "base/CorvantisError.h"
#include "model/DataTable.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"

#include <QCryptographicHash>
#include <QSet>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <utility>
#include <vector>

namespace ConflictCopies {

namespace {

struct Pattern {
    const char* tool;
    const char* middle; // between the name and the extension
};

// Dates and times as each tool writes them; Dropbox may number copies of one day.
constexpr Pattern Patterns[] = {
    {"Syncthing", R"(\.sync-conflict-\d{8}-\d{6}-[A-Z0-9]{7})"},
    {"Nextcloud", R"( \(conflicted copy (?:.+ )?\d{4}-\d{2}-\d{2} \d{6}\))"},
    {"ownCloud", R"(_conflict-\d{8}-\d{6})"},
    {"Dropbox", R"( \(.+['’]s conflicted copy \d{4}-\d{2}-\d{2}(?: \(\d+\))?\)(?: \(\d+\))?)"},
};

} // namespace

QString ToolOf(const QString& name, const QString& listName) {
    const QFileInfo list(listName);
    const QString base = list.completeBaseName();
    const QString extension =
        list.suffix().isEmpty() ? QString() : QStringLiteral(".") + list.suffix();
    if (base.isEmpty() || !name.startsWith(base) || !name.endsWith(extension) ||
        name.size() <= listName.size())
        return QString();
    const QString middle = name.mid(base.size(), name.size() - base.size() - extension.size());
    static const std::vector<std::pair<QString, QRegularExpression>> expressions = [] {
        std::vector<std::pair<QString, QRegularExpression>> made;
        for (const Pattern& pattern : Patterns)
            made.emplace_back(QString::fromLatin1(pattern.tool),
                              QRegularExpression(QRegularExpression::anchoredPattern(
                                  QString::fromUtf8(pattern.middle))));
        return made;
    }();
    for (const auto& [tool, expression] : expressions)
        if (expression.match(middle).hasMatch())
            return tool;
    return QString();
}

std::vector<Copy> Find(const QString& listFile) {
    const QFileInfo list(listFile);
    std::vector<Copy> copies;
    const QFileInfoList files =
        list.absoluteDir().entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& file : files) {
        const QString tool = ToolOf(file.fileName(), list.fileName());
        if (!tool.isEmpty())
            copies.push_back({file.absoluteFilePath(), tool, file.lastModified()});
    }
    std::sort(copies.begin(), copies.end(), [](const Copy& a, const Copy& b) {
        return a.modified != b.modified ? a.modified > b.modified : a.fileName < b.fileName;
    });
    return copies;
}

bool Holds(const QString& listFile, const QString& copy) {
    // A version is its values but its ID (a merge may give a task another one); the file holds
    // the copy when it holds every version the copy holds.
    const auto versionsIn = [](const QString& file) {
        DataTable table;
        TaskTable::Configure(table);
        DataPacket::LoadFromFile(table, file);
        QSet<QByteArray> versions;
        const int id = table.autoIncField();
        for (std::size_t v = 0; v < table.versionCount(); ++v) {
            QCryptographicHash hash(QCryptographicHash::Sha1);
            table.forEachValueOf(v, [&](int field, std::string_view bytes) {
                if (field == id || bytes.empty())
                    return;
                hash.addData(QByteArray::number(field) + ':' +
                             QByteArray::number(qsizetype(bytes.size())) + ':');
                hash.addData(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
            });
            versions.insert(hash.result());
        }
        return versions;
    };
    try {
        const QSet<QByteArray> held = versionsIn(listFile);
        const QSet<QByteArray> wanted = versionsIn(copy);
        return std::all_of(wanted.begin(), wanted.end(),
                           [&](const QByteArray& version) { return held.contains(version); });
    } catch (const CorvantisError&) {
        return false;
    }
}

} // namespace ConflictCopies
