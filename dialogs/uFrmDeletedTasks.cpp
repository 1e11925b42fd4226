#include "dialogs/uFrmDeletedTasks.h"

#include "dialogs/HistoryFrame.h"
#include "dialogs/VersionListModel.h"
#include "dialogs/VersionTable.h"
#include "model/TaskHistory.h"
#include "model/TaskRecord.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include <algorithm>

namespace {

std::vector<VersionListModel::Column> DeletedColumns() {
    using namespace TaskRecord;
    using M = VersionListModel;
    return {
        {QStringLiteral("ID"), M::FieldColumn, ID},
        {QStringLiteral("Task"), M::FieldColumn, Task},
        {QStringLiteral("Status"), M::FieldColumn, Status},
        {QStringLiteral("Priority"), M::FieldColumn, Priority},
        {QStringLiteral("Progress"), M::FieldColumn, Progress},
        {QStringLiteral("Category"), M::FieldColumn, Category},
        {QStringLiteral("Last Actioned"), M::FieldColumn, LastActioned},
    };
}

} // namespace

TfrmDeletedTasks::TfrmDeletedTasks(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmDeletedTasks"), QStringLiteral("Deleted Tasks"),
          QSize(760, 440), Frame::Sizeable);

    m_tasks = new VersionListModel(DeletedColumns(), this);
    grdDeleted = new QTableView(this);
    VersionTable::setUp(grdDeleted, QStringLiteral("grdDeleted"), m_tasks,
                        QAbstractItemView::ExtendedSelection, {45, 300, 86, 69, 60, 100, 85});
    grdDeleted->setAccessibleName(QStringLiteral("Deleted tasks"));
    connect(grdDeleted, &QTableView::doubleClicked, this,
            [this] { RunGuarded([this] { btnRestoreClick(); }); });
    connect(grdDeleted->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { btnRestore->setEnabled(!selectedRows().empty()); });

    const HistoryFrame frame = HistoryFrame::layOut(*this, QStringLiteral("lblDeleted"), grdDeleted,
                                                    QStringLiteral("Restore"), 75);
    lblDeleted = frame.heading;
    btnRestore = frame.restore;
    btnClose = frame.close;
    ConnectGuarded(btnRestore, &QPushButton::clicked, this, &TfrmDeletedTasks::btnRestoreClick);
    ConnectGuarded(btnClose, &QPushButton::clicked, this, &TfrmDeletedTasks::btnCloseClick);
}

TfrmDeletedTasks::~TfrmDeletedTasks() = default;

void TfrmDeletedTasks::load(const DataTable& table) {
    m_chosen.clear();
    m_tasks->setVersions(table, TaskHistory::deletedTasks(table), false);
    const int count = m_tasks->rowCount();
    lblDeleted->setText(
        count == 0 ? QStringLiteral("No task has been deleted from this list.")
                   : QStringLiteral("%1 deleted from this list, the latest first. Restore adds "
                                    "the chosen tasks back as new tasks.")
                         .arg(count == 1 ? QStringLiteral("1 task")
                                         : QStringLiteral("%1 tasks").arg(count)));
    selectTasks(count > 0 ? std::vector<int>{0} : std::vector<int>{});
}

std::vector<std::uint32_t> TfrmDeletedTasks::execute(const DataTable& table) {
    load(table);
    grdDeleted->setFocus();
    const bool restore = exec() == QDialog::Accepted;
    m_tasks->clear();
    return restore ? m_chosen : std::vector<std::uint32_t>{};
}

int TfrmDeletedTasks::taskCount() const {
    return m_tasks->rowCount();
}

void TfrmDeletedTasks::selectTasks(const std::vector<int>& rows) {
    QItemSelection selection;
    for (int row : rows)
        if (row >= 0 && row < m_tasks->rowCount())
            selection.select(m_tasks->index(row, 0),
                             m_tasks->index(row, m_tasks->columnCount() - 1));
    QItemSelectionModel* model = grdDeleted->selectionModel();
    model->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.empty() && rows.front() < m_tasks->rowCount())
        model->setCurrentIndex(m_tasks->index(rows.front(), 0), QItemSelectionModel::NoUpdate);
    btnRestore->setEnabled(!selectedRows().empty());
}

std::vector<int> TfrmDeletedTasks::selectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : grdDeleted->selectionModel()->selectedRows())
        rows.push_back(index.row());
    return rows;
}

void TfrmDeletedTasks::btnRestoreClick() {
    const std::vector<int> rows = selectedRows();
    if (rows.empty())
        return;
    m_chosen.clear();
    for (int row : rows)
        m_chosen.push_back(m_tasks->versionAt(row).version);
    // Oldest first: restored tasks take their new IDs in the order they were first made.
    std::sort(m_chosen.begin(), m_chosen.end());
    accept();
}

void TfrmDeletedTasks::btnCloseClick() {
    reject();
}
