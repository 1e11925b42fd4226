#pragma once

#include "model/RowData.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

// Row versions kept packed (ArenaRowWriter::Packed) instead of laid out as rows: the versions a
// loaded list holds but nothing reads until the history windows or a save ask, which are two
// thirds of a long-used list. Packed, a version keeps its values and about a byte per value;
// laid out, each field adds four bytes of ends and a null bit. A version is laid out when it is
// first read (unpack), or its values read in place (forEachValue) by the file writer.
//
// Indexed by version number, beside the table's versions: a version it does not hold is
// laid out there.
class RowDataStore {
public:
    RowDataStore() = default;
    explicit RowDataStore(int fieldCount) : m_count(fieldCount) {}
    RowDataStore(RowDataStore&&) noexcept = default;
    RowDataStore& operator=(RowDataStore&&) noexcept = default;

    // --- filled by the reader, one entry per version in order ----------------------------------
    RowArena& memory() { return m_memory; }
    void reserve(std::size_t versions) { m_records.reserve(versions); }
    // The next version is laid out elsewhere.
    void skip() { m_records.push_back(nullptr); }
    // The next version is this record (ArenaRowWriter::finishPacked, in memory()).
    void add(const char* record) { m_records.push_back(record); }
    // Takes over the versions of another store as the ones that follow.
    void append(RowDataStore&& other);

    // --- read ------------------------------------------------------------------------------------
    bool holds(std::size_t version) const {
        return version < m_records.size() && m_records[version] != nullptr;
    }
    // The version laid out as a row that owns its memory.
    RowData unpack(std::size_t version) const;
    // What the version takes laid out (RowData::byteSize).
    std::size_t rowSize(std::size_t version) const {
        return RowData::headerSize(m_count) + valueBytes(m_records[version]);
    }
    // Calls f(field, bytes) for each field that is not null, in field order, as
    // RowData::forEachValue does.
    template <class F> void forEachValue(std::size_t version, F&& f) const {
        const char* record = m_records[version];
        const char* value = record + sizeof(std::uint32_t);
        const auto* nulls = reinterpret_cast<const std::uint8_t*>(value + valueBytes(record));
        const auto* length = reinterpret_cast<const std::uint8_t*>(nulls) + nullBytes();
        for (int group = 0; group * 8 < m_count; ++group) {
            // The fields of eight that are not null (the bits past the last field are clear).
            unsigned present = ~unsigned(nulls[group]) & 0xFFu;
            if ((group + 1) * 8 > m_count)
                present &= (1u << (m_count - group * 8)) - 1;
            while (present) {
                const std::size_t size = readLength(length);
                f(group * 8 + __builtin_ctz(present), std::string_view(value, size));
                value += size;
                present &= present - 1;
            }
        }
    }

private:
    static std::uint32_t valueBytes(const char* record) {
        std::uint32_t bytes = 0;
        std::memcpy(&bytes, record, sizeof bytes);
        return bytes;
    }
    std::size_t nullBytes() const { return (std::size_t(m_count) + 7) / 8; }
    static std::size_t readLength(const std::uint8_t*& p) {
        if (*p < 0x80)
            return *p++;
        std::size_t length = 0;
        for (int shift = 0;; shift += 7) {
            const std::uint8_t byte = *p++;
            length |= std::size_t(byte & 0x7F) << shift;
            if (byte < 0x80)
                return length;
        }
    }

    int m_count = 0;
    RowArena m_memory;
    std::vector<const char*> m_records; // by version; nullptr: not held here
};
