#pragma once

#include "shell/uGeneral.h"

#include <QDateTime>
#include <QLocale>

// Pins the locale and the clock so date texts and "today" are the same on every machine.
inline void PinLocaleAndClock(const QDateTime& now = QDateTime(QDate(2025, 3, 12),
                                                               QTime(14, 5, 9, 123))) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    uGeneral::SetClockForTesting([now] { return now; });
}
