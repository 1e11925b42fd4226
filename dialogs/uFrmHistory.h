#pragma once

#include "model/DataTable.h"

#include <QDialog>

#include <cstdint>
#include <optional>

class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;
class VersionListModel;

// The Task History window: every stored version of one task, newest first, with when it was
// made, its state and wording, and the values that differ from the version before highlighted.
// The selected version's fields are all shown below. "Restore this version" closes the window
// with that version chosen; the opener writes it into the task.
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

    void btnRestoreClick();
    void btnCloseClick();

private:
    void showSelected();
    int selectedRow() const;

    QLabel* lblTask = nullptr;
    QTableView* grdVersions = nullptr;
    QTableWidget* grdFields = nullptr;
    QPushButton* btnRestore = nullptr;
    QPushButton* btnClose = nullptr;
    VersionListModel* m_versions = nullptr;
    std::optional<std::uint32_t> m_chosen;
};
