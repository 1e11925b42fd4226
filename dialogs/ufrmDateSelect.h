#pragma once

#include "model/TaskCommands.h"

#include <QDate>
#include <QDialog>

#include <array>

class QCalendarWidget;
class QComboBox;

// The Date Select window: which date of a task to set, and the day. Apply records the
// calendar's day as the chosen entry's stored date; the five stored dates start as
// 30 December 1899 and keep the last day applied to them for the rest of the run. The chosen
// entry and the calendar's day also stay as the user left them.
class TfrmDateSelect : public QDialog {
    Q_OBJECT
public:
    explicit TfrmDateSelect(QWidget* parent = nullptr);

    // Shows the window modally; then whether it was applied, the chosen entry and its date.
    TaskCommands::DateSelection ask();

    // The entry chosen in the "Date Field" list, -1 when none.
    int chosenEntry() const;
    // The stored date of an entry (index in the list's order); invalid for any other index.
    QDate storedDate(int entry) const;

    // "Apply": stores the calendar's day for the chosen entry and closes with OK; with no entry
    // chosen it says "Date not selected", stores nothing and closes with OK all the same.
    void btnApplyClick();
    void btnCancelClick();

    static QDate zeroDate() { return QDate(1899, 12, 30); }

private:
    std::array<QDate, 5> m_dates;
    QComboBox* cbDateField = nullptr;
    QCalendarWidget* Calendar1 = nullptr;
};
