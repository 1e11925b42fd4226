#pragma once

#include <QString>
#include <QStringList>

// The shared routines of text, file names and lines (unit uGeneral).
namespace uGeneral {

// Last path component of a file name without its last extension ("C:/a/Home.Work.cv1" gives
// "Home.Work"; a name without a dot is returned whole).
QString CaptionFromFileName(const QString& fileName);

// The folder part of a file name: everything up to and including the last path separator.
QString FolderPart(const QString& fileName);

// Sorts lines in ascending order, case ignored, by the locale's collation. An exchange sort:
// lines that compare equal may change their relative order.
void SortLines(QStringList& lines);

// Trims blanks and control characters (everything up to and including U+0020) from both ends.
QString TrimBlanksAndControls(const QString& text);

} // namespace uGeneral
