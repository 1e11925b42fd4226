#include "model/TaskProperties.h"

#include <QHash>
#include <QStringList>

#include <vector>

namespace {

// One line of the text: where it starts and ends (without its line break) and where its line
// break ends.
struct Line {
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype next = 0;
};

std::vector<Line> LinesOf(const QString& text) {
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        qsizetype next = end;
        if (next < text.size())
            next += QStringView(text).mid(next, 2) == u"\r\n" ? 2 : 1;
        lines.push_back({start, end, next});
        start = next;
    }
    return lines;
}

// The name a line goes by: the text before its "=", trimmed and in lower case; none for a line
// without one.
std::optional<QString> NameOf(QStringView line) {
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0)
        return std::nullopt;
    return line.left(equals).trimmed().toString().toLower();
}

QString LineBreakOf(const QString& text) {
    if (text.contains(QLatin1String("\r\n")))
        return QStringLiteral("\r\n");
    if (text.contains(u'\r'))
        return QStringLiteral("\r");
    return QStringLiteral("\n");
}

const Line* Find(const QString& text, const std::vector<Line>& lines, const QString& name) {
    const QString wanted = name.trimmed().toLower();
    for (const Line& line : lines)
        if (NameOf(QStringView(text).mid(line.start, line.end - line.start)) == wanted)
            return &line;
    return nullptr;
}

// The lines of a text by what they go by: a named line by its name, any other non-empty line by
// its whole text (a line of text is there or not). False when a key comes twice.
struct Keyed {
    QStringList order;
    QHash<QString, QString> line;
};
bool KeyLines(const QString& text, Keyed& keyed) {
    for (const Line& at : LinesOf(text)) {
        const QString line = text.mid(at.start, at.end - at.start);
        if (line.trimmed().isEmpty())
            continue;
        const std::optional<QString> name = NameOf(line);
        const QString key = name ? *name : QStringLiteral("\x01") + line;
        if (keyed.line.contains(key))
            return false;
        keyed.order << key;
        keyed.line.insert(key, line);
    }
    return true;
}

std::optional<QString> LineIn(const Keyed& keyed, const QString& key) {
    const auto it = keyed.line.constFind(key);
    return it == keyed.line.cend() ? std::nullopt : std::optional<QString>(*it);
}

} // namespace

namespace TaskProperties {

std::optional<QString> Value(const QString& properties, const QString& name) {
    const std::vector<Line> lines = LinesOf(properties);
    const Line* line = Find(properties, lines, name);
    if (!line)
        return std::nullopt;
    const QStringView text = QStringView(properties).mid(line->start, line->end - line->start);
    return text.mid(text.indexOf(u'=') + 1).trimmed().toString();
}

QString WithValue(const QString& properties, const QString& name,
                  const std::optional<QString>& value) {
    const std::vector<Line> lines = LinesOf(properties);
    const Line* line = Find(properties, lines, name);
    QString result = properties;
    if (line && value) {
        qsizetype from = properties.indexOf(u'=', line->start) + 1;
        while (from < line->end && properties[from].isSpace())
            ++from; // the blanks after "=" stay

        if (QStringView(properties).mid(from, line->end - from) == *value)
            return properties;
        return result.replace(from, line->end - from, *value);
    }
    if (line) {
        // The line goes with its line break; a last line without one takes the break before it.
        qsizetype from = line->start;
        qsizetype to = line->next;
        if (to == line->end && line != &lines.front())
            from = (line - 1)->end;
        return result.remove(from, to - from);
    }
    if (!value)
        return properties;
    const QString added = name + u'=' + *value;
    if (properties.isEmpty())
        return added;
    const bool ended = properties.endsWith(u'\n') || properties.endsWith(u'\r');
    return properties + (ended ? QString() : LineBreakOf(properties)) + added;
}

std::optional<QString> Merge(const QString& base, const QString& mine, const QString& theirs) {
    Keyed b, m, t;
    if (!KeyLines(base, b) || !KeyLines(mine, m) || !KeyLines(theirs, t))
        return std::nullopt;
    QHash<QString, std::optional<QString>> merged;
    bool changesMine = false;
    QStringList keys = m.order;
    for (const QString& key : t.order)
        if (!m.line.contains(key))
            keys << key;
    for (const QString& key : b.order)
        if (!keys.contains(key))
            keys << key;
    for (const QString& key : keys) {
        const std::optional<QString> was = LineIn(b, key);
        const std::optional<QString> ours = LineIn(m, key);
        const std::optional<QString> other = LineIn(t, key);
        std::optional<QString> take = ours;
        if (ours == was)
            take = other;
        else if (other != was && other != ours)
            return std::nullopt;
        changesMine |= take != ours;
        merged.insert(key, take);
    }
    if (!changesMine)
        return mine;

    // Mine's lines in their order, each as merged (gone when removed), then theirs' new lines.
    QStringList lines;
    const std::vector<Line> mineLines = LinesOf(mine);
    for (const Line& at : mineLines) {
        const QString line = mine.mid(at.start, at.end - at.start);
        if (line.trimmed().isEmpty()) {
            lines << line;
            continue;
        }
        const std::optional<QString> name = NameOf(line);
        const std::optional<QString> take =
            merged.value(name ? *name : QStringLiteral("\x01") + line);
        if (take)
            lines << *take;
    }
    for (const QString& key : t.order)
        if (!m.line.contains(key) && merged.value(key))
            lines << *merged.value(key);
    const QString lineBreak = LineBreakOf(mine.isEmpty() ? theirs : mine);
    const bool ended = mine.endsWith(u'\n') || mine.endsWith(u'\r');
    return lines.join(lineBreak) + (ended && !lines.isEmpty() ? lineBreak : QString());
}

} // namespace TaskProperties
