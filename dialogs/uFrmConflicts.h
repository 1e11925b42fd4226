#pragma once

#include "sync/MergeConflict.h"

#include <QDialog>

#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

// The Conflicts window: what two copies of a list (or this list and a calendar) both changed
// since they parted, one line per field or deleted task, with the value at the common point and
// in each copy. The user chooses the copy each line keeps, or all from one copy; OK returns the
// choices, Cancel nothing (the merge is then not made).
class TfrmConflicts : public QDialog {
    Q_OBJECT
public:
    explicit TfrmConflicts(QWidget* parent = nullptr);
    ~TfrmConflicts() override;

    // One line per conflict, each keeping this copy's value; otherName names the other copy.
    void Load(const std::vector<MergeConflict>& conflicts, const QString& otherName);
    // Load, then shows the window modally: the choices in the order of the conflicts, or none
    // when it was cancelled.
    std::optional<MergeChoices> Execute(const std::vector<MergeConflict>& conflicts,
                                        const QString& otherName);

    MergeChoices Choices() const;
    void SetChoice(int line, MergeConflict::Side side);

    void btnAllThisClick();
    void btnAllOtherClick();
    void btnOKClick();
    void btnCancelClick();

private:
    void showChoice(int line);

    QLabel* lblConflicts = nullptr;
    QTableWidget* grdConflicts = nullptr;
    QPushButton* btnAllThis = nullptr;
    QPushButton* btnAllOther = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    std::vector<QComboBox*> m_choices;
    MergeChoices m_chosen;
};
