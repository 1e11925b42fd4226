#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <vector>

// A Windows-style initialisation file ("[Section]" lines followed by "Key=Value" lines), read and
// written the way the platform's private-profile functions do it:
// - section and key names are compared without regard to case; the first section of a name is
//   the one read, and within it the first key of a name;
// - names and values are trimmed of blanks; a value enclosed in a pair of matching quotes (single
//   or double) is read without them; a value is read up to MaxValueLength characters;
// - writing touches only the lines it must: every other line of the file keeps its bytes, its
//   line ending included.
// Lines are decoded one by one: UTF-8 when they are well-formed UTF-8, Windows-1252 otherwise.
// Written lines are UTF-8.
class IniFile {
public:
    static constexpr int MaxValueLength = 2047;
    // The largest file read: far more than any settings file needs, little enough to read at
    // once.
    static constexpr qint64 MaxFileSize = qint64(1) << 20;

    IniFile() = default;
    static IniFile fromBytes(const QByteArray& bytes);
    // A missing file gives an empty one. Throws CorvantisError "Cannot open file "<full name>".
    // <reason>" when it exists but cannot be read, is not a regular file or is over MaxFileSize.
    static IniFile load(const QString& fileName);

    // The value of a key, or defaultValue when the section or the key is missing or the key has no
    // "=" part.
    QString readString(const QString& section, const QString& key,
                       const QString& defaultValue = QString()) const;
    // Removes every section of that name with all its lines.
    void eraseSection(const QString& section);
    // Replaces the key's line in the first section of that name, or adds the key at the end of
    // that section, or adds the section at the end of the file.
    void writeString(const QString& section, const QString& key, const QString& value);

    QByteArray toBytes() const;
    // Replaces the file in one step. Throws CorvantisError "Unable to write to <name>".
    void save(const QString& fileName) const;

private:
    enum class Kind { Blank, Section, Key, KeyWithoutValue };
    struct Line {
        QByteArray bytes;  // as in the file, without the line ending
        QByteArray ending; // "\r\n", "\n" or nothing (last line)
        Kind kind = Kind::Blank;
        QString name;  // section or key name, case-folded
        QString value; // trimmed, quotes kept
    };
    static Line parseLine(QByteArray bytes, QByteArray ending, bool first);
    QByteArray newLineEnding() const;
    void addLine(int at, const QString& text);
    // Index of the first section header of that name, -1 when missing.
    int findSection(const QString& folded) const;
    // One past the section's last line: the next section header, or the end of the file.
    int sectionEnd(int header) const;
    void rebuildIndex() const;

    std::vector<Line> m_lines;
    // First header line of each section, and the first line of each key of that section.
    mutable bool m_indexValid = false;
    mutable QHash<QString, int> m_sectionIndex;
    mutable QHash<QString, QHash<QString, int>> m_keyIndex;
};
