#include "reminders/ReminderSettings.h"

#include "base/CorvantisError.h"
#include "storage/IniFile.h"

namespace {
const QString Section = QStringLiteral("Reminders");
const QString EnabledKey = QStringLiteral("Enabled");
const QString TimeKey = QStringLiteral("Time");
const QString TimeFormat = QStringLiteral("HH:mm");
const QString TimeFormatRead = QStringLiteral("H:mm"); // an hour of one digit too
} // namespace

namespace ReminderSettings {

Options Read(const QString& fileName, QString* error) {
    Options options;
    IniFile file;
    try {
        file = IniFile::load(fileName);
    } catch (const CorvantisError& failure) {
        if (error)
            *error = failure.message() + QStringLiteral(" Reminders keep their defaults.");
        return options;
    }
    const QString enabled = file.readString(Section, EnabledKey);
    if (enabled == u"0")
        options.enabled = false;
    const QTime time =
        QTime::fromString(file.readString(Section, TimeKey).trimmed(), TimeFormatRead);
    if (time.isValid())
        options.time = time;
    return options;
}

void Save(const QString& fileName, const Options& options) {
    IniFile file;
    try {
        // Read afresh, so sections another program changed since start-up are kept too.
        file = IniFile::load(fileName);
    } catch (const CorvantisError&) {
        // Writing now would replace the sections we could not read.
        throw CorvantisError(QStringLiteral("Unable to write to ") + fileName);
    }
    file.writeString(Section, EnabledKey,
                     options.enabled ? QStringLiteral("1") : QStringLiteral("0"));
    file.writeString(Section, TimeKey, options.time.toString(TimeFormat));
    file.save(fileName);
}

} // namespace ReminderSettings
