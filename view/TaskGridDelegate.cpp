#include "view/TaskGridDelegate.h"

#include "model/CorvantisError.h"
#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "shell/uGeneral.h"
#include "view/TaskGridModel.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>

using namespace TaskRecord;

namespace {

const QColor SelectedBackground(0, 0, 128);
const QColor EvenRowBackground(232, 232, 236);
const QColor InProgressBackground(172, 189, 208);
const QColor HighBackground(223, 115, 29);
const QColor Red(255, 0, 0);
const QColor HalfDoneBackground(128, 128, 0);
const QColor CompleteBackground(119, 171, 110);
const QColor PausedBackground(255, 240, 172);
const QColor BarPen(128, 128, 128);
const QColor BarFill(105, 161, 227);

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

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
            return DataTable::storedToDateTime(row.int64(f)).date();
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
            return ParseBooleanText(table.textOf(row, f), def.name).value_or(false);
        } catch (const CorvantisError&) {
            return std::nullopt;
        }
    }
};

// A rectangle drawn the grid's way: a one-pixel outline in the pen colour inside the
// rectangle, the inside in the brush colour.
void drawFramedRect(QPainter& painter, const QRect& rect, const QColor& pen, const QColor& brush) {
    if (rect.isEmpty())
        return;
    painter.fillRect(rect, pen);
    const QRect inner = rect.adjusted(1, 1, -1, -1);
    if (!inner.isEmpty())
        painter.fillRect(inner, brush);
}

bool isTypedCharacter(const QKeyEvent* key) {
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        return true;
    const QString text = key->text();
    return !text.isEmpty() && text.at(0) >= u' ' && text.at(0) != QChar(0x7f);
}

} // namespace

CellLook DBGrid1DrawColumnCell(const DataTable& table, int position, const QString& columnTitle,
                               bool selected, const QDate& today, const QColor& window) {
    const RowReader task{table, table.rowDataAt(position)};
    const QString status = task.text(Status);
    const QString priority = task.text(Priority);
    const int progress = task.integer(Progress);

    CellLook look;
    look.background = window;
    look.text = Qt::black;
    look.progress = progress;

    if (selected) { // 1
        look.background = SelectedBackground;
        look.text = Qt::white;
    } else {
        if ((position + 1) % 2 == 0) // 2
            look.background = EvenRowBackground;
        if (status == InProgress) // 3
            look.background = InProgressBackground;
        if (priority == High) { // 4
            look.style = StyleBold;
            look.background = HighBackground;
        }
        if (priority == Urgent) { // 5
            look.style = StyleBold;
            look.background = Red;
        }
        if (progress >= 50) // 6
            look.background = HalfDoneBackground;
        const QDate due = task.date(DueDate);
        if (due.isValid() && today > due && status != Cancelled) { // 7
            look.background = Red;
            look.style = StyleBold | StyleUnderline;
        }
        if (status == Complete) // 8
            look.background = CompleteBackground;
    }
    if (columnTitle == QStringLiteral("Progress")) // 9
        look.progressBar = true;
    if (columnTitle == QStringLiteral("Bookmarked") && task.flag(Bookmarked).value_or(false)) // 10
        look.background = Red;
    if (status == Cancelled) { // 11
        look.style = StyleStrikeOut;
        look.background = PausedBackground;
    }
    if (status == Paused) // 12
        look.background = PausedBackground;
    return look;
}

ProgressBarLayout LayOutProgressBar(const QRect& cell, int progress, const QFontMetrics& metrics) {
    const int left = cell.left();
    const int top = cell.top();
    const int width = cell.width();
    const double exact = double(progress) * width / 100.0;
    // A negative progress fills nothing; more than 100 fills the whole column.
    const int filled = exact > width ? width : (exact < 0 ? 0 : static_cast<int>(exact));

    ProgressBarLayout layout;
    layout.frame = QRect(QPoint(left + 1, top + 1), QPoint(left + width - 1, top + 14));
    if (filled > 1)
        layout.filled = QRect(QPoint(left + 1, top + 1), QPoint(left + filled - 1, top + 14));
    layout.text = QString::number(progress) + u'%';
    layout.textTopLeft =
        QPoint(left + width / 2 - metrics.horizontalAdvance(layout.text) / 2, top + 1);
    return layout;
}

QFont ProgressBarFont(const QFont& gridFont) {
    QFont font = gridFont;
    font.setPointSize(7);
    font.setBold(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

void PaintProgressBar(QPainter& painter, const QRect& cell, int progress, const QColor& textColour,
                      const QColor& window, const QFont& gridFont) {
    painter.save();
    painter.setFont(ProgressBarFont(gridFont));
    const QFontMetrics metrics = painter.fontMetrics();
    const ProgressBarLayout layout = LayOutProgressBar(cell, progress, metrics);
    drawFramedRect(painter, layout.frame, BarPen, window);
    drawFramedRect(painter, layout.filled, BarPen, BarFill);
    painter.setPen(textColour);
    painter.drawText(layout.textTopLeft + QPoint(0, metrics.ascent()), layout.text);
    painter.restore();
}

// --- the delegate -----------------------------------------------------------------------------

TaskGridDelegate::TaskGridDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

bool TaskGridDelegate::isVocabularyField(const QString& field) {
    return sameName(field, Status) || sameName(field, Difficulty) || sameName(field, Priority);
}

QStringList TaskGridDelegate::pickListOf(const QString& field) {
    if (sameName(field, Status))
        return StatusChoices();
    if (sameName(field, Difficulty))
        return GridDifficultyChoices();
    if (sameName(field, Priority))
        return GridPriorityChoices();
    return {};
}

void TaskGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const auto* model = qobject_cast<const TaskGridModel*>(index.model());
    if (!model) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The selected cell is the current cell, shown also while the grid has no focus.
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    const bool selected =
        view ? view->currentIndex() == index : option.state.testFlag(QStyle::State_Selected);
    const QColor window = option.palette.color(QPalette::Base);
    const GridColumn& column = model->columns()[static_cast<std::size_t>(index.column())];
    const CellLook look = DBGrid1DrawColumnCell(*model->table(), index.row(), column.title,
                                                selected, uGeneral::Today(), window);

    painter->save();
    painter->setClipRect(option.rect);
    if (look.progressBar) {
        // The bar sits on the cell's plain background, untouched by the row colours.
        painter->fillRect(option.rect,
                          selected ? option.palette.color(QPalette::Highlight) : window);
        PaintProgressBar(*painter, option.rect, look.progress, look.text, window, option.font);
    } else {
        painter->fillRect(option.rect, look.background);
        QFont font = option.font;
        font.setBold(look.style & StyleBold);
        font.setUnderline(look.style & StyleUnderline);
        font.setStrikeOut(look.style & StyleStrikeOut);
        painter->setFont(font);
        painter->setPen(look.text);
        const bool right = index.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight;
        const QRect area =
            right ? option.rect.adjusted(0, 2, -3, 0) : option.rect.adjusted(2, 2, 0, 0);
        painter->drawText(
            area, (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop | Qt::TextSingleLine,
            index.data(Qt::DisplayRole).toString());
    }
    painter->restore();
}

QWidget* TaskGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const {
    const auto* model = qobject_cast<const TaskGridModel*>(index.model());
    const QString field = model ? model->fieldName(index.column()) : QString();
    const bool category = sameName(field, Category);
    if (!isVocabularyField(field) && !category) {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (editor)
            editor->setFont(option.font);
        return editor;
    }
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QStringLiteral("PickList"));
    combo->setFont(option.font);
    combo->setEditable(category); // any category may be typed; the vocabularies only chosen
    if (category) {
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->lineEdit()->installEventFilter(const_cast<TaskGridDelegate*>(this));
    }
    combo->addItems(category ? m_categories : pickListOf(field));
    // Choosing an item writes it at once.
    connect(combo, &QComboBox::activated, this, &TaskGridDelegate::commitPick);
    return combo;
}

void TaskGridDelegate::commitPick() {
    if (auto* combo = qobject_cast<QComboBox*>(sender())) {
        emit commitData(combo);
        emit closeEditor(combo);
    }
}

void TaskGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        const QString value = index.data(Qt::EditRole).toString();
        combo->setCurrentIndex(combo->findText(value));
        if (combo->isEditable())
            combo->setEditText(value);
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void TaskGridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                    const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        // A value outside the pick list (from another window or an import) stays unless an
        // item is chosen.
        if (!combo->isEditable() && combo->currentIndex() < 0)
            return;
        model->setData(index, combo->currentText(), Qt::EditRole);
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

bool TaskGridDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return QStyledItemDelegate::eventFilter(object, event);
    // The Category box's text field reports for its box.
    auto* ownerCombo = qobject_cast<QComboBox*>(widget->parentWidget());
    const bool innerField = ownerCombo && ownerCombo->lineEdit() == widget;
    QWidget* editor = innerField ? ownerCombo : widget;

    if (event->type() == QEvent::ShortcutOverride) {
        // The context menu's shortcuts take their keys also while a cell is being edited.
        const auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (const QKeySequence& shortcut : m_editorShortcuts)
            if (shortcut == pressed) {
                event->ignore();
                return true;
            }
    } else if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F2 && key->modifiers() == Qt::NoModifier) {
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            return true;
        }
        auto* combo = qobject_cast<QComboBox*>(editor);
        if (combo && !combo->isEditable() && isTypedCharacter(key))
            return true;
    }
    if (innerField)
        return false;
    return QStyledItemDelegate::eventFilter(object, event);
}
