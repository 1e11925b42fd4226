#include "model/DataTable.h"

#include <algorithm>

// The outline of the rows (TableOutline): which row stands under which, and how the rows shown
// change when rows are stored, collapsed or expanded.

void DataTable::setOutlineFields(const QString& parentField, const QString& doneField,
                                 const QString& doneText) {
    m_outlineParent = parentField;
    m_outlineDone = doneField;
    m_outlineDoneText = doneText;
}

void DataTable::noteRow(RowId row) {
    if (!m_outline.isBound())
        return;
    const std::int32_t version = m_rowVersion[static_cast<std::size_t>(row)];
    if (version < 0)
        m_outline.clearRow(row);
    else
        m_outline.setRow(row, m_versions[static_cast<std::size_t>(version)]);
}

void DataTable::noteAllRows() {
    if (m_outlineParent.isEmpty() ||
        !m_outline.bind(m_fields, m_autoIncField, m_outlineParent, m_outlineDone,
                        m_outlineDoneText.toStdString()))
        return;
    m_outline.resize(m_rowVersion.size());
    for (RowId row = 0; row < static_cast<RowId>(m_rowVersion.size()); ++row)
        noteRow(row);
}

void DataTable::buildOutlineRows(std::vector<RowId>& shown, bool reveal) {
    if (!m_outline.hasParents()) {
        m_outline.markFlat();
        shown.clear();
        for (RowId row : m_ordered)
            if (!m_filtered || passes(rowData(row)))
                shown.push_back(row);
        return;
    }
    std::vector<char> matches;
    if (m_filtered) {
        matches.resize(m_ordered.size());
        for (std::size_t i = 0; i < m_ordered.size(); ++i)
            matches[i] = passes(rowData(m_ordered[i]));
    }
    m_outline.build(m_ordered, matches, reveal, shown);
}

// Tells views how the visible rows became `shown` with as few signals as say it: nothing moved
// (the counts under rows may have changed), a block of rows went or came (a row collapsed or
// expanded, a row stored or deleted), the same rows in another order, else a reset. Then `keep`
// is current where it is shown, else the row at `fallback`.
void DataTable::showOutline(std::vector<RowId>&& shown, RowId keep, int fallback) {
    const auto before = static_cast<int>(m_visible.size());
    const auto after = static_cast<int>(shown.size());
    if (shown == m_visible) {
        if (after > 0)
            emit rowsChanged(0, after - 1);
    } else if (before == after) {
        emit aboutToRearrange();
        m_visible.swap(shown);
        emit rearranged();
    } else {
        const int common = std::min(before, after);
        int head = 0;
        while (head < common && m_visible[std::size_t(head)] == shown[std::size_t(head)])
            ++head;
        int tail = 0;
        while (tail < common - head &&
               m_visible[std::size_t(before - 1 - tail)] == shown[std::size_t(after - 1 - tail)])
            ++tail;
        if (head + tail == after) {
            emit rowsAboutToBeRemoved(head, before - tail - 1);
            m_visible.swap(shown);
            emit rowsRemoved(head, before - tail - 1);
        } else if (head + tail == before) {
            emit rowsAboutToBeInserted(head, after - tail - 1);
            m_visible.swap(shown);
            emit rowsInserted(head, after - tail - 1);
        } else {
            resetViews([&] { m_visible.swap(shown); });
        }
        // The rows around the block may now show another expander or count.
        if (after > 0)
            emit rowsChanged(0, after - 1);
    }
    int position = keep >= 0 ? positionOf(keep) : -1;
    if (position < 0 && !m_visible.empty())
        position = std::clamp(fallback, 0, static_cast<int>(m_visible.size()) - 1);
    setCurrent(position);
}

int DataTable::outlineDepthAt(int position) const {
    if (position < 0 || position >= static_cast<int>(m_visible.size()))
        return 0;
    const RowId row = m_visible[std::size_t(position)];
    if (row == m_pendingRow && m_state == State::Insert && m_outline.isBound()) {
        // A new row stands where it was made, as deep as the row it names would put it.
        const int field = fieldIndex(m_outlineParent);
        const RowData& values = pendingData();
        if (field < 0 || values.isNull(field))
            return 0;
        const RowId parent = m_outline.rowOfKey(values.int32(field));
        return parent >= 0 && positionOf(parent) >= 0 ? m_outline.rowInfo(parent).depth + 1 : 0;
    }
    return m_outline.rowInfo(row).depth;
}

void DataTable::setCollapsed(RowId row, bool collapsed) {
    requireActive();
    settle();
    if (!m_outline.isShown() || !m_outline.rowInfo(row).hasChildren)
        return;
    if (!collapsed)
        for (RowId above = parentRowOf(row); above >= 0; above = parentRowOf(above))
            m_outline.setCollapsed(above, false);
    m_outline.setCollapsed(row, collapsed);
    const RowId current = currentRow();
    std::vector<RowId> shown;
    buildOutlineRows(shown, false);
    // A current row the collapse hides gives way to the collapsed row.
    const bool hidden =
        current >= 0 && std::find(shown.begin(), shown.end(), current) == shown.end();
    showOutline(std::move(shown), hidden ? row : current, m_cur);
    if (hidden)
        scrolled();
}

void DataTable::setAllCollapsed(bool collapsed) {
    requireActive();
    settle();
    if (!m_outline.isShown())
        return;
    m_outline.setAllCollapsed(collapsed);
    RowId current = currentRow();
    std::vector<RowId> shown;
    buildOutlineRows(shown, false);
    std::vector<char> isShown(m_rowVersion.size(), 0);
    for (RowId row : shown)
        isShown[std::size_t(row)] = 1;
    // The current row, else the nearest row above it that is still shown.
    const RowId before = current;
    while (current >= 0 && !isShown[std::size_t(current)])
        current = parentRowOf(current);
    showOutline(std::move(shown), current, m_cur);
    if (current != before)
        scrolled();
}

void DataTable::placeInOutline(const std::vector<RowId>& touched, RowId keepCurrent) {
    buildOutlineRows(m_visible, false);
    std::vector<int> position(m_rowVersion.size(), -1);
    for (std::size_t i = 0; i < m_visible.size(); ++i)
        position[std::size_t(m_visible[i])] = static_cast<int>(i);
    // The last changed row that is shown, else the row that was current, else the nearest place.
    int at = -1;
    for (auto it = touched.rbegin(); it != touched.rend() && at < 0; ++it)
        at = position[std::size_t(*it)];
    if (at < 0 && keepCurrent >= 0)
        at = position[std::size_t(keepCurrent)];
    if (at < 0 && !m_visible.empty())
        at = std::clamp(m_cur, 0, static_cast<int>(m_visible.size()) - 1);
    m_cur = at;
}
