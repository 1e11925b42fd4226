#include "dialogs/uFrmReminders.h"

#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>

TfrmReminders::TfrmReminders(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmReminders"), QStringLiteral("Reminders"), QSize(257, 124),
          Frame::Fixed);

    cbReminders = new QCheckBox(QStringLiteral("Reminders"), this);
    cbReminders->setObjectName(QStringLiteral("cbReminders"));
    cbReminders->setGeometry(24, 16, 209, 17);
    cbReminders->adjustSize();

    QLabel* label = AddLabel(this, QStringLiteral("lblTime"),
                             QStringLiteral("Remind of due tasks at"), {24, 48});
    edtTime = new QTimeEdit(this);
    edtTime->setObjectName(QStringLiteral("edtTime"));
    edtTime->setDisplayFormat(QStringLiteral("HH:mm"));
    edtTime->setGeometry(160, 44, 73, 21);
    label->setBuddy(edtTime);
    // A wider face moves the time box right rather than cut its label.
    PlaceInRow({{label, 24, Natural}, {edtTime, 160, 73}});

    QPushButton* ok = AddButton(this, QStringLiteral("btnOK"), QStringLiteral("OK"), {77, 84});
    ok->setDefault(true);
    QPushButton* cancel =
        AddButton(this, QStringLiteral("btnCancel"), QStringLiteral("Cancel"), {158, 84});
    ConnectGuarded(cbReminders, &QCheckBox::toggled, this, &TfrmReminders::cbRemindersClick);
    ConnectGuarded(ok, &QPushButton::clicked, this, &TfrmReminders::btnOKClick);
    ConnectGuarded(cancel, &QPushButton::clicked, this, &TfrmReminders::btnCancelClick);
    setOptions({});
}

std::optional<ReminderSettings::Options>
TfrmReminders::ask(const ReminderSettings::Options& start) {
    setOptions(start);
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return options();
}

void TfrmReminders::setOptions(const ReminderSettings::Options& options) {
    cbReminders->setChecked(options.enabled);
    edtTime->setTime(options.time);
    cbRemindersClick();
}

ReminderSettings::Options TfrmReminders::options() const {
    ReminderSettings::Options chosen;
    chosen.enabled = cbReminders->isChecked();
    const QTime time = edtTime->time();
    chosen.time = QTime(time.hour(), time.minute());
    return chosen;
}

void TfrmReminders::cbRemindersClick() {
    // The time means nothing while reminders are off.
    edtTime->setEnabled(cbReminders->isChecked());
}

void TfrmReminders::btnOKClick() {
    accept();
}

void TfrmReminders::btnCancelClick() {
    reject();
}
