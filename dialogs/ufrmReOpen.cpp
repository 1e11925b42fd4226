#include "dialogs/ufrmReOpen.h"

#include "base/CorvantisError.h"
#include "base/TextLines.h"
#include "model/DataTable.h"
#include "storage/RecentLists.h"
#include "widgets/DecorativeStrip.h"
#include "widgets/DesktopShell.h"
#include "widgets/ErrorBox.h"
#include "widgets/Icons.h"
#include "widgets/InterfaceFont.h"
#include "widgets/ProgramColours.h"
#include "widgets/Prompt.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The visible rows of the recent-lists table as two columns: the file and when it was last used.
class RecentFilesModel final : public QAbstractTableModel {
public:
    RecentFilesModel(DataTable& table, QObject* parent)
        : QAbstractTableModel(parent), m_table(table) {
        connect(&table, &DataTable::aboutToReset, this, [this] { beginResetModel(); });
        connect(&table, &DataTable::resetDone, this, [this] { endResetModel(); });
        connect(&table, &DataTable::rowAboutToBeInserted, this,
                [this](int position) { beginInsertRows(QModelIndex(), position, position); });
        connect(&table, &DataTable::rowInserted, this, [this] { endInsertRows(); });
        connect(&table, &DataTable::rowAboutToBeRemoved, this,
                [this](int position) { beginRemoveRows(QModelIndex(), position, position); });
        connect(&table, &DataTable::rowRemoved, this, [this] { endRemoveRows(); });
        connect(&table, &DataTable::rowAboutToBeMoved, this, [this](int from, int to) {
            beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
        });
        connect(&table, &DataTable::rowMoved, this, [this] { endMoveRows(); });
        connect(&table, &DataTable::rowChanged, this, [this](int position) {
            emit dataChanged(index(position, 0), index(position, columnCount() - 1));
        });
    }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : m_table.visibleRowCount();
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : 2;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid())
            return QVariant();
        const int field = m_table.fieldIndex(fieldName(index.column()));
        if (field < 0)
            return QVariant();
        return m_table.displayTextOf(m_table.rowDataAt(index.row()), field);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QVariant();
        return section == 0 ? QStringLiteral("Database File Name") : QStringLiteral("Last Used");
    }

private:
    static QString fieldName(int column) {
        return column == 0 ? QStringLiteral("File") : QStringLiteral("LastUsed");
    }

    DataTable& m_table;
};

// Draws a row struck out, in both columns, while its file is missing.
class StruckOutDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (TfrmReOpen::cellStruckOut(index))
            option->font.setStrikeOut(true);
    }
};

} // namespace

TfrmReOpen::TfrmReOpen(RecentLists& store, QWidget* parent) : QDialog(parent), m_store(&store) {
    setObjectName(QStringLiteral("frmReOpen"));
    setWindowTitle(QStringLiteral("Reopen"));
    setFont(InterfaceFont::Font());
    resize(660, 437);

    buildGrid();
    buildBottom();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(DBGrid1, 1);
    layout->addWidget(btnOpen->parentWidget());
    syncViewToTable();
    connect(m_store, &RecentLists::changed, this, &TfrmReOpen::syncViewToTable);

    if (!m_store->loadError().isEmpty())
        Prompt::Error(m_store->loadError());
}

TfrmReOpen::~TfrmReOpen() = default;

DataTable& TfrmReOpen::cdsFiles() const {
    return m_store->table();
}

void TfrmReOpen::buildGrid() {
    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setAccessibleName(QStringLiteral("Recent lists"));
    DBGrid1->setModel(new RecentFilesModel(cdsFiles(), DBGrid1));
    DBGrid1->setItemDelegate(new StruckOutDelegate(DBGrid1));
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->verticalHeader()->hide();
    DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    DBGrid1->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section { background-color: %1; color: black; }")
            .arg(ProgramColours::Css(ProgramColours::ViewBackground)));
    DBGrid1->setColumnWidth(0, 475);
    DBGrid1->setWordWrap(false);

    // The grid's current row and the table's follow each other.
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                RunGuarded([&] {
                    if (current.isValid() && cdsFiles().currentIndex() != current.row())
                        cdsFiles().moveToPosition(current.row());
                });
            });
    connect(&cdsFiles(), &DataTable::currentChanged, this, [this] { syncViewToTable(); });
    ConnectGuarded(DBGrid1, &QTableView::doubleClicked, this, &TfrmReOpen::btnOpenClick);

    pmGrid = new QMenu(this);
    pmGrid->setObjectName(QStringLiteral("pmGrid"));
    Rename1 = pmGrid->addAction(ThemeIcon(QStringLiteral("edit-rename")), QStringLiteral("Rename"));
    Rename1->setObjectName(QStringLiteral("Rename1"));
    ExplorerFolder1 = pmGrid->addAction(ThemeIcon(QStringLiteral("document-open-folder")),
                                        QStringLiteral("Explorer Folder"));
    ExplorerFolder1->setObjectName(QStringLiteral("ExplorerFolder1"));
    Remove1 = pmGrid->addAction(ThemeIcon(QStringLiteral("list-remove")), QStringLiteral("Remove"));
    Remove1->setObjectName(QStringLiteral("Remove1"));
    ConnectGuarded(Rename1, &QAction::triggered, this, &TfrmReOpen::Rename1Click);
    ConnectGuarded(ExplorerFolder1, &QAction::triggered, this, &TfrmReOpen::ExplorerFolder1Click);
    ConnectGuarded(Remove1, &QAction::triggered, this, &TfrmReOpen::Remove1Click);
    DBGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DBGrid1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmGrid->popup(DBGrid1->viewport()->mapToGlobal(at)); });
}

void TfrmReOpen::buildBottom() {
    auto* bottom = new DecorativeStrip(this);
    bottom->setObjectName(QStringLiteral("pnlBottom"));
    bottom->setFixedHeight(45);
    Label1 = new QLabel(QStringLiteral("Filename"), bottom);
    Label1->setObjectName(QStringLiteral("Label1"));
    edFilter = new QLineEdit(bottom);
    edFilter->setObjectName(QStringLiteral("edFilter"));
    Label1->setBuddy(edFilter);
    btnFilter = new QPushButton(QStringLiteral("Filter"), bottom);
    btnFilter->setObjectName(QStringLiteral("btnFilter"));
    btnOpen = new QPushButton(QStringLiteral("Open"), bottom);
    btnOpen->setObjectName(QStringLiteral("btnOpen"));
    btnCancel = new QPushButton(QStringLiteral("Cancel"), bottom);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    // Enter anywhere in the window presses Open.
    btnFilter->setAutoDefault(false);
    btnCancel->setAutoDefault(false);
    btnOpen->setDefault(true);

    auto* row = new QHBoxLayout(bottom);
    row->setContentsMargins(10, 0, 10, 0);
    row->addWidget(Label1);
    row->addWidget(edFilter, 1);
    row->addWidget(btnFilter);
    row->addSpacing(40);
    row->addWidget(btnOpen);
    row->addWidget(btnCancel);

    ConnectGuarded(btnFilter, &QPushButton::clicked, this, &TfrmReOpen::btnFilterClick);
    ConnectGuarded(btnOpen, &QPushButton::clicked, this, &TfrmReOpen::btnOpenClick);
    ConnectGuarded(btnCancel, &QPushButton::clicked, this, &TfrmReOpen::btnCancelClick);
}

void TfrmReOpen::syncViewToTable() {
    const int position = cdsFiles().currentIndex();
    if (position < 0 || position >= DBGrid1->model()->rowCount()) {
        DBGrid1->selectionModel()->clear();
        return;
    }
    const QModelIndex index = DBGrid1->model()->index(position, 0);
    if (DBGrid1->currentIndex().row() != position)
        DBGrid1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
    DBGrid1->scrollTo(index);
}

bool TfrmReOpen::cellStruckOut(const QModelIndex& index) {
    if (!index.isValid())
        return false;
    return RecentLists::fileIsMissing(index.siblingAtColumn(0).data().toString());
}

void TfrmReOpen::AddRecent(const QString& fileName) {
    try {
        m_store->AddRecent(fileName);
    } catch (const CorvantisError& error) {
        Prompt::Notice(QStringLiteral("Error saving to recent: ") + error.message());
    }
}

bool TfrmReOpen::writeRecentAtExit() {
    return m_store->saveIfChanged();
}

void TfrmReOpen::btnFilterClick() {
    // Taken as typed: blanks count.
    m_store->setFilterText(edFilter->text());
}

void TfrmReOpen::btnOpenClick() {
    const QString file = m_store->currentFile();
    if (RecentLists::fileIsMissing(file)) {
        m_selectedFile.clear();
        Prompt::Error(QStringLiteral("File does not exist in folder."));
        reject();
        return;
    }
    m_selectedFile = file;
    m_store->markCurrentUsed();
    accept();
}

void TfrmReOpen::btnCancelClick() {
    reject();
}

void TfrmReOpen::Rename1Click() {
    if (cdsFiles().currentRow() < 0)
        return;
    const QString answer = Prompt::InputBox(
        QStringLiteral("Rename"), QStringLiteral("Enter new name"), m_store->currentFile());
    m_store->renameCurrent(answer);
}

void TfrmReOpen::ExplorerFolder1Click() {
    if (cdsFiles().currentRow() < 0)
        return;
    DesktopShell::ExploreFolder(uGeneral::FolderPart(m_store->currentFile()));
}

void TfrmReOpen::Remove1Click() {
    m_store->removeCurrent();
}

void TfrmReOpen::done(int result) {
    // Every closing writes the table; a failure here is not the user's concern.
    try {
        m_store->save();
    } catch (const CorvantisError&) {
    }
    QDialog::done(result);
}
