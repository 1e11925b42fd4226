#pragma once

#include "widgets/Prompt.h"

#include <QMainWindow>

#include <functional>

class QAction;
class QBoxLayout;
class QMenu;
class QTabWidget;
class QToolBar;
class QToolButton;
class CategoryList;
class ListRecovery;
class MergeCenter;
class RecentLists;
class SyncCenter;
class StartPage;
class TaskUndo;
class TfrTasks;
class TfrmReOpen;
class TfrmCategories;
class TfrmAbout;
class TfrmProgress;
class TfrmComments;
class TfrmDateSelect;
class TfrmBatchImport;
class TfrmDetails;
class TfrmURL;
class TfrmHistory;
class TfrmRepeat;
class TfrmDeletedTasks;
class TfrmParentTask;
class TfrmReminders;
class ReminderCenter;
class QLabel;
class ElidedLabel;
class TQRptTasks;
struct TaskViewServices;

// The main window: menus, tool bar and one tab per open list. It keeps no list data itself;
// every list lives in the view on its tab.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // programFolder: where the settings file and the recent-lists store live.
    explicit TfrmMain(const QString& programFolder, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Creates every secondary window once, in start-up order.
    void CreateSecondaryWindows();
    // Begins reminding of due tasks, once the windows stand: each list is looked at as it opens.
    void StartReminders();
    ReminderCenter* Reminders() const { return m_reminders; }

    QString ProgramFolder() const { return m_programFolder; }
    // The folder the Open and Import dialogs show first: the program folder unless start-up
    // chose another (an installed program's folder holds no lists).
    QString ListFolder() const { return m_listFolder; }
    void SetListFolder(const QString& folder) { m_listFolder = folder; }
    QTabWidget* PageControl() const { return PageControl1; }
    TfrmReOpen* ReOpenWindow() const { return frmReOpen; }
    TfrmCategories* CategoriesWindow() const { return frmCategories; }
    TfrmBatchImport* BatchImportWindow() const { return frmBatchImport; }
    TQRptTasks* Report() const { return QRptTasks; }
    // What each view gets from the main window: the secondary windows and OpenTaskList.
    TaskViewServices ViewServices();

    // The view of the active page, or nullptr when no list is open.
    TfrTasks* ActiveTaskView() const;
    [[noreturn]] static void RequireOpenList();
    // Builds a page with a view for a list file (or "New") and makes it active.
    void AddListTab(const QString& name, bool isNew);
    // Opens, as unsaved tabs, the lists whose recovery copies a program that did not end
    // normally left, and says so once.
    void RecoverLists();
    ListRecovery& Recovery() { return *m_recovery; }
    // Open after its dialog: the list file in a new tab, recorded among the recent lists.
    void OpenListFile(const QString& fileName);
    // Makes the tab of the list file active when the file is open; false when it is not.
    bool ShowOpenList(const QString& fileName);
    // Opens a list file in a new tab without recording it among the recent lists.
    void OpenTaskList(const QString& fileName);
    // Asks about every unsaved list; false when the user abandoned the exit.
    bool QuerySaveAll();

    // Commands (each runs guarded: a failure is shown in the error box).
    void actNewExecute();
    void actOpenExecute();
    void actReopenExecute();
    void actSaveExecute();
    void actSaveAsExecute();
    // Merges another copy of the active list into it.
    void actMergeWithExecute();
    void actCloseExecute();
    void CloseAll1Click();
    void actExitExecute();
    void ExplorerPathClick();
    void Categories1Click();
    // Options > Reminders...: whether and when due tasks are reminded of.
    void Reminders1Click();
    void About1Click();
    void tbPrintClick();
    void tbImportClick();
    void BatchInsert1Click();
    void ToolButton5Click();
    void DetailView1Click();
    void Comments1Click();
    void ApplyFilter1Click();
    void CancelFilter1Click();
    void PageControl1Change(int index);
    // The active list's history: undo and redo, the Task History and Deleted Tasks windows, and
    // a copy of the list without its history.
    void actUndoExecute();
    void actRedoExecute();
    void actHistoryExecute();
    void actDeletedTasksExecute();
    void actSaveCopyExecute();
    // The active list's tasks as an iCalendar file of to-dos; the list is not changed.
    void actExportICalExecute();

    static FileDialogRequest OpenDialog1(const QString& folder);
    static FileDialogRequest SaveDialog1();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildActions();
    void buildMenus();
    void buildOutlineMenu(QMenu* edit);
    void buildToolBar();
    void buildTabs();
    void buildFooter();
    // What shows while no list is open.
    void buildStartPage(QBoxLayout* layout);
    QAction* makeAction(const QString& name, const QString& text, const QString& icon);
    // Every command of the main window runs through here: first each list's open cell editor
    // writes its text into its task, so a save, close, switch or print sees what was typed; a
    // value a task refuses is shown and stops the command. Then the body runs guarded.
    bool runCommand(const std::function<void()>& body);
    void connectCommand(QAction* action, void (TfrmMain::*handler)());
    void endCellEdits();
    // The reminders follow the list a view shows, from when it stands until its tab closes.
    void remindOf(TfrTasks* view);
    // Undo and Redo act on, and are named after, this history (none: disabled).
    void followUndo(TaskUndo* history);
    // How a save treats the file it writes to; options combine with |.
    enum SaveOption {
        PlainSave = 0,
        AskOverwrite = 1, // a chosen file that exists is written only after Yes (Save As)
        KeepName = 2,     // the file becomes the list's file and names its tab (Save, Save As)
    };
    // The one way a list is saved: writes the view's list to fileName, or to a file the save
    // dialog asks for when fileName is empty; records the file among the recent lists and
    // marks the list saved. False when the user cancelled.
    bool saveViewTo(TfrTasks* view, const QString& fileName, int options);
    // The view of the page at index; nullptr when there is none.
    TfrTasks* viewAt(int index) const;
    // The tab showing the list saved in this file; -1 when none.
    int tabOfFile(const QString& fileName) const;
    // The active view; with no list open, fails with "Open or create a list first!".
    TfrTasks* requireActiveView() const;
    void closePage(int index);
    // A page with a view for a list of that name (its tab caption), not yet started.
    TfrTasks* addPage(const QString& name);
    void addRecent(const QString& fileName);
    // Titles the window for a list file and builds its tab; the title stays as it was when the
    // list cannot be loaded.
    void addTitledTab(const QString& titlePrefix, const QString& fileName);
    void requireExistingFile(const QString& fileName);
    // Recovery copies cannot be written: the status bar says so, and a message once a session.
    void recoveryWriteFailed(const QString& folder, const QString& reason);

    QString m_programFolder;
    QString m_listFolder;
    bool m_exitConfirmed = false;
    bool m_activatingPage = false; // the program, not the user, is changing the active page
    ListRecovery* m_recovery = nullptr;
    bool m_recoveryFailureTold = false;
    MergeCenter* m_merge = nullptr;
    SyncCenter* m_syncCenter = nullptr; // the calendar sync of the open lists

    QTabWidget* PageControl1 = nullptr;
    QMenu* pmTabRightClick = nullptr;
    QToolBar* m_toolBar = nullptr;
    StartPage* m_startPage = nullptr;

    QAction* actNew = nullptr;
    QAction* actOpen = nullptr;
    QAction* actReopen = nullptr;
    QAction* actSave = nullptr;
    QAction* actSaveAs = nullptr;
    QAction* actMergeWith = nullptr;
    QAction* actClose = nullptr;
    QAction* actExit = nullptr;
    QAction* actCloseAll = nullptr;
    QAction* actPrint = nullptr;
    QAction* actImport = nullptr;
    QAction* actBatchInsertTool = nullptr;
    QAction* actBatchInsertMenu = nullptr;
    QAction* actCategories = nullptr;
    QAction* actAbout = nullptr;
    QAction* actDetailView = nullptr;
    QAction* actComments = nullptr;
    QAction* actApplyFilter = nullptr;
    QAction* actCancelFilter = nullptr;
    QAction* actUndo = nullptr;
    QAction* actRedo = nullptr;
    QAction* actHistory = nullptr;
    QAction* actDeletedTasks = nullptr;
    QAction* actSaveCopy = nullptr;
    // The active list's undo history drives Undo and Redo.
    QMetaObject::Connection m_followedUndo;
    QAction* actExportICal = nullptr;

    // The stores the Reopen and Categories windows show.
    RecentLists* m_recentLists = nullptr;
    CategoryList* m_categories = nullptr;
    TfrmReOpen* frmReOpen = nullptr;
    TfrmAbout* frmAbout = nullptr;
    TfrmProgress* frmProgress = nullptr;
    TfrmComments* frmComments = nullptr;
    TfrmDateSelect* frmDateSelect = nullptr;
    TfrmBatchImport* frmBatchImport = nullptr;
    TfrmCategories* frmCategories = nullptr;
    TfrmDetails* frmDetails = nullptr;
    TfrmURL* frmURL = nullptr;
    TfrmHistory* frmHistory = nullptr;
    TfrmRepeat* frmRepeat = nullptr;
    TfrmDeletedTasks* frmDeletedTasks = nullptr;
    TfrmParentTask* frmParentTask = nullptr;
    TfrmReminders* frmReminders = nullptr;
    ReminderCenter* m_reminders = nullptr;
    QAction* actReminders = nullptr;
    ElidedLabel* lblReminders = nullptr; // reminders shown without a notification service or tray
    TQRptTasks* QRptTasks = nullptr;
};
