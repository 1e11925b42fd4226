#include "document/DocumentSync.h"

#include "base/CorvantisError.h"
#include "calendar/CalendarFile.h"
#include "calendar/VTodoMapping.h"
#include "document/ListDocument.h"
#include "document/TaskUndo.h"
#include "model/FieldValues.h"
#include "model/OutlineCommands.h"
#include "model/RowData.h"
#include "model/TaskCommands.h"
#include "model/TaskHistory.h"
#include "model/TaskRecord.h"

#include <QHash>

#include <algorithm>
#include <deque>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace {

bool isDay(const FieldDef& def) {
    return def.kind == FieldKind::Date || def.kind == FieldKind::DateTime;
}

bool named(const FieldDef& def, const QString& name) {
    return def.name.compare(name, Qt::CaseInsensitive) == 0;
}

} // namespace

DocumentSync::DocumentSync(ListDocument& document) : m_document(document) {
    // A list read afresh (its file read again) has other rows and versions: nothing known of
    // the old ones holds.
    m_replaced = QObject::connect(document.table(), &DataTable::contentReplaced, [this] {
        m_known.clear();
        m_uids.reset();
    });
}

DocumentSync::~DocumentSync() {
    QObject::disconnect(m_replaced);
}

DataTable& DocumentSync::table() const {
    return *m_document.table();
}

const std::vector<int>& DocumentSync::synced() const {
    const FieldList& fields = table().fields();
    if (m_fieldCount == fields.size() && !m_synced.empty())
        return m_synced;
    m_fieldCount = fields.size();
    m_synced.clear();
    // The task's text first, then the others the mapping carries, in the list's order.
    const int text = table().fieldIndex(TaskRecord::Task);
    if (text >= 0)
        m_synced.push_back(text);
    for (const FieldDef& def : TaskRecord::Fields()) {
        if (def.name == TaskRecord::Task || def.name == TaskRecord::ID ||
            def.name == TaskRecord::LastActioned)
            continue;
        const int field = table().fieldIndex(def.name);
        if (field >= 0)
            m_synced.push_back(field);
    }
    return m_synced;
}

SyncedList::Values DocumentSync::valuesOf(const RowData& row) const {
    const FieldList& fields = table().fields();
    Values values;
    values.reserve(qsizetype(synced().size()));
    for (const int field : synced()) {
        const FieldDef& def = fields[std::size_t(field)];
        QString text;
        try {
            if (isDay(def)) {
                text = FieldValues::toDate(def, row, field).toString(Qt::ISODate);
            } else {
                text = FieldValues::text(def, row, field);
            }
        } catch (const CorvantisError&) {
            // A value that does not read as its kind is sent as nothing, as the mapping does.
        }
        if (def.isText()) {
            text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            text.replace(u'\r', u'\n');
        }
        // The parent goes by its UID; the one a task keeps while the list lacks its parent is
        // that value, not part of the Properties.
        if (named(def, TaskRecord::ParentID))
            text = links().parentUidOf(row);
        else if (named(def, TaskRecord::Properties))
            text = OutlineCommands::WithKeptParentUid(text, QString());
        if (VTodoMapping::IsPrivate(def.name, text))
            text.clear(); // not published: the server holds nothing for it
        // A to-do without STATUS reads as Not Started; one without PRIORITY as none, as here.
        if (text.isEmpty() && named(def, TaskRecord::Status))
            text = TaskRecord::NotStarted;
        values.append(text);
    }
    return values;
}

RowData DocumentSync::withValue(const RowData& row, int field, const QString& text) const {
    const FieldDef& def = table().fields()[std::size_t(field)];
    if (named(def, TaskRecord::ParentID))
        return links().withParentUid(row, text);
    // A memo keeps its lines as the list keeps them: CR LF between them. Properties keep the
    // parent's UID they hold (the parent's value sets it).
    QString lines = text;
    if (def.kind == FieldKind::Memo)
        lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
            .replace(u'\n', QStringLiteral("\r\n"));
    if (named(def, TaskRecord::Properties))
        lines = OutlineCommands::WithKeptParentUid(
            lines, OutlineCommands::KeptParentUid(table().textOf(row, field)));
    const FieldValues::Stored stored =
        isDay(def) ? FieldValues::fromDate(def, QDate::fromString(text, Qt::ISODate))
                   : FieldValues::fromText(def, lines);
    const std::string_view bytes = stored.bytes();
    return row.withField(field, stored.isNull() ? nullptr : &bytes);
}

RowData DocumentSync::rowOf(const Values& values, const QString& uid) const {
    RowData row = RowData::empty(int(table().fields().size()));
    const std::vector<int>& fields = synced();
    const int parent = table().fieldIndex(TaskRecord::ParentID);
    QString parentUid;
    for (std::size_t i = 0; i < fields.size() && i < std::size_t(values.size()); ++i) {
        if (fields[i] == parent)
            parentUid = values[qsizetype(i)];
        else
            row = withValue(row, fields[i], values[qsizetype(i)]);
    }
    const int properties = table().fieldIndex(TaskRecord::Properties);
    if (properties >= 0 && !uid.isEmpty())
        row =
            withValue(row, properties, VTodoMapping::WithUid(table().textOf(row, properties), uid));
    // After Properties, which may keep the parent's UID.
    if (parent >= 0)
        row = withValue(row, parent, parentUid);
    return row;
}

QString DocumentSync::uidOfRow(DataTable::RowId row) const {
    return uids().of(std::uint32_t(table().currentVersionOf(row)));
}

const ParentLinks& DocumentSync::links() const {
    const std::pair<std::size_t, std::size_t> now{table().versionCount(),
                                                  table().changeLog().size()};
    if (!m_links || m_linksMadeAt != now) {
        m_links = std::make_unique<ParentLinks>(
            table(), [this](DataTable::RowId row) { return uidOfRow(row); });
        m_linksMadeAt = now;
    }
    return *m_links;
}

void DocumentSync::keepParentsOfDeleted(
    std::vector<DataTable::RowChange>& made, std::vector<RowData>& rows,
    std::unordered_map<DataTable::RowId, std::size_t>& edited) const {
    const DataTable& list = table();
    const int id = list.autoIncField();
    const int parent = list.fieldIndex(TaskRecord::ParentID);
    if (id < 0 || parent < 0)
        return;
    QHash<std::int32_t, QString> gone; // ID -> UID
    std::unordered_set<DataTable::RowId> deleted;
    for (const DataTable::RowChange& change : made)
        if (change.kind == DataTable::RowChange::Delete) {
            deleted.insert(change.row);
            const RowData& values = list.rowData(change.row);
            if (!values.isNull(id))
                gone.insert(values.int32(id), uidOfRow(change.row));
        }
    if (gone.isEmpty())
        return;
    for (const DataTable::RowId row : list.allRows()) {
        if (deleted.count(row))
            continue;
        const auto store = edited.find(row);
        const RowData& values =
            store == edited.end() ? list.rowData(row) : *made[store->second].values;
        if (values.isNull(parent) || !gone.contains(values.int32(parent)))
            continue;
        RowData kept = links().keepingParentUid(values, gone.value(values.int32(parent)));
        if (store != edited.end()) {
            rows[std::size_t(made[store->second].values - rows.data())] = std::move(kept);
        } else {
            rows.push_back(std::move(kept));
            made.push_back({DataTable::RowChange::Store, row, 0, &rows.back(), false});
            edited.emplace(row, made.size() - 1);
        }
    }
}

QStringList DocumentSync::fieldNames() const {
    QStringList names;
    for (const int field : synced())
        names << table().fields()[std::size_t(field)].name;
    return names;
}

bool DocumentSync::isUnsaved() const {
    return m_document.isUnsaved();
}

std::vector<SyncedList::Task> DocumentSync::tasks() {
    DataTable& list = table();
    if (m_endEdit) {
        try {
            m_endEdit();
        } catch (const CorvantisError&) {
            // The editor stays open with what the task refuses; its row is read as stored.
        }
    }
    try {
        list.settle();
    } catch (const CorvantisError&) {
        // A pending row the table refuses to store stays pending; the stored rows are read.
    }
    const int id = list.fieldIndex(TaskRecord::ID);
    const int properties = list.fieldIndex(TaskRecord::Properties);
    std::unordered_map<DataTable::RowId, Known> known;
    known.reserve(m_known.size());
    std::vector<Task> out;
    const std::vector<DataTable::RowId> rows = list.naturalOrder();
    out.reserve(rows.size());
    for (const DataTable::RowId row : rows) {
        const std::int32_t version = list.currentVersionOf(row);
        const auto found = m_known.find(row);
        if (found != m_known.end() && found->second.version == version) {
            out.push_back(found->second.task);
        } else {
            // The stored version, never a row being edited.
            const RowData& data = list.versionData(std::size_t(version));
            Task task;
            task.key = row;
            task.id = id >= 0 ? data.int32(id) : 0;
            task.values = valuesOf(data);
            task.text = task.values.value(0);
            task.uid =
                properties >= 0 ? VTodoMapping::UidOf(list.textOf(data, properties)) : QString();
            out.push_back(std::move(task));
        }
        known.emplace(row, Known{version, out.back()});
    }
    m_known = std::move(known);
    nameEveryTask(out);
    return out;
}

// A deleted task's key is its last version, far from any row: a Restore is its only use.
constexpr SyncedList::Key GoneKeys = SyncedList::Key(1) << 40;

std::vector<SyncedList::Task> DocumentSync::gone() {
    const DataTable& list = table();
    const int id = list.fieldIndex(TaskRecord::ID);
    const std::vector<int>& fields = synced();
    const auto properties =
        std::find(fields.begin(), fields.end(), list.fieldIndex(TaskRecord::Properties));
    const std::vector<TaskHistory::Version> deletedTasks = TaskHistory::deletedTasks(list);
    // A deleted task whose last version names no UID (a merge brought it from a copy made before
    // a sync named it) keeps the one an earlier version named: the task the calendar holds.
    std::unordered_map<std::uint32_t, QString> namedBefore; // by the task's first version
    for (const TaskHistory::Version& deleted : deletedTasks)
        if (uids().named(deleted.version).isEmpty())
            namedBefore.emplace(uids().first(deleted.version), QString());
    if (!namedBefore.empty())
        for (std::uint32_t v = 0; v < list.versionCount(); ++v)
            if (const auto it = namedBefore.find(uids().first(v)); it != namedBefore.end())
                if (const QString uid = uids().named(v); !uid.isEmpty())
                    it->second = uid;
    std::vector<Task> out;
    for (const TaskHistory::Version& deleted : deletedTasks) {
        const RowData& data = list.versionData(deleted.version);
        Task task;
        task.key = GoneKeys + Key(deleted.version);
        task.id = id >= 0 ? data.int32(id) : 0;
        task.values = valuesOf(data);
        task.text = task.values.value(0);
        task.uid = uids().named(deleted.version);
        if (task.uid.isEmpty()) {
            const auto before = namedBefore.find(uids().first(deleted.version));
            task.uid = before != namedBefore.end() && !before->second.isEmpty()
                           ? before->second
                           : uids().derived(deleted.version);
            task.uidWritten = false;
            if (properties != fields.end()) {
                QString& text = task.values[qsizetype(properties - fields.begin())];
                text = VTodoMapping::WithUid(text, task.uid);
            }
        }
        out.push_back(std::move(task));
    }
    return out;
}

void DocumentSync::nameEveryTask(std::vector<Task>& tasks) const {
    // Of the tasks that name one UID, the one that began first keeps it: the others are copies.
    QHash<QString, std::size_t> keeper;
    bool derive = false;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const QString& uid = tasks[i].uid;
        if (uid.isEmpty()) {
            derive = true;
            continue;
        }
        const auto it = keeper.find(uid);
        if (it == keeper.end()) {
            keeper.insert(uid, i);
            continue;
        }
        derive = true;
        const auto firstOf = [&](const Task& task) {
            return uids().first(
                std::uint32_t(table().currentVersionOf(DataTable::RowId(task.key))));
        };
        if (firstOf(tasks[i]) < firstOf(tasks[it.value()]))
            it.value() = i;
    }
    if (!derive)
        return;
    const std::vector<int>& fields = synced();
    const int properties = table().fieldIndex(TaskRecord::Properties);
    const auto at = std::find(fields.begin(), fields.end(), properties);
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        Task& task = tasks[i];
        if (!task.uid.isEmpty() && keeper.value(task.uid) == i)
            continue;
        task.uid =
            uids().derived(std::uint32_t(table().currentVersionOf(DataTable::RowId(task.key))));
        task.uidWritten = false;
        if (at != fields.end()) {
            QString& text = task.values[qsizetype(at - fields.begin())];
            text = VTodoMapping::WithUid(text, task.uid);
        }
    }
}

const TaskUids& DocumentSync::uids() const {
    if (!m_uids || !m_uids->fits(table()))
        m_uids = std::make_unique<TaskUids>(table());
    return *m_uids;
}

bool DocumentSync::read(const QByteArray& object, QString& uid, Values& values) const {
    try {
        const std::optional<CalendarFile::Todo> todo =
            CalendarFile::ReadObject(object, table().fields());
        if (!todo)
            return false;
        RowBuilder row(int(table().fields().size()));
        for (const VTodoMapping::FieldValue& value : todo->values)
            if (!value.value.isNull())
                row.setBytes(value.field, value.value.bytes());
        uid = todo->uid;
        const RowData read = row.build();
        values = valuesOf(read);
        // The parent the to-do names; a ParentID of an earlier version's, else none (the
        // Properties' kept UID is this list's, not the object's word).
        const int parent = table().fieldIndex(TaskRecord::ParentID);
        const auto at = std::find(synced().begin(), synced().end(), parent);
        if (parent >= 0 && at != synced().end()) {
            QString& value = values[qsizetype(at - synced().begin())];
            if (!todo->parentUid.isEmpty())
                value = todo->parentUid;
            else if (read.isNull(parent) || read.int32(parent) == 0)
                value.clear();
        }
        return true;
    } catch (const CorvantisError&) {
        return false; // not iCalendar: the sync leaves it be
    }
}

QByteArray DocumentSync::write(const QByteArray& lastCopy, Key key, const QString& uid) const {
    const DataTable& list = table();
    const auto row = DataTable::RowId(key);
    const std::int32_t version = list.currentVersionOf(row);
    RowData gone;
    if (version < 0) {
        // Deleted since the sync read the list: sent as it was read; the next sync deletes it.
        const auto known = m_known.find(row);
        gone = rowOf(known == m_known.end() ? Values() : known->second.task.values, uid);
    }
    // The stored version, never a row being edited: what is sent is what the sync read.
    const RowData& data = version < 0 ? gone : list.versionData(std::size_t(version));
    const QString parentUid = links().parentUidOf(data);
    try {
        const QByteArray object =
            CalendarFile::WithTask(lastCopy, list.fields(), data, uid, parentUid);
        return object.isEmpty() ? lastCopy : object;
    } catch (const CorvantisError&) {
        // The server's copy cannot be read: a whole new object takes its place.
        return CalendarFile::WithTask(QByteArray(), list.fields(), data, uid, parentUid);
    }
}

std::vector<SyncedList::Key> DocumentSync::apply(const std::vector<Change>& changes) {
    if (m_endEdit)
        m_endEdit(); // a refused value stops the changes before any is made
    DataTable& list = table();
    list.settle();
    const int properties = list.fieldIndex(TaskRecord::Properties);
    const std::vector<int>& fields = synced();

    // Every change is worked out first; the rows they write live until the table has them.
    std::vector<RowData> rows;
    // Room for every row a change writes, and for each task whose parent it deletes: the changes
    // point into it.
    rows.reserve(changes.size() + list.allRows().size());
    std::vector<DataTable::RowChange> made;
    std::unordered_map<DataTable::RowId, std::size_t> edited; // row -> its Store in `made`
    for (const Change& change : changes) {
        const auto row = DataTable::RowId(change.key);
        if (change.kind == Change::Add) {
            rows.push_back(rowOf(change.values, change.uid));
            made.push_back({DataTable::RowChange::Add, -1, 0, &rows.back(), false});
            continue;
        }
        if (change.kind == Change::Delete) {
            made.push_back({DataTable::RowChange::Delete, row, 0, nullptr, false});
            continue;
        }
        if (change.kind == Change::Restore) {
            // Back under its own ID, as it was but for what the sync brings.
            const Key version = change.key - GoneKeys;
            if (version < 0 || std::size_t(version) >= list.versionCount())
                throw CorvantisError(QStringLiteral("The task the sync brings back is not there."));
            RowData values = list.versionData(std::size_t(version)).clone();
            for (std::size_t i = 0; i < fields.size() && i < std::size_t(change.values.size()); ++i)
                values = withValue(values, fields[i], change.values[qsizetype(i)]);
            if (properties >= 0)
                values =
                    withValue(values, properties,
                              VTodoMapping::WithUid(list.textOf(values, properties), change.uid));
            rows.push_back(std::move(values));
            made.push_back({DataTable::RowChange::Add, -1, 0, &rows.back(), true});
            continue;
        }
        if (list.currentVersionOf(row) < 0)
            throw CorvantisError(QStringLiteral("The task the sync changes is no longer there."));
        auto store = edited.find(row);
        if (store == edited.end()) {
            rows.push_back(list.rowData(row).clone());
            made.push_back({DataTable::RowChange::Store, row, 0, &rows.back(), false});
            store = edited.emplace(row, made.size() - 1).first;
        }
        RowData& values = rows[std::size_t(made[store->second].values - rows.data())];
        if (change.kind == Change::SetUid) {
            if (properties >= 0)
                values =
                    withValue(values, properties,
                              VTodoMapping::WithUid(list.textOf(values, properties), change.uid));
            continue;
        }
        // Only the fields the sync changes are written: the others keep their own form. The
        // parent goes last, after Properties, which may keep its UID.
        const Values now = valuesOf(values);
        const int parent = list.fieldIndex(TaskRecord::ParentID);
        std::optional<QString> parentUid;
        for (std::size_t i = 0; i < fields.size() && i < std::size_t(change.values.size()); ++i) {
            if (change.values[qsizetype(i)] == now.value(qsizetype(i)))
                continue;
            if (fields[i] == parent)
                parentUid = change.values[qsizetype(i)];
            else
                values = withValue(values, fields[i], change.values[qsizetype(i)]);
        }
        if (parentUid)
            values = withValue(values, parent, *parentUid);
    }
    keepParentsOfDeleted(made, rows, edited);
    if (made.empty())
        return {};
    // A series another client moved on leaves the occurrence it did in the task's history here,
    // as Complete here would.
    std::deque<RowData> done;
    for (std::size_t i = 0; i < made.size(); ++i) {
        if (made[i].kind != DataTable::RowChange::Store)
            continue;
        std::optional<RowData> occurrence =
            TaskCommands::DoneElsewhere(list, list.rowData(made[i].row), *made[i].values);
        if (!occurrence)
            continue;
        done.push_back(std::move(*occurrence));
        made.insert(made.begin() + std::ptrdiff_t(i),
                    {DataTable::RowChange::Store, made[i].row, 0, &done.back(), false});
        ++i;
    }

    const TaskUndo::Step step(*m_document.undo(), QStringLiteral("Sync"));
    std::vector<DataTable::RowId> added;
    try {
        added = list.applyChanges(made);
        // A task that came before its parent, or kept a parent the list did not have, goes
        // under it once it is here.
        std::vector<std::pair<DataTable::RowId, RowData>> relinked = links().relinked();
        std::vector<DataTable::RowChange> under;
        for (const auto& [row, values] : relinked)
            under.push_back({DataTable::RowChange::Store, row, 0, &values, false});
        list.applyChanges(under);
    } catch (...) {
        m_document.markUnsaved(); // the changes before the refused one stay made
        throw;
    }
    m_document.markUnsaved();
    return std::vector<Key>(added.begin(), added.end());
}
