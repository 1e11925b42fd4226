#pragma once

#include <QDialog>

#include <functional>

class DataTable;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The Batch Import window: a text box of pasted lines, one task per line. Made once and kept,
// so its text survives from one use to the next: Cancel keeps it, a completed insert empties it.
class TfrmBatchImport : public QDialog {
    Q_OBJECT
public:
    explicit TfrmBatchImport(QWidget* parent = nullptr);

    // Shows the window modally. Save adds one task per line of the box to target (see
    // Import::BatchInsert) and then empties the box; any other close adds nothing and keeps the
    // text. Returns whether tasks were inserted. When a store fails the error is thrown and
    // the box keeps its whole text.
    bool execute(DataTable& target);
    // The same with the insert given: it gets the text and answers false when it was stopped,
    // which also keeps the text.
    bool execute(const std::function<bool(const QString& text)>& insert);

    QString text() const;

    void btnSaveClick();
    void btnCancelClick();

private:
    QLabel* Label1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnCancel = nullptr;
};
