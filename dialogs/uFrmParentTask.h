#pragma once

#include "model/DataTable.h"

#include <QDialog>

#include <optional>

class QLineEdit;
class QListView;
class QPushButton;
class ParentChoices;

// The Make Subtask Of window: the tasks of a list, to choose the one a task is to stand under,
// found by typing part of a task's text or its ID; "(Top level)" stands first. The task itself
// and the tasks under it are not offered.
class TfrmParentTask : public QDialog {
    Q_OBJECT
public:
    explicit TfrmParentTask(QWidget* parent = nullptr);

    // Shows the window modally for a task of the table: the row chosen (-1: the top level), none
    // when it was cancelled.
    std::optional<DataTable::RowId> execute(const DataTable& table, DataTable::RowId row);
    // Offers the table's tasks for a task (execute does it first); the chosen row, as OK
    // would return it.
    void setTask(const DataTable& table, DataTable::RowId row);
    std::optional<DataTable::RowId> chosen() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void find(const QString& text);

    QLineEdit* edFind;
    QListView* lstTasks;
    QPushButton* btnOK;
    ParentChoices* m_choices;
};
