#pragma once

#include <QColor>
#include <QKeySequence>
#include <QPoint>
#include <QRect>
#include <QStringList>
#include <QStyledItemDelegate>

#include <optional>

class QFontMetrics;
class QPainter;

// Where the parts of a progress bar go in a cell. Rectangles follow the grid's drawing
// convention: right and bottom edges are not painted (so a width below 1 paints nothing).
struct ProgressBarLayout {
    QRect frame;  // left, top, right, bottom: (L+1, T+1, L+W, T+H-2)
    QRect filled; // (L+1, T+1, L+F, T+H-2); empty when F <= 1
    QString text; // "40%"
    QPoint textTopLeft;
};
ProgressBarLayout LayOutProgressBar(const QRect& cell, int progress, const QFontMetrics& metrics);

// The font of the bar's percentage text: the grid's family at 7 points, smaller where the
// cell is too low for it.
QFont ProgressBarFont(const QFont& gridFont, int cellHeight);

// Draws the bar over a cell already filled with its plain background.
void PaintProgressBar(QPainter& painter, const QRect& cell, int progress, const QColor& textColour,
                      const QColor& window, const QFont& gridFont);

// Paints the grid's cells in the colours and fonts their model gives, draws the progress bars,
// and gives the cells their editors: a pick list for Status, Difficulty and Priority (choosing
// writes at once; typed characters are discarded), the category list for Category (typing
// allowed), a text box elsewhere.
class TaskGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TaskGridDelegate(QObject* parent = nullptr);

    // The Category column's pick list, refilled each time the column is entered.
    void setCategoryPickList(const QStringList& lines) { m_categories = lines; }
    const QStringList& categoryPickList() const { return m_categories; }
    // Keys that stay with the view's shortcuts while a cell editor has the focus.
    void setEditorShortcuts(const QList<QKeySequence>& keys) { m_editorShortcuts = keys; }

    // Whether a field's values change in the grid only through its pick list.
    static bool isVocabularyField(const QString& field);
    // The fixed pick list of a field; empty when it has none.
    static QStringList pickListOf(const QString& field);

    // The Task cell of an outline: each level indents by IndentStep, and the expander of a task
    // with subtasks stands before its text.
    static constexpr int IndentStep = 14;
    static constexpr int ExpanderWidth = 12;
    // Where a cell's expander is drawn and clicked (empty: the cell has none).
    static QRect expanderRect(const QModelIndex& index, const QRect& cell);
    // How far a cell's text starts right of where it would stand in a flat list.
    static int outlineIndent(const QModelIndex& index, const QRect& cell);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    // The text an editor would write into its cell; none for a pick list with nothing chosen.
    static std::optional<QString> editorText(QWidget* editor);

signals:
    // The user changed the text of a cell editor for the first time: the edit has begun.
    void typingStarted(QWidget* editor);

protected:
    bool eventFilter(QObject* editor, QEvent* event) override;

private:
    void commitPick();

    QStringList m_categories;
    QList<QKeySequence> m_editorShortcuts;
};
