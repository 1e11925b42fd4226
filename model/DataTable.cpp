#include "model/DataTable.h"

#include "base/CorvantisError.h"
#include "model/CollationKeys.h"

#include <algorithm>

// The table's structure, its cursor and the fields of the current row. Editing and the batch
// entry points are in DataTableEditing.cpp, the order and the filter in DataTableOrder.cpp.

namespace {

const RowData& noRow() {
    static const RowData none;
    return none;
}

} // namespace

DataTable::DataTable(QObject* parent) : QObject(parent) {}

DataTable::~DataTable() = default;

void DataTable::fail(const QString& message) const {
    const QString name = objectName();
    throw CorvantisError(name.isEmpty() ? message : name + QStringLiteral(": ") + message);
}

void DataTable::requireActive() const {
    if (m_state == State::Inactive)
        fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void DataTable::requireEditing() const {
    requireActive();
    if (!isEditing())
        fail(QStringLiteral("Dataset not in edit or insert mode"));
}

// --- structure -------------------------------------------------------------------------------

void DataTable::setIndexDefs(IndexList indexes) {
    m_indexDefs = std::move(indexes);
}

void DataTable::createEmpty(const FieldList& fields) {
    Content content;
    content.fields = fields;
    content.autoIncValue = 1;
    adopt(std::move(content));
}

void DataTable::adopt(Content&& content) {
    resetViews([&] {
        resetState();
        m_fields = std::move(content.fields);
        indexFieldNames();
        m_versions = std::move(content.versions);
        m_arena = std::move(content.arena);
        m_packed = std::move(content.packed);
        m_states = std::move(content.states);
        m_states.resize(m_versions.size(), 0);
        m_log = std::move(content.changeLog);
        m_autoIncField = -1;
        for (std::size_t i = 0; i < m_fields.size(); ++i)
            if (m_fields[i].kind == FieldKind::AutoInc) {
                m_autoIncField = static_cast<int>(i);
                break;
            }
        m_counter = content.autoIncValue.value_or(1);
        if (m_autoIncField >= 0) {
            // A counter at or below a stored ID would refuse every new row as a key
            // violation; keep it above every ID the list ever had.
            std::int64_t ceiling = content.idCeiling.value_or(0);
            if (!content.idCeiling) {
                for (std::size_t v = 0; v < m_versions.size(); ++v) {
                    const RowData& version = versionData(v);
                    if (!version.isNull(m_autoIncField))
                        ceiling = std::max<std::int64_t>(
                            ceiling, std::int64_t(version.int32(m_autoIncField)) + 1);
                }
            }
            m_counter = std::max(m_counter, ceiling);
        }
        for (std::size_t v = 0; v < m_versions.size(); ++v) {
            if (!isLiveState(m_states[v]))
                continue;
            (void)versionData(v); // the rows shown are laid out
            m_rowVersion.push_back(static_cast<std::int32_t>(v));
        }
        m_ordered.resize(m_rowVersion.size());
        for (std::size_t r = 0; r < m_ordered.size(); ++r)
            m_ordered[r] = static_cast<RowId>(r);
        noteAllRows();
        rebuildVisible();
        m_cur = m_visible.empty() ? -1 : 0;
    });
    emit currentChanged(m_cur);
    emit contentReplaced();
}

DataTable::Content DataTable::takeContent() {
    settle();
    Content content;
    content.fields = m_fields;
    content.arena = std::move(m_arena);
    content.versions = std::move(m_versions);
    content.packed = std::move(m_packed); // the versions not laid out: most of a long history
    content.states = std::move(m_states);
    content.changeLog = std::move(m_log);
    content.autoIncValue = m_counter;
    // The counter is above every ID stored: adopt need not lay out every version to find them.
    content.idCeiling = m_counter;
    close();
    return content;
}

void DataTable::close() {
    resetViews([&] {
        resetState();
        m_fields.clear();
        indexFieldNames();
        m_versions.clear();
        m_arena = RowArena();
        m_packed = RowDataStore();
        m_states.clear();
        m_log.clear();
        m_counter = 1;
        m_autoIncField = -1;
        m_state = State::Inactive;
    });
    emit currentChanged(-1);
    emit contentReplaced();
}

// What a new content or a closed table starts from: no rows shown, natural order, no filter,
// nothing pending.
void DataTable::resetState() {
    m_rowVersion.clear();
    m_ordered.clear();
    m_visible.clear();
    m_cur = -1;
    m_textKeys.clear();
    m_order = RowOrder();
    m_indexName.clear();
    m_filtered = false;
    m_compiledFilter.reset();
    m_keyCountsBuilt = false;
    m_keyCounts.clear();
    m_outline.clearRows();
    clearPending();
}

int DataTable::fieldIndex(const QString& name) const {
    const auto known = m_fieldByName.constFind(name);
    if (known != m_fieldByName.cend())
        return *known;
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

// Fields are looked up by name for every value written: each name as spelled maps straight to
// what the case-blind search finds first.
void DataTable::indexFieldNames() {
    m_fieldByName.clear();
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        std::size_t first = 0;
        while (m_fields[first].name.compare(m_fields[i].name, Qt::CaseInsensitive) != 0)
            ++first;
        m_fieldByName.insert(m_fields[i].name, static_cast<int>(first));
    }
}

int DataTable::fieldIndexOrThrow(const QString& name) const {
    const int field = fieldIndex(name);
    if (field < 0)
        fail(QStringLiteral("Field '%1' not found").arg(name));
    return field;
}

int DataTable::checkedField(const QString& name) const {
    requireActive();
    return fieldIndexOrThrow(name);
}

const RowData& DataTable::versionData(std::size_t version) const {
    RowData& row = m_versions[version];
    if (!row.isValid() && m_packed.holds(version))
        row = m_packed.unpack(version);
    return row;
}

std::size_t DataTable::heldVersionCount() const {
    std::size_t held = 0;
    for (std::size_t v = 0; v < m_versions.size(); ++v)
        held += m_versions[v].isValid() || m_packed.holds(v);
    return held;
}

std::size_t DataTable::versionSize(std::size_t version) const {
    const RowData& row = m_versions[version];
    return !row.isValid() && m_packed.holds(version) ? m_packed.rowSize(version) : row.byteSize();
}

std::vector<DataTable::RowId> DataTable::naturalOrder() const {
    std::vector<RowId> rows;
    rows.reserve(m_ordered.size());
    for (RowId r = 0; r < static_cast<RowId>(m_rowVersion.size()); ++r)
        if (m_rowVersion[static_cast<std::size_t>(r)] >= 0)
            rows.push_back(r);
    std::sort(rows.begin(), rows.end(), [this](RowId a, RowId b) {
        return m_rowVersion[static_cast<std::size_t>(a)] <
               m_rowVersion[static_cast<std::size_t>(b)];
    });
    return rows;
}

// --- cursor ----------------------------------------------------------------------------------

void DataTable::setCurrent(int position) {
    m_cur = position;
    if (!m_batch)
        emit currentChanged(position);
}

void DataTable::scrolled() {
    if (m_afterScroll)
        m_afterScroll();
}

void DataTable::first() {
    requireActive();
    settle();
    setCurrent(m_visible.empty() ? -1 : 0);
    scrolled();
}

void DataTable::last() {
    requireActive();
    settle();
    setCurrent(static_cast<int>(m_visible.size()) - 1);
    scrolled();
}

void DataTable::next() {
    requireActive();
    settle();
    if (m_cur + 1 < static_cast<int>(m_visible.size()))
        setCurrent(m_cur + 1);
    scrolled();
}

void DataTable::prior() {
    requireActive();
    settle();
    if (m_cur > 0)
        setCurrent(m_cur - 1);
    scrolled();
}

void DataTable::moveToPosition(int position) {
    requireActive();
    settle();
    if (m_visible.empty())
        return;
    setCurrent(std::clamp(position, 0, static_cast<int>(m_visible.size()) - 1));
    scrolled();
}

void DataTable::goToRow(RowId row) {
    requireActive();
    settle();
    const int position = positionOf(row);
    if (position >= 0)
        setCurrent(position);
    scrolled();
}

int DataTable::visibleRowCount() const {
    return static_cast<int>(m_visible.size());
}

int DataTable::currentPosition() const {
    return m_cur + 1;
}

DataTable::RowId DataTable::currentRow() const {
    return m_cur < 0 ? -1 : m_visible[static_cast<std::size_t>(m_cur)];
}

int DataTable::positionOf(RowId row) const {
    const auto it = std::find(m_visible.begin(), m_visible.end(), row);
    return it == m_visible.end() ? -1 : static_cast<int>(it - m_visible.begin());
}

const RowData& DataTable::rowData(RowId row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= m_rowVersion.size())
        return noRow();
    if (row == m_pendingRow && isEditing())
        return pendingData();
    const std::int32_t version = m_rowVersion[static_cast<std::size_t>(row)];
    return version < 0 ? noRow() : m_versions[static_cast<std::size_t>(version)];
}

const RowData& DataTable::rowDataAt(int position) const {
    if (position < 0 || position >= static_cast<int>(m_visible.size()))
        return noRow();
    return rowData(m_visible[static_cast<std::size_t>(position)]);
}

const RowData& DataTable::currentData() const {
    return rowDataAt(m_cur);
}

// --- field access ----------------------------------------------------------------------------

QString DataTable::textOf(const RowData& row, int field) const {
    return FieldValues::text(def(field), row, field);
}

QString DataTable::displayTextOf(const RowData& row, int field) const {
    return FieldValues::displayText(def(field), row, field);
}

bool DataTable::isNull(const QString& field) const {
    return currentData().isNull(checkedField(field));
}

QString DataTable::asString(const QString& field) const {
    requireActive();
    if (const int derived = derivedIndex(field); derived >= 0)
        return derivedTextOf(currentData(), derived);
    return textOf(currentData(), checkedField(field));
}

int DataTable::derivedIndex(const QString& name) const {
    if (fieldIndex(name) >= 0)
        return -1;
    for (std::size_t d = 0; d < m_derived.size(); ++d)
        if (m_derived[d].name.compare(name, Qt::CaseInsensitive) == 0 &&
            fieldIndex(m_derived[d].source) >= 0)
            return static_cast<int>(d);
    return -1;
}

QString DataTable::derivedTextOf(const RowData& row, int derived) const {
    const DerivedField& field = m_derived[static_cast<std::size_t>(derived)];
    const int source = fieldIndex(field.source);
    if (source < 0 || row.isNull(source) || !field.text)
        return QString();
    return field.text(row.raw(source));
}

QString DataTable::displayText(const QString& field) const {
    return displayTextOf(currentData(), checkedField(field));
}

std::int64_t DataTable::asInteger(const QString& field) const {
    const int f = checkedField(field);
    return FieldValues::toInteger(def(f), currentData(), f);
}

bool DataTable::asBoolean(const QString& field) const {
    const int f = checkedField(field);
    return FieldValues::toBoolean(def(f), currentData(), f);
}

QDate DataTable::asDate(const QString& field) const {
    const int f = checkedField(field);
    return FieldValues::toDate(def(f), currentData(), f);
}

QDateTime DataTable::asDateTime(const QString& field) const {
    const int f = checkedField(field);
    return FieldValues::toDateTime(def(f), currentData(), f);
}

void DataTable::writeField(int field, const FieldValues::Stored& value) {
    if (value.isNull())
        pendingBuilder().setNull(field);
    else
        pendingBuilder().setBytes(field, value.bytes());
    m_pendingModified = true;
    if (!m_batch)
        emit rowChanged(m_cur);
}

void DataTable::writeFields(const std::function<void(RowBuilder&)>& write) {
    requireEditing();
    m_pendingModified = true;
    write(pendingBuilder()); // what it wrote before a failure stays written
    if (!m_batch)
        emit rowChanged(m_cur);
}

int DataTable::writableField(const QString& name) const {
    const int field = checkedField(name);
    if (def(field).readOnly())
        throw CorvantisError(QStringLiteral("Field '%1' cannot be modified").arg(def(field).name));
    requireEditing();
    return field;
}

void DataTable::setString(const QString& field, const QString& value) {
    const int f = writableField(field);
    writeField(f, FieldValues::fromText(def(f), value));
}

void DataTable::setInteger(const QString& field, std::int64_t value) {
    const int f = writableField(field);
    writeField(f, FieldValues::fromInteger(def(f), value));
}

void DataTable::setBoolean(const QString& field, bool value) {
    const int f = writableField(field);
    writeField(f, FieldValues::fromBoolean(def(f), value));
}

void DataTable::setDate(const QString& field, const QDate& value) {
    const int f = writableField(field);
    writeField(f, FieldValues::fromDate(def(f), value));
}

void DataTable::setDateTime(const QString& field, const QDateTime& value) {
    const int f = writableField(field);
    writeField(f, FieldValues::fromDateTime(def(f), value));
}

void DataTable::setNull(const QString& field) {
    writeField(writableField(field), FieldValues::Stored());
}
