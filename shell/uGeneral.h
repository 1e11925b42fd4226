#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

// Routines shared by several parts of the program. Compiled into the core library: no widgets.
namespace uGeneral {

// Last path component of a file name without its last extension ("C:/a/Home.Work.cv1" gives
// "Home.Work"; a name without a dot is returned whole).
QString CaptionFromFileName(const QString& fileName);

// Sorts lines in ascending order, case ignored, by the locale's collation. An exchange sort:
// lines that compare equal may change their relative order.
void SortLines(QStringList& lines);

// The login name of the user running the program: the password database's entry, else the
// USER, else the LOGNAME environment variable. Throws CorvantisError with
// "System Error.  Code: %d." and the system's description on a new line when none gives one.
QString CurrentUserName();
// The same choice made from the database's answer (nullptr: no entry, lookupError: why).
QString UserNameFrom(const char* databaseName, int lookupError);
// The text of a failed system call as CurrentUserName reports it.
QString SystemErrorMessage(int code);
void SetCurrentUserNameForTesting(std::function<QString()> source);

// The user's short date format: the default locale's short format with a two-digit year widened
// to four digits, so a date written into a filter reads back as the same day.
QString ShortDateFormat();
QString FormatShortDate(const QDate& date);
// Reads a date written in the short date format; an invalid QDate when the text is not one.
QDate ParseShortDate(const QString& text);
// The locale's date and time form, used where a date and time is shown.
QString FormatDateTime(const QDateTime& dateTime);

// The clock. Tests can pin it; production reads the local clock.
QDateTime Now();
QDate Today();
void SetClockForTesting(std::function<QDateTime()> clock);

// Trims blanks and control characters (everything up to and including U+0020) from both ends.
QString TrimBlanksAndControls(const QString& text);

// The folder part of a file name: everything up to and including the last path separator.
QString FolderPart(const QString& fileName);

} // namespace uGeneral
