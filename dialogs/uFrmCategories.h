#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;

// The Categories window: the text box mCats holds the one live copy of the category list, one
// name per line. It is read from the settings file when the window is made and written back only
// by Save. Edits kept without Save stay in force for the rest of the run.
class TfrmCategories : public QDialog {
    Q_OBJECT
public:
    // programFolder: where the settings file Corvantis.ini lives.
    explicit TfrmCategories(const QString& programFolder, QWidget* parent = nullptr);

    // The category names as they stand in mCats now, saved or not, in list order.
    QStringList Lines() const;

    QString AppFolder() const { return m_appFolder; }
    QString SettingsFileName() const;

    void btnUpdateClick();
    void btnSaveClick();
    void btnCloseClick();
    void mCatsChange();

private:
    void setEditable(bool editable);

    QString m_appFolder; // ends in a path separator
    QPlainTextEdit* mCats = nullptr;
    QPushButton* btnUpdate = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnClose = nullptr;
};
