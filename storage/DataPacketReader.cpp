#include "storage/DataPacket.h"

#include "base/CorvantisError.h"
#include "model/DataTable.h"
#include "model/FieldValues.h"
#include "storage/HelperThread.h"
#include "storage/PacketEncoding.h"
#include "storage/PacketScanner.h"
#include "storage/PacketValues.h"

#include <QHash>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

// The list file reader: the packet's own structure (fields, change log, counter, rows) on top of
// the generic tokenizer in PacketScanner.h. One pass over UTF-8 text, row values unescaped
// straight into the table's row blocks, numbers and dates read from bytes. It skips everything
// else it meets in the places other writers put extras (field parameters, nested rows,
// comments); it never resolves entities beyond the five predefined ones and character
// references, and refuses a document type declaration outright.
//
// Why this is one file: the rows are nearly all of a list's bytes, and they take two paths that
// must agree value for value. The row path (rows as writers lay them out, decoded in place) and
// the general path (any other layout, which also words every error) share the field look-up,
// the value rules and the reader's state, and the row path stays fast only while the compiler
// sees all of it in one unit. Split in two, each half would need the other's internals.

namespace {

using PacketEncoding::equalsIgnoringCase;
using PacketValues::Parse;

// A row holds at most this many fields (its header counts them in 16 bits).
constexpr std::size_t MaxFields = 65535;

// A row attribute as the row readers see it: the number of the field it names (0 and up), or one
// of these.
enum RowAttribute : int {
    OtherName = -1,    // names no field (other writers' extras), or no field start is there
    RowStateName = -2, // the row's state
    NotLaidOut = -3,   // not as writers lay it out: read the name to tell
};
// Keeps the decoded value of an attribute (of one given twice, the last).
void keep(std::optional<std::string>& slot, const char* s, const char* e) {
    slot.emplace();
    PacketScanner::decodeInto(*slot, s, e);
}

// The start of an attribute as writers lay it out, `Name="`, recognised in one comparison
// instead of reading the name, the "=" and the quote byte by byte.
class AttributeStart {
public:
    explicit AttributeStart(std::string_view name) : m_size(name.size() + 2) {
        m_text.assign(name.data(), name.size());
        m_text += "=\"";
        std::memcpy(m_bytes, m_text.data(), std::min<std::size_t>(m_size, 16));
        m_mask = m_size >= 16 ? 0xFFFFu : (1u << m_size) - 1;
    }
    // The length of the start at p, 0 when p does not begin with it.
    std::size_t at(const char* p, const char* e) const {
#if defined(__SSE2__)
        if (m_size <= 16 && e - p >= 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i y = _mm_load_si128(reinterpret_cast<const __m128i*>(m_bytes));
            const auto same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
            return (same & m_mask) == m_mask ? m_size : 0;
        }
#endif
        return std::size_t(e - p) >= m_size && std::memcmp(p, m_text.data(), m_size) == 0 ? m_size
                                                                                          : 0;
    }

private:
    alignas(16) char m_bytes[16] = {};
    unsigned m_mask;
    std::size_t m_size;
    std::string m_text;
};

// The attribute starts of a table's fields. The candidates at a position are the fields (from a
// given one on) whose name begins with the byte there, so a row's attribute is usually
// recognised with a single comparison however many empty fields it skips.
class FieldStarts {
public:
    void add(std::string_view name) {
        const std::size_t field = m_starts.size();
        m_starts.emplace_back(name);
        if (field < 64)
            m_byFirst[static_cast<unsigned char>(name[0])] |= std::uint64_t(1) << field;
    }
    // The field, from `from` on, whose start is at p (before e), p moved past it; OtherName for
    // none.
    // The first candidate is tried here, small enough to sit in the caller's loop.
    int match(const char*& p, const char* e, int from) const {
        if (from < 64) {
            const std::uint64_t candidates =
                m_byFirst[static_cast<unsigned char>(*p)] & (~std::uint64_t(0) << from);
            if (candidates) {
                const int f = __builtin_ctzll(candidates);
                if (const std::size_t n = m_starts[std::size_t(f)].at(p, e)) {
                    p += n;
                    return f;
                }
            }
        }
        return matchRest(p, e, from);
    }

private:
    int matchRest(const char*& p, const char* e, int from) const {
        if (from < 64) {
            std::uint64_t candidates =
                m_byFirst[static_cast<unsigned char>(*p)] & (~std::uint64_t(0) << from);
            candidates &= candidates - 1; // the first was tried
            while (candidates) {
                const int f = __builtin_ctzll(candidates);
                if (const std::size_t n = m_starts[std::size_t(f)].at(p, e)) {
                    p += n;
                    return f;
                }
                candidates &= candidates - 1;
            }
            if (m_starts.size() <= 64)
                return OtherName;
        }
        for (std::size_t f = std::max<std::size_t>(std::size_t(from), 64); f < m_starts.size();
             ++f) {
            if (const std::size_t n = m_starts[f].at(p, e)) {
                p += n;
                return int(f);
            }
        }
        return OtherName;
    }

    std::vector<AttributeStart> m_starts;
    std::uint64_t m_byFirst[256] = {}; // fields below 64 by the first byte of their name
};

// Where a row value goes and how it is read.
struct Slot {
    FieldKind kind;
    std::size_t width; // characters, String only
    std::string name;  // UTF-8, as the rows spell it
    QString displayName;
};

class Reader : private PacketScanner {
public:
    // With `checking`, the text must prove well-formed UTF-8 as it is scanned, or the scan
    // stops with NotUtf8.
    Reader(std::string_view text, std::size_t fileSize, bool checking)
        : PacketScanner(text.data(), text.data() + text.size()), m_begin(text.data()),
          m_checked(checking ? text.data() : m_end), m_budget(std::size_t(256) << 20) {
        // Rows may take many times their text (a short row of many empty fields), but not
        // without bound: a hostile file must fail, not exhaust memory.
        const std::size_t room = (std::numeric_limits<std::size_t>::max() - m_budget) / 32;
        m_budget += std::min(fileSize, room) * 32;
    }

    // A reader of the rows from `from` on, beside `first`, which has read the fields.
    Reader(const Reader& first, const char* from);

    DataTable::Content run();

private:
    void readFields();
    void addField(std::string_view element);
    void readMetadataRest();
    void readParams();
    void readRows();
    const char* splitPoint() const;
    void scanRows();
    void readRow();
    bool readPlainRow();
    const char* copyText(const char* p, std::size_t width);
    void keepRow(RowData&& row, std::uint32_t state);
    bool eightDigitDate(const char*& p, std::int32_t& day);
    int fieldOf(std::string_view name, int hint) const;
    int matchStart(const char*& p, int hint) const;
    void readValue(char quote, std::string& out);
    std::string_view readValue(char quote);
    void setText(int field, char quote);
    void setScalar(int field, std::string_view text);

    void checkUpTo(const char* to);

    const char* m_begin;
    const char* m_stopAt = nullptr; // where another reader took over the rows
    // Text before this point is known to be well-formed UTF-8 (when checking; else the end).
    // Plain rows are checked as they are read: their markup is ASCII by the way it is matched,
    // and only text values with bytes above 0x7F need a look. Everything else is checked in
    // sweeps over the stretches between them.
    const char* m_checked;
    std::size_t m_budget;
    std::size_t m_used = 0;

    DataTable::Content m_content;
    std::vector<Slot> m_slots;
    std::unordered_map<std::string_view, int> m_byName;
    QHash<QString, int> m_folded; // field names, case ignored, as the table looks them up
    std::string m_scratch;
    std::optional<RowBuilder> m_builder;
    std::optional<ArenaRowWriter> m_writer;
    FieldStarts m_starts;
    AttributeStart m_rowStateStart{"RowState"};
    // A list holds many dates of the same few days: their texts (as eight bytes) and days.
    struct DateSlot {
        std::uint64_t digits = 0;
        std::int32_t day = 0;
    };
    DateSlot m_dates[256];
};

// Thrown when text that should be UTF-8 is not.
struct NotUtf8 {};

Reader::Reader(const Reader& first, const char* from)
    : PacketScanner(from, first.m_end), m_begin(first.m_begin),
      m_checked(first.m_checked < first.m_end ? from : first.m_end), m_budget(first.m_budget),
      m_slots(first.m_slots), m_byName(first.m_byName), m_starts(first.m_starts) {
    m_builder.emplace(int(m_slots.size()));
    m_writer.emplace(m_content.arena, int(m_slots.size()));
    m_content.versions.reserve(first.m_content.versions.capacity() / 2);
    m_content.states.reserve(first.m_content.states.capacity() / 2);
}

void Reader::checkUpTo(const char* to) {
    if (to <= m_checked)
        return;
    if (!PacketEncoding::isWellFormedUtf8(std::string_view(m_checked, std::size_t(to - m_checked))))
        throw NotUtf8{};
    m_checked = to;
}

DataTable::Content Reader::run() {
    skipSpaces();
    if (m_p >= m_end || *m_p != '<')
        mismatch();

    std::string_view name;
    expectStart(name);
    const bool rooted = name == "DATAPACKET";
    if (rooted) {
        if (skipAttributes(name))
            mismatch();
        expectStart(name);
    }
    bool ended = false; // the root's end tag (or the end of the text) was met already
    if (name == "METADATA") {
        if (skipAttributes(name))
            mismatch();
        expectStart(name);
        if (name != "FIELDS")
            mismatch();
        readFields();
        readMetadataRest();
        const Tag tag = next(name);
        if (tag == Tag::Start) {
            if (name != "ROWDATA")
                mismatch();
            readRows();
        } else if (tag == Tag::End) {
            // Fields without rows.
            if (!rooted || name != "DATAPACKET")
                damaged(QStringLiteral("\"%1\" closes nothing").arg(shown(name)));
            ended = true;
        } else {
            if (rooted)
                unexpectedEnd("DATAPACKET");
            ended = true;
        }
    } else if (name == "ROWDATA") {
        readRows();
    } else {
        mismatch();
    }

    if (rooted && !ended) {
        // Other writers may add elements after the rows; they are not part of a task list.
        while (true) {
            const Tag tag = next(name);
            if (tag == Tag::Eof)
                unexpectedEnd("DATAPACKET");
            if (tag == Tag::End) {
                if (name != "DATAPACKET")
                    damaged(QStringLiteral("\"DATAPACKET\" is closed by \"%1\"").arg(shown(name)));
                break;
            }
            if (!skipAttributes(name))
                skipChildren(name);
        }
    }
    if (next(name) != Tag::Eof)
        damaged(QStringLiteral("there is more after the end of the packet"));
    checkUpTo(m_end);
    return std::move(m_content);
}

void Reader::readFields() {
    if (skipAttributes("FIELDS"))
        return;
    children("FIELDS", [this](std::string_view name) {
        if (name != "FIELD")
            return false;
        addField(name);
        return true;
    });
}

void Reader::addField(std::string_view element) {
    std::optional<std::string> attrName, tagName, fieldType, subType, width;
    std::uint8_t flags = 0;
    const bool closed =
        attributes(element, [&](std::string_view attr, const char* s, const char* e) {
            static const std::pair<const char*, std::uint8_t> Flags[] = {
                {"readonly", FieldReadOnly},
                {"required", FieldRequired},
                {"hidden", FieldHidden},
                {"linkfield", FieldLinkField},
            };
            for (const auto& [flagName, bit] : Flags)
                if (attr == flagName &&
                    equalsIgnoringCase(std::string_view(s, std::size_t(e - s)), "true"))
                    flags |= bit;
            if (attr == "attrname")
                keep(attrName, s, e);
            else if (attr == "tagname")
                keep(tagName, s, e);
            else if (attr == "fieldtype")
                keep(fieldType, s, e);
            else if (attr == "SUBTYPE")
                keep(subType, s, e);
            else if (attr == "WIDTH")
                keep(width, s, e);
        });
    if (!closed)
        skipChildren(element); // field parameters of other writers

    if (!attrName && !tagName)
        mismatch();
    const std::string fieldName = attrName ? *attrName : *tagName;
    if (fieldName.empty())
        mismatch();
    const std::string type = fieldType.value_or(std::string());
    const std::string subtype = subType.value_or(std::string());

    FieldDef def;
    def.flags = flags;
    if (equalsIgnoringCase(type, "i4")) {
        def.kind = equalsIgnoringCase(subtype, "Autoinc") ? FieldKind::AutoInc : FieldKind::Integer;
    } else if (equalsIgnoringCase(type, "ui2")) {
        def.kind = FieldKind::Word;
    } else if (equalsIgnoringCase(type, "string")) {
        def.kind = FieldKind::String;
    } else if (equalsIgnoringCase(type, "bin.hex") && equalsIgnoringCase(subtype, "Text")) {
        def.kind = FieldKind::Memo;
    } else if (equalsIgnoringCase(type, "date")) {
        def.kind = FieldKind::Date;
    } else if (equalsIgnoringCase(type, "dateTime")) {
        def.kind = FieldKind::DateTime;
    } else if (equalsIgnoringCase(type, "boolean")) {
        def.kind = FieldKind::Boolean;
    } else {
        throw CorvantisError(QStringLiteral("Invalid field type."));
    }

    def.name = fromUtf8(fieldName);
    if (!PacketValues::isFieldName(fieldName))
        damaged(QStringLiteral("the field name \"%1\" cannot be used").arg(shown(fieldName)));
    if (m_slots.size() >= MaxFields)
        damaged(QStringLiteral("it has more than %1 fields").arg(MaxFields));
    const QString folded = def.name.toCaseFolded();
    if (m_folded.contains(folded))
        damaged(QStringLiteral("the field \"%1\" is described twice").arg(def.name));

    if (def.kind == FieldKind::String) {
        std::int64_t chars = 0;
        if (!width || PacketValues::parseInteger(*width, chars) != Parse::Ok || chars < 1 ||
            chars > std::numeric_limits<std::int32_t>::max())
            damaged(QStringLiteral("the text field \"%1\" has no valid WIDTH").arg(def.name));
        def.width = static_cast<int>(chars);
    }
    if (def.kind == FieldKind::AutoInc) {
        for (const FieldDef& other : m_content.fields)
            if (other.kind == FieldKind::AutoInc)
                damaged(QStringLiteral("it has more than one auto-increment field"));
        // The table hands out its values; nobody types them.
        def.flags |= FieldReadOnly;
    }

    m_folded.insert(folded, int(m_slots.size()));
    m_slots.push_back(Slot{def.kind, std::size_t(def.width), fieldName, def.name});
    m_content.fields.push_back(std::move(def));
}

void Reader::readMetadataRest() {
    children("METADATA", [this](std::string_view name) {
        if (name != "PARAMS")
            return false;
        readParams();
        return true;
    });
}

void Reader::readParams() {
    std::optional<std::string> decodedLog, counter;
    std::optional<std::string_view> changeLog;
    const bool closed =
        attributes("PARAMS", [&](std::string_view attr, const char* s, const char* e) {
            if (attr == "CHANGE_LOG") {
                // Read where it lies unless it holds references (no writer puts any there).
                if (std::memchr(s, '&', std::size_t(e - s))) {
                    keep(decodedLog, s, e);
                    changeLog = *decodedLog;
                } else {
                    changeLog = std::string_view(s, std::size_t(e - s));
                }
            } else if (attr == "AUTOINCVALUE") {
                keep(counter, s, e);
            }
        });
    if (!closed)
        skipChildren("PARAMS");

    if (changeLog) {
        std::vector<std::uint32_t>& log = m_content.changeLog;
        log.clear();
        const std::string_view text = *changeLog;
        // Three numbers per change, so the log of a large list runs to millions of them.
        log.reserve(text.size() / 6);
        std::size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && isSpace(text[i]))
                ++i;
            const std::size_t start = i;
            std::uint32_t plain = 0;
            while (i < text.size() && i - start < 9 && unsigned(text[i] - '0') < 10)
                plain = plain * 10 + unsigned(text[i++] - '0');
            const bool digitsOnly = i > start && (i == text.size() || isSpace(text[i]));
            while (i < text.size() && !isSpace(text[i]))
                ++i;
            if (start == i)
                break;
            if (digitsOnly) {
                log.push_back(plain);
                continue;
            }
            const std::string_view token(text.data() + start, i - start);
            std::int64_t number = 0;
            if (PacketValues::parseInteger(token, number) != Parse::Ok || number < 0 ||
                number > std::numeric_limits<std::uint32_t>::max())
                damaged(QStringLiteral("the change log holds \"%1\"").arg(shown(token)));
            log.push_back(static_cast<std::uint32_t>(number));
        }
        if (log.size() % 3 != 0)
            damaged(QStringLiteral("the change log ends with an incomplete entry"));
    }
    if (counter) {
        std::int64_t value = 0;
        if (PacketValues::parseInteger(*counter, value) != Parse::Ok ||
            value < std::numeric_limits<std::int32_t>::min() ||
            value > std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1)
            damaged(QStringLiteral("the ID counter \"%1\" is not valid").arg(shown(*counter)));
        // IDs start at 1; a counter below that is as unsound as one behind the stored IDs.
        m_content.autoIncValue = std::max<std::int64_t>(value, 1);
    }
}

void Reader::readRows() {
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        m_byName.emplace(m_slots[i].name, int(i));
        m_starts.add(m_slots[i].name);
    }
    m_builder.emplace(int(m_slots.size()));
    // The change log tells how many versions to expect; reserving them up front saves the
    // vector's regrowth on large lists. Deletes add no version.
    std::size_t expected = 0;
    const std::vector<std::uint32_t>& log = m_content.changeLog;
    for (std::size_t i = 2; i < log.size(); i += 3)
        if (log[i] != DataTable::Deleted)
            ++expected;
    expected = std::min(expected, std::size_t(m_end - m_p) / 6);
    // With room for the tasks added after opening: the first of them would otherwise move every
    // version. Room not used is never touched.
    expected += expected / 4 + 1024;
    m_content.versions.reserve(expected);
    m_content.states.reserve(expected);

    m_writer.emplace(m_content.arena, int(m_slots.size()));
    if (skipAttributes("ROWDATA"))
        return;

    // A large list's rows are read in two halves at once when a second processor is free. The
    // second half starts at a row near the middle; it counts only if this reader, going row by
    // row, arrives exactly there (else the place was inside something else, and this reader
    // simply reads on to the end).
    const char* split = splitPoint();
    std::optional<Reader> second;
    std::exception_ptr secondFailure;
    std::thread helper;
    if (split) {
        second.emplace(*this, split);
        try {
            helper = HelperThread::Start([&] {
                try {
                    second->scanRows();
                } catch (...) {
                    secondFailure = std::current_exception();
                }
            });
            m_stopAt = split;
        } catch (const std::system_error&) {
            second.reset(); // no thread to be had: one reader does it all
        }
    }
    try {
        scanRows();
    } catch (...) {
        if (helper.joinable())
            helper.join();
        throw;
    }
    if (!helper.joinable())
        return;
    helper.join();
    m_stopAt = nullptr;
    if (m_p != split)
        return; // this reader never met the second half's start and has read on to the end
    if (secondFailure)
        std::rethrow_exception(secondFailure);
    if (m_checked < m_end) {
        checkUpTo(split);
        m_checked = second->m_checked;
    }
    m_used += second->m_used;
    if (m_used > m_budget)
        damaged(QStringLiteral("its rows need more memory than a list file can take"));
    m_content.arena.take(std::move(second->m_content.arena));
    for (RowData& row : second->m_content.versions)
        m_content.versions.push_back(std::move(row));
    m_content.states.insert(m_content.states.end(), second->m_content.states.begin(),
                            second->m_content.states.end());
    m_p = second->m_p;
}

// Where a second reader may start on the rows: a row that directly follows another near the
// middle of what is left, when that is large enough to be worth a thread.
const char* Reader::splitPoint() const {
    constexpr std::ptrdiff_t Worthwhile = std::ptrdiff_t(4) << 20;
    if (m_end - m_p < Worthwhile || std::thread::hardware_concurrency() < 2)
        return nullptr;
    const std::string_view rest(m_p + (m_end - m_p) / 2, std::size_t(m_end - m_p) / 2);
    const std::size_t at = rest.find("/><ROW ");
    return at == std::string_view::npos ? nullptr : rest.data() + at + 2;
}

// Reads the rows and whatever else ROWDATA holds, up to its end tag or to where another reader
// took over.
void Reader::scanRows() {
    std::string_view name;
    while (m_p != m_stopAt) {
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
int Reader::fieldOf(std::string_view name, int hint) const {
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
int Reader::matchStart(const char*& p, int hint) const {
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
void Reader::readValue(char quote, std::string& out) {
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
std::string_view Reader::readValue(char quote) {
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
void Reader::readRow() {
    const char* start = m_p;
    if (readPlainRow())
        return;
    m_writer->abandon();
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

    keepRow(builder.build(m_content.arena), state);
}

void Reader::keepRow(RowData&& row, std::uint32_t state) {
    m_used += row.byteSize() + sizeof(RowData) + sizeof(std::uint32_t);
    if (m_used > m_budget)
        damaged(QStringLiteral("its rows need more memory than a list file can take"));
    m_content.versions.push_back(std::move(row));
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
bool Reader::eightDigitDate(const char*& p, std::int32_t& day) {
    if (m_end - p < 9 || p[8] != '"')
        return false;
    std::uint64_t text;
    std::memcpy(&text, p, sizeof text);
    // Every byte a digit: none below '0' (the subtraction sets its top bit) or above '9' (the
    // addition does).
    const std::uint64_t digits = text - 0x3030303030303030ull;
    if (((text + 0x4646464646464646ull) | digits) & 0x8080808080808080ull)
        return false;
    DateSlot& slot = m_dates[(text * 0x9E3779B97F4A7C15ull) >> 56];
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

// A row whose attributes are all `Name="value"` in field order, values decoded straight into
// their final place; false, having consumed nothing that counts, for any other row.
bool Reader::readPlainRow() {
    // Everything before the row checked first; "<ROW" itself is ASCII.
    const char* const start = m_p;
    if (start - m_checked > 4)
        checkUpTo(start);
    else if (m_checked < start)
        m_checked = start;
    ArenaRowWriter& row = *m_writer;
    row.begin();
    const char* p = m_p;
    std::uint32_t state = 0;
    int hint = 0;
    while (true) {
        if (p + 1 >= m_end)
            return false;
        p += *p == ' '; // attributes are one blank apart
        while (isSpace(*p) && p + 1 < m_end)
            ++p;
        if (p + 1 >= m_end)
            return false;
        if (*p == '/') {
            if (p[1] != '>')
                return false;
            p += 2;
            break;
        }
        const int field = m_starts.match(p, m_end, hint);
        if (field == OtherName) {
            const std::size_t n = m_rowStateStart.at(p, m_end);
            std::int32_t value = 0;
            if (!n || !plainNumber(p += n, m_end, value) || value < 0)
                return false;
            state = std::uint32_t(value);
            continue;
        }
        const Slot& slot = m_slots[std::size_t(field)];
        row.open(field);
        switch (slot.kind) {
        case FieldKind::String:
        case FieldKind::Memo:
            p = copyText(p, slot.kind == FieldKind::String ? slot.width : 0);
            if (!p)
                return false;
            break;
        case FieldKind::Integer:
        case FieldKind::AutoInc:
        case FieldKind::Word:
        case FieldKind::Date: {
            if (*p == '"') { // empty: the field stays empty
                ++p;
                hint = field + 1;
                continue;
            }
            std::int32_t value = 0;
            if (slot.kind == FieldKind::Date && eightDigitDate(p, value)) {
                // the form every writer uses
            } else if (slot.kind == FieldKind::Date) {
                std::string_view text;
                if (!plainValue(p, m_end, text) || (text.size() != 8 && !isAscii(text)))
                    return false; // (a date may carry any time after "T", which is ignored)
                const std::optional<std::int32_t> day = PacketValues::parseDate(text);
                if (!day)
                    return false;
                value = *day;
            } else if (!plainNumber(p, m_end, value) ||
                       (slot.kind == FieldKind::Word && (value < 0 || value > 65535))) {
                return false;
            }
            row.reserve(sizeof value);
            std::memcpy(row.cursor(), &value, sizeof value);
            row.cursor() += sizeof value;
            break;
        }
        case FieldKind::DateTime:
        case FieldKind::Boolean: {
            std::string_view text;
            if (!plainValue(p, m_end, text))
                return false;
            if (text.empty()) {
                hint = field + 1;
                continue;
            }
            row.reserve(8);
            if (slot.kind == FieldKind::DateTime) {
                const std::optional<std::int64_t> stamp = PacketValues::parseDateTime(text);
                if (!stamp)
                    return false;
                std::memcpy(row.cursor(), &*stamp, sizeof *stamp);
                row.cursor() += sizeof *stamp;
            } else if (text == "TRUE" || text == "FALSE") {
                *row.cursor()++ = text[0] == 'T' ? 1 : 0;
            } else {
                return false;
            }
            break;
        }
        }
        row.close(field);
        hint = field + 1;
    }
    if (m_checked == start)
        m_checked = p;
    m_p = p;
    keepRow(row.finish(), state);
    return true;
}

// Copies a text value (p after its opening quote) to the row being written, references
// decoded, cut to width characters unless width is 0; returns what follows its closing quote,
// nullptr when it holds a reference that is not valid or has no closing quote. Sixteen bytes
// are copied at a time and the cursor advanced past those that are neither quote nor "&".
const char* Reader::copyText(const char* p, std::size_t width) {
    const char* const begin = p;
    unsigned high = 0; // the top bits of the value's bytes
    ArenaRowWriter& row = *m_writer;
    char* out = row.cursor();
    const char* limit = row.limit();
    const auto room = [&](std::size_t size) {
        if (std::size_t(limit - out) < size + ArenaRowWriter::Slack) {
            row.cursor() = out;
            row.reserve(size);
            out = row.cursor();
            limit = row.limit();
        }
    };
    while (true) {
        bool found = false; // the cursor is at a quote or "&"
#if defined(__SSE2__)
        const __m128i quotes = _mm_set1_epi8('"');
        const __m128i amps = _mm_set1_epi8('&');
        while (m_end - p >= 16) {
            room(16);
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
            const auto hits = unsigned(_mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(x, quotes), _mm_cmpeq_epi8(x, amps))));
            const auto upper = unsigned(_mm_movemask_epi8(x));
            if (!hits) {
                high |= upper;
                p += 16;
                out += 16;
                continue;
            }
            const int clean = __builtin_ctz(hits);
            high |= upper & ((1u << clean) - 1);
            p += clean;
            out += clean;
            found = true;
            break;
        }
#endif
        if (!found) {
            while (p < m_end && *p != '"' && *p != '&') {
                room(1);
                high |= static_cast<unsigned char>(*p) & 0x80u;
                *out++ = *p++;
            }
            if (p >= m_end)
                return nullptr;
        }
        if (*p == '"')
            break;
        char32_t cp = 0;
        const char* next = readReference(p, m_end, cp);
        if (!next)
            return nullptr;
        room(4);
        if (cp < 0x80)
            *out++ = char(cp);
        else
            out = PacketEncoding::writeUtf8(out, cp);
        p = next;
    }
    if (high && m_checked < m_end &&
        !PacketEncoding::isWellFormedUtf8(std::string_view(begin, std::size_t(p - begin))))
        throw NotUtf8{};
    row.cursor() = out;
    if (width && row.valueSize() > width)
        row.cursor() = row.valueStart() + utf8Prefix(row.valueStart(), row.valueSize(), width);
    return p + 1;
}

void Reader::setText(int field, char quote) {
    const Slot& slot = m_slots[std::size_t(field)];
    RowBuilder& builder = *m_builder;
    std::string& out = builder.begin(field);
    const std::size_t start = out.size();
    readValue(quote, out);
    if (slot.kind == FieldKind::String && out.size() - start > slot.width)
        out.resize(start + utf8Prefix(out.data() + start, out.size() - start, slot.width));
    builder.finish(field);
}

void Reader::setScalar(int field, std::string_view text) {
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

} // namespace

namespace DataPacket {

void Read(DataTable& table, const QByteArray& bytes) {
    table.close();
    if (bytes.isEmpty()) {
        const QString message = QStringLiteral("Missing data provider or data packet");
        const QString name = table.objectName();
        throw CorvantisError(name.isEmpty() ? message : name + QStringLiteral(": ") + message);
    }
    try {
        using PacketEncoding::Reading;
        const std::size_t size = std::size_t(bytes.size());
        std::string converted;
        const Reading reading =
            PacketEncoding::classify(std::string_view(bytes.constData(), size), converted);
        DataTable::Content content;
        if (reading.fallback == Reading::Fallback::None) {
            content = Reader(reading.text, size, false).run();
        } else {
            // Taken as UTF-8 while it proves well-formed; read again as the fallback text if it
            // does not, and also before reporting an error, which might read otherwise then.
            bool wellFormed = true;
            try {
                content = Reader(reading.text, size, true).run();
            } catch (const NotUtf8&) {
                wellFormed = false;
            } catch (const CorvantisError&) {
                if (PacketEncoding::isWellFormedUtf8(reading.text))
                    throw;
                wellFormed = false;
            }
            if (!wellFormed) {
                converted = PacketEncoding::fallbackText(reading);
                content = Reader(converted, size, false).run();
            }
        }
        converted = std::string();
        table.adopt(std::move(content));
    } catch (const std::bad_alloc&) {
        table.close();
        throw CorvantisError(QStringLiteral("Not enough memory to load the list."));
    }
}

} // namespace DataPacket
