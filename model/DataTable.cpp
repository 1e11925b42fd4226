#include "model/DataTable.h"

#include "model/CorvantisError.h"
#include "model/TaskRecord.h"
#include "shell/uGeneral.h"

#include <QTime>

#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>

namespace {

constexpr std::int64_t MsPerDay = 86400000;

const RowData& noRow() {
    static const RowData none;
    return none;
}

std::string_view bytesOf(const std::int32_t& value) {
    return std::string_view(reinterpret_cast<const char*>(&value), sizeof value);
}

// Cuts text to a number of characters without splitting a surrogate pair.
QString cutToWidth(const QString& text, int width) {
    qsizetype units = 0;
    int chars = 0;
    while (units < text.size() && chars < width) {
        units += (text.at(units).isHighSurrogate() && units + 1 < text.size()) ? 2 : 1;
        ++chars;
    }
    return units < text.size() ? text.left(units) : text;
}

QString formatG(double value) {
    return QString::number(value, 'g', 15);
}

} // namespace

namespace {

// An ICU collator set up as QCollator sets up its own for a locale (ICU underneath on this
// platform): normalization on, the locale's strength (secondary when case is ignored), no
// numeric ordering, punctuation not ignored. Its keys order text exactly as QCollator's do, but
// can be kept compactly and made on several threads, one collator each.
class Collator {
public:
    Collator(const QByteArray& locale, bool caseInsensitive) {
        UErrorCode status = U_ZERO_ERROR;
        m_collator = ucol_open(locale.constData(), &status);
        if (U_FAILURE(status)) {
            if (m_collator)
                ucol_close(m_collator);
            m_collator = nullptr; // as QCollator: every key empty, all text equal
            return;
        }
        const std::pair<UColAttribute, UColAttributeValue> settings[] = {
            {UCOL_NORMALIZATION_MODE, UCOL_ON},
            {UCOL_STRENGTH, caseInsensitive ? UCOL_SECONDARY : UCOL_DEFAULT_STRENGTH},
            {UCOL_NUMERIC_COLLATION, UCOL_OFF},
            {UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE},
        };
        for (const auto& [attribute, value] : settings) {
            status = U_ZERO_ERROR;
            ucol_setAttribute(m_collator, attribute, value, &status);
        }
    }
    ~Collator() {
        if (m_collator)
            ucol_close(m_collator);
    }
    Collator(const Collator&) = delete;
    Collator& operator=(const Collator&) = delete;

    // The key of UTF-8 text into buffer (resized as needed); its length.
    std::size_t key(std::string_view text, std::vector<char>& buffer) {
        if (!m_collator)
            return 0;
        m_text = QString::fromUtf8(text.data(), qsizetype(text.size()));
        const auto* chars = reinterpret_cast<const UChar*>(m_text.utf16());
        const auto length = std::int32_t(m_text.size());
        buffer.resize(std::max<std::size_t>(buffer.size(), 32 + 4 * m_text.size()));
        std::int32_t size = ucol_getSortKey(m_collator, chars, length,
                                            reinterpret_cast<std::uint8_t*>(buffer.data()),
                                            std::int32_t(buffer.size()));
        if (std::size_t(size) > buffer.size()) {
            buffer.resize(std::size_t(size));
            size = ucol_getSortKey(m_collator, chars, length,
                                   reinterpret_cast<std::uint8_t*>(buffer.data()), size);
        }
        return std::size_t(std::max(size, 0));
    }

private:
    UCollator* m_collator = nullptr;
    QString m_text;
};

// The first eight bytes of a key as a number that orders as the bytes do.
std::uint64_t keyPrefix(const char* key, std::size_t size) {
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < 8; ++i)
        prefix = prefix << 8 | (i < size ? static_cast<unsigned char>(key[i]) : 0u);
    return prefix;
}

// Bytes in blocks that never move, so that what is stored keeps its address.
class ByteBlocks {
public:
    const char* store(const char* bytes, std::size_t size) {
        if (size == 0)
            return ""; // never null: a key's null address means it was not made yet
        if (std::size_t(m_end - m_cursor) < size) {
            const std::size_t block = std::max<std::size_t>(size, std::size_t(1) << 20);
            m_blocks.push_back(std::make_unique<char[]>(block));
            m_cursor = m_blocks.back().get();
            m_end = m_cursor + block;
        }
        char* at = m_cursor;
        std::memcpy(at, bytes, size);
        m_cursor += size;
        return at;
    }
    void take(ByteBlocks&& other) {
        for (auto& block : other.m_blocks)
            m_blocks.push_back(std::move(block));
        other.m_blocks.clear();
        other.m_cursor = other.m_end = nullptr;
    }

private:
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_cursor = nullptr;
    char* m_end = nullptr;
};

// Compares keys as QCollatorSortKey does: byte by byte, a key that is the start of another first.
int compareKeyBytes(const char* a, std::uint32_t sizeA, const char* b, std::uint32_t sizeB) {
    const int c = std::memcmp(a, b, std::min(sizeA, sizeB));
    if (c != 0)
        return c;
    return sizeA < sizeB ? -1 : (sizeA > sizeB ? 1 : 0);
}

} // namespace

// A text's collation key: its bytes and, to settle most comparisons at once, its first eight.
struct DataTable::CollationKey {
    const char* bytes = nullptr; // nullptr: not made yet
    std::uint32_t size = 0;
    std::uint64_t prefix = 0;
};

// The collation keys of one text field under one case rule, by version, made when first needed.
struct DataTable::TextKeys {
    int field = -1;
    bool caseInsensitive = false;
    bool bytewise = false; // the C locale: QCollator orders by the UTF-8 bytes
    QByteArray locale;     // as ICU names it
    std::unique_ptr<Collator> collator;
    std::vector<char> buffer;
    using Key = CollationKey;
    std::vector<Key> keys;
    ByteBlocks store;

    // Makes the key of text into slot, with the given collator (none for byte order).
    static void make(Collator* collator, std::string_view text, std::vector<char>& buffer,
                     ByteBlocks& store, Key& slot) {
        std::size_t size = text.size();
        const char* bytes = text.data();
        if (collator) {
            size = collator->key(text, buffer);
            bytes = buffer.data();
        }
        slot.bytes = store.store(bytes, size);
        slot.size = std::uint32_t(size);
        slot.prefix = keyPrefix(bytes, size);
    }
    Collator* collatorOrNull() {
        if (bytewise)
            return nullptr;
        if (!collator)
            collator = std::make_unique<Collator>(locale, caseInsensitive);
        return collator.get();
    }
};

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
        m_fields = std::move(content.fields);
        m_versions = std::move(content.versions);
        m_arena = std::move(content.arena);
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
            for (const RowData& version : m_versions)
                if (!version.isNull(m_autoIncField))
                    m_counter = std::max<std::int64_t>(
                        m_counter, std::int64_t(version.int32(m_autoIncField)) + 1);
        }
        m_rowVersion.clear();
        for (std::size_t v = 0; v < m_versions.size(); ++v)
            if (isLiveState(m_states[v]))
                m_rowVersion.push_back(static_cast<std::int32_t>(v));
        m_ordered.resize(m_rowVersion.size());
        for (std::size_t r = 0; r < m_ordered.size(); ++r)
            m_ordered[r] = static_cast<RowId>(r);
        m_textKeys.clear();
        m_activeTextKeys = nullptr;
        m_indexName.clear();
        m_sortField = -1;
        m_filtered = false;
        m_compiledFilter.reset();
        m_keyCountsBuilt = false;
        m_keyCounts.clear();
        m_pending = RowData();
        m_pendingRow = -1;
        m_pendingModified = false;
        m_state = State::Browse;
        m_visible = m_ordered;
        m_cur = m_visible.empty() ? -1 : 0;
    });
    emit currentChanged(m_cur);
}

void DataTable::close() {
    resetViews([&] {
        m_fields.clear();
        m_versions.clear();
        m_arena = RowArena();
        m_states.clear();
        m_log.clear();
        m_counter = 1;
        m_autoIncField = -1;
        m_rowVersion.clear();
        m_ordered.clear();
        m_visible.clear();
        m_cur = -1;
        m_textKeys.clear();
        m_activeTextKeys = nullptr;
        m_indexName.clear();
        m_sortField = -1;
        m_filtered = false;
        m_compiledFilter.reset();
        m_keyCountsBuilt = false;
        m_keyCounts.clear();
        m_pending = RowData();
        m_pendingRow = -1;
        m_pendingModified = false;
        m_state = State::Inactive;
    });
    emit currentChanged(-1);
}

int DataTable::fieldIndex(const QString& name) const {
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
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

bool DataTable::atLastRow() const {
    return m_cur + 1 >= static_cast<int>(m_visible.size());
}

int DataTable::recordCount() const {
    return static_cast<int>(m_visible.size()) - (m_state == State::Insert ? 1 : 0);
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
        return m_pending;
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

// --- editing ---------------------------------------------------------------------------------

void DataTable::append() {
    beginPending(true);
}

void DataTable::insert() {
    beginPending(false);
}

void DataTable::beginPending(bool atEnd) {
    requireActive();
    settle();
    const RowId before = currentRow();
    const int position = atEnd || m_cur < 0 ? static_cast<int>(m_visible.size()) : m_cur;
    const RowId row = static_cast<RowId>(m_rowVersion.size());
    emit rowAboutToBeInserted(position);
    m_rowVersion.push_back(-1);
    m_visible.insert(m_visible.begin() + position, row);
    m_pending = RowData::empty(static_cast<int>(m_fields.size()));
    m_pendingRow = row;
    m_pendingModified = false;
    m_rowBeforeInsert = before;
    m_state = State::Insert;
    emit rowInserted(position);
    setCurrent(position);
    if (m_afterInsert)
        m_afterInsert();
    scrolled();
}

void DataTable::edit() {
    requireActive();
    if (isEditing())
        return;
    if (m_visible.empty()) {
        insert();
        return;
    }
    m_pending = currentData().clone();
    m_pendingRow = currentRow();
    m_pendingModified = false;
    m_state = State::Edit;
    if (m_afterEdit)
        m_afterEdit();
}

void DataTable::post() {
    requireActive();
    if (isEditing())
        storePending();
}

void DataTable::settle() {
    if (!isEditing())
        return;
    if (m_pendingModified)
        storePending();
    else
        cancel();
}

void DataTable::cancel() {
    if (!isEditing())
        return;
    const int position = m_cur;
    if (m_state == State::Insert) {
        emit rowAboutToBeRemoved(position);
        m_visible.erase(m_visible.begin() + position);
        m_rowVersion.pop_back(); // the pending row is always the newest id
        m_state = State::Browse;
        m_pending = RowData();
        m_pendingRow = -1;
        m_pendingModified = false;
        emit rowRemoved(position);
        const int back = positionOf(m_rowBeforeInsert);
        setCurrent(back >= 0 ? back : std::min(position, static_cast<int>(m_visible.size()) - 1));
        return;
    }
    m_state = State::Browse;
    m_pending = RowData();
    m_pendingRow = -1;
    m_pendingModified = false;
    emit rowChanged(position);
}

void DataTable::remove() {
    requireActive();
    if (m_state == State::Insert) {
        cancel();
        return;
    }
    if (recordCount() == 0)
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    if (m_state == State::Edit) {
        m_state = State::Browse;
        m_pending = RowData();
        m_pendingRow = -1;
        m_pendingModified = false;
    }
    const RowId row = currentRow();
    const std::int32_t version = m_rowVersion[static_cast<std::size_t>(row)];
    dropKey(m_versions[static_cast<std::size_t>(version)]);
    m_states[static_cast<std::size_t>(version)] |= Deleted;
    if (m_keepHistory)
        m_log.insert(m_log.end(),
                     {static_cast<std::uint32_t>(version + 1), 0u, std::uint32_t(Deleted)});
    m_rowVersion[static_cast<std::size_t>(row)] = -1;
    m_ordered.erase(std::find(m_ordered.begin(), m_ordered.end(), row));
    const int position = m_cur;
    emit rowAboutToBeRemoved(position);
    m_visible.erase(m_visible.begin() + position);
    emit rowRemoved(position);
    setCurrent(std::min(position, static_cast<int>(m_visible.size()) - 1));
    scrolled();
}

void DataTable::ensureKeyCounts() const {
    if (m_keyCountsBuilt || m_autoIncField < 0)
        return;
    m_keyCounts.clear();
    m_keyCounts.reserve(m_ordered.size());
    for (RowId row : m_ordered) {
        const RowData& data =
            m_versions[static_cast<std::size_t>(m_rowVersion[static_cast<std::size_t>(row)])];
        if (!data.isNull(m_autoIncField))
            ++m_keyCounts[data.int32(m_autoIncField)];
    }
    m_keyCountsBuilt = true;
}

bool DataTable::isKeyUsed(std::int32_t id, RowId except) const {
    ensureKeyCounts();
    const auto it = m_keyCounts.find(id);
    int count = it == m_keyCounts.end() ? 0 : it->second;
    if (except >= 0) {
        const std::int32_t version = m_rowVersion[static_cast<std::size_t>(except)];
        if (version >= 0) {
            const RowData& own = m_versions[static_cast<std::size_t>(version)];
            if (!own.isNull(m_autoIncField) && own.int32(m_autoIncField) == id)
                --count;
        }
    }
    return count > 0;
}

void DataTable::addKey(const RowData& row) {
    if (m_keyCountsBuilt && m_autoIncField >= 0 && !row.isNull(m_autoIncField))
        ++m_keyCounts[row.int32(m_autoIncField)];
}

void DataTable::dropKey(const RowData& row) {
    if (m_keyCountsBuilt && m_autoIncField >= 0 && !row.isNull(m_autoIncField))
        --m_keyCounts[row.int32(m_autoIncField)];
}

void DataTable::storePending() {
    const RowId row = m_pendingRow;
    const int from = m_cur;
    if (m_state == State::Insert) {
        RowData data;
        if (m_autoIncField >= 0) {
            if (m_counter > std::numeric_limits<std::int32_t>::max())
                fail(QStringLiteral("The ID counter is exhausted"));
            const auto id = static_cast<std::int32_t>(m_counter);
            if (isKeyUsed(id, -1))
                throw CorvantisError(QStringLiteral("Key violation."));
            const std::string_view bytes = bytesOf(id);
            data = m_pending.withField(m_autoIncField, &bytes);
            ++m_counter;
        } else {
            data = std::move(m_pending);
        }
        const auto version = static_cast<std::int32_t>(m_versions.size());
        addKey(data);
        m_versions.push_back(std::move(data));
        m_states.push_back(m_keepHistory ? std::uint32_t(Inserted) : 0u);
        if (m_keepHistory)
            m_log.insert(m_log.end(),
                         {static_cast<std::uint32_t>(version + 1), 0u, std::uint32_t(Inserted)});
        m_rowVersion[static_cast<std::size_t>(row)] = version;
    } else {
        const std::int32_t old = m_rowVersion[static_cast<std::size_t>(row)];
        const RowData& before = m_versions[static_cast<std::size_t>(old)];
        if (!m_pendingModified || m_pending.sameAs(before)) {
            m_state = State::Browse;
            m_pending = RowData();
            m_pendingRow = -1;
            m_pendingModified = false;
            emit rowChanged(from);
            return;
        }
        if (m_autoIncField >= 0 && !m_pending.isNull(m_autoIncField) &&
            (before.isNull(m_autoIncField) ||
             before.int32(m_autoIncField) != m_pending.int32(m_autoIncField))) {
            const std::int32_t id = m_pending.int32(m_autoIncField);
            if (isKeyUsed(id, row))
                throw CorvantisError(QStringLiteral("Key violation."));
            // A hand-set ID must never be handed out again by the counter.
            m_counter = std::max<std::int64_t>(m_counter, std::int64_t(id) + 1);
        }
        dropKey(before);
        addKey(m_pending);
        if (m_keepHistory) {
            const std::uint32_t inherited = m_states[static_cast<std::size_t>(old)] & Inserted;
            m_states[static_cast<std::size_t>(old)] |= Superseded;
            const auto version = static_cast<std::int32_t>(m_versions.size());
            m_versions.push_back(std::move(m_pending));
            m_states.push_back(Modified | inherited);
            m_log.insert(m_log.end(), {static_cast<std::uint32_t>(version + 1),
                                       static_cast<std::uint32_t>(old + 1), Modified});
            m_rowVersion[static_cast<std::size_t>(row)] = version;
        } else {
            m_versions[static_cast<std::size_t>(old)] = std::move(m_pending);
            for (auto& keys : m_textKeys)
                if (static_cast<std::size_t>(old) < keys->keys.size())
                    keys->keys[static_cast<std::size_t>(old)] = TextKeys::Key();
        }
        m_ordered.erase(std::find(m_ordered.begin(), m_ordered.end(), row));
    }
    m_state = State::Browse;
    m_pending = RowData();
    m_pendingRow = -1;
    m_pendingModified = false;
    m_ordered.insert(std::upper_bound(m_ordered.begin(), m_ordered.end(), row,
                                      [this](RowId a, RowId b) { return rowLess(a, b); }),
                     row);
    placeStoredRow(row, from);
}

// Moves a just-stored row from its place in the visible rows to where the order puts it, or
// out of view when the filter no longer lets it through.
void DataTable::placeStoredRow(RowId row, int from) {
    if (m_filtered && !passes(rowData(row))) {
        emit rowAboutToBeRemoved(from);
        m_visible.erase(m_visible.begin() + from);
        emit rowRemoved(from);
        setCurrent(std::min(from, static_cast<int>(m_visible.size()) - 1));
        return;
    }
    // Binary search over the visible rows as if the row were not among them.
    const int others = static_cast<int>(m_visible.size()) - 1;
    auto at = [&](int i) { return m_visible[static_cast<std::size_t>(i < from ? i : i + 1)]; };
    int lo = 0;
    int hi = others;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (rowLess(row, at(mid)))
            hi = mid;
        else
            lo = mid + 1;
    }
    const int to = lo;
    if (to == from) {
        emit rowChanged(from);
        setCurrent(from);
        return;
    }
    emit rowAboutToBeMoved(from, to);
    m_visible.erase(m_visible.begin() + from);
    m_visible.insert(m_visible.begin() + to, row);
    emit rowMoved(from, to);
    setCurrent(to);
}

// --- field access ----------------------------------------------------------------------------

QString DataTable::textOf(const RowData& row, int field) const {
    if (row.isNull(field))
        return QString();
    const FieldDef& def = m_fields[static_cast<std::size_t>(field)];
    switch (def.kind) {
    case FieldKind::String:
    case FieldKind::Memo: {
        const std::string_view bytes = row.raw(field);
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word:
        return QString::number(row.int32(field));
    case FieldKind::Date:
        return uGeneral::FormatShortDate(QDate::fromJulianDay(row.int32(field)));
    case FieldKind::DateTime:
        return uGeneral::FormatDateTime(storedToDateTime(row.int64(field)));
    case FieldKind::Boolean:
        return row.boolean(field) ? TaskRecord::TrueText : TaskRecord::FalseText;
    }
    return QString();
}

QString DataTable::displayTextOf(const RowData& row, int field) const {
    if (m_fields[static_cast<std::size_t>(field)].kind == FieldKind::Boolean)
        return row.boolean(field) ? TaskRecord::YesText : TaskRecord::NoText;
    return textOf(row, field);
}

bool DataTable::isNull(const QString& field) const {
    return currentData().isNull(checkedField(field));
}

QString DataTable::asString(const QString& field) const {
    return textOf(currentData(), checkedField(field));
}

QString DataTable::displayText(const QString& field) const {
    return displayTextOf(currentData(), checkedField(field));
}

std::int64_t DataTable::asInteger(const QString& field) const {
    const int f = checkedField(field);
    const RowData& row = currentData();
    if (row.isNull(f))
        return 0;
    const FieldDef& def = m_fields[static_cast<std::size_t>(f)];
    switch (def.kind) {
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word:
    case FieldKind::Date:
        return row.int32(f);
    case FieldKind::DateTime:
        return row.int64(f);
    case FieldKind::Boolean:
        return row.boolean(f) ? 1 : 0;
    case FieldKind::String:
    case FieldKind::Memo: {
        const QString text = textOf(row, f);
        bool ok = false;
        const qint64 value = text.trimmed().toLongLong(&ok);
        if (!ok)
            throw CorvantisError(QStringLiteral("'%1' is not a valid integer value").arg(text));
        return value;
    }
    }
    return 0;
}

bool DataTable::asBoolean(const QString& field) const {
    const int f = checkedField(field);
    const RowData& row = currentData();
    if (row.isNull(f))
        return false;
    const FieldDef& def = m_fields[static_cast<std::size_t>(f)];
    if (def.kind == FieldKind::Boolean)
        return row.boolean(f);
    if (def.isText())
        return ParseBooleanText(textOf(row, f), def.name).value_or(false);
    return asInteger(field) != 0;
}

QDate DataTable::asDate(const QString& field) const {
    const int f = checkedField(field);
    const RowData& row = currentData();
    if (row.isNull(f))
        return QDate();
    const FieldDef& def = m_fields[static_cast<std::size_t>(f)];
    switch (def.kind) {
    case FieldKind::Date:
        return QDate::fromJulianDay(row.int32(f));
    case FieldKind::DateTime:
        return storedToDateTime(row.int64(f)).date();
    case FieldKind::String:
    case FieldKind::Memo: {
        const QString text = textOf(row, f);
        const QDate date = uGeneral::ParseShortDate(text);
        if (!date.isValid())
            throw CorvantisError(QStringLiteral("'%1' is not a valid date").arg(text));
        return date;
    }
    default:
        throw CorvantisError(QStringLiteral("Field '%1' does not hold a date").arg(def.name));
    }
}

QDateTime DataTable::asDateTime(const QString& field) const {
    const int f = checkedField(field);
    const RowData& row = currentData();
    if (row.isNull(f))
        return QDateTime();
    if (m_fields[static_cast<std::size_t>(f)].kind == FieldKind::DateTime)
        return storedToDateTime(row.int64(f));
    return QDateTime(asDate(field), QTime(0, 0));
}

void DataTable::writeField(int field, const std::string_view* value) {
    m_pending = m_pending.withField(field, value);
    m_pendingModified = true;
    emit rowChanged(m_cur);
}

// Refuses a read-only field; returns its index.
static int writableField(const DataTable& table, int index) {
    const FieldDef& def = table.fields()[static_cast<std::size_t>(index)];
    if (def.readOnly())
        throw CorvantisError(QStringLiteral("Field '%1' cannot be modified").arg(def.name));
    return index;
}

void DataTable::writeText(int field, const QString& value) {
    const FieldDef& def = m_fields[static_cast<std::size_t>(field)];
    switch (def.kind) {
    case FieldKind::String: {
        QString text = value;
        while (text.endsWith(u' '))
            text.chop(1);
        const QByteArray bytes = cutToWidth(text, def.width).toUtf8();
        const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        writeField(field, &view);
        return;
    }
    case FieldKind::Memo: {
        const QByteArray bytes = value.toUtf8();
        const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        writeField(field, &view);
        return;
    }
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word: {
        if (value.isEmpty()) {
            writeField(field, nullptr);
            return;
        }
        bool ok = false;
        const qint64 number = value.trimmed().toLongLong(&ok);
        if (!ok)
            throw CorvantisError(QStringLiteral("'%1' is not a valid integer value for field '%2'")
                                     .arg(value, def.name));
        writeInteger(field, number);
        return;
    }
    case FieldKind::Date: {
        if (value.isEmpty()) {
            writeField(field, nullptr);
            return;
        }
        const QDate date = uGeneral::ParseShortDate(value);
        if (!date.isValid())
            throw CorvantisError(QStringLiteral("'%1' is not a valid date").arg(value));
        const auto day = static_cast<std::int32_t>(date.toJulianDay());
        const std::string_view view = bytesOf(day);
        writeField(field, &view);
        return;
    }
    case FieldKind::DateTime: {
        if (value.isEmpty()) {
            writeField(field, nullptr);
            return;
        }
        const QString trimmed = value.trimmed();
        QDateTime stamp =
            QLocale().toDateTime(trimmed, uGeneral::ShortDateFormat() + QStringLiteral(" ") +
                                              QLocale().timeFormat(QLocale::ShortFormat));
        if (!stamp.isValid()) {
            const QDate day = uGeneral::ParseShortDate(trimmed);
            if (day.isValid())
                stamp = QDateTime(day, QTime(0, 0));
        }
        if (!stamp.isValid())
            throw CorvantisError(QStringLiteral("'%1' is not a valid date and time").arg(value));
        const std::int64_t stored = dateTimeToStored(stamp);
        const std::string_view view(reinterpret_cast<const char*>(&stored), sizeof stored);
        writeField(field, &view);
        return;
    }
    case FieldKind::Boolean: {
        const std::optional<bool> flag = ParseBooleanText(value, def.name);
        if (!flag) {
            writeField(field, nullptr);
            return;
        }
        const char byte = *flag ? 1 : 0;
        const std::string_view view(&byte, 1);
        writeField(field, &view);
        return;
    }
    }
}

std::int32_t DataTable::checkedInteger(FieldKind kind, const QString& fieldName,
                                       std::int64_t value) {
    const std::int64_t low = kind == FieldKind::Word ? 0 : std::numeric_limits<std::int32_t>::min();
    const std::int64_t high =
        kind == FieldKind::Word ? 65535 : std::numeric_limits<std::int32_t>::max();
    if (value < low || value > high)
        throw CorvantisError(
            QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
                .arg(formatG(double(value)), fieldName, formatG(double(low)),
                     formatG(double(high))));
    return static_cast<std::int32_t>(value);
}

void DataTable::writeInteger(int field, std::int64_t value) {
    const FieldDef& def = m_fields[static_cast<std::size_t>(field)];
    switch (def.kind) {
    case FieldKind::String:
    case FieldKind::Memo:
        writeText(field, QString::number(value));
        return;
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word: {
        const std::int32_t stored = checkedInteger(def.kind, def.name, value);
        const std::string_view view = bytesOf(stored);
        writeField(field, &view);
        return;
    }
    case FieldKind::Boolean: {
        const char byte = value != 0 ? 1 : 0;
        const std::string_view view(&byte, 1);
        writeField(field, &view);
        return;
    }
    case FieldKind::Date:
    case FieldKind::DateTime:
        throw CorvantisError(
            QStringLiteral("Field '%1' cannot take the number %2").arg(def.name).arg(value));
    }
}

void DataTable::setString(const QString& field, const QString& value) {
    const int f = writableField(*this, checkedField(field));
    requireEditing();
    writeText(f, value);
}

void DataTable::setInteger(const QString& field, std::int64_t value) {
    const int f = writableField(*this, checkedField(field));
    requireEditing();
    writeInteger(f, value);
}

void DataTable::setBoolean(const QString& field, bool value) {
    const int f = writableField(*this, checkedField(field));
    requireEditing();
    const FieldDef& def = m_fields[static_cast<std::size_t>(f)];
    if (def.kind == FieldKind::Boolean) {
        const char byte = value ? 1 : 0;
        const std::string_view view(&byte, 1);
        writeField(f, &view);
    } else if (def.isText()) {
        writeText(f, value ? TaskRecord::TrueText : TaskRecord::FalseText);
    } else {
        writeInteger(f, value ? 1 : 0);
    }
}

void DataTable::setDate(const QString& field, const QDate& value) {
    const int f = writableField(*this, checkedField(field));
    requireEditing();
    const FieldDef& def = m_fields[static_cast<std::size_t>(f)];
    if (!value.isValid()) {
        writeField(f, nullptr);
        return;
    }
    switch (def.kind) {
    case FieldKind::Date: {
        const auto day = static_cast<std::int32_t>(value.toJulianDay());
        const std::string_view view = bytesOf(day);
        writeField(f, &view);
        return;
    }
    case FieldKind::DateTime:
        setDateTime(field, QDateTime(value, QTime(0, 0)));
        return;
    case FieldKind::String:
    case FieldKind::Memo:
        writeText(f, uGeneral::FormatShortDate(value));
        return;
    default:
        throw CorvantisError(QStringLiteral("Field '%1' cannot take a date").arg(def.name));
    }
}

void DataTable::setDateTime(const QString& field, const QDateTime& value) {
    const int f = writableField(*this, checkedField(field));
    requireEditing();
    const FieldDef& def = m_fields[static_cast<std::size_t>(f)];
    if (!value.isValid()) {
        writeField(f, nullptr);
        return;
    }
    if (def.kind == FieldKind::DateTime) {
        const std::int64_t stored = dateTimeToStored(value);
        const std::string_view view(reinterpret_cast<const char*>(&stored), sizeof stored);
        writeField(f, &view);
        return;
    }
    if (def.kind == FieldKind::Date || def.isText()) {
        setDate(field, value.date());
        return;
    }
    throw CorvantisError(QStringLiteral("Field '%1' cannot take a date").arg(def.name));
}

void DataTable::setNull(const QString& field) {
    const int f = writableField(*this, checkedField(field));
    requireEditing();
    writeField(f, nullptr);
}

std::int64_t DataTable::dateTimeToStored(const QDateTime& value) {
    return value.date().toJulianDay() * MsPerDay + value.time().msecsSinceStartOfDay();
}

QDateTime DataTable::storedToDateTime(std::int64_t value) {
    std::int64_t day = value / MsPerDay;
    std::int64_t ms = value % MsPerDay;
    if (ms < 0) {
        ms += MsPerDay;
        --day;
    }
    return QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

// --- order -----------------------------------------------------------------------------------

void DataTable::resetViews(const std::function<void()>& change) {
    emit aboutToReset();
    change();
    emit resetDone();
}

void DataTable::applyIndexDef(const QString& name) {
    if (name.isEmpty()) {
        m_sortField = -1;
        m_activeTextKeys = nullptr;
        m_indexName.clear();
        return;
    }
    const auto def = std::find_if(m_indexDefs.begin(), m_indexDefs.end(), [&](const IndexDef& d) {
        return d.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (def == m_indexDefs.end())
        fail(QStringLiteral("Index '%1' not found").arg(name));
    const int field = fieldIndexOrThrow(def->field);
    m_sortField = field;
    m_sortDescending = def->descending;
    m_sortCaseInsensitive = def->caseInsensitive;
    m_activeTextKeys = nullptr;
    if (m_fields[static_cast<std::size_t>(field)].isText()) {
        for (auto& keys : m_textKeys)
            if (keys->field == field && keys->caseInsensitive == def->caseInsensitive)
                m_activeTextKeys = keys.get();
        if (!m_activeTextKeys) {
            auto keys = std::make_unique<TextKeys>();
            keys->field = field;
            keys->caseInsensitive = def->caseInsensitive;
            const QLocale locale;
            keys->bytewise = locale.language() == QLocale::C;
            keys->locale = locale.bcp47Name().replace(u'-', u'_').toLatin1();
            m_activeTextKeys = keys.get();
            m_textKeys.push_back(std::move(keys));
        }
    }
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

void DataTable::makeTextKeys(const std::vector<std::uint32_t>& versions) const {
    TextKeys& cache = *m_activeTextKeys;
    if (cache.keys.size() < m_versions.size())
        cache.keys.resize(m_versions.size());
    std::vector<std::uint32_t> missing;
    for (const std::uint32_t v : versions)
        if (!cache.keys[v].bytes && !m_versions[v].isNull(cache.field))
            missing.push_back(v);
    if (missing.empty())
        return;
    auto makeOn = [&](Collator* collator, std::vector<char>& buffer, ByteBlocks& store,
                      std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            const std::uint32_t v = missing[i];
            TextKeys::make(collator, m_versions[v].raw(cache.field), buffer, store, cache.keys[v]);
        }
    };
    // A collation key takes about a microsecond to make: the keys of a large list are shared
    // out among the processors, each with a collator of its own writing its own slots.
    constexpr std::size_t PerThread = 16384;
    const std::size_t threads =
        cache.bytewise ? 1
                       : std::min<std::size_t>({std::max(1u, std::thread::hardware_concurrency()),
                                                4, missing.size() / PerThread + 1});
    std::vector<ByteBlocks> stores(threads);
    std::vector<std::exception_ptr> failures(threads);
    std::vector<std::thread> helpers;
    helpers.reserve(threads);
    const std::size_t share = (missing.size() + threads - 1) / threads;
    std::size_t shared = share; // the keys from here on are being made by another thread
    for (std::size_t t = 1; t < threads; ++t) {
        const std::size_t from = t * share;
        const std::size_t to = std::min(missing.size(), from + share);
        try {
            helpers.emplace_back([&, t, from, to] {
                try {
                    Collator collator(cache.locale, cache.caseInsensitive);
                    std::vector<char> buffer;
                    makeOn(&collator, buffer, stores[t], from, to);
                } catch (...) {
                    failures[t] = std::current_exception();
                }
            });
            shared = to;
        } catch (const std::system_error&) {
            break; // no more threads: this one makes the rest
        }
    }
    try {
        makeOn(cache.collatorOrNull(), cache.buffer, stores[0], 0, share);
        makeOn(cache.collatorOrNull(), cache.buffer, stores[0], shared, missing.size());
    } catch (...) {
        failures[0] = std::current_exception();
    }
    for (std::thread& helper : helpers)
        helper.join();
    for (ByteBlocks& store : stores)
        cache.store.take(std::move(store));
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}

const DataTable::CollationKey& DataTable::textKey(std::uint32_t version) const {
    TextKeys& cache = *m_activeTextKeys;
    if (cache.keys.size() < m_versions.size())
        cache.keys.resize(m_versions.size());
    TextKeys::Key& slot = cache.keys[version];
    if (!slot.bytes)
        TextKeys::make(cache.collatorOrNull(), m_versions[version].raw(cache.field), cache.buffer,
                       cache.store, slot);
    return slot;
}

int DataTable::compareKeys(std::uint32_t va, std::uint32_t vb) const {
    const RowData& a = m_versions[va];
    const RowData& b = m_versions[vb];
    const int f = m_sortField;
    const bool nullA = a.isNull(f);
    const bool nullB = b.isNull(f);
    int c = 0;
    if (nullA || nullB) {
        c = nullA == nullB ? 0 : (nullA ? -1 : 1);
    } else {
        switch (m_fields[static_cast<std::size_t>(f)].kind) {
        case FieldKind::String:
        case FieldKind::Memo: {
            const CollationKey& x = textKey(va);
            const CollationKey& y = textKey(vb);
            c = compareKeyBytes(x.bytes, x.size, y.bytes, y.size);
        } break;
        case FieldKind::Integer:
        case FieldKind::AutoInc:
        case FieldKind::Word:
        case FieldKind::Date: {
            const std::int32_t x = a.int32(f);
            const std::int32_t y = b.int32(f);
            c = x < y ? -1 : (x > y ? 1 : 0);
            break;
        }
        case FieldKind::DateTime: {
            const std::int64_t x = a.int64(f);
            const std::int64_t y = b.int64(f);
            c = x < y ? -1 : (x > y ? 1 : 0);
            break;
        }
        case FieldKind::Boolean:
            c = int(a.boolean(f)) - int(b.boolean(f));
            break;
        }
    }
    return m_sortDescending ? -c : c;
}

// Rows with equal keys keep their natural order (the order of their current versions).
bool DataTable::rowLess(RowId a, RowId b) const {
    const auto va = static_cast<std::uint32_t>(m_rowVersion[static_cast<std::size_t>(a)]);
    const auto vb = static_cast<std::uint32_t>(m_rowVersion[static_cast<std::size_t>(b)]);
    if (m_sortField >= 0) {
        const int c = compareKeys(va, vb);
        if (c != 0)
            return c < 0;
    }
    return va < vb;
}

void DataTable::rebuildOrder() {
    if (m_sortField < 0) {
        std::sort(m_ordered.begin(), m_ordered.end(),
                  [this](RowId a, RowId b) { return rowLess(a, b); });
        return;
    }
    // Read each row's key once, up front (text keys from the collation cache), and sort on the
    // keys alone: the comparisons then never touch the rows, which lie all over memory in a
    // large list. The order is rowLess's: empty keys first (last when descending), ties by
    // version.
    struct Keyed {
        std::int64_t number; // the prefix of a text key
        const char* text;    // the rest: the whole key
        std::uint32_t size;
        std::uint32_t version;
        RowId row;
        bool null;
    };
    const int f = m_sortField;
    const FieldKind kind = m_fields[static_cast<std::size_t>(f)].kind;
    std::vector<std::uint32_t> versions;
    versions.reserve(m_ordered.size());
    for (RowId row : m_ordered)
        versions.push_back(static_cast<std::uint32_t>(m_rowVersion[static_cast<std::size_t>(row)]));
    if (m_activeTextKeys)
        makeTextKeys(versions);
    std::vector<Keyed> keyed;
    keyed.reserve(m_ordered.size());
    for (std::size_t i = 0; i < versions.size(); ++i) {
        const std::uint32_t version = versions[i];
        const RowData& data = m_versions[version];
        Keyed k{0, nullptr, 0, version, m_ordered[i], data.isNull(f)};
        if (!k.null && m_activeTextKeys) {
            const CollationKey& key = m_activeTextKeys->keys[version];
            // The prefix flipped into a signed number that orders the same way.
            k.number = std::int64_t(key.prefix ^ (std::uint64_t(1) << 63));
            k.text = key.bytes;
            k.size = key.size;
        } else if (!k.null) {
            k.number = kind == FieldKind::DateTime  ? data.int64(f)
                       : kind == FieldKind::Boolean ? std::int64_t(data.boolean(f))
                                                    : std::int64_t(data.int32(f));
        }
        keyed.push_back(k);
    }
    const bool descending = m_sortDescending;
    std::sort(keyed.begin(), keyed.end(), [descending](const Keyed& a, const Keyed& b) {
        int c = 0;
        if (a.null || b.null)
            c = a.null == b.null ? 0 : (a.null ? -1 : 1);
        else if (a.number != b.number)
            c = a.number < b.number ? -1 : 1;
        else if (a.text)
            c = compareKeyBytes(a.text, a.size, b.text, b.size);
        if (descending)
            c = -c;
        return c != 0 ? c < 0 : a.version < b.version;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        m_ordered[i] = keyed[i].row;
}

// --- filter ----------------------------------------------------------------------------------

bool DataTable::passes(const RowData& row) const {
    return !m_compiledFilter || m_compiledFilter->matches(row);
}

void DataTable::rebuildVisible() {
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
    FilterExpression compiled = FilterExpression::compile(text, m_fields, objectName());
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
        resetViews([&] { rebuildVisible(); });
    setCurrent(m_visible.empty() ? -1 : 0);
    scrolled();
}

void DataTable::setFiltered(bool on) {
    requireActive();
    if (on && !m_compiledFilter)
        m_compiledFilter = FilterExpression::compile(m_filterText, m_fields, objectName());
    settle();
    if (on != m_filtered) {
        resetViews([&] {
            m_filtered = on;
            rebuildVisible();
            m_cur = -1;
        });
    }
    setCurrent(m_visible.empty() ? -1 : 0);
    scrolled();
}
