#pragma once

#include <QStringList>
#include <QWidget>

class DataTable;
class QComboBox;
class QLabel;
class QTableView;
class QTabWidget;
class TaskGridModel;

// The view of one open list: its task table, what shows it, and the document state of the list
// (its file, whether it has unsaved changes, whether it was made by New).
class TfrTasks : public QWidget {
    Q_OBJECT
public:
    explicit TfrTasks(QWidget* parent = nullptr);
    ~TfrTasks() override;

    DataTable* cdsTasks() const { return m_cdsTasks; }

    // Starts the view on an empty new list, or on the list file `name`.
    void InitList(const QString& name, bool isNew);
    void MarkUnsaved();
    void MarkSaved();

    QString ListFileName() const { return m_listFileName; }
    void SetListFileName(const QString& name) { m_listFileName = name; }
    bool Unsaved() const { return m_unsaved; }
    bool IsNew() const { return m_isNew; }
    QString SavedCaption() const { return m_savedCaption; }

    // The category names offered by the quick-add category box.
    void SetCategoryChoices(const QStringList& categories);
    QString StatusPanelText(int panel) const;

    // The table's notifications.
    void cdsTasksAfterInsert();
    void cdsTasksAfterEdit();
    void cdsTasksAfterScroll();

private:
    QTabWidget* tabStrip(int* pageIndex) const;
    void followCurrentRow();

    DataTable* m_cdsTasks;
    TaskGridModel* m_model;
    QTableView* DBGrid1;
    QComboBox* cbCat;
    QLabel* m_panels[2];

    QString m_listFileName;
    bool m_unsaved = false;
    bool m_isNew = false;
    QString m_savedCaption;
};
