#include "model/RowDataStore.h"

#include <cstdlib>
#include <new>

void RowDataStore::append(RowDataStore&& other) {
    m_memory.take(std::move(other.m_memory));
    m_records.insert(m_records.end(), other.m_records.begin(), other.m_records.end());
    other.m_records.clear();
}

RowData RowDataStore::unpack(std::size_t version) const {
    const std::size_t size = rowSize(version);
    char* row = static_cast<char*>(std::malloc(size));
    if (!row)
        throw std::bad_alloc();
    auto* header = reinterpret_cast<RowData::Header*>(row);
    header->size = std::uint32_t(size);
    header->count = std::uint16_t(m_count);
    header->reserved = 0;
    auto* ends = reinterpret_cast<std::uint32_t*>(row + sizeof(RowData::Header));
    auto* nulls = reinterpret_cast<std::uint8_t*>(ends + m_count);
    char* data = row + RowData::headerSize(m_count);

    const char* record = m_records[version];
    const std::uint32_t bytes = valueBytes(record);
    const char* values = record + sizeof(std::uint32_t);
    std::memcpy(data, values, bytes);
    const auto* recordNulls = reinterpret_cast<const std::uint8_t*>(values + bytes);
    std::memcpy(nulls, recordNulls, nullBytes());
    const std::uint8_t* length = recordNulls + nullBytes();
    std::uint32_t end = 0;
    for (int field = 0; field < m_count; ++field) {
        if (!((recordNulls[field >> 3] >> (field & 7)) & 1u))
            end += std::uint32_t(readLength(length));
        ends[field] = end;
    }
    return RowData::owning(row);
}
