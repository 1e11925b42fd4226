#pragma once

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class RowArena;

// One stored version of a row: every field's value in a single piece of memory, so a list of
// 100,000 tasks with their history stays close to the size of its file. Text is kept as UTF-8,
// integers and days (Julian day numbers) as 4 bytes, date-times as 8 (milliseconds since the
// start of Julian day 0), booleans as 1. A field is either null or holds bytes; a text field may
// hold zero bytes without being null (the empty text).
//
// A row owns its memory, or, when it was loaded, lies in a RowArena that frees it with all the
// other rows of the list (then the arena must outlive it; a clone always owns its memory).
// The accessors are inline: the file writer, sorting and filtering call them millions of times.
class RowData {
public:
    RowData() noexcept = default;
    RowData(RowData&& other) noexcept : m_bits(other.m_bits) { other.m_bits = 0; }
    RowData& operator=(RowData&& other) noexcept {
        if (this != &other) {
            release();
            m_bits = other.m_bits;
            other.m_bits = 0;
        }
        return *this;
    }
    RowData(const RowData&) = delete;
    RowData& operator=(const RowData&) = delete;
    ~RowData() { release(); }

    RowData clone() const;
    bool isValid() const { return m_bits != 0; }

    int fieldCount() const { return m_bits ? header()->count : 0; }
    bool isNull(int field) const {
        if (!m_bits || static_cast<unsigned>(field) >= header()->count)
            return true;
        return (nulls()[field >> 3] >> (field & 7)) & 1u;
    }
    std::string_view raw(int field) const {
        if (isNull(field))
            return {};
        const std::uint32_t begin = field == 0 ? 0 : ends()[field - 1];
        return std::string_view(data() + begin, ends()[field] - begin);
    }
    std::int32_t int32(int field) const { return number<std::int32_t>(field); }
    std::int64_t int64(int field) const { return number<std::int64_t>(field); }
    bool boolean(int field) const {
        const std::string_view v = raw(field);
        return !v.empty() && v[0] != 0;
    }

    // Calls f(field, bytes) for each field that is not null, in field order: one pass over the
    // row for a writer, without a look-up per field.
    template <class F> void forEachValue(F&& f) const {
        if (!m_bits)
            return;
        const int count = header()->count;
        const std::uint32_t* end = ends();
        const std::uint8_t* null = nulls();
        const char* bytes = data();
        for (int group = 0; group * 8 < count; ++group) {
            unsigned present = ~unsigned(null[group]) & 0xFFu;
            if ((group + 1) * 8 > count)
                present &= (1u << (count - group * 8)) - 1;
            while (present) {
                const int field = group * 8 + __builtin_ctz(present);
                const std::uint32_t begin = field == 0 ? 0 : end[field - 1];
                f(field, std::string_view(bytes + begin, end[field] - begin));
                present &= present - 1;
            }
        }
    }

    // The same row with one field replaced (null when value is nullptr).
    RowData withField(int field, const std::string_view* value) const;
    // Same field count and the same value in every field.
    bool sameAs(const RowData& other) const;
    std::size_t byteSize() const { return m_bits ? header()->size : 0; }

    static RowData empty(int fieldCount);

    // The layout, for the builders: a header, the end offset of every field's bytes, a bit per
    // field that is null, then the bytes of the fields in order.
    struct Header {
        std::uint32_t size; // the whole row
        std::uint16_t count;
        std::uint16_t reserved;
    };
    static std::size_t headerSize(int count) {
        return sizeof(Header) + 4 * static_cast<std::size_t>(count) +
               (static_cast<std::size_t>(count) + 7) / 8;
    }

private:
    friend class RowBuilder;
    friend class ArenaRowWriter;
    friend class RowDataStore;
    // The low bit of m_bits marks memory that a RowArena owns; rows there are 8-byte aligned.
    static constexpr std::uintptr_t Borrowed = 1;

    static RowData owning(char* p) {
        RowData row;
        row.m_bits = reinterpret_cast<std::uintptr_t>(p);
        return row;
    }
    static RowData borrowing(char* p) {
        RowData row;
        row.m_bits = reinterpret_cast<std::uintptr_t>(p) | Borrowed;
        return row;
    }
    void release() noexcept {
        if (m_bits && !(m_bits & Borrowed))
            std::free(reinterpret_cast<void*>(m_bits));
    }
    const char* base() const { return reinterpret_cast<const char*>(m_bits & ~Borrowed); }
    const Header* header() const { return reinterpret_cast<const Header*>(base()); }
    const std::uint32_t* ends() const {
        return reinterpret_cast<const std::uint32_t*>(base() + sizeof(Header));
    }
    const std::uint8_t* nulls() const {
        return reinterpret_cast<const std::uint8_t*>(base() + sizeof(Header) +
                                                     4 * std::size_t(header()->count));
    }
    const char* data() const { return base() + headerSize(header()->count); }
    template <class T> T number(int field) const {
        const std::string_view v = raw(field);
        T value = 0;
        if (v.size() == sizeof value)
            std::memcpy(&value, v.data(), sizeof value);
        return value;
    }

    std::uintptr_t m_bits = 0;
};

// Memory for the rows of a loaded list, taken in large blocks and given back all at once: one
// allocation per row version would cost a list of 100,000 tasks some 300,000 allocations to load
// and as many frees to close.
class RowArena {
public:
    RowArena() = default;
    RowArena(RowArena&&) noexcept = default;
    RowArena& operator=(RowArena&&) noexcept = default;

    // size bytes, 8-byte aligned, that stay put until the arena is dropped.
    char* allocate(std::size_t size);
    std::size_t blockCount() const { return m_blocks.size(); }
    // Takes over the memory of another arena (rows built there stay valid).
    void take(RowArena&& other);

private:
    friend class ArenaRowWriter;
    // Moves to a new block of at least `size` bytes, taking the `keep` bytes at `from` (a row
    // being built at the end of the current block) along; returns where they now start.
    char* carryOver(const char* from, std::size_t keep, std::size_t size);
    void commit(char* end) { m_cursor = end; }
    // Has the kernel back the current block a few megabytes at a time ahead of what is written:
    // fewer faults than page by page, and no memory for the part of a block a list never fills.
    void populateTo(const char* upTo) {
        if (upTo > m_populated)
            populateAhead(upTo);
    }
    void populateAhead(const char* upTo);

    struct Free {
        void operator()(char* p) const { std::free(p); }
    };
    std::vector<std::unique_ptr<char, Free>> m_blocks;
    std::size_t m_current = 0; // the block m_cursor is in
    char* m_cursor = nullptr;
    char* m_limit = nullptr;
    char* m_populated = nullptr; // the current block is backed up to here
    std::size_t m_nextBlock = std::size_t(64) << 10;
};

// Builds rows straight into a RowArena: the list file reader unescapes each value into its final
// place, without a second copy. The caller writes the values one after another through a raw
// cursor (kept in its own variables, which stores through the cursor cannot disturb) and lists
// the fields it gave; the writer lays out the row around them, as RowData, or packed (Packed):
// the values without the row's table of ends and null bits, for versions that are kept but not
// read (RowDataStore).
class ArenaRowWriter {
public:
    enum Layout { Rows, Packed };
    // Bytes a caller may write past what it asked room for (a sixteen-byte copy running ahead).
    static constexpr std::size_t Slack = 16;

    ArenaRowWriter(RowArena& arena, int fieldCount, Layout layout = Rows);

    // Where a row's values go: from `values` on; a caller asks for more room before it would
    // write past `limit` less Slack.
    struct Room {
        char* values;
        char* limit;
    };
    // Starts a row (dropping one begun and not finished).
    Room begin();
    // Room for `size` more bytes after the `used` bytes written: the values may move.
    Room grow(std::size_t used, std::size_t size);
    // The fields that are not null, ascending, and where each one's value ends (counted from the
    // start of the values); the last end is the size of the values.
    struct Values {
        const int* fields;
        const std::uint32_t* ends;
        int count;
    };
    // Ends the row; the arena owns its memory. (Rows)
    RowData finish(const Values& values);
    // Ends the row; returns its record, which the arena owns. (Packed)
    const char* finishPacked(const Values& values);
    // What a row of these values takes laid out as a row (RowData::byteSize).
    std::size_t rowSize(const Values& values) const {
        return RowData::headerSize(m_count) + (values.count ? values.ends[values.count - 1] : 0);
    }

private:
    RowArena& m_arena;
    int m_count;
    bool m_packed;
    std::size_t m_headerSize; // before the values: a row's header, or a record's value size
    char* m_row = nullptr;
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
    // The same row in the arena's memory.
    RowData build(RowArena& arena) const;
    int fieldCount() const { return static_cast<int>(m_len.size()); }

private:
    std::size_t size() const;
    void layOut(char* p, std::size_t size) const;

    std::string m_scratch;
    std::vector<std::uint32_t> m_off;
    std::vector<std::int64_t> m_len; // -1: null
};
