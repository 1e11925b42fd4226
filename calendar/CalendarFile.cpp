#include "calendar/CalendarFile.h"

#include "base/CorvantisError.h"
#include "calendar/TodoParents.h"
#include "model/DataTable.h"
#include "model/FieldValues.h"
#include "model/OutlineCommands.h"
#include "model/TaskRecord.h"

#include <QHash>

#include <libical/ical.h>

#include <memory>

namespace {

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

    static QByteArray escapedText(const QByteArray& text) {
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

QByteArray Write(const DataTable& table, const QString& listIdentity) {
    const FieldList& fields = table.fields();
    const int idField = table.fieldIndex(TaskRecord::ID);
    const int propertiesField = table.fieldIndex(TaskRecord::Properties);

    const ComponentPtr calendar = newCalendar();
    const QByteArray frame = serialized(calendar.get());
    const QByteArray end("END:VCALENDAR\r\n");
    QByteArray out = frame.left(frame.size() - end.size());
    // Room for a to-do of a few hundred bytes a task, so a long list is not copied as it grows.
    out.reserve(out.size() + qsizetype(table.allRows().size()) * 640);

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
        out += serialized(vtodo.get());
    }
    return out + end;
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
    return calendar;
}

} // namespace

std::optional<Todo> ReadObject(const QByteArray& object, const FieldList& fields) {
    icalcomponent* vtodo = nullptr;
    const ComponentPtr calendar = parsedObject(object, vtodo);
    const QString uid = vtodo ? uidOf(vtodo) : QString();
    if (uid.isEmpty())
        return std::nullopt;
    return Todo{uid, VTodoMapping::Read(vtodo, fields, uid), TodoParents::ParentUid(vtodo)};
}

QByteArray WithTask(const QByteArray& lastCopy, const FieldList& fields, const RowData& row,
                    const QString& fallbackUid, const QString& parentUid) {
    ComponentPtr calendar;
    icalcomponent* vtodo = nullptr;
    if (lastCopy.isEmpty()) {
        calendar = newCalendar();
        vtodo = icalcomponent_new(ICAL_VTODO_COMPONENT);
        icalcomponent_add_component(calendar.get(), vtodo);
    } else {
        calendar = parsedObject(lastCopy, vtodo);
        if (!vtodo)
            throw CorvantisError(QStringLiteral("It holds no to-do."));
    }
    bool changed = VTodoMapping::Update(vtodo, fields, withoutParent(fields, row), fallbackUid);
    changed = TodoParents::SetParentUid(vtodo, parentUid) || changed;
    if (!changed && !lastCopy.isEmpty())
        return QByteArray();
    return serialized(calendar.get());
}

} // namespace CalendarFile
