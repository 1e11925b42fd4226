// Feeds arbitrary bytes to the iCalendar reader (a bound on nesting, libical one to-do at a time,
// then the to-do mapping), reads it as one server object, and writes a task over the object's
// to-do as a sync does. Reading refuses the text with a message or gives tasks with distinct UIDs
// (an object's task has one); an object written back reads back with the task's values, as the
// sync reads objects and, where the file reader read that to-do before, as that reader reads it;
// and it holds the task, so writing it again sends nothing.
#include "base/CorvantisError.h"
#include "calendar/CalendarFile.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"

#include <QSet>

#include <cstdint>
#include <cstdlib>

namespace {

using namespace TaskRecord;

// One task with a value in every mapped field, escapes and vocabulary words included.
const DataTable& FuzzTask() {
    static DataTable* table = [] {
        auto* t = new DataTable;
        TaskTable::CreateEmpty(*t);
        t->append();
        t->setString(TaskRecord::Task, QStringLiteral("Fuzz, task; \\ \u00e9"));
        t->setString(Status, Paused);
        t->setString(Priority, Urgent);
        t->setInteger(Progress, 55);
        t->setString(Difficulty, Hard);
        t->setDate(CreatedDate, QDate(2024, 2, 29));
        t->setDate(DueDate, QDate(2024, 3, 1));
        t->setBoolean(Bookmarked, true);
        t->setString(Category, QStringLiteral("a,b;c"));
        t->setString(Details, QStringLiteral("one\r\ntwo\\n"));
        t->setString(Properties, QStringLiteral("X-Corvantis-UID=fuzz-uid\nk=v"));
        t->setInteger(Points, 65535);
        t->post();
        return t;
    }();
    return *table;
}

bool Same(const VTodoMapping::TaskValues& a, const VTodoMapping::TaskValues& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].field != b[i].field || a[i].value.isNull() != b[i].value.isNull() ||
            a[i].value.bytes() != b[i].value.bytes())
            return false;
    return true;
}

const CalendarFile::Todo* Find(const std::vector<CalendarFile::Todo>& todos, const QString& uid) {
    for (const CalendarFile::Todo& todo : todos)
        if (todo.uid == uid)
            return &todo;
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const DataTable& table = FuzzTask();
    const FieldList& fields = table.fields();
    const RowData& row = table.rowDataAt(0);
    QSet<QString> uids; // of the to-dos the file reader reads
    try {
        for (const CalendarFile::Todo& todo : CalendarFile::Read(bytes, fields)) {
            if (todo.uid.isEmpty() || uids.contains(todo.uid))
                std::abort();
            uids.insert(todo.uid);
            for (std::size_t i = 0; i < todo.values.size(); ++i)
                if (todo.values[i].field < 0 || todo.values[i].field >= int(fields.size()) ||
                    (i > 0 && todo.values[i].field <= todo.values[i - 1].field))
                    std::abort();
        }
    } catch (const CorvantisError& e) {
        uids.clear();
        if (e.message().isEmpty())
            std::abort();
    }

    bool readable = false; // the file reader reads the to-do a sync writes over
    try {
        const std::optional<CalendarFile::Todo> object = CalendarFile::ReadObject(bytes, fields);
        if (object && object->uid.isEmpty())
            std::abort();
        readable = object && uids.contains(object->uid);
    } catch (const CorvantisError& e) {
        if (e.message().isEmpty())
            std::abort();
    }

    static const std::vector<CalendarFile::Todo> fresh =
        CalendarFile::Read(CalendarFile::WithTask({}, fields, row, {}, {}), fields);
    QByteArray written;
    try {
        written = CalendarFile::WithTask(bytes, fields, row, QStringLiteral("fallback"), {});
    } catch (const CorvantisError& e) {
        if (e.message().isEmpty())
            std::abort();
        return 0;
    }
    if (written.isEmpty())
        return 0;
    try {
        const std::optional<CalendarFile::Todo> object = CalendarFile::ReadObject(written, fields);
        if (!object || object->uid != fresh[0].uid || !Same(object->values, fresh[0].values))
            std::abort();
        if (readable) {
            const std::vector<CalendarFile::Todo> reread = CalendarFile::Read(written, fields);
            const CalendarFile::Todo* todo = Find(reread, fresh[0].uid);
            if (!todo || !Same(todo->values, fresh[0].values))
                std::abort();
        }
        if (!CalendarFile::WithTask(written, fields, row, QStringLiteral("fallback"), {}).isEmpty())
            std::abort();
    } catch (const CorvantisError&) {
        std::abort(); // what was written must read back
    }
    return 0;
}
