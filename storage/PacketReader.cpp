#include "storage/PacketReader.h"

#include "base/CorvantisError.h"
#include "storage/DataPacket.h"
#include "storage/HelperThread.h"
#include "storage/PacketEncoding.h"
#include "storage/PacketValues.h"

#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using PacketEncoding::equalsIgnoringCase;
using PacketValues::Parse;

// A row holds at most this many fields (its header counts them in 16 bits).
constexpr std::size_t MaxFields = 65535;

// How far a mapped file's reader goes before it gives back the pages behind it, and how far
// ahead of it the text is checked for UTF-8.
constexpr std::ptrdiff_t ReleaseStep = std::ptrdiff_t(8) << 20;
constexpr std::ptrdiff_t CheckStep = std::ptrdiff_t(128) << 10;

// How many bytes of text are blanks or other control bytes (at most ' ').
std::size_t countBlanks(std::string_view text) {
    std::size_t count = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i blank = _mm_set1_epi8(' ');
    while (text.size() - i >= 16) {
        // Each lane counts up to 255 matches, then the lanes are summed.
        __m128i lanes = _mm_setzero_si128();
        for (int round = 0; round < 255 && text.size() - i >= 16; ++round, i += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(_mm_min_epu8(x, blank), x));
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        count += std::size_t(_mm_cvtsi128_si32(sums)) +
                 std::size_t(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
#endif
    for (; i < text.size(); ++i)
        count += static_cast<unsigned char>(text[i]) <= ' ';
    return count;
}

// Keeps the decoded value of an attribute (of one given twice, the last).
void keep(std::optional<std::string>& slot, const char* s, const char* e) {
    slot.emplace();
    PacketScanner::decodeInto(*slot, s, e);
}

} // namespace

PacketReader::PacketReader(std::string_view text, std::size_t fileSize, bool checking, bool mapped)
    : PacketScanner(text.data(), text.data() + text.size()), m_begin(text.data()),
      m_checked(checking ? text.data() : m_end), m_mapped(mapped), m_released(text.data()),
      m_nextMove(text.data()), m_budget(std::size_t(256) << 20) {
    // Rows may take many times their text (a short row of many empty fields), but not
    // without bound: a hostile file must fail, not exhaust memory.
    const std::size_t room = (std::numeric_limits<std::size_t>::max() - m_budget) / 32;
    m_budget += std::min(fileSize, room) * 32;
}

PacketReader::PacketReader(const PacketReader& first, const char* from)
    : PacketScanner(from, first.m_end), m_begin(first.m_begin),
      m_checked(first.m_checked < first.m_end ? from : first.m_end), m_mapped(first.m_mapped),
      m_released(from), m_nextMove(from), m_budget(first.m_budget), m_stop(&first.m_stopSecond),
      m_slots(first.m_slots), m_idField(first.m_idField), m_byName(first.m_byName),
      m_starts(first.m_starts) {
    // Versions as many as the rows' text could hold; room not used is never touched.
    reserveRows(std::size_t(m_end - from) / 64 + 1024);
}

PacketReader::~PacketReader() {
    if (m_helper.joinable()) {
        m_stopSecond = true;
        m_helper.join();
    }
}

void PacketReader::reserveRows(std::size_t expected) {
    const int count = int(m_slots.size());
    m_builder.emplace(count);
    m_content.versions.reserve(expected);
    m_content.states.reserve(expected);
    m_content.packed = RowDataStore(count);
    m_content.packed.reserve(expected);
    m_writer.emplace(m_content.arena, count);
    m_given.resize(std::size_t(count));
    m_givenEnds.resize(std::size_t(count));
    m_packer.emplace(m_content.packed.memory(), count, ArenaRowWriter::Packed);
}

void PacketReader::checkUpTo(const char* to) {
    if (to <= m_checked)
        return;
    if (!PacketEncoding::isWellFormedUtf8(std::string_view(m_checked, std::size_t(to - m_checked))))
        throw NotUtf8{};
    m_checked = to;
}

// What a reader does now and then as it moves on through the rows: it checks the next stretch
// of text for UTF-8 just before reading it (while the text is in the processor's cache, not in
// a pass of its own over memory), and gives the pages of a mapped file behind it back to the
// system's file cache, so that the memory a load takes holds its rows, not the file as well.
void PacketReader::moveOn() {
    const char* next = m_end;
    if (m_checked < m_end) {
        const char* limit = m_stopAt ? m_stopAt : m_end;
        if (m_checked < limit) {
            // Up to a character's start: a stretch must not end inside a sequence.
            const char* to = m_p + std::min<std::ptrdiff_t>(CheckStep, limit - m_p);
            for (int back = 0; back < 3 && to < m_end && to > m_checked &&
                               (static_cast<unsigned char>(*to) & 0xC0) == 0x80;
                 ++back)
                --to;
            checkUpTo(to);
            next = std::min(next,
                            m_checked - std::min<std::ptrdiff_t>(CheckStep / 2, m_checked - m_p));
        }
    }
    if (m_mapped) {
#if defined(__linux__) && defined(MADV_DONTNEED)
        static const auto page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
        if (m_p - m_released >= ReleaseStep) {
            const auto behind = reinterpret_cast<std::uintptr_t>(m_p) & ~(page - 1);
            const auto from =
                (reinterpret_cast<std::uintptr_t>(m_released) + page - 1) & ~(page - 1);
            if (behind > from &&
                ::madvise(reinterpret_cast<void*>(from), behind - from, MADV_DONTNEED) == 0)
                m_released = reinterpret_cast<const char*>(behind);
        }
#endif
        next = std::min(next, m_released + ReleaseStep);
    }
    m_nextMove = std::max(next, m_p + 1);
}

DataTable::Content PacketReader::run() {
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
        indexFields();
        startSecondHalf(); // while this reader reads the change log
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
        indexFields();
        startSecondHalf();
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
    m_content.idCeiling = m_idCeiling;
    return std::move(m_content);
}

void PacketReader::readFields() {
    if (skipAttributes("FIELDS"))
        return;
    children("FIELDS", [this](std::string_view name) {
        if (name != "FIELD")
            return false;
        addField(name);
        return true;
    });
}

void PacketReader::addField(std::string_view element) {
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

void PacketReader::readMetadataRest() {
    children("METADATA", [this](std::string_view name) {
        if (name != "PARAMS")
            return false;
        readParams();
        return true;
    });
}

void PacketReader::readParams() {
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
        // Three numbers per change, so the log of a large list runs to millions of them: the
        // form writers give them (up to seven digits and a blank) is read eight bytes at a
        // time, anything else number by number. They are stored through a plain cursor: there
        // are no more of them than blanks (counted with the other control bytes) and one, nor
        // than other bytes.
        const std::size_t blanks = countBlanks(text);
        log.resize(std::min(blanks + 1, text.size() - blanks));
        std::uint32_t* const first = log.data();
        std::uint32_t* out = first;
        std::size_t i = 0;
        while (i < text.size()) {
            if (text.size() - i >= 8) {
                std::uint64_t bytes;
                std::memcpy(&bytes, text.data() + i, sizeof bytes);
                const std::uint64_t digits = bytes - 0x3030303030303030ull;
                // The first byte that is no digit (a borrow or a carry only runs upwards).
                const std::uint64_t others =
                    ((bytes + 0x4646464646464646ull) | digits) & 0x8080808080808080ull;
                const unsigned count = others ? unsigned(__builtin_ctzll(others)) / 8 : 8;
                if (count > 0 && count < 8 && text[i + count] == ' ') {
                    // The digits moved up, zeros before them; then pairs, then the four pairs.
                    std::uint64_t v = digits << (8 * (8 - count));
                    v = v * 10 + (v >> 8);
                    v = ((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32)) +
                         ((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32))) >>
                        32;
                    *out++ = std::uint32_t(v);
                    i += count + 1;
                    continue;
                }
            }
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
                *out++ = plain;
                continue;
            }
            const std::string_view token(text.data() + start, i - start);
            std::int64_t number = 0;
            if (PacketValues::parseInteger(token, number) != Parse::Ok || number < 0 ||
                number > std::numeric_limits<std::uint32_t>::max())
                damaged(QStringLiteral("the change log holds \"%1\"").arg(shown(token)));
            *out++ = static_cast<std::uint32_t>(number);
        }
        log.resize(std::size_t(out - first));
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

// Where a second reader may start on the rows: a row that directly follows another near the
// middle of what is left, when that is large enough to be worth a thread.
const char* PacketReader::splitPoint() const {
    constexpr std::ptrdiff_t Worthwhile = std::ptrdiff_t(4) << 20;
    if (m_end - m_p < Worthwhile || std::thread::hardware_concurrency() < 2)
        return nullptr;
    const std::string_view rest(m_p + (m_end - m_p) / 2, std::size_t(m_end - m_p) / 2);
    const std::size_t at = rest.find("/><ROW ");
    return at == std::string_view::npos ? nullptr : rest.data() + at + 2;
}

void PacketReader::indexFields() {
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        const Slot& slot = m_slots[i];
        m_byName.emplace(slot.name, int(i));
        m_starts.add(slot.name);
        if (slot.kind == FieldKind::AutoInc)
            m_idField = int(i);
    }
}

// A large list's rows are read in two halves at once when a second processor is free, the
// second begun before the change log is read. The second half starts at a row near the middle;
// it counts only if this reader, going row by row, arrives exactly there (else the place was
// inside something else, and this reader simply reads on to the end).
void PacketReader::startSecondHalf() {
    const char* split = splitPoint();
    if (!split)
        return;
    m_second = std::make_unique<PacketReader>(*this, split);
    try {
        m_helper = HelperThread::Start([this] {
            try {
                m_second->scanRows();
            } catch (...) {
                m_secondFailure = std::current_exception();
            }
        });
        m_stopAt = split;
    } catch (const std::system_error&) {
        m_second.reset(); // no thread to be had: one reader does it all
    }
}

void PacketReader::readRows() {
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
    reserveRows(expected);
    if (!skipAttributes("ROWDATA"))
        scanRows();
    joinSecondHalf();
}

// Takes over what the reader of the second half read, as if this one had read on.
void PacketReader::joinSecondHalf() {
    if (!m_helper.joinable())
        return;
    m_helper.join();
    const char* split = m_stopAt;
    m_stopAt = nullptr;
    if (m_p != split)
        return; // this reader never met the second half's start and has read on to the end
    if (m_secondFailure)
        std::rethrow_exception(m_secondFailure);
    PacketReader& second = *m_second;
    if (m_checked < m_end) {
        checkUpTo(m_p); // the rest of this half, then what the second checked
        m_checked = second.m_checked;
    }
    m_used += second.m_used;
    if (m_used > m_budget)
        damaged(QStringLiteral("its rows need more memory than a list file can take"));
    m_content.arena.take(std::move(second.m_content.arena));
    m_content.packed.append(std::move(second.m_content.packed));
    for (RowData& row : second.m_content.versions)
        m_content.versions.push_back(std::move(row));
    m_content.states.insert(m_content.states.end(), second.m_content.states.begin(),
                            second.m_content.states.end());
    m_idCeiling = std::max(m_idCeiling, second.m_idCeiling);
    m_p = second.m_p;
    m_second.reset();
}

DataPacket::ReadNotice PacketReader::readInto(DataTable& table, const QByteArray& bytes,
                                              bool mapped) {
    table.close();
    if (bytes.isEmpty()) {
        const QString message = QStringLiteral("Missing data provider or data packet");
        const QString name = table.objectName();
        throw CorvantisError(name.isEmpty() ? message : name + QStringLiteral(": ") + message);
    }
    DataPacket::ReadNotice notice;
    try {
        using PacketEncoding::Reading;
        const std::size_t size = std::size_t(bytes.size());
        std::string converted;
        const Reading reading =
            PacketEncoding::classify(std::string_view(bytes.constData(), size), converted);
        // Only the bytes given are a file's mapping, not a conversion of them.
        const bool inPlace = mapped && reading.text.data() >= bytes.constData() &&
                             reading.text.data() < bytes.constData() + size;
        DataTable::Content content;
        if (reading.fallback == Reading::Fallback::None) {
            content = PacketReader(reading.text, size, false, inPlace).run();
        } else {
            // Taken as UTF-8 while it proves well-formed; read again as the fallback text if it
            // does not, and also before reporting an error, which might read otherwise then.
            bool wellFormed = true;
            try {
                content = PacketReader(reading.text, size, true, inPlace).run();
            } catch (const NotUtf8&) {
                wellFormed = false;
            } catch (const CorvantisError&) {
                if (PacketEncoding::isWellFormedUtf8(reading.text))
                    throw;
                wellFormed = false;
            }
            if (!wellFormed) {
                converted = PacketEncoding::fallbackText(reading);
                content = PacketReader(converted, size, false, false).run();
                notice.notUtf8 = true;
                notice.replaced = reading.fallback == Reading::Fallback::Repair;
            }
        }
        converted = std::string();
        table.adopt(std::move(content));
    } catch (const std::bad_alloc&) {
        table.close();
        throw CorvantisError(QStringLiteral("Not enough memory to load the list."));
    }
    return notice;
}

namespace DataPacket {

ReadNotice Read(DataTable& table, const QByteArray& bytes) {
    return PacketReader::readInto(table, bytes, false);
}

} // namespace DataPacket
