#pragma once

#include <QDialog>

#include <cstdint>
#include <vector>

class DataTable;
class QLabel;
class QPushButton;
class QTableView;
class VersionListModel;

// The Deleted Tasks window: every task deleted from a list, with its last values, the latest
// deletion first. "Restore" (or a double click) closes the window with the chosen tasks; the
// opener adds each back as a new task.
class TfrmDeletedTasks : public QDialog {
    Q_OBJECT
public:
    explicit TfrmDeletedTasks(QWidget* parent = nullptr);
    ~TfrmDeletedTasks() override;

    void load(const DataTable& table);
    // load, then shows the window modally; the versions to restore, oldest first (none when the
    // window was closed otherwise). The window lets go of the table when it closes.
    std::vector<std::uint32_t> execute(const DataTable& table);

    int taskCount() const;
    // Selects the listed tasks at these rows (the latest deletion is row 0).
    void selectTasks(const std::vector<int>& rows);

    void btnRestoreClick();
    void btnCloseClick();

private:
    std::vector<int> selectedRows() const;

    QLabel* lblDeleted = nullptr;
    QTableView* grdDeleted = nullptr;
    QPushButton* btnRestore = nullptr;
    QPushButton* btnClose = nullptr;
    VersionListModel* m_tasks = nullptr;
    std::vector<std::uint32_t> m_chosen;
};
