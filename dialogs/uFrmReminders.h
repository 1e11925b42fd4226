#pragma once

#include "reminders/ReminderSettings.h"

#include <QDialog>

#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTimeEdit;

// The Reminders window of the Options menu: whether due tasks are reminded of, and at which time
// of day. The opener gives the options in force and gets back the ones chosen, or none when the
// window was cancelled. Where no notification service answers, the window says where the
// reminders will show instead.
class TfrmReminders : public QDialog {
    Q_OBJECT
public:
    explicit TfrmReminders(QWidget* parent = nullptr);

    // Asks whether the desktop's notification service answers; the answer comes later.
    using ServiceCheck = std::function<void(std::function<void(bool present)>)>;
    void setServiceCheck(ServiceCheck check) { m_serviceCheck = std::move(check); }

    // Shows the window modally on these options; the options chosen by OK, none on Cancel.
    std::optional<ReminderSettings::Options> ask(const ReminderSettings::Options& options);

    void setOptions(const ReminderSettings::Options& options);
    ReminderSettings::Options options() const;

    void cbRemindersClick();
    void btnOKClick();
    void btnCancelClick();

private:
    // Shows, or takes away, what is said about a missing notification service.
    void showService(bool present);

    QCheckBox* cbReminders = nullptr;
    QTimeEdit* edtTime = nullptr;
    QLabel* lblService = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    ServiceCheck m_serviceCheck;
    int m_asked = 0; // which showing of the window an answer is for
};
