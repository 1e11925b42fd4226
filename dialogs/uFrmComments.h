#pragma once

#include <QDialog>

class DataTable;
class FieldLink;
class QPlainTextEdit;

// The Comments window: one text box over the Comments field of a list's current task. The first
// change puts the table into editing; the text is written when the box loses the focus and before
// the table posts, which happens whenever the window closes, by whatever way.
class TfrmComments : public QDialog {
    Q_OBJECT
public:
    explicit TfrmComments(QWidget* parent = nullptr);

    // Comments1Click: binds the box to the table's Comments field, shows the window modally,
    // then writes the box's change and posts a pending edit. Throws CorvantisError when the
    // table has no Comments field (before showing) or refuses the post.
    void execute(DataTable& table);

    // Binds the box to the table (nullptr: to nothing) and shows the current task's comment.
    void setTable(DataTable* table);
    // Writes a change still held by the box into the field.
    void writeChange();

protected:
    void done(int result) override;

private:
    QPlainTextEdit* memComments = nullptr;
    FieldLink* m_link = nullptr;
};
