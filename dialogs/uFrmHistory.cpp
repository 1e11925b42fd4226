#include "dialogs/uFrmHistory.h"

#include "base/DatesAndClock.h"
#include "dialogs/HistoryFrame.h"
#include "dialogs/VersionListModel.h"
#include "dialogs/VersionTable.h"
#include "model/TaskHistory.h"
#include "model/TaskRecord.h"
#include "widgets/DialogParts.h"
#include "widgets/ErrorBox.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

std::vector<VersionListModel::Column> HistoryColumns() {
    using namespace TaskRecord;
    using M = VersionListModel;
    return {
        {QStringLiteral("When"), M::WhenColumn, {}},
        {QStringLiteral("Change"), M::ChangeColumn, {}},
        {QStringLiteral("Status"), M::FieldColumn, Status},
        {QStringLiteral("Progress"), M::FieldColumn, Progress},
        {QStringLiteral("Priority"), M::FieldColumn, Priority},
        {QStringLiteral("Due"), M::FieldColumn, DueDate},
        {QStringLiteral("Completed"), M::FieldColumn, CompletedDate},
        {QStringLiteral("Task"), M::FieldColumn, Task},
        {QStringLiteral("Changed"), M::ChangedColumn, {}},
    };
}

} // namespace

TfrmHistory::TfrmHistory(QWidget* parent) : QDialog(parent) {
    using namespace DialogParts;
    SetUp(*this, QStringLiteral("frmHistory"), QStringLiteral("Task History"), QSize(780, 540),
          Frame::Sizeable);

    m_versions = new VersionListModel(HistoryColumns(), this);
    grdVersions = new QTableView;
    VersionTable::setUp(grdVersions, QStringLiteral("grdVersions"), m_versions,
                        QAbstractItemView::SingleSelection, {90, 50, 86, 60, 69, 85, 85, 220});
    grdVersions->setAccessibleName(QStringLiteral("Versions"));
    connect(grdVersions->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { RunGuarded([this] { showSelected(); }); });

    grdFields = new QTableWidget(0, 2);
    grdFields->setHorizontalHeaderLabels({QStringLiteral("Field"), QStringLiteral("Value")});
    VersionTable::setUp(grdFields, QStringLiteral("grdFields"), grdFields->model(),
                        QAbstractItemView::NoSelection, {110});
    grdFields->setFocusPolicy(Qt::NoFocus);
    grdFields->setAccessibleName(QStringLiteral("Fields of the version"));

    // The versions, and below them the choice of only the times the task was done.
    auto* versionsPane = new QWidget;
    auto* versionsLayout = new QVBoxLayout(versionsPane);
    versionsLayout->setContentsMargins(0, 0, 0, 4);
    versionsLayout->addWidget(grdVersions, 1);
    cbDoneOnly = new QCheckBox(QStringLiteral("Done occurrences only"));
    cbDoneOnly->setObjectName(QStringLiteral("cbDoneOnly"));
    versionsLayout->addWidget(cbDoneOnly);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("splVersions"));
    split->addWidget(versionsPane);
    split->addWidget(grdFields);
    split->setChildrenCollapsible(false);
    split->setSizes({190, 290});

    const HistoryFrame frame = HistoryFrame::layOut(*this, QStringLiteral("lblTask"), split,
                                                    QStringLiteral("Restore this version"), 130);
    lblTask = frame.heading;
    btnRestore = frame.restore;
    btnClose = frame.close;
    ConnectGuarded(btnRestore, &QPushButton::clicked, this, &TfrmHistory::btnRestoreClick);
    ConnectGuarded(btnClose, &QPushButton::clicked, this, &TfrmHistory::btnCloseClick);
    ConnectGuarded(cbDoneOnly, &QCheckBox::clicked, this, &TfrmHistory::cbDoneOnlyClick);
}

TfrmHistory::~TfrmHistory() = default;

void TfrmHistory::load(const DataTable& table, DataTable::RowId row) {
    m_chosen.reset();
    m_table = &table;
    m_all = TaskHistory::versionsOfRow(table, row);
    m_done.clear();
    const std::vector<TaskHistory::Done> done = TaskHistory::doneOccurrences(table, m_all);
    for (const TaskHistory::Done& time : done)
        for (const TaskHistory::Version& version : m_all)
            if (version.version == time.version)
                m_done.push_back(version);
    cbDoneOnly->setChecked(false);
    cbDoneOnly->setEnabled(!m_done.empty());
    m_versions->setVersions(table, m_all, true);
    const int versions = m_versions->rowCount();
    QString heading =
        versions == 1 ? QStringLiteral("1 version") : QStringLiteral("%1 versions").arg(versions);
    if (versions > 0) {
        const RowData& now = table.versionData(m_versions->versionAt(0).version);
        const int id = table.fieldIndex(TaskRecord::ID);
        const int task = table.fieldIndex(TaskRecord::Task);
        QString name = task >= 0 ? VersionListModel::oneLine(table.textOf(now, task)) : QString();
        if (id >= 0)
            name = QStringLiteral("Task %1: %2").arg(table.textOf(now, id), name);
        heading = name + QStringLiteral("  (") + heading + u')';
    }
    if (!done.empty()) {
        heading += done.size() == 1 ? QStringLiteral(": done once")
                                    : QStringLiteral(": done %1 times").arg(done.size());
        if (done.front().completed.isValid())
            heading +=
                QStringLiteral(", last on ") + uGeneral::FormatShortDate(done.front().completed);
    }
    lblTask->setText(heading);
    selectVersion(0);
}

QString TfrmHistory::headingText() const {
    return lblTask->text();
}

void TfrmHistory::cbDoneOnlyClick() {
    if (!m_table)
        return;
    // Changes are marked against the version each one replaced: a list of only some versions
    // marks none.
    if (cbDoneOnly->isChecked())
        m_versions->setVersions(*m_table, m_done, false);
    else
        m_versions->setVersions(*m_table, m_all, true);
    selectVersion(0);
}

std::optional<std::uint32_t> TfrmHistory::execute(const DataTable& table, DataTable::RowId row) {
    load(table, row);
    grdVersions->setFocus();
    const bool restore = exec() == QDialog::Accepted;
    m_versions->clear();
    m_table = nullptr;
    grdFields->setRowCount(0);
    return restore ? m_chosen : std::nullopt;
}

int TfrmHistory::versionCount() const {
    return m_versions->rowCount();
}

void TfrmHistory::selectVersion(int row) {
    if (row < 0 || row >= m_versions->rowCount()) {
        grdVersions->selectionModel()->clear();
        showSelected();
        return;
    }
    grdVersions->selectionModel()->setCurrentIndex(
        m_versions->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    showSelected();
}

int TfrmHistory::selectedRow() const {
    const QModelIndex current = grdVersions->selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TfrmHistory::showSelected() {
    const int row = selectedRow();
    const DataTable* table = m_versions->table();
    // The newest version is what the task holds now: nothing to restore.
    btnRestore->setEnabled(row >= 0 && !m_all.empty() &&
                           m_versions->versionAt(row).version != m_all.front().version);
    if (row < 0 || !table) {
        grdFields->setRowCount(0);
        return;
    }
    const RowData& values = table->versionData(m_versions->versionAt(row).version);
    const std::vector<int>& changed = m_versions->changedAt(row);
    const FieldList& fields = table->fields();
    grdFields->setRowCount(static_cast<int>(fields.size()));
    grdFields->scrollToTop(); // each version is read from its first field
    for (int f = 0; f < static_cast<int>(fields.size()); ++f) {
        const QString text = table->displayTextOf(values, f);
        auto* name = new QTableWidgetItem(fields[static_cast<std::size_t>(f)].name);
        auto* value = new QTableWidgetItem(VersionListModel::oneLine(text));
        value->setToolTip(text);
        if (std::binary_search(changed.begin(), changed.end(), f))
            for (QTableWidgetItem* item : {name, value})
                for (const int role : {Qt::BackgroundRole, Qt::ForegroundRole, Qt::FontRole})
                    item->setData(role, VersionListModel::changedLook(role));
        grdFields->setItem(f, 0, name);
        grdFields->setItem(f, 1, value);
    }
}

void TfrmHistory::btnRestoreClick() {
    const int row = selectedRow();
    if (row < 0 || !btnRestore->isEnabled())
        return;
    m_chosen = m_versions->versionAt(row).version;
    accept();
}

void TfrmHistory::btnCloseClick() {
    reject();
}
