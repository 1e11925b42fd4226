#include "model/RowData.h"

#include "base/Prefault.h"

#include <algorithm>
#include <new>

namespace {
char* mallocOrThrow(std::size_t size) {
    char* p = static_cast<char*>(std::malloc(size));
    if (!p)
        throw std::bad_alloc();
    return p;
}

constexpr std::size_t Align = 8;

char* aligned(char* p) {
    const auto bits = reinterpret_cast<std::uintptr_t>(p);
    return reinterpret_cast<char*>((bits + Align - 1) & ~std::uintptr_t(Align - 1));
}

// The largest block an arena takes at once unless a single row needs more.
constexpr std::size_t LargestBlock = std::size_t(8) << 20;
} // namespace

RowData RowData::clone() const {
    if (!m_bits)
        return RowData();
    char* copy = mallocOrThrow(header()->size);
    std::memcpy(copy, base(), header()->size);
    return owning(copy);
}

bool RowData::sameAs(const RowData& other) const {
    if (!m_bits || !other.m_bits)
        return m_bits == other.m_bits;
    return header()->size == other.header()->size &&
           std::memcmp(base(), other.base(), header()->size) == 0;
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

// --- RowArena --------------------------------------------------------------------------------

char* RowArena::allocate(std::size_t size) {
    char* p = m_cursor ? aligned(m_cursor) : nullptr;
    if (!p || p > m_limit || std::size_t(m_limit - p) < size)
        p = carryOver(nullptr, 0, size);
    m_cursor = p + size;
    populateTo(m_cursor);
    return p;
}

void RowArena::populateAhead(const char* upTo) {
    constexpr std::size_t Step = std::size_t(2) << 20;
    char* end = m_populated + Step;
    if (end < upTo)
        end = const_cast<char*>(upTo);
    if (end > m_limit)
        end = m_limit;
    Prefault(m_populated, std::size_t(end - m_populated));
    m_populated = end;
}

void RowArena::take(RowArena&& other) {
    m_blocks.reserve(m_blocks.size() + other.m_blocks.size());
    for (auto& block : other.m_blocks)
        m_blocks.push_back(std::move(block));
    other.m_blocks.clear();
    other.m_cursor = other.m_limit = nullptr;
}

char* RowArena::carryOver(const char* from, std::size_t keep, std::size_t size) {
    const std::size_t need = keep + size + Align;
    // A row that has its block to itself grows with the block: realloc moves a large block by
    // remapping its pages rather than copying them, and doubling keeps a long row linear.
    if (keep && m_current < m_blocks.size() && from == aligned(m_blocks[m_current].get())) {
        char* old = m_blocks[m_current].get();
        const std::size_t block = std::max(need, 2 * std::size_t(m_limit - old));
        char* memory = static_cast<char*>(std::realloc(old, block));
        if (!memory)
            throw std::bad_alloc(); // the old block stays as it was
        (void)m_blocks[m_current].release();
        m_blocks[m_current].reset(memory);
        m_cursor = aligned(memory);
        m_limit = memory + block;
        m_populated = m_limit; // a row of its own: its pages come as it grows
        return m_cursor;
    }
    // Otherwise a fresh block. A row too large for the usual blocks gets one of twice its size,
    // where it can then grow in place.
    std::size_t block = m_nextBlock;
    if (need > block)
        block = keep ? 2 * need : need;
    char* memory = mallocOrThrow(block);
    try {
        m_blocks.emplace_back(memory);
    } catch (...) {
        std::free(memory);
        throw;
    }
    m_current = m_blocks.size() - 1;
    m_nextBlock = std::min(m_nextBlock * 2, LargestBlock);
    char* start = aligned(memory);
    if (keep)
        std::memcpy(start, from, keep);
    m_cursor = start;
    m_limit = memory + block;
    m_populated = memory;
    populateTo(start + keep + size);
    return start;
}

// --- ArenaRowWriter --------------------------------------------------------------------------

ArenaRowWriter::ArenaRowWriter(RowArena& arena, int fieldCount, Layout layout)
    : m_arena(arena), m_count(fieldCount), m_packed(layout == Packed),
      m_headerSize(m_packed ? sizeof(std::uint32_t) : RowData::headerSize(fieldCount)) {}

ArenaRowWriter::Room ArenaRowWriter::begin() {
    char* row = m_arena.m_cursor ? aligned(m_arena.m_cursor) : nullptr;
    if (!row || row > m_arena.m_limit || std::size_t(m_arena.m_limit - row) < m_headerSize + 256)
        row = m_arena.carryOver(nullptr, 0, m_headerSize + 256);
    m_arena.populateTo(row + m_headerSize + 256);
    m_row = row;
    return Room{m_row + m_headerSize, m_arena.m_limit};
}

ArenaRowWriter::Room ArenaRowWriter::grow(std::size_t used, std::size_t size) {
    const std::size_t kept = m_headerSize + used;
    if (std::size_t(m_arena.m_limit - m_row) < kept + size + Slack)
        m_row = m_arena.carryOver(m_row, kept, size + Slack);
    m_arena.populateTo(m_row + kept + size + Slack);
    return Room{m_row + m_headerSize, m_arena.m_limit};
}

RowData ArenaRowWriter::finish(const Values& values) {
    const std::size_t used = values.count ? values.ends[values.count - 1] : 0;
    auto* header = reinterpret_cast<RowData::Header*>(m_row);
    header->size = std::uint32_t(m_headerSize + used);
    header->count = std::uint16_t(m_count);
    header->reserved = 0;
    auto* ends = reinterpret_cast<std::uint32_t*>(m_row + sizeof(RowData::Header));
    auto* nulls = reinterpret_cast<std::uint8_t*>(ends + m_count);
    // Every field null but those given; the bits past the last field stay clear, as a
    // RowBuilder leaves them, so that equal rows have equal bytes.
    const std::size_t nullBytes = (std::size_t(m_count) + 7) / 8;
    std::memset(nulls, 0xFF, nullBytes);
    if (m_count % 8)
        nulls[nullBytes - 1] = std::uint8_t((1u << (m_count % 8)) - 1);
    std::uint32_t end = 0;
    int field = 0;
    for (int i = 0; i < values.count; ++i) {
        const int given = values.fields[i];
        for (; field < given; ++field)
            ends[field] = end;
        end = values.ends[i];
        ends[field++] = end;
        nulls[given >> 3] &= std::uint8_t(~(1u << (given & 7)));
    }
    for (; field < m_count; ++field)
        ends[field] = end;
    m_arena.commit(m_row + m_headerSize + used);
    return RowData::borrowing(m_row);
}

// A packed record: the size of the values, the values, the null bits, then the length of each
// value that is not null, seven bits a byte (most take one byte).
const char* ArenaRowWriter::finishPacked(const Values& values) {
    const std::uint32_t used = values.count ? values.ends[values.count - 1] : 0;
    const std::size_t nullBytes = (std::size_t(m_count) + 7) / 8;
    grow(used, nullBytes + 5 * std::size_t(values.count));
    std::memcpy(m_row, &used, sizeof used);
    auto* nulls = reinterpret_cast<std::uint8_t*>(m_row + m_headerSize + used);
    std::memset(nulls, 0xFF, nullBytes);
    if (m_count % 8)
        nulls[nullBytes - 1] = std::uint8_t((1u << (m_count % 8)) - 1);
    char* out = reinterpret_cast<char*>(nulls + nullBytes);
    std::uint32_t start = 0;
    for (int i = 0; i < values.count; ++i) {
        const int field = values.fields[i];
        nulls[field >> 3] &= std::uint8_t(~(1u << (field & 7)));
        std::uint32_t length = values.ends[i] - start;
        start = values.ends[i];
        while (length >= 0x80) {
            *out++ = char(length | 0x80);
            length >>= 7;
        }
        *out++ = char(length);
    }
    m_arena.commit(out);
    return m_row;
}

// --- RowBuilder ------------------------------------------------------------------------------

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

std::size_t RowBuilder::size() const {
    std::size_t dataSize = 0;
    for (const std::int64_t len : m_len)
        if (len > 0)
            dataSize += static_cast<std::size_t>(len);
    return RowData::headerSize(fieldCount()) + dataSize;
}

void RowBuilder::layOut(char* p, std::size_t size) const {
    const int count = fieldCount();
    auto* header = reinterpret_cast<RowData::Header*>(p);
    header->size = static_cast<std::uint32_t>(size);
    header->count = static_cast<std::uint16_t>(count);
    header->reserved = 0;
    auto* ends = reinterpret_cast<std::uint32_t*>(p + 8);
    auto* nulls = reinterpret_cast<std::uint8_t*>(p + 8 + 4 * count);
    std::memset(nulls, 0, (static_cast<std::size_t>(count) + 7) / 8);
    char* out = p + RowData::headerSize(count);
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
}

RowData RowBuilder::build() const {
    const std::size_t bytes = size();
    char* p = mallocOrThrow(bytes);
    layOut(p, bytes);
    return RowData::owning(p);
}

RowData RowBuilder::build(RowArena& arena) const {
    const std::size_t bytes = size();
    char* p = arena.allocate(bytes);
    layOut(p, bytes);
    return RowData::borrowing(p);
}
