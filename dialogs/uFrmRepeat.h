#pragma once

#include "model/Recurrence.h"
#include "model/TaskCommands.h"

#include <QDate>
#include <QDialog>
#include <QString>

#include <array>
#include <optional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QWidget;

// The Repeat window: how a task repeats (Recurrence), set with the common choices (daily, every
// weekday, weekly on days, monthly by day or by weekday, yearly, every N of them), an end (never,
// on a day, after N times) and whether the next date counts from the due date or from when the
// task is done. The next dates are shown as the rule is edited. A rule the window cannot show is
// kept as it is and shown as its text; only choosing another kind of repeat replaces it.
class TfrmRepeat : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRepeat(QWidget* parent = nullptr);
    ~TfrmRepeat() override;

    // Shows the series of a task's Properties and due date, modally. On OK: the Properties with
    // the series as set (every other line kept; a rule left as it was stays byte for byte) and
    // the due date (a task without one is given the first date of its series).
    std::optional<TaskCommands::RepeatSetting> ask(const QString& properties, const QDate& due);

    // Fills the window for a task (ask does, then shows it).
    void load(const QString& properties, const QDate& due);
    // What OK gives for the window as it stands.
    TaskCommands::RepeatSetting setting() const;
    // The text of the next dates, as shown.
    QString nextText() const;

    void btnOKClick();
    void btnCancelClick();

    enum Choice { NoRepeat, Daily, Weekdays, Weekly, Monthly, Yearly, Custom };

private:
    void showChoice();
    void showNext();
    // The rule the controls make; none for "Does not repeat".
    std::optional<QString> rule() const;
    Recurrence::Pattern pattern() const;
    void setPattern(const Recurrence::Pattern& pattern);
    QDate anchor() const;

    QString m_properties;
    QDate m_due;
    std::optional<Recurrence::Series> m_loaded;
    std::optional<Recurrence::Pattern> m_loadedPattern;

    QComboBox* cbFrequency = nullptr;
    QLabel* lblEvery = nullptr;
    QSpinBox* edtInterval = nullptr;
    QLabel* lblUnit = nullptr;
    QWidget* pnlDays = nullptr;
    std::array<QCheckBox*, 7> cbDays{};
    QWidget* pnlMonth = nullptr;
    QRadioButton* rbSameDay = nullptr;
    QRadioButton* rbDayOfMonth = nullptr;
    QComboBox* cbMonthDay = nullptr;
    QComboBox* cbMonth = nullptr;
    QRadioButton* rbNthWeekday = nullptr;
    QComboBox* cbNth = nullptr;
    QComboBox* cbWeekday = nullptr;
    QLineEdit* edtRule = nullptr;
    QGroupBox* grpEnds = nullptr;
    QRadioButton* rbNever = nullptr;
    QRadioButton* rbUntil = nullptr;
    QDateEdit* dtUntil = nullptr;
    QRadioButton* rbCount = nullptr;
    QSpinBox* edtCount = nullptr;
    QGroupBox* grpFrom = nullptr;
    QRadioButton* rbFromDue = nullptr;
    QRadioButton* rbFromDone = nullptr;
    QLabel* lblFirstDue = nullptr;
    QDateEdit* dtFirstDue = nullptr;
    QLabel* lblNext = nullptr;
};
