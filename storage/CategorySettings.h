#pragma once

#include <QString>
#include <QStringList>

// The category list in the settings file: section "Category", keys Line0, Line1, ... holding one
// category name each, numbered from 0 without gaps.
namespace CategorySettings {

// The settings file of a program folder: the folder + "Corvantis.ini".
QString FileName(const QString& programFolder);

// The names from Line0 up to the first key that is missing or empty, in key order. A missing or
// unreadable file gives no names; for an unreadable one, error (when given) receives the message
// for the user.
QStringList Read(const QString& fileName, QString* error = nullptr);

// Rewrites the section with the non-blank lines, numbered without gaps (a blank line would end
// the list at the next reading and lose every line after it). Every other line of the file is
// kept. Throws CorvantisError "Unable to write to <fileName>".
void Save(const QString& fileName, const QStringList& lines);

} // namespace CategorySettings
