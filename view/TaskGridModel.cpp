#include "view/TaskGridModel.h"

#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "widgets/ErrorBox.h"

#include <QBrush>
#include <QFont>

namespace {

QFont fontOf(int style) {
    QFont font;
    font.setBold(style & StyleBold);
    font.setUnderline(style & StyleUnderline);
    font.setStrikeOut(style & StyleStrikeOut);
    return font;
}

} // namespace

const std::vector<GridColumn>& TaskGridColumns() {
    using namespace TaskRecord;
    static const std::vector<GridColumn> columns{
        {ID, QStringLiteral("ID"), 23},
        {Task, QStringLiteral("Task"), 271},
        {Status, QStringLiteral("Status"), 86},
        {Difficulty, QStringLiteral("Difficulty"), 82},
        {Priority, QStringLiteral("Priority"), 69},
        {Progress, QStringLiteral("Progress"), 120},
        {Category, QStringLiteral("Category"), 112},
        {CreatedDate, QStringLiteral("Created Date"), 75},
        {DueDate, QStringLiteral("Due Date"), 0},
        {LastActioned, QStringLiteral("Last Actioned"), 78},
        {CompletedDate, QStringLiteral("Completed Date"), 85},
        {StartDate, QStringLiteral("Start Date"), 73},
        {Time, QStringLiteral("Time Taken"), 0},
        {Bookmarked, QStringLiteral("Bookmarked"), 0},
        {AssignedTo, QStringLiteral("Assigned To"), 102},
        {GroupNo, QStringLiteral("Group No"), 0},
        {Comments, QStringLiteral("Comments"), 300},
        {Owner, QStringLiteral("Owner"), 0},
        {Details, QStringLiteral("Details"), 0, false},
        {RelatedFile, QStringLiteral("Related File"), 300},
        {LinkedList, QStringLiteral("Linked List"), 300},
        {Points, QStringLiteral("Points"), 0},
        {URL, QStringLiteral("URL"), 150},
        {TaskTable::Repeat, QStringLiteral("Repeat"), 150},
    };
    return columns;
}

TaskGridModel::TaskGridModel(DataTable* table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table) {
    rebuildColumns();
    connect(table, &DataTable::rowAboutToBeInserted, this, [this](int row) {
        ++m_changing;
        changed();
        beginInsertRows(QModelIndex(), row, row);
    });
    connect(table, &DataTable::rowInserted, this, [this](int) {
        endInsertRows();
        --m_changing;
    });
    connect(table, &DataTable::rowAboutToBeRemoved, this, [this](int row) {
        ++m_changing;
        changed();
        beginRemoveRows(QModelIndex(), row, row);
    });
    connect(table, &DataTable::rowRemoved, this, [this](int) {
        endRemoveRows();
        --m_changing;
    });
    connect(table, &DataTable::rowAboutToBeMoved, this, [this](int from, int to) {
        ++m_changing;
        changed();
        beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
    });
    connect(table, &DataTable::rowMoved, this, [this](int, int) {
        endMoveRows();
        --m_changing;
    });
    connect(table, &DataTable::rowChanged, this, [this](int row) {
        changed();
        if (row >= 0 && row < rowCount() && columnCount() > 0)
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    });
    connect(table, &DataTable::aboutToReset, this, [this] {
        ++m_changing;
        changed();
        beginResetModel();
    });
    connect(table, &DataTable::resetDone, this, [this] {
        rebuildColumns();
        changed();
        endResetModel();
        --m_changing;
    });
}

void TaskGridModel::rebuildColumns() {
    m_columns.clear();
    m_fieldOfColumn.clear();
    m_derivedOfColumn.clear();
    for (const GridColumn& column : TaskGridColumns()) {
        int field = m_table->fieldIndex(column.field);
        const int derived = field < 0 ? m_table->derivedIndex(column.field) : -1;
        if (derived >= 0)
            field = m_table->fieldIndex(m_table->derivedFields()[std::size_t(derived)].source);
        if (field < 0)
            continue;
        m_columns.push_back(column);
        m_fieldOfColumn.push_back(field);
        m_derivedOfColumn.push_back(derived);
    }
}

int TaskGridModel::columnOfField(const QString& field) const {
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].field.compare(field, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

QString TaskGridModel::fieldName(int column) const {
    if (column < 0 || column >= columnCount())
        return QString();
    if (const int derived = derivedOfColumn(column); derived >= 0)
        return m_table->derivedFields()[std::size_t(derived)].name;
    return m_table->fields()[static_cast<std::size_t>(fieldOfColumn(column))].name;
}

FieldKind TaskGridModel::fieldKind(int column) const {
    if (derivedOfColumn(column) >= 0)
        return FieldKind::String;
    return m_table->fields()[static_cast<std::size_t>(fieldOfColumn(column))].kind;
}

bool TaskGridModel::isDateColumn(int column) const {
    if (column < 0 || column >= columnCount())
        return false;
    const FieldKind kind = fieldKind(column);
    return kind == FieldKind::Date || kind == FieldKind::DateTime;
}

int TaskGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_table->visibleRowCount();
}

int TaskGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant TaskGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return QVariant();
    const int field = fieldOfColumn(index.column());
    const int derived = derivedOfColumn(index.column());
    switch (role) {
    case Qt::DisplayRole:
        if (derived >= 0)
            return m_table->derivedTextOf(m_table->rowDataAt(index.row()), derived);
        return m_table->displayTextOf(m_table->rowDataAt(index.row()), field);
    case Qt::EditRole:
        if (derived >= 0)
            return m_table->derivedTextOf(m_table->rowDataAt(index.row()), derived);
        // What the cell editor starts from: the plain text form ("True", not "Yes"), which
        // is also the form typed text is read back by.
        return m_table->textOf(m_table->rowDataAt(index.row()), field);
    case Qt::TextAlignmentRole: {
        const FieldDef& def = m_table->fields()[static_cast<std::size_t>(field)];
        return derived < 0 && def.isIntegral() ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                               : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    case Qt::BackgroundRole:
    case SelectedBackgroundRole: {
        const CellLook& look = lookOf(index, role == SelectedBackgroundRole);
        return look.background.isValid() ? QVariant(QBrush(look.background)) : QVariant();
    }
    case Qt::ForegroundRole:
    case SelectedForegroundRole:
        return QBrush(lookOf(index, role == SelectedForegroundRole).text);
    case Qt::FontRole:
    case SelectedFontRole:
        return fontOf(lookOf(index, role == SelectedFontRole).style);
    case ProgressBarRole: {
        const CellLook& look = lookOf(index, false);
        return look.progressBar ? QVariant(look.progress) : QVariant();
    }
    default:
        return QVariant();
    }
}

const CellLook& TaskGridModel::lookOf(const QModelIndex& index, bool selected) const {
    const QDate today = uGeneral::Today();
    CachedLook& cached = m_cachedLook;
    if (cached.generation != m_generation || cached.row != index.row() ||
        cached.column != index.column() || cached.selected != selected || cached.today != today) {
        cached.look = DBGrid1DrawColumnCell(
            *m_table, index.row(), m_columns[static_cast<std::size_t>(index.column())].field,
            selected, today, QColor());
        cached.generation = m_generation;
        cached.row = index.row();
        cached.column = index.column();
        cached.selected = selected;
        cached.today = today;
    }
    return cached.look;
}

QVariant TaskGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount())
        return QVariant();
    return m_columns[static_cast<std::size_t>(section)].title;
}

Qt::ItemFlags TaskGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const FieldDef& def =
        m_table->fields()[static_cast<std::size_t>(fieldOfColumn(index.column()))];
    // The ID is the table's to hand out; no one types it. A derived value is set by its own
    // window.
    if (!def.readOnly() && def.kind != FieldKind::AutoInc && derivedOfColumn(index.column()) < 0)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool TaskGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || !(flags(index) & Qt::ItemIsEditable))
        return false;
    return RunGuarded([&] { writeCell(index.row(), index.column(), value.toString()); });
}

bool TaskGridModel::goToRowOf(int row) {
    const DataTable::RowId id = rowIdAt(row);
    if (m_table->currentRow() != id)
        m_table->goToRow(id); // settles the row pending elsewhere; rows may move meanwhile
    return m_table->currentRow() == id; // not when it was an untouched new row, now dropped
}

void TaskGridModel::beginCellEdit(int row) {
    if (!isChangingRows() && row >= 0 && row < rowCount() && goToRowOf(row))
        m_table->edit();
}

void TaskGridModel::writeCell(int row, int column, const QString& text) {
    // An editor that the view commits because the table is removing or moving its row (the
    // current index moves away) would write into a row the table is changing: nothing is written.
    if (isChangingRows())
        return;
    const QString field = fieldName(column);
    if (!goToRowOf(row))
        return;
    // Closing an editor without changing its text is no edit: the list stays as it was.
    if (text == m_table->asString(field))
        return;
    m_table->edit();
    m_table->setString(field, text);
}
