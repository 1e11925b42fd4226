#pragma once

#include <QString>
#include <QTime>

// The reminder options in the settings file: section "Reminders", Enabled=1 or 0 and Time=HH:MM
// (the time of day the day's reminders are given). Every other section is left as it is.
namespace ReminderSettings {

struct Options {
    bool enabled = true;
    QTime time = QTime(9, 0);
    bool operator==(const Options& other) const {
        return enabled == other.enabled && time == other.time;
    }
};

// The options of a settings file; a missing key, a value that is not one of the above or a file
// that cannot be read gives the default (on, 09:00). For an unreadable file, error (when given)
// receives the message for the user.
Options Read(const QString& fileName, QString* error = nullptr);

// Writes both keys, keeping every other line of the file. Throws CorvantisError
// "Unable to write to <fileName>".
void Save(const QString& fileName, const Options& options);

} // namespace ReminderSettings
