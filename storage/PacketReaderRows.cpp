#include "storage/PacketReader.h"

#include "base/CorvantisError.h"
#include "model/FieldValues.h"
#include "storage/PacketEncoding.h"
#include "storage/PacketValues.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>
#include <limits>

// The rows of a list file: the plain path for rows as writers lay them out and the general path
// for any other layout (see PacketReader.h).

using PacketEncoding::equalsIgnoringCase;
using PacketValues::Parse;

// Reads the rows and whatever else ROWDATA holds, up to its end tag or to where another reader
// took over.
void PacketReader::scanRows() {
    std::string_view name;
    while (m_p != m_stopAt) {
        if (m_p >= m_nextMove) {
            moveOn();
            if (m_stop && m_stop->load(std::memory_order_relaxed))
                return; // the reader of the first half failed: this half counts for nothing
        }
        // Rows follow one another directly: "<ROW " needs no trip through the tag reader.
        if (m_end - m_p > 4 && std::memcmp(m_p, "<ROW", 4) == 0 &&
            (isSpace(m_p[4]) || m_p[4] == '/' || m_p[4] == '>')) {
            m_p += 4;
            readRow();
            continue;
        }
        switch (next(name)) {
        case Tag::Eof:
            unexpectedEnd("ROWDATA");
        case Tag::End:
            if (name != "ROWDATA")
                damaged(QStringLiteral("\"ROWDATA\" is closed by \"%1\"").arg(shown(name)));
            return;
        case Tag::Start:
            if (name == "ROW")
                readRow();
            else if (!skipAttributes(name))
                skipChildren(name);
            break;
        }
    }
}

// The field a row attribute names: the one after the previous attribute's field first (rows
// list their values in field order, leaving out empty ones), then the rest; or OtherName or
// RowStateName.
int PacketReader::fieldOf(std::string_view name, int hint) const {
    const int count = int(m_slots.size());
    auto is = [&](int f) {
        const std::string& candidate = m_slots[std::size_t(f)].name;
        return candidate.size() == name.size() &&
               std::memcmp(candidate.data(), name.data(), name.size()) == 0;
    };
    if (hint < count && is(hint))
        return hint;
    if (name == "RowState")
        return RowStateName;
    for (int f = hint + 1; f < count; ++f)
        if (is(f))
            return f;
    const auto it = m_byName.find(name);
    return it == m_byName.end() ? OtherName : it->second;
}

// The field whose attribute start (`Name="`) is at p, p moved past it, or RowStateName;
// NotLaidOut when the attribute is laid out otherwise or names no field.
int PacketReader::matchStart(const char*& p, int hint) const {
    if (p >= m_end)
        return NotLaidOut;
    const int field = m_starts.match(p, m_end, hint);
    if (field != OtherName)
        return field;
    if (const std::size_t n = m_rowStateStart.at(p, m_end)) {
        p += n;
        return RowStateName;
    }
    return NotLaidOut;
}

// Reads a quoted value (the cursor after its opening quote) onto out, references decoded.
void PacketReader::readValue(char quote, std::string& out) {
    const char* v = m_p;
    while (true) {
        const char* q = findEither(v, m_end, quote, '&');
        if (q >= m_end)
            unexpectedEnd("ROW");
        out.append(v, std::size_t(q - v));
        if (*q == quote) {
            m_p = q + 1;
            return;
        }
        v = decodeReference(out, q, m_end);
    }
}

// The same as a view: the file's own bytes when the value holds no reference.
std::string_view PacketReader::readValue(char quote) {
    const char* v = m_p;
    const char* q = findEither(v, m_end, quote, '&');
    if (q >= m_end)
        unexpectedEnd("ROW");
    if (*q == quote) {
        m_p = q + 1;
        return std::string_view(v, std::size_t(q - v));
    }
    m_scratch.clear();
    readValue(quote, m_scratch);
    return m_scratch;
}

// One ROW element, the cursor after its name. Rows as writers lay them out take the plain
// path; anything else (other quotes, unknown or repeated attributes, values out of field order,
// nested rows, odd numbers, bad references) is read again from the start by the general path,
// which also words every error.
void PacketReader::readRow() {
    const char* start = m_p;
    if (readPlainRow())
        return;
    m_p = start;

    RowBuilder& builder = *m_builder;
    builder.reset();
    std::uint32_t state = 0;
    int hint = 0;
    bool open = false;
    while (true) {
        skipSpaces();
        if (m_p >= m_end)
            unexpectedEnd("ROW");
        if (*m_p == '/') {
            ++m_p;
            if (m_p >= m_end || *m_p != '>')
                damaged(QStringLiteral("the tag \"ROW\" is malformed"));
            ++m_p;
            break;
        }
        if (*m_p == '>') {
            ++m_p;
            open = true;
            break;
        }
        int field = matchStart(m_p, hint);
        char quote = '"';
        std::string_view name;
        if (field == NotLaidOut) {
            name = readName();
            quote = valueStart("ROW", name);
            field = fieldOf(name, hint);
        }
        if (field == OtherName) {
            // An attribute that names no field.
            const auto* close =
                static_cast<const char*>(std::memchr(m_p, quote, std::size_t(m_end - m_p)));
            if (!close)
                unexpectedEnd("ROW");
            m_p = close + 1;
            continue;
        }
        if (field == RowStateName) {
            const std::string_view text = readValue(quote);
            std::int64_t value = 0;
            if (PacketValues::parseInteger(text, value) != Parse::Ok || value < 0 ||
                value > std::numeric_limits<std::uint32_t>::max())
                damaged(QStringLiteral("the row state \"%1\" is not valid").arg(shown(text)));
            state = static_cast<std::uint32_t>(value);
            continue;
        }
        if (builder.isSet(field))
            damaged(QStringLiteral("a row gives \"%1\" twice")
                        .arg(m_slots[std::size_t(field)].displayName));
        const FieldKind kind = m_slots[std::size_t(field)].kind;
        if (kind == FieldKind::String || kind == FieldKind::Memo)
            setText(field, quote);
        else
            setScalar(field, readValue(quote));
        hint = field + 1;
    }
    if (open)
        skipChildren("ROW"); // nested rows of other writers

    if (m_idField >= 0 && builder.isSet(m_idField)) {
        std::int32_t id = 0;
        std::memcpy(&id, builder.value(m_idField).data(), sizeof id);
        m_idCeiling = std::max(m_idCeiling, std::int64_t(id) + 1);
    }
    keepRow(builder.build(m_content.arena), state);
}

// Counts what a row takes laid out against what a list file may take.
void PacketReader::countRow(std::size_t bytes) {
    m_used += bytes + sizeof(RowData) + sizeof(std::uint32_t);
    if (m_used > m_budget)
        damaged(QStringLiteral("its rows need more memory than a list file can take"));
}

void PacketReader::keepRow(RowData&& row, std::uint32_t state) {
    countRow(row.byteSize());
    m_content.versions.push_back(std::move(row));
    m_content.packed.skip();
    m_content.states.push_back(state);
}

namespace {

// A plain decimal number ("123", "-7") up to its closing quote at most nine digits long;
// false for anything else (blanks, a plus sign, longer numbers), left to the general path.
bool plainNumber(const char*& p, const char* e, std::int32_t& value) {
    // A sign, nine digits and the byte after them at most are looked at.
    if (e - p < 12)
        return false;
    const char* q = p;
    const bool negative = *q == '-';
    q += negative;
    const char* digits = q;
    std::int32_t n = 0;
    while (unsigned(*q - '0') < 10) {
        if (q - digits == 9)
            return false; // a tenth digit
        n = n * 10 + (*q++ - '0');
    }
    if (q == digits || *q != '"')
        return false;
    value = negative ? -n : n;
    p = q + 1;
    return true;
}

bool isAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) & 0x80)
            return false;
    return true;
}

// The bytes of a plain value up to its closing quote; false when it holds a reference.
bool plainValue(const char*& p, const char* e, std::string_view& value) {
    const char* q = PacketScanner::findEither(p, e, '"', '&');
    if (q >= e || *q != '"')
        return false;
    value = std::string_view(p, std::size_t(q - p));
    p = q + 1;
    return true;
}

} // namespace

// A date of eight digits and its closing quote at p, p moved past them; false for any other
// form, left to the general date reading.
bool PacketReader::eightDigitDate(const char*& p, std::int32_t& day) {
    if (m_end - p < 9 || p[8] != '"')
        return false;
    std::uint64_t text;
    std::memcpy(&text, p, sizeof text);
    // Every byte a digit: none below '0' (the subtraction sets its top bit) or above '9' (the
    // addition does).
    const std::uint64_t digits = text - 0x3030303030303030ull;
    if (((text + 0x4646464646464646ull) | digits) & 0x8080808080808080ull)
        return false;
    DateSlot& slot = m_dates[(text * 0x9E3779B97F4A7C15ull) >> 53];
    if (slot.digits != text) {
        unsigned char d[8];
        std::memcpy(d, &digits, sizeof d);
        const std::optional<std::int32_t> value = PacketValues::dayOf(
            d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3], d[4] * 10 + d[5], d[6] * 10 + d[7]);
        if (!value)
            return false;
        slot.digits = text;
        slot.day = *value;
    }
    day = slot.day;
    p += 9;
    return true;
}

namespace {

// A row's values as the plain path writes them: through a raw cursor kept in locals, so that
// the compiler need not read it again after every byte stored (a byte store may alias any
// object in memory, but no local whose address stays unknown).
struct Output {
    char* values;
    char* out;
    char* limit;
    ArenaRowWriter* row;

    // Room for size more bytes (plus the writer's Slack) at out.
    void room(std::size_t size) {
        if (std::size_t(limit - out) < size + ArenaRowWriter::Slack) {
            const std::size_t used = std::size_t(out - values);
            const ArenaRowWriter::Room more = row->grow(used, size);
            values = more.values;
            out = values + used;
            limit = more.limit;
        }
    }
};

// Copies a text value (p after its opening quote, e the end of the text) to the output,
// references decoded, cut to width characters unless width is 0; returns what follows its
// closing quote, nullptr when it holds a reference that is not valid or has no closing quote.
// Sixteen bytes are copied at a time and the cursor advanced past those that are neither quote
// nor "&".
inline const char* copyText(Output& o, const char* p, const char* e, std::size_t width) {
    char* const start = o.out;
    const std::size_t startAt = std::size_t(start - o.values);
    while (true) {
        bool found = false; // the cursor is at a quote or "&"
#if defined(__SSE2__)
        const __m128i quotes = _mm_set1_epi8('"');
        const __m128i amps = _mm_set1_epi8('&');
        while (e - p >= 16) {
            o.room(16);
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o.out), x);
            const auto hits = unsigned(_mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(x, quotes), _mm_cmpeq_epi8(x, amps))));
            if (!hits) {
                p += 16;
                o.out += 16;
                continue;
            }
            const int clean = __builtin_ctz(hits);
            p += clean;
            o.out += clean;
            found = true;
            break;
        }
#endif
        if (!found) {
            while (p < e && *p != '"' && *p != '&') {
                o.room(1);
                *o.out++ = *p++;
            }
            if (p >= e)
                return nullptr;
        }
        if (*p == '"')
            break;
        char32_t cp = 0;
        const char* next = PacketScanner::readReference(p, e, cp);
        if (!next)
            return nullptr;
        o.room(4);
        if (cp < 0x80)
            *o.out++ = char(cp);
        else
            o.out = PacketEncoding::writeUtf8(o.out, cp);
        p = next;
    }
    const std::size_t size = std::size_t(o.out - o.values) - startAt;
    if (width && size > width) {
        const char* value = o.values + startAt;
        o.out = o.values + startAt + PacketScanner::utf8Prefix(value, size, width);
    }
    return p + 1;
}

} // namespace

// A row whose attributes are all `Name="value"` in field order, values decoded straight into
// their final place; false, having consumed nothing that counts, for any other row.
bool PacketReader::readPlainRow() {
    const char* p = m_p;
    const char* const e = m_end;
    std::uint32_t state = 0;
    bool stateRead = false;
    // The state comes first as writers lay rows out: a version that is not shown is packed.
    if (p + 1 < e) {
        const char* q = p + (*p == ' ');
        while (isSpace(*q) && q + 1 < e)
            ++q;
        if (const std::size_t n = m_rowStateStart.at(q, e)) {
            std::int32_t value = 0;
            if (!plainNumber(q += n, e, value) || value < 0)
                return false;
            state = std::uint32_t(value);
            stateRead = true;
            p = q;
        }
    }
    const bool packed = stateRead && !DataTable::isLiveState(state);
    ArenaRowWriter& row = packed ? *m_packer : *m_writer;
    const ArenaRowWriter::Room room = row.begin();
    Output o{room.values, room.values, room.limit, &row};
    int* const fields = m_given.data();
    std::uint32_t* const ends = m_givenEnds.data();
    const Slot* const kinds = m_slots.data();
    const PacketFieldStarts::Matcher starts(m_starts);
    int given = 0;
    std::int64_t idCeiling = 0;
    int hint = 0;
    while (true) {
        if (p + 1 >= e)
            return false;
        p += *p == ' '; // attributes are one blank apart
        while (isSpace(*p) && p + 1 < e)
            ++p;
        if (p + 1 >= e)
            return false;
        if (*p == '/') {
            if (p[1] != '>')
                return false;
            p += 2;
            break;
        }
        const int field = starts.match(p, e, hint);
        if (field == OtherName) {
            // The state once, anywhere (a row giving it again is left to the general path).
            const std::size_t n = m_rowStateStart.at(p, e);
            std::int32_t value = 0;
            if (!n || stateRead || !plainNumber(p += n, e, value) || value < 0)
                return false;
            state = std::uint32_t(value);
            stateRead = true;
            continue;
        }
        hint = field + 1;
        const Slot& slot = kinds[field];
        switch (slot.kind) {
        case FieldKind::String:
        case FieldKind::Memo:
            p = copyText(o, p, e, slot.kind == FieldKind::String ? slot.width : 0);
            if (!p)
                return false;
            break;
        case FieldKind::Integer:
        case FieldKind::AutoInc:
        case FieldKind::Word:
        case FieldKind::Date: {
            if (*p == '"') { // empty: the field stays empty
                ++p;
                continue;
            }
            std::int32_t value = 0;
            if (slot.kind == FieldKind::Date && eightDigitDate(p, value)) {
                // the form every writer uses
            } else if (slot.kind == FieldKind::Date) {
                std::string_view text;
                if (!plainValue(p, e, text) || (text.size() != 8 && !isAscii(text)))
                    return false; // (a date may carry any time after "T", which is ignored)
                const std::optional<std::int32_t> day = PacketValues::parseDate(text);
                if (!day)
                    return false;
                value = *day;
            } else if (!plainNumber(p, e, value) ||
                       (slot.kind == FieldKind::Word && (value < 0 || value > 65535))) {
                return false;
            }
            if (slot.kind == FieldKind::AutoInc)
                idCeiling = std::int64_t(value) + 1;
            o.room(sizeof value);
            std::memcpy(o.out, &value, sizeof value);
            o.out += sizeof value;
            break;
        }
        case FieldKind::DateTime:
        case FieldKind::Boolean: {
            std::string_view text;
            if (!plainValue(p, e, text))
                return false;
            if (text.empty())
                continue;
            o.room(8);
            if (slot.kind == FieldKind::DateTime) {
                const std::optional<std::int64_t> stamp = PacketValues::parseDateTime(text);
                if (!stamp)
                    return false;
                std::memcpy(o.out, &*stamp, sizeof *stamp);
                o.out += sizeof *stamp;
            } else if (text == "TRUE" || text == "FALSE") {
                *o.out++ = text[0] == 'T' ? 1 : 0;
            } else {
                return false;
            }
            break;
        }
        }
        fields[given] = field;
        ends[given] = std::uint32_t(o.out - o.values);
        ++given;
    }
    m_p = p;
    m_idCeiling = std::max(m_idCeiling, idCeiling);
    const ArenaRowWriter::Values values{fields, ends, given};
    if (packed) {
        countRow(row.rowSize(values));
        m_content.versions.emplace_back();
        m_content.packed.add(row.finishPacked(values));
        m_content.states.push_back(state);
    } else {
        keepRow(row.finish(values), state);
    }
    return true;
}

void PacketReader::setText(int field, char quote) {
    const Slot& slot = m_slots[std::size_t(field)];
    RowBuilder& builder = *m_builder;
    std::string& out = builder.begin(field);
    const std::size_t start = out.size();
    readValue(quote, out);
    if (slot.kind == FieldKind::String && out.size() - start > slot.width)
        out.resize(start + utf8Prefix(out.data() + start, out.size() - start, slot.width));
    builder.finish(field);
}

void PacketReader::setScalar(int field, std::string_view text) {
    if (text.empty())
        return; // an empty value leaves the field empty
    const Slot& slot = m_slots[std::size_t(field)];
    RowBuilder& builder = *m_builder;
    switch (slot.kind) {
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word: {
        std::int64_t value = 0;
        if (PacketValues::parseInteger(text, value) != Parse::Ok)
            throw CorvantisError(QStringLiteral("'%1' is not a valid integer value for field '%2'")
                                     .arg(shown(text), slot.displayName));
        builder.setInt32(field, FieldValues::checkedInteger(slot.kind, slot.displayName, value));
        return;
    }
    case FieldKind::Date: {
        const std::optional<std::int32_t> day = PacketValues::parseDate(text);
        if (!day)
            throw CorvantisError(QStringLiteral("'%1' is not a valid date").arg(shown(text)));
        builder.setInt32(field, *day);
        return;
    }
    case FieldKind::DateTime: {
        const std::optional<std::int64_t> stamp = PacketValues::parseDateTime(text);
        if (!stamp)
            throw CorvantisError(
                QStringLiteral("'%1' is not a valid date and time").arg(shown(text)));
        builder.setInt64(field, *stamp);
        return;
    }
    case FieldKind::Boolean: {
        // Any leading part of "true" or "false", case ignored, as typed values are read.
        const bool isTrue =
            text.size() <= 4 && equalsIgnoringCase(text, std::string_view("true", text.size()));
        const bool isFalse =
            text.size() <= 5 && equalsIgnoringCase(text, std::string_view("false", text.size()));
        if (!isTrue && !isFalse)
            throw CorvantisError(QStringLiteral("'%1' is not a valid boolean value for field '%2'")
                                     .arg(shown(text), slot.displayName));
        builder.setBool(field, isTrue);
        return;
    }
    case FieldKind::String:
    case FieldKind::Memo:
        return;
    }
}
