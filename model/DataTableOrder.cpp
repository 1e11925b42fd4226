#include "model/DataTable.h"

#include "model/CollationKeys.h"

#include <algorithm>

// The active order (a named index) and the filter over the stored rows.

// --- order -----------------------------------------------------------------------------------

void DataTable::resetViews(const std::function<void()>& change) {
    emit aboutToReset();
    change();
    emit resetDone();
}

void DataTable::applyIndexDef(const QString& name) {
    if (name.isEmpty()) {
        m_order = RowOrder();
        m_indexName.clear();
        return;
    }
    const auto def = std::find_if(m_indexDefs.begin(), m_indexDefs.end(), [&](const IndexDef& d) {
        return d.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (def == m_indexDefs.end())
        fail(QStringLiteral("Index '%1' not found").arg(name));
    if (const int derived = derivedIndex(def->field); derived >= 0) {
        const DerivedField& by = m_derived[static_cast<std::size_t>(derived)];
        m_order = RowOrder(fieldIndex(by.source), by.key, def->descending);
        m_indexName = def->name;
        return;
    }
    const int field = fieldIndexOrThrow(def->field);
    CollationKeys* textKeys = nullptr;
    if (m_fields[static_cast<std::size_t>(field)].isText()) {
        for (auto& keys : m_textKeys)
            if (keys->field() == field && keys->caseInsensitive() == def->caseInsensitive)
                textKeys = keys.get();
        if (!textKeys) {
            m_textKeys.push_back(std::make_unique<CollationKeys>(field, def->caseInsensitive));
            textKeys = m_textKeys.back().get();
        }
    }
    m_order =
        RowOrder(field, m_fields[static_cast<std::size_t>(field)].kind, def->descending, textKeys);
    m_indexName = def->name;
}

void DataTable::setIndexName(const QString& name) {
    requireActive();
    settle();
    if (name == m_indexName)
        return;
    const RowId current = currentRow();
    applyIndexDef(name); // throws before changing anything

    resetViews([&] {
        rebuildOrder();
        rebuildVisible();
        const int position = positionOf(current);
        m_cur = position >= 0 ? position : (m_visible.empty() ? -1 : 0);
    });
    emit currentChanged(m_cur);
}

// Rows with equal keys keep their natural order (the order of their current versions).
bool DataTable::rowLess(RowId a, RowId b) const {
    return m_order.less(m_versions,
                        static_cast<std::uint32_t>(m_rowVersion[static_cast<std::size_t>(a)]),
                        static_cast<std::uint32_t>(m_rowVersion[static_cast<std::size_t>(b)]));
}

void DataTable::rebuildOrder() {
    sortRows(m_ordered);
}

void DataTable::sortRows(std::vector<RowId>& rows) const {
    m_order.sort(rows, m_rowVersion, m_versions);
}

// --- filter ----------------------------------------------------------------------------------

bool DataTable::passes(const RowData& row) const {
    return !m_compiledFilter || m_compiledFilter->matches(row);
}

void DataTable::rebuildVisible(bool reveal) {
    if (outlineInvolved()) {
        buildOutlineRows(m_visible, reveal);
        return;
    }
    if (!m_filtered) {
        m_visible = m_ordered;
        return;
    }
    m_visible.clear();
    for (RowId row : m_ordered)
        if (passes(rowData(row)))
            m_visible.push_back(row);
}

void DataTable::setFilter(const QString& text) {
    requireActive();
    FilterExpression compiled = FilterExpression::compile(text, m_fields, objectName(), m_derived);
    if (!m_filtered) {
        m_filterText = text;
        m_compiledFilter = std::move(compiled);
        return;
    }
    settle();
    const bool differs = text != m_filterText;
    m_filterText = text;
    m_compiledFilter = std::move(compiled);
    if (differs)
        resetViews([&] { rebuildVisible(true); });
    setCurrent(m_visible.empty() ? -1 : 0);
    scrolled();
}

void DataTable::setFiltered(bool on) {
    requireActive();
    if (on && !m_compiledFilter)
        m_compiledFilter =
            FilterExpression::compile(m_filterText, m_fields, objectName(), m_derived);
    settle();
    if (on != m_filtered) {
        resetViews([&] {
            m_filtered = on;
            rebuildVisible(on);
            m_cur = -1;
        });
    }
    setCurrent(m_visible.empty() ? -1 : 0);
    scrolled();
}
