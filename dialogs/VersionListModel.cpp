#include "dialogs/VersionListModel.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "model/FieldValues.h"
#include "model/TaskRecord.h"
#include "widgets/ProgramColours.h"

#include <QFont>
#include <QStringList>

#include <algorithm>

VersionListModel::VersionListModel(std::vector<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)), m_fields(m_columns.size(), -1) {}

void VersionListModel::setVersions(const DataTable& table,
                                   std::vector<TaskHistory::Version> versions, bool markChanges) {
    beginResetModel();
    m_table = &table;
    m_versions = std::move(versions);
    m_changed.clear();
    m_marked = markChanges;
    if (markChanges) {
        m_changed.resize(m_versions.size());
        for (std::size_t i = 0; i + 1 < m_versions.size(); ++i)
            m_changed[i] =
                TaskHistory::changedFields(table, m_versions[i].version, m_versions[i + 1].version);
    }
    for (std::size_t c = 0; c < m_columns.size(); ++c)
        m_fields[c] = m_columns[c].kind == FieldColumn ? table.fieldIndex(m_columns[c].field) : -1;
    m_lastActioned = table.fieldIndex(TaskRecord::LastActioned);
    m_completed = table.fieldIndex(TaskRecord::CompletedDate);
    m_created = table.fieldIndex(TaskRecord::CreatedDate);
    endResetModel();
}

void VersionListModel::clear() {
    beginResetModel();
    m_table = nullptr;
    m_versions.clear();
    m_changed.clear();
    endResetModel();
}

const std::vector<int>& VersionListModel::changedAt(int row) const {
    static const std::vector<int> none;
    return static_cast<std::size_t>(row) < m_changed.size()
               ? m_changed[static_cast<std::size_t>(row)]
               : none;
}

bool VersionListModel::isChanged(int row, int field) const {
    const std::vector<int>& changed = changedAt(row);
    return field >= 0 && std::binary_search(changed.begin(), changed.end(), field);
}

QString VersionListModel::oneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(u'\n', u' ');
    text.replace(u'\r', u' ');
    return text;
}

QVariant VersionListModel::changedLook(int role) {
    switch (role) {
    case Qt::BackgroundRole:
        return ProgramColours::ChangedValue;
    case Qt::ForegroundRole: // the theme's text may be light: the yellow wants dark text
        return QColor(Qt::black);
    case Qt::FontRole: {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    default:
        return {};
    }
}

VersionListModel::Dating VersionListModel::dating(int row) const {
    if (!m_table || row < 0 || row >= rowCount())
        return {};
    const RowData& data = m_table->versionData(versionAt(row).version);
    const auto dated = [&](int field) -> Dating {
        if (field < 0 || data.isNull(field))
            return {};
        const FieldDef& def = m_table->fields()[static_cast<std::size_t>(field)];
        try {
            return {uGeneral::FormatShortDate(FieldValues::toDate(def, data, field)),
                    def.name + QStringLiteral(" of this version: ") +
                        m_table->displayTextOf(data, field)};
        } catch (const CorvantisError&) {
            return {}; // a value that is no date dates nothing
        }
    };
    const auto next = static_cast<std::size_t>(row) + 1;
    if (next == m_versions.size())
        return dated(m_created);
    const std::vector<int> changed =
        static_cast<std::size_t>(row) < m_changed.size()
            ? m_changed[static_cast<std::size_t>(row)]
            : TaskHistory::changedFields(*m_table, versionAt(row).version,
                                         m_versions[next].version);
    for (const int field : {m_lastActioned, m_completed})
        if (field >= 0 && std::binary_search(changed.begin(), changed.end(), field))
            if (Dating found = dated(field); !found.date.isEmpty())
                return found;
    return {};
}

QString VersionListModel::whenText(int row) const {
    const QString date = dating(row).date;
    return date.isEmpty() ? QStringLiteral("not recorded") : date;
}

int VersionListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_versions.size());
}

int VersionListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant VersionListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !m_table)
        return {};
    const int row = index.row();
    const auto column = static_cast<std::size_t>(index.column());
    const int field = m_fields[column];
    const RowData& values = m_table->versionData(versionAt(row).version);
    switch (m_columns[column].kind) {
    case WhenColumn: {
        if (role == Qt::DisplayRole)
            return whenText(row);
        const Dating when = dating(row);
        if (role == Qt::ToolTipRole)
            return when.date.isEmpty()
                       ? QStringLiteral("This version records no date: an edit that sets "
                                        "neither LastActioned nor CompletedDate is not dated.")
                       : when.field;
        if (role == Qt::ForegroundRole && when.date.isEmpty())
            return QColor(Qt::gray);
        return {};
    }
    case ChangeColumn:
        // A version read from a list without its change log has no number.
        if ((role == Qt::DisplayRole || role == Qt::ToolTipRole) && versionAt(row).change > 0)
            return QString::number(versionAt(row).change);
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case ChangedColumn:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
            // The oldest version listed made the task only when every version is listed.
            if (static_cast<std::size_t>(row) + 1 == m_versions.size())
                return m_marked && versionAt(row).change > 0 ? QStringLiteral("Added") : QString();
            QStringList names;
            for (int f : changedAt(row))
                names << m_table->fields()[static_cast<std::size_t>(f)].name;
            return names.join(QStringLiteral(", "));
        }
        return {};
    case FieldColumn:
        break;
    }
    if (field < 0)
        return {};
    const bool changed = isChanged(row, field);
    switch (role) {
    case Qt::DisplayRole:
        return oneLine(m_table->displayTextOf(values, field));
    case Qt::ToolTipRole:
        return m_table->displayTextOf(values, field);
    case Qt::TextAlignmentRole: {
        const FieldDef& def = m_table->fields()[static_cast<std::size_t>(field)];
        return QVariant::fromValue(def.isIntegral() ? Qt::AlignRight | Qt::AlignVCenter
                                                    : Qt::AlignLeft | Qt::AlignVCenter);
    }
    case Qt::BackgroundRole:
    case Qt::ForegroundRole:
    case Qt::FontRole:
        return changed ? changedLook(role) : QVariant();
    case ChangedRole:
        return changed;
    default:
        return {};
    }
}

QVariant VersionListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= static_cast<int>(m_columns.size()))
        return {};
    return m_columns[static_cast<std::size_t>(section)].title;
}
