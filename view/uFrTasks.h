#pragma once

#include "document/ListDocument.h"
#include "model/DataTable.h"
#include "view/TaskViewServices.h"
#include "widgets/Prompt.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class ChangedOnDiskBar;
class QAction;
class QButtonGroup;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPushButton;
class QTimer;
class QToolBar;
class QToolButton;
class TaskGrid;
class TaskGridDelegate;
class TaskGridModel;
class TaskUndo;

// The view of one open list: the grid that shows the list's task table, the bars around the grid
// (filter bar, task toolbar, quick-add bar, status bar), the links of its tasks, and the commands
// on them. The list itself (its table, file, saved state and undo history) is the view's
// document, which it owns and shows.
//
// The public handlers run guarded: a failure is shown in the error box and the program goes on.
// Every handler that acts on the table first ends the cell edit (EndCellEdit), so what the user
// typed reaches the task before the command runs.
class TfrTasks : public QWidget {
    Q_OBJECT
public:
    explicit TfrTasks(QWidget* parent = nullptr);
    ~TfrTasks() override;

    // The windows and main-window commands the view reaches out to. Until they are given, the
    // commands that need them do nothing.
    void SetServices(const TaskViewServices& services) { m_services = services; }

    ListDocument* document() const { return m_document; }
    DataTable* cdsTasks() const { return m_cdsTasks; }
    // The list's undo history for this run; it ends with the view.
    TaskUndo* UndoHistory() const { return m_undo; }

    // Starts the view on an empty new list, or on the list file `name` (nothing is read when no
    // such file exists).
    void InitList(const QString& name, bool isNew);
    // Starts the view on the recovery copy of a list that a program ending abnormally left
    // (ListDocument::loadRecovered).
    void InitRecovered(const QString& copyFile, const QString& originalFile, bool isNew,
                       const FileFingerprint& original);
    // Marks the list unsaved or saved (the document's marks; the status bar shows them).
    void MarkUnsaved() { m_document->markUnsaved(); }
    void MarkSaved() { m_document->markSaved(); }
    // Puts the focus into the quick-add box when the view can take it (it stands on the
    // active page of a shown window).
    void FocusQuickAdd();

    // The caption of the tab that shows the view, kept by the view and given to the tab through
    // captionChanged. A view never given a caption stands on no tab: the unsaved mark cannot be
    // shown.
    QString Caption() const { return m_document->caption(); }
    void SetCaption(const QString& caption) { m_document->setCaption(caption); }

    QString ListFileName() const { return m_document->fileName(); }
    bool Unsaved() const { return m_document->isUnsaved(); }
    bool IsNew() const { return m_document->isNew(); }

    // Writes the open cell editor's text into its task, as moving to another row does, and
    // closes the editor. A value the task refuses throws CorvantisError and leaves the editor
    // open with its text, so the command that asked stops and nothing is lost.
    void EndCellEdit();

    // The category names offered by the quick-add category box.
    void SetCategoryChoices(const QStringList& categories);
    QString StatusPanelText(int panel) const;

    // Runs a command that adds many tasks at once (import, batch insert) and hands the table
    // the progress to report to: the busy cursor while it runs, the status bar written once at
    // its end, and, when it runs long, a progress window whose Cancel leaves the list and its
    // saved state as they were (the command returns false then, and so does this).
    bool AddTasksInBulk(const std::function<bool(const DataTable::Progress&)>& command);

    // The table's notification of a move of the current row (the document hears the others).
    void cdsTasksAfterScroll();

    // --- the grid --------------------------------------------------------------------------
    // The field of the grid's selected column; empty when no cell is selected.
    QString SelectedField() const;
    void DBGrid1ColEnter();
    // A key went down in the grid; true when the view took it (the grid ignores it then).
    bool DBGrid1KeyDown(int key, Qt::KeyboardModifiers shift);
    // A character was typed into the grid; true when it is discarded.
    bool DBGrid1KeyPress(const QString& text);
    void DBGrid1DblClick();
    void DBGrid1TitleClick(int column);
    // The date picker's calendar closed; a day was chosen or the calendar was dismissed.
    void DateTimePicker1CloseUp(bool dayChosen);
    // A wheel turn anywhere in the view: one task up (positive) or down (negative). Always
    // handled, so nothing in the view scrolls by itself.
    bool FrameMouseWheel(int delta);

    // --- task commands (context menu, toolbar, main menu) ------------------------------------
    void actCancelExecute();
    void actPauseExecute();
    void acInProgressExecute();
    void actCompleteExecute();
    void actDeleteExecute();
    void acSetProgressExecute();
    void actSetDateExecute();
    void actBookmarkExecute();
    void ActLastNowExecute();
    void Copy1Click();
    void Comments1Click();
    void Details1Click();

    // --- the outline (uFrTasksOutline.cpp) ----------------------------------------------------
    // Each one step of the undo history. New Subtask opens the new task's Task cell for typing.
    void NewSubtask1Click();
    void MakeSubtaskOf1Click();
    void Indent1Click();
    void Outdent1Click();
    // The current task's subtasks shown or hidden; every task's.
    void Expand1Click();
    void Collapse1Click();
    void ExpandAll1Click();
    void CollapseAll1Click();
    // Shift+Enter in the quick-add box: the typed task goes under the current task.
    void QuickAddSubtaskClick();
    // --- tasks that repeat (uFrTasksRepeat.cpp) -------------------------------------------------
    // Complete (above) moves a repeating task on and names its next date in the status bar.
    // Skip moves it on without a done occurrence; Repeat shows the Repeat window over it.
    void SkipOccurrence1Click();
    void Repeat1Click();
    bool CurrentTaskRepeats() const;

    // --- the list's history --------------------------------------------------------------------
    // The Task History window for the current task; its restore is one edit of the task.
    void History1Click();
    // The Deleted Tasks window; each task restored is added back as a new task.
    void DeletedTasks1Click();
    // Takes back, or makes again, the latest step of the undo history.
    void Undo1Click();
    void Redo1Click();

    // --- links -------------------------------------------------------------------------------
    void LinktoFile1Click();
    void Link1Click();
    void ToolButton9Click();
    void LinktoURL1Click();
    void OpenRelatedFile1Click();
    void OpenURL1Click();
    void OpenLinkedTaskList1Click();
    // The two file dialogs of the links, starting in the folder their last use ended in.
    FileDialogRequest AllFilesDialog();
    FileDialogRequest ListFileDialog();

    // --- the bars ----------------------------------------------------------------------------
    void btnQuickAddClick();
    void Paste1Click();
    void bnSearchClick();
    void bnCancelFilterClick();
    void cbShowChange();
    void cbOrderChange();

    // --- the list's file changed on disk (uFrTasksDisk.cpp) ----------------------------------
    // The bar above the grid that offers to merge a change another program made to the file.
    ChangedOnDiskBar* DiskBar() const { return m_diskBar; }
    // Whether a change on disk may be taken in now: no cell editor or date picker is open and
    // no batch of tasks is being added.
    bool CanTakeDiskChange() const;
    // Runs a change of the whole list (read again, merged) keeping the current task (by its ID)
    // and the grid's scroll position.
    void KeepingPlace(const std::function<void()>& change);
    // Reads the list's file again (ListDocument::reload) keeping the place, and says so in the
    // status bar.
    void ReloadFromDisk();
    // A note beside the status panels, shown for a while.
    void ShowNote(const QString& text);
    QString NoteText() const;

signals:
    void captionChanged(const QString& caption);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildGrid();
    void buildFilterBar(QWidget* bar);
    void buildToolBar(QWidget* band);
    void buildQuickAddBar(QWidget* bar);
    void buildStatusBar(QWidget* bar);
    void buildPopupMenu();
    // The grid's expanders and the tasks dropped onto tasks.
    void buildOutline();
    bool expanderPressed(const QModelIndex& index, const QPoint& at);
    void tasksDropped(const std::vector<DataTable::RowId>& rows, DataTable::RowId onto);
    // The Task cell of the current task opened for typing.
    void editCurrentTask();

    // Runs a handler body guarded, after the open cell editor (if any) wrote its text; what it
    // stores is one step of the undo history, named undoText (else by what it changed).
    bool command(const std::function<void()>& body, const QString& undoText = QString());
    std::function<void()> markUnsaved() {
        return [this] { MarkUnsaved(); };
    }
    // The document's marks as the status bar and the tab show them.
    void listMarkedUnsaved();
    // Filters the events of a widget and of everything it holds, now and later.
    void watchTree(QObject* widget);
    void followCurrentRow();
    void fitIdColumn();
    void gridCurrentMoved(const QModelIndex& current, const QModelIndex& previous);
    void cellTypingStarted(QWidget* editor);
    // The saved state as the user sees it, to be put back when a Cancel undoes a change.
    struct DocumentMarks {
        ListDocument::Marks document;
        QString panels[2];
    };
    DocumentMarks documentMarks() const;
    void restoreDocumentMarks(const DocumentMarks& marks);
    bool gridKey(QKeyEvent* event);
    // Runs Undo or Redo, marking the list when it changed.
    void replayStep(bool redo);
    void callUpDatePicker();
    void linkField(const QString& field, const FileDialogRequest& request, QString* folder,
                   bool stampLastActioned);
    void openTrimmed(const QString& field, const std::function<void(const QString&)>& open);
    QStringList categoryLines() const;
    // The number of tasks shown; in a batch of added rows, written once at its end.
    void showItemCount();
    // The saved-state panel; in a batch of added rows, written once at its end.
    void setStatePanel(const QString& text);
    void showDeferredPanels();

    TaskViewServices m_services;
    ListDocument* m_document;
    DataTable* m_cdsTasks; // the document's table and undo history, for short
    TaskUndo* m_undo;
    TaskGridModel* m_model;
    TaskGridDelegate* m_delegate;
    TaskGrid* DBGrid1;
    QDateEdit* DateTimePicker1;
    QMenu* PopupMenu1;
    QLineEdit* edSearch;
    QToolButton* bnSearch;
    QToolButton* bnCancelFilter;
    QButtonGroup* m_filterButtons;
    QComboBox* cbShow;
    QComboBox* cbOrder;
    QToolBar* ToolBar1;
    QLineEdit* Edit2;
    QComboBox* cbDifficulty;
    QComboBox* cbPriority;
    QComboBox* cbCat;
    QPushButton* btnQuickAdd;
    QLabel* m_panels[2];
    QLabel* m_note;
    QTimer* m_noteTimer;
    ChangedOnDiskBar* m_diskBar;
    std::optional<QString> m_deferredState;

    QWidget* m_calendarPopup = nullptr;
    QStringList m_layoutFields;
    std::int64_t m_fittedCounter = -1; // the ID counter the ID column was last fitted to
    QString m_allFilesFolder;
    QString m_listFilesFolder;
    bool m_following = false;
    bool m_dayChosen = false;
    int m_lastColumn = 0;
};
