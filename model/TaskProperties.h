#pragma once

#include <QString>

#include <optional>

// The lines of a task's Properties text, "name=value" each, read and written by name (names
// compare without case, as the calendar side spells them in capitals and users may not). A line
// without "=" is a line of text that no name reaches; it stays where it is.
namespace TaskProperties {

// The value of the first line of that name (trimmed at its end); none when no line has it.
std::optional<QString> Value(const QString& properties, const QString& name);

// The text with the first line of that name given the value (its other characters kept), a line
// added at the end in the text's own line breaks when none has it, or the line removed when the
// value is none. Every other character stays as it was.
QString WithValue(const QString& properties, const QString& name,
                  const std::optional<QString>& value);

// Two texts that both changed since a common one, merged line by line keyed by name: a line
// changed (added, edited or removed) on one side takes that side; the same change on both is
// no conflict. Mine's lines keep their order, lines only theirs added follow at the end. None
// when one name changed differently on both sides, or a side holds a name twice.
std::optional<QString> Merge(const QString& base, const QString& mine, const QString& theirs);

} // namespace TaskProperties
