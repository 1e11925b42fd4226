#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class DataTable;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPushButton;
class QTableView;
class RecentLists;

// The Reopen window: the recent-lists store in a read-only grid, with a filter, the Open and
// Cancel buttons and a popup menu to rename a list file, show its folder or drop its row. It is
// made once at start-up and keeps its filter, current row and SelectedFile from one showing to
// the next. Every closing writes Recent.XML.
class TfrmReOpen : public QDialog {
    Q_OBJECT
public:
    // Shows the store as loaded; a load error it kept (an unreadable Recent.XML, kept aside) is
    // shown in the error box.
    explicit TfrmReOpen(RecentLists& store, QWidget* parent = nullptr);
    ~TfrmReOpen() override;

    // Records a list file that was opened or saved. A failure is shown in a plain message box
    // ("Error saving to recent: " and the reason); the caller goes on.
    void AddRecent(const QString& fileName);
    // The file chosen by the last press of Open; read it after the window returned Accepted.
    QString SelectedFile() const { return m_selectedFile; }
    // At program end: writes Recent.XML when the table changed since it was last written.
    // False when that write failed.
    bool writeRecentAtExit();

    RecentLists& store() const { return *m_store; }
    DataTable& cdsFiles() const;

    // Whether a cell of the grid is drawn struck out: its row's file does not exist. Asked each
    // time the cell is painted.
    static bool cellStruckOut(const QModelIndex& index);

    void btnFilterClick();
    void btnOpenClick();
    void btnCancelClick();
    void Rename1Click();
    void ExplorerFolder1Click();
    void Remove1Click();

protected:
    void done(int result) override;

private:
    void buildGrid();
    void buildBottom();
    void syncViewToTable();

    RecentLists* m_store = nullptr;
    QString m_selectedFile;

    QTableView* DBGrid1 = nullptr;
    QMenu* pmGrid = nullptr;
    QAction* Rename1 = nullptr;
    QAction* ExplorerFolder1 = nullptr;
    QAction* Remove1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* edFilter = nullptr;
    QPushButton* btnFilter = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* btnCancel = nullptr;
};
