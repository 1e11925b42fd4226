#include "storage/DataPacket.h"

#include "model/CorvantisError.h"
#include "model/DataTable.h"
#include "storage/PacketValues.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string>
#include <string_view>
#include <vector>

// Writes the packet byte for byte into one reserved buffer: values are escaped from their
// stored UTF-8 bytes without a QString per value.

namespace {

// The escape of each byte that needs one; nullptr for bytes written as they are.
struct EscapeTable {
    const char* text[256] = {};
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
        text[static_cast<unsigned char>(c)] = escape;
        size[static_cast<unsigned char>(c)] = static_cast<unsigned char>(std::strlen(escape));
    }
};
const EscapeTable Escapes;
constexpr std::size_t LongestEscape = 6;

// A growing byte buffer written through a raw cursor; callers reserve room before writing.
class Sink {
public:
    explicit Sink(qsizetype expected) { grow(expected); }

    void reserve(std::size_t more) {
        if (std::size_t(m_limit - m_cursor) < more)
            grow(used() + qsizetype(more) + used() / 2);
    }
    void put(std::string_view bytes) {
        std::memcpy(m_cursor, bytes.data(), bytes.size());
        m_cursor += bytes.size();
    }
    void put(char c) { *m_cursor++ = c; }
    // Writes text with the escapes of the packet. Sixteen bytes are copied at a time and the
    // cursor advanced past those that need no escape; the caller's reservation leaves room for
    // the copy running ahead.
    void putEscaped(std::string_view bytes) {
        const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
        const auto* e = s + bytes.size();
#if defined(__SSE2__)
        const __m128i controls = _mm_set1_epi8(0x1F);
        const __m128i specials[6] = {_mm_set1_epi8('"'), _mm_set1_epi8('&'), _mm_set1_epi8('\''),
                                     _mm_set1_epi8('<'), _mm_set1_epi8('>'), _mm_set1_epi8('\\')};
        while (e - s >= 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(m_cursor), x);
            __m128i hit = _mm_cmpeq_epi8(_mm_max_epu8(x, controls), controls); // below 0x20
            for (const __m128i& special : specials)
                hit = _mm_or_si128(hit, _mm_cmpeq_epi8(x, special));
            const int mask = _mm_movemask_epi8(hit);
            if (mask == 0) {
                s += 16;
                m_cursor += 16;
                continue;
            }
            const int clean = __builtin_ctz(static_cast<unsigned>(mask));
            s += clean;
            m_cursor += clean;
            putEscapedByte(*s++);
        }
#endif
        while (s < e)
            putEscapedByte(*s++);
    }
    void putEscapedByte(unsigned char c) {
        if (Escapes.text[c]) {
            std::memcpy(m_cursor, Escapes.text[c], Escapes.size[c]);
            m_cursor += Escapes.size[c];
        } else {
            *m_cursor++ = static_cast<char>(c);
        }
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
    char* m_cursor = nullptr;
    char* m_limit = nullptr;
};

std::string utf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

// One field as the rows write it.
struct Column {
    FieldKind kind;
    std::string prefix; // ` Name="`
};

std::int32_t int32Of(std::string_view value) {
    std::int32_t number = 0;
    if (value.size() == sizeof number)
        std::memcpy(&number, value.data(), sizeof number);
    return number;
}

class Writer {
public:
    explicit Writer(const DataTable& table) : m_table(table) {}
    QByteArray run();

private:
    void writeField(Sink& out, const FieldDef& field);
    void writeRow(Sink& out, const RowData& row, std::uint32_t state);

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
    std::vector<Column> m_columns;
    std::size_t m_rowOverhead = 0; // room for a row's names and numbers, beside its text
};

QByteArray Writer::run() {
    const FieldList& fields = m_table.fields();
    for (const FieldDef& field : fields) {
        const std::string name = utf8(field.name);
        if (!PacketValues::isFieldName(name))
            throw CorvantisError(
                QStringLiteral("The field name \"%1\" cannot be written to a list file.")
                    .arg(field.name));
        m_columns.push_back(Column{field.kind, " " + name + "=\""});
        m_rowOverhead += m_columns.back().prefix.size() + 1 + PacketValues::MaxNumberText;
    }
    m_rowOverhead += 32; // <ROW RowState="nnnnnnnnnn"/>

    const std::vector<std::uint32_t>& log = m_table.changeLog();
    const bool history = !log.empty();
    std::vector<DataTable::RowId> natural;
    if (!history)
        natural = m_table.naturalOrder();

    // Escaping grows text little in practice; the sink grows if it does more.
    std::size_t expected = 4096 + 32 * log.size() + 64 * fields.size();
    const std::size_t rows = history ? m_table.versionCount() : natural.size();
    for (std::size_t i = 0; i < rows; ++i) {
        const RowData& row = history ? m_table.versionData(i) : m_table.rowData(natural[i]);
        expected += m_rowOverhead + row.byteSize() + row.byteSize() / 8;
    }
    Sink out{qsizetype(expected)};

    out.reserve(4096);
    out.put(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>  )");
    out.put(R"(<DATAPACKET Version="2.0"><METADATA><FIELDS>)");
    for (const FieldDef& field : fields)
        writeField(out, field);
    out.reserve(64 + log.size() * 11 + PacketValues::MaxNumberText);
    out.put("</FIELDS><PARAMS");
    if (history) {
        out.put(R"( CHANGE_LOG=")");
        for (std::size_t i = 0; i < log.size(); ++i) {
            if (i > 0)
                out.put(' ');
            out.cursor() = PacketValues::writeInteger(out.cursor(), log[i]);
        }
        out.put('"');
    }
    if (m_table.autoIncField() >= 0) {
        out.put(R"( AUTOINCVALUE=")");
        out.cursor() = PacketValues::writeInteger(out.cursor(), m_table.autoIncValue());
        out.put('"');
    }
    out.put("/></METADATA><ROWDATA>");
    for (std::size_t i = 0; i < rows; ++i) {
        if (history)
            writeRow(out, m_table.versionData(i), m_table.versionState(i));
        else
            writeRow(out, m_table.rowData(natural[i]), 0);
    }
    out.reserve(32);
    out.put("</ROWDATA></DATAPACKET>");
    return out.take();
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

void Writer::writeRow(Sink& out, const RowData& row, std::uint32_t state) {
    out.reserve(m_rowOverhead + row.byteSize() * LongestEscape);
    out.put("<ROW");
    if (state != 0) {
        out.put(R"( RowState=")");
        out.cursor() = PacketValues::writeInteger(out.cursor(), state);
        out.put('"');
    }
    const int count = std::min(row.fieldCount(), int(m_columns.size()));
    for (int f = 0; f < count; ++f) {
        // One look at the field: numbers are read from its bytes, and only an empty text needs
        // telling from an empty field.
        const std::string_view value = row.raw(f);
        const Column& column = m_columns[std::size_t(f)];
        if (value.empty() && (column.kind != FieldKind::String || row.isNull(f)))
            continue; // empty fields and empty memos are written as no value
        out.put(column.prefix);
        switch (column.kind) {
        case FieldKind::Memo:
        case FieldKind::String:
            out.putEscaped(value);
            break;
        case FieldKind::Integer:
        case FieldKind::AutoInc:
        case FieldKind::Word:
            out.cursor() = PacketValues::writeInteger(out.cursor(), int32Of(value));
            break;
        case FieldKind::Date:
            out.cursor() = writeDate(out.cursor(), int32Of(value));
            break;
        case FieldKind::DateTime: {
            std::int64_t stored = 0;
            if (value.size() == sizeof stored)
                std::memcpy(&stored, value.data(), sizeof stored);
            out.cursor() = PacketValues::writeDateTime(out.cursor(), stored);
            break;
        }
        case FieldKind::Boolean:
            out.put(value[0] ? std::string_view("TRUE") : std::string_view("FALSE"));
            break;
        }
        out.put('"');
    }
    out.put("/>");
}

} // namespace

namespace DataPacket {

QByteArray Write(DataTable& table) {
    if (!table.isActive()) {
        const QString message = QStringLiteral("Cannot perform this operation on a closed dataset");
        const QString name = table.objectName();
        throw CorvantisError(name.isEmpty() ? message : name + QStringLiteral(": ") + message);
    }
    table.settle();
    return Writer(table).run();
}

} // namespace DataPacket
