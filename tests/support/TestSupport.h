#pragma once

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>

// Pins the locale and the clock so date texts and "today" are the same on every machine.
inline void PinLocaleAndClock(const QDateTime& now = QDateTime(QDate(2025, 3, 12),
                                                               QTime(14, 5, 9, 123))) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    uGeneral::SetClockForTesting([now] { return now; });
}

// The message a failing call shows the user; empty when it did not fail.
inline QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CorvantisError& e) {
        return e.message();
    }
    return QString();
}
