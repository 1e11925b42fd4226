#include "view/CellLook.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "model/DataTable.h"
#include "model/FieldValues.h"
#include "model/TaskRecord.h"
#include "widgets/ProgramColours.h"

#include <cmath>
#include <optional>

using namespace TaskRecord;

namespace {

// Field readers over one stored row that never throw: a field the list lacks, or a value of
// an unexpected kind, reads as empty.
struct RowReader {
    const DataTable& table;
    const RowData& row;

    int field(const QString& name) const { return row.isValid() ? table.fieldIndex(name) : -1; }

    QString text(const QString& name) const {
        const int f = field(name);
        return f < 0 ? QString() : table.textOf(row, f);
    }

    int integer(const QString& name) const {
        const int f = field(name);
        if (f < 0 || row.isNull(f))
            return 0;
        const FieldDef& def = table.fields()[static_cast<std::size_t>(f)];
        if (def.isIntegral())
            return row.int32(f);
        return table.textOf(row, f).trimmed().toInt();
    }

    QDate date(const QString& name) const {
        const int f = field(name);
        if (f < 0 || row.isNull(f))
            return QDate();
        switch (table.fields()[static_cast<std::size_t>(f)].kind) {
        case FieldKind::Date:
            return QDate::fromJulianDay(row.int32(f));
        case FieldKind::DateTime:
            return FieldValues::storedToDateTime(row.int64(f)).date();
        case FieldKind::String:
        case FieldKind::Memo:
            return uGeneral::ParseShortDate(table.textOf(row, f));
        default:
            return QDate();
        }
    }

    // No value when the field is missing or cannot be read as a flag.
    std::optional<bool> flag(const QString& name) const {
        const int f = field(name);
        if (f < 0)
            return std::nullopt;
        if (row.isNull(f))
            return false;
        const FieldDef& def = table.fields()[static_cast<std::size_t>(f)];
        if (def.kind == FieldKind::Boolean)
            return row.boolean(f);
        if (def.isIntegral())
            return row.int32(f) != 0;
        try {
            return FieldValues::parseBoolean(table.textOf(row, f), def.name).value_or(false);
        } catch (const CorvantisError&) {
            return std::nullopt;
        }
    }
};

} // namespace

CellLook DBGrid1DrawColumnCell(const DataTable& table, int position, const QString& field,
                               bool selected, const QDate& today, const QColor& window) {
    using namespace ProgramColours;
    const RowReader task{table, table.rowDataAt(position)};
    const QString status = task.text(Status);
    const QString priority = task.text(Priority);
    const int progress = task.integer(Progress);

    CellLook look;
    look.background = window;
    look.text = Qt::black;
    look.progress = progress;

    const bool context = position >= 0 && position < table.visibleRowCount() &&
                         table.outlineOf(table.rowIdAt(position)).context;
    if (context && !selected) {
        if ((position + 1) % 2 == 0)
            look.background = EvenRow;
        look.text = ContextText;
        look.progressBar = field == Progress;
        return look;
    }
    if (selected) { // 1
        look.background = SelectedCell;
        look.text = Qt::white;
    } else {
        if ((position + 1) % 2 == 0) // 2
            look.background = EvenRow;
        if (status == InProgress) // 3
            look.background = TaskInProgress;
        if (priority == High) { // 4
            look.style = StyleBold;
            look.background = HighPriority;
        }
        if (priority == Urgent) { // 5
            look.style = StyleBold;
            look.background = Alert;
        }
        if (progress >= 50) // 6
            look.background = HalfDone;
        const QDate due = task.date(DueDate);
        if (due.isValid() && today > due && status != Cancelled) { // 7
            look.background = Alert;
            look.style = StyleBold | StyleUnderline;
        }
        if (status == Complete) // 8
            look.background = TaskComplete;
    }
    if (field == Progress) // 9
        look.progressBar = true;
    if (field == Bookmarked && task.flag(Bookmarked).value_or(false)) // 10
        look.background = Alert;
    if (status == Cancelled) { // 11
        look.style = StyleStrikeOut;
        look.background = TaskOnHold;
    }
    if (status == Paused) // 12
        look.background = TaskOnHold;
    // White text cannot be read on a light background: the selected cell of a paused or
    // cancelled task, and a percentage written on the bar.
    const QColor under = look.progressBar || !look.background.isValid() ? window : look.background;
    if (look.text == Qt::white && (!under.isValid() || IsLight(under)))
        look.text = Qt::black;
    return look;
}

bool IsLight(const QColor& colour) {
    // Relative luminance of sRGB, compared with that of middle grey (128,128,128).
    const auto linear = [](int component) {
        const double c = component / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const auto luminance = [&](const QColor& c) {
        return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
    };
    return luminance(colour) > luminance(QColor(128, 128, 128));
}
