#include "view/TaskGridModel.h"

#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "model/OutlineCommands.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "widgets/ErrorBox.h"

#include <QBrush>
#include <QDataStream>
#include <QFont>
#include <QIODevice>
#include <QMimeData>

#include <algorithm>

namespace {

const QString DraggedTasks = QStringLiteral("application/x-corvantis-tasks");

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
        {SubtasksColumn, SubtasksColumn, 60},
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
    connect(table, &DataTable::rowsAboutToBeInserted, this, [this](int first, int last) {
        ++m_changing;
        changed();
        beginInsertRows(QModelIndex(), first, last);
    });
    connect(table, &DataTable::rowsInserted, this, [this] {
        endInsertRows();
        --m_changing;
    });
    connect(table, &DataTable::rowsAboutToBeRemoved, this, [this](int first, int last) {
        ++m_changing;
        changed();
        beginRemoveRows(QModelIndex(), first, last);
    });
    connect(table, &DataTable::rowsRemoved, this, [this] {
        endRemoveRows();
        --m_changing;
    });
    connect(table, &DataTable::rowsChanged, this, [this](int first, int last) {
        changed();
        if (columnCount() > 0 && first <= last && last < rowCount())
            emit dataChanged(index(first, 0), index(last, columnCount() - 1));
    });
    connect(table, &DataTable::aboutToRearrange, this, &TaskGridModel::beginRearrange);
    connect(table, &DataTable::rearranged, this, &TaskGridModel::endRearrange);
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

void TaskGridModel::beginRearrange() {
    ++m_changing;
    changed();
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    m_rearranged.clear();
    for (const QModelIndex& index : persistentIndexList())
        m_rearranged.push_back(index.row() < rowCount() ? rowIdAt(index.row()) : -1);
}

void TaskGridModel::endRearrange() {
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const DataTable::RowId task =
            std::size_t(i) < m_rearranged.size() ? m_rearranged[std::size_t(i)] : -1;
        const int row = task >= 0 ? m_table->positionOf(task) : -1;
        after << (row >= 0 ? index(row, before[i].column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    m_rearranged.clear();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    --m_changing;
}

void TaskGridModel::rebuildColumns() {
    m_columns.clear();
    m_fieldOfColumn.clear();
    m_derivedOfColumn.clear();
    const bool outline = m_table->fieldIndex(TaskRecord::ParentID) >= 0;
    for (const GridColumn& column : TaskGridColumns()) {
        if (column.field == SubtasksColumn) {
            if (outline) {
                m_columns.push_back(column);
                m_fieldOfColumn.push_back(-1);
                m_derivedOfColumn.push_back(-1);
            }
            continue;
        }
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
    if (column < 0 || column >= columnCount() || isComputedColumn(column))
        return QString();
    if (const int derived = derivedOfColumn(column); derived >= 0)
        return m_table->derivedFields()[std::size_t(derived)].name;
    return m_table->fields()[static_cast<std::size_t>(fieldOfColumn(column))].name;
}

FieldKind TaskGridModel::fieldKind(int column) const {
    if (isComputedColumn(column) || derivedOfColumn(column) >= 0)
        return FieldKind::String;
    return m_table->fields()[static_cast<std::size_t>(fieldOfColumn(column))].kind;
}

bool TaskGridModel::isDateColumn(int column) const {
    if (column < 0 || column >= columnCount() || isComputedColumn(column))
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
    if (field < 0) { // Subtasks
        if (role == Qt::DisplayRole)
            return OutlineCommands::SubtaskCountText(*m_table, rowIdAt(index.row()));
        if (role == Qt::TextAlignmentRole)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        if (role == Qt::EditRole)
            return QVariant();
    }
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
    case OutlineDepthRole:
    case OutlineExpanderRole: {
        if (m_columns[static_cast<std::size_t>(index.column())].field != TaskRecord::Task)
            return QVariant();
        if (role == OutlineDepthRole)
            return m_table->outlineDepthAt(index.row());
        const TableOutline::Row outline = m_table->outlineOf(rowIdAt(index.row()));
        return !outline.hasChildren ? NoExpander : outline.collapsed ? Collapsed : Expanded;
    }
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
    const bool outline = m_table->fieldIndex(TaskRecord::ParentID) >= 0;
    if (!index.isValid())
        return outline ? Qt::ItemIsDropEnabled : Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (outline)
        flags |= Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (isComputedColumn(index.column()))
        return flags;
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

// --- dragging tasks onto tasks ------------------------------------------------------------------

QStringList TaskGridModel::mimeTypes() const {
    return {DraggedTasks};
}

QMimeData* TaskGridModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<DataTable::RowId> rows;
    for (const QModelIndex& index : indexes) {
        if (!index.isValid() || index.row() >= rowCount())
            continue;
        const DataTable::RowId row = rowIdAt(index.row());
        // A new task not yet stored has nothing to stand under.
        if (m_table->currentVersionOf(row) >= 0 &&
            std::find(rows.begin(), rows.end(), row) == rows.end())
            rows.push_back(row);
    }
    if (rows.empty())
        return nullptr;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    // Only this list's grid takes them: the table names the list for the length of the drag.
    out << quintptr(m_table) << qint32(rows.size());
    for (const DataTable::RowId row : rows)
        out << qint32(row);
    auto* data = new QMimeData;
    data->setData(DraggedTasks, bytes);
    return data;
}

std::vector<DataTable::RowId> TaskGridModel::draggedRows(const QMimeData* data) const {
    std::vector<DataTable::RowId> rows;
    if (!data || !data->hasFormat(DraggedTasks))
        return rows;
    QDataStream in(data->data(DraggedTasks));
    quintptr table = 0;
    qint32 count = 0;
    in >> table >> count;
    if (table != quintptr(m_table) || count <= 0)
        return rows;
    for (qint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        qint32 row = -1;
        in >> row;
        if (in.status() == QDataStream::Ok && m_table->currentVersionOf(row) >= 0)
            rows.push_back(row);
    }
    return rows;
}

bool TaskGridModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                    const QModelIndex& parent) const {
    const std::vector<DataTable::RowId> rows = draggedRows(data);
    if (rows.empty() || (parent.isValid() && parent.row() >= rowCount()))
        return false;
    const DataTable::RowId onto = parent.isValid() ? rowIdAt(parent.row()) : -1;
    if (onto >= 0 && m_table->currentVersionOf(onto) < 0)
        return false;
    return std::all_of(rows.begin(), rows.end(), [&](DataTable::RowId row) {
        return OutlineCommands::CanStandUnder(*m_table, row, onto);
    });
}

bool TaskGridModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                 const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    const DataTable::RowId onto = parent.isValid() ? rowIdAt(parent.row()) : -1;
    emit tasksDropped(draggedRows(data), onto);
    return true;
}
