#include "document/ConflictCopies.h"

#include "base/CorvantisError.h"
#include "document/ListDocument.h"

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
    try {
        ListDocument onDisk;
        if (!onDisk.load(listFile))
            return false;
        const ListDocument::PreparedMerge again = onDisk.prepareMerge(copy);
        return again.plan.isEmpty() && again.plan.conflicts.empty();
    } catch (const CorvantisError&) {
        return false;
    }
}

} // namespace ConflictCopies
