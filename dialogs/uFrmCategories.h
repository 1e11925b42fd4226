#pragma once

#include <QDialog>
#include <QStringList>

class CategoryList;
class QPlainTextEdit;
class QPushButton;

// The Categories window: the text box mCats shows the category list, one name per line, and
// every change typed into it goes to the list at once. Save writes the list to the settings file;
// edits kept without Save stay in force for the rest of the run.
class TfrmCategories : public QDialog {
    Q_OBJECT
public:
    // Shows the list as loaded; a load error it kept is shown in the error box.
    explicit TfrmCategories(CategoryList& categories, QWidget* parent = nullptr);

    // The program folder, ending in a path separator.
    QString AppFolder() const;

    void btnUpdateClick();
    void btnSaveClick();
    void btnCloseClick();
    void mCatsChange();

private:
    void setEditable(bool editable);
    // The lines of mCats: a final line break ends the last line; it starts no new one.
    QStringList shownLines() const;
    void showList();

    CategoryList* m_categories = nullptr;
    QPlainTextEdit* mCats = nullptr;
    QPushButton* btnUpdate = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnClose = nullptr;
};
