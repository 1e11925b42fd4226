#include "dialogs/ufrmDateSelect.h"

#include "base/DatesAndClock.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"
#include "widgets/Prompt.h"

#include <QAbstractItemView>
#include <QCalendarWidget>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

TfrmDateSelect::TfrmDateSelect(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmDateSelect"), QStringLiteral("Date Select"), QSize(285, 282),
          Frame::Fixed);
    m_dates.fill(zeroDate());

    QLabel* label =
        AddLabel(this, QStringLiteral("lblDateField"), QStringLiteral("Date Field"), {32, 24});

    cbDateField = new QComboBox(this);
    cbDateField->setObjectName(QStringLiteral("cbDateField"));
    cbDateField->addItems(TaskCommands::DateEntries());
    cbDateField->setCurrentIndex(-1);
    cbDateField->setGeometry(32, 40, 145, 21);
    label->setBuddy(cbDateField);

    Calendar1 = new QCalendarWidget(this);
    Calendar1->setObjectName(QStringLiteral("Calendar1"));
    // The calendar reads as a table of days, which is what takes the focus.
    Calendar1->setAccessibleName(QStringLiteral("Calendar"));
    for (QWidget* days : Calendar1->findChildren<QAbstractItemView*>())
        days->setAccessibleName(QStringLiteral("Calendar"));
    Calendar1->setGeometry(32, 72, 217, 154);
    Calendar1->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    Calendar1->setGridVisible(false);
    Calendar1->setSelectedDate(uGeneral::Today());

    QPushButton* apply =
        AddButton(this, QStringLiteral("btnApply"), QStringLiteral("Apply"), {24, 240});
    apply->setDefault(true);
    QPushButton* cancel =
        AddButton(this, QStringLiteral("btnCancel"), QStringLiteral("Cancel"), {104, 240});
    ConnectGuarded(apply, &QPushButton::clicked, this, &TfrmDateSelect::btnApplyClick);
    ConnectGuarded(cancel, &QPushButton::clicked, this, &TfrmDateSelect::btnCancelClick);
}

TaskCommands::DateSelection TfrmDateSelect::ask() {
    TaskCommands::DateSelection selection;
    selection.applied = exec() == QDialog::Accepted;
    selection.entry = chosenEntry();
    selection.date = storedDate(selection.entry);
    return selection;
}

int TfrmDateSelect::chosenEntry() const {
    return cbDateField->currentIndex();
}

QDate TfrmDateSelect::storedDate(int entry) const {
    if (entry < 0 || entry >= static_cast<int>(m_dates.size()))
        return QDate();
    return m_dates[static_cast<std::size_t>(entry)];
}

void TfrmDateSelect::btnApplyClick() {
    const int entry = chosenEntry();
    if (entry >= 0 && entry < static_cast<int>(m_dates.size()))
        m_dates[static_cast<std::size_t>(entry)] = Calendar1->selectedDate();
    else
        Prompt::Notice(QStringLiteral("Date not selected"));
    accept();
}

void TfrmDateSelect::btnCancelClick() {
    reject();
}
