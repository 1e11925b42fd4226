#pragma once

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One stored version of a row: every field's value in a single allocation, so a list of
// 100,000 tasks with their history stays close to the size of its file. Text is kept as UTF-8,
// integers and days (Julian day numbers) as 4 bytes, date-times as 8 (milliseconds since the
// start of Julian day 0), booleans as 1. A field is either null or holds bytes; a text field may
// hold zero bytes without being null (the empty text).
class RowData {
public:
    RowData() noexcept = default;
    RowData(RowData&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    RowData& operator=(RowData&& other) noexcept;
    RowData(const RowData&) = delete;
    RowData& operator=(const RowData&) = delete;
    ~RowData();

    RowData clone() const;
    bool isValid() const { return m_p != nullptr; }

    int fieldCount() const;
    bool isNull(int field) const;
    std::string_view raw(int field) const;
    std::int32_t int32(int field) const;
    std::int64_t int64(int field) const;
    bool boolean(int field) const;

    // The same row with one field replaced (null when value is nullptr).
    RowData withField(int field, const std::string_view* value) const;
    // Same field count and the same value in every field.
    bool sameAs(const RowData& other) const;
    std::size_t byteSize() const;

    static RowData empty(int fieldCount);

private:
    friend class RowBuilder;
    struct Header {
        std::uint32_t size; // whole allocation
        std::uint16_t count;
        std::uint16_t reserved;
    };
    const Header* header() const { return reinterpret_cast<const Header*>(m_p); }
    const std::uint32_t* ends() const { return reinterpret_cast<const std::uint32_t*>(m_p + 8); }
    const std::uint8_t* nulls() const {
        return reinterpret_cast<const std::uint8_t*>(m_p + 8 + 4 * header()->count);
    }
    const char* data() const { return m_p + 8 + 4 * header()->count + (header()->count + 7) / 8; }

    char* m_p = nullptr;
};

// Collects field values in any order and lays them out as a RowData. Reusable: reset() keeps
// its buffers, so a loader builds thousands of rows without reallocating.
class RowBuilder {
public:
    explicit RowBuilder(int fieldCount);
    void reset();
    void setNull(int field);
    void setBytes(int field, std::string_view bytes);
    // Opens field for appending; returns the scratch string to append to. Call finish() after.
    std::string& begin(int field);
    void finish(int field);
    void setInt32(int field, std::int32_t value);
    void setInt64(int field, std::int64_t value);
    void setBool(int field, bool value);
    bool isSet(int field) const { return m_len[field] >= 0; }
    std::string_view value(int field) const;
    RowData build() const;
    int fieldCount() const { return static_cast<int>(m_len.size()); }

private:
    std::string m_scratch;
    std::vector<std::uint32_t> m_off;
    std::vector<std::int64_t> m_len; // -1: null
};
