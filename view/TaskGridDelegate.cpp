#include "view/TaskGridDelegate.h"

#include "model/DataTable.h"
#include "model/TaskRecord.h"
#include "view/CellLook.h"
#include "view/TaskGridModel.h"
#include "widgets/ProgramColours.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>

#include <algorithm>

using namespace TaskRecord;

namespace {

const QColor BarPen(128, 128, 128);
const QColor BarFill(105, 161, 227);

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

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

// A small triangle in the text's colour: pointing right on a collapsed task, down on an
// expanded one.
void paintExpander(QPainter& painter, const QRect& area, const QColor& colour, bool collapsed) {
    const QPointF centre = QRectF(area).center();
    const qreal half = 3.5;
    QPolygonF arrow;
    if (collapsed)
        arrow << centre + QPointF(-half / 2, -half) << centre + QPointF(half, 0)
              << centre + QPointF(-half / 2, half);
    else
        arrow << centre + QPointF(-half, -half / 2) << centre + QPointF(half, -half / 2)
              << centre + QPointF(0, half);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPolygon(arrow);
    painter.restore();
}

} // namespace

ProgressBarLayout LayOutProgressBar(const QRect& cell, int progress, const QFontMetrics& metrics) {
    const int left = cell.left();
    const int top = cell.top();
    const int width = cell.width();
    const double exact = double(progress) * width / 100.0;
    // A negative progress fills nothing; more than 100 fills the whole column.
    const int filled = exact > width ? width : (exact < 0 ? 0 : static_cast<int>(exact));
    // The bar keeps a pixel free above it and two below, whatever the row's height.
    const int bottom = top + std::max(cell.height() - 3, 2);

    ProgressBarLayout layout;
    layout.frame = QRect(QPoint(left + 1, top + 1), QPoint(left + width - 1, bottom));
    if (filled > 1)
        layout.filled = QRect(QPoint(left + 1, top + 1), QPoint(left + filled - 1, bottom));
    layout.text = QString::number(progress) + u'%';
    // Centred in the bar: the line's height split evenly above and below.
    const QRect inside = layout.frame.adjusted(1, 1, -1, -1);
    layout.textTopLeft = QPoint(left + width / 2 - metrics.horizontalAdvance(layout.text) / 2,
                                inside.top() + (inside.height() - metrics.height() + 1) / 2);
    return layout;
}

QFont ProgressBarFont(const QFont& gridFont, int cellHeight) {
    QFont font = gridFont;
    font.setPointSize(7);
    font.setBold(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    // The percentage fits inside the bar's frame: a smaller face in a low row.
    const int room = std::max(cellHeight - 5, 1);
    while (QFontMetrics(font).height() > room && font.pointSizeF() > 4)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    return font;
}

void PaintProgressBar(QPainter& painter, const QRect& cell, int progress, const QColor& textColour,
                      const QColor& window, const QFont& gridFont) {
    painter.save();
    painter.setFont(ProgressBarFont(gridFont, cell.height()));
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

int TaskGridDelegate::outlineIndent(const QModelIndex& index, const QRect& cell) {
    const QVariant depth = index.data(TaskGridModel::OutlineDepthRole);
    const auto* model = qobject_cast<const TaskGridModel*>(index.model());
    if (!depth.isValid() || !model || !model->table()->hasOutline())
        return 0;
    // However deep, some of the text stays in sight.
    const int room = std::max(cell.width() - 40, 0);
    return std::min(depth.toInt() * IndentStep + ExpanderWidth, room);
}

QRect TaskGridDelegate::expanderRect(const QModelIndex& index, const QRect& cell) {
    if (index.data(TaskGridModel::OutlineExpanderRole).toInt() == TaskGridModel::NoExpander)
        return QRect();
    const int indent = outlineIndent(index, cell);
    if (indent < ExpanderWidth)
        return QRect();
    return QRect(cell.left() + indent - ExpanderWidth + 1, cell.top(), ExpanderWidth,
                 cell.height());
}

void TaskGridDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                            const QModelIndex& index) const {
    QStyledItemDelegate::updateEditorGeometry(editor, option, index);
    if (const int indent = outlineIndent(index, option.rect))
        editor->setGeometry(editor->geometry().adjusted(indent, 0, 0, 0));
}

void TaskGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    // The selected cell is the current cell, shown also while the grid has no focus. The model
    // gives the look of a cell in both states; which one applies is the grid's to know.
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    const bool selected =
        view ? view->currentIndex() == index : option.state.testFlag(QStyle::State_Selected);
    auto look = [&](int plainRole, int selectedRole) {
        return index.data(selected ? selectedRole : plainRole);
    };
    const QColor window = option.palette.color(QPalette::Base);
    const QColor text =
        look(Qt::ForegroundRole, TaskGridModel::SelectedForegroundRole).value<QBrush>().color();
    const QVariant bar = index.data(TaskGridModel::ProgressBarRole);

    painter->save();
    painter->setClipRect(option.rect);
    QColor under = window;
    if (bar.isValid()) {
        // The bar sits on the cell's plain background, untouched by the row colours.
        if (selected)
            under = option.palette.color(QPalette::Highlight);
        painter->fillRect(option.rect, under);
        PaintProgressBar(*painter, option.rect, bar.toInt(), text, window, option.font);
    } else {
        const QVariant background = look(Qt::BackgroundRole, TaskGridModel::SelectedBackgroundRole);
        if (background.isValid())
            under = background.value<QBrush>().color();
        painter->fillRect(option.rect, under);
        painter->setFont(qvariant_cast<QFont>(look(Qt::FontRole, TaskGridModel::SelectedFontRole))
                             .resolve(option.font));
        painter->setPen(text);
        const bool right = index.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight;
        const int indent = outlineIndent(index, option.rect);
        const QRect area =
            right ? option.rect.adjusted(0, 2, -3, 0) : option.rect.adjusted(2 + indent, 2, 0, 0);
        const QRect expander = expanderRect(index, option.rect);
        if (!expander.isEmpty())
            paintExpander(*painter, expander, text,
                          index.data(TaskGridModel::OutlineExpanderRole).toInt() ==
                              TaskGridModel::Collapsed);
        painter->drawText(
            area, (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop | Qt::TextSingleLine,
            index.data(Qt::DisplayRole).toString());
    }
    // A paused or cancelled task keeps its colour in the current cell: a frame marks the cell.
    if (selected) {
        painter->setPen(IsLight(under) ? ProgramColours::SelectedCell : QColor(Qt::white));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

QWidget* TaskGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const {
    const auto* model = qobject_cast<const TaskGridModel*>(index.model());
    const QString field = model ? model->fieldName(index.column()) : QString();
    const bool category = sameName(field, Category);
    auto* self = const_cast<TaskGridDelegate*>(this); // the editors report to it
    // A text box takes no more characters than its field holds: none is cut off when stored.
    const auto holdOnly = [&](QLineEdit* line) {
        const DataTable* table = model ? model->table() : nullptr;
        const int f = table ? table->fieldIndex(field) : -1;
        if (f < 0)
            return;
        const FieldDef& def = table->fields()[static_cast<std::size_t>(f)];
        if (def.kind == FieldKind::String && def.width > 0)
            line->setMaxLength(def.width);
    };
    if (!isVocabularyField(field) && !category) {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (editor)
            editor->setFont(option.font);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            holdOnly(line);
            connect(line, &QLineEdit::textEdited, self,
                    [self, line] { emit self->typingStarted(line); });
        }
        return editor;
    }
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QStringLiteral("PickList"));
    combo->setFont(option.font);
    combo->setEditable(category); // any category may be typed; the vocabularies only chosen
    if (category) {
        combo->setInsertPolicy(QComboBox::NoInsert);
        holdOnly(combo->lineEdit());
        combo->lineEdit()->installEventFilter(self);
        connect(combo->lineEdit(), &QLineEdit::textEdited, self,
                [self, combo] { emit self->typingStarted(combo); });
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
    if (const std::optional<QString> text = editorText(editor))
        model->setData(index, *text, Qt::EditRole);
}

std::optional<QString> TaskGridDelegate::editorText(QWidget* editor) {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        // A value outside the pick list (from another window or an import) stays unless an
        // item is chosen.
        if (!combo->isEditable() && combo->currentIndex() < 0)
            return std::nullopt;
        return combo->currentText();
    }
    if (auto* line = qobject_cast<QLineEdit*>(editor))
        return line->text();
    return std::nullopt;
}

bool TaskGridDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return QStyledItemDelegate::eventFilter(object, event);
    // The Category box's text field reports for its box.
    auto* ownerCombo = qobject_cast<QComboBox*>(widget->parentWidget());
    const bool innerField = ownerCombo && ownerCombo->lineEdit() == widget;
    QWidget* editor = innerField ? ownerCombo : widget;

    if (event->type() == QEvent::FocusOut) {
        // A window opening over the grid (a question, an error box) or another program taking
        // the activation leaves the editor open with its text: the command that opened the
        // window ends the edit itself, and a refused value must stay there to be mended.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
            return false;
    } else if (event->type() == QEvent::ShortcutOverride) {
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
