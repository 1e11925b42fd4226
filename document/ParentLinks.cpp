#include "document/ParentLinks.h"

#include "model/FieldValues.h"
#include "model/OutlineCommands.h"
#include "model/TaskRecord.h"

using namespace TaskRecord;

ParentLinks::ParentLinks(const DataTable& table,
                         const std::function<QString(DataTable::RowId)>& uidOf)
    : m_table(table), m_id(table.autoIncField()), m_parent(table.fieldIndex(ParentID)),
      m_properties(table.fieldIndex(Properties)) {
    if (m_id < 0 || m_parent < 0)
        return;
    for (const DataTable::RowId row : table.allRows()) {
        const RowData& values = table.rowData(row);
        if (values.isNull(m_id))
            continue;
        const QString uid = uidOf(row);
        m_uidOfId.insert(values.int32(m_id), uid);
        m_rowOfUid.insert(uid, values.int32(m_id));
    }
}

QString ParentLinks::parentUidOf(const RowData& row) const {
    if (m_parent < 0)
        return QString();
    if (!row.isNull(m_parent) && row.int32(m_parent) != 0) {
        const auto it = m_uidOfId.constFind(row.int32(m_parent));
        if (it != m_uidOfId.cend())
            return *it;
    }
    return m_properties < 0 ? QString()
                            : OutlineCommands::KeptParentUid(m_table.textOf(row, m_properties));
}

RowData ParentLinks::keepingParentUid(const RowData& row, const QString& uid) const {
    return withParent(row, uid, false);
}

RowData ParentLinks::withParentUid(const RowData& row, const QString& uid) const {
    return withParent(row, uid, true);
}

RowData ParentLinks::withParent(const RowData& row, const QString& uid, bool link) const {
    if (m_parent < 0)
        return row.clone();
    const auto task = uid.isEmpty() || !link ? m_rowOfUid.cend() : m_rowOfUid.constFind(uid);
    RowData values;
    if (task != m_rowOfUid.cend()) {
        const auto stored = FieldValues::Stored::number(*task);
        const std::string_view bytes = stored.bytes();
        values = row.withField(m_parent, &bytes);
    } else {
        values = row.withField(m_parent, nullptr);
    }
    if (m_properties < 0)
        return values;
    const QString properties = m_table.textOf(values, m_properties);
    const QString kept =
        OutlineCommands::WithKeptParentUid(properties, task == m_rowOfUid.cend() ? uid : QString());
    if (kept == properties)
        return values;
    const FieldValues::Stored stored =
        FieldValues::fromText(m_table.fields()[std::size_t(m_properties)], kept);
    const std::string_view bytes = stored.bytes();
    return values.withField(m_properties, stored.isNull() ? nullptr : &bytes);
}

std::vector<std::pair<DataTable::RowId, RowData>> ParentLinks::relinked() const {
    std::vector<std::pair<DataTable::RowId, RowData>> out;
    if (m_parent < 0 || m_properties < 0)
        return out;
    for (const DataTable::RowId row : m_table.allRows()) {
        const RowData& values = m_table.rowData(row);
        if (!values.isNull(m_parent) && values.int32(m_parent) != 0)
            continue;
        const QString kept = OutlineCommands::KeptParentUid(m_table.textOf(values, m_properties));
        if (!kept.isEmpty() && isTask(kept))
            out.emplace_back(row, withParentUid(values, kept));
    }
    return out;
}
