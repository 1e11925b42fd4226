#include "storage/DataPacket.h"

#include "base/CorvantisError.h"
#include "model/DataTable.h"
#include "storage/PacketValues.h"
#include "storage/PacketWriter.h"

#include <cstring>
#include <optional>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string>
#include <string_view>
#include <vector>

// Writes the packet byte for byte into one reserved buffer: values are escaped from their
// stored UTF-8 bytes without a QString per value.

namespace {

// The escape of each byte that needs one, padded to eight bytes so that it is copied in one
// move; size 0 for bytes written as they are.
struct EscapeTable {
    char text[256][8] = {};
    unsigned char size[256] = {};
    EscapeTable() {
        set('<', "&lt;");
        set('>', "&gt;");
        set('&', "&amp;");
        set('"', "&quot;");
        set('\'', "&apos;");
        set('\r', "&#013;");
        set('\n', "&#010;");
        set('\t', "&#009;");
        set('\\', "&#092;");
    }
    void set(char c, const char* escape) {
        std::memcpy(text[static_cast<unsigned char>(c)], escape, std::strlen(escape));
        size[static_cast<unsigned char>(c)] = static_cast<unsigned char>(std::strlen(escape));
    }
};
const EscapeTable Escapes;
constexpr std::size_t LongestEscape = 6;
// Room a writer may use past what it reserved: the eight-byte copies of escapes and the
// sixteen-byte copies of text and attribute starts run ahead of what they keep.
constexpr std::size_t Slack = 48;

// A growing byte buffer written through a raw cursor; callers reserve room before writing.
class Sink {
public:
    using Deliver = PacketWriter::Deliver;

    // Keeps the whole packet, for take().
    explicit Sink(qsizetype expected) { grow(expected); }
    // Hands the packet on in pieces of about `piece` bytes as it is made, so that a large list
    // is saved through buffers that stay in the processor's cache. Two buffers take turns: the
    // receiver may go on using a piece until it is handed the next.
    Sink(std::size_t piece, Deliver deliver) : m_deliver(std::move(deliver)) {
        m_spare.resize(qsizetype(piece));
        grow(qsizetype(piece));
    }

    void reserve(std::size_t more) {
        if (std::size_t(m_limit - m_cursor) >= more + Slack)
            return;
        if (m_deliver) {
            flush();
            if (std::size_t(m_limit - m_cursor) >= more + Slack)
                return;
        }
        grow(used() + qsizetype(more + Slack) + used() / 2);
    }
    // Hands on what was written so far (when delivering).
    void flush() {
        if (m_deliver && used() > 0) {
            m_deliver(m_bytes.constData(), std::size_t(used()));
            m_bytes.swap(m_spare);
            m_cursor = m_bytes.data();
            m_limit = m_bytes.data() + m_bytes.size();
        }
    }
    void put(std::string_view bytes) {
        std::memcpy(m_cursor, bytes.data(), bytes.size());
        m_cursor += bytes.size();
    }
    void put(char c) { *m_cursor++ = c; }
    // Writes text with the escapes of the packet: sixteen bytes are copied at a time and the
    // cursor advanced past those that need no escape.
    void putEscaped(std::string_view bytes) { m_cursor = escape(m_cursor, bytes); }
    static char* escape(char* out, std::string_view bytes) {
        const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
        const auto* e = s + bytes.size();
#if defined(__SSE2__)
        const __m128i controls = _mm_set1_epi8(0x1F);
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i ampOrApostrophe = _mm_set1_epi8('\''); // "&" is "'" less its low bit
        const __m128i angle = _mm_set1_epi8('>');            // "<" is ">" less bit 1
        const __m128i backslash = _mm_set1_epi8('\\');
        const __m128i one = _mm_set1_epi8(1);
        const __m128i two = _mm_set1_epi8(2);
        while (e - s >= 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
            const __m128i hit = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(x, controls), controls), // below 0x20
                             _mm_cmpeq_epi8(x, quote)),
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(x, one), ampOrApostrophe),
                                          _mm_cmpeq_epi8(_mm_or_si128(x, two), angle)),
                             _mm_cmpeq_epi8(x, backslash)));
            const int mask = _mm_movemask_epi8(hit);
            if (mask == 0) {
                s += 16;
                out += 16;
                continue;
            }
            const int clean = __builtin_ctz(static_cast<unsigned>(mask));
            s += clean;
            out += clean;
            out = escapeByte(out, *s++);
        }
#endif
        while (s < e)
            out = escapeByte(out, *s++);
        return out;
    }
    static char* escapeByte(char* out, unsigned char c) {
        const unsigned size = Escapes.size[c];
        if (!size) {
            *out = static_cast<char>(c);
            return out + 1;
        }
        std::memcpy(out, Escapes.text[c], 8);
        return out + size;
    }
    char*& cursor() {
        return m_cursor;
    }
    QByteArray take() {
        m_bytes.resize(used());
        return std::move(m_bytes);
    }

private:
    qsizetype used() const {
        return m_cursor - m_bytes.constData();
    }
    void grow(qsizetype capacity) {
        const qsizetype at = m_bytes.isNull() ? 0 : used();
        m_bytes.resize(capacity);
        m_cursor = m_bytes.data() + at;
        m_limit = m_bytes.data() + capacity;
    }

    QByteArray m_bytes;
    QByteArray m_spare; // the other buffer when delivering
    char* m_cursor = nullptr;
    char* m_limit = nullptr;
    Deliver m_deliver;
};

std::string utf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

// One field as the rows write it.
struct Column {
    FieldKind kind;
    std::string prefix; // ` Name="`
    char head[32];      // the prefix padded, copied in two moves when it fits
};

std::int32_t int32Of(std::string_view value) {
    std::int32_t number = 0;
    if (value.size() == sizeof number)
        std::memcpy(&number, value.data(), sizeof number);
    return number;
}

class Writer {
public:
    // withPending: the pending row is written as storing it would write it (the table is left
    // as it is): its new version after the others, the version it replaces marked superseded,
    // its change-log entry and the counter after it.
    explicit Writer(const DataTable& table, bool withPending = false);
    // A generous guess of the packet's size.
    std::size_t expectedSize() const;
    void run(Sink& out);

private:
    void writeField(Sink& out, const FieldDef& field);
    // One row: `rowBytes` is what it takes laid out, `values(f)` calls f(field, bytes) for each
    // value in field order.
    template <class Values>
    void writeRow(Sink& out, std::size_t rowBytes, std::uint32_t state, const Values& values);
    void writeVersion(Sink& out, std::size_t version) {
        std::uint32_t state = m_table.versionState(version);
        if (m_pending && m_pending->replaces == static_cast<std::int32_t>(version))
            state |= DataTable::Superseded;
        writeRow(out, m_table.versionSize(version), state,
                 [&](const auto& f) { m_table.forEachValueOf(version, f); });
    }
    void writeRow(Sink& out, const RowData& row) {
        writeRow(out, row.byteSize(), 0, [&](const auto& f) { row.forEachValue(f); });
    }

    // Lists hold many rows of the same few days; their texts are kept once made.
    char* writeDate(char* out, std::int32_t day) {
        DateText& slot = m_dates[std::uint32_t(day) % std::size(m_dates)];
        if (!slot.valid || slot.day != day) {
            slot.size = std::uint8_t(PacketValues::writeDate(slot.text, day) - slot.text);
            slot.day = day;
            slot.valid = true;
        }
        std::memcpy(out, slot.text, slot.size);
        return out + slot.size;
    }
    struct DateText {
        std::int32_t day = 0;
        bool valid = false;
        std::uint8_t size = 0;
        char text[PacketValues::MaxNumberText] = {};
    };
    DateText m_dates[512];

    const DataTable& m_table;
    std::optional<DataTable::PostedVersion> m_pending;
    std::vector<std::uint32_t> m_log;        // the change log, with the pending row's entry
    std::vector<DataTable::RowId> m_natural; // the rows written while the change log is empty
    std::vector<Column> m_columns;
    std::size_t m_rowOverhead = 0; // room for a row's names and numbers, beside its text
};

Writer::Writer(const DataTable& table, bool withPending)
    : m_table(table), m_pending(withPending ? table.pendingAsPosted() : std::nullopt) {
    for (const FieldDef& field : m_table.fields()) {
        const std::string name = utf8(field.name);
        if (!PacketValues::isFieldName(name))
            throw CorvantisError(
                QStringLiteral("The field name \"%1\" cannot be written to a list file.")
                    .arg(field.name));
        m_columns.push_back(Column{field.kind, " " + name + "=\"", {}});
        std::memcpy(m_columns.back().head, m_columns.back().prefix.data(),
                    std::min<std::size_t>(m_columns.back().prefix.size(), 32));
        m_rowOverhead += m_columns.back().prefix.size() + 1 + PacketValues::MaxNumberText;
    }
    m_rowOverhead += 32; // <ROW RowState="nnnnnnnnnn"/>
    m_log = m_table.changeLog();
    if (m_pending) {
        const auto made = static_cast<std::uint32_t>(m_table.versionCount() + 1);
        if (m_pending->replaces < 0)
            m_log.insert(m_log.end(), {made, 0u, std::uint32_t(DataTable::Inserted)});
        else
            m_log.insert(m_log.end(), {made, std::uint32_t(m_pending->replaces + 1),
                                       std::uint32_t(DataTable::Modified)});
    }
    if (m_log.empty())
        m_natural = m_table.naturalOrder();
}

std::size_t Writer::expectedSize() const {
    // Escaping grows text little in practice; the sink grows if it does more.
    std::size_t expected = 4096 + 32 * m_log.size() + 64 * m_table.fields().size();
    if (m_pending)
        expected += m_rowOverhead + 2 * m_pending->values.byteSize();
    const bool history = !m_log.empty();
    const std::size_t rows = history ? m_table.versionCount() : m_natural.size();
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t bytes =
            history ? m_table.versionSize(i) : m_table.rowData(m_natural[i]).byteSize();
        expected += m_rowOverhead + bytes + bytes / 8;
    }
    return expected;
}

void Writer::run(Sink& out) {
    const FieldList& fields = m_table.fields();
    const std::vector<std::uint32_t>& log = m_log;
    const bool history = !log.empty();
    const std::size_t rows = history ? m_table.versionCount() : m_natural.size();

    out.reserve(4096);
    out.put(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>  )");
    out.put(R"(<DATAPACKET Version="2.0"><METADATA><FIELDS>)");
    for (const FieldDef& field : fields)
        writeField(out, field);
    out.reserve(64);
    out.put("</FIELDS><PARAMS");
    if (history) {
        out.put(R"( CHANGE_LOG=")");
        constexpr std::size_t Batch = 1024; // numbers per reservation
        for (std::size_t i = 0; i < log.size(); ++i) {
            if (i % Batch == 0)
                out.reserve(Batch * 11);
            if (i > 0)
                out.put(' ');
            out.cursor() = PacketValues::writeInteger(out.cursor(), log[i]);
        }
        out.reserve(64);
        out.put('"');
    }
    if (m_table.autoIncField() >= 0) {
        out.put(R"( AUTOINCVALUE=")");
        out.cursor() = PacketValues::writeInteger(out.cursor(), m_pending ? m_pending->counter
                                                                          : m_table.autoIncValue());
        out.put('"');
    }
    out.put("/></METADATA><ROWDATA>");
    for (std::size_t i = 0; i < rows; ++i) {
        if (history)
            writeVersion(out, i);
        else
            writeRow(out, m_table.rowData(m_natural[i]));
    }
    if (m_pending)
        writeRow(out, m_pending->values.byteSize(), m_pending->state,
                 [&](const auto& f) { m_pending->values.forEachValue(f); });
    out.reserve(32);
    out.put("</ROWDATA></DATAPACKET>");
    out.flush();
}

void Writer::writeField(Sink& out, const FieldDef& field) {
    const std::string name = utf8(field.name);
    out.reserve(160 + name.size() * LongestEscape);
    out.put(R"(<FIELD attrname=")");
    out.putEscaped(name);
    // The type token of each kind, and its subtype.
    static const std::pair<const char*, const char*> Types[] = {
        {"i4", nullptr},       // Integer
        {"i4", "Autoinc"},     // AutoInc
        {"ui2", nullptr},      // Word
        {"string", nullptr},   // String
        {"bin.hex", "Text"},   // Memo
        {"date", nullptr},     // Date
        {"dateTime", nullptr}, // DateTime
        {"boolean", nullptr},  // Boolean
    };
    static_assert(std::size(Types) == std::size_t(FieldKind::Boolean) + 1, "one per kind");
    const auto [type, subtype] = Types[static_cast<std::size_t>(field.kind)];
    out.put(R"(" fieldtype=")");
    out.put(type);
    out.put('"');
    if (field.flags & FieldReadOnly)
        out.put(R"( readonly="true")");
    if (field.flags & FieldRequired)
        out.put(R"( required="true")");
    if (field.flags & FieldHidden)
        out.put(R"( hidden="true")");
    if (field.flags & FieldLinkField)
        out.put(R"( linkfield="true")");
    if (subtype) {
        out.put(R"( SUBTYPE=")");
        out.put(subtype);
        out.put('"');
    }
    if (field.kind == FieldKind::String) {
        out.put(R"( WIDTH=")");
        out.cursor() = PacketValues::writeInteger(out.cursor(), field.width);
        out.put('"');
    }
    out.put("/>");
}

template <class Values>
void Writer::writeRow(Sink& out, std::size_t rowBytes, std::uint32_t state, const Values& values) {
    out.reserve(m_rowOverhead + rowBytes * LongestEscape);
    char* o = out.cursor();
    std::memcpy(o, "<ROW", 4);
    o += 4;
    if (state != 0) {
        std::memcpy(o, R"( RowState=")", 11);
        o = PacketValues::writeInteger(o + 11, state);
        *o++ = '"';
    }
    const int count = int(m_columns.size());
    values([&](int f, std::string_view value) {
        if (f >= count)
            return;
        const Column& column = m_columns[std::size_t(f)];
        if (value.empty() && column.kind != FieldKind::String)
            return; // empty memos are written as no value
        const std::size_t size = column.prefix.size();
        if (size <= 32) {
            std::memcpy(o, column.head, 32);
        } else {
            std::memcpy(o, column.prefix.data(), size);
        }
        o += size;
        switch (column.kind) {
        case FieldKind::Memo:
        case FieldKind::String:
            o = Sink::escape(o, value);
            break;
        case FieldKind::Integer:
        case FieldKind::AutoInc:
        case FieldKind::Word:
            o = PacketValues::writeInteger(o, int32Of(value));
            break;
        case FieldKind::Date:
            o = writeDate(o, int32Of(value));
            break;
        case FieldKind::DateTime: {
            std::int64_t stored = 0;
            if (value.size() == sizeof stored)
                std::memcpy(&stored, value.data(), sizeof stored);
            o = PacketValues::writeDateTime(o, stored);
            break;
        }
        case FieldKind::Boolean:
            std::memcpy(o, value[0] ? "TRUE" : "FALSE", 5);
            o += value[0] ? 4 : 5;
            break;
        }
        *o++ = '"';
    });
    std::memcpy(o, "/>", 2);
    out.cursor() = o + 2;
}

} // namespace

namespace DataPacket {

QByteArray Write(DataTable& table) {
    PacketWriter::prepare(table);
    Writer writer(table);
    Sink out{qsizetype(writer.expectedSize())};
    writer.run(out);
    return out.take();
}

} // namespace DataPacket

namespace PacketWriter {

void prepare(DataTable& table) {
    if (!table.isActive()) {
        const QString message = QStringLiteral("Cannot perform this operation on a closed dataset");
        const QString name = table.objectName();
        throw CorvantisError(name.isEmpty() ? message : name + QStringLiteral(": ") + message);
    }
    table.settle();
}

void writeTo(const DataTable& table, std::size_t piece, const Deliver& deliver, bool withPending) {
    Writer writer(table, withPending);
    Sink out(piece, deliver);
    try {
        writer.run(out);
    } catch (...) {
        // The receiver lets go of the last piece before its buffer goes.
        try {
            deliver(nullptr, 0);
        } catch (...) {
        }
        throw;
    }
    deliver(nullptr, 0);
}

} // namespace PacketWriter
