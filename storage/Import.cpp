#include "storage/Import.h"

#include "base/CorvantisError.h"
#include "calendar/CalendarFile.h"
#include "model/DataTable.h"
#include "model/FieldValues.h"
#include "model/OutlineCommands.h"
#include "model/TaskRecord.h"
#include "storage/DataPacket.h"
#include "storage/InputFile.h"
#include "storage/PacketEncoding.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <vector>

namespace {

// Whether text goes through QString and back unchanged: well-formed UTF-8 without a leading
// byte-order mark (which QString drops).
bool roundTrips(std::string_view bytes) {
    return bytes.substr(0, 3) != "\xEF\xBB\xBF" && PacketEncoding::isWellFormedUtf8(bytes);
}

// How one field of the imported list reaches the target's field of the same name: through its
// text form, as a user's typing would (the table's text conversions), but without the text
// wherever the outcome is plainly the same bytes, which is nearly always.
class FieldCopy {
public:
    // What a day becomes in a Date field, by its Julian day number: the same for every field.
    using Days = std::unordered_map<std::int32_t, std::optional<FieldValues::Stored>>;

    FieldCopy(const FieldDef& from, int fromField, const FieldDef& to, int toField, Days& days)
        : m_from(from), m_to(to), m_fromField(fromField), m_toField(toField), m_days(days) {
        // An empty field reads as the empty text: it empties a date or number the defaults
        // wrote and stores the empty text in a text field.
        m_empty = FieldValues::fromText(to, QString());
        if (from.isText() && to.isText())
            m_how = How::Text;
        else if (from.isIntegral() && to.isIntegral())
            m_how = How::Integer;
        else if (from.kind == FieldKind::Date && to.kind == FieldKind::Date)
            m_how = How::Day;
        else if (from.kind == FieldKind::Boolean && to.kind == FieldKind::Boolean)
            m_how = How::Same;
    }

    void apply(const RowData& row, RowBuilder& out) {
        if (row.isNull(m_fromField)) {
            put(out, m_empty);
            return;
        }
        const std::string_view bytes = row.raw(m_fromField);
        switch (m_how) {
        case How::Same:
            out.setBytes(m_toField, bytes);
            return;
        case How::Integer:
            // A number the target's kind cannot hold is refused, and the field is skipped.
            if (FieldValues::inRange(m_to.kind, row.int32(m_fromField)))
                out.setBytes(m_toField, bytes);
            return;
        case How::Text:
            if (roundTrips(bytes)) {
                out.setBytes(m_toField, m_to.kind == FieldKind::String ? cut(bytes) : bytes);
                return;
            }
            break;
        case How::Day: {
            // The day goes through the short date format and back; the same few days recur.
            const std::int32_t day = row.int32(m_fromField);
            auto it = m_days.find(day);
            if (it == m_days.end())
                it = m_days.emplace(day, viaText(row)).first;
            put(out, it->second);
            return;
        }
        case How::ViaText:
            break;
        }
        put(out, viaText(row));
    }

private:
    enum class How { ViaText, Same, Integer, Text, Day };

    // What the table makes of the field's text; nothing when it refuses it.
    std::optional<FieldValues::Stored> viaText(const RowData& row) const {
        try {
            return FieldValues::fromText(m_to, FieldValues::text(m_from, row, m_fromField));
        } catch (const CorvantisError&) {
            return std::nullopt;
        }
    }

    void put(RowBuilder& out, const std::optional<FieldValues::Stored>& value) const {
        if (!value)
            return;
        if (value->isNull())
            out.setNull(m_toField);
        else
            out.setBytes(m_toField, value->bytes());
    }

    // Text as a String field keeps it: trailing blanks dropped, then cut to the width in
    // characters (code points: a UTF-16 surrogate pair counts as one).
    std::string_view cut(std::string_view bytes) const {
        while (!bytes.empty() && bytes.back() == ' ')
            bytes.remove_suffix(1);
        const int width = std::max(m_to.width, 0);
        int characters = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80 && characters++ == width)
                return bytes.substr(0, i);
        return bytes;
    }

    FieldDef m_from;
    FieldDef m_to;
    int m_fromField;
    int m_toField;
    How m_how = How::ViaText;
    std::optional<FieldValues::Stored> m_empty;
    Days& m_days;
};

// The outline of imported tasks: each gets a new ID from the target's counter, one after
// another in the order they are added (the first one's when it is added), so a ParentID naming
// an imported task names that task's new ID; one naming a task not imported (missing or
// deleted in the file) is dropped, and the task goes to the top level.
class ParentRenumbering {
public:
    // A parent among the list's own tasks: Fixed plus its ID.
    static constexpr std::int64_t Fixed = std::int64_t(1) << 40;
    // `parentOf` gives each added row's parent as its index among the added rows (-1: none), or
    // Fixed plus the ID of one of the list's tasks.
    ParentRenumbering(DataTable& target, std::vector<std::int64_t> parentOf)
        : m_target(target), m_parentOf(std::move(parentOf)),
          // Without a counter the tasks keep the IDs they come with, and so do their parents.
          m_field(target.autoIncField() < 0 ? -1 : target.fieldIndex(TaskRecord::ParentID)) {}
    ParentRenumbering(const DataTable& source, DataTable& target)
        : ParentRenumbering(target, parentsIn(source)) {}

    void apply(int index, RowBuilder& out) const {
        if (m_field < 0 || std::size_t(index) >= m_parentOf.size())
            return;
        if (index == 0)
            m_firstId = m_target.autoIncValue();
        const std::int64_t parent = m_parentOf[std::size_t(index)];
        if (parent < 0)
            out.setNull(m_field);
        else if (parent >= Fixed)
            out.setInt32(m_field, std::int32_t(parent - Fixed));
        else
            out.setInt32(m_field, std::int32_t(m_firstId + parent));
    }

private:
    static std::vector<std::int64_t> parentsIn(const DataTable& source) {
        const int id = source.autoIncField();
        const int parent = source.fieldIndex(TaskRecord::ParentID);
        if (id < 0 || parent < 0 || !source.fields()[std::size_t(parent)].isIntegral())
            return {};
        std::unordered_map<std::int32_t, int> indexOf;
        const int count = source.visibleRowCount();
        for (int i = 0; i < count; ++i)
            if (!source.rowDataAt(i).isNull(id))
                indexOf.emplace(source.rowDataAt(i).int32(id), i);
        std::vector<std::int64_t> parents(std::size_t(count), -1);
        for (int i = 0; i < count; ++i) {
            const RowData& row = source.rowDataAt(i);
            if (row.isNull(parent) || row.int32(parent) == 0)
                continue;
            const auto it = indexOf.find(row.int32(parent));
            if (it != indexOf.end() && it->second != i)
                parents[std::size_t(i)] = it->second;
        }
        return parents;
    }

    DataTable& m_target;
    std::vector<std::int64_t> m_parentOf;
    int m_field;
    mutable std::int64_t m_firstId = 0;
};

// The parents of a calendar's to-dos among the tasks added (by index) or the list's own (a task
// with that UID: ParentRenumbering::Fixed + its ID). A parent neither holds stays a UID, kept in
// the subtask's Properties (it goes to the top level until that task comes); a ParentID the file
// gives otherwise (an earlier version's X-CORVANTIS-PARENT-ID) named another list's task.
std::vector<std::int64_t> calendarParents(const DataTable& target,
                                          std::vector<CalendarFile::Todo>& todos) {
    std::vector<std::int64_t> parents(todos.size(), -1);
    const int properties = target.fieldIndex(TaskRecord::Properties);
    const int id = target.autoIncField();
    QHash<QString, int> added;
    for (std::size_t i = 0; i < todos.size(); ++i)
        added.insert(todos[i].uid, static_cast<int>(i));
    QHash<QString, std::int32_t> own;
    if (properties >= 0 && id >= 0)
        for (const DataTable::RowId row : target.allRows()) {
            const RowData& values = target.rowData(row);
            const QString uid = VTodoMapping::UidOf(target.textOf(values, properties));
            if (!uid.isEmpty() && !values.isNull(id))
                own.insert(uid, values.int32(id));
        }
    for (std::size_t i = 0; i < todos.size(); ++i) {
        const QString& uid = todos[i].parentUid;
        if (uid.isEmpty() || uid == todos[i].uid) // a to-do under itself stands at the top
            continue;
        if (const auto it = added.constFind(uid); it != added.cend()) {
            parents[i] = *it;
        } else if (const auto mine = own.constFind(uid); mine != own.cend()) {
            parents[i] = ParentRenumbering::Fixed + *mine;
        } else if (properties >= 0) {
            for (VTodoMapping::FieldValue& value : todos[i].values)
                if (value.field == properties) {
                    const FieldDef& def = target.fields()[std::size_t(properties)];
                    const QString text =
                        value.value.isNull()
                            ? QString()
                            : QString::fromUtf8(value.value.bytes().data(),
                                                qsizetype(value.value.bytes().size()));
                    value.value =
                        FieldValues::fromText(def, OutlineCommands::WithKeptParentUid(text, uid));
                }
        }
    }
    return parents;
}

// Batch insert's lines as an outline: a line indented (by tabs, or spaces two to a level) deeper
// than a line above it goes under the nearest such line, without its indent. Any other line is
// used whole; a line of blanks alone stands apart from the outline.
struct OutlinedLines {
    QStringList texts;
    std::vector<std::int64_t> parentOf; // index of the line each goes under; -1: the top level

    explicit OutlinedLines(const QStringList& lines) {
        std::vector<std::pair<int, int>> open; // level, line, of the lines that can take more
        for (const QString& line : lines) {
            const int index = static_cast<int>(texts.size());
            qsizetype blanks = 0;
            int tabs = 0;
            int spaces = 0;
            while (blanks < line.size() && (line[blanks] == u'\t' || line[blanks] == u' '))
                (line[blanks++] == u'\t' ? tabs : spaces)++;
            if (blanks == line.size()) {
                texts << line;
                parentOf.push_back(-1);
                continue;
            }
            const int level = tabs + spaces / 2;
            while (!open.empty() && open.back().first >= level)
                open.pop_back();
            const int parent = open.empty() ? -1 : open.back().second;
            texts << (parent < 0 ? line : line.mid(blanks));
            parentOf.push_back(parent);
            open.emplace_back(level, index);
        }
    }
};

// The to-dos of an iCalendar file, each one task. Read whole before the target is touched, so a
// file that cannot be read changes nothing.
bool importCalendar(DataTable& target, const QString& fileName, const QByteArray& bytes,
                    const DataTable::Progress& progress) {
    // Reading the file is the first half of the progress, adding its tasks the second.
    constexpr int Half = 1000;
    const auto reading = [&](qint64 done, qint64 total) {
        return !progress || progress(int(Half * done / std::max<qint64>(total, 1)), 2 * Half);
    };
    std::optional<std::vector<CalendarFile::Todo>> read;
    try {
        read = CalendarFile::Read(bytes, target.fields(), CalendarFile::TaskUids(target), reading);
    } catch (const CorvantisError& error) {
        throw CorvantisError(QStringLiteral("Cannot import \"%1\". %2")
                                 .arg(InputFile::fullName(fileName), error.message()));
    }
    if (!read)
        return false;
    std::vector<CalendarFile::Todo>& todos = *read;
    const ParentRenumbering parents(target, calendarParents(target, todos));
    DataTable::Progress adding;
    if (progress)
        adding = [&](int done, int total) {
            return progress(Half + int(qint64(Half) * done / std::max(total, 1)), 2 * Half);
        };
    std::vector<bool> writable(target.fields().size());
    for (std::size_t field = 0; field < writable.size(); ++field)
        writable[field] = int(field) != target.autoIncField() && !target.fields()[field].readOnly();
    return target.appendRows(
        static_cast<int>(todos.size()),
        [&](int index) {
            target.writeFields([&](RowBuilder& out) {
                for (const VTodoMapping::FieldValue& value : todos[std::size_t(index)].values) {
                    if (!writable[std::size_t(value.field)])
                        continue;
                    if (value.value.isNull())
                        out.setNull(value.field);
                    else
                        out.setBytes(value.field, value.value.bytes());
                }
                parents.apply(index, out);
            });
        },
        adding);
}

} // namespace

namespace Import {

bool ImportTasks(DataTable& target, const QString& fileName, const DataTable::Progress& progress) {
    // An iCalendar file is told by its first line, whatever its name.
    std::optional<QByteArray> calendar;
    {
        const InputFile file(fileName, CalendarFile::MaxFileSize);
        if (CalendarFile::IsCalendar(file.head(1024)))
            calendar = file.readAll();
    }
    if (calendar)
        return importCalendar(target, fileName, *calendar, progress);

    // The file's own table: unnamed, never shown or saved, gone when the import ends. Loading it
    // before the target is touched means an unreadable file changes nothing.
    DataTable source;
    DataPacket::LoadFromFile(source, fileName);

    // Fields the target lacks are skipped, and so are its read-only fields (such as the ID of
    // a loaded list) and its ID, which every stored row takes from the counter anyway.
    std::vector<FieldCopy> copies;
    FieldCopy::Days days;
    const FieldList& fields = source.fields();
    for (std::size_t field = 0; field < fields.size(); ++field) {
        const int to = target.fieldIndex(fields[field].name);
        if (to < 0 || to == target.autoIncField())
            continue;
        const FieldDef& def = target.fields()[static_cast<std::size_t>(to)];
        if (!def.readOnly())
            copies.emplace_back(fields[field], static_cast<int>(field), def, to, days);
    }
    // A freshly read table shows its live rows in the natural order: the order of their current
    // versions in the file.
    const ParentRenumbering parents(source, target);
    return target.appendRows(
        source.visibleRowCount(),
        [&](int position) {
            const RowData& row = source.rowDataAt(position);
            target.writeFields([&](RowBuilder& out) {
                for (FieldCopy& copy : copies)
                    copy.apply(row, out);
                parents.apply(position, out);
            });
        },
        progress);
}

QStringList TextLines(const QString& text) {
    if (text.isEmpty())
        return {};
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r|\u2029"));
    QStringList lines = text.split(lineBreak);
    if (lines.size() > 1 && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

bool BatchInsert(DataTable& target, const QString& text, const DataTable::Progress& progress) {
    QStringList lines = TextLines(text);
    lines.removeAll(QString());
    if (lines.isEmpty())
        return true;
    // Checked before the first Append, so a list without the field gets no task without text.
    target.fieldIndexOrThrow(TaskRecord::Task);
    // A list without ParentID takes every line whole.
    const bool outline = target.fieldIndex(TaskRecord::ParentID) >= 0;
    const OutlinedLines outlined(outline ? lines : QStringList());
    const ParentRenumbering parents(target, outlined.parentOf);
    return target.appendRows(
        static_cast<int>(lines.size()),
        [&](int index) {
            target.setString(TaskRecord::Task,
                             outline ? outlined.texts.at(index) : lines.at(index));
            if (outline)
                target.writeFields([&](RowBuilder& out) { parents.apply(index, out); });
        },
        progress);
}

} // namespace Import
