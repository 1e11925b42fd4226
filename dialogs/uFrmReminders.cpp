#include "dialogs/uFrmReminders.h"

#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
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

    lblService = new QLabel(this);
    lblService->setObjectName(QStringLiteral("lblService"));
    lblService->setWordWrap(true);
    lblService->hide();

    btnOK = AddButton(this, QStringLiteral("btnOK"), QStringLiteral("OK"), {77, 84});
    btnOK->setDefault(true);
    btnCancel = AddButton(this, QStringLiteral("btnCancel"), QStringLiteral("Cancel"), {158, 84});
    ConnectGuarded(cbReminders, &QCheckBox::toggled, this, &TfrmReminders::cbRemindersClick);
    ConnectGuarded(btnOK, &QPushButton::clicked, this, &TfrmReminders::btnOKClick);
    ConnectGuarded(btnCancel, &QPushButton::clicked, this, &TfrmReminders::btnCancelClick);
    setOptions({});
}

std::optional<ReminderSettings::Options>
TfrmReminders::ask(const ReminderSettings::Options& start) {
    setOptions(start);
    showService(true);
    if (m_serviceCheck) {
        const QPointer<TfrmReminders> window(this);
        const int asked = ++m_asked;
        m_serviceCheck([window, asked](bool present) {
            if (window && window->m_asked == asked && window->isVisible())
                window->showService(present);
        });
    }
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return options();
}

void TfrmReminders::showService(bool present) {
    // The reminders go to the tray's balloons where there is a tray, else to the main window.
    lblService->setText(
        QSystemTrayIcon::isSystemTrayAvailable()
            ? QStringLiteral("No notification service is running: reminders will show as "
                             "messages of the tray icon instead.")
            : QStringLiteral("No notification service is running: reminders will show at the "
                             "foot of the main window instead."));
    const int width = 209;
    const int height = present ? 0 : lblService->heightForWidth(width) + 8;
    lblService->setGeometry(24, 76, width, std::max(0, height - 8));
    lblService->setVisible(!present);
    btnOK->move(btnOK->x(), 84 + height);
    btnCancel->move(btnCancel->x(), 84 + height);
    setFixedHeight(124 + height);
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
