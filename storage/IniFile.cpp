#include "storage/IniFile.h"

#include "base/CorvantisError.h"
#include "storage/InputFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

QString trimBlanks(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isBlank(text.at(start)))
        ++start;
    while (end > start && isBlank(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

bool isQuote(QChar c) {
    return c == u'"' || c == u'\'';
}

bool quotedPair(const QString& value) {
    return value.size() >= 2 && isQuote(value.front()) && value.front() == value.back();
}

QString decodeLine(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder ansi("windows-1252");
    return ansi.isValid() ? QString(ansi(bytes)) : QString::fromLatin1(bytes);
}

} // namespace

IniFile::Line IniFile::parseLine(QByteArray bytes, QByteArray ending, bool first) {
    Line line;
    line.bytes = std::move(bytes);
    line.ending = std::move(ending);
    QByteArray content = line.bytes;
    if (first && content.startsWith("\xEF\xBB\xBF"))
        content.remove(0, 3);
    const QString text = trimBlanks(decodeLine(content));
    if (text.isEmpty())
        return line;
    const qsizetype close = text.lastIndexOf(u']');
    if (text.front() == u'[' && close > 0) {
        line.kind = Kind::Section;
        line.name = trimBlanks(text.mid(1, close - 1)).toCaseFolded();
        return line;
    }
    const qsizetype eq = text.indexOf(u'=');
    if (eq < 0) {
        line.kind = Kind::KeyWithoutValue;
        line.name = text.toCaseFolded();
        return line;
    }
    line.kind = Kind::Key;
    line.name = trimBlanks(text.left(eq)).toCaseFolded();
    line.value = trimBlanks(text.mid(eq + 1));
    return line;
}

IniFile IniFile::fromBytes(const QByteArray& bytes) {
    IniFile file;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype newline = bytes.indexOf('\n', start);
        qsizetype end = newline < 0 ? bytes.size() : newline;
        qsizetype contentEnd = end;
        if (newline >= 0 && contentEnd > start && bytes.at(contentEnd - 1) == '\r')
            --contentEnd;
        file.m_lines.push_back(
            parseLine(bytes.mid(start, contentEnd - start),
                      newline < 0 ? QByteArray() : bytes.mid(contentEnd, newline + 1 - contentEnd),
                      start == 0));
        start = newline < 0 ? bytes.size() : newline + 1;
    }
    return file;
}

IniFile IniFile::load(const QString& fileName) {
    if (!QFile::exists(fileName))
        return IniFile();
    return fromBytes(InputFile(fileName, MaxFileSize).readAll());
}

void IniFile::rebuildIndex() const {
    if (m_indexValid)
        return;
    m_sectionIndex.clear();
    m_keyIndex.clear();
    QHash<QString, int>* keys = nullptr; // the keys of the section being read, when it is first
    for (int i = 0; i < static_cast<int>(m_lines.size()); ++i) {
        const Line& line = m_lines[static_cast<std::size_t>(i)];
        if (line.kind == Kind::Section) {
            if (m_sectionIndex.contains(line.name)) {
                keys = nullptr; // a later section of the same name is never read
            } else {
                m_sectionIndex.insert(line.name, i);
                keys = &m_keyIndex[line.name];
            }
        } else if (keys && line.kind != Kind::Blank && !keys->contains(line.name)) {
            keys->insert(line.name, i);
        }
    }
    m_indexValid = true;
}

int IniFile::findSection(const QString& folded) const {
    rebuildIndex();
    return m_sectionIndex.value(folded, -1);
}

int IniFile::sectionEnd(int header) const {
    int i = header + 1;
    while (i < static_cast<int>(m_lines.size()) &&
           m_lines[static_cast<std::size_t>(i)].kind != Kind::Section)
        ++i;
    return i;
}

QString IniFile::readString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
    rebuildIndex();
    const auto keys = m_keyIndex.constFind(trimBlanks(section).toCaseFolded());
    if (keys == m_keyIndex.constEnd())
        return defaultValue;
    const int at = keys->value(trimBlanks(key).toCaseFolded(), -1);
    if (at < 0)
        return defaultValue;
    const Line& line = m_lines[static_cast<std::size_t>(at)];
    if (line.kind != Kind::Key)
        return defaultValue;
    QString value = quotedPair(line.value) ? line.value.mid(1, line.value.size() - 2) : line.value;
    if (value.size() > MaxValueLength) {
        // Never keep half of a surrogate pair.
        const bool split = value.at(MaxValueLength - 1).isHighSurrogate();
        value.truncate(split ? MaxValueLength - 1 : MaxValueLength);
    }
    return value;
}

void IniFile::eraseSection(const QString& section) {
    const QString folded = trimBlanks(section).toCaseFolded();
    std::vector<Line> kept;
    kept.reserve(m_lines.size());
    bool erasing = false;
    for (Line& line : m_lines) {
        if (line.kind == Kind::Section)
            erasing = line.name == folded;
        if (!erasing)
            kept.push_back(std::move(line));
    }
    m_lines = std::move(kept);
    m_indexValid = false;
}

QByteArray IniFile::newLineEnding() const {
    for (const Line& line : m_lines)
        if (!line.ending.isEmpty())
            return line.ending;
    return QByteArrayLiteral("\n");
}

void IniFile::addLine(int at, const QString& text) {
    const QByteArray ending = newLineEnding();
    if (at > 0) {
        // The line before must end, or the new line would join it.
        Line& before = m_lines[static_cast<std::size_t>(at - 1)];
        if (before.ending.isEmpty())
            before.ending = ending;
    }
    m_lines.insert(m_lines.begin() + at, parseLine(text.toUtf8(), ending, at == 0));
    m_indexValid = false;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    // A line break inside a value would start a line of its own.
    QString text = trimBlanks(QString(value).replace(u'\r', u' ').replace(u'\n', u' '));
    // Reading drops a pair of enclosing quotes; quote once more so the value comes back whole.
    if (quotedPair(text))
        text = u'"' + text + u'"';
    const QString name = trimBlanks(key);

    const int header = findSection(trimBlanks(section).toCaseFolded());
    if (header < 0) {
        int at = static_cast<int>(m_lines.size());
        if (at > 0 && m_lines.back().kind != Kind::Blank)
            addLine(at++, QString()); // a blank line between sections
        addLine(at++, u'[' + trimBlanks(section) + u']');
        addLine(at, name + u'=' + text);
        return;
    }
    const int at = m_keyIndex.value(m_lines[static_cast<std::size_t>(header)].name)
                       .value(name.toCaseFolded(), -1);
    if (at >= 0) {
        // The key keeps the spelling it has in the file.
        Line& line = m_lines[static_cast<std::size_t>(at)];
        const QString old = trimBlanks(decodeLine(line.bytes));
        const QString spelling = trimBlanks(old.left(old.indexOf(u'=')));
        line = parseLine((spelling + u'=' + text).toUtf8(), line.ending, at == 0);
        m_indexValid = false;
        return;
    }
    // After the section's last non-blank line, so blank lines before the next section stay there.
    int last = sectionEnd(header) - 1;
    while (last > header && m_lines[static_cast<std::size_t>(last)].kind == Kind::Blank)
        --last;
    addLine(last + 1, name + u'=' + text);
}

QByteArray IniFile::toBytes() const {
    QByteArray bytes;
    for (const Line& line : m_lines)
        bytes += line.bytes + line.ending;
    return bytes;
}

void IniFile::save(const QString& fileName) const {
    QSaveFile file(fileName);
    // A folder we may not create files in can still hold a file we may write.
    file.setDirectWriteFallback(true);
    const QByteArray bytes = toBytes();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw CorvantisError(QStringLiteral("Unable to write to ") + fileName);
}
