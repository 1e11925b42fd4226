#pragma once

#include "reminders/ReminderSettings.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QTimeEdit;

// The Reminders window of the Options menu: whether due tasks are reminded of, and at which time
// of day. The opener gives the options in force and gets back the ones chosen, or none when the
// window was cancelled.
class TfrmReminders : public QDialog {
    Q_OBJECT
public:
    explicit TfrmReminders(QWidget* parent = nullptr);

    // Shows the window modally on these options; the options chosen by OK, none on Cancel.
    std::optional<ReminderSettings::Options> ask(const ReminderSettings::Options& options);

    void setOptions(const ReminderSettings::Options& options);
    ReminderSettings::Options options() const;

    void cbRemindersClick();
    void btnOKClick();
    void btnCancelClick();

private:
    QCheckBox* cbReminders = nullptr;
    QTimeEdit* edtTime = nullptr;
};
