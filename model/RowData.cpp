#include "model/RowData.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
char* allocate(std::size_t size) {
    char* p = static_cast<char*>(std::malloc(size));
    if (!p)
        throw std::bad_alloc();
    return p;
}

std::size_t headerSize(int count) {
    return 8 + 4 * static_cast<std::size_t>(count) + (static_cast<std::size_t>(count) + 7) / 8;
}
} // namespace

RowData& RowData::operator=(RowData&& other) noexcept {
    if (this != &other) {
        std::free(m_p);
        m_p = other.m_p;
        other.m_p = nullptr;
    }
    return *this;
}

RowData::~RowData() {
    std::free(m_p);
}

RowData RowData::clone() const {
    RowData copy;
    if (m_p) {
        copy.m_p = allocate(header()->size);
        std::memcpy(copy.m_p, m_p, header()->size);
    }
    return copy;
}

int RowData::fieldCount() const {
    return m_p ? header()->count : 0;
}

bool RowData::isNull(int field) const {
    if (!m_p || field < 0 || field >= header()->count)
        return true;
    return nulls()[field >> 3] & (1u << (field & 7));
}

std::string_view RowData::raw(int field) const {
    if (isNull(field))
        return {};
    const std::uint32_t begin = field == 0 ? 0 : ends()[field - 1];
    return std::string_view(data() + begin, ends()[field] - begin);
}

std::int32_t RowData::int32(int field) const {
    const std::string_view v = raw(field);
    std::int32_t value = 0;
    if (v.size() == sizeof value)
        std::memcpy(&value, v.data(), sizeof value);
    return value;
}

std::int64_t RowData::int64(int field) const {
    const std::string_view v = raw(field);
    std::int64_t value = 0;
    if (v.size() == sizeof value)
        std::memcpy(&value, v.data(), sizeof value);
    return value;
}

bool RowData::boolean(int field) const {
    const std::string_view v = raw(field);
    return !v.empty() && v[0] != 0;
}

bool RowData::sameAs(const RowData& other) const {
    if (!m_p || !other.m_p)
        return m_p == other.m_p;
    return header()->size == other.header()->size &&
           std::memcmp(m_p, other.m_p, header()->size) == 0;
}

std::size_t RowData::byteSize() const {
    return m_p ? header()->size : 0;
}

RowData RowData::empty(int fieldCount) {
    return RowBuilder(fieldCount).build();
}

RowData RowData::withField(int field, const std::string_view* value) const {
    const int count = fieldCount();
    RowBuilder builder(count);
    for (int i = 0; i < count; ++i) {
        if (i == field) {
            if (value)
                builder.setBytes(i, *value);
        } else if (!isNull(i)) {
            builder.setBytes(i, raw(i));
        }
    }
    return builder.build();
}

RowBuilder::RowBuilder(int fieldCount)
    : m_off(static_cast<std::size_t>(fieldCount), 0),
      m_len(static_cast<std::size_t>(fieldCount), -1) {}

void RowBuilder::reset() {
    m_scratch.clear();
    std::fill(m_len.begin(), m_len.end(), -1);
}

void RowBuilder::setNull(int field) {
    m_len[field] = -1;
}

void RowBuilder::setBytes(int field, std::string_view bytes) {
    m_off[field] = static_cast<std::uint32_t>(m_scratch.size());
    m_scratch.append(bytes.data(), bytes.size());
    m_len[field] = static_cast<std::int64_t>(bytes.size());
}

std::string& RowBuilder::begin(int field) {
    m_off[field] = static_cast<std::uint32_t>(m_scratch.size());
    return m_scratch;
}

void RowBuilder::finish(int field) {
    m_len[field] = static_cast<std::int64_t>(m_scratch.size() - m_off[field]);
}

void RowBuilder::setInt32(int field, std::int32_t value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    setBytes(field, std::string_view(bytes, sizeof bytes));
}

void RowBuilder::setInt64(int field, std::int64_t value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    setBytes(field, std::string_view(bytes, sizeof bytes));
}

void RowBuilder::setBool(int field, bool value) {
    const char byte = value ? 1 : 0;
    setBytes(field, std::string_view(&byte, 1));
}

std::string_view RowBuilder::value(int field) const {
    if (m_len[field] < 0)
        return {};
    return std::string_view(m_scratch.data() + m_off[field],
                            static_cast<std::size_t>(m_len[field]));
}

RowData RowBuilder::build() const {
    const int count = fieldCount();
    std::size_t dataSize = 0;
    for (int i = 0; i < count; ++i)
        if (m_len[i] > 0)
            dataSize += static_cast<std::size_t>(m_len[i]);
    const std::size_t size = headerSize(count) + dataSize;
    RowData row;
    row.m_p = allocate(size);
    auto* header = reinterpret_cast<RowData::Header*>(row.m_p);
    header->size = static_cast<std::uint32_t>(size);
    header->count = static_cast<std::uint16_t>(count);
    header->reserved = 0;
    auto* ends = reinterpret_cast<std::uint32_t*>(row.m_p + 8);
    auto* nulls = reinterpret_cast<std::uint8_t*>(row.m_p + 8 + 4 * count);
    std::memset(nulls, 0, (static_cast<std::size_t>(count) + 7) / 8);
    char* out = row.m_p + headerSize(count);
    std::uint32_t end = 0;
    for (int i = 0; i < count; ++i) {
        if (m_len[i] < 0) {
            nulls[i >> 3] |= static_cast<std::uint8_t>(1u << (i & 7));
        } else if (m_len[i] > 0) {
            std::memcpy(out + end, m_scratch.data() + m_off[i], static_cast<std::size_t>(m_len[i]));
            end += static_cast<std::uint32_t>(m_len[i]);
        }
        ends[i] = end;
    }
    return row;
}
