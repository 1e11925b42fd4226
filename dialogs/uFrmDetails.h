#pragma once

#include "model/RowData.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <vector>

class DataTable;
class FieldLink;
class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;
class TfrmRepeat;

// The Details window: every field of a list's current task, one per line, built afresh for the
// table's own fields at each opening. OK stores the task (a pending edit is posted); Cancel, Escape
// and the close box drop what was changed in the window.
class TfrmDetails : public QDialog {
    Q_OBJECT
public:
    explicit TfrmDetails(QWidget* parent = nullptr);
    ~TfrmDetails() override;

    // Details1Click: shows the table's current task, modally. On OK a pending edit of the table
    // is posted (a refusal of the post throws CorvantisError, the window being closed already);
    // otherwise what the window changed is undone. Returns whether it closed with OK.
    bool execute(DataTable& table);

    // Sets the table the controls are bound to (kept only as long as the table lives).
    void setTable(DataTable* table) { m_table = table; }
    DataTable* table() const { return m_table; }
    // Removes the controls of the previous build and builds one line per field of the table.
    void Rebuild();

    // "OK": writes every change still held by a control; a refused value keeps the window open.
    void btnOKClick();
    void btnCancelClick();
    // "Repeat...": the Repeat window over the task as the window holds it; what it sets is
    // written into the task (Cancel of this window takes it back like any other change).
    void btnRepeatClick();
    void SetRepeatWindow(TfrmRepeat* window);
    // How the task repeats and how often it was done, as the window's foot tells it.
    QString SeriesText() const;

    // Where the lines start and how far apart they are; the extra room below a memo.
    static constexpr int Margin = 30;
    static constexpr int LineStep = 20;
    static constexpr int MemoExtra = 76;

protected:
    void done(int result) override;

private:
    void revert();
    void reloadExcept(const FieldLink* except);
    void showSeries();

    QPointer<DataTable> m_table;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_fields = nullptr; // the scrolled page the controls are built on
    std::vector<FieldLink*> m_links;
    QPointer<TfrmRepeat> m_repeatWindow;
    QPushButton* btnRepeat = nullptr;
    QLabel* lblSeries = nullptr;
    // What the current task held when the window opened, for Cancel, and whether the table was
    // in editing already then (an unfinished grid edit that Cancel must keep).
    RowData m_original;
    bool m_wasEditing = false;
};
