#pragma once

#include "model/DataTable.h"
#include "model/TaskHistory.h"

#include <QDialog>

#include <cstdint>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;
class VersionListModel;

// The Task History window: every stored version of one task, newest first, with when it was
// made, its state and wording, and the values that differ from the version before highlighted.
// The selected version's fields are all shown below. "Restore this version" closes the window
// with that version chosen; the opener writes it into the task. The heading counts the times the
// task was done (a repeating task is done once per occurrence), and "Done occurrences only"
// lists just those, each with its due and completion dates.
class TfrmHistory : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHistory(QWidget* parent = nullptr);
    ~TfrmHistory() override;

    // Fills the window with the versions of a live row, the newest selected.
    void load(const DataTable& table, DataTable::RowId row);
    // load, then shows the window modally; the version to restore, if the user chose one. The
    // window lets go of the table when it closes.
    std::optional<std::uint32_t> execute(const DataTable& table, DataTable::RowId row);

    int versionCount() const;
    void selectVersion(int row);
    QString headingText() const;

    void btnRestoreClick();
    void btnCloseClick();
    void cbDoneOnlyClick();

private:
    void showSelected();
    int selectedRow() const;

    QLabel* lblTask = nullptr;
    QTableView* grdVersions = nullptr;
    QTableWidget* grdFields = nullptr;
    QPushButton* btnRestore = nullptr;
    QPushButton* btnClose = nullptr;
    QCheckBox* cbDoneOnly = nullptr;
    VersionListModel* m_versions = nullptr;
    const DataTable* m_table = nullptr;
    std::vector<TaskHistory::Version> m_all; // newest first
    std::vector<TaskHistory::Version> m_done;
    std::optional<std::uint32_t> m_chosen;
};
