// The main window's actions, menu bar, tool bar, tab strip and footer.
#include "shell/Unit1.h"

#include "dialogs/uAbout.h"
#include "document/TaskUndo.h"
#include "shell/SyncCenter.h"
#include "view/uFrTasks.h"
#include "widgets/DecorativeStrip.h"
#include "widgets/ElidedLabel.h"
#include "widgets/Icons.h"
#include "widgets/ProgramColours.h"
#include "widgets/SurfaceColours.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

namespace {

// A menu entry that runs another action (a tool bar command), with that action's picture.
// It carries that action's keys, so the menu shows them and a screen reader tells them as keys,
// but they stay the action's own: the entry's only count while the menu bar itself has the focus
// (one key live for two actions at once would run neither).
QAction* addMirror(QMenu* menu, const QString& text, const QString& name, QAction* target) {
    QAction* entry = menu->addAction(target->icon(), text);
    entry->setObjectName(name);
    entry->setShortcuts(target->shortcuts());
    entry->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(entry, &QAction::triggered, target, &QAction::trigger);
    return entry;
}

// Keeps a tool button from showing its caption again as a hint when hovered.
class NoHint final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        return event->type() == QEvent::ToolTip || QObject::eventFilter(watched, event);
    }
};

// The desktop's keys for a standard command, the usual one first (added where the desktop has
// none).
QList<QKeySequence> standardKeys(QKeySequence::StandardKey command, const QKeySequence& usual) {
    QList<QKeySequence> keys = QKeySequence::keyBindings(command);
    keys.removeAll(usual);
    keys.prepend(usual);
    return keys;
}

} // namespace

QAction* TfrmMain::makeAction(const QString& name, const QString& text, const QString& icon) {
    auto* action = new QAction(ThemeIcon(icon), text, this);
    action->setObjectName(name);
    return action;
}

void TfrmMain::buildActions() {
    actNew = makeAction(QStringLiteral("actNew"), QStringLiteral("&New"),
                        QStringLiteral("document-new"));
    actOpen = makeAction(QStringLiteral("actOpen"), QStringLiteral("&Open"),
                         QStringLiteral("document-open"));
    actReopen = makeAction(QStringLiteral("actReopen"), QStringLiteral("Reopen"),
                           QStringLiteral("document-open-recent"));
    actSave = makeAction(QStringLiteral("actSave"), QStringLiteral("&Save"),
                         QStringLiteral("document-save"));
    actSaveAs = makeAction(QStringLiteral("actSaveAs"), QStringLiteral("Save &As..."),
                           QStringLiteral("document-save-as"));
    actSaveAs->setIconText(QStringLiteral("Save As..."));
    actMergeWith = makeAction(QStringLiteral("actMergeWith"), QStringLiteral("&Merge With..."),
                              QStringLiteral("merge"));
    actClose = makeAction(QStringLiteral("actClose"), QStringLiteral("Close List"),
                          QStringLiteral("document-close"));
    actExit = makeAction(QStringLiteral("actExit"), QStringLiteral("Exit"),
                         QStringLiteral("application-exit"));
    actExit->setShortcuts(QList<QKeySequence>{QKeySequence(Qt::Key_F10)} +
                          standardKeys(QKeySequence::Quit, Qt::CTRL | Qt::Key_Q));
    actExit->setShortcutContext(Qt::ApplicationShortcut);
    actCloseAll = makeAction(QStringLiteral("CloseAll1"), QStringLiteral("Close A&ll"),
                             QStringLiteral("window-close"));
    actPrint = makeAction(QStringLiteral("tbPrint"), QStringLiteral("Print"),
                          QStringLiteral("document-print"));
    actPrint->setToolTip(QStringLiteral("Print Document"));
    actImport = makeAction(QStringLiteral("tbImport"), QStringLiteral("Import Tasks"),
                           QStringLiteral("document-import"));
    actImport->setToolTip(QStringLiteral("Import Doc"));
    actBatchInsertTool = makeAction(QStringLiteral("ToolButton5"), QStringLiteral("Batch Insert"),
                                    QStringLiteral("view-task-add"));
    actBatchInsertMenu = makeAction(QStringLiteral("BatchInsert1"), QStringLiteral("&Batch Insert"),
                                    QStringLiteral("view-task-add"));
    actCategories = makeAction(QStringLiteral("actCategories"), QStringLiteral("Categories"),
                               QStringLiteral("tag"));
    actAbout = makeAction(QStringLiteral("About1"), QStringLiteral("&About"),
                          QStringLiteral("help-about"));
    actDetailView = makeAction(QStringLiteral("DetailView1"), QStringLiteral("&Detail View"),
                               QStringLiteral("document-properties"));
    actComments = makeAction(QStringLiteral("Comments1"), QStringLiteral("&Comments"),
                             QStringLiteral("edit-comment"));
    actApplyFilter = makeAction(QStringLiteral("ApplyFilter1"), QStringLiteral("&Apply Filter"),
                                QStringLiteral("edit-find"));
    actCancelFilter = makeAction(QStringLiteral("CancelFilter1"), QStringLiteral("&Cancel Filter"),
                                 QStringLiteral("edit-clear"));

    actUndo =
        makeAction(QStringLiteral("actUndo"), QStringLiteral("&Undo"), QStringLiteral("edit-undo"));
    actUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    actRedo =
        makeAction(QStringLiteral("actRedo"), QStringLiteral("&Redo"), QStringLiteral("edit-redo"));
    actRedo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    actHistory = makeAction(QStringLiteral("actHistory"), QStringLiteral("&History..."),
                            QStringLiteral("view-history"));
    actHistory->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    actDeletedTasks =
        makeAction(QStringLiteral("actDeletedTasks"), QStringLiteral("Show d&eleted tasks..."),
                   QStringLiteral("user-trash"));
    actSaveCopy =
        makeAction(QStringLiteral("actSaveCopy"), QStringLiteral("Save Copy &Without History..."),
                   QStringLiteral("document-export"));
    actExportICal =
        makeAction(QStringLiteral("actExportICal"), QStringLiteral("&Export to iCalendar..."),
                   QStringLiteral("x-office-calendar"));
    connectCommand(actExportICal, &TfrmMain::actExportICalExecute);
    // Undo and Redo follow the active list's history: its next step names them.
    followUndo(nullptr);
    connectCommand(actUndo, &TfrmMain::actUndoExecute);
    connectCommand(actRedo, &TfrmMain::actRedoExecute);
    connectCommand(actHistory, &TfrmMain::actHistoryExecute);
    connectCommand(actDeletedTasks, &TfrmMain::actDeletedTasksExecute);
    connectCommand(actSaveCopy, &TfrmMain::actSaveCopyExecute);

    // None of these is a key of the grid (Ctrl+F, Ctrl+U, Ctrl+C, Ctrl+H, Del, F12).
    actNew->setShortcuts(standardKeys(QKeySequence::New, Qt::CTRL | Qt::Key_N));
    actOpen->setShortcuts(standardKeys(QKeySequence::Open, Qt::CTRL | Qt::Key_O));
    actSave->setShortcuts(standardKeys(QKeySequence::Save, Qt::CTRL | Qt::Key_S));
    actSaveAs->setShortcuts(standardKeys(QKeySequence::SaveAs, Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    actClose->setShortcuts(standardKeys(QKeySequence::Close, Qt::CTRL | Qt::Key_W));
    actPrint->setShortcuts(standardKeys(QKeySequence::Print, Qt::CTRL | Qt::Key_P));

    connectCommand(actNew, &TfrmMain::actNewExecute);
    connectCommand(actOpen, &TfrmMain::actOpenExecute);
    connectCommand(actReopen, &TfrmMain::actReopenExecute);
    connectCommand(actSave, &TfrmMain::actSaveExecute);
    connectCommand(actSaveAs, &TfrmMain::actSaveAsExecute);
    connectCommand(actMergeWith, &TfrmMain::actMergeWithExecute);
    connectCommand(actClose, &TfrmMain::actCloseExecute);
    connectCommand(actExit, &TfrmMain::actExitExecute);
    connectCommand(actCloseAll, &TfrmMain::CloseAll1Click);
    connectCommand(actCategories, &TfrmMain::Categories1Click);
    actReminders = makeAction(QStringLiteral("actReminders"), QStringLiteral("Reminders..."),
                              QStringLiteral("appointment-new"));
    connectCommand(actReminders, &TfrmMain::Reminders1Click);

    connectCommand(actPrint, &TfrmMain::tbPrintClick);
    connectCommand(actImport, &TfrmMain::tbImportClick);
    connectCommand(actBatchInsertTool, &TfrmMain::ToolButton5Click);
    connectCommand(actBatchInsertMenu, &TfrmMain::BatchInsert1Click);
    connectCommand(actAbout, &TfrmMain::About1Click);
    connectCommand(actDetailView, &TfrmMain::DetailView1Click);
    connectCommand(actComments, &TfrmMain::Comments1Click);
    connectCommand(actApplyFilter, &TfrmMain::ApplyFilter1Click);
    connectCommand(actCancelFilter, &TfrmMain::CancelFilter1Click);
}

void TfrmMain::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    bar->setAccessibleName(QStringLiteral("Main menu"));
    SurfaceColours::FixWithButtons(*bar, ProgramColours::ViewBackground);

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    file->addAction(actNew);
    file->addAction(actOpen);
    // The menu's Reopen, Close and Exit entries run the tool bar's commands.
    addMirror(file, QStringLiteral("&Reopen"), QStringLiteral("Reopen1"), actReopen);
    file->addSeparator();
    file->addAction(actSave);
    file->addAction(actSaveAs);
    file->addAction(actMergeWith);
    file->addAction(actSaveCopy);
    file->addAction(actExportICal);
    addMirror(file, QStringLiteral("&Close"), QStringLiteral("Close1"), actClose);
    file->addAction(actCloseAll);
    file->addSeparator();
    file->addAction(m_syncCenter->SettingsAction());
    file->addAction(m_syncCenter->SyncAction());
    file->addSeparator();
    addMirror(file, QStringLiteral("&Print"), QStringLiteral("Print1"), actPrint);
    file->addSeparator();
    addMirror(file, QStringLiteral("E&xit"), QStringLiteral("Exit1"), actExit);

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("Edit1"));
    edit->addAction(actUndo);
    edit->addAction(actRedo);
    edit->addSeparator();
    edit->addAction(actDetailView);
    edit->addAction(actComments);
    edit->addSeparator();
    edit->addAction(actHistory);
    edit->addAction(actDeletedTasks);
    edit->addSeparator();
    buildOutlineMenu(edit);

    QMenu* search = bar->addMenu(QStringLiteral("&Search"));
    search->setObjectName(QStringLiteral("Search1"));
    search->addAction(actApplyFilter);
    search->addAction(actCancelFilter);

    QMenu* options = bar->addMenu(QStringLiteral("&Options"));
    options->setObjectName(QStringLiteral("Options1"));
    addMirror(options, QStringLiteral("&Categories"), QStringLiteral("Categories1"), actCategories);
    addMirror(options, QStringLiteral("&Reminders..."), QStringLiteral("Reminders1"), actReminders);

    QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("Tools1"));
    addMirror(tools, QStringLiteral("&Import"), QStringLiteral("Import1"), actImport);
    tools->addAction(actBatchInsertMenu);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    help->addAction(actAbout);
}

// The active list's outline commands. The keys are the grid's (shown here, taken there): one
// key for two actions would run neither.
void TfrmMain::buildOutlineMenu(QMenu* edit) {
    QMenu* outline = edit->addMenu(QStringLiteral("&Outline"));
    outline->setObjectName(QStringLiteral("Outline1"));
    struct Entry {
        const char* name;
        const char* text;
        const char* icon;
        void (TfrTasks::*handler)();
        QKeySequence key = {};
    };
    const Entry entries[] = {
        {"mnuNewSubtask", "New &Subtask", "list-add", &TfrTasks::NewSubtask1Click,
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N)},
        {"mnuMakeSubtaskOf", "&Make Subtask Of...", "go-jump", &TfrTasks::MakeSubtaskOf1Click},
        {"mnuIndent", "&Indent", "format-indent-more", &TfrTasks::Indent1Click,
         QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Right)},
        {"mnuOutdent", "O&utdent", "format-indent-less", &TfrTasks::Outdent1Click,
         QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Left)},
        {nullptr, nullptr, nullptr, nullptr},
        {"mnuExpand", "&Expand", "go-down", &TfrTasks::Expand1Click,
         QKeySequence(Qt::CTRL | Qt::Key_Right)},
        {"mnuCollapse", "&Collapse", "go-next", &TfrTasks::Collapse1Click,
         QKeySequence(Qt::CTRL | Qt::Key_Left)},
        {"mnuExpandAll", "Expand &All", "expand-all", &TfrTasks::ExpandAll1Click},
        {"mnuCollapseAll", "Collapse A&ll", "collapse-all", &TfrTasks::CollapseAll1Click},
    };
    for (const Entry& entry : entries) {
        if (!entry.name) {
            outline->addSeparator();
            continue;
        }
        const QString text = QString::fromLatin1(entry.text);
        const QString key = entry.key.toString(QKeySequence::NativeText);
        QAction* action = outline->addAction(ThemeIcon(QLatin1String(entry.icon)),
                                             key.isEmpty() ? text : text + u'\t' + key);
        action->setObjectName(QLatin1String(entry.name));
        const auto handler = entry.handler;
        connect(action, &QAction::triggered, this,
                [this, handler] { runCommand([&] { (requireActiveView()->*handler)(); }); });
    }
}

void TfrmMain::buildToolBar() {
    m_toolBar = addToolBar(QStringLiteral("Main"));
    m_toolBar->setObjectName(QStringLiteral("ToolBar1"));
    SurfaceColours::FixWithButtons(*m_toolBar, ProgramColours::ViewBackground);
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(32, 32));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    // Only Print and Import have hints; the other buttons' captions say it all.
    auto* noHint = new NoHint(m_toolBar);
    auto add = [this, noHint](QAction* action, const QString& buttonName) {
        m_toolBar->addAction(action);
        QWidget* button = m_toolBar->widgetForAction(action);
        if (!button)
            return;
        button->setObjectName(buttonName);
        if (action != actPrint && action != actImport)
            button->installEventFilter(noHint);
    };
    add(actNew, QStringLiteral("tbNew"));
    add(actOpen, QStringLiteral("tbOpen"));
    add(actReopen, QStringLiteral("tbReopen"));
    m_toolBar->addSeparator();
    add(actSave, QStringLiteral("tbSave"));
    add(actSaveAs, QStringLiteral("tbSaveAs"));
    m_toolBar->addSeparator();
    add(actClose, QStringLiteral("tbClose"));
    add(actPrint, QStringLiteral("tbPrintButton"));
    add(actImport, QStringLiteral("tbImportButton"));
    add(actBatchInsertTool, QStringLiteral("tbBatchInsert"));
    add(actCategories, QStringLiteral("tbCategories"));
    add(m_syncCenter->SyncAction(), QStringLiteral("tbSync"));
    m_toolBar->addSeparator();
    add(actExit, QStringLiteral("tbExit"));
}

void TfrmMain::buildTabs() {
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setAccessibleName(QStringLiteral("Open lists"));
    PageControl1->tabBar()->setSelectionBehaviorOnRemove(QTabBar::SelectLeftTab);
    PageControl1->setDocumentMode(true);
    SurfaceColours::FixWithButtons(*PageControl1->tabBar(), ProgramColours::ViewBackground);
    PageControl1->hide();
    // Only the user's choice of another tab (left button, keyboard) names the window; the tab
    // bar switches on nothing else, and the pages the program activates are let through quietly.
    // Undo and Redo follow every change of tab.
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        TfrTasks* view = viewAt(index);
        followUndo(view ? view->UndoHistory() : nullptr);
        if (!m_activatingPage)
            PageControl1Change(index);
    });
    // A click on another tab is a command too: the list being left ends its cell edit first.
    PageControl1->tabBar()->installEventFilter(this);

    pmTabRightClick = new QMenu(this);
    pmTabRightClick->setObjectName(QStringLiteral("pmTabRightClick"));
    addMirror(pmTabRightClick, QStringLiteral("Close Tab"), QStringLiteral("CloseTab1"), actClose);
    QAction* explorer = pmTabRightClick->addAction(
        ThemeIcon(QStringLiteral("document-open-folder")), QStringLiteral("Explorer Path"));
    explorer->setObjectName(QStringLiteral("ExplorerPath1"));
    connectCommand(explorer, &TfrmMain::ExplorerPathClick);
    PageControl1->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(PageControl1->tabBar(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) {
                pmTabRightClick->popup(PageControl1->tabBar()->mapToGlobal(at));
            });
}

void TfrmMain::buildFooter() {
    auto* footer = new DecorativeStrip(centralWidget(), DecorativeStrip::Shade::Soft);
    footer->setObjectName(QStringLiteral("pnlFooter"));
    footer->setFixedHeight(22);
    auto* layout = new QHBoxLayout(footer);
    layout->setContentsMargins(6, 0, 8, 0);
    // Reminders shown here can be many: one line as wide as the footer spares, each in its hint.
    lblReminders = new ElidedLabel(footer);
    lblReminders->setObjectName(QStringLiteral("lblReminders"));
    layout->addWidget(lblReminders);
    layout->addWidget(m_syncCenter->Footer());
    layout->addStretch();
    auto* address = new QLabel(TfrmAbout::webAddress(), footer);
    address->setObjectName(QStringLiteral("lblWebAddress"));
    layout->addWidget(address);
    centralWidget()->layout()->addWidget(footer);
}
