#include "calendar/CalendarFile.h"

#include "base/CorvantisError.h"
#include "calendar/ContentLines.h"
#include "calendar/RecurrenceMapping.h"
#include "calendar/TodoParents.h"
#include "model/DataTable.h"
#include "model/FieldValues.h"
#include "model/OutlineCommands.h"
#include "model/TaskRecord.h"

#include <QHash>

#include <libical/ical.h>

#include <memory>

namespace {

using namespace ContentLines;

struct FreeComponent {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, FreeComponent>;

// libical builds and frees components by recursion, so a text that nests them deeply would
// overflow the stack: the depth is checked before a text reaches it. No calendar nests more than
// a few (a calendar, a to-do, an alarm).
constexpr int MaxDepth = 32;
// libical takes some ten times a text's size in memory; a large calendar is read one to-do at a
// time, and a single to-do larger than this is refused.
constexpr qsizetype MaxTodoSize = qsizetype(32) << 20;

CorvantisError notCalendar() {
    return CorvantisError(QStringLiteral("It is not iCalendar text."));
}

CorvantisError unreadableTodo(int line) {
    return CorvantisError(QStringLiteral("The to-do on line %1 cannot be read.").arg(line));
}

// A logical line (a line and the folded lines that continue it) that begins or ends a component.
struct Boundary {
    bool begin;
    QByteArray name; // upper case
    qsizetype start; // of the logical line
    qsizetype end;   // after its line break
    int line;        // of its first line, from 1
};

QByteArray withoutCarriageReturns(QByteArray fragment) {
    fragment.replace('\r', QByteArray());
    return fragment;
}

// Calls f for every BEGIN and END line of the text, as libical's parser tells them: the name
// before the first ':' or ';' (case ignored), the component after the ':'.
template <class F> void forEachBoundary(const QByteArray& bytes, F&& f) {
    const qsizetype size = bytes.size();
    const char* data = bytes.constData();
    auto lineEnd = [&](qsizetype from) {
        const qsizetype newline = bytes.indexOf('\n', from);
        return newline < 0 ? size : newline;
    };
    qsizetype pos = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    int line = 0;
    while (pos < size) {
        const qsizetype start = pos;
        const int first = ++line;
        qsizetype end = lineEnd(pos);
        const char c = char(data[pos] | 0x20);
        const bool candidate = c == 'b' || c == 'e';
        QByteArray head;
        if (candidate)
            head = withoutCarriageReturns(bytes.mid(pos, std::min<qsizetype>(end - pos, 80)));
        pos = std::min(end + 1, size);
        while (pos < size && (data[pos] == ' ' || data[pos] == '\t')) {
            ++line;
            end = lineEnd(pos);
            if (candidate && head.size() < 80)
                head += withoutCarriageReturns(
                    bytes.mid(pos + 1, std::min<qsizetype>(end - pos - 1, 80)));
            pos = std::min(end + 1, size);
        }
        if (!candidate)
            continue;
        qsizetype nameEnd = 0;
        while (nameEnd < head.size() && head[nameEnd] != ':' && head[nameEnd] != ';')
            ++nameEnd;
        if (nameEnd == head.size())
            continue; // no name: libical keeps nothing of the line
        const QByteArray name = head.left(nameEnd).toUpper();
        if (name != "BEGIN" && name != "END")
            continue;
        const qsizetype colon = head.indexOf(':');
        const QByteArray component =
            colon < 0 ? QByteArray() : head.mid(colon + 1).trimmed().toUpper();
        f(Boundary{name == "BEGIN", component, start, pos, first});
    }
}

// libical's parser, with its errors reported as values rather than ending the program (a build
// may make them fatal by default), and its error number cleared again for whoever asks next.
icalcomponent* parsed(const QByteArray& text) {
    static const bool nonFatal = (icalerror_set_errors_are_fatal(0), true);
    Q_UNUSED(nonFatal);
    icalcomponent* component = icalparser_parse_string(text.constData());
    icalerror_clear_errno();
    return component;
}

void requireText(const QByteArray& bytes) {
    if (!CalendarFile::IsCalendar(bytes) || bytes.contains('\0'))
        throw notCalendar();
}

void requireShallow(const QByteArray& bytes) {
    int depth = 0;
    forEachBoundary(bytes, [&](const Boundary& boundary) {
        if (!boundary.begin) {
            depth = std::max(depth - 1, 0);
        } else if (++depth > MaxDepth) {
            throw CorvantisError(
                QStringLiteral("Its components are nested more than %1 deep.").arg(MaxDepth));
        }
    });
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The blanks and tabs at the ends of the text values of the to-do at span, as its text has them,
// by property name: its own lines only, not those of its alarms, and only of a name it has once.
struct Margins {
    QString leading;
    QString trailing;
};
QHash<QByteArray, Margins> marginsOf(const QByteArray& bytes, const Span& span) {
    QHash<QByteArray, Margins> margins;
    QSet<QByteArray> seen;
    int depth = 0;
    forEachLine(bytes, span.begin, span.end, [&](const ContentLine& line) {
        if (line.name == "BEGIN") {
            ++depth;
            return;
        }
        if (line.name == "END") {
            --depth;
            return;
        }
        if (depth != 1)
            return;
        if (seen.contains(line.name)) {
            margins.remove(line.name);
            return;
        }
        seen.insert(line.name);
        const QByteArray value = valueOf(unfolded(bytes, line));
        qsizetype lead = 0;
        while (lead < value.size() && isBlank(value[lead]))
            ++lead;
        qsizetype trail = value.size();
        while (trail > lead && isBlank(value[trail - 1]))
            --trail;
        if (lead > 0 || trail < value.size())
            margins.insert(line.name, {QString::fromLatin1(value.left(lead)),
                                       QString::fromLatin1(value.mid(trail))});
    });
    return margins;
}

// libical's reader drops the blanks and tabs at the ends of a value, which other clients (and
// this program) send as part of a text: they are put back into the to-do's text values as its
// text has them, so the to-do in memory holds what the server holds.
void restoreMargins(icalcomponent* vtodo, const QByteArray& bytes, const Span& span) {
    const QHash<QByteArray, Margins> margins = marginsOf(bytes, span);
    for (auto it = margins.cbegin(); it != margins.cend(); ++it) {
        const QByteArray& name = it.key();
        const bool x = name.startsWith("X-");
        const icalproperty_kind kind =
            x ? ICAL_X_PROPERTY : icalproperty_string_to_kind(name.constData());
        if (kind == ICAL_NO_PROPERTY || kind == ICAL_CATEGORIES_PROPERTY)
            continue;
        bool found = false;
        for (icalproperty* p = icalcomponent_get_first_property(vtodo, kind); p;
             p = icalcomponent_get_next_property(vtodo, kind)) {
            if (x && qstricmp(icalproperty_get_x_name(p), name.constData()) != 0)
                continue;
            found = true;
            icalvalue* value = icalproperty_get_value(p);
            const icalvalue_kind type = value ? icalvalue_isa(value) : ICAL_NO_VALUE;
            if (type != ICAL_TEXT_VALUE && type != ICAL_X_VALUE)
                break;
            QString text = QString::fromUtf8(type == ICAL_TEXT_VALUE ? icalvalue_get_text(value)
                                                                     : icalvalue_get_x(value));
            qsizetype from = 0;
            qsizetype to = text.size();
            while (from < to && (text[from] == u' ' || text[from] == u'\t'))
                ++from;
            while (to > from && (text[to - 1] == u' ' || text[to - 1] == u'\t'))
                --to;
            // A value of blanks alone: both margins are the whole of it.
            text =
                from == to ? it->leading : it->leading + text.mid(from, to - from) + it->trailing;
            const QByteArray utf8 = text.toUtf8();
            icalproperty_set_value(p, type == ICAL_TEXT_VALUE ? icalvalue_new_text(utf8.constData())
                                                              : icalvalue_new_x(utf8.constData()));
            break;
        }
        // A value of blanks alone, which libical's reader drops with its property.
        if (!found && it->trailing.isEmpty() && !it->leading.isEmpty()) {
            const QByteArray blanks = it->leading.toUtf8();
            icalproperty* property = x ? icalproperty_new_x(blanks.constData()) : nullptr;
            if (x) {
                icalproperty_set_x_name(property, name.constData());
            } else if (icalproperty_kind_to_value_kind(kind) == ICAL_TEXT_VALUE) {
                property = icalproperty_new(kind);
                icalproperty_set_value(property, icalvalue_new_text(blanks.constData()));
            }
            if (property)
                icalcomponent_add_property(vtodo, property);
        }
    }
}

// A category's text as iCalendar writes one value of a list: its commas, semicolons and
// backslashes escaped, its line breaks as "\\n".
QByteArray escapedText(const QByteArray& text) {
    QByteArray escaped;
    escaped.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' || c == ',' || c == ';')
            escaped += '\\';
        if (c == '\r' || c == '\n') {
            escaped += "\\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            continue;
        }
        escaped += c;
    }
    return escaped;
}

// libical writes the commas and semicolons of a category as they are, which would split one
// category into several. While a component is written, each such category is a STRING value
// holding the escaped text, which libical writes verbatim, under a VALUE=TEXT parameter that
// keeps it from naming another value type; then the text value is put back.
class EscapedCategories {
public:
    explicit EscapedCategories(icalcomponent* component) { visit(component); }
    ~EscapedCategories() {
        for (const Swapped& swapped : m_swapped) {
            icalproperty_set_value(swapped.property, icalvalue_new_text(swapped.text.constData()));
            if (swapped.addedParameter)
                icalproperty_remove_parameter_by_kind(swapped.property, ICAL_VALUE_PARAMETER);
        }
    }
    EscapedCategories(const EscapedCategories&) = delete;
    EscapedCategories& operator=(const EscapedCategories&) = delete;

private:
    struct Swapped {
        icalproperty* property;
        QByteArray text;
        bool addedParameter;
    };

    void visit(icalcomponent* component) {
        for (icalproperty* p =
                 icalcomponent_get_first_property(component, ICAL_CATEGORIES_PROPERTY);
             p; p = icalcomponent_get_next_property(component, ICAL_CATEGORIES_PROPERTY)) {
            const icalvalue* value = icalproperty_get_value(p);
            if (!value || icalvalue_isa(value) != ICAL_TEXT_VALUE)
                continue;
            const QByteArray text(icalvalue_get_text(value));
            const QByteArray escaped = escapedText(text);
            if (escaped == text)
                continue;
            const bool hasParameter = icalproperty_get_first_parameter(p, ICAL_VALUE_PARAMETER);
            m_swapped.push_back({p, text, !hasParameter});
            icalproperty_set_value(p, icalvalue_new_string(escaped.constData()));
            if (!hasParameter)
                icalproperty_add_parameter(p, icalparameter_new_value(ICAL_VALUE_TEXT));
        }
        for (icalcomponent* child =
                 icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT);
             child; child = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT))
            visit(child);
    }

    std::vector<Swapped> m_swapped;
};

QByteArray serialized(icalcomponent* component) {
    const EscapedCategories escaped(component);
    char* text = icalcomponent_as_ical_string_r(component);
    const QByteArray bytes(text);
    icalmemory_free_buffer(text);
    return bytes;
}

ComponentPtr newCalendar() {
    ComponentPtr calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(calendar.get(),
                               icalproperty_new_prodid("-//Corvantis//Corvantis//EN"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    return calendar;
}

bool isOccurrence(icalcomponent* vtodo) {
    return icalcomponent_get_first_property(vtodo, ICAL_RECURRENCEID_PROPERTY) != nullptr;
}

QString uidOf(icalcomponent* vtodo) {
    const icalproperty* property = icalcomponent_get_first_property(vtodo, ICAL_UID_PROPERTY);
    const icalvalue* value = property ? icalproperty_get_value(property) : nullptr;
    if (!value || icalvalue_isa(value) != ICAL_TEXT_VALUE)
        return QString();
    return QString::fromUtf8(icalvalue_get_text(value)).trimmed();
}

QString newUid() {
    return VTodoMapping::DerivedUid(QString(), 0);
}

// The row without its parent: a to-do names its parent by UID (RELATED-TO), not by the list's
// own ID, nor by the parent's UID a task keeps in its Properties while the list lacks that task.
RowData withoutParent(const FieldList& fields, const RowData& row) {
    RowData out = row.clone();
    for (std::size_t f = 0; f < fields.size(); ++f) {
        const int field = int(f);
        if (fields[f].name.compare(TaskRecord::ParentID, Qt::CaseInsensitive) == 0 &&
            !out.isNull(field)) {
            out = out.withField(field, nullptr);
        } else if (fields[f].name.compare(TaskRecord::Properties, Qt::CaseInsensitive) == 0) {
            const QString text = FieldValues::text(fields[f], out, field);
            const QString without = OutlineCommands::WithKeptParentUid(text, QString());
            if (without != text) {
                const FieldValues::Stored stored = FieldValues::fromText(fields[f], without);
                const std::string_view bytes = stored.bytes();
                out = out.withField(field, stored.isNull() ? nullptr : &bytes);
            }
        }
    }
    return out;
}

} // namespace

namespace CalendarFile {

bool IsCalendar(const QByteArray& head) {
    qsizetype pos = head.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < head.size() &&
           (head[pos] == ' ' || head[pos] == '\t' || head[pos] == '\r' || head[pos] == '\n'))
        ++pos;
    static const QByteArray begin("BEGIN:VCALENDAR");
    if (head.size() - pos < begin.size() ||
        qstrnicmp(head.constData() + pos, begin.constData(), std::size_t(begin.size())) != 0)
        return false;
    pos += begin.size();
    return pos >= head.size() || head[pos] == '\r' || head[pos] == '\n' || head[pos] == ' ' ||
           head[pos] == '\t';
}

std::vector<Todo> Read(const QByteArray& bytes, const FieldList& fields, QSet<QString> takenUids) {
    return *Read(bytes, fields, std::move(takenUids), Progress());
}

std::optional<std::vector<Todo>> Read(const QByteArray& bytes, const FieldList& fields,
                                      QSet<QString> takenUids, const Progress& progress) {
    requireText(bytes);
    bool stopped = false;
    std::vector<Todo> todos;
    std::vector<QByteArray> open; // the components the scan is inside, outermost first
    qsizetype todoStart = -1;
    int todoLine = 0;
    auto readTodo = [&](qsizetype end) {
        if (end - todoStart > MaxTodoSize)
            throw CorvantisError(QStringLiteral("The to-do on line %1 is larger than %2 MB.")
                                     .arg(todoLine)
                                     .arg(MaxTodoSize >> 20));
        const QByteArray text = bytes.mid(todoStart, end - todoStart);
        const ComponentPtr vtodo(parsed(text));
        if (!vtodo || icalcomponent_isa(vtodo.get()) != ICAL_VTODO_COMPONENT)
            throw unreadableTodo(todoLine);
        if (isOccurrence(vtodo.get()))
            return;
        QString uid = uidOf(vtodo.get());
        if (uid.isEmpty() || takenUids.contains(uid))
            uid = newUid();
        takenUids.insert(uid);
        restoreMargins(vtodo.get(), text, Span{0, text.size()});
        todos.push_back({uid, VTodoMapping::Read(vtodo.get(), fields, uid),
                         TodoParents::ParentUid(vtodo.get())});
    };
    forEachBoundary(bytes, [&](const Boundary& boundary) {
        if (stopped)
            return;
        if (boundary.begin) {
            if (open.size() == 1 && open.front() == "VCALENDAR" && boundary.name == "VTODO") {
                todoStart = boundary.start;
                todoLine = boundary.line;
            }
            open.push_back(boundary.name);
            if (int(open.size()) > MaxDepth)
                throw CorvantisError(
                    QStringLiteral("Its components are nested more than %1 deep.").arg(MaxDepth));
        } else if (!open.empty()) {
            open.pop_back();
            if (todoStart >= 0 && open.size() == 1) {
                readTodo(boundary.end);
                todoStart = -1;
                if (progress && todos.size() % 64 == 0)
                    stopped = !progress(boundary.end, bytes.size());
            }
        }
    });
    if (stopped)
        return std::nullopt;
    if (todoStart >= 0)
        throw unreadableTodo(todoLine);
    return todos;
}

QSet<QString> TaskUids(const DataTable& table) {
    QSet<QString> uids;
    const int field = table.fieldIndex(TaskRecord::Properties);
    if (field < 0)
        return uids;
    for (const DataTable::RowId row : table.allRows()) {
        const QString uid = VTodoMapping::UidOf(table.textOf(table.rowData(row), field));
        if (!uid.isEmpty())
            uids.insert(uid);
    }
    return uids;
}

namespace {

// The text with every line ending in CR LF.
QByteArray withCrLf(QByteArray text) {
    text.replace("\r\n", "\n");
    text.replace('\r', "\n");
    text.replace("\n", "\r\n");
    return text;
}

// The to-dos and time zones of a calendar object, as its text has them, added to an export: the
// time zones once each (by TZID). False when the object holds no to-do.
bool addComponents(const QByteArray& object, QByteArray& todos, QByteArray& zones,
                   QSet<QByteArray>& zoneIds) {
    std::vector<QByteArray> open;
    qsizetype start = -1;
    QByteArray tzid;
    bool added = false;
    forEachLine(object, 0, object.size(), [&](const ContentLine& line) {
        if (line.name == "BEGIN") {
            open.push_back(valueOf(unfolded(object, line)).trimmed().toUpper());
            if (open.size() == 2 && open[0] == "VCALENDAR") {
                start = line.start;
                tzid.clear();
            }
        } else if (line.name == "END") {
            if (open.size() == 2 && open[0] == "VCALENDAR" && start >= 0) {
                const QByteArray text = withCrLf(object.mid(start, line.end - start));
                if (open[1] == "VTODO") {
                    todos += text.endsWith("\r\n") ? text : text + "\r\n";
                    added = true;
                } else if (open[1] == "VTIMEZONE" && !tzid.isEmpty() && !zoneIds.contains(tzid)) {
                    zoneIds.insert(tzid);
                    zones += text.endsWith("\r\n") ? text : text + "\r\n";
                }
                start = -1;
            }
            if (!open.empty())
                open.pop_back();
        } else if (open.size() == 2 && line.name == "TZID" && tzid.isEmpty()) {
            tzid = valueOf(unfolded(object, line)).trimmed();
        }
    });
    return added;
}

} // namespace

QByteArray Write(const DataTable& table, const QString& listIdentity,
                 const QHash<QString, QByteArray>& lastCopies) {
    const FieldList& fields = table.fields();
    const int idField = table.fieldIndex(TaskRecord::ID);
    const int propertiesField = table.fieldIndex(TaskRecord::Properties);

    const ComponentPtr calendar = newCalendar();
    const QByteArray frame = serialized(calendar.get());
    const QByteArray end("END:VCALENDAR\r\n");
    QByteArray out = frame.left(frame.size() - end.size());
    QByteArray zones;
    QSet<QByteArray> zoneIds;
    // Room for a to-do of a few hundred bytes a task, so a long list is not copied as it grows.
    QByteArray todos;
    todos.reserve(qsizetype(table.allRows().size()) * 640);

    // Every task's UID first, so a subtask can name its parent's.
    QSet<QString> sent;
    const std::vector<DataTable::RowId> rows = table.naturalOrder();
    std::vector<QString> uids;
    uids.reserve(rows.size());
    QHash<std::int32_t, QString> uidOfId;
    for (const DataTable::RowId id : rows) {
        const RowData& row = table.rowData(id);
        const QString properties =
            propertiesField < 0 ? QString() : table.textOf(row, propertiesField);
        QString uid = VTodoMapping::UidOf(properties);
        if (uid.isEmpty() || sent.contains(uid))
            uid = VTodoMapping::DerivedUid(listIdentity, idField < 0 ? 0 : row.int32(idField));
        if (sent.contains(uid))
            uid = newUid();
        sent.insert(uid);
        uids.push_back(uid);
        if (idField >= 0 && !row.isNull(idField))
            uidOfId.insert(row.int32(idField), uid);
    }
    const int parentField = table.fieldIndex(TaskRecord::ParentID);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const RowData& row = table.rowData(rows[i]);
        const QString properties =
            propertiesField < 0 ? QString() : table.textOf(row, propertiesField);
        const QString own = VTodoMapping::UidOf(properties);
        const QString& uid = uids[i];
        QString parentUid;
        if (parentField >= 0 && !row.isNull(parentField) && row.int32(parentField) != 0)
            parentUid = uidOfId.value(row.int32(parentField));
        if (parentUid.isEmpty())
            parentUid = OutlineCommands::KeptParentUid(properties);

        // A synced task is written as the sync writes it: over its last synced object.
        const auto copy = own == uid ? lastCopies.constFind(uid) : lastCopies.cend();
        if (copy != lastCopies.cend()) {
            QByteArray object;
            try {
                object = WithTask(*copy, fields, row, uid, parentUid);
                if (object.isEmpty())
                    object = *copy;
            } catch (const CorvantisError&) {
                object.clear(); // the copy cannot be read: a new to-do instead
            }
            if (!object.isEmpty() && addComponents(object, todos, zones, zoneIds))
                continue;
        }

        // A task naming a UID another task took goes out naming its own in its Properties too.
        RowData renamed;
        if (!own.isEmpty() && own != uid) {
            const FieldValues::Stored stored = FieldValues::fromText(
                fields[std::size_t(propertiesField)], VTodoMapping::WithUid(properties, uid));
            const std::string_view bytes = stored.bytes();
            renamed = row.withField(propertiesField, &bytes);
        }
        const ComponentPtr vtodo(icalcomponent_new(ICAL_VTODO_COMPONENT));
        VTodoMapping::Update(vtodo.get(), fields,
                             withoutParent(fields, renamed.isValid() ? renamed : row), uid);
        TodoParents::SetParentUid(vtodo.get(), parentUid);
        todos += serialized(vtodo.get());
    }
    return out + zones + todos + end;
}

namespace {

// One calendar object parsed, and its to-do without RECURRENCE-ID (nullptr when it has none).
ComponentPtr parsedObject(const QByteArray& object, icalcomponent*& vtodo) {
    requireText(object);
    if (object.size() > MaxTodoSize)
        throw CorvantisError(QStringLiteral("It is larger than %1 MB.").arg(MaxTodoSize >> 20));
    requireShallow(object);
    ComponentPtr calendar(parsed(object));
    if (!calendar || icalcomponent_isa(calendar.get()) != ICAL_VCALENDAR_COMPONENT)
        throw notCalendar();
    // libical's notes on what it could not read are not part of the object.
    icalcomponent_strip_errors(calendar.get());
    vtodo = nullptr;
    for (icalcomponent* c = icalcomponent_get_first_component(calendar.get(), ICAL_VTODO_COMPONENT);
         c && !vtodo; c = icalcomponent_get_next_component(calendar.get(), ICAL_VTODO_COMPONENT))
        if (!isOccurrence(c))
            vtodo = c;
    if (vtodo)
        if (const Span span = masterTodo(object))
            restoreMargins(vtodo, object, span);
    return calendar;
}

} // namespace

std::optional<Todo> ReadObject(const QByteArray& object, const FieldList& fields) {
    icalcomponent* vtodo = nullptr;
    const ComponentPtr calendar = parsedObject(object, vtodo);
    const QString uid = vtodo ? uidOf(vtodo) : QString();
    if (uid.isEmpty() ||
        RecurrenceMapping::IsCopiedOccurrence(vtodo, VTodoMapping::WrittenProperties(vtodo)))
        return std::nullopt;
    // A series another client carried on in an occurrence of its own is where that one stands.
    const ComponentPtr moved(RecurrenceMapping::MovedOn(calendar.get(), vtodo));
    return Todo{uid, VTodoMapping::Read(moved ? moved.get() : vtodo, fields, uid),
                TodoParents::ParentUid(vtodo)};
}

namespace {

// A content line folded at 75 octets, never inside a character, with its line break.
QByteArray folded(const QByteArray& line) {
    QByteArray out;
    qsizetype width = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const bool continuation = (uchar(line[i]) & 0xC0) == 0x80;
        if (width >= 75 && !continuation) {
            out += "\r\n ";
            width = 1;
        }
        out += line[i];
        ++width;
    }
    return out + "\r\n";
}

// The to-do's properties of one name as content lines: as libical writes them, but a list of
// categories on one line, as other clients write it.
QByteArray linesFor(icalcomponent* vtodo, const QByteArray& name) {
    QByteArray out;
    const icalproperty_kind kind =
        name.startsWith("X-") ? ICAL_X_PROPERTY : icalproperty_string_to_kind(name.constData());
    if (kind == ICAL_NO_PROPERTY)
        return out;
    QList<QByteArray> categories;
    for (icalproperty* p = icalcomponent_get_first_property(vtodo, kind); p;
         p = icalcomponent_get_next_property(vtodo, kind)) {
        if (kind == ICAL_X_PROPERTY && qstricmp(icalproperty_get_x_name(p), name.constData()) != 0)
            continue;
        const icalvalue* value = icalproperty_get_value(p);
        if (kind == ICAL_CATEGORIES_PROPERTY && value && icalvalue_isa(value) == ICAL_TEXT_VALUE) {
            categories << escapedText(QByteArray(icalvalue_get_text(value)));
            continue;
        }
        char* text = icalproperty_as_ical_string_r(p);
        out += text;
        icalmemory_free_buffer(text);
    }
    if (!categories.isEmpty())
        out += folded("CATEGORIES:" + categories.join(','));
    return out;
}

// The object's text with the to-do at span changed where the names say: their lines there taken
// out, the to-do's lines of those names put in where the first of them stood (or before the
// to-do's first component, or its end). Every other byte stays as the server holds it, so
// nothing another client wrote is rewritten by libical's reading and writing.
QByteArray spliced(const QByteArray& text, const Span& span, icalcomponent* vtodo,
                   const QList<QByteArray>& names) {
    const bool lf = text.contains('\n') && !text.contains("\r\n");
    QByteArray body;
    qsizetype insertAt = -1;
    int depth = 0;
    forEachLine(text, span.begin, span.end, [&](const ContentLine& line) {
        const bool begin = line.name == "BEGIN";
        const bool end = line.name == "END";
        if (insertAt < 0 && ((begin && depth == 1) || (end && depth == 1) ||
                             (depth == 1 && !begin && !end && names.contains(line.name))))
            insertAt = body.size();
        if (begin)
            ++depth;
        else if (end)
            --depth;
        else if (depth == 1 && names.contains(line.name))
            return;
        body += text.mid(line.start, line.end - line.start);
    });
    QByteArray added;
    for (const QByteArray& name : names)
        added += linesFor(vtodo, name);
    if (lf)
        added.replace("\r\n", "\n");
    if (insertAt < 0)
        insertAt = body.size();
    body.insert(insertAt, added);
    return text.left(span.begin) + body + text.mid(span.end);
}

// The task's values as a calendar object's text gives them (through the reader of objects, the
// blanks at the ends of its texts included), for comparing two writings of one task.
std::optional<VTodoMapping::TaskValues> valuesOf(const QByteArray& object,
                                                 const FieldList& fields) {
    try {
        const std::optional<Todo> todo = ReadObject(object, fields);
        if (todo)
            return todo->values;
    } catch (const CorvantisError&) {
    }
    return std::nullopt;
}

bool sameValues(const VTodoMapping::TaskValues& a, const VTodoMapping::TaskValues& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].field != b[i].field || a[i].value.isNull() != b[i].value.isNull() ||
            a[i].value.bytes() != b[i].value.bytes())
            return false;
    return true;
}

// Whether writing the task over the object would change nothing in it.
bool holdsTask(const QByteArray& object, const FieldList& fields, const RowData& task,
               const QString& fallbackUid, const QString& parentUid) {
    try {
        icalcomponent* vtodo = nullptr;
        const ComponentPtr calendar = parsedObject(object, vtodo);
        return vtodo && !VTodoMapping::Update(vtodo, fields, task, fallbackUid) &&
               !TodoParents::SetParentUid(vtodo, parentUid);
    } catch (const CorvantisError&) {
        return false;
    }
}

} // namespace

QByteArray WithTask(const QByteArray& lastCopy, const FieldList& fields, const RowData& row,
                    const QString& fallbackUid, const QString& parentUid) {
    const RowData task = withoutParent(fields, row);
    if (lastCopy.isEmpty()) {
        const ComponentPtr calendar = newCalendar();
        icalcomponent* vtodo = icalcomponent_new(ICAL_VTODO_COMPONENT);
        icalcomponent_add_component(calendar.get(), vtodo);
        VTodoMapping::Update(vtodo, fields, task, fallbackUid);
        TodoParents::SetParentUid(vtodo, parentUid);
        return serialized(calendar.get());
    }
    icalcomponent* vtodo = nullptr;
    const ComponentPtr calendar = parsedObject(lastCopy, vtodo);
    if (!vtodo)
        throw CorvantisError(QStringLiteral("It holds no to-do."));
    const Span span = masterTodo(lastCopy);
    QList<QByteArray> names;
    bool changed = VTodoMapping::Update(vtodo, fields, task, fallbackUid, &names);
    if (TodoParents::SetParentUid(vtodo, parentUid)) {
        changed = true;
        for (const char* name : {"RELATED-TO", "X-CORVANTIS-PARENT-ID"})
            if (!names.contains(QByteArray(name)))
                names << QByteArray(name);
    }
    if (!changed)
        return QByteArray();
    // A series moved on here leaves the occurrences other clients kept behind it to its history;
    // the object is then written whole, without them.
    const bool dropped = RecurrenceMapping::DropPassedOccurrences(calendar.get(), vtodo);
    QByteArray whole = serialized(calendar.get());
    if (span && !dropped) {
        // The text changed in place must read as libical's writing of the changed object does,
        // and hold the task so that the next write sends nothing; where it does not (a text
        // libical reads in its own way), that writing is sent.
        const QByteArray text = spliced(lastCopy, span, vtodo, names);
        const std::optional<VTodoMapping::TaskValues> expected = valuesOf(whole, fields);
        const std::optional<VTodoMapping::TaskValues> found = valuesOf(text, fields);
        if (expected && found && sameValues(*expected, *found) &&
            holdsTask(text, fields, task, fallbackUid, parentUid))
            return text;
    }
    // libical may read its own writing otherwise than the object it wrote it from (a parameter
    // value with a control character): written once more from there, the object settles.
    for (int pass = 0; pass < 2 && !holdsTask(whole, fields, task, fallbackUid, parentUid);
         ++pass) {
        icalcomponent* again = nullptr;
        const ComponentPtr reread = parsedObject(whole, again);
        if (!again)
            break;
        VTodoMapping::Update(again, fields, task, fallbackUid);
        TodoParents::SetParentUid(again, parentUid);
        whole = serialized(reread.get());
    }
    return whole;
}

} // namespace CalendarFile
