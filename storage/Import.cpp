#include "storage/Import.h"

#include "model/CorvantisError.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "storage/DataPacket.h"

#include <QRegularExpression>

#include <algorithm>

namespace Import {

void ImportTasks(DataTable& target, const QString& fileName) {
    // The file's own table: unnamed, never shown or saved, gone when the import ends. Loading it
    // before the target is touched means an unreadable file changes nothing.
    DataTable source;
    DataPacket::LoadFromFile(source, fileName);

    // A freshly read table shows its live rows in the natural order: the order of their current
    // versions in the file.
    const FieldList& fields = source.fields();
    const int rows = source.visibleRowCount();
    for (int position = 0; position < rows; ++position) {
        const RowData& row = source.rowDataAt(position);
        target.append();
        for (std::size_t field = 0; field < fields.size(); ++field) {
            try {
                // An empty field reads as the empty text: it empties a date or number the
                // defaults wrote and stores the empty text in a text field.
                target.setString(fields[field].name, source.textOf(row, static_cast<int>(field)));
            } catch (const CorvantisError&) {
                // A field the target lacks (or refuses, or the read-only ID of a loaded list)
                // is left as the defaults made it.
            }
        }
        target.post();
    }
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

void BatchInsert(DataTable& target, const QString& text) {
    const QStringList lines = TextLines(text);
    const bool anyTask = std::any_of(lines.cbegin(), lines.cend(),
                                     [](const QString& line) { return !line.isEmpty(); });
    if (!anyTask)
        return;
    // Checked before the first Append, so a list without the field gets no task without text.
    target.fieldIndexOrThrow(TaskRecord::Task);
    for (const QString& line : lines) {
        if (line.isEmpty())
            continue;
        target.append();
        target.setString(TaskRecord::Task, line);
        target.post();
    }
}

} // namespace Import
