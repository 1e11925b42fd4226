#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

#include <functional>

// The shared routines of dates and the clock (unit uGeneral). Qt Core only.
namespace uGeneral {

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

} // namespace uGeneral
