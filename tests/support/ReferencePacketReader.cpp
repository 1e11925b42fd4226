#include "support/ReferencePacketReader.h"

#include "model/FieldValues.h"
#include "storage/DataPacket.h"
#include "storage/PacketEncoding.h"
#include "storage/PacketScanner.h"
#include "storage/PacketValues.h"
#include "support/TestSupport.h"

#include <QHash>

#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The list file reader as it was before versions were packed and rows read in two halves, cut
// down to its general path: every row read attribute by attribute on one thread, every version
// laid out as a row. Kept to check the reader against.

namespace {

using PacketEncoding::equalsIgnoringCase;
using PacketValues::Parse;

constexpr std::size_t MaxFields = 65535;

enum RowAttribute : int {
    OtherName = -1,    // names no field
    RowStateName = -2, // the row's state
};

// Keeps the decoded value of an attribute (of one given twice, the last).
void keep(std::optional<std::string>& slot, const char* s, const char* e) {
    slot.emplace();
    PacketScanner::decodeInto(*slot, s, e);
}

// Where a row value goes and how it is read.
struct Slot {
    FieldKind kind;
    std::size_t width; // characters, String only
    std::string name;  // UTF-8, as the rows spell it
    QString displayName;
};

class Reader : private PacketScanner {
public:
    Reader(std::string_view text, std::size_t fileSize)
        : PacketScanner(text.data(), text.data() + text.size()), m_budget(std::size_t(256) << 20) {
        const std::size_t room = (std::numeric_limits<std::size_t>::max() - m_budget) / 32;
        m_budget += std::min(fileSize, room) * 32;
    }

    DataTable::Content run();

private:
    void readFields();
    void addField(std::string_view element);
    void readMetadataRest();
    void readParams();
    void readRows();
    void scanRows();
    void readRow();
    void keepRow(RowData&& row, std::uint32_t state);
    int fieldOf(std::string_view name, int hint) const;
    void readValue(char quote, std::string& out);
    std::string_view readValue(char quote);
    void setText(int field, char quote);
    void setScalar(int field, std::string_view text);

    std::size_t m_budget;
    std::size_t m_used = 0;
    DataTable::Content m_content;
    std::vector<Slot> m_slots;
    std::unordered_map<std::string_view, int> m_byName;
    QHash<QString, int> m_folded;
    std::string m_scratch;
    std::optional<RowBuilder> m_builder;
};

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
    for (std::size_t i = 0; i < m_slots.size(); ++i)
        m_byName.emplace(m_slots[i].name, int(i));
    m_builder.emplace(int(m_slots.size()));
    if (!skipAttributes("ROWDATA"))
        scanRows();
}

// Reads the rows and whatever else ROWDATA holds, up to its end tag.
void Reader::scanRows() {
    std::string_view name;
    while (true) {
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

void Reader::readRow() {
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
        const std::string_view name = readName();
        const char quote = valueStart("ROW", name);
        const int field = fieldOf(name, hint);
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

namespace ReferencePacketReader {

DataTable::Content Read(const QByteArray& bytes, const QString& tableName) {
    if (bytes.isEmpty()) {
        const QString message = QStringLiteral("Missing data provider or data packet");
        throw CorvantisError(tableName.isEmpty() ? message
                                                 : tableName + QStringLiteral(": ") + message);
    }
    try {
        using PacketEncoding::Reading;
        const std::size_t size = std::size_t(bytes.size());
        std::string converted;
        const Reading reading =
            PacketEncoding::classify(std::string_view(bytes.constData(), size), converted);
        std::string_view text = reading.text;
        if (reading.fallback != Reading::Fallback::None &&
            !PacketEncoding::isWellFormedUtf8(text)) {
            converted = PacketEncoding::fallbackText(reading);
            text = converted;
        }
        return Reader(text, size).run();
    } catch (const std::bad_alloc&) {
        throw CorvantisError(QStringLiteral("Not enough memory to load the list."));
    }
}

QString Difference(const QByteArray& bytes) {
    const QString name = QStringLiteral("cdsTasks");
    DataTable table;
    table.setObjectName(name);
    const QString error = errorOf([&] { DataPacket::Read(table, bytes); });
    DataTable::Content content;
    const QString expected = errorOf([&] { content = Read(bytes, name); });
    if (error != expected)
        return QStringLiteral("error \"%1\", expected \"%2\"").arg(error, expected);
    if (!error.isEmpty())
        return QString();
    if (table.fields().size() != content.fields.size())
        return QStringLiteral("%1 fields, expected %2")
            .arg(table.fields().size())
            .arg(content.fields.size());
    for (std::size_t f = 0; f < content.fields.size(); ++f) {
        const FieldDef& x = table.fields()[f];
        const FieldDef& y = content.fields[f];
        if (x.name != y.name || x.kind != y.kind || x.width != y.width || x.flags != y.flags)
            return QStringLiteral("field %1 differs").arg(f);
    }
    if (table.changeLog() != content.changeLog)
        return QStringLiteral("the change log differs");
    if (table.versionCount() != content.versions.size())
        return QStringLiteral("%1 versions, expected %2")
            .arg(table.versionCount())
            .arg(content.versions.size());
    for (std::size_t v = 0; v < content.versions.size(); ++v) {
        if (table.versionState(v) != content.states[v])
            return QStringLiteral("the state of version %1 differs").arg(v);
        if (table.versionSize(v) != content.versions[v].byteSize())
            return QStringLiteral("the size of version %1 differs").arg(v);
    }
    DataTable reference;
    reference.setObjectName(name);
    reference.adopt(std::move(content));
    if (table.autoIncValue() != reference.autoIncValue())
        return QStringLiteral("counter %1, expected %2")
            .arg(table.autoIncValue())
            .arg(reference.autoIncValue());
    // Written before any version is laid out (the writer reads packed ones in place), then each
    // version read through the table.
    if (DataPacket::Write(table) != DataPacket::Write(reference))
        return QStringLiteral("the written packet differs");
    for (std::size_t v = 0; v < reference.versionCount(); ++v)
        if (!table.versionData(v).sameAs(reference.versionData(v)))
            return QStringLiteral("version %1 differs").arg(v);
    return QString();
}

} // namespace ReferencePacketReader
