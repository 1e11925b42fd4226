#include "shell/Unit1.h"

#include "base/CorvantisError.h"
#include "base/TextLines.h"
#include "calendar/CalendarFile.h"
#include "dialogs/uAbout.h"
#include "dialogs/uFrmComments.h"
#include "dialogs/uFrmDeletedTasks.h"
#include "dialogs/uFrmDetails.h"
#include "dialogs/uFrmHistory.h"
#include "dialogs/uFrmProgress.h"
#include "dialogs/uFrmURL.h"
#include "dialogs/ufrmDateSelect.h"
#include "model/DataTable.h"
#include "model/TaskHistory.h"
#include "report/uQRptTasks.h"
#include "shell/ListRecovery.h"
#include "storage/DataPacket.h"
#include "storage/Import.h"
#include "storage/SaveFile.h"
#include "storage/uFrmBatchImport.h"
#include "storage/uFrmCategories.h"
#include "storage/ufrmReOpen.h"
#include "view/TaskUndo.h"
#include "view/TaskViewServices.h"
#include "view/uFrTasks.h"
#include "widgets/BusyCursor.h"
#include "widgets/DecorativeStrip.h"
#include "widgets/DesktopShell.h"
#include "widgets/ErrorBox.h"
#include "widgets/Icons.h"
#include "widgets/InterfaceFont.h"
#include "widgets/ProgramColours.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QUndoGroup>
#include <QUndoStack>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>

namespace {

const QString ProgramTitle = QStringLiteral("Corvantis");

// A menu entry that runs another action (a tool bar command), with that action's picture.
QAction* addMirror(QMenu* menu, const QString& text, const QString& name, QAction* target) {
    QAction* entry = menu->addAction(target->icon(), text);
    entry->setObjectName(name);
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

} // namespace

TfrmMain::TfrmMain(const QString& programFolder, QWidget* parent)
    : QMainWindow(parent), m_programFolder(programFolder), m_listFolder(programFolder) {
    setObjectName(QStringLiteral("frmMain"));
    m_recovery = new ListRecovery(RecoveryStore::DefaultRoot(), this);
    setWindowTitle(ProgramTitle);
    setFont(InterfaceFont::Font());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ProgramColours::ViewBackground);
    setPalette(pal);
    setAutoFillBackground(true);
    resize(1138, 622);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    buildActions();
    buildMenus();
    buildToolBar();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setCentralWidget(central);
    buildTabs();
    layout->addWidget(PageControl1, 1);
    layout->addStretch();
    buildFooter();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::CreateSecondaryWindows() {
    frmReOpen = new TfrmReOpen(m_programFolder, this);
    frmAbout = new TfrmAbout(this);
    frmProgress = new TfrmProgress(this);
    frmComments = new TfrmComments(this);
    frmDateSelect = new TfrmDateSelect(this);
    frmBatchImport = new TfrmBatchImport(this);
    frmCategories = new TfrmCategories(m_programFolder, this);
    frmDetails = new TfrmDetails(this);
    frmURL = new TfrmURL(this);
    frmHistory = new TfrmHistory(this);
    frmDeletedTasks = new TfrmDeletedTasks(this);
    QRptTasks = new TQRptTasks(this);
}

TaskViewServices TfrmMain::ViewServices() {
    TaskViewServices services;
    if (frmProgress)
        services.askProgress = [w = frmProgress](int start) { return w->AskApplied(start); };
    if (frmDateSelect)
        services.askDate = [w = frmDateSelect] { return w->Ask(); };
    if (frmComments)
        services.editComments = [w = frmComments](DataTable& table) { w->Execute(table); };
    if (frmDetails)
        services.showDetails = [w = frmDetails](DataTable& table) { return w->Execute(table); };
    if (frmURL)
        services.askUrl = [w = frmURL] { return w->Ask(); };
    services.openTaskList = [this](const QString& fileName) { OpenTaskList(fileName); };
    if (frmCategories)
        services.categoryLines = [w = frmCategories] { return w->Lines(); };
    if (frmHistory)
        services.showHistory = [w = frmHistory](const DataTable& table, DataTable::RowId row) {
            return w->Execute(table, row);
        };
    if (frmDeletedTasks)
        services.showDeletedTasks = [w = frmDeletedTasks](const DataTable& table) {
            return w->Execute(table);
        };
    return services;
}

// --- building the window ---------------------------------------------------------------------

QAction* TfrmMain::makeAction(const QString& name, const QString& text, const QString& icon) {
    auto* action = new QAction(ThemeIcon(icon), text, this);
    action->setObjectName(name);
    return action;
}

void TfrmMain::buildActions() {
    actNew =
        makeAction(QStringLiteral("actNew"), QStringLiteral("New"), QStringLiteral("document-new"));
    actOpen = makeAction(QStringLiteral("actOpen"), QStringLiteral("Open"),
                         QStringLiteral("document-open"));
    actReopen = makeAction(QStringLiteral("actReopen"), QStringLiteral("Reopen"),
                           QStringLiteral("document-open-recent"));
    actSave = makeAction(QStringLiteral("actSave"), QStringLiteral("Save"),
                         QStringLiteral("document-save"));
    actSaveAs = makeAction(QStringLiteral("actSaveAs"), QStringLiteral("Save As..."),
                           QStringLiteral("document-save-as"));
    actSaveAs->setIconText(QStringLiteral("Save As..."));
    actClose = makeAction(QStringLiteral("actClose"), QStringLiteral("Close List"),
                          QStringLiteral("document-close"));
    actExit = makeAction(QStringLiteral("actExit"), QStringLiteral("Exit"),
                         QStringLiteral("application-exit"));
    actExit->setShortcut(QKeySequence(Qt::Key_F10));
    actExit->setShortcutContext(Qt::ApplicationShortcut);
    actCloseAll = makeAction(QStringLiteral("CloseAll1"), QStringLiteral("Close All"),
                             QStringLiteral("window-close"));
    actPrint = makeAction(QStringLiteral("tbPrint"), QStringLiteral("Print"),
                          QStringLiteral("document-print"));
    actPrint->setToolTip(QStringLiteral("Print Document"));
    actImport = makeAction(QStringLiteral("tbImport"), QStringLiteral("Import Tasks"),
                           QStringLiteral("document-import"));
    actImport->setToolTip(QStringLiteral("Import Doc"));
    actBatchInsertTool = makeAction(QStringLiteral("ToolButton5"), QStringLiteral("Batch Insert"),
                                    QStringLiteral("view-task-add"));
    actBatchInsertMenu = makeAction(QStringLiteral("BatchInsert1"), QStringLiteral("Batch Insert"),
                                    QStringLiteral("view-task-add"));
    actCategories = makeAction(QStringLiteral("actCategories"), QStringLiteral("Categories"),
                               QStringLiteral("tag"));
    actAbout =
        makeAction(QStringLiteral("About1"), QStringLiteral("About"), QStringLiteral("help-about"));
    actDetailView = makeAction(QStringLiteral("DetailView1"), QStringLiteral("Detail View"),
                               QStringLiteral("document-properties"));
    actComments = makeAction(QStringLiteral("Comments1"), QStringLiteral("Comments"),
                             QStringLiteral("edit-comment"));
    actApplyFilter = makeAction(QStringLiteral("ApplyFilter1"), QStringLiteral("Apply Filter"),
                                QStringLiteral("edit-find"));
    actCancelFilter = makeAction(QStringLiteral("CancelFilter1"), QStringLiteral("Cancel Filter"),
                                 QStringLiteral("edit-clear"));

    actUndo =
        makeAction(QStringLiteral("actUndo"), QStringLiteral("Undo"), QStringLiteral("edit-undo"));
    actUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    actRedo =
        makeAction(QStringLiteral("actRedo"), QStringLiteral("Redo"), QStringLiteral("edit-redo"));
    actRedo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    actHistory = makeAction(QStringLiteral("actHistory"), QStringLiteral("History..."),
                            QStringLiteral("view-history"));
    actHistory->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    actDeletedTasks =
        makeAction(QStringLiteral("actDeletedTasks"), QStringLiteral("Show deleted tasks..."),
                   QStringLiteral("user-trash"));
    actSaveCopy =
        makeAction(QStringLiteral("actSaveCopy"), QStringLiteral("Save Copy Without History..."),
                   QStringLiteral("document-export"));
    actExportICal =
        makeAction(QStringLiteral("actExportICal"), QStringLiteral("Export to iCalendar..."),
                   QStringLiteral("x-office-calendar"));
    connectCommand(actExportICal, &TfrmMain::actExportICalExecute);
    // Undo and Redo follow the active list's history: its next step names them.
    m_undoGroup = new QUndoGroup(this);
    actUndo->setEnabled(false);
    actRedo->setEnabled(false);
    connect(m_undoGroup, &QUndoGroup::canUndoChanged, actUndo, &QAction::setEnabled);
    connect(m_undoGroup, &QUndoGroup::canRedoChanged, actRedo, &QAction::setEnabled);
    connect(m_undoGroup, &QUndoGroup::undoTextChanged, actUndo, [this](const QString& text) {
        actUndo->setText(text.isEmpty() ? QStringLiteral("Undo") : QStringLiteral("Undo ") + text);
    });
    connect(m_undoGroup, &QUndoGroup::redoTextChanged, actRedo, [this](const QString& text) {
        actRedo->setText(text.isEmpty() ? QStringLiteral("Redo") : QStringLiteral("Redo ") + text);
    });
    connectCommand(actUndo, &TfrmMain::actUndoExecute);
    connectCommand(actRedo, &TfrmMain::actRedoExecute);
    connectCommand(actHistory, &TfrmMain::actHistoryExecute);
    connectCommand(actDeletedTasks, &TfrmMain::actDeletedTasksExecute);
    connectCommand(actSaveCopy, &TfrmMain::actSaveCopyExecute);

    connectCommand(actNew, &TfrmMain::actNewExecute);
    connectCommand(actOpen, &TfrmMain::actOpenExecute);
    connectCommand(actReopen, &TfrmMain::actReopenExecute);
    connectCommand(actSave, &TfrmMain::actSaveExecute);
    connectCommand(actSaveAs, &TfrmMain::actSaveAsExecute);
    connectCommand(actClose, &TfrmMain::actCloseExecute);
    connectCommand(actExit, &TfrmMain::actExitExecute);
    connectCommand(actCloseAll, &TfrmMain::CloseAll1Click);
    connectCommand(actCategories, &TfrmMain::Categories1Click);

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

    QMenu* file = bar->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    file->addAction(actNew);
    file->addAction(actOpen);
    // The menu's Reopen, Close and Exit entries run the tool bar's commands.
    addMirror(file, QStringLiteral("Reopen"), QStringLiteral("Reopen1"), actReopen);
    file->addSeparator();
    file->addAction(actSave);
    file->addAction(actSaveAs);
    file->addAction(actSaveCopy);
    file->addAction(actExportICal);
    addMirror(file, QStringLiteral("Close"), QStringLiteral("Close1"), actClose);
    file->addAction(actCloseAll);
    file->addSeparator();
    addMirror(file, QStringLiteral("Print"), QStringLiteral("Print1"), actPrint);
    file->addSeparator();
    addMirror(file, QStringLiteral("Exit"), QStringLiteral("Exit1"), actExit);

    QMenu* edit = bar->addMenu(QStringLiteral("Edit"));
    edit->setObjectName(QStringLiteral("Edit1"));
    edit->addAction(actUndo);
    edit->addAction(actRedo);
    edit->addSeparator();
    edit->addAction(actDetailView);
    edit->addAction(actComments);
    edit->addSeparator();
    edit->addAction(actHistory);
    edit->addAction(actDeletedTasks);

    QMenu* search = bar->addMenu(QStringLiteral("Search"));
    search->setObjectName(QStringLiteral("Search1"));
    search->addAction(actApplyFilter);
    search->addAction(actCancelFilter);

    QMenu* options = bar->addMenu(QStringLiteral("Options"));
    options->setObjectName(QStringLiteral("Options1"));
    addMirror(options, QStringLiteral("Categories"), QStringLiteral("Categories1"), actCategories);

    QMenu* tools = bar->addMenu(QStringLiteral("Tools"));
    tools->setObjectName(QStringLiteral("Tools1"));
    addMirror(tools, QStringLiteral("Import"), QStringLiteral("Import1"), actImport);
    tools->addAction(actBatchInsertMenu);

    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help1"));
    help->addAction(actAbout);
}

void TfrmMain::buildToolBar() {
    m_toolBar = addToolBar(QStringLiteral("Main"));
    m_toolBar->setObjectName(QStringLiteral("ToolBar1"));
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
    m_toolBar->addSeparator();
    add(actExit, QStringLiteral("tbExit"));
}

void TfrmMain::buildTabs() {
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->tabBar()->setSelectionBehaviorOnRemove(QTabBar::SelectLeftTab);
    PageControl1->setDocumentMode(true);
    PageControl1->hide();
    // Only the user's choice of another tab (left button, keyboard) names the window; the tab
    // bar switches on nothing else, and the pages the program activates are let through quietly.
    // Undo and Redo follow every change of tab.
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        TfrTasks* view = viewAt(index);
        m_undoGroup->setActiveStack(view ? view->UndoHistory()->Stack() : nullptr);
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
    layout->addStretch();
    auto* address = new QLabel(TfrmAbout::WebAddress(), footer);
    address->setObjectName(QStringLiteral("lblWebAddress"));
    address->setEnabled(false);
    layout->addWidget(address);
    centralWidget()->layout()->addWidget(footer);
}

// --- finding the list ------------------------------------------------------------------------

// --- the one entry of the main window's commands -----------------------------------------------

bool TfrmMain::runCommand(const std::function<void()>& body) {
    return RunGuarded([&] {
        endCellEdits();
        body();
    });
}

void TfrmMain::connectCommand(QAction* action, void (TfrmMain::*handler)()) {
    connect(action, &QAction::triggered, this,
            [this, handler] { runCommand([&] { (this->*handler)(); }); });
}

void TfrmMain::endCellEdits() {
    for (int index = 0; index < PageControl1->count(); ++index)
        if (TfrTasks* view = viewAt(index))
            view->EndCellEdit();
}

TfrTasks* TfrmMain::viewAt(int index) const {
    QWidget* page = PageControl1->widget(index);
    return page ? page->findChild<TfrTasks*>(QStringLiteral("frTasks")) : nullptr;
}

TfrTasks* TfrmMain::ActiveTaskView() const {
    return viewAt(PageControl1->currentIndex());
}

TfrTasks* TfrmMain::requireActiveView() const {
    TfrTasks* view = ActiveTaskView();
    if (!view)
        RequireOpenList();
    return view;
}

void TfrmMain::RequireOpenList() {
    throw CorvantisError(QStringLiteral("Open or create a list first!"));
}

void TfrmMain::requireExistingFile(const QString& fileName) {
    // A name without a file would only build a tab with nothing in it.
    if (!QFileInfo::exists(fileName))
        throw CorvantisError(QStringLiteral("Cannot open file \"%1\". %2")
                                 .arg(QFileInfo(fileName).absoluteFilePath(),
                                      QString::fromLocal8Bit(std::strerror(ENOENT))));
}

TfrTasks* TfrmMain::addPage(const QString& name) {
    auto* page = new QWidget(PageControl1);
    PageControl1->addTab(page, ThemeIcon(QStringLiteral("application-x-corvantis-list")),
                         uGeneral::CaptionFromFileName(name));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new TfrTasks(page);
    view->SetServices(ViewServices());
    // The tab shows the view's caption, with its unsaved mark.
    connect(view, &TfrTasks::captionChanged, PageControl1, [this, page](const QString& caption) {
        const int index = PageControl1->indexOf(page);
        if (index >= 0)
            PageControl1->setTabText(index, caption);
    });
    view->SetCaption(uGeneral::CaptionFromFileName(name));
    m_undoGroup->addStack(view->UndoHistory()->Stack());
    if (PageControl1->currentWidget() == page) // the first tab was current before its view
        m_undoGroup->setActiveStack(view->UndoHistory()->Stack());
    layout->addWidget(view);
    view->show();
    return view;
}

void TfrmMain::AddListTab(const QString& name, bool isNew) {
    BusyCursor busy;
    const QScopedValueRollback<bool> quietly(m_activatingPage, true);
    TfrTasks* view = addPage(name);
    QWidget* page = view->parentWidget();
    m_recovery->Follow(view);
    try {
        view->InitList(name, isNew);
    } catch (...) {
        // A list that cannot be loaded gets no tab: a page without a table would only fail.
        closePage(PageControl1->indexOf(page));
        throw;
    }
    view->SetCategoryChoices(frmCategories ? frmCategories->Lines() : QStringList());
    PageControl1->setCurrentWidget(page);
    // The page just became visible: only now can its quick-add box take the focus.
    view->FocusQuickAdd();
}

void TfrmMain::RecoverLists() {
    const QList<RecoveryStore::Left> left = m_recovery->Store().TakeOver();
    int recovered = 0;
    QStringList setAside;
    for (const RecoveryStore::Left& copy : left) {
        BusyCursor busy;
        const QScopedValueRollback<bool> quietly(m_activatingPage, true);
        const QString name =
            copy.note.originalFile.isEmpty() ? QStringLiteral("New") : copy.note.originalFile;
        TfrTasks* view = addPage(name);
        QString failure;
        try {
            if (!copy.noteRead)
                throw CorvantisError(QStringLiteral("Its note is missing or unreadable."));
            view->InitRecovered(copy.copyFile, copy.note.originalFile, copy.note.isNew,
                                copy.note.original);
        } catch (const CorvantisError& error) {
            failure = error.message();
        }
        if (!failure.isEmpty()) {
            closePage(PageControl1->indexOf(view->parentWidget()));
            setAside << QStringLiteral("%1\n%2").arg(
                QDir::toNativeSeparators(m_recovery->Store().SetAside(copy)), failure);
            continue;
        }
        m_recovery->Follow(view, copy.id);
        view->SetCategoryChoices(frmCategories ? frmCategories->Lines() : QStringList());
        PageControl1->show();
        PageControl1->setCurrentWidget(view->parentWidget());
        ++recovered;
    }
    if (recovered > 0)
        Prompt::Notice(QStringLiteral("Corvantis did not end normally. Unsaved changes to %1 "
                                      "list(s) were recovered.")
                           .arg(recovered));
    for (const QString& copy : setAside)
        Prompt::Notice(
            QStringLiteral("A recovery copy could not be read. It was kept in\n%1").arg(copy));
}

void TfrmMain::OpenTaskList(const QString& fileName) {
    requireExistingFile(fileName);
    PageControl1->show();
    addTitledTab(QStringLiteral("Corvantis - "), fileName);
}

void TfrmMain::addTitledTab(const QString& titlePrefix, const QString& fileName) {
    // A list that fails to load leaves the title naming the list shown before.
    const QString before = windowTitle();
    setWindowTitle(titlePrefix + uGeneral::CaptionFromFileName(fileName));
    try {
        AddListTab(fileName, false);
    } catch (...) {
        setWindowTitle(before);
        throw;
    }
}

void TfrmMain::addRecent(const QString& fileName) {
    if (frmReOpen)
        frmReOpen->AddRecent(fileName);
}

// --- the file dialogs ------------------------------------------------------------------------

FileDialogRequest TfrmMain::OpenDialog1(const QString& folder) {
    FileDialogRequest request;
    request.filter = QStringLiteral("Corvantis File v1|*.cv1|All Files (*.*)|*.*");
    request.defaultExtension = QStringLiteral("cv1");
    request.directory = folder;
    return request;
}

FileDialogRequest TfrmMain::SaveDialog1() {
    FileDialogRequest request;
    request.filter = QStringLiteral("Corvantis|*.cv1|All Files (*.*)|*.*");
    request.defaultExtension = QStringLiteral("cv1");
    return request;
}

// --- commands --------------------------------------------------------------------------------

void TfrmMain::actNewExecute() {
    PageControl1->show();
    setWindowTitle(QStringLiteral("Corvantis - New"));
    AddListTab(QStringLiteral("New"), true);
}

void TfrmMain::actOpenExecute() {
    FileDialogRequest request = OpenDialog1(m_listFolder);
    request.parent = this;
    const QString fileName = Prompt::OpenFileName(request);
    if (fileName.isEmpty())
        return;
    OpenListFile(fileName);
}

void TfrmMain::OpenListFile(const QString& fileName) {
    requireExistingFile(fileName);
    PageControl1->show();
    addTitledTab(QStringLiteral("Corvantis - "), fileName);
    addRecent(fileName);
}

void TfrmMain::actReopenExecute() {
    if (!frmReOpen || frmReOpen->exec() != QDialog::Accepted)
        return;
    PageControl1->show();
    const QString fileName = frmReOpen->SelectedFile();
    if (fileName.trimmed().isEmpty())
        return;
    requireExistingFile(fileName);
    addTitledTab(QStringLiteral("Corvantis- "), fileName);
    addRecent(fileName);
}

bool TfrmMain::saveViewTo(TfrTasks* view, const QString& fileName, int options) {
    QString target = fileName;
    if (target.trimmed().isEmpty()) {
        FileDialogRequest request = SaveDialog1();
        request.parent = this;
        target = Prompt::SaveFileName(request);
        if (target.isEmpty())
            return false;
        if ((options & AskOverwrite) && QFileInfo::exists(target) &&
            !Prompt::Question(QStringLiteral("File already exists! Overwrite ?")))
            return false;
    }
    // The list's own file may have been changed by another program since it was read or saved.
    const bool ownFile = target == view->ListFileName();
    if (ownFile && view->FileOnDisk().changedOnDisk(target) &&
        !Prompt::Question(QStringLiteral("%1 was changed by another program since it was "
                                         "opened. Overwrite it with this list?")
                              .arg(QDir::toNativeSeparators(target))))
        return false;
    view->cdsTasks()->settle();
    DataPacket::SaveToFile(*view->cdsTasks(), target);
    addRecent(target);
    if ((options & KeepName))
        view->SetListFileName(target);
    if (ownFile || (options & KeepName))
        view->SetFileOnDisk(FileFingerprint::Of(target));
    view->MarkSaved();
    m_recovery->Saved(view);
    if ((options & KeepName))
        view->SetCaption(uGeneral::CaptionFromFileName(target));
    return true;
}

void TfrmMain::actSaveExecute() {
    TfrTasks* view = requireActiveView();
    saveViewTo(view, view->ListFileName(), KeepName | AskOverwrite);
}

void TfrmMain::actSaveAsExecute() {
    saveViewTo(requireActiveView(), QString(), KeepName | AskOverwrite);
}

void TfrmMain::closePage(int index) {
    const QScopedValueRollback<bool> quietly(m_activatingPage, true);
    if (TfrTasks* view = viewAt(index))
        m_recovery->Closing(view);
    QWidget* page = PageControl1->widget(index);
    PageControl1->removeTab(index);
    delete page;
}

void TfrmMain::actCloseExecute() {
    TfrTasks* view = requireActiveView();
    // Every unsaved list is asked about, not only new ones: closing must not drop work silently.
    if (view->Unsaved() && Prompt::Question(QStringLiteral("Save changes ?"))) {
        saveViewTo(view, view->ListFileName(), KeepName | AskOverwrite);
        return;
    }
    closePage(PageControl1->currentIndex());
}

void TfrmMain::CloseAll1Click() {
    // A list that was never saved has no file to go to: the save dialog asks for one.
    for (int index = PageControl1->count() - 1; index >= 0; --index) {
        TfrTasks* view = viewAt(index);
        if (view && view->Unsaved() && !saveViewTo(view, view->ListFileName(), PlainSave))
            return;
        closePage(index);
    }
}

// A file chosen here is written but not kept as the list's name (PlainSave).
bool TfrmMain::QuerySaveAll() {
    for (int index = 0; index < PageControl1->count(); ++index) {
        TfrTasks* view = viewAt(index);
        if (!view || !view->Unsaved())
            continue;
        if (!Prompt::Question(PageControl1->tabText(index) + QStringLiteral(" - Save changes ?")))
            continue;
        if (!saveViewTo(view, view->ListFileName(), PlainSave))
            return false;
    }
    return true;
}

void TfrmMain::actExitExecute() {
    if (!QuerySaveAll())
        return;
    m_exitConfirmed = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    // The close box asks the same questions as Exit, so unsaved work is never dropped silently.
    bool mayEnd = m_exitConfirmed;
    if (!mayEnd)
        runCommand([&] { mayEnd = QuerySaveAll(); });
    m_exitConfirmed = false;
    if (!mayEnd) {
        event->ignore();
        return;
    }
    if (frmReOpen)
        frmReOpen->WriteRecentAtExit();
    m_recovery->EndNormally();
    event->accept();
}

void TfrmMain::ExplorerPathClick() {
    if (TfrTasks* view = ActiveTaskView())
        DesktopShell::ExploreFolder(uGeneral::FolderPart(view->ListFileName()));
}

void TfrmMain::Categories1Click() {
    if (frmCategories)
        frmCategories->exec();
}

void TfrmMain::About1Click() {
    if (frmAbout)
        frmAbout->exec();
}

void TfrmMain::tbPrintClick() {
    TfrTasks* view = ActiveTaskView();
    if (!view || !QRptTasks)
        return;
    QRptTasks->Print(*view->cdsTasks(), PageControl1->tabText(PageControl1->currentIndex()), this);
}

void TfrmMain::tbImportClick() {
    TfrTasks* view = requireActiveView();
    FileDialogRequest request = OpenDialog1(m_listFolder);
    request.filter += QStringLiteral("|iCalendar|*.ics");
    request.parent = this;
    const QString fileName = Prompt::OpenFileName(request);
    if (fileName.isEmpty())
        return;
    const TaskUndo::Step step(*view->UndoHistory(), QStringLiteral("Import"));
    view->AddTasksInBulk([&](const DataTable::Progress& progress) {
        return Import::ImportTasks(*view->cdsTasks(), fileName, progress);
    });
}

void TfrmMain::BatchInsert1Click() {
    TfrTasks* view = ActiveTaskView();
    if (!view || !frmBatchImport)
        return;
    frmBatchImport->Execute([view](const QString& text) {
        const TaskUndo::Step step(*view->UndoHistory(), QStringLiteral("Batch Insert"));
        return view->AddTasksInBulk([&](const DataTable::Progress& progress) {
            return Import::BatchInsert(*view->cdsTasks(), text, progress);
        });
    });
}

void TfrmMain::ToolButton5Click() {
    requireActiveView();
    BatchInsert1Click();
}

// The Edit and Search menus act on the active list's view.
void TfrmMain::DetailView1Click() {
    requireActiveView()->Details1Click();
}

void TfrmMain::Comments1Click() {
    requireActiveView()->Comments1Click();
}

void TfrmMain::ApplyFilter1Click() {
    requireActiveView()->bnSearchClick();
}

void TfrmMain::CancelFilter1Click() {
    requireActiveView()->bnCancelFilterClick();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PageControl1->tabBar() && event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        const int index = PageControl1->tabBar()->tabAt(press->position().toPoint());
        if (press->button() == Qt::LeftButton && index >= 0 &&
            index != PageControl1->currentIndex() && !runCommand([] {}))
            return true; // a refused value keeps the user on the list that holds it
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::PageControl1Change(int index) {
    if (TfrTasks* view = viewAt(index))
        setWindowTitle(QStringLiteral("Corvantis - ") +
                       uGeneral::CaptionFromFileName(view->ListFileName()));
}

void TfrmMain::actUndoExecute() {
    requireActiveView()->Undo1Click();
}

void TfrmMain::actRedoExecute() {
    requireActiveView()->Redo1Click();
}

void TfrmMain::actHistoryExecute() {
    requireActiveView()->History1Click();
}

void TfrmMain::actDeletedTasksExecute() {
    requireActiveView()->DeletedTasks1Click();
}

// A copy for sharing: the list's current tasks as a list never edited. The open list keeps its
// file, its name and its saved state, and the copy is not one of the recent lists.
void TfrmMain::actSaveCopyExecute() {
    TfrTasks* view = requireActiveView();
    FileDialogRequest request = SaveDialog1();
    request.parent = this;
    const QString target = Prompt::SaveFileName(request);
    if (target.isEmpty())
        return;
    if (QFileInfo::exists(target) &&
        !Prompt::Question(QStringLiteral("File already exists! Overwrite ?")))
        return;
    DataTable* table = view->cdsTasks();
    table->settle();
    DataTable copy;
    copy.setObjectName(table->objectName());
    copy.adopt(TaskHistory::WithoutHistory(*table));
    DataPacket::SaveToFile(copy, target);
}

void TfrmMain::actExportICalExecute() {
    TfrTasks* view = requireActiveView();
    FileDialogRequest request;
    request.filter = QStringLiteral("iCalendar|*.ics|All Files (*.*)|*.*");
    request.defaultExtension = QStringLiteral("ics");
    request.parent = this;
    const QString target = Prompt::SaveFileName(request);
    if (target.isEmpty() || (QFileInfo::exists(target) &&
                             !Prompt::Question(QStringLiteral("File already exists! Overwrite ?"))))
        return;
    const BusyCursor busy;
    view->cdsTasks()->settle();
    // A saved list's file names it, so its tasks keep their UIDs from one export to the next.
    const QString list = view->ListFileName();
    SaveFile::Save(target,
                   CalendarFile::Write(*view->cdsTasks(),
                                       list.isEmpty() ? list : QFileInfo(list).absoluteFilePath()));
}
