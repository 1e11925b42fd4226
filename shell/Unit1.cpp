#include "shell/Unit1.h"

#include "base/CorvantisError.h"
#include "base/TextLines.h"
#include "dialogs/uAbout.h"
#include "dialogs/uFrmBatchImport.h"
#include "dialogs/uFrmCategories.h"
#include "dialogs/uFrmComments.h"
#include "dialogs/uFrmDeletedTasks.h"
#include "dialogs/uFrmDetails.h"
#include "dialogs/uFrmHistory.h"
#include "dialogs/uFrmParentTask.h"
#include "dialogs/uFrmProgress.h"
#include "dialogs/uFrmReminders.h"
#include "dialogs/uFrmRepeat.h"
#include "dialogs/uFrmURL.h"
#include "dialogs/ufrmDateSelect.h"
#include "dialogs/ufrmReOpen.h"
#include "document/ListRecovery.h"
#include "document/TaskUndo.h"
#include "model/DataTable.h"
#include "reminders/DesktopNotifier.h"
#include "reminders/ReminderStore.h"
#include "report/uQRptTasks.h"
#include "shell/MergeCenter.h"
#include "shell/ReminderCenter.h"
#include "shell/StartPage.h"
#include "shell/SyncCenter.h"
#include "storage/CategoryList.h"
#include "storage/CategorySettings.h"
#include "storage/Import.h"
#include "storage/RecentLists.h"
#include "view/TaskViewServices.h"
#include "view/uFrTasks.h"
#include "widgets/BusyCursor.h"
#include "widgets/DesktopShell.h"
#include "widgets/DialogParts.h"
#include "widgets/ElidedLabel.h"
#include "widgets/ErrorBox.h"
#include "widgets/Icons.h"
#include "widgets/InterfaceFont.h"
#include "widgets/ProgramColours.h"
#include "widgets/ScreenFit.h"
#include "widgets/SurfaceColours.h"
#include "widgets/TextBoxKeys.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>

namespace {
// How long after a list is opened its reminders are looked for: the user waits for the list, and
// on a large one indexing its due dates and noting a day's reminders take a good part of what
// reading it took.
constexpr int RemindAfterOpenMs = 500;
} // namespace

TfrmMain::TfrmMain(const QString& programFolder, QWidget* parent)
    : QMainWindow(parent), m_programFolder(programFolder), m_listFolder(programFolder) {
    setObjectName(QStringLiteral("frmMain"));
    m_recovery = new ListRecovery(RecoveryStore::defaultRoot(), this);
    connect(m_recovery, &ListRecovery::writeFailed, this, &TfrmMain::recoveryWriteFailed);
    m_merge = new MergeCenter(this);
    qApp->installEventFilter(new TextBoxKeys(this));
    setWindowTitle(QStringLiteral("Corvantis"));
    setFont(InterfaceFont::Font());
    SurfaceColours::Fix(*this, ProgramColours::ViewBackground);
    setAutoFillBackground(true);
    m_syncCenter = new SyncCenter(
        *this, [this](const std::function<void()>& body) { return runCommand(body); });
    resize(1138, 622);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    ScreenFit::KeepOnScreen(*this);

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
    buildStartPage(layout);
    layout->addStretch();
    buildFooter();
}

TfrmMain::~TfrmMain() {
    // The windows go before the stores they show.
    delete frmReOpen;
    delete frmCategories;
}

void TfrmMain::CreateSecondaryWindows() {
    m_recentLists = new RecentLists(m_programFolder, this);
    m_recentLists->LoadRecent();
    m_startPage->SetRecentLists(m_recentLists);
    frmReOpen = new TfrmReOpen(*m_recentLists, this);
    frmAbout = new TfrmAbout(this);
    frmProgress = new TfrmProgress(this);
    frmComments = new TfrmComments(this);
    frmDateSelect = new TfrmDateSelect(this);
    frmBatchImport = new TfrmBatchImport(this);
    m_categories = new CategoryList(m_programFolder, this);
    m_categories->load();
    frmCategories = new TfrmCategories(*m_categories, this);
    frmDetails = new TfrmDetails(this);
    frmURL = new TfrmURL(this);
    frmHistory = new TfrmHistory(this);
    frmDeletedTasks = new TfrmDeletedTasks(this);
    frmRepeat = new TfrmRepeat(this);
    frmDetails->SetRepeatWindow(frmRepeat);
    QRptTasks = new TQRptTasks(this);
    frmReminders = new TfrmReminders(this);
    m_reminders =
        new ReminderCenter(CategorySettings::FileName(m_programFolder),
                           ReminderStore::defaultRoot(), QDBusConnection::sessionBus(), this);
    m_reminders->setStatusMessage([this](const QString& text) { lblReminders->setFullText(text); });
    frmReminders->setServiceCheck([notifier = &m_reminders->notifier()](auto answer) {
        notifier->checkService(std::move(answer));
    });
    m_syncCenter->CreateSettingsWindow();
    frmParentTask = new TfrmParentTask(this);
}

TaskViewServices TfrmMain::ViewServices() {
    TaskViewServices services;
    if (frmProgress)
        services.askProgress = [w = frmProgress](int start) { return w->askApplied(start); };
    if (frmDateSelect)
        services.askDate = [w = frmDateSelect] { return w->ask(); };
    if (frmComments)
        services.editComments = [w = frmComments](DataTable& table) { w->execute(table); };
    if (frmDetails)
        services.showDetails = [w = frmDetails](DataTable& table) { return w->execute(table); };
    if (frmURL)
        services.askUrl = [w = frmURL] { return w->ask(); };
    services.openTaskList = [this](const QString& fileName) { OpenTaskList(fileName); };
    if (m_categories)
        services.categoryLines = [list = m_categories] { return list->lines(); };
    if (frmHistory)
        services.showHistory = [w = frmHistory](const DataTable& table, DataTable::RowId row) {
            return w->execute(table, row);
        };
    if (frmRepeat)
        services.askRepeat = [w = frmRepeat](const QString& properties, const QDate& due) {
            return w->ask(properties, due);
        };
    if (frmDeletedTasks)
        services.showDeletedTasks = [w = frmDeletedTasks](const DataTable& table) {
            return w->execute(table);
        };
    if (frmParentTask)
        services.askParent = [w = frmParentTask](const DataTable& table, DataTable::RowId row) {
            return w->execute(table, row);
        };
    return services;
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
    // A list's name shows as it is: no letter of it is a key.
    PageControl1->addTab(page, ThemeIcon(QStringLiteral("application-x-corvantis-list")),
                         DialogParts::Verbatim(uGeneral::CaptionFromFileName(name)));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new TfrTasks(page);
    view->SetServices(ViewServices());
    // The tab shows the view's caption, with its unsaved mark.
    connect(view, &TfrTasks::captionChanged, PageControl1, [this, page](const QString& caption) {
        const int index = PageControl1->indexOf(page);
        if (index >= 0)
            PageControl1->setTabText(index, DialogParts::Verbatim(caption));
    });
    view->SetCaption(uGeneral::CaptionFromFileName(name));
    if (PageControl1->currentWidget() == page) // the first tab was current before its view
        followUndo(view->UndoHistory());
    layout->addWidget(view);
    view->show();
    m_merge->Follow(view);
    return view;
}

void TfrmMain::AddListTab(const QString& name, bool isNew) {
    BusyCursor busy;
    const QScopedValueRollback<bool> quietly(m_activatingPage, true);
    TfrTasks* view = addPage(name);
    QWidget* page = view->parentWidget();
    m_recovery->follow(view->document());
    try {
        view->InitList(name, isNew);
    } catch (...) {
        // A list that cannot be loaded gets no tab: a page without a table would only fail.
        closePage(PageControl1->indexOf(page));
        throw;
    }
    view->SetCategoryChoices(m_categories ? m_categories->lines() : QStringList());
    QTimer::singleShot(RemindAfterOpenMs, view,
                       [this, view] { RunGuarded([&] { remindOf(view); }); });
    m_syncCenter->AddList(view);
    PageControl1->setCurrentWidget(page);
    // The page just became visible: only now can its quick-add box take the focus.
    view->FocusQuickAdd();
    if (!isNew)
        m_merge->Opened(view);
}

void TfrmMain::ExplorerPathClick() {
    if (TfrTasks* view = ActiveTaskView())
        DesktopShell::ExploreFolder(uGeneral::FolderPart(view->ListFileName()));
}

void TfrmMain::Reminders1Click() {
    if (!frmReminders || !m_reminders)
        return;
    if (const auto chosen = frmReminders->ask(m_reminders->options()))
        m_reminders->setOptions(*chosen);
}

void TfrmMain::StartReminders() {
    if (m_reminders)
        m_reminders->start();
}

void TfrmMain::remindOf(TfrTasks* view) {
    if (!m_reminders)
        return;
    ReminderCenter::List list;
    list.table = view->cdsTasks();
    list.caption = [view] {
        QString caption = view->Caption();
        if (caption.endsWith(QStringLiteral(" *")))
            caption.chop(2);
        return caption;
    };
    list.fileName = [view] {
        const QString file = view->ListFileName();
        return file.isEmpty() ? file : QFileInfo(file).absoluteFilePath();
    };
    const QPointer<TfrTasks> guarded(view);
    // The task a notification names may be hidden by a filter: the filter goes, so the command
    // acts on that task and on no other.
    const auto showRow = [guarded](DataTable::RowId row) {
        DataTable* table = guarded->cdsTasks();
        table->settle();
        if (table->positionOf(row) < 0 && table->currentVersionOf(row) >= 0)
            guarded->bnCancelFilterClick();
        table->goToRow(row);
        return table->positionOf(row) >= 0 && table->currentRow() == row;
    };
    list.completeTask = [this, guarded, showRow](DataTable::RowId row) {
        if (guarded)
            runCommand([&] {
                if (!showRow(row))
                    throw CorvantisError(QStringLiteral("The task is no longer in the list."));
                guarded->actCompleteExecute();
            });
    };
    list.showTask = [this, guarded, showRow](DataTable::RowId row) {
        if (!guarded)
            return;
        if (isMinimized())
            showNormal();
        raise();
        activateWindow();
        runCommand([&] {
            const int index = PageControl1->indexOf(guarded->parentWidget());
            if (index >= 0 && index != PageControl1->currentIndex())
                PageControl1->setCurrentIndex(index); // as the user's own choice of the tab
            if (row >= 0)
                showRow(row);
        });
    };
    m_reminders->addList(list);
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
    QRptTasks->print(*view->cdsTasks(), view->Caption(), this);
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
    frmBatchImport->execute([view](const QString& text) {
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

void TfrmMain::followUndo(TaskUndo* history) {
    disconnect(m_followedUndo);
    const auto show = [this, history] {
        actUndo->setEnabled(history && history->canUndo());
        actRedo->setEnabled(history && history->canRedo());
        const QString undo = history ? history->undoText() : QString();
        const QString redo = history ? history->redoText() : QString();
        actUndo->setText(undo.isEmpty() ? QStringLiteral("&Undo")
                                        : QStringLiteral("&Undo ") + undo);
        actRedo->setText(redo.isEmpty() ? QStringLiteral("&Redo")
                                        : QStringLiteral("&Redo ") + redo);
    };
    if (history)
        m_followedUndo = connect(history, &TaskUndo::stateChanged, this, show);
    show();
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